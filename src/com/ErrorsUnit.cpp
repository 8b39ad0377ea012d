// The library's errors and the handlers behind the boundary guards of ErrorsUnit.h. The handlers run
// inside a catch block and read the error being handled with CurrentErrorInfo, which classifies it
// once for all of them.
#include "com/ErrorsUnit.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <new>

#include "com/DiagnosticsUnit.h"
#include "com/FormatUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex {

TError::TError(std::wstring message, std::source_location where)
    : Message(std::move(message)), MessageUtf8(ToUtf8(Message)), RaisedAt(where) {}

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
    if (text.empty())
        text = L"OLE error " + HexText(static_cast<unsigned long>(code), 8);
    return text;
}

HRESULT OleCheck(HRESULT code, std::source_location where) {
    if (FAILED(code))
        RaiseComError(code, where);
    return code;
}

void RaiseError(std::wstring message, std::source_location where) {
    throw TError(std::move(message), where);
}

void RaiseComError(HRESULT code, std::source_location where) {
    throw TComError(code, SysErrorMessage(code), where);
}

TErrorInfo CurrentErrorInfo() noexcept {
    TErrorInfo info;
    // Copying a message may itself run out of memory: the code is kept and the message left empty.
    try {
        throw;
    } catch (const TError& error) {
        info.Code = error.Code();
        info.File = error.Where().file_name();
        info.Line = error.Where().line();
        detail::Quietly([&] { info.Message = error.Text(); });
    } catch (const std::bad_alloc&) {
        info.Code = E_OUTOFMEMORY;
        detail::Quietly([&] { info.Message = L"Out of memory"; });
    } catch (const std::exception& error) {
        detail::Quietly([&] {
            const char* what = error.what();
            info.Message.assign(what, what + std::char_traits<char>::length(what));
        });
    } catch (...) {
        detail::Quietly([&] { info.Message = L"Unexpected error"; });
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

HRESULT ReportedFailure(HRESULT failure, TErrorReport report, const std::source_location& site) noexcept {
    const TErrorInfo info = CurrentErrorInfo();
    TraceFailure(site, info, failure);
    if (report)
        Guarded([&] { report(info.Message); });
    return failure;
}

HRESULT ErrorCodeFailure(HRESULT fallback, const std::source_location& site) noexcept {
    const TErrorInfo info = CurrentErrorInfo();
    const HRESULT code = FAILED(info.Code) ? info.Code : fallback;
    TraceFailure(site, info, code);
    return code;
}

HRESULT AutomationFailure(const std::wstring& source, const GUID& iid, const std::source_location& site) noexcept {
    const TErrorInfo info = CurrentErrorInfo();
    const HRESULT code = FAILED(info.Code) ? info.Code : E_UNEXPECTED;
    TraceFailure(site, info, code);
    SetComErrorInfo(info.Message, source, iid);
    return code;
}

void DiscardedFailure(const std::source_location& site) noexcept {
    const TErrorInfo info = CurrentErrorInfo();
    TraceFailure(site, info, FAILED(info.Code) ? info.Code : E_UNEXPECTED);
}

HRESULT DispatchFailure(HRESULT failure, EXCEPINFO* exception, const std::source_location& site) noexcept {
    const TErrorInfo info = CurrentErrorInfo();
    TraceFailure(site, info, FAILED(info.Code) ? info.Code : failure);
    if (!exception)
        return failure;
    *exception = EXCEPINFO{};
    exception->bstrDescription = ::SysAllocStringLen(info.Message.data(), static_cast<UINT>(info.Message.size()));
    exception->scode = FAILED(info.Code) ? info.Code : failure;
    return DISP_E_EXCEPTION;
}

} // namespace detail

} // namespace zorbex
