// The sink of the Keptor application's IGUIServerEvents: an event sink of the com layer that turns the
// application's six events into calls of the handlers its owner (the server wrapper) sets.
//
// The application is another process and calls by dispatch, so the sink reads each call as a dispatch
// caller may send it: positional or named arguments, values or references, a narrower integer for a
// long. An argument of another type is refused rather than misread, and then no handler runs.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <string>

#include "com/EventSinkUnit.h"

namespace zorbex {

class TCVKeptorIGUIServerEvents : public TEventSink {
public:
    using TNotifyEvent = std::function<void(IUnknown* sender)>;
    using TDocumentDataChangeEvent = std::function<void(IUnknown* sender, LONG AID, VARIANT_BOOL APresent,
                                                        const std::wstring& AComments, LONG AStatus, LONG ARating)>;

    static Microsoft::WRL::ComPtr<TCVKeptorIGUIServerEvents> Create();

    // Subscribes to the application's events, first leaving an earlier subscription; raises
    // "Unable to connect .\r<reason>" when that fails.
    void ConnectTo(IUnknown* source);
    // Empties every handler: the owner is going, and a late event must not reach it.
    void DropHandlers() noexcept;

    // The sender is the sink. OnRefreshHighlight (202) is accepted and has no handler: the toolbar
    // does not highlight.
    TNotifyEvent OnQuit;
    TDocumentDataChangeEvent OnDocumentDataChange;
    TNotifyEvent OnSettingsChange;
    TNotifyEvent OnFunctionalityChange;
    TNotifyEvent OnQuickGroupChange;

protected:
    // An error raised by a handler answers the application with E_UNEXPECTED (as DispatchResult says).
    TCVKeptorIGUIServerEvents();
    ~TCVKeptorIGUIServerEvents() override = default;

    // Only method calls are events; a call for a member the interface does not have gives
    // DISP_E_MEMBERNOTFOUND, OnDocumentDataChange with fewer than its five arguments
    // DISP_E_BADPARAMCOUNT and with an argument of another type DISP_E_TYPEMISMATCH.
    HRESULT InvokeEvent(DISPID id, WORD flags, DISPPARAMS* params) override;
};

} // namespace zorbex
