// Late-bound access by member name.
#include "com/LateBindUnit.h"

#include "com/ErrorsUnit.h"

#include <vector>

using Microsoft::WRL::ComPtr;

namespace zorbex {
namespace {

DISPID MemberId(IDispatch* object, const wchar_t* name) {
    if (!object)
        RaiseComError(E_POINTER);
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    OleCheck(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    return id;
}

TVariant Invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT>& reversedArgs,
                DISPID* named, UINT namedCount) {
    const DISPID id = MemberId(object, name);
    DISPPARAMS params{reversedArgs.empty() ? nullptr : reversedArgs.data(), named,
                      static_cast<UINT>(reversedArgs.size()), namedCount};
    TVariant result;
    EXCEPINFO exception{};
    UINT argError = 0;
    HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                flags == DISPATCH_PROPERTYPUT ? nullptr : result.Receive(), &exception, &argError);
    TBStr source, description, helpFile; // owned from here on, whatever the result
    source.Reset(exception.bstrSource);
    description.Reset(exception.bstrDescription);
    helpFile.Reset(exception.bstrHelpFile);
    if (FAILED(hr)) {
        if (hr == DISP_E_EXCEPTION) {
            HRESULT code = exception.scode ? exception.scode : static_cast<HRESULT>(exception.wCode);
            if (FAILED(code))
                hr = code;
            if (description.Length())
                throw TComError(hr, description.Str());
        }
        RaiseComError(hr);
    }
    return result;
}

} // namespace

TVariant GetProperty(IDispatch* object, const wchar_t* name) {
    std::vector<VARIANT> none;
    return Invoke(object, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, none, nullptr, 0);
}

void PutProperty(IDispatch* object, const wchar_t* name, const VARIANT& value) {
    std::vector<VARIANT> args{value};
    DISPID putId = DISPID_PROPERTYPUT;
    Invoke(object, name, DISPATCH_PROPERTYPUT, args, &putId, 1);
}

TVariant CallMethod(IDispatch* object, const wchar_t* name, std::initializer_list<const VARIANT*> args) {
    std::vector<VARIANT> reversed;
    reversed.reserve(args.size());
    for (auto it = args.end(); it != args.begin();)
        reversed.push_back(**--it);
    return Invoke(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, reversed, nullptr, 0);
}

ComPtr<IDispatch> AsDispatch(const VARIANT& value) {
    VARIANT* target = const_cast<VARIANT*>(&value);
    if (V_VT(target) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(target))
        target = V_VARIANTREF(target);
    switch (V_VT(target)) {
    case VT_EMPTY:
    case VT_NULL:
        return nullptr;
    case VT_DISPATCH:
        return V_DISPATCH(target);
    case VT_DISPATCH | VT_BYREF:
        return V_DISPATCHREF(target) ? *V_DISPATCHREF(target) : nullptr;
    case VT_UNKNOWN: {
        ComPtr<IDispatch> dispatch;
        if (V_UNKNOWN(target))
            OleCheck(V_UNKNOWN(target)->QueryInterface(IID_PPV_ARGS(&dispatch)));
        return dispatch;
    }
    default:
        RaiseComError(DISP_E_TYPEMISMATCH);
    }
}

std::wstring AsString(const VARIANT& value) {
    TVariant text;
    OleCheck(::VariantChangeType(text.Ptr(), const_cast<VARIANT*>(&value), 0, VT_BSTR));
    const BSTR bstr = V_BSTR(text.Ptr());
    return bstr ? std::wstring(bstr, ::SysStringLen(bstr)) : std::wstring();
}

long AsInteger(const VARIANT& value) {
    TVariant number;
    OleCheck(::VariantChangeType(number.Ptr(), const_cast<VARIANT*>(&value), 0, VT_I4));
    return V_I4(number.Ptr());
}

bool AsBoolean(const VARIANT& value) {
    TVariant flag;
    OleCheck(::VariantChangeType(flag.Ptr(), const_cast<VARIANT*>(&value), 0, VT_BOOL));
    return V_BOOL(flag.Ptr()) != VARIANT_FALSE;
}

} // namespace zorbex
