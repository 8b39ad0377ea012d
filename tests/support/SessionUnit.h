// A browser's long session in miniature, for the soak test and its benchmark: what one tab does with the
// library from its load to its unload, again and again, and what the process holds between the cycles.
// Free of any test framework (the benchmark links it too).
#pragma once

#include <windows.h>

#include <string>

namespace zorbex::test {

// What the process holds: each figure stays where it was when nothing is kept from one cycle to the next.
struct TSessionFigures {
    SIZE_T PrivateCommitted = 0; // bytes of private memory committed in the process (its address space walked)
    DWORD LowestFreeTlsSlot = 0; // a slot kept moves it up
    long Gdi = 0;
    long User = 0;
    ATOM NextClassAtom = 0;      // the atom a new window class gets: a class or atom kept moves it
    UINT_PTR NextHandle = 0;     // the value of the next handle: a handle kept moves it (Wine gives the lowest)
    DWORD Threads = 0;           // threads of the process
};
TSessionFigures SessionFigures();

// One cycle: loads the DLL at `dllPath`, makes its four objects through their factories, sites the main
// toolbar's band with its form and lets it handle its messages, takes a screenshot of a page for the
// in-process reference server, makes a call fail inside the library, does the same (without the band) on a
// second thread that then ends, releases everything, checks that DllCanUnloadNow says yes, and unloads.
// False, with the step that failed in `error`.
bool RunSessionCycle(const std::wstring& dllPath, std::string& error);

} // namespace zorbex::test
