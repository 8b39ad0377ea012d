// The browser event sink: TBaseEventHandler and TWebBrowserEventHandler.
#include "server/SinkUnit.h"

#include <exdispid.h>

#include <utility>

#include "com/ComServerUnit.h"
#include "com/ErrorsUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex {

// --- TBaseEventHandler ---------------------------------------------------------------------------

TBaseEventHandler::TBaseEventHandler() {
    ComServer().CountObject(true);
}

TBaseEventHandler::~TBaseEventHandler() {
    ComServer().CountObject(false);
}

STDMETHODIMP TBaseEventHandler::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == EventIID) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TBaseEventHandler::AddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&RefCount));
}

STDMETHODIMP_(ULONG) TBaseEventHandler::Release() {
    LONG count = ::InterlockedDecrement(&RefCount);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP TBaseEventHandler::GetTypeInfoCount(UINT* count) {
    if (count)
        *count = 0;
    return E_NOTIMPL;
}

STDMETHODIMP TBaseEventHandler::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TBaseEventHandler::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

STDMETHODIMP TBaseEventHandler::Invoke(DISPID dispId, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                       EXCEPINFO*, UINT*) {
    // A handler may drop its owner's last reference (the quit handler disconnects): stay alive until
    // the call returns.
    ComPtr<IDispatch> self(this);
    return GuardResult(E_FAIL, [&] { return Invoke(dispId, params); });
}

bool TBaseEventHandler::ConnectTo(IUnknown* source, REFIID eventId, bool rememberId) {
    if (ConnectionPoint)
        DisconnectFrom();
    if (rememberId)
        EventIID = eventId;
    SourceObject = source;
    if (!source)
        return false;
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(source->QueryInterface(IID_PPV_ARGS(&container))) || !container)
        RaiseError(L"Interface not supported");
    ComPtr<IConnectionPoint> point;
    if (FAILED(container->FindConnectionPoint(eventId, &point)) || !point)
        return false;
    ConnectionPoint = std::move(point);
    DWORD cookie = 0;
    if (FAILED(ConnectionPoint->Advise(static_cast<IDispatch*>(this), &cookie)))
        return false;
    ConnectionCookie = cookie;
    return true;
}

void TBaseEventHandler::DisconnectFrom() noexcept {
    // Unadvise drops the source's reference to this sink; keep it alive to the end of this call.
    ComPtr<IDispatch> self(this);
    if (ComPtr<IConnectionPoint> point = std::move(ConnectionPoint)) {
        if (DWORD cookie = std::exchange(ConnectionCookie, 0))
            point->Unadvise(cookie);
    }
    SourceObject.Reset();
}

// --- TWebBrowserEventHandler ---------------------------------------------------------------------

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
    return Constructed(new TWebBrowserEventHandler());
}

HRESULT TWebBrowserEventHandler::Invoke(DISPID dispId, DISPPARAMS* params) {
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
    case DISPID_DOWNLOADBEGIN:
        if (DownloadBeginHandler)
            DownloadBeginHandler(this);
        return S_OK;
    case DISPID_DOWNLOADCOMPLETE:
        if (DownloadCompleteHandler)
            DownloadCompleteHandler(this);
        return S_OK;
    default:
        return E_NOTIMPL;
    }
}

} // namespace zorbex
