// The base of the library's event sinks: an IDispatch object subscribed to one connection point of an
// event source. The subscription (Advise and Unadvise) lives here once; a concrete sink says only what
// its events do, in InvokeEvent, and what its source hears when one of them fails.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <wrl/client.h>

#include "com/ComObjectUnit.h"

namespace zorbex {

class TEventSink : public TComObject<IDispatch> {
public:
    // Subscribes to source's connection point for eventIID, first leaving an earlier subscription.
    // S_OK; E_POINTER for a nil source; E_NOINTERFACE for a source that has no connection points;
    // otherwise what the source's FindConnectionPoint (CONNECT_E_NOCONNECTION for an interface it does
    // not fire) or Advise answered. Only a subscription that succeeded is kept.
    HRESULT Subscribe(IUnknown* source, REFIID eventIID) noexcept;
    // Leaves the subscription and releases the source; harmless when there is none. The source's
    // answer does not matter: a vanished source is left all the same.
    void DisconnectFrom() noexcept;

    // IDispatch: no type information. Invoke keeps the sink alive for the call (a handler may drop the
    // last reference of its owner) and runs InvokeEvent inside the sink's guard.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) final;

protected:
    // handlerFailure: what the source hears when an event raises an error (see DispatchResult).
    explicit TEventSink(HRESULT handlerFailure);
    ~TEventSink() override;

    void SetEventId(REFIID iid) { EventIID = iid; }
    // One event call, with the flags and parameters as the source sent them.
    virtual HRESULT InvokeEvent(DISPID id, WORD flags, DISPPARAMS* params) = 0;

private:
    // The test seam: the subscription the sink keeps.
    friend class TEventSinkProbe;

    HRESULT QueryOtherInterface(REFIID iid, void** object) override;

    const HRESULT HandlerFailure;
    IID EventIID = IID_IDispatch;
    Microsoft::WRL::ComPtr<IUnknown> SourceObject;
    Microsoft::WRL::ComPtr<IConnectionPoint> Point;
    DWORD ConnectionCookie = 0;
};

} // namespace zorbex
