// The event sink base: the subscription and the IDispatch shell around InvokeEvent.
#include "com/EventSinkUnit.h"

#include "com/ErrorsUnit.h"

#include <olectl.h>

#include <utility>

using Microsoft::WRL::ComPtr;

namespace zorbex {
namespace {

const TInterfaceEntry kSinkInterfaces[] = {InterfaceEntry<TEventSink, IDispatch>(IID_IDispatch)};

} // namespace

TEventSink::TEventSink(HRESULT handlerFailure)
    : TComObject(TModuleCount::Object, kSinkInterfaces, nullptr), HandlerFailure(handlerFailure) {}

TEventSink::~TEventSink() {
    DisconnectFrom();
}

HRESULT TEventSink::Subscribe(IUnknown* source, REFIID eventIID) noexcept {
    DisconnectFrom();
    if (!source)
        return E_POINTER;
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(source->QueryInterface(IID_PPV_ARGS(&container))) || !container)
        return E_NOINTERFACE;
    ComPtr<IConnectionPoint> point;
    HRESULT result = container->FindConnectionPoint(eventIID, &point);
    if (result == E_NOINTERFACE || (SUCCEEDED(result) && !point))
        result = CONNECT_E_NOCONNECTION; // E_NOINTERFACE says: no connection points at all
    if (FAILED(result))
        return result;
    // The source holds the sink by its identity, the IUnknown that QueryInterface gives, so that it can
    // compare the sink with what it holds.
    DWORD cookie = 0;
    result = point->Advise(Identity(), &cookie);
    if (FAILED(result))
        return result;
    SourceObject = source;
    Point = std::move(point);
    ConnectionCookie = cookie;
    return S_OK;
}

void TEventSink::DisconnectFrom() noexcept {
    // Unadvise drops the source's reference, which may be the sink's last: everything is taken out of
    // the sink first, and nothing of it is touched afterwards.
    ComPtr<IConnectionPoint> point = std::move(Point);
    ComPtr<IUnknown> source = std::move(SourceObject);
    const DWORD cookie = std::exchange(ConnectionCookie, 0);
    if (point && cookie)
        point->Unadvise(cookie);
}

HRESULT TEventSink::QueryOtherInterface(REFIID iid, void** object) {
    if (EventIID == IID_IDispatch || iid != EventIID)
        return E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP TEventSink::GetTypeInfoCount(UINT* count) {
    if (count)
        *count = 0;
    return E_NOTIMPL;
}

STDMETHODIMP TEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

STDMETHODIMP TEventSink::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*,
                                EXCEPINFO* exception, UINT*) {
    ComPtr<IDispatch> keep(this);
    return DispatchResult(HandlerFailure, exception, [&] { return InvokeEvent(id, flags, params); });
}

} // namespace zorbex
