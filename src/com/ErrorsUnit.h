// The library's error family and the helpers that turn errors into HRESULTs at COM boundaries.
//
// Inside the library errors are exceptions: `TError` carries a message, `TComError` adds the
// HRESULT of a failed COM call. Every COM method body runs inside one of the guards below, which
// catch everything, so that no exception ever crosses into the caller.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

namespace zorbex {

class TError : public std::exception {
public:
    explicit TError(std::wstring message) : Message(std::move(message)) {}
    const std::wstring& Text() const { return Message; }
    const char* what() const noexcept override { return "zorbex error"; }
    virtual HRESULT Code() const { return S_OK; } // 0: not a COM error

private:
    std::wstring Message;
};

class TComError : public TError {
public:
    TComError(HRESULT code, std::wstring message) : TError(std::move(message)), Result(code) {}
    HRESULT Code() const override { return Result; }

private:
    HRESULT Result;
};

// The system's message text for an HRESULT ("Unspecified error", ...), or its hexadecimal value.
std::wstring SysErrorMessage(HRESULT code);

// Raises a `TComError` for a failure code; returns the code otherwise.
HRESULT OleCheck(HRESULT code);
[[noreturn]] void RaiseError(std::wstring message);
[[noreturn]] void RaiseComError(HRESULT code);

// What the current exception (inside a catch) says: its code (0 when it is not a COM error) and message.
struct TErrorInfo {
    HRESULT Code = S_OK;
    std::wstring Message;
};
TErrorInfo CurrentErrorInfo() noexcept;

// Fills the thread's COM error object.
void SetComErrorInfo(const std::wstring& description, const std::wstring& source, const GUID& guid) noexcept;

// Runs work and returns S_OK, or `failure` when anything was raised.
template <typename F> HRESULT GuardFail(HRESULT failure, F&& work) noexcept {
    try {
        work();
        return S_OK;
    } catch (...) {
        return failure;
    }
}

// Runs work that computes its own HRESULT; `failure` when anything was raised.
template <typename F> HRESULT GuardResult(HRESULT failure, F&& work) noexcept {
    try {
        return work();
    } catch (...) {
        return failure;
    }
}

// Automation methods: S_OK, or the error's own failure code (E_UNEXPECTED for anything that is not a
// COM error with a negative code), with the message in the thread's COM error object.
HRESULT HandleAutomationError(const std::wstring& source, const GUID& guid) noexcept;
template <typename F> HRESULT GuardAutomation(const std::wstring& source, const GUID& guid, F&& work) noexcept {
    try {
        work();
        return S_OK;
    } catch (...) {
        return HandleAutomationError(source, guid);
    }
}

// A stretch of work whose errors are caught and discarded; true when it ran to its end.
template <typename F> bool Guarded(F&& work) noexcept {
    try {
        work();
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace zorbex
