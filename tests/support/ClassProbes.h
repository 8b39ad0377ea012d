// The test seams of the library's classes: for each class, the one probe it names as a friend, holding
// what tests (and the demo) read or drive of it that the platform does not show: timers, references
// held, the thread's server wrapper, menus that are not open. Everything else is read from outside:
// windows, window texts, toolbar messages, and the calls the reference Keptor server received.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "com/EventSinkUnit.h"
#include "library/IEHelperBHOGUIUnit.h"
#include "server/ServerWrapperUnit.h"
#include "ui/DataModuleUnit.h"
#include "ui/MainIEToolBandFormUnit.h"
#include "ui/QLIEToolBandFormUnit.h"

namespace zorbex {

// An event sink's subscription.
class TEventSinkProbe {
public:
    static bool Connected(const TEventSink& sink) { return sink.Point != nullptr; }
    static IUnknown* Source(const TEventSink& sink) { return sink.SourceObject.Get(); }
    static DWORD Cookie(const TEventSink& sink) { return sink.ConnectionCookie; }
    // The event interface the sink answers besides IDispatch; IID_IDispatch: none.
    static const IID& EventId(const TEventSink& sink) { return sink.EventIID; }
};

// The calling thread's server wrapper and its clients.
class TServerWrapperProbe {
public:
    // The wrapper of the calling thread, or null.
    static TServerWrapper* Current() { return TServerWrapper::Current(); }
    // The clients in registration order; null entries are free slots.
    static const std::vector<TServerClient*>& Clients(const TServerWrapper& wrapper) { return wrapper.ClientList; }
    static int ClientCount(const TServerWrapper& wrapper) {
        int count = 0;
        for (const TServerClient* client : wrapper.ClientList)
            count += client ? 1 : 0;
        return count;
    }
};

// The GUI data module's timer and the server it holds for a pending request.
class TGUIDataModuleProbe {
public:
    static bool TimerRunning(const TGUIDataModule& module) {
        return module.HintForm && module.HintForm->Timer().Enabled();
    }
    static UINT TimerInterval(const TGUIDataModule& module) {
        return module.HintForm ? module.HintForm->Timer().Interval() : 0;
    }
    static bool HoldsServer(const TGUIDataModule& module) { return module.Server != nullptr; }
};

// The link-hint object's own data module.
class TIEHelperBHOGUIProbe {
public:
    static TGUIDataModule& DataModule(TIEHelperBHOGUI& object) { return *object.Module; }
};

// The menus the quick-link toolbar holds while none of them is open.
class TQLIEToolBandFormProbe {
public:
    // The drop-down menu of every group on the toolbar, in build order.
    static std::vector<HMENU> GroupMenus(const TQLIEToolBandForm& form) {
        std::vector<HMENU> menus;
        if (form.GroupMenus)
            for (const auto& group : *form.GroupMenus)
                menus.push_back(group.Menu->Handle());
        return menus;
    }
    // The drop-down menu of "Manage groups".
    static HMENU ManageGroupsMenu(const TQLIEToolBandForm& form) {
        return form.QGPopupMenu ? form.QGPopupMenu->Handle() : nullptr;
    }
};

// The main toolbar's state behind its windows, and its hint timers' handlers run at once.
class TMainIEToolBandFormProbe {
public:
    explicit TMainIEToolBandFormProbe(TMainIEToolBandForm& form) : Form(form) {}

    // Switched on and connected: the commands work.
    bool Active() const { return Form.IsActive; }
    TActionList& Actions() const { return Form.ActionList; }
    TToolbarDM& Timers() const { return *Form.ToolbarDM; }

    // The handlers of CommonHintTimer, SpyHintTimer and CardHintTimer; HideCardHint ends the card hint.
    void ShowButtonHint() const { Form.ShowButtonHint(); }
    void WatchButtonHint() const { Form.WatchButtonHint(); }
    void WatchCardHint() const { Form.WatchCardHint(); }
    void HideCardHint() const { Form.HideCardHint(); }

    // The mouse rests on a control with a button hint.
    bool Hovering() const { return static_cast<bool>(Form.HoverControl); }
    // The hint of the control under the mouse has been shown (and may be over already).
    bool ButtonHintShown() const { return Form.ButtonHintShown; }
    bool CardHintShown() const { return Form.CardHintOn; }
    IIEHelperBHOGUI* CardHintObject() const { return Form.CardHint.Get(); }
    HWND ButtonHintWindow() const { return Form.BtnHintForm ? Form.BtnHintForm->Handle() : nullptr; }

    // The button hint text of a button (by name) of either toolbar, or of a label ("RatingLabel",
    // "CardLabel", "CommentsLabel"); empty for a name that has none.
    std::wstring ButtonHintText(std::wstring_view name) const {
        using TControl = TMainIEToolBandForm::THintControl;
        for (TToolBar* bar : {Form.ToolBar1.get(), Form.ToolBar2.get()})
            if (TToolBar::TButton* button = bar ? bar->FindByName(name) : nullptr; button && !button->Control)
                return Form.ButtonHintText(TControl{bar, button->CommandId, nullptr});
        for (auto [labelName, label] : {std::pair{L"RatingLabel", Form.RatingLabel},
                                        std::pair{L"CardLabel", Form.CardLabel},
                                        std::pair{L"CommentsLabel", Form.CommentsLabel}})
            if (name == labelName)
                return Form.ButtonHintText(TControl{nullptr, 0, label});
        return std::wstring();
    }

private:
    TMainIEToolBandForm& Form;
};

} // namespace zorbex
