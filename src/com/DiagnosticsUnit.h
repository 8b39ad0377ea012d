// The trace of failures the library swallows. Whatever a guard catches (a band method answering E_FAIL,
// a window procedure, the message hook, a server call, the load) is written as one line to the
// debugger output, so that "the toolbar stays grey" can be traced to its cause with a debug-output
// viewer (or, under Wine, WINEDEBUG=warn+seh). A line names the library, the operation that failed (the
// function the guard stands in), the HRESULT with its system text, the error's own message where it
// says more, and the source file and line that raised it:
//
//   ZorbexGUI: TServerWrapper::GetDocumentInfo failed: 0x800706BA The RPC server is unavailable. at src/server/ServerWrapperUnit.cpp:190
//
// A failure that repeats (the same operation, place and code) is written once, then at most once a
// second with the number of repeats since its last line; a count not yet written goes out before the
// thread's next line, when the thread ends and when the library is unloaded. Nothing is written on success
// paths.
#pragma once

#include <windows.h>

#include <source_location>
#include <string>

#include "com/ErrorsUnit.h"

namespace zorbex {

// Where the lines go: the debugger output unless replaced (tests catch the lines this way).
using TTraceSink = void (*)(const std::wstring& line);
// Sets the sink (nullptr: the debugger output again) and returns the one before.
TTraceSink SetTraceSink(TTraceSink sink) noexcept;

// The line of a failure caught at `site`, which the catcher turns into `code`.
void TraceFailure(const std::source_location& site, const TErrorInfo& error, HRESULT code) noexcept;

// Writes every count of repeats not yet written, of every thread (the library's unload).
void FlushTrace() noexcept;

} // namespace zorbex
