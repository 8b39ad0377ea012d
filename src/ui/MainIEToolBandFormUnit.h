// TMainIEToolBandForm: the main toolbar, the person's remote control of the Keptor application.
//
// A strip of image buttons bound to actions (ToolBar1), three framed label panels that show what the
// archive knows about the shown page (rating, card, comments), and the captioned "Domain links"
// button (ToolBar2). The form decides only when each command is available and what buttons and
// labels show; every command is carried out by the application through the thread's server wrapper.
// Its design is the constant tables of its module; its state follows the wrapper's notifications
// and the browser's events, and every action is brought up to date by the posted refresh message.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <wrl/client.h>

#include <memory>
#include <string>

#include "server/BHOMngUnit.h"
#include "server/SinkUnit.h"
#include "com/ZorbexGUI_TLB.h"
#include "ui/BtnHintFormUnit.h"
#include "ui/ControlsUnit.h"
#include "ui/KeptorIEToolBandFormUnit.h"
#include "ui/ToolbarDMUnit.h"

namespace zorbex {

class TMainIEToolBandForm : public TKeptorIEToolBandForm {
public:
    explicit TMainIEToolBandForm(TBandHost& band);

    // Width of the toolbars' content: the band's actual width.
    int ContentWidth() const;

    // Notifications of the server wrapper.
    void ServerConnected(TServerWrapper* sender) override;
    void ServerDisconnected(TServerWrapper* sender) override;
    void DocumentDataChanged(TServerWrapper* sender, LONG AID, bool APresent, const std::wstring& AComments,
                             LONG AStatus, LONG ARating) override;
    void SettingsChanged(TServerWrapper* sender) override;
    void FunctionalityChanged(TServerWrapper* sender) override;

    // Update handlers.
    void DocumentActionUpdate(TAction& sender);
    void ServerActionUpdate(TAction& sender);
    void ArchiveDocumentActionUpdate(TAction& sender);
    void HighlightAllowActionUpdate(TAction& sender);
    void PopupKillerAllowActionUpdate(TAction& sender);
    void BannerKillerAllowActionUpdate(TAction& sender);
    void LinkHintAllowActionUpdate(TAction& sender);
    void BHOAllowActionUpdate(TAction& sender);
    void DomainLinksActionUpdate(TAction& sender);
    void RatingActionUpdate(TAction& sender);
    void SavePageActionUpdate(TAction& sender);

    // Execute handlers.
    void AddUrlToCurrActionExecute(TAction& sender);
    void AddUrlWithDlgActionExecute(TAction& sender);
    void HighlightAllowActionExecute(TAction& sender);
    void PopupKillerAllowActionExecute(TAction& sender);
    void PopupKillerSettingsActionExecute(TAction& sender);
    void SearchLinkActionExecute(TAction& sender);
    void SavePageActionExecute(TAction& sender);
    void DocumentPropertyActionExecute(TAction& sender);
    void BHOAllowActionExecute(TAction& sender);
    void SettingsActionExecute(TAction& sender);
    void VersionDialogActionExecute(TAction& sender);
    void DomainLinksActionExecute(TAction& sender);
    void BannerKillerAllowActionExecute(TAction& sender);
    void LinkHintAllowActionExecute(TAction& sender);
    void RatingActionExecute(TAction& sender);
    void CaptureScreenActionExecute(TAction& sender);
    void OpenInternalActionExecute(TAction& sender);

    // Label handlers.
    void RatingLabelClick();
    void CardLabelClick();
    void CommentsLabelClick();

    // The largest rating menu and domain-links menu the form builds (the application may answer any count).
    static constexpr LONG kMaxMenuItems = 256;

protected:
    void FormCreate() override;
    void FormDestroy() override;
    void UpdateActions() override;
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // The buttons and labels of ToolBar1, then "Domain links".
    std::vector<TKeyStop> KeyStops() override;

private:
    // The test seam: what tests read and drive of the form that its windows do not show.
    friend class TMainIEToolBandFormProbe;

    bool HasPage() const;
    void SetActive(bool value);
    void RunSwitchUpdate(TAction& action, bool switchOn, const wchar_t* hintOn, const wchar_t* hintOff);

    // --- Hints. The toolbar draws its own: the button hint (BtnHintForm) for the buttons of both
    // toolbars and the rating and comments labels, and the page card hint for the Info label, shown by
    // the library's link-hint object.

    // A control with a button hint: a button of one of the toolbars (by its command), or a label.
    struct THintControl {
        TToolBar* Bar = nullptr;
        int CommandId = 0;
        TLabel* Label = nullptr;
        explicit operator bool() const { return Bar || Label; }
        bool operator==(const THintControl&) const = default;
    };

    // The mouse moved over a hinted control.
    void BtnMouseMove(const THintControl& sender);
    // Tick of CommonHintTimer: shows the pending hint, or ends the display time of the shown one.
    void ShowButtonHint();
    // Tick of SpyHintTimer: hides the hint when the mouse has left its control.
    void WatchButtonHint();
    // The text of a control's button hint.
    std::wstring ButtonHintText(const THintControl& control);
    // Mouse move over CardLabel, in its client coordinates.
    void CardLabelMouseMove(int x, int y);
    // Tick of CardHintTimer: ends the card hint when the mouse has left the Info label.
    void WatchCardHint();
    // Ends the page card hint.
    void HideCardHint();
    void HideButtonHint();

    // Document data.
    void RefreshDocumentData();
    void SetDocumentId(LONG id);
    void ApplyDocumentData(const std::wstring& comments, LONG status, LONG rating);
    void SetComments(const std::wstring& text);
    void SetStatus(LONG status);
    void SetRating(LONG rating);
    void LoadColors();

    // Browser events.
    void BrowserBeforeNavigate2(TWebBrowserEventHandler* sender, IDispatch* pDisp, VARIANT* url, VARIANT* flags,
                                VARIANT* targetFrameName, VARIANT* postData, VARIANT* headers, VARIANT_BOOL* cancel);
    void BrowserNavigateComplete2(TWebBrowserEventHandler* sender, IDispatch* pDisp, VARIANT* url);
    void BrowserDocumentComplete(TWebBrowserEventHandler* sender, IDispatch* pDisp, VARIANT* url);
    void BrowserQuit(TWebBrowserEventHandler* sender);

    void BuildToolBars();
    // Makes the form as high as its scaled design or its buttons, whichever is higher.
    void FitHeight();
    void Relayout();
    void WireHints();

    // Components, in design order.
    TImageList HotImageList;
    TImageList ImageList;
    TActionList ActionList;
    TImageList RatingsImageList;
    std::unique_ptr<TToolBar> ToolBar1;
    std::unique_ptr<TToolBar> ToolBar2;
    std::unique_ptr<TPanel> RatingPanel;
    std::unique_ptr<TPanel> CardPanel;
    std::unique_ptr<TPanel> CommentMainPanel;
    TLabel* RatingLabel = nullptr;
    TLabel* CardLabel = nullptr;
    TLabel* CommentsLabel = nullptr;

    // Form state.
    std::unique_ptr<TToolbarDM> ToolbarDM;
    std::unique_ptr<TPopupMenu> DomainLinksMenu;
    std::unique_ptr<TPopupMenu> RatingsMenu;
    std::unique_ptr<TKeptorBHO> SettingsReader;
    Microsoft::WRL::ComPtr<TWebBrowserEventHandler> BrowserSink;
    bool IsActive = false;
    std::wstring CurrentPageUrl;
    LONG DocId = -1;
    bool DocumentPresent = false;
    std::wstring Comments;
    BYTE DocumentStatus = 0;
    LONG Rating = 0;
    LONG NoCommentsTextColor = 0;
    LONG NoCommentsBackColor = 0xFFFFFF;
    LONG CommentsTextColor = 0;
    LONG CommentsBackColor = 0xFFFFFF;
    int LastContentWidth = -1;
    bool Built = false;

    // Hints.
    TFormPtr<TBtnHintForm> BtnHintForm;
    THintControl HoverControl;
    bool ButtonHintShown = false;
    Microsoft::WRL::ComPtr<IIEHelperBHOGUI> CardHint;
    bool CardHintOn = false;
};

} // namespace zorbex
