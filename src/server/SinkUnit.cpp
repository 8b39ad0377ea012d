// The browser event sink: the published argument counts and the checks of each argument before a
// handler sees it.
#include "server/SinkUnit.h"

#include <exdispid.h>

#include <utility>

#include "com/ErrorsUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex {

namespace {

// The number of arguments of a DWebBrowserEvents2 event the sink dispatches; -1 for the others.
int PublishedArgCount(DISPID dispId) {
    switch (dispId) {
    case DISPID_BEFORENAVIGATE2:
        return 7;
    case DISPID_NAVIGATECOMPLETE2:
    case DISPID_DOCUMENTCOMPLETE:
        return 2;
    case DISPID_ONQUIT:
    case DISPID_DOWNLOADBEGIN:
    case DISPID_DOWNLOADCOMPLETE:
        return 0;
    default:
        return -1;
    }
}

bool IsNullReference(const VARIANT& arg) {
    return (V_VT(&arg) & VT_BYREF) && !V_BYREF(&arg);
}

// pDisp: the window or frame the event concerns, sent as VT_DISPATCH (or a reference to one).
bool DispatchArg(const VARIANT& arg, IDispatch*& value) {
    if (V_VT(&arg) == VT_DISPATCH) {
        value = V_DISPATCH(&arg);
        return true;
    }
    if (V_VT(&arg) == (VT_BYREF | VT_DISPATCH) && V_DISPATCHREF(&arg)) {
        value = *V_DISPATCHREF(&arg);
        return true;
    }
    return false;
}

// A VARIANT argument: the browser sends a reference (VT_BYREF | VT_VARIANT), which is handed on; an
// argument sent by value is handed on as the VARIANT it is.
bool VariantArg(VARIANT& arg, VARIANT*& value) {
    if (IsNullReference(arg))
        return false;
    value = V_VT(&arg) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(&arg) : &arg;
    return true;
}

// Cancel: a reference to a VARIANT_BOOL; a flag sent by value can be written but the write is lost.
bool BoolRefArg(VARIANT& arg, VARIANT_BOOL*& value) {
    if (V_VT(&arg) == (VT_BYREF | VT_BOOL) && V_BOOLREF(&arg)) {
        value = V_BOOLREF(&arg);
        return true;
    }
    if (V_VT(&arg) == VT_BOOL) {
        value = &V_BOOL(&arg);
        return true;
    }
    return false;
}

} // namespace

ComPtr<TWebBrowserEventHandler> TWebBrowserEventHandler::Create() {
    return ComPtr<TWebBrowserEventHandler>(new TWebBrowserEventHandler());
}

bool TWebBrowserEventHandler::ConnectTo(IUnknown* source, REFIID eventId, bool rememberId) {
    if (rememberId)
        SetEventId(eventId);
    const HRESULT result = Subscribe(source, eventId);
    if (result == E_NOINTERFACE)
        RaiseError(L"Interface not supported");
    return SUCCEEDED(result);
}

// Every call is taken as an event, whatever its flags: the browser fires its events as methods.
HRESULT TWebBrowserEventHandler::InvokeEvent(DISPID dispId, WORD, DISPPARAMS* params) {
    const int expected = PublishedArgCount(dispId);
    if (expected < 0)
        return E_NOTIMPL;
    const UINT count = params ? params->cArgs : 0;
    if (params && params->cNamedArgs != 0)
        return DISP_E_NONAMEDARGS;
    if (count != static_cast<UINT>(expected))
        return DISP_E_BADPARAMCOUNT;
    if (count != 0 && !params->rgvarg)
        return E_INVALIDARG;
    // The arguments are stored last to first: args[count - 1] is the event's first argument.
    VARIANT* args = count != 0 ? params->rgvarg : nullptr;

    switch (dispId) {
    case DISPID_BEFORENAVIGATE2: {
        IDispatch* pDisp = nullptr;
        VARIANT *url = nullptr, *flags = nullptr, *targetFrameName = nullptr, *postData = nullptr,
                *headers = nullptr;
        VARIANT_BOOL* cancel = nullptr;
        if (!DispatchArg(args[6], pDisp) || !VariantArg(args[5], url) || !VariantArg(args[4], flags) ||
            !VariantArg(args[3], targetFrameName) || !VariantArg(args[2], postData) ||
            !VariantArg(args[1], headers) || !BoolRefArg(args[0], cancel))
            return DISP_E_TYPEMISMATCH;
        if (BeforeNavigate2Handler)
            BeforeNavigate2Handler(this, pDisp, url, flags, targetFrameName, postData, headers, cancel);
        return S_OK;
    }
    case DISPID_NAVIGATECOMPLETE2:
    case DISPID_DOCUMENTCOMPLETE: {
        IDispatch* pDisp = nullptr;
        VARIANT* url = nullptr;
        if (!DispatchArg(args[1], pDisp) || !VariantArg(args[0], url))
            return DISP_E_TYPEMISMATCH;
        if (dispId == DISPID_NAVIGATECOMPLETE2 && NavigateComplete2Handler)
            NavigateComplete2Handler(this, pDisp, url);
        else if (dispId == DISPID_DOCUMENTCOMPLETE && DocumentCompleteHandler)
            DocumentCompleteHandler(this, pDisp, url);
        return S_OK;
    }
    case DISPID_ONQUIT:
        if (QuitHandler)
            QuitHandler(this);
        return S_OK;
    default: // DownloadBegin and DownloadComplete: accepted, and nothing of the toolbar listens to them
        return S_OK;
    }
}

} // namespace zorbex
