// Error family and COM boundary helpers.
#include "com/ErrorsUnit.h"

#include "com/ComSupportUnit.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <new>

using Microsoft::WRL::ComPtr;

namespace zorbex {

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
    try {
        throw;
    } catch (const TError& error) {
        info.Code = error.Code();
        try {
            info.Message = error.Text();
        } catch (...) {
        }
    } catch (const std::bad_alloc&) {
        info.Code = E_OUTOFMEMORY;
        info.Message = L"Out of memory";
    } catch (const std::exception& error) {
        try {
            const char* what = error.what();
            info.Message.assign(what, what + std::char_traits<char>::length(what));
        } catch (...) {
        }
    } catch (...) {
        info.Message = L"Unexpected error";
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

HRESULT HandleAutomationError(const std::wstring& source, const GUID& guid) noexcept {
    TErrorInfo info = CurrentErrorInfo();
    try {
        SetComErrorInfo(info.Message, source, guid);
    } catch (...) {
    }
    return FAILED(info.Code) ? info.Code : E_UNEXPECTED;
}

} // namespace zorbex
