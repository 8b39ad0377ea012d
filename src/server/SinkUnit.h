// The browser event sink: TWebBrowserEventHandler turns the DWebBrowserEvents2 calls of the browser
// into calls of handlers its owner sets, as (object, method) pairs or lambdas. It is an event sink of
// the com layer (subscription and IDispatch there); what is its own is the browser's event set and how
// strictly it checks a call before a handler sees it: the browser is another party, and a malformed
// call must reach no handler.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <functional>

#include "com/EventSinkUnit.h"

namespace zorbex {

class TWebBrowserEventHandler;

// Handlers of the browser's events; the sender is the sink. The arguments are those of the
// DWebBrowserEvents2 event, passed through as the browser sent them.
using TWebBrowserNotifyEvent = std::function<void(TWebBrowserEventHandler* ASender)>;
using TDocumentCompleteEvent =
    std::function<void(TWebBrowserEventHandler* ASender, IDispatch* APDisp, VARIANT* AURL)>;
using TNavigateComplete2Event =
    std::function<void(TWebBrowserEventHandler* ASender, IDispatch* APDisp, VARIANT* AURL)>;
using TBeforeNavigate2Event = std::function<void(
    TWebBrowserEventHandler* ASender, IDispatch* APDisp, VARIANT* AURL, VARIANT* AFlags,
    VARIANT* ATargetFrameName, VARIANT* APostData, VARIANT* AHeaders, VARIANT_BOOL* ACancel)>;

// A handler made of an object and one of its methods.
template <typename TObject, typename... TArgs>
std::function<void(TArgs...)> MethodHandler(TObject* object, void (TObject::*method)(TArgs...)) {
    return [object, method](TArgs... args) { (object->*method)(args...); };
}

// The DWebBrowserEvents2 sink. An event reaches its handler only with exactly the arguments of the
// published event (BeforeNavigate2 7, NavigateComplete2 and DocumentComplete 2, OnQuit, DownloadBegin
// and DownloadComplete none) and no named arguments; otherwise the call returns DISP_E_BADPARAMCOUNT
// (DISP_E_NONAMEDARGS for named arguments) and no handler runs. An argument of a type that cannot be
// passed through gives DISP_E_TYPEMISMATCH, arguments counted but not given E_INVALIDARG. Other events
// are answered with E_NOTIMPL.
class TWebBrowserEventHandler : public TEventSink {
public:
    static Microsoft::WRL::ComPtr<TWebBrowserEventHandler> Create();

    // Subscribes to source's connection point for eventId (remembered as the sink's event interface
    // when rememberId is set, whether or not the subscription succeeds). False for a nil source, a
    // missing connection point or a refused Advise; a source without IConnectionPointContainer raises
    // TError "Interface not supported". A sink that is connected already leaves its old subscription.
    bool ConnectTo(IUnknown* source, REFIID eventId, bool rememberId);

    void OnDocumentComplete(TDocumentCompleteEvent handler) { DocumentCompleteHandler = std::move(handler); }
    void OnQuit(TWebBrowserNotifyEvent handler) { QuitHandler = std::move(handler); }
    void OnBeforeNavigate2(TBeforeNavigate2Event handler) { BeforeNavigate2Handler = std::move(handler); }
    void OnNavigateComplete2(TNavigateComplete2Event handler) {
        NavigateComplete2Handler = std::move(handler);
    }

protected:
    // An error raised by a handler answers the browser with E_FAIL.
    TWebBrowserEventHandler() : TEventSink(E_FAIL) {}
    ~TWebBrowserEventHandler() override = default;

    HRESULT InvokeEvent(DISPID dispId, WORD flags, DISPPARAMS* params) override;

private:
    TDocumentCompleteEvent DocumentCompleteHandler;
    TWebBrowserNotifyEvent QuitHandler;
    TBeforeNavigate2Event BeforeNavigate2Handler;
    TNavigateComplete2Event NavigateComplete2Handler;
};

} // namespace zorbex
