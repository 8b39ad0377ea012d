// The library's errors and the guards that stop them at COM boundaries.
//
// Inside the library an error is an exception: `TError` carries a message, `TComError` adds the
// HRESULT of a failed COM call. Nothing may leave a COM method, a window procedure or a hook, so
// every such body runs inside one guard of the family below. Each guard is named by what it makes
// of an error; they are the only places (with DllMain) that catch everything. A guarded body may
// return an HRESULT of its own or nothing (which is S_OK).
//
// Every error knows where it was raised, and every guard where it stands (both default to the caller's
// place in the source): a guard that catches an error writes one line of the failure to the debugger
// output (DiagnosticsUnit.h) before it makes its result.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <exception>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>

namespace zorbex {

class TError : public std::exception {
public:
    explicit TError(std::wstring message, std::source_location where = std::source_location::current());
    const std::wstring& Text() const { return Message; }
    // The place in the source that raised it.
    const std::source_location& Where() const { return RaisedAt; }
    // The message in UTF-8, so that whoever reports a std::exception (a test runner, a log) shows it.
    const char* what() const noexcept override { return MessageUtf8.c_str(); }
    virtual HRESULT Code() const { return S_OK; } // S_OK: not a COM error

private:
    std::wstring Message;
    std::string MessageUtf8;
    std::source_location RaisedAt;
};

class TComError : public TError {
public:
    TComError(HRESULT code, std::wstring message, std::source_location where = std::source_location::current())
        : TError(std::move(message), where), Result(code) {}
    HRESULT Code() const override { return Result; }

private:
    HRESULT Result;
};

// UTF-8 of a wide text (unpaired surrogates become U+FFFD).
std::string ToUtf8(std::wstring_view text);

// The system's message text for an HRESULT ("Unspecified error", ...), or its hexadecimal value.
std::wstring SysErrorMessage(HRESULT code);

// Raises a `TComError` for a failure code; returns the code otherwise. The error records the caller's place.
HRESULT OleCheck(HRESULT code, std::source_location where = std::source_location::current());
[[noreturn]] void RaiseError(std::wstring message, std::source_location where = std::source_location::current());
[[noreturn]] void RaiseComError(HRESULT code, std::source_location where = std::source_location::current());

// What the exception being handled says: its code (S_OK when it is not a COM error), message and the
// place that raised it (no file for errors that are not the library's own, such as std::bad_alloc).
// Only for use inside a catch block.
struct TErrorInfo {
    HRESULT Code = S_OK;
    std::wstring Message;
    const char* File = nullptr;
    unsigned Line = 0;
};
TErrorInfo CurrentErrorInfo() noexcept;

// Fills the thread's COM error object.
void SetComErrorInfo(const std::wstring& description, const std::wstring& source, const GUID& guid) noexcept;

// Shows or records an error's message (a message box, a log); may itself fail harmlessly.
using TErrorReport = void (*)(const std::wstring& message);

namespace detail {

template <typename F> HRESULT RunGuarded(F& work) {
    if constexpr (std::is_void_v<std::invoke_result_t<F&>>) {
        work();
        return S_OK;
    } else {
        return work();
    }
}

// The handlers of the guards: each runs inside the guard's catch block, traces the failure with the
// guard's place and never raises.
HRESULT ReportedFailure(HRESULT failure, TErrorReport report, const std::source_location& site) noexcept;
HRESULT ErrorCodeFailure(HRESULT fallback, const std::source_location& site) noexcept;
HRESULT AutomationFailure(const std::wstring& source, const GUID& iid, const std::source_location& site) noexcept;
HRESULT DispatchFailure(HRESULT failure, EXCEPINFO* exception, const std::source_location& site) noexcept;
void DiscardedFailure(const std::source_location& site) noexcept;

// Runs work and discards what it raises, without a trace: for the guards' own handlers and the trace,
// which must not call back into themselves.
template <typename F> void Quietly(F&& work) noexcept {
    try {
        work();
    } catch (...) {
    }
}

} // namespace detail

// A fixed failure: work's result, or `failure` when anything was raised (the message first going to
// `report`, when one is given). Band methods (E_FAIL), IDispatch plumbing, registration.
template <typename F>
HRESULT ResultOr(HRESULT failure, F&& work, TErrorReport report = nullptr,
                 std::source_location site = std::source_location::current()) noexcept {
    try {
        return detail::RunGuarded(work);
    } catch (...) {
        return detail::ReportedFailure(failure, report, site);
    }
}

// The error's own code: work's result, or the failure code the raised error carries (`fallback` for
// an error that carries none).
template <typename F>
HRESULT ErrorCodeOr(HRESULT fallback, F&& work, std::source_location site = std::source_location::current()) noexcept {
    try {
        return detail::RunGuarded(work);
    } catch (...) {
        return detail::ErrorCodeFailure(fallback, site);
    }
}

// Automation methods: work's result, or the error's own failure code (E_UNEXPECTED for an error that
// carries none) with its message in the thread's COM error object, under `source` and interface `iid`.
template <typename F>
HRESULT AutomationResult(const std::wstring& source, const GUID& iid, F&& work,
                         std::source_location site = std::source_location::current()) noexcept {
    try {
        return detail::RunGuarded(work);
    } catch (...) {
        return detail::AutomationFailure(source, iid, site);
    }
}

// Event sinks (IDispatch::Invoke): work's result; when anything was raised, DISP_E_EXCEPTION with the
// message in the caller's EXCEPINFO (its scode the error's own code or `failure`), or `failure` when
// the caller gave none.
template <typename F>
HRESULT DispatchResult(HRESULT failure, EXCEPINFO* exception, F&& work,
                       std::source_location site = std::source_location::current()) noexcept {
    try {
        return detail::RunGuarded(work);
    } catch (...) {
        return detail::DispatchFailure(failure, exception, site);
    }
}

// A stretch of work whose errors are discarded (and traced): true when it ran to its end.
template <typename F> bool Guarded(F&& work, std::source_location site = std::source_location::current()) noexcept {
    try {
        work();
        return true;
    } catch (...) {
        detail::DiscardedFailure(site);
        return false;
    }
}

// Runs `done` when it goes out of scope, however the scope is left.
template <typename F> class TAtScopeExit {
public:
    explicit TAtScopeExit(F done) : Done(std::move(done)) {}
    TAtScopeExit(const TAtScopeExit&) = delete;
    TAtScopeExit& operator=(const TAtScopeExit&) = delete;
    ~TAtScopeExit() { detail::Quietly(Done); }

private:
    F Done;
};

// Runs `undo` when it goes out of scope while an error is raised through it: the clean-up of a step that
// did not finish, such as a registration made before a call that failed.
template <typename F> class TUndoOnError {
public:
    explicit TUndoOnError(F undo) : Undo(std::move(undo)), Raised(std::uncaught_exceptions()) {}
    TUndoOnError(const TUndoOnError&) = delete;
    TUndoOnError& operator=(const TUndoOnError&) = delete;
    ~TUndoOnError() {
        if (std::uncaught_exceptions() > Raised)
            detail::Quietly(Undo);
    }

private:
    F Undo;
    int Raised;
};

} // namespace zorbex
