// The event sink subscribed to the Keptor application's IGUIServerEvents connection point.
//
// TCVKeptorEventsBaseSink is a hand-written IDispatch sink that advises and unadvises on a connection
// point and maps a dispatch call's positional and named arguments to the event's argument positions;
// TCVKeptorIGUIServerEvents knows the six events and raises typed notifications.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

namespace zorbex {

class TCVKeptorEventsBaseSink : public IDispatch {
public:
    TCVKeptorEventsBaseSink(const TCVKeptorEventsBaseSink&) = delete;
    TCVKeptorEventsBaseSink& operator=(const TCVKeptorEventsBaseSink&) = delete;
    virtual ~TCVKeptorEventsBaseSink();

    // Subscribes to the source's connection point for the event interface; raises
    // "Unable to connect %s.\r%s" when that fails.
    void ConnectTo(IUnknown* source);
    // Cancels the subscription; never raises.
    void DisconnectFrom() noexcept;
    bool Connected() const { return Source != nullptr; }
    const std::wstring& Name() const { return SinkName; }

    // IUnknown: the sink is owned by its creator, never freed by its COM clients.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;

protected:
    explicit TCVKeptorEventsBaseSink(const IID& eventIID);
    // Entry k of the map is the index, in params.rgvarg, of the event's argument k.
    virtual HRESULT InvokeEvent(DISPID id, const DISPPARAMS& params, const std::vector<UINT>& map) = 0;
    virtual const wchar_t* ClassName() const = 0;

private:
    DWORD Cookie = 0;
    Microsoft::WRL::ComPtr<IConnectionPoint> ConnectionPoint;
    IID EventIID;
    Microsoft::WRL::ComPtr<IUnknown> Source;
    std::wstring SinkName;
};

class TCVKeptorIGUIServerEvents : public TCVKeptorEventsBaseSink {
public:
    using TNotifyEvent = std::function<void(IUnknown* sender)>;
    using TDocumentDataChangeEvent = std::function<void(IUnknown* sender, LONG AID, VARIANT_BOOL APresent,
                                                        const std::wstring& AComments, LONG AStatus, LONG ARating)>;

    TCVKeptorIGUIServerEvents();

    TNotifyEvent OnQuit;
    TNotifyEvent OnRefreshHighlight;
    TDocumentDataChangeEvent OnDocumentDataChange;
    TNotifyEvent OnSettingsChange;
    TNotifyEvent OnFunctionalityChange;
    TNotifyEvent OnQuickGroupChange;

protected:
    HRESULT InvokeEvent(DISPID id, const DISPPARAMS& params, const std::vector<UINT>& map) override;
    const wchar_t* ClassName() const override { return L"TCVKeptorIGUIServerEvents"; }
};

} // namespace zorbex
