// The variants, strings and arrays of the reference Keptor server's calls.
#include "KeptorVariantsUnit.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "com/ErrorsUnit.h"

namespace zorbex::keptor {
namespace detail {

static_assert(sizeof(TVariant) == sizeof(VARIANT) && std::is_standard_layout_v<TVariant>,
              "a vector of TVariant is passed as an array of VARIANT");

std::wstring Str(BSTR text) {
    return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
}

VARIANT_BOOL Flag(bool value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

BSTR NewBStr(const std::wstring& text) {
    return TBStr(text).Release();
}

// Element VARTYPE of an array variant's array; VT_EMPTY when there is none.
VARTYPE ElementType(SAFEARRAY* array) {
    VARTYPE type = VT_EMPTY;
    if (!array || FAILED(::SafeArrayGetVartype(array, &type)))
        return VT_EMPTY;
    return type;
}

const VARIANT& Deref(const VARIANT& value) {
    if (V_VT(&value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&value))
        return *V_VARIANTREF(&value);
    return value;
}

SAFEARRAY* ArrayOf(const VARIANT& value) {
    if (!(V_VT(&value) & VT_ARRAY))
        return nullptr;
    return V_VT(&value) & VT_BYREF ? (V_ARRAYREF(&value) ? *V_ARRAYREF(&value) : nullptr) : V_ARRAY(&value);
}

std::vector<BYTE> BytesOf(const VARIANT& data) {
    SAFEARRAY* array = ArrayOf(Deref(data));
    std::vector<BYTE> bytes;
    if (ElementType(array) != VT_UI1)
        return bytes;
    ULONG length = SafeArrayLength(array);
    TSafeArrayAccess<BYTE> access(array);
    if (access && length)
        bytes.assign(access.Get(), access.Get() + length);
    return bytes;
}

// A variant array's elements as variants, in index order.
std::vector<TVariant> VariantElements(const VARIANT& value) {
    std::vector<TVariant> result;
    SAFEARRAY* array = ArrayOf(Deref(value));
    if (!array || ::SafeArrayGetDim(array) != 1)
        return result;
    VARTYPE type = ElementType(array);
    LONG low = 0;
    OleCheck(::SafeArrayGetLBound(array, 1, &low));
    ULONG length = SafeArrayLength(array);
    for (LONG i = low; i < low + static_cast<LONG>(length); ++i) {
        TVariant element;
        if (type == VT_VARIANT) {
            OleCheck(::SafeArrayGetElement(array, &i, element.Receive()));
        } else if (type == VT_BSTR) {
            TBStr text;
            OleCheck(::SafeArrayGetElement(array, &i, text.Receive()));
            element = TVariant(text.Str());
        } else if (type == VT_I4 || type == VT_INT) {
            LONG number = 0;
            OleCheck(::SafeArrayGetElement(array, &i, &number));
            element = TVariant(static_cast<long>(number));
        } else {
            RaiseComError(DISP_E_TYPEMISMATCH);
        }
        result.push_back(std::move(element));
    }
    return result;
}

// Whether a value has the form the library sends lists in: VT_ARRAY | VT_VARIANT, one dimension, bounds
// 0 to N-1, every element a VT_BSTR variant. count receives N when it does.
bool WellFormedList(const VARIANT& value, size_t& count) {
    if (V_VT(&value) != (VT_ARRAY | VT_VARIANT) || !V_ARRAY(&value))
        return false;
    SAFEARRAY* array = V_ARRAY(&value);
    LONG low = -1;
    if (::SafeArrayGetDim(array) != 1 || ElementType(array) != VT_VARIANT ||
        FAILED(::SafeArrayGetLBound(array, 1, &low)) || low != 0)
        return false;
    count = SafeArrayLength(array);
    TSafeArrayAccess<VARIANT> elements(array);
    if (count > 0 && !elements)
        return false;
    for (size_t i = 0; i < count; ++i)
        if (V_VT(&elements.Get()[i]) != VT_BSTR)
            return false;
    return true;
}

TVariant StringArray(const std::vector<std::wstring>& strings) {
    TSafeArray array(::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(strings.size())));
    if (!array.Get())
        RaiseComError(E_OUTOFMEMORY);
    for (LONG i = 0; i < static_cast<LONG>(strings.size()); ++i) {
        TVariant element(strings[static_cast<size_t>(i)]);
        OleCheck(::SafeArrayPutElement(array.Get(), &i, element.Ptr()));
    }
    TVariant result;
    V_VT(result.Ptr()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(result.Ptr()) = array.Release();
    return result;
}

std::vector<TVariant> DocumentDataArgs(long id, VARIANT_BOOL present, const std::wstring& comments, long status,
                                       long rating) {
    std::vector<TVariant> args;
    args.emplace_back(rating);
    args.emplace_back(status);
    args.emplace_back(comments);
    TVariant flag;
    V_VT(flag.Ptr()) = VT_BOOL;
    V_BOOL(flag.Ptr()) = present;
    args.push_back(std::move(flag));
    args.emplace_back(id);
    return args;
}

} // namespace detail

using namespace detail;

TVariant MakeByteArray(const std::vector<BYTE>& bytes) {
    TSafeArray array(::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size())));
    if (!array.Get())
        RaiseComError(E_OUTOFMEMORY);
    if (!bytes.empty()) {
        TSafeArrayAccess<BYTE> access(array.Get());
        if (!access)
            RaiseComError(E_UNEXPECTED);
        std::memcpy(access.Get(), bytes.data(), bytes.size());
    }
    TVariant result;
    V_VT(result.Ptr()) = VT_ARRAY | VT_UI1;
    V_ARRAY(result.Ptr()) = array.Release();
    return result;
}

std::vector<std::wstring> VariantStrings(const VARIANT& value) {
    std::vector<std::wstring> result;
    for (auto& element : VariantElements(value)) {
        TVariant text;
        if (SUCCEEDED(::VariantChangeType(text.Ptr(), const_cast<VARIANT*>(&element.Get()), 0, VT_BSTR)))
            result.push_back(Str(V_BSTR(&text.Get())));
        else
            result.push_back(L"");
    }
    return result;
}

std::wstring RenderVariant(const VARIANT& value) {
    if (V_VT(&value) & VT_BYREF) {
        if (V_VT(&value) == (VT_BYREF | VT_VARIANT))
            return V_VARIANTREF(&value) ? L"&" + RenderVariant(*V_VARIANTREF(&value)) : L"&nil";
        TVariant copy;
        if (FAILED(::VariantCopyInd(copy.Ptr(), const_cast<VARIANT*>(&value))))
            return L"&?";
        return L"&" + RenderVariant(copy.Get());
    }
    if (V_VT(&value) & VT_ARRAY) {
        SAFEARRAY* array = V_ARRAY(&value);
        if (ElementType(array) == VT_UI1)
            return L"bytes(" + std::to_wstring(SafeArrayLength(array)) + L")";
        std::wstring result = L"[";
        const bool read = Guarded([&] {
            bool first = true;
            for (auto& element : VariantElements(value)) {
                result += (first ? L"" : L", ") + RenderVariant(element.Get());
                first = false;
            }
        });
        return read ? result + L"]" : L"array(" + std::to_wstring(SafeArrayLength(array)) + L")";
    }
    switch (V_VT(&value)) {
    case VT_EMPTY:
        return L"empty";
    case VT_NULL:
        return L"null";
    case VT_BOOL:
        return V_BOOL(&value) ? L"true" : L"false";
    case VT_BSTR:
        return L"\"" + Str(V_BSTR(&value)) + L"\"";
    case VT_DISPATCH:
        return V_DISPATCH(&value) ? L"object" : L"nil";
    case VT_UNKNOWN:
        return V_UNKNOWN(&value) ? L"object" : L"nil";
    case VT_ERROR: {
        wchar_t text[24];
        std::swprintf(text, 24, L"error(0x%08lX)", static_cast<unsigned long>(V_ERROR(&value)));
        return text;
    }
    default: {
        TVariant text;
        if (FAILED(::VariantChangeType(text.Ptr(), const_cast<VARIANT*>(&value), 0, VT_BSTR)))
            return L"vt(" + std::to_wstring(V_VT(&value)) + L")";
        return Str(V_BSTR(&text.Get()));
    }
    }
}

} // namespace zorbex::keptor
