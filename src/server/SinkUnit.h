// The browser event sink: TBaseEventHandler, a reference-counted IDispatch sink that advises and
// unadvises on a connection point, and TWebBrowserEventHandler, which turns DWebBrowserEvents2 calls
// into calls of the handlers its owner sets.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <functional>

namespace zorbex {

class TBaseEventHandler : public IDispatch {
public:
    TBaseEventHandler(const TBaseEventHandler&) = delete;
    TBaseEventHandler& operator=(const TBaseEventHandler&) = delete;

    // IUnknown: the sink's IUnknown and IDispatch, and IDispatch for the remembered event interface.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch: no type information (E_NOTIMPL). Invoke forwards to the overridable Invoke below,
    // whatever the call flags; an error raised there (by a handler) ends the call with E_FAIL.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID dispId, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argError) final;

    // Subscribes to source's connection point for eventId (remembered as the sink's event interface
    // when rememberId is set). False for a nil source, a missing connection point or a refused Advise;
    // a source without IConnectionPointContainer raises TError "Interface not supported". A sink that
    // is connected already is first disconnected from its old connection point.
    bool ConnectTo(IUnknown* source, REFIID eventId, bool rememberId);
    // Unsubscribes (the result of Unadvise is ignored) and releases the source.
    void DisconnectFrom() noexcept;

    IUnknown* Source() const { return SourceObject.Get(); }
    DWORD Cookie() const { return ConnectionCookie; }
    const IID& EventId() const { return EventIID; }

protected:
    // The count is 1 while the object is being constructed; Constructed drops it to 0 and hands out
    // the first reference, which makes it 1.
    TBaseEventHandler();
    // Only Release destroys a sink (the destructor is protected and every sink is created through
    // Constructed), so a sink is never destroyed while its count is not 0.
    virtual ~TBaseEventHandler();

    template <typename T> static Microsoft::WRL::ComPtr<T> Constructed(T* sink) {
        static_cast<TBaseEventHandler*>(sink)->EndConstruction();
        return Microsoft::WRL::ComPtr<T>(sink);
    }

    // One event call: the dispatch identifier and the parameters as the caller passed them.
    virtual HRESULT Invoke(DISPID dispId, DISPPARAMS* params) = 0;

private:
    void EndConstruction() noexcept { ::InterlockedDecrement(&RefCount); }

    Microsoft::WRL::ComPtr<IUnknown> SourceObject;
    Microsoft::WRL::ComPtr<IConnectionPoint> ConnectionPoint;
    DWORD ConnectionCookie = 0;
    IID EventIID = IID_IDispatch;
    volatile LONG RefCount = 1;
};

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
class TWebBrowserEventHandler : public TBaseEventHandler {
public:
    static Microsoft::WRL::ComPtr<TWebBrowserEventHandler> Create();

    void OnDocumentComplete(TDocumentCompleteEvent handler) { DocumentCompleteHandler = std::move(handler); }
    void OnQuit(TWebBrowserNotifyEvent handler) { QuitHandler = std::move(handler); }
    void OnBeforeNavigate2(TBeforeNavigate2Event handler) { BeforeNavigate2Handler = std::move(handler); }
    void OnNavigateComplete2(TNavigateComplete2Event handler) {
        NavigateComplete2Handler = std::move(handler);
    }

    using TBaseEventHandler::Invoke; // IDispatch::Invoke

protected:
    TWebBrowserEventHandler() = default;
    ~TWebBrowserEventHandler() override = default;

    HRESULT Invoke(DISPID dispId, DISPPARAMS* params) override;

private:
    TDocumentCompleteEvent DocumentCompleteHandler;
    TWebBrowserNotifyEvent QuitHandler;
    TBeforeNavigate2Event BeforeNavigate2Handler;
    TWebBrowserNotifyEvent DownloadBeginHandler;    // no setter: stays empty
    TWebBrowserNotifyEvent DownloadCompleteHandler; // no setter: stays empty
    TNavigateComplete2Event NavigateComplete2Handler;
};

} // namespace zorbex
