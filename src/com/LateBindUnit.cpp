// Late-bound access by member name: the identifier cache of TMemberIds with its fallback for objects
// that refuse a cached identifier, and the one-off calls, which are a cache used once.
#include "com/LateBindUnit.h"

#include "com/ErrorsUnit.h"

#include <cwchar>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace zorbex {
namespace {

HRESULT LookUp(IDispatch* object, const wchar_t* name, DISPID& id) {
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    id = DISPID_UNKNOWN;
    return object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
}

// One Invoke; the exception information is owned (and freed) here. DISP_E_EXCEPTION becomes the
// exception's own code, with its description when there is one.
HRESULT InvokeId(IDispatch* object, DISPID id, WORD flags, DISPPARAMS& params, TVariant& result,
                 std::wstring& description) {
    EXCEPINFO exception{};
    UINT argError = 0;
    HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                flags == DISPATCH_PROPERTYPUT ? nullptr : result.Receive(), &exception, &argError);
    TBStr source, text, helpFile; // owned from here on, whatever the result
    source.Reset(exception.bstrSource);
    text.Reset(exception.bstrDescription);
    helpFile.Reset(exception.bstrHelpFile);
    if (hr == DISP_E_EXCEPTION) {
        const HRESULT code = exception.scode ? exception.scode : static_cast<HRESULT>(exception.wCode);
        if (FAILED(code))
            hr = code;
        description = text.Str();
    }
    return hr;
}

} // namespace

TVariant TMemberIds::Invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT>& reversedArgs,
                            DISPID* named, UINT namedCount) {
    if (!object)
        RaiseComError(E_POINTER);
    DISPPARAMS params{reversedArgs.empty() ? nullptr : reversedArgs.data(), named,
                      static_cast<UINT>(reversedArgs.size()), namedCount};
    auto cached = Ids.begin();
    while (cached != Ids.end() && std::wcscmp(cached->first.c_str(), name) != 0)
        ++cached;
    TVariant result;
    std::wstring description;
    HRESULT hr = DISP_E_MEMBERNOTFOUND;
    DISPID tried = DISPID_UNKNOWN;
    if (cached != Ids.end()) {
        tried = cached->second;
        hr = InvokeId(object, tried, flags, params, result, description);
    }
    // Not known yet, or refused by this object: its own identifier for the name.
    if (hr == DISP_E_MEMBERNOTFOUND) {
        DISPID id = DISPID_UNKNOWN;
        OleCheck(LookUp(object, name, id));
        if (cached == Ids.end())
            cached = Ids.insert(Ids.end(), {name, id});
        cached->second = id;
        if (id != tried || tried == DISPID_UNKNOWN) {
            description.clear();
            hr = InvokeId(object, id, flags, params, result, description);
        }
    }
    if (FAILED(hr)) {
        if (!description.empty())
            throw TComError(hr, description);
        RaiseComError(hr);
    }
    return result;
}

TVariant TMemberIds::Get(IDispatch* object, const wchar_t* name) {
    std::vector<VARIANT> none;
    return Invoke(object, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, none, nullptr, 0);
}

void TMemberIds::Put(IDispatch* object, const wchar_t* name, const VARIANT& value) {
    std::vector<VARIANT> args{value};
    DISPID putId = DISPID_PROPERTYPUT;
    Invoke(object, name, DISPATCH_PROPERTYPUT, args, &putId, 1);
}

TVariant TMemberIds::Call(IDispatch* object, const wchar_t* name, std::initializer_list<const VARIANT*> args) {
    std::vector<VARIANT> reversed;
    reversed.reserve(args.size());
    for (auto it = args.end(); it != args.begin();)
        reversed.push_back(**--it);
    return Invoke(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, reversed, nullptr, 0);
}

ComPtr<IDispatch> TMemberIds::GetObject(IDispatch* object, const wchar_t* name) {
    return AsDispatch(Get(object, name).Get());
}

std::wstring TMemberIds::GetString(IDispatch* object, const wchar_t* name) {
    return AsString(Get(object, name).Get());
}

long TMemberIds::GetInteger(IDispatch* object, const wchar_t* name) {
    return AsInteger(Get(object, name).Get());
}

TVariant GetProperty(IDispatch* object, const wchar_t* name) {
    return TMemberIds().Get(object, name);
}

TVariant CallMethod(IDispatch* object, const wchar_t* name, std::initializer_list<const VARIANT*> args) {
    return TMemberIds().Call(object, name, args);
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
