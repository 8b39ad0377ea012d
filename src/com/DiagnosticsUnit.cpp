// The failure trace: one line per failure to the debugger output (or the sink a test sets), repeats
// folded into counts. The table of recent failures is per thread, as everything of the library's runs
// on the thread that made it: no lock is needed. A count not yet written goes out before the thread's next
// line of any kind, when the thread ends, and when the library is unloaded.
#include "com/DiagnosticsUnit.h"

#include <array>
#include <cstring>
#include <string_view>
#include <utility>

#include "com/FormatUnit.h"
#include "com/ThreadSlotUnit.h"

namespace zorbex {

namespace {

constexpr wchar_t kLibraryName[] = L"ZorbexGUI";
// A repeat is written again, with its count, once this much time has passed since the last line.
constexpr ULONGLONG kRepeatInterval = 1000;

TTraceSink Sink = nullptr;

void DebuggerOutput(const std::wstring& line) {
    ::OutputDebugStringW((line + L"\n").c_str());
}

// A failure seen lately: the guard's place and function, the raising place, the code and the message.
struct TRecentFailure {
    const char* Operation = nullptr;
    const char* File = nullptr;
    unsigned Line = 0;
    HRESULT Code = S_OK;
    std::wstring Message;
    ULONGLONG LastWritten = 0;
    unsigned long long Unwritten = 0; // repeats since the last line
    ULONGLONG LastSeen = 0;
};
using TRecentFailures = std::array<TRecentFailure, 16>;

void WriteCounts(TRecentFailures& table, const TRecentFailure* except = nullptr) noexcept;
void RetireTable(TRecentFailures& table) noexcept {
    WriteCounts(table);
}

constinit TThreadValues<TRecentFailures> RecentTables{&RetireTable};

std::wstring Widen(std::string_view text) {
    return std::wstring(text.begin(), text.end()); // source names and paths are ASCII
}

// "void zorbex::TIEBand::CloseDW(DWORD)::<lambda()>" -> "TIEBand::CloseDW"
std::wstring OperationName(const char* function) {
    std::string_view name(function ? function : "");
    name = name.substr(0, name.find('('));
    if (const size_t space = name.rfind(' '); space != std::string_view::npos)
        name.remove_prefix(space + 1);
    for (std::string_view prefix : {"zorbex::", "{anonymous}::"})
        while (name.substr(0, prefix.size()) == prefix)
            name.remove_prefix(prefix.size());
    return Widen(name.empty() ? std::string_view("(unknown)") : name);
}

// The path from the source tree's top: "src/ui/FormsUnit.cpp" whatever the build's own path.
std::wstring SourcePath(const char* file) {
    std::string_view path(file ? file : "");
    for (std::string_view top : {"/src/", "/tools/", "/tests/"})
        if (const size_t at = path.rfind(top); at != std::string_view::npos)
            return Widen(path.substr(at + 1));
    return Widen(path);
}

std::wstring FailureLine(const char* function, HRESULT code, const std::wstring& message, const char* file,
                         unsigned lineNumber) {
    const std::wstring system = SysErrorMessage(code);
    std::wstring line = FormatText(L"%s: %s failed: 0x%s %s",
                                   {kLibraryName, OperationName(function),
                                    HexText(static_cast<unsigned long>(code), 8), system});
    if (!message.empty() && message != system)
        line += FormatText(L" (%s)", {message});
    line += FormatText(L" at %s:%s", {SourcePath(file), DecimalText(lineNumber)});
    return line;
}

} // namespace

TTraceSink SetTraceSink(TTraceSink sink) noexcept {
    TTraceSink before = Sink;
    Sink = sink;
    return before;
}

void TraceFailure(const std::source_location& site, const TErrorInfo& error, HRESULT code) noexcept {
    detail::Quietly([&] {
        // The raising place; the guard's own for errors that are not the library's.
        const char* file = error.File ? error.File : site.file_name();
        const unsigned lineNumber = error.File ? error.Line : site.line();
        const ULONGLONG now = ::GetTickCount64();
        TRecentFailures* recentFailures = RecentTables.ThisThread();
        if (!recentFailures)
            return;
        TRecentFailure* entry = nullptr;
        TRecentFailure* oldest = &(*recentFailures)[0];
        for (TRecentFailure& recent : *recentFailures) {
            if (recent.Operation == site.function_name() && recent.File == file && recent.Line == lineNumber &&
                recent.Code == code) {
                entry = &recent;
                break;
            }
            if (recent.LastSeen < oldest->LastSeen)
                oldest = &recent;
        }
        if (entry) {
            entry->LastSeen = now;
            ++entry->Unwritten;
            if (now - entry->LastWritten < kRepeatInterval)
                return;
        }
        // Counts of the other failures first: each line says what came before it.
        WriteCounts(*recentFailures, entry);
        if (entry) {
            WriteCounts(*recentFailures);
            return;
        }
        // The oldest entry makes way (its count, if any, is written above).
        *oldest = TRecentFailure{site.function_name(), file, lineNumber, code, {}, now, 0, now};
        (Sink ? Sink : DebuggerOutput)(FailureLine(site.function_name(), code, error.Message, file, lineNumber));
        oldest->Message = error.Message; // kept for the line of its repeats; a failure to keep it loses only that
    });
}

void FlushTrace() noexcept {
    RecentTables.ForEach([](TRecentFailures& table) { WriteCounts(table); });
}

namespace {

void WriteCounts(TRecentFailures& table, const TRecentFailure* except) noexcept {
    const ULONGLONG now = ::GetTickCount64();
    for (TRecentFailure& recent : table) {
        if (&recent == except || recent.Unwritten == 0)
            continue;
        const unsigned long long count = std::exchange(recent.Unwritten, 0);
        recent.LastWritten = now;
        detail::Quietly([&] {
            (Sink ? Sink : DebuggerOutput)(
                FailureLine(recent.Operation, recent.Code, recent.Message, recent.File, recent.Line) +
                FormatText(L" (%s more since the last line)", {DecimalText(static_cast<int64_t>(count))}));
        });
    }
}

} // namespace

} // namespace zorbex
