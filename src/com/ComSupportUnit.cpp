// RAII owners for BSTR, VARIANT and SAFEARRAY: a construction that cannot get its memory or copy its
// value raises, a release never fails.
#include "com/ComSupportUnit.h"

#include "com/ErrorsUnit.h"

#include <objbase.h>

#include <iterator>
#include <new>

namespace zorbex {

TBStr::TBStr(std::wstring_view text) {
    if (!text.empty() || text.data()) {
        Value = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!Value)
            throw std::bad_alloc();
    }
}

TBStr& TBStr::operator=(TBStr&& other) noexcept {
    if (this != &other)
        Reset(other.Release());
    return *this;
}

void TBStr::Reset(BSTR value) {
    BSTR old = std::exchange(Value, value);
    if (old)
        ::SysFreeString(old);
}

BSTR* TBStr::Receive() {
    Reset();
    return &Value;
}

TVariant::TVariant(const VARIANT& source) {
    ::VariantInit(&Value);
    OleCheck(::VariantCopy(&Value, const_cast<VARIANT*>(&source)));
}

TVariant::TVariant(std::wstring_view text) {
    ::VariantInit(&Value);
    TBStr str(text);
    V_VT(&Value) = VT_BSTR;
    V_BSTR(&Value) = str.Release();
}

TVariant::TVariant(long number) {
    ::VariantInit(&Value);
    V_VT(&Value) = VT_I4;
    V_I4(&Value) = number;
}

TVariant::TVariant(IDispatch* object) {
    ::VariantInit(&Value);
    V_VT(&Value) = VT_DISPATCH;
    V_DISPATCH(&Value) = object;
    if (object)
        object->AddRef();
}

TVariant::TVariant(TVariant&& other) noexcept {
    Value = other.Release();
}

TVariant& TVariant::operator=(TVariant&& other) noexcept {
    if (this != &other) {
        Reset();
        Value = other.Release();
    }
    return *this;
}

TVariant TVariant::Omitted() {
    TVariant result;
    V_VT(&result.Value) = VT_ERROR;
    V_ERROR(&result.Value) = DISP_E_PARAMNOTFOUND;
    return result;
}

void TVariant::Reset() {
    ::VariantClear(&Value);
}

VARIANT TVariant::Release() {
    VARIANT result = Value;
    ::VariantInit(&Value);
    return result;
}

VARIANT* TVariant::Receive() {
    Reset();
    return &Value;
}

void TSafeArray::Reset(SAFEARRAY* array) {
    SAFEARRAY* old = std::exchange(Value, array);
    if (old)
        ::SafeArrayDestroy(old);
}

ULONG SafeArrayLength(SAFEARRAY* array) {
    if (!array || ::SafeArrayGetDim(array) != 1)
        return 0;
    LONG low = 0, high = -1;
    if (FAILED(::SafeArrayGetLBound(array, 1, &low)) || FAILED(::SafeArrayGetUBound(array, 1, &high)))
        return 0;
    return high >= low ? static_cast<ULONG>(high - low + 1) : 0;
}

std::wstring GuidToString(const GUID& guid) {
    wchar_t text[39]; // {8-4-4-4-12} and the terminator
    const int length = ::StringFromGUID2(guid, text, static_cast<int>(std::size(text)));
    return std::wstring(text, length > 0 ? static_cast<size_t>(length - 1) : 0);
}

} // namespace zorbex
