// What a long browser session keeps, per cycle: the session cycle of tests/support/SessionUnit.h (load,
// four objects, a band with its form, a screenshot, a failure inside, a second thread, unload) run again
// and again in one process, with the process's figures after a warm-up and then every so many cycles. The
// per-cycle figures are the growth since the warm-up divided by the cycles run; a library that keeps
// nothing shows 0 for all but the private memory, which a heap settling moves by a few bytes.
//
//   SoakBench.exe [DLL [CYCLES [EVERY]]]     DLL: a ZorbexGUI.dll to measure (default: the build's own, as
//                                           the tests find it); 1000 cycles, figures every 250
// Run under Wine: tools/winerun.sh <prefix> SoakBench.exe ...
#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/EnvironmentUnit.h"
#include "support/SessionUnit.h"

using namespace zorbex::test;

int wmain(int argc, wchar_t** argv) {
    const std::wstring dll = argc > 1 ? std::wstring(argv[1]) : DllPath();
    const int cycles = argc > 2 ? std::max(1, _wtoi(argv[2])) : 1000;
    const int every = argc > 3 ? std::max(1, _wtoi(argv[3])) : 250;
    if (FAILED(::OleInitialize(nullptr))) {
        std::fprintf(stderr, "no apartment\n");
        return 1;
    }
    std::string error;
    for (int cycle = 0; cycle < 10; ++cycle)
        if (!RunSessionCycle(dll, error)) {
            std::fprintf(stderr, "warm-up cycle %d: %s\n", cycle, error.c_str());
            return 1;
        }
    const TSessionFigures start = SessionFigures();
    std::printf("%8s %14s %14s %9s %8s %8s %8s %8s %8s\n", "cycles", "private KB", "B per cycle", "TLS slot",
                "handles", "GDI", "USER", "atoms", "threads");
    auto print = [&](int done, const TSessionFigures& now) {
        const double growth = static_cast<double>(now.PrivateCommitted) - static_cast<double>(start.PrivateCommitted);
        std::printf("%8d %14.0f %14.1f %9ld %8ld %8ld %8ld %8ld %8ld\n", done,
                    static_cast<double>(now.PrivateCommitted) / 1024.0, done ? growth / done : 0.0,
                    static_cast<long>(now.LowestFreeTlsSlot) - static_cast<long>(start.LowestFreeTlsSlot),
                    static_cast<long>((now.NextHandle - start.NextHandle) / 4), now.Gdi - start.Gdi,
                    now.User - start.User, static_cast<long>(now.NextClassAtom) - static_cast<long>(start.NextClassAtom),
                    static_cast<long>(now.Threads) - static_cast<long>(start.Threads));
        std::fflush(stdout);
    };
    print(0, start);
    const DWORD began = ::GetTickCount();
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        if (!RunSessionCycle(dll, error)) {
            std::fprintf(stderr, "cycle %d: %s\n", cycle, error.c_str());
            return 1;
        }
        if (cycle % every == 0 || cycle == cycles)
            print(cycle, SessionFigures());
    }
    std::printf("(TLS slot, handles, GDI, USER, atoms, threads: growth since the warm-up; %lu ms a cycle)\n",
                static_cast<unsigned long>((::GetTickCount() - began) / static_cast<DWORD>(cycles)));
    ::OleUninitialize();
    return 0;
}
