// TMainIEToolBandForm: its design tables, life cycle, update rules, commands, the document panels and
// the two picture menus (ratings, domain links).
#include "ui/MainIEToolBandFormUnit.h"

#include <mshtml.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "ResourceIds.h"
#include "com/ComServerUnit.h"
#include "com/ErrorsUnit.h"
#include "page/ServerImageUnit.h"
#include "ui/HintDesktopUnit.h"
#include "ui/TimeBudgetUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex {
namespace {

using F = TMainIEToolBandForm;

const TFormDesign kMainIEToolBandFormDesign{L"MainIEToolBandForm", 801, 22, true};

// The actions, in list order: name, caption, design hint, image, update and execute handlers.
const TActionDesign<F> kActions[] = {
    {L"AddUrlToCurrAction", L"Add url to current rubric", L"Add url to current rubric", 0, &F::DocumentActionUpdate,
     &F::AddUrlToCurrActionExecute},
    {L"AddUrlWithDlgAction", L"Add url to rubric with dialog", L"Add url to rubric with dialog", 2,
     &F::DocumentActionUpdate, &F::AddUrlWithDlgActionExecute},
    {L"HighlightAllowAction", L"Allow highlight document", L"Disable highlighting", 6, &F::HighlightAllowActionUpdate,
     &F::HighlightAllowActionExecute},
    {L"PopupKillerAllowAction", L"Disable popup killer", L"Disable popup killer", 4, &F::PopupKillerAllowActionUpdate,
     &F::PopupKillerAllowActionExecute},
    {L"PopupKillerSettingsAction", L"Popup killer settings", L"Popup killer settings", 10, &F::DocumentActionUpdate,
     &F::PopupKillerSettingsActionExecute},
    {L"SearchLinkAction", L"Search link", L"Search bookmarks", 3, &F::ServerActionUpdate, &F::SearchLinkActionExecute},
    {L"SavePageAction", L"Save page", L"Save page", 7, &F::SavePageActionUpdate, &F::SavePageActionExecute},
    {L"DocumentPropertyAction", L"Document property", L"Document property", 8, &F::DocumentActionUpdate,
     &F::DocumentPropertyActionExecute},
    {L"BHOAllowAction", L"Enable", L"Enable", 9, &F::BHOAllowActionUpdate, &F::BHOAllowActionExecute},
    {L"SettingsAction", L"Settings", L"Settings", 10, &F::ServerActionUpdate, &F::SettingsActionExecute},
    {L"VersionDialogAction", L"Versions", L"Versions", 11, &F::ArchiveDocumentActionUpdate,
     &F::VersionDialogActionExecute},
    {L"DomainLinksAction", L"Domain links", L"View links from current domain", 14, &F::DomainLinksActionUpdate,
     &F::DomainLinksActionExecute},
    {L"BannerKillerAllowAction", L"BannerKillerAllowAction", nullptr, 15, &F::BannerKillerAllowActionUpdate,
     &F::BannerKillerAllowActionExecute},
    {L"LinkHintAllowAction", L"LinkHintAllowAction", nullptr, 16, &F::LinkHintAllowActionUpdate,
     &F::LinkHintAllowActionExecute},
    {L"RatingAction", L"Rating", L"Change rating", -1, &F::RatingActionUpdate, &F::RatingActionExecute},
    {L"CaptureScreenAction", L"Capture page screenshot", L"Capture page screenshot", 17,
     &F::ArchiveDocumentActionUpdate, &F::CaptureScreenActionExecute},
    {L"OpenInternalAction", L"Open in internal browser", L"Open in internal browser", 18, &F::DocumentActionUpdate,
     &F::OpenInternalActionExecute},
};

// The children of ToolBar1, left to right: a button bound to an action, or a panel holding one label.
struct TToolItemDesign {
    const wchar_t* Name;
    const wchar_t* Action; // buttons
    bool Shown;            // shown by FormCreate; the others stay hidden
    const wchar_t* Label;  // panels: the label's name, caption, hint and click handler
    const wchar_t* Caption;
    const wchar_t* Hint;
    void (F::*Click)();
};

const TToolItemDesign kToolBar1[] = {
    {L"BHOAllowBtn", L"BHOAllowAction", true, nullptr, nullptr, nullptr, nullptr},
    {L"AddUrlToCurrBtn", L"AddUrlToCurrAction", true, nullptr, nullptr, nullptr, nullptr},
    {L"BannerKillerBtn", L"BannerKillerAllowAction", true, nullptr, nullptr, nullptr, nullptr},
    {L"PopuKillerAllowBtn", L"PopupKillerAllowAction", true, nullptr, nullptr, nullptr, nullptr},
    {L"HighlightAllowBtn", L"HighlightAllowAction", true, nullptr, nullptr, nullptr, nullptr},
    {L"LinkHintBtn", L"LinkHintAllowAction", true, nullptr, nullptr, nullptr, nullptr},
    {L"SettingsBtn", L"PopupKillerSettingsAction", true, nullptr, nullptr, nullptr, nullptr},
    {L"SearchLinkBtn", L"SearchLinkAction", true, nullptr, nullptr, nullptr, nullptr},
    {L"CaptureScreenBtn", L"CaptureScreenAction", true, nullptr, nullptr, nullptr, nullptr},
    {L"SavePageBtn", L"SavePageAction", false, nullptr, nullptr, nullptr, nullptr},
    {L"OpenInternalBtn", L"OpenInternalAction", true, nullptr, nullptr, nullptr, nullptr},
    {L"RatingPanel", nullptr, true, L"RatingLabel", L"  Rating: 0  ", L"Change rating", &F::RatingLabelClick},
    {L"CardPanel", nullptr, true, L"CardLabel", L"  Info  ", nullptr, &F::CardLabelClick},
    {L"CommentMainPanel", nullptr, true, L"CommentsLabel", L"  Comments  ", nullptr, &F::CommentsLabelClick},
    {L"VersionDlgBtn", L"VersionDialogAction", false, nullptr, nullptr, nullptr, nullptr},
};

const TToolBarStyle kToolBar1Style{true, false, 0};
const TToolBarStyle kToolBar2Style{true, true, 87};
constexpr int kToolBarHeight = 22;
constexpr int kLabelHeight = 17;

// The status values that colour the card label.
constexpr BYTE kStatusNone = 0;
constexpr BYTE kStatusNoComments = 1;
constexpr BYTE kStatusComments = 2;

const wchar_t kAboutBlank[] = L"about:blank";

bool SameObject(IUnknown* a, IUnknown* b) {
    if (!a || !b)
        return false;
    ComPtr<IUnknown> first, second;
    return SUCCEEDED(a->QueryInterface(IID_PPV_ARGS(&first))) && SUCCEEDED(b->QueryInterface(IID_PPV_ARGS(&second))) &&
           first.Get() == second.Get();
}

// The text of a URL argument of a browser event (a string, possibly by reference).
std::wstring UrlText(const VARIANT* url) {
    if (!url)
        return std::wstring();
    TVariant text;
    if (FAILED(::VariantChangeType(text.Ptr(), const_cast<VARIANT*>(url), 0, VT_BSTR)))
        return std::wstring();
    return std::wstring(V_BSTR(text.Ptr()), ::SysStringLen(V_BSTR(text.Ptr())));
}

} // namespace

TMainIEToolBandForm::TMainIEToolBandForm(TBandHost& band) : TKeptorIEToolBandForm(band, kMainIEToolBandFormDesign) {
    HotImageList.LoadStrip(IDB_MAIN_HOT_IMAGES, ImageSize());
    ImageList.LoadStrip(IDB_MAIN_IMAGES, ImageSize());
    ActionList.Load(*this, kActions);
    BuildToolBars();
    FitHeight();
}

void TMainIEToolBandForm::FitHeight() {
    // The strip is as high as the design scaled, or as the buttons for the chosen images if higher.
    const int height = std::max({Scale(kToolBarHeight), ToolBar1->ButtonHeight(), ToolBar2->ButtonHeight()});
    if (height != ClientHeight())
        SetClientHeight(height);
    for (TPanel* panel : {RatingPanel.get(), CardPanel.get(), CommentMainPanel.get()})
        panel->SetHeight(height);
    Relayout();
}

void TMainIEToolBandForm::BuildToolBars() {
    ToolBar1 = std::make_unique<TToolBar>(*this, Handle(), kToolBar1Style, ImageList.Handle(), HotImageList.Handle());
    ToolBar2 = std::make_unique<TToolBar>(*this, Handle(), kToolBar2Style, ImageList.Handle(), HotImageList.Handle());
    // Everything is hidden by design; FormCreate shows what the person sees.
    for (const TToolItemDesign& item : kToolBar1) {
        if (item.Action) {
            ToolBar1->AddActionButton(item.Name, ActionList[item.Action], false);
            continue;
        }
        auto panel = std::make_unique<TPanel>(*this, ToolBar1->Handle(), Scale(kToolBarHeight), item.Caption);
        TLabel& label = panel->Label();
        if (item.Hint)
            label.SetHint(item.Hint);
        label.OnClick = [this, click = item.Click] { (this->*click)(); };
        panel->OnResize = [this] {
            if (ToolBar1) {
                ToolBar1->LayoutControls();
                Relayout();
            }
        };
        ToolBar1->AddControl(item.Name, panel->Handle(), false);
        const std::wstring_view labelName = item.Label;
        if (labelName == L"RatingLabel") {
            RatingLabel = &label;
            RatingPanel = std::move(panel);
        } else if (labelName == L"CardLabel") {
            CardLabel = &label;
            CardPanel = std::move(panel);
        } else {
            CommentsLabel = &label;
            CommentMainPanel = std::move(panel);
        }
    }
    ToolBar2->AddActionButton(L"DomainLinksBtn", ActionList[L"DomainLinksAction"], false);
    for (TLabel* label : {RatingLabel, CardLabel, CommentsLabel})
        label->SetColors(::GetSysColor(COLOR_WINDOWTEXT), ::GetSysColor(COLOR_WINDOW));
    const auto key = [this](HWND window, UINT pressed, bool alt) { return StopKeyDown(window, pressed, alt); };
    ToolBar1->OnKey = key;
    ToolBar2->OnKey = key;
    for (TLabel* label : {RatingLabel, CardLabel, CommentsLabel})
        label->OnKey = key;
    Relayout();
}

std::vector<TKeyStop> TMainIEToolBandForm::KeyStops() {
    std::vector<TKeyStop> stops;
    if (!ToolBar1 || !ToolBar2)
        return stops;
    AddToolBarStops(stops, *ToolBar1, [this](HWND control) -> TLabel* {
        for (TPanel* panel : {RatingPanel.get(), CardPanel.get(), CommentMainPanel.get()})
            if (panel && panel->Handle() == control)
                return &panel->Label();
        return nullptr;
    });
    AddToolBarStops(stops, *ToolBar2);
    // The rating label and "Domain links" open menus.
    for (TKeyStop& stop : stops)
        stop.OpensMenu = (stop.Label && stop.Label == RatingLabel) || (stop.Bar == ToolBar2.get());
    return stops;
}

int TMainIEToolBandForm::ContentWidth() const {
    return (ToolBar1 ? ToolBar1->ContentWidth() : 0) + (ToolBar2 ? ToolBar2->ContentWidth() : 0);
}

void TMainIEToolBandForm::Relayout() {
    if (!ToolBar1 || !ToolBar2)
        return;
    const int height = ClientHeight();
    const int left = ToolBar1->ContentWidth();
    ::SetWindowPos(ToolBar1->Handle(), nullptr, 0, 0, left, height, SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowPos(ToolBar2->Handle(), nullptr, left, 0, std::max(ClientWidth() - left, 0), height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    // Once built, the form tells the host when its content grows or shrinks (a longer rating, say).
    const int width = ContentWidth();
    if (LastContentWidth >= 0 && width != LastContentWidth)
        Band().NotifyBandInfoChanged();
    if (LastContentWidth >= 0 || Built)
        LastContentWidth = width;
}

LRESULT TMainIEToolBandForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SIZE)
        Relayout();
    // A theme switched on or off (the browser passes these on to its toolbars): the labels again.
    if (Built && (message == WM_SYSCOLORCHANGE || (message == WM_SETTINGCHANGE && wParam == SPI_SETHIGHCONTRAST)))
        ApplyDocumentData(Comments, DocumentStatus, Rating);
    return TKeptorIEToolBandForm::WndProc(message, wParam, lParam);
}

// --- Life cycle --------------------------------------------------------------------------------------

void TMainIEToolBandForm::FormCreate() {
    ToolbarDM = std::make_unique<TToolbarDM>(*this);
    ToolbarDM->RefreshTimer.SetOnTimer([this] {
        TAction& versions = ActionList[L"VersionDialogAction"];
        versions.SetImageIndex(versions.ImageIndex() == 12 ? 13 : 12);
    });
    WireHints();
    DomainLinksMenu = std::make_unique<TPopupMenu>(*this, true);
    RatingsMenu = std::make_unique<TPopupMenu>(*this, true);
    SettingsReader = std::make_unique<TKeptorBHO>();

    for (const TToolItemDesign& item : kToolBar1)
        if (item.Shown)
            if (TToolBar::TButton* button = ToolBar1->FindByName(item.Name))
                ToolBar1->SetButtonVisible(button->CommandId, true);
    if (TToolBar::TButton* button = ToolBar2->FindByName(L"DomainLinksBtn"))
        ToolBar2->SetButtonVisible(button->CommandId, true);
    Relayout();

    NoCommentsTextColor = 0;
    NoCommentsBackColor = 0xFFFFFF;
    CommentsTextColor = 0;
    CommentsBackColor = 0xFFFFFF;

    BrowserSink = TWebBrowserEventHandler::Create();
    BrowserSink->OnBeforeNavigate2(MethodHandler(this, &F::BrowserBeforeNavigate2));
    BrowserSink->OnNavigateComplete2(MethodHandler(this, &F::BrowserNavigateComplete2));
    BrowserSink->OnDocumentComplete(MethodHandler(this, &F::BrowserDocumentComplete));
    BrowserSink->OnQuit(MethodHandler(this, &F::BrowserQuit));
    BrowserSink->ConnectTo(Band().WebBrowser(), DIID_DWebBrowserEvents2, true);

    SetActive(Wrapper().IsConnected() && SettingsReader->IsEnabled());
    Built = true;
    Relayout();
}

void TMainIEToolBandForm::FormDestroy() {
    // The hints go first: no hint window outlives the toolbar.
    if (ToolbarDM)
        for (TTimer* timer : {&ToolbarDM->RefreshTimer, &ToolbarDM->SpyHintTimer, &ToolbarDM->CommonHintTimer,
                              &ToolbarDM->CardHintTimer})
            timer->Stop();
    HoverControl = THintControl{};
    Guarded([&] { HideCardHint(); });
    CardHint.Reset();
    BtnHintForm.reset();
    RatingsMenu.reset();
    DomainLinksMenu.reset();
    if (BrowserSink) {
        BrowserSink->DisconnectFrom();
        BrowserSink.Reset();
    }
    SettingsReader.reset();
    // ToolbarDM stays, stopped, until the form is deleted: a handler of one of its timers may still
    // be running when the form closes.
}

void TMainIEToolBandForm::UpdateActions() {
    ActionList.UpdateAll();
}

// --- Notifications -----------------------------------------------------------------------------------

void TMainIEToolBandForm::ServerConnected(TServerWrapper*) {
    SetActive(SettingsReader && SettingsReader->IsEnabled());
}

void TMainIEToolBandForm::ServerDisconnected(TServerWrapper*) {
    SetActive(false);
}

void TMainIEToolBandForm::SettingsChanged(TServerWrapper*) {
    if (IsActive)
        LoadColors();
}

void TMainIEToolBandForm::FunctionalityChanged(TServerWrapper*) {
    SetActive(SettingsReader && SettingsReader->IsEnabled());
}

void TMainIEToolBandForm::DocumentDataChanged(TServerWrapper*, LONG AID, bool APresent, const std::wstring& AComments,
                                              LONG AStatus, LONG ARating) {
    if (!IsActive)
        return;
    if (DocId == -1)
        SetDocumentId(Wrapper().GetDocumentId(CurrentPageUrl));
    if (AID != DocId)
        return;
    ApplyDocumentData(AComments, AStatus, ARating);
    if (!APresent)
        SetDocumentId(-1);
}

void TMainIEToolBandForm::SetActive(bool value) {
    IsActive = value;
    if (value)
        SettingsChanged(nullptr);
    RefreshDocumentData();
}

// --- Browser events ----------------------------------------------------------------------------------

void TMainIEToolBandForm::BrowserBeforeNavigate2(TWebBrowserEventHandler*, IDispatch*, VARIANT*, VARIANT*, VARIANT*,
                                                 VARIANT*, VARIANT*, VARIANT_BOOL*) {
    PostRefresh();
}

void TMainIEToolBandForm::BrowserNavigateComplete2(TWebBrowserEventHandler*, IDispatch* pDisp, VARIANT* url) {
    if (!SameObject(pDisp, Band().WebBrowser()))
        return; // a frame: the page stays what it was
    CurrentPageUrl = UrlText(url);
    RefreshDocumentData();
}

void TMainIEToolBandForm::BrowserDocumentComplete(TWebBrowserEventHandler*, IDispatch*, VARIANT*) {
    PostRefresh();
}

void TMainIEToolBandForm::BrowserQuit(TWebBrowserEventHandler*) {
    if (BrowserSink)
        BrowserSink->DisconnectFrom();
}

// --- Update rules ------------------------------------------------------------------------------------

bool TMainIEToolBandForm::HasPage() const {
    return !CurrentPageUrl.empty() && CurrentPageUrl != kAboutBlank;
}

void TMainIEToolBandForm::DocumentActionUpdate(TAction& sender) {
    sender.SetEnabled(IsActive && HasPage());
}

void TMainIEToolBandForm::ServerActionUpdate(TAction& sender) {
    sender.SetEnabled(IsActive);
}

void TMainIEToolBandForm::ArchiveDocumentActionUpdate(TAction& sender) {
    sender.SetEnabled(IsActive && HasPage() && DocumentPresent);
}

void TMainIEToolBandForm::RatingActionUpdate(TAction& sender) {
    ArchiveDocumentActionUpdate(sender);
}

void TMainIEToolBandForm::SavePageActionUpdate(TAction&) {}

void TMainIEToolBandForm::RunSwitchUpdate(TAction& action, bool switchOn, const wchar_t* hintOn, const wchar_t* hintOff) {
    action.SetEnabled(IsActive);
    if (!action.Enabled())
        return; // a disabled switch keeps its last state and hint
    action.SetChecked(switchOn);
    action.SetHint(switchOn ? hintOn : hintOff);
}

void TMainIEToolBandForm::HighlightAllowActionUpdate(TAction& sender) {
    RunSwitchUpdate(sender, SettingsReader->IsHighlightEnabled(), L"Disable highlighting", L"Enable highlighting");
}

void TMainIEToolBandForm::PopupKillerAllowActionUpdate(TAction& sender) {
    RunSwitchUpdate(sender, SettingsReader->IsPopupKillerEnabled(), L"Show popups", L"Kill popups");
}

void TMainIEToolBandForm::BannerKillerAllowActionUpdate(TAction& sender) {
    RunSwitchUpdate(sender, SettingsReader->IsBannerKillerEnabled(), L"Show banners", L"Kill banners");
}

void TMainIEToolBandForm::LinkHintAllowActionUpdate(TAction& sender) {
    RunSwitchUpdate(sender, SettingsReader->IsLinkHintEnabled(), L"Don't show link's hint", L"Show link's hint");
}

void TMainIEToolBandForm::BHOAllowActionUpdate(TAction& sender) {
    sender.SetEnabled(Wrapper().IsConnected());
    const bool enabled = SettingsReader->IsEnabled();
    sender.SetChecked(enabled);
    if (sender.Enabled())
        sender.SetHint(LoadResString(enabled ? IDS_DISABLE : IDS_ENABLE) + L" " + LoadResString(IDS_PRODUCT_NAME));
}

void TMainIEToolBandForm::DomainLinksActionUpdate(TAction& sender) {
    sender.SetEnabled(IsActive && HasPage() && Wrapper().HasDomainLinks(CurrentPageUrl));
}

// --- Commands ----------------------------------------------------------------------------------------

void TMainIEToolBandForm::HideButtonHint() {
    if (ToolbarDM)
        ToolbarDM->CommonHintTimer.Stop();
    if (BtnHintForm)
        BtnHintForm->HideHint();
}

void TMainIEToolBandForm::AddUrlToCurrActionExecute(TAction&) {
    HideButtonHint();
    Wrapper().AddDocumentToRubric(Band().WebBrowser(), false);
}

void TMainIEToolBandForm::AddUrlWithDlgActionExecute(TAction&) {
    Wrapper().AddDocumentToRubric(Band().WebBrowser(), true);
}

void TMainIEToolBandForm::HighlightAllowActionExecute(TAction& sender) {
    HideButtonHint();
    Wrapper().SetHighlightEnabled(!SettingsReader->IsHighlightEnabled());
    sender.Update();
}

void TMainIEToolBandForm::PopupKillerAllowActionExecute(TAction& sender) {
    HideButtonHint();
    Wrapper().SetPopupKillerEnabled(!SettingsReader->IsPopupKillerEnabled());
    sender.Update();
}

void TMainIEToolBandForm::BannerKillerAllowActionExecute(TAction& sender) {
    HideButtonHint();
    Wrapper().SetBannerKillerEnabled(!SettingsReader->IsBannerKillerEnabled());
    sender.Update();
}

void TMainIEToolBandForm::LinkHintAllowActionExecute(TAction& sender) {
    HideButtonHint();
    Wrapper().SetLinkHintEnabled(!SettingsReader->IsLinkHintEnabled());
    sender.Update();
}

void TMainIEToolBandForm::PopupKillerSettingsActionExecute(TAction&) {
    Wrapper().ShowPopupKillerSettings(Band().WebBrowser());
}

void TMainIEToolBandForm::SearchLinkActionExecute(TAction&) {
    HideButtonHint();
    Wrapper().ShowLinkSearch();
}

void TMainIEToolBandForm::SavePageActionExecute(TAction&) {}

void TMainIEToolBandForm::DocumentPropertyActionExecute(TAction&) {
    Wrapper().ShowDocumentProperties(CurrentPageUrl);
}

void TMainIEToolBandForm::BHOAllowActionExecute(TAction&) {
    HideButtonHint();
    Wrapper().SetToolbarEnabled(!SettingsReader->IsEnabled());
}

void TMainIEToolBandForm::SettingsActionExecute(TAction&) {
    HideButtonHint();
    Wrapper().ShowSettings();
}

void TMainIEToolBandForm::VersionDialogActionExecute(TAction&) {}

void TMainIEToolBandForm::CaptureScreenActionExecute(TAction&) {
    HideButtonHint();
    Wrapper().CaptureScreenShot(Band().WebBrowser(), true);
}

void TMainIEToolBandForm::OpenInternalActionExecute(TAction&) {
    HideButtonHint();
    Wrapper().OpenInInternalBrowser(CurrentPageUrl);
}

void TMainIEToolBandForm::DomainLinksActionExecute(TAction&) {
    std::vector<LONG> links;
    TFormHold hold(*this);
    Wrapper().GetDomainLinks(CurrentPageUrl, links);
    if (hold.Closed() || links.empty())
        return; // closed while the application answered: its menu is gone
    if (links.size() > static_cast<size_t>(kMaxMenuItems))
        links.resize(static_cast<size_t>(kMaxMenuItems));
    // Each link's picture is fetched once for this opening, and measured and drawn from there. The links
    // whose pictures the time budget, or the pixels the menu keeps, do not reach are left out of this
    // opening, as those beyond kMaxMenuItems are.
    using TPicture = std::shared_ptr<TBitmap>;
    std::vector<std::pair<LONG, TPicture>> pictures;
    const ComPtr<IGUIServer> server = Wrapper().GetServer();
    const TTimeBudget budget;
    int64_t pixels = 0;
    for (LONG id : links) {
        if (!pictures.empty() && (budget.Spent() || pixels >= TBitmap::kMaxPixels))
            break;
        auto picture = std::make_shared<TBitmap>();
        const bool found = GetServerImage(server.Get(), L"", id, true, *picture) && !picture->Empty();
        if (hold.Closed())
            return;
        pixels += found ? int64_t{picture->Width()} * picture->Height() : 0;
        pictures.emplace_back(id, found ? std::move(picture) : nullptr);
    }
    DomainLinksMenu->Clear();
    const size_t count = pictures.size();
    for (auto& [id, shown] : pictures) {
        // A picture is all the item shows; its name for accessibility tools says which link of how many.
        const std::wstring name = L"Domain link " + std::to_wstring(DomainLinksMenu->Count() + 1) + L" of " +
                                  std::to_wstring(count);
        TMenuItem& item = DomainLinksMenu->Add(id, name);
        item.OnMeasure = [picture = shown](TMenuItem&, MEASUREITEMSTRUCT& measure) {
            if (!picture)
                return; // the platform's measure stands
            // A picture of any size may arrive and is shown as it comes; the menu keeps to the size of a
            // screen. The margins around it follow the text scale, as the menu's own do.
            measure.itemWidth = static_cast<UINT>(std::clamp(picture->Width() - Scale(8), 0, 2048));
            measure.itemHeight = static_cast<UINT>(std::clamp(picture->Height() + Scale(2), 0, 1024));
        };
        item.OnDraw = [picture = shown](TMenuItem&, const DRAWITEMSTRUCT& draw) {
            if (!picture)
                return;
            const bool selected = (draw.itemState & ODS_SELECTED) != 0;
            HBRUSH frame = ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_BTNFACE);
            ::FrameRect(draw.hDC, &draw.rcItem, frame);
            ::BitBlt(draw.hDC, draw.rcItem.left + Scale(2), draw.rcItem.top + Scale(1), picture->Width(),
                     picture->Height(), picture->Canvas(), 0, 0, SRCCOPY);
        };
        item.OnClick = [this](TMenuItem& menuItem) {
            const std::wstring url = Wrapper().GetLinkUrl(static_cast<LONG>(menuItem.Tag));
            if (url.empty())
                return;
            TVariant target(url), empty1, empty2, empty3, empty4;
            OleCheck(Band().WebBrowser()->Navigate2(target.Ptr(), empty1.Ptr(), empty2.Ptr(), empty3.Ptr(),
                                                    empty4.Ptr()));
        };
    }
    // Below the button when the keyboard chose it (its toolbar has the focus), else at the mouse.
    if (const TToolBar::TButton* button = ToolBar2->FindByName(L"DomainLinksBtn");
        button && ::GetFocus() == ToolBar2->Handle()) {
        ToolBar2->DropDown(*button, *DomainLinksMenu);
        return;
    }
    POINT cursor{};
    ::GetCursorPos(&cursor);
    DomainLinksMenu->Popup(cursor.x, cursor.y);
}

void TMainIEToolBandForm::RatingActionExecute(TAction&) {
    HideButtonHint();
    TFormHold hold(*this);
    const LONG count = std::min(Wrapper().GetRatingCount(), kMaxMenuItems);
    if (hold.Closed() || count <= 0)
        return; // closed while the application answered: its menu is gone
    const int width = RatingLabel->Width();
    const int height = RatingLabel->Height();
    TBitmap picture(width, height);
    RatingsMenu->Clear();
    RatingsImageList.Reset(width, height);
    HDC canvas = picture.Canvas();
    // Every rating gets its item; the application is asked for their colours while the time budget
    // lasts, and the ratings after that show in the colours of a rating it has none for.
    const TTimeBudget budget;
    const bool highContrast = HighContrastOn();
    for (LONG rating = 0; rating < count; ++rating) {
        TMenuItem& item = RatingsMenu->Add(rating, L"Rating: " + std::to_wstring(rating), static_cast<int>(rating));
        item.OnClick = [this](TMenuItem& menuItem) {
            Wrapper().SetDocumentRating(DocId, static_cast<LONG>(menuItem.Tag));
        };
        item.OnMeasure = [this](TMenuItem&, MEASUREITEMSTRUCT& measure) {
            measure.itemWidth = static_cast<UINT>(std::max(RatingsImageList.ImageWidth() - Scale(10), 0));
            // The height an item needs for its picture, with a pixel above and below at the design
            // scale. (The menu's own default, the system font's height, grows faster than the text.)
            measure.itemHeight = static_cast<UINT>(RatingsImageList.ImageHeight() + Scale(2));
        };
        item.OnDraw = [this](TMenuItem& menuItem, const DRAWITEMSTRUCT& draw) {
            const bool selected = (draw.itemState & ODS_SELECTED) != 0;
            ::FillRect(draw.hDC, &draw.rcItem, ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_MENU));
            const int top = draw.rcItem.top + (draw.rcItem.bottom - draw.rcItem.top - RatingsImageList.ImageHeight()) / 2;
            ::ImageList_Draw(RatingsImageList.Handle(), menuItem.ImageIndex, draw.hDC, draw.rcItem.left + Scale(2),
                             top, ILD_NORMAL);
        };

        // Under a high-contrast theme the number tells the rating, in the theme's colours.
        LONG text = 0, back = 0;
        COLORREF textColor = ::GetSysColor(COLOR_WINDOWTEXT), backColor = ::GetSysColor(COLOR_WINDOW);
        const bool answered = !highContrast && !budget.Spent() && Wrapper().GetRatingColors(rating, text, back);
        if (hold.Closed())
            return; // closed while the application answered: its menu is gone
        if (answered) {
            textColor = ColorToRGB(text);
            backColor = ColorToRGB(back);
        }
        RECT whole{0, 0, width, height};
        TGdiObject window(::CreateSolidBrush(::GetSysColor(COLOR_WINDOW)));
        TGdiObject border(::CreateSolidBrush(::GetSysColor(COLOR_WINDOWTEXT)));
        TGdiObject fill(::CreateSolidBrush(backColor));
        ::FillRect(canvas, &whole, static_cast<HBRUSH>(window.Get()));
        ::FrameRect(canvas, &whole, static_cast<HBRUSH>(border.Get()));
        const int inset = Scale(2);
        RECT inner{inset, inset, width - inset, height - inset};
        ::FillRect(canvas, &inner, static_cast<HBRUSH>(fill.Get()));
        const std::wstring number = std::to_wstring(rating);
        TSelectGuard font(canvas, Font());
        SIZE extent{};
        ::GetTextExtentPoint32W(canvas, number.c_str(), static_cast<int>(number.size()), &extent);
        ::SetTextColor(canvas, textColor);
        ::SetBkMode(canvas, TRANSPARENT);
        const int left = inner.left + (inner.right - inner.left - extent.cx) / 2;
        const int textTop = inner.top + (inner.bottom - inner.top - extent.cy) / 2;
        ::ExtTextOutW(canvas, left, textTop, ETO_CLIPPED, &inner, number.c_str(), static_cast<UINT>(number.size()),
                      nullptr);
        ::GdiFlush();
        RatingsImageList.Add(picture.Handle());
    }
    RECT label{};
    ::GetWindowRect(RatingLabel->Handle(), &label);
    RatingsMenu->Popup(label.left, label.bottom + 2);
}

// --- Document data -----------------------------------------------------------------------------------

void TMainIEToolBandForm::RefreshDocumentData() {
    LONG id = -1, status = 0, rating = 0;
    std::wstring comments;
    if (IsActive && !Wrapper().GetDocumentInfo(CurrentPageUrl, id, comments, status, rating)) {
        id = -1;
        comments.clear();
        status = 0;
        rating = 0;
    }
    SetDocumentId(id);
    ApplyDocumentData(comments, status, rating);
}

void TMainIEToolBandForm::SetDocumentId(LONG id) {
    DocId = id;
    DocumentPresent = id >= 0;
    for (TLabel* label : {CommentsLabel, CardLabel, RatingLabel})
        label->SetEnabled(DocumentPresent);
    PostRefresh();
}

void TMainIEToolBandForm::ApplyDocumentData(const std::wstring& comments, LONG status, LONG rating) {
    SetComments(comments);
    SetStatus(status);
    SetRating(rating);
}

void TMainIEToolBandForm::SetComments(const std::wstring& text) {
    Comments = text;
    // Under a high-contrast theme the caption tells what the colours would.
    const bool highContrast = HighContrastOn();
    CommentsLabel->SetCaption(highContrast && text.empty() ? L"  No comments  " : L"  Comments  ");
    if (highContrast) {
        CommentsLabel->SetHint(text.empty() ? std::wstring(L"No user comments") : text);
        CommentsLabel->SetColors(::GetSysColor(COLOR_WINDOWTEXT), ::GetSysColor(COLOR_WINDOW));
    } else if (!text.empty()) {
        CommentsLabel->SetHint(text);
        CommentsLabel->SetColors(ColorToRGB(CommentsTextColor), ColorToRGB(CommentsBackColor));
    } else {
        CommentsLabel->SetHint(L"No user comments");
        CommentsLabel->SetColors(ColorToRGB(NoCommentsTextColor), ColorToRGB(NoCommentsBackColor));
    }
}

void TMainIEToolBandForm::SetStatus(LONG status) {
    DocumentStatus = static_cast<BYTE>(status & 0xFF);
    const COLORREF text = CardLabel->TextColor();
    if (HighContrastOn()) {
        // What the status colours tell, the comments label's caption says.
        CardLabel->SetColors(::GetSysColor(COLOR_WINDOWTEXT), ::GetSysColor(COLOR_WINDOW));
        return;
    }
    switch (DocumentStatus) {
    case kStatusNone:
        CardLabel->SetColors(text, RGB(255, 255, 255));
        break;
    case kStatusNoComments:
        CardLabel->SetColors(text, ColorToRGB(NoCommentsBackColor));
        break;
    case kStatusComments:
        CardLabel->SetColors(text, ColorToRGB(CommentsBackColor));
        break;
    default:
        break; // other statuses leave the colour as it was
    }
}

void TMainIEToolBandForm::SetRating(LONG rating) {
    Rating = rating;
    RatingLabel->SetCaption(L"  Rating: " + std::to_wstring(rating) + L"  ");
    LONG text = 0, back = 0;
    if (HighContrastOn())
        RatingLabel->SetColors(::GetSysColor(COLOR_WINDOWTEXT), ::GetSysColor(COLOR_WINDOW));
    else if (IsActive && Wrapper().GetRatingColors(rating, text, back))
        RatingLabel->SetColors(ColorToRGB(text), ColorToRGB(back));
    else
        RatingLabel->SetColors(RGB(0, 0, 0), RGB(255, 255, 255));
}

void TMainIEToolBandForm::LoadColors() {
    if (!IsActive)
        return;
    LONG noCommentsText = 0, noCommentsBack = 0, commentsText = 0, commentsBack = 0;
    if (Wrapper().GetCommentColors(noCommentsText, noCommentsBack, commentsText, commentsBack)) {
        NoCommentsTextColor = noCommentsText;
        NoCommentsBackColor = noCommentsBack;
        CommentsTextColor = commentsText;
        CommentsBackColor = commentsBack;
    }
    SetComments(Comments);
    SetStatus(DocumentStatus);
    SetRating(Rating);
}

// --- Label clicks ------------------------------------------------------------------------------------

void TMainIEToolBandForm::RatingLabelClick() {
    ActionList[L"RatingAction"].Execute();
}

void TMainIEToolBandForm::CardLabelClick() {
    HideCardHint();
    ActionList[L"DocumentPropertyAction"].Execute();
}

void TMainIEToolBandForm::CommentsLabelClick() {
    HideButtonHint();
    Wrapper().ShowComments(DocId);
}

// --- Hints -------------------------------------------------------------------------------------------

void TMainIEToolBandForm::WireHints() {
    ToolbarDM->SpyHintTimer.SetOnTimer([this] { WatchButtonHint(); });
    ToolbarDM->CommonHintTimer.SetOnTimer([this] { ShowButtonHint(); });
    ToolbarDM->CardHintTimer.SetOnTimer([this] { WatchCardHint(); });
    BtnHintForm = TBtnHintForm::Create();
    for (TToolBar* bar : {ToolBar1.get(), ToolBar2.get()})
        bar->OnButtonMouseMove = [this, bar](TToolBar::TButton& button) {
            BtnMouseMove(THintControl{bar, button.CommandId, nullptr});
        };
    for (TLabel* label : {RatingLabel, CommentsLabel})
        label->OnMouseMove = [this, label](int, int) { BtnMouseMove(THintControl{nullptr, 0, label}); };
    CardLabel->OnMouseMove = [this](int x, int y) { CardLabelMouseMove(x, y); };
}

std::wstring TMainIEToolBandForm::ButtonHintText(const THintControl& control) {
    if (control.Label)
        return control.Label->Hint();
    TToolBar::TButton* button = control.Bar ? control.Bar->Find(control.CommandId) : nullptr;
    if (!button)
        return std::wstring();
    if (button->Name == L"AddUrlToCurrBtn") // names the rubric it adds to, as it is now
        return L"Add to '" + Wrapper().GetCurrentRubricName() + L"'";
    return button->Action ? button->Action->Hint() : std::wstring();
}

void TMainIEToolBandForm::BtnMouseMove(const THintControl& sender) {
    if (!ToolbarDM || sender == HoverControl)
        return; // moving within the control neither restarts nor shows the hint again
    HideButtonHint();
    HoverControl = sender;
    ButtonHintShown = false;
    ToolbarDM->CommonHintTimer.SetInterval(TToolbarDM::kHintPause);
    ToolbarDM->CommonHintTimer.Start();
    ToolbarDM->SpyHintTimer.Start();
}

void TMainIEToolBandForm::ShowButtonHint() {
    if (!ToolbarDM || !ToolbarDM->CommonHintTimer.Enabled())
        return;
    ToolbarDM->CommonHintTimer.Stop();
    if (ButtonHintShown || !HoverControl) {
        // The display time is over; the hint stays away while the mouse stays on the control.
        HideButtonHint();
        return;
    }
    const THintControl control = HoverControl;
    TFormHold hold(*this);
    const std::wstring text = ButtonHintText(control); // may ask the application, letting messages in
    if (hold.Closed() || !BtnHintForm || HoverControl != control || ButtonHintShown)
        return;
    ButtonHintShown = true;
    if (text.empty())
        return; // nothing to show: an empty box says nothing
    BtnHintForm->SetHintText(text);
    const SIZE label = BtnHintForm->LabelSize();
    BtnHintForm->SetClientSize(2 * Scale(TBtnHintForm::kLabelLeft) + label.cx,
                               2 * Scale(TBtnHintForm::kLabelTop) + label.cy);
    PlaceHintWindow(BtnHintForm->Handle(), THintDesktop::Current().CursorPos());
    ToolbarDM->CommonHintTimer.SetInterval(TToolbarDM::kHintHidePause);
    ToolbarDM->CommonHintTimer.Start();
}

void TMainIEToolBandForm::WatchButtonHint() {
    if (!ToolbarDM || !ToolbarDM->SpyHintTimer.Enabled())
        return;
    if (!HoverControl) {
        HideButtonHint();
        ToolbarDM->SpyHintTimer.Stop();
        return;
    }
    const THintDesktop& desktop = THintDesktop::Current();
    const POINT cursor = desktop.CursorPos();
    // A label has a window of its own; a button is a part of its toolbar's window.
    const HWND window = HoverControl.Label ? HoverControl.Label->Handle() : HoverControl.Bar->Handle();
    if (window && desktop.WindowAt(cursor) == window) {
        if (HoverControl.Label)
            return;
        POINT client = cursor;
        ::ScreenToClient(window, &client);
        const int index = static_cast<int>(::SendMessageW(window, TB_HITTEST, 0, reinterpret_cast<LPARAM>(&client)));
        TBBUTTON button{};
        if (index >= 0 &&
            ::SendMessageW(window, TB_GETBUTTON, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&button)) &&
            !(button.fsStyle & BTNS_SEP) && button.idCommand == HoverControl.CommandId)
            return;
    }
    // The mouse has left the control.
    HideButtonHint();
    ToolbarDM->SpyHintTimer.Stop();
    HoverControl = THintControl{};
}

void TMainIEToolBandForm::CardLabelMouseMove(int x, int y) {
    if (!ToolbarDM || !Wrapper().GetServer()) {
        HideCardHint();
        return;
    }
    POINT screen{x, y};
    ::ClientToScreen(CardLabel->Handle(), &screen);
    if (CardHintOn) {
        if (const ComPtr<IIEHelperBHOGUI> object = CardHint)
            OleCheck(object->MouseMove(screen.x, screen.y));
        return;
    }
    ComPtr<IIEHelperBHOGUI> object;
    if (FAILED(::CoCreateInstance(CLSID_IEHelperBHOGUI, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object))) ||
        !object)
        return;
    CardHint = object;
    const ComPtr<IGUIServer> server = Wrapper().GetServer();
    if (!server) {
        CardHint.Reset();
        return;
    }
    TFormHold hold(*this);
    TBStr url(CurrentPageUrl);
    // The object asks the application for its hint settings, which lets messages in.
    const HRESULT result = object->MouseOverLink(static_cast<LONG>(reinterpret_cast<LONG_PTR>(Handle())), screen.x,
                                                 screen.y, url.Get(), server.Get());
    if (hold.Closed() || CardHint != object)
        return;
    OleCheck(result);
    CardHintOn = true;
    ToolbarDM->CardHintTimer.Start();
}

void TMainIEToolBandForm::WatchCardHint() {
    const THintDesktop& desktop = THintDesktop::Current();
    const POINT cursor = desktop.CursorPos();
    if (CardLabel && CardPanel && desktop.WindowAt(cursor) == CardLabel->Handle()) {
        POINT client = cursor;
        ::ScreenToClient(CardPanel->Handle(), &client);
        if (::ChildWindowFromPointEx(CardPanel->Handle(), client, CWP_ALL) == CardLabel->Handle())
            return;
    }
    HideCardHint();
}

void TMainIEToolBandForm::HideCardHint() {
    if (ToolbarDM)
        ToolbarDM->CardHintTimer.Stop();
    // The object goes whatever it answers; its failure is still the handler's.
    const ComPtr<IIEHelperBHOGUI> object = std::move(CardHint);
    CardHintOn = false;
    if (object)
        OleCheck(object->MouseOutLink());
}

} // namespace zorbex
