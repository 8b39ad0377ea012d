// The library's errors and the handlers behind the boundary guards of ErrorsUnit.h. The handlers run
// inside a catch block and read the error being handled with CurrentErrorInfo, which classifies it
// once for all of them.
#include "com/ErrorsUnit.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <new>

using Microsoft::WRL::ComPtr;

namespace zorbex {

TError::TError(std::wstring message) : Message(std::move(message)), MessageUtf8(ToUtf8(Message)) {}

std::string ToUtf8(std::wstring_view text) {
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

std::wstring SysErrorMessage(HRESULT code) {
    wchar_t* buffer = nullptr;
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                        FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                                    nullptr);
    std::wstring text;
    if (length && buffer) {
        text.assign(buffer, length);
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
            text.pop_back();
    }
    if (buffer)
        ::LocalFree(buffer);
    if (text.empty()) {
        wchar_t hex[32];
        std::swprintf(hex, 32, L"OLE error %08lX", static_cast<unsigned long>(code));
        text = hex;
    }
    return text;
}

HRESULT OleCheck(HRESULT code) {
    if (FAILED(code))
        RaiseComError(code);
    return code;
}

void RaiseError(std::wstring message) {
    throw TError(std::move(message));
}

void RaiseComError(HRESULT code) {
    throw TComError(code, SysErrorMessage(code));
}

TErrorInfo CurrentErrorInfo() noexcept {
    TErrorInfo info;
    // Copying a message may itself run out of memory: the code is kept and the message left empty.
    try {
        throw;
    } catch (const TError& error) {
        info.Code = error.Code();
        Guarded([&] { info.Message = error.Text(); });
    } catch (const std::bad_alloc&) {
        info.Code = E_OUTOFMEMORY;
        Guarded([&] { info.Message = L"Out of memory"; });
    } catch (const std::exception& error) {
        Guarded([&] {
            const char* what = error.what();
            info.Message.assign(what, what + std::char_traits<char>::length(what));
        });
    } catch (...) {
        Guarded([&] { info.Message = L"Unexpected error"; });
    }
    return info;
}

void SetComErrorInfo(const std::wstring& description, const std::wstring& source, const GUID& guid) noexcept {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(::CreateErrorInfo(&create)))
        return;
    create->SetGUID(guid);
    create->SetSource(const_cast<LPOLESTR>(source.c_str()));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    ComPtr<IErrorInfo> error;
    if (SUCCEEDED(create.As(&error)))
        ::SetErrorInfo(0, error.Get());
}

namespace detail {

HRESULT ReportedFailure(HRESULT failure, TErrorReport report) noexcept {
    if (report) {
        const TErrorInfo info = CurrentErrorInfo();
        Guarded([&] { report(info.Message); });
    }
    return failure;
}

HRESULT ErrorCodeFailure(HRESULT fallback) noexcept {
    const HRESULT code = CurrentErrorInfo().Code;
    return FAILED(code) ? code : fallback;
}

HRESULT AutomationFailure(const std::wstring& source, const GUID& iid) noexcept {
    const TErrorInfo info = CurrentErrorInfo();
    SetComErrorInfo(info.Message, source, iid);
    return FAILED(info.Code) ? info.Code : E_UNEXPECTED;
}

HRESULT DispatchFailure(HRESULT failure, EXCEPINFO* exception) noexcept {
    if (!exception)
        return failure;
    const TErrorInfo info = CurrentErrorInfo();
    *exception = EXCEPINFO{};
    exception->bstrDescription = ::SysAllocStringLen(info.Message.data(), static_cast<UINT>(info.Message.size()));
    exception->scode = FAILED(info.Code) ? info.Code : failure;
    return DISP_E_EXCEPTION;
}

} // namespace detail

} // namespace zorbex
