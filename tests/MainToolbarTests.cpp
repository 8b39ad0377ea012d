// The main toolbar as a person and an accessibility tool see it: its buttons (image index, enabled,
// checked, hidden) in the common-controls toolbars, its labels (text, enabled, colours), its menus,
// and the calls that reach the reference Keptor server of this process.
#include <windows.h>
#include <commctrl.h>
#include <exdisp.h>
#include <exdispid.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "KeptorServerUnit.h"
#include "band/ZorbexExplorerBarUnit.h"
#include "com/ComSupportUnit.h"
#include "server/BHOMngUnit.h"
#include "server/ServerWrapperUnit.h"
#include "support/BrowserHostUnit.h"
#include "support/MenuProbeUnit.h"
#include "support/TestDocumentUnit.h"
#include "support/ClassProbes.h"
#include "support/TestSupport.h"
#include "support/ToolbarProbeUnit.h"
#include "ui/MainIEToolBandFormUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;
using keptor::TKeptorServer;

namespace {

// Image indexes of the shown buttons, which identify them from outside.
constexpr int kEnable = 9, kAddUrl = 0, kBanner = 15, kPopup = 4, kHighlight = 6, kLinkHint = 16, kPopupSettings = 10,
              kSearch = 3, kCapture = 17, kOpenInternal = 18, kDomainLinks = 14;
const std::set<int> kShownButtons = {kEnable, kAddUrl, kBanner, kPopup, kHighlight, kLinkHint, kPopupSettings,
                                     kSearch, kCapture, kOpenInternal, kDomainLinks};

// The application's events.
constexpr DISPID kOnQuitDispid = 201, kOnDocumentDataChangeDispid = 203, kOnFunctionalityChangeDispid = 205;

const wchar_t kArchived[] = L"http://archive.example/page";
const wchar_t kNotArchived[] = L"http://new.example/page";

struct TButtonState {
    bool Enabled = false;
    bool Checked = false;
    bool Hidden = false;
    std::wstring Text;
};

class MainToolbarTest : public TComTest {
protected:
    void SetUp() override {
        SetEverySwitch(true);
        Server = TKeptorServer::Create();
        auto& archive = Server->Archive();
        archive.Documents[kArchived] = {2001, L"Read later", 1, 3};
        archive.RatingColors[3] = {0x000000FF, 0x0000FFFF};
        archive.CurrentRubricName = L"Reading";
    }
    void TearDown() override {
        CloseBand();
        if (Server) {
            Server->RevokeRunning();
            Server.Reset();
        }
        EXPECT_EQ(nullptr, TServerWrapperProbe::Current()) << "a wrapper was left behind";
        TComTest::TearDown();
    }

    void StartServer() { ASSERT_EQ(S_OK, Server->RegisterRunning()); }
    // The application starts after the toolbar: it posts its start message to the browser thread.
    void AnnounceServer() {
        StartServer();
        ::PostThreadMessageW(::GetCurrentThreadId(), kKeptorStartMessage, 0, 0);
        Pump();
    }

    void OpenBand() {
        Opened.emplace(TakeCreated<IDeskBand>(TZorbexExplorerBar::CreateObject()));
        ASSERT_EQ(S_OK, Opened->SiteResult);
        Form = Opened->Window();
        ToolBar1 = ::FindWindowExW(Form, nullptr, TOOLBARCLASSNAMEW, nullptr);
        ToolBar2 = ::FindWindowExW(Form, ToolBar1, TOOLBARCLASSNAMEW, nullptr);
        ASSERT_TRUE(ToolBar1 && ToolBar2);
        Pump();
    }
    void CloseBand() {
        if (!Opened)
            return;
        Opened.reset();
        Pump();
    }
    // What the windows do not show: whether the form is active, its actions.
    TMainIEToolBandFormProbe FormObject() {
        return TMainIEToolBandFormProbe(
            *static_cast<TMainIEToolBandForm*>(static_cast<TZorbexExplorerBar*>(Opened->Band.Get())->Form()));
    }
    // The refresh of every action, posted to the form as it posts it to itself.
    void PostRefresh() { ::PostMessageW(Form, kRefreshMessage, 0, 0); }
    TTestBrowser& Browser() { return Opened->Site->Browser(); }

    void Pump() { PumpMessages(30); }
    // Handles what is queued now, without waiting for more.
    static void Drain() {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }

    // A top-level navigation of the band's browser (or of a frame object).
    void Navigate(const std::wstring& url, IDispatch* frame = nullptr) {
        Browser().FireNavigateComplete(url, frame);
        Pump();
    }

    // Every button of both toolbars, by image index.
    std::map<int, TButtonState> Buttons() const {
        std::map<int, TButtonState> result;
        for (HWND bar : {ToolBar1, ToolBar2}) {
            const int count = static_cast<int>(::SendMessageW(bar, TB_BUTTONCOUNT, 0, 0));
            for (int i = 0; i < count; ++i) {
                TBBUTTON button{};
                ::SendMessageW(bar, TB_GETBUTTON, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&button));
                if (button.fsStyle & BTNS_SEP)
                    continue;
                TButtonState state;
                state.Enabled = button.fsState & TBSTATE_ENABLED;
                state.Checked = button.fsState & TBSTATE_CHECKED;
                state.Hidden = button.fsState & TBSTATE_HIDDEN;
                wchar_t text[256]{};
                ::SendMessageW(bar, TB_GETBUTTONTEXTW, static_cast<WPARAM>(button.idCommand),
                               reinterpret_cast<LPARAM>(text));
                state.Text = text;
                result[button.iBitmap] = state;
            }
        }
        return result;
    }
    std::set<int> EnabledButtons() const {
        std::set<int> enabled;
        for (const auto& [image, state] : Buttons())
            if (!state.Hidden && state.Enabled)
                enabled.insert(image);
        return enabled;
    }

    // The three labels, left to right: rating, card, comments.
    std::vector<HWND> Labels() const { return ToolbarLabels(Form); }
    static std::wstring Text(HWND window) {
        wchar_t text[256]{};
        ::GetWindowTextW(window, text, 256);
        return text;
    }
    // The colours a label paints itself with, as its parent learns them through WM_CTLCOLORSTATIC.
    static std::pair<COLORREF, COLORREF> Colors(HWND label) {
        HDC dc = ::GetDC(label);
        ::SendMessageW(::GetParent(label), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                       reinterpret_cast<LPARAM>(label));
        std::pair<COLORREF, COLORREF> colors{::GetTextColor(dc), ::GetBkColor(dc)};
        ::ReleaseDC(label, dc);
        return colors;
    }

    // A person's click: the cursor onto the button, then the left button down and up.
    void Click(int image) {
        ASSERT_TRUE(ClickToolbarButton(Form, image)) << "no button with image " << image;
        Pump();
    }
    void ClickLabel(HWND label) {
        ::SendMessageW(::GetParent(label), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(label), STN_CLICKED),
                       reinterpret_cast<LPARAM>(label));
        Pump();
    }

    // The server's calls since the last look, without the subscription's own.
    std::vector<std::wstring> NewCalls() {
        std::vector<std::wstring> calls;
        const auto& log = Server->CallLog();
        for (size_t i = Seen; i < log.size(); ++i)
            if (log[i] != L"Advise" && log[i] != L"Unadvise")
                calls.push_back(log[i]);
        Seen = log.size();
        return calls;
    }
    bool Called(const std::vector<std::wstring>& calls, const std::wstring& call) {
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }

    ComPtr<TKeptorServer> Server;
    std::optional<TLibraryBand> Opened;
    HWND Form = nullptr;
    HWND ToolBar1 = nullptr;
    HWND ToolBar2 = nullptr;
    size_t Seen = 0;
};

TEST_F(MainToolbarTest, ShowsItsButtonsAndPanelsAsDesigned) {
    OpenBand();
    const auto buttons = Buttons();
    std::set<int> shown;
    for (const auto& [image, state] : buttons)
        if (!state.Hidden)
            shown.insert(image);
    EXPECT_EQ(kShownButtons, shown);
    EXPECT_TRUE(buttons.at(7).Hidden) << "SavePageBtn stays hidden";
    EXPECT_TRUE(buttons.at(11).Hidden) << "VersionDlgBtn stays hidden";
    // Every button carries its caption as its text, its name for accessibility tools (drawn only on
    // "Domain links").
    const std::map<int, std::wstring> names = {
        {kEnable, L"Enable"},
        {kAddUrl, L"Add url to current rubric"},
        {kBanner, L"BannerKillerAllowAction"},
        {kPopup, L"Disable popup killer"},
        {kHighlight, L"Allow highlight document"},
        {kLinkHint, L"LinkHintAllowAction"},
        {kPopupSettings, L"Popup killer settings"},
        {kSearch, L"Search link"},
        {kCapture, L"Capture page screenshot"},
        {kOpenInternal, L"Open in internal browser"},
        {kDomainLinks, L"Domain links"},
    };
    for (const auto& [image, name] : names)
        EXPECT_EQ(name, buttons.at(image).Text) << "image " << image;

    const auto labels = Labels();
    ASSERT_EQ(3u, labels.size());
    EXPECT_EQ(L"  Rating: 0  ", Text(labels[0]));
    EXPECT_EQ(L"  Info  ", Text(labels[1]));
    EXPECT_EQ(L"  Comments  ", Text(labels[2]));
    for (HWND label : labels)
        EXPECT_TRUE(::GetWindowLongW(label, GWL_STYLE) & SS_NOTIFY);
    // Command ids are unique within each toolbar.
    for (HWND bar : {ToolBar1, ToolBar2}) {
        std::set<int> ids;
        const int count = static_cast<int>(::SendMessageW(bar, TB_BUTTONCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            TBBUTTON button{};
            ::SendMessageW(bar, TB_GETBUTTON, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&button));
            EXPECT_TRUE(ids.insert(button.idCommand).second);
        }
    }
}

// What is enabled in each situation of connection, switch and page.
struct TSituation {
    const char* Name;
    bool Running;
    bool Enabled;       // switch "Enabled"
    const wchar_t* Url; // nullptr: no navigation yet
    std::set<int> EnabledButtons;
    bool LabelsEnabled;
    const wchar_t* RatingCaption;
};

const TSituation kSituations[] = {
    {"NotConnected", false, true, kArchived, {}, false, L"  Rating: 0  "},
    {"SwitchedOff", true, false, kArchived, {kEnable}, false, L"  Rating: 0  "},
    {"BeforeFirstNavigation", true, true, nullptr, {kEnable, kBanner, kPopup, kHighlight, kLinkHint, kSearch}, false,
     L"  Rating: 0  "},
    {"AboutBlank", true, true, L"about:blank", {kEnable, kBanner, kPopup, kHighlight, kLinkHint, kSearch}, false,
     L"  Rating: 0  "},
    {"PageNotArchived", true, true, kNotArchived,
     {kEnable, kAddUrl, kBanner, kPopup, kHighlight, kLinkHint, kPopupSettings, kSearch, kOpenInternal}, false,
     L"  Rating: 0  "},
    {"ArchivedPage", true, true, kArchived,
     {kEnable, kAddUrl, kBanner, kPopup, kHighlight, kLinkHint, kPopupSettings, kSearch, kCapture, kOpenInternal},
     true, L"  Rating: 3  "},
};

class MainToolbarSituationTest : public MainToolbarTest, public ::testing::WithParamInterface<TSituation> {};

TEST_P(MainToolbarSituationTest, EnablesWhatTheSituationAllows) {
    const TSituation& situation = GetParam();
    SetSwitch(L"Enabled", situation.Enabled);
    if (situation.Running)
        StartServer();
    OpenBand();
    if (situation.Url)
        Navigate(situation.Url);
    EXPECT_EQ(situation.EnabledButtons, EnabledButtons());
    EXPECT_EQ(situation.Enabled, Buttons().at(kEnable).Checked);
    const auto labels = Labels();
    ASSERT_EQ(3u, labels.size());
    for (HWND label : labels)
        EXPECT_EQ(situation.LabelsEnabled, ::IsWindowEnabled(label) != FALSE);
    EXPECT_EQ(situation.RatingCaption, Text(labels[0]));
}

INSTANTIATE_TEST_SUITE_P(Situations, MainToolbarSituationTest, ::testing::ValuesIn(kSituations),
                         [](const auto& param) { return std::string(param.param.Name); });

// The application keeps the toolbar's event sink by the pointer Advise received, and compares it with
// what it holds as COM identities are compared: it must be the sink's own IUnknown.
TEST_F(MainToolbarTest, AdvisesTheApplicationWithTheSinksIdentity) {
    StartServer();
    OpenBand();
    const std::vector<IUnknown*> sinks = Server->AdvisedSinks();
    ASSERT_EQ(1u, sinks.size());
    ComPtr<IUnknown> identity;
    ASSERT_EQ(S_OK, sinks[0]->QueryInterface(IID_PPV_ARGS(&identity)));
    EXPECT_EQ(identity.Get(), sinks[0]);
}

TEST_F(MainToolbarTest, EnableButtonNamesWhatAClickWouldDo) {
    SetSwitch(L"Enabled", false);
    StartServer();
    OpenBand();
    EXPECT_EQ(L"Enable Trovella", FormObject().Actions()[L"BHOAllowAction"].Hint());
    Click(kEnable);
    EXPECT_TRUE(Called(NewCalls(), L"52 SetToolbarEnabled(true)"));
    // The application switches the toolbar on and says so: the form becomes active.
    Server->Fire(kOnFunctionalityChangeDispid, {});
    Pump();
    EXPECT_TRUE(FormObject().Active());
    EXPECT_TRUE(Buttons().at(kEnable).Checked);
    EXPECT_EQ(L"Disable Trovella", FormObject().Actions()[L"BHOAllowAction"].Hint());
}

// Each switch: pressed exactly when it is on, hint naming what a click would do, a click asking the
// application for the opposite.
struct TSwitchCase {
    const char* Name;
    const wchar_t* Value;
    int Image;
    const wchar_t* Action;
    const wchar_t* HintOn;
    const wchar_t* HintOff;
    const wchar_t* CallWhenOn;
};

const TSwitchCase kSwitches[] = {
    {"Highlight", L"Highlight enabled", kHighlight, L"HighlightAllowAction", L"Disable highlighting",
     L"Enable highlighting", L"18 SetHighlightEnabled(false)"},
    {"PopupKiller", L"Popup killer enabled", kPopup, L"PopupKillerAllowAction", L"Show popups", L"Kill popups",
     L"19 SetPopupKillerEnabled(false)"},
    {"BannerKiller", L"Banner killer enabled", kBanner, L"BannerKillerAllowAction", L"Show banners", L"Kill banners",
     L"36 SetBannerKillerEnabled(false)"},
    {"LinkHint", L"Link hint enabled", kLinkHint, L"LinkHintAllowAction", L"Don't show link's hint",
     L"Show link's hint", L"39 SetLinkHintEnabled(false)"},
};

class MainToolbarSwitchTest : public MainToolbarTest, public ::testing::WithParamInterface<TSwitchCase> {};

TEST_P(MainToolbarSwitchTest, ShowsTheStoredStateAndAsksForTheOpposite) {
    const TSwitchCase& entry = GetParam();
    StartServer();
    OpenBand();
    TAction& action = FormObject().Actions()[entry.Action];
    EXPECT_TRUE(Buttons().at(entry.Image).Checked);
    EXPECT_EQ(entry.HintOn, action.Hint());
    NewCalls();
    // The click asks the application, which stores the switch; the button follows at once.
    Click(entry.Image);
    EXPECT_TRUE(Called(NewCalls(), entry.CallWhenOn));
    EXPECT_FALSE(Buttons().at(entry.Image).Checked);
    EXPECT_EQ(entry.HintOff, action.Hint());
    // Read afresh at every refresh: a change in the registry shows at the next one.
    SetSwitch(entry.Value, true);
    PostRefresh();
    Pump();
    EXPECT_TRUE(Buttons().at(entry.Image).Checked);
}

INSTANTIATE_TEST_SUITE_P(Switches, MainToolbarSwitchTest, ::testing::ValuesIn(kSwitches),
                         [](const auto& param) { return std::string(param.param.Name); });

// Each command reaches the application with its arguments.
struct TCommandCase {
    const char* Name;
    int Image;
    const wchar_t* Call;
};

const TCommandCase kCommands[] = {
    {"AddUrl", kAddUrl, L"8 AddDocumentToRubric(\"Archived page\", \"http://archive.example/page\", \"\", \"\", false)"},
    {"PopupKillerSettings", kPopupSettings, L"20 ShowPopupKillerSettings(\"http://archive.example/page\")"},
    {"SearchLink", kSearch, L"21 ShowLinkSearch()"},
    {"OpenInternal", kOpenInternal, L"11 GetInternalBrowser(true)"},
};

class MainToolbarCommandTest : public MainToolbarTest, public ::testing::WithParamInterface<TCommandCase> {};

TEST_P(MainToolbarCommandTest, ReachesTheApplication) {
    StartServer();
    OpenBand();
    auto dom = std::make_shared<TTestDom>();
    ComPtr<IHTMLDocument2> document =
        LoadTestDocument(dom, "<title>Archived page</title><body>text</body>", kArchived);
    Browser().SetDocument(document.Get());
    Navigate(kArchived);
    NewCalls();
    Click(GetParam().Image);
    EXPECT_TRUE(Called(NewCalls(), GetParam().Call)) << Utf8(GetParam().Call);
}

INSTANTIATE_TEST_SUITE_P(Commands, MainToolbarCommandTest, ::testing::ValuesIn(kCommands),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST_F(MainToolbarTest, PanelsShowTheArchiveData) {
    StartServer();
    OpenBand();
    Navigate(kArchived);
    const auto labels = Labels();
    // Comments colours come from the application once the form is active.
    EXPECT_EQ(std::make_pair(COLORREF(0x000000FF), COLORREF(0x0000FFFF)), Colors(labels[0]));
    EXPECT_EQ(COLORREF(0x00FFFFFF), Colors(labels[1]).second) << "status 1: the no-comments background";
    EXPECT_EQ(std::make_pair(COLORREF(0x00000000), COLORREF(0x00C0FFFF)), Colors(labels[2]))
        << "comments: the comments colours";

    ClickLabel(labels[2]);
    EXPECT_TRUE(Called(NewCalls(), L"34 ShowComments(2001)"));
    ClickLabel(labels[1]);
    EXPECT_TRUE(Called(NewCalls(), L"22 ShowDocumentProperties(\"http://archive.example/page\")"));
}

// The application changes a document's data; the form shows what concerns its page.
struct TDataChangeCase {
    const char* Name;
    const wchar_t* Url;
    LONG Id;
    bool Present;
    LONG Rating;
    const wchar_t* Caption;
    bool LabelsEnabled;
};

const TDataChangeCase kDataChanges[] = {
    {"ThisPage", kArchived, 2001, true, 4, L"  Rating: 4  ", true},
    {"AnotherPage", kArchived, 999, true, 4, L"  Rating: 3  ", true},
    {"LeftTheArchive", kArchived, 2001, false, 4, L"  Rating: 4  ", false},
    {"NewlyArchived", kNotArchived, 3000, true, 12, L"  Rating: 12  ", true},
};

class MainToolbarDataChangeTest : public MainToolbarTest, public ::testing::WithParamInterface<TDataChangeCase> {};

TEST_P(MainToolbarDataChangeTest, ShowsWhatConcernsThePage) {
    const TDataChangeCase& entry = GetParam();
    StartServer();
    OpenBand();
    Navigate(entry.Url);
    if (entry.Url == std::wstring(kNotArchived))
        Server->Archive().Documents[kNotArchived] = {3000, L"", 0, 0}; // archived since the page was shown
    TVariant present;
    V_VT(present.Ptr()) = VT_BOOL;
    V_BOOL(present.Ptr()) = entry.Present ? VARIANT_TRUE : VARIANT_FALSE;
    std::vector<TVariant> args; // last argument first
    args.emplace_back(static_cast<long>(entry.Rating));
    args.emplace_back(0L);
    args.emplace_back(L"New comment");
    args.push_back(std::move(present));
    args.emplace_back(static_cast<long>(entry.Id));
    Server->Fire(kOnDocumentDataChangeDispid, std::move(args));
    Pump();
    const auto labels = Labels();
    EXPECT_EQ(entry.Caption, Text(labels[0]));
    for (HWND label : labels)
        EXPECT_EQ(entry.LabelsEnabled, ::IsWindowEnabled(label) != FALSE);
}

INSTANTIATE_TEST_SUITE_P(DataChanges, MainToolbarDataChangeTest, ::testing::ValuesIn(kDataChanges),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST_F(MainToolbarTest, FrameNavigationKeepsThePage) {
    StartServer();
    OpenBand();
    Navigate(kArchived);
    ComPtr<TTestBrowser> frame = TTestBrowser::Create();
    Navigate(kNotArchived, frame.Get());
    EXPECT_EQ(L"  Rating: 3  ", Text(Labels()[0]));
    // The page's properties (a click on the Info label) are still those of the top-level page.
    NewCalls();
    ClickLabel(Labels()[1]);
    EXPECT_TRUE(Called(NewCalls(), L"22 ShowDocumentProperties(\"" + std::wstring(kArchived) + L"\")"));
}

TEST_F(MainToolbarTest, ConnectsWhenTheApplicationStartsAndStopsWhenItQuits) {
    OpenBand();
    Navigate(kArchived);
    EXPECT_TRUE(EnabledButtons().empty());
    AnnounceServer();
    EXPECT_TRUE(EnabledButtons().count(kCapture));
    Server->Fire(kOnQuitDispid, {});
    Pump();
    EXPECT_TRUE(EnabledButtons().empty());
    EXPECT_EQ(L"  Rating: 0  ", Text(Labels()[0]));
}

// Rating menu: one owner-drawn picture per rating; choosing one rates the page.
struct TMenuCase {
    const char* Name;
    long Count;
    int Expected;
};

const TMenuCase kRatingMenus[] = {
    {"None", 0, 0},
    {"One", 1, 1},
    {"Five", 5, 5},
    {"Negative", -7, 0},
    {"Huge", 2000000000, static_cast<int>(TMainIEToolBandForm::kMaxMenuItems)},
};

class MainToolbarRatingMenuTest : public MainToolbarTest, public ::testing::WithParamInterface<TMenuCase> {};

TEST_P(MainToolbarRatingMenuTest, OffersOnePicturePerRating) {
    Server->Archive().RatingCount = GetParam().Count;
    StartServer();
    OpenBand();
    Navigate(kArchived);
    const HWND rating = Labels()[0];
    NewCalls();
    TMenuProbe menu = ProbeMenu([&] { ClickLabel(rating); }, GetParam().Expected > 0 ? 0 : -1);
    EXPECT_EQ(GetParam().Expected > 0, menu.Opened);
    EXPECT_EQ(GetParam().Expected, menu.Count);
    if (GetParam().Expected > 0) {
        EXPECT_TRUE(std::all_of(menu.OwnerDrawn.begin(), menu.OwnerDrawn.end(), [](bool b) { return b; }));
        // A screen reader reads each picture's rating.
        EXPECT_EQ(L"Rating: 0", menu.AccessibleNames.front());
        EXPECT_EQ(L"Rating: " + std::to_wstring(GetParam().Expected - 1), menu.AccessibleNames.back());
        if (GetParam().Expected <= 5) { // a longer menu is moved to fit the screen
            RECT label{};
            ::GetWindowRect(rating, &label);
            EXPECT_EQ(label.left, menu.Position.x);
            EXPECT_EQ(label.bottom + 2, menu.Position.y);
        }
        EXPECT_TRUE(Called(NewCalls(), L"43 SetDocumentRating(2001, 0)"));
    }
}

INSTANTIATE_TEST_SUITE_P(RatingMenus, MainToolbarRatingMenuTest, ::testing::ValuesIn(kRatingMenus),
                         [](const auto& param) { return std::string(param.param.Name); });

const TMenuCase kDomainMenus[] = {
    {"None", 0, 0},
    {"One", 1, 1},
    {"Many", 40, 40},
    {"Thousands", 3000, static_cast<int>(TMainIEToolBandForm::kMaxMenuItems)},
};

class MainToolbarDomainMenuTest : public MainToolbarTest, public ::testing::WithParamInterface<TMenuCase> {};

TEST_P(MainToolbarDomainMenuTest, OffersTheApplicationsLinkPictures) {
    for (long id = 1; id <= GetParam().Count; ++id) {
        Server->Archive().DomainLinks[id] = L"http://archive.example/other" + std::to_wstring(id);
        Server->SetLinkPicture(nullptr, id, 120, 18, 0x00C08040);
    }
    StartServer();
    OpenBand();
    Navigate(kArchived);
    EXPECT_EQ(GetParam().Count > 0, EnabledButtons().count(kDomainLinks) == 1);
    if (GetParam().Count == 0)
        return;
    TMenuProbe menu = ProbeMenu([&] { Click(kDomainLinks); }, 0);
    EXPECT_EQ(GetParam().Expected, menu.Count);
    // A screen reader reads which picture of how many.
    const std::wstring of = L" of " + std::to_wstring(GetParam().Expected);
    EXPECT_EQ(L"Domain link 1" + of, menu.AccessibleNames.front());
    EXPECT_EQ(L"Domain link " + std::to_wstring(GetParam().Expected) + of, menu.AccessibleNames.back());
    ASSERT_FALSE(Browser().Navigations.empty());
    EXPECT_EQ(L"http://archive.example/other1", Browser().Navigations.back());
}

INSTANTIATE_TEST_SUITE_P(DomainMenus, MainToolbarDomainMenuTest, ::testing::ValuesIn(kDomainMenus),
                         [](const auto& param) { return std::string(param.param.Name); });

// An application slow to answer the calls a menu makes for each of its items (a few milliseconds each at
// least): the menu asks no longer than its time budget. The rating menu still offers every rating (those
// not asked for show in the default colours); the domain-links menu offers the links whose pictures it
// fetched, each fetched once for the opening (measuring and drawing ask nothing).
struct TSlowMenuCase {
    const char* Name;
    int Slot;           // the call made per item
    const wchar_t* Call; // its entry in the server's log
    bool EveryItem;     // every item is offered however few were asked for
};

const TSlowMenuCase kSlowMenus[] = {
    {"Ratings", 42, L"42 GetRatingColors(", true},
    {"DomainLinks", 14, L"14 GetLinkImage(", false},
};

TEST_F(MainToolbarTest, MenusOfASlowApplicationKeepToTheirTimeBudget) {
    const int most = static_cast<int>(TMainIEToolBandForm::kMaxMenuItems);
    Server->Archive().RatingCount = most;
    for (long id = 1; id <= most; ++id) {
        Server->Archive().DomainLinks[id] = L"http://archive.example/other" + std::to_wstring(id);
        Server->SetLinkPicture(nullptr, id, 120, 18, 0x00C08040);
    }
    StartServer();
    OpenBand();
    Navigate(kArchived);
    for (const TSlowMenuCase& slow : kSlowMenus) {
        SCOPED_TRACE(slow.Name);
        Server->OnServe = [&](int slot) -> HRESULT {
            if (slot == slow.Slot)
                ::Sleep(5);
            return S_OK;
        };
        NewCalls();
        const TMenuProbe menu = slow.Slot == 42 ? ProbeMenu([&] { ClickLabel(Labels()[0]); })
                                                : ProbeMenu([&] { Click(kDomainLinks); });
        Server->OnServe = nullptr;
        const auto calls = NewCalls();
        const auto asked = static_cast<int>(std::count_if(
            calls.begin(), calls.end(), [&](const std::wstring& call) { return call.starts_with(slow.Call); }));
        EXPECT_GE(asked, 1);
        EXPECT_LT(asked, most) << "the budget ran out before the last item";
        EXPECT_EQ(slow.EveryItem ? most : asked, menu.Count);
    }
}

} // namespace

namespace {

// Nothing the toolbar does over and over keeps a GDI or USER object.
TEST_F(MainToolbarTest, RepeatedWorkKeepsNoGdiOrUserObject) {
    for (long id = 1; id <= 8; ++id) {
        Server->Archive().DomainLinks[id] = L"http://archive.example/other" + std::to_wstring(id);
        Server->SetLinkPicture(nullptr, id, 120, 18, 0x00C08040);
    }
    StartServer();
    OpenBand();
    Navigate(kArchived);
    const HWND rating = Labels()[0];
    auto cycle = [&](int times) {
        for (int i = 0; i < times; ++i) {
            PostRefresh();
            Drain();
        }
        for (int i = 0; i < times / 10; ++i) {
            ProbeMenu([&] { ClickLabel(rating); });
            ProbeMenu([&] { Click(kDomainLinks); });
            Server->Fire(kOnQuitDispid, {});
            ::PostThreadMessageW(::GetCurrentThreadId(), kKeptorStartMessage, 0, 0);
            Drain();
            Navigate(i % 2 ? kArchived : kNotArchived);
        }
        Navigate(kArchived);
    };
    cycle(20); // warm-up: caches of the system and of the test double settle
    const TGuiObjectCounts before = GuiObjectCounts();
    {
        // The counts see one more brush and one more menu.
        TGdiObject brush(::CreateSolidBrush(RGB(1, 2, 3)));
        HMENU menu = ::CreatePopupMenu();
        const TGuiObjectCounts probe = GuiObjectCounts();
        ::DestroyMenu(menu);
        ASSERT_EQ(before.Gdi + 1, probe.Gdi);
        ASSERT_EQ(before.User + 1, probe.User);
    }
    cycle(1000);
    const TGuiObjectCounts after = GuiObjectCounts();
    std::printf("GDI objects %ld -> %ld, USER objects %ld -> %ld over 1000 refreshes, 100 openings of each menu "
                "and 100 reconnections\n",
                before.Gdi, after.Gdi, before.User, after.User);
    EXPECT_LE(after.Gdi, before.Gdi);
    EXPECT_LE(after.User, before.User);
}

} // namespace

namespace {

// The application is another process and may answer anything: the toolbar shows what it can, bounds
// what it builds, and a failing call leaves it inactive.
TEST_F(MainToolbarTest, HostileAnswersKeepTheToolbarSound) {
    Server->Archive().Documents[kArchived] = {2001, L"", 77, 2147483647};
    Server->Archive().RatingColors[2147483647] = {static_cast<long>(0xFFFFFFFF), static_cast<long>(0x7FFFFFFF)};
    Server->Archive().CommentColors[0] = -1;
    Server->Archive().CommentColors[1] = static_cast<long>(0x80000005); // the window system colour
    StartServer();
    OpenBand();
    Navigate(kArchived);
    const auto labels = Labels();
    EXPECT_EQ(L"  Rating: 2147483647  ", Text(labels[0]));
    EXPECT_EQ(COLORREF(0x00FFFFFF), Colors(labels[0]).second) << "out-of-range colours are cut to 24 bits";
    EXPECT_EQ(::GetSysColor(COLOR_WINDOW), Colors(labels[2]).second) << "a system colour code";
    EXPECT_EQ(COLORREF(0x00FFFFFF), Colors(labels[1]).second) << "status 77 leaves the card as it was";

    // A failing call counts as the application's loss: the form goes inactive and shows nothing.
    Server->FailNext(47, E_FAIL); // GetDocumentInfo
    Navigate(kNotArchived);
    EXPECT_FALSE(FormObject().Active());
    EXPECT_TRUE(EnabledButtons().empty());
    EXPECT_EQ(L"  Rating: 0  ", Text(Labels()[0]));
}

} // namespace

namespace {

// --- The keyboard ------------------------------------------------------------------------------------------

// Where the keyboard is: the window with the focus and, on a toolbar, the image of its hot button.
struct TKeyPlace {
    HWND Window = nullptr;
    int Image = -1;
    bool operator==(const TKeyPlace&) const = default;
};

class MainToolbarKeyboardTest : public MainToolbarTest {
protected:
    // Connected, on an archived page that has domain links, the band shown and given the focus by the
    // browser; the page has a window of its own.
    void Activate() {
        Server->Archive().DomainLinks[1] = L"http://archive.example/other1";
        Server->Archive().DomainLinks[2] = L"http://archive.example/other2";
        for (long id : {1L, 2L})
            Server->SetLinkPicture(nullptr, id, 120, 18, 0x00C08040);
        StartServer();
        OpenBand();
        ::ShowWindow(Opened->Site->Window(), SW_SHOWNA);
        PageWindow = ::CreateWindowExW(0, L"STATIC", L"page", WS_CHILD | WS_VISIBLE, 0, 40, 100, 100,
                                       Opened->Site->Window(), nullptr, nullptr, nullptr);
        Dom = std::make_shared<TTestDom>();
        Dom->Window = PageWindow;
        Document = LoadTestDocument(Dom, "<title>Archived page</title><body>text</body>", kArchived);
        Browser().SetDocument(Document.Get());
        Navigate(kArchived);
        ComPtr<IInputObject> input;
        ASSERT_EQ(S_OK, Opened->Band.As(&input));
        ASSERT_EQ(S_OK, input->UIActivateIO(TRUE, nullptr));
        NewCalls();
    }
    void TearDown() override {
        CloseBand();
        Document.Reset();
        if (PageWindow)
            ::DestroyWindow(PageWindow);
        MainToolbarTest::TearDown();
    }

    static TKeyPlace Place() {
        TKeyPlace place{::GetFocus(), -1};
        TBBUTTON button{};
        if (const int hot = FocusedHotIndex();
            hot >= 0 && ::SendMessageW(place.Window, TB_GETBUTTON, static_cast<WPARAM>(hot), reinterpret_cast<LPARAM>(&button)))
            place.Image = button.iBitmap;
        return place;
    }
    void Press(UINT key, bool alt = false) {
        ASSERT_NE(nullptr, ::GetFocus());
        PressKey(key, alt);
        Pump();
    }
    // From the first stop to the one showing this place, by Right.
    void GoTo(const TKeyPlace& target) {
        Press(VK_HOME);
        for (int moves = 0; moves < 40 && !(Place() == target); ++moves)
            Press(VK_RIGHT);
        ASSERT_TRUE(Place() == target) << "not reached by the keyboard";
    }
    TKeyPlace Button(int image) const {
        return TKeyPlace{image == kDomainLinks ? ToolBar2 : ToolBar1, image};
    }
    TKeyPlace Label(size_t index) const { return TKeyPlace{Labels()[index], -1}; }

    HWND PageWindow = nullptr;
    std::shared_ptr<TTestDom> Dom;
    ComPtr<IHTMLDocument2> Document;
};

TEST_F(MainToolbarKeyboardTest, ArrowsHomeAndEndWalkEveryButtonAndPanelAndEscapeReturnsToThePage) {
    Activate();
    // Left to right: the enabled buttons of the first toolbar, its three labels, "Domain links".
    std::vector<TKeyPlace> expected;
    const std::set<int> enabled = EnabledButtons();
    for (int image : {kEnable, kAddUrl, kBanner, kPopup, kHighlight, kLinkHint, kPopupSettings, kSearch, kCapture,
                      kOpenInternal})
        if (enabled.count(image))
            expected.push_back(Button(image));
    for (size_t label = 0; label < 3; ++label)
        expected.push_back(Label(label));
    expected.push_back(Button(kDomainLinks));
    ASSERT_GT(expected.size(), 10u);

    std::vector<TKeyPlace> walked{Place()};
    for (size_t step = 0; step < expected.size(); ++step) {
        Press(VK_RIGHT);
        walked.push_back(Place());
    }
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), walked.begin()));
    EXPECT_TRUE(walked.back() == expected.back()) << "Right stays on the last stop";
    Press(VK_LEFT);
    EXPECT_TRUE(Place() == expected[expected.size() - 2]);
    Press(VK_HOME);
    EXPECT_TRUE(Place() == expected.front());
    Press(VK_LEFT);
    EXPECT_TRUE(Place() == expected.front()) << "Left stays on the first stop";
    Press(VK_END);
    EXPECT_TRUE(Place() == expected.back());
    // The focus stayed in the band all along: the site heard of it once.
    ASSERT_EQ(1u, Opened->Site->FocusChanges.size());
    EXPECT_EQ(-1, Opened->Site->FocusChanges[0].second);
    EXPECT_TRUE(NewCalls().empty()) << "moving runs nothing";

    Press(VK_ESCAPE);
    EXPECT_EQ(PageWindow, ::GetFocus());
    ASSERT_EQ(2u, Opened->Site->FocusChanges.size());
    EXPECT_EQ(0, Opened->Site->FocusChanges[1].second);
    EXPECT_EQ(-1, static_cast<int>(::SendMessageW(ToolBar2, TB_GETHOTITEM, 0, 0))) << "no mark left behind";
}

TEST_F(MainToolbarKeyboardTest, ButtonsAndPanelsTheMouseReachesTheKeyboardReaches) {
    struct TKeyCase {
        const char* Name;
        int Image;   // a button, or -1 for the label at LabelIndex
        size_t LabelIndex;
        UINT Key;
        bool Alt;
        const wchar_t* Call;
    };
    const TKeyCase cases[] = {
        {"AddUrlByEnter", kAddUrl, 0, VK_RETURN, false,
         L"8 AddDocumentToRubric(\"Archived page\", \"http://archive.example/page\", \"\", \"\", false)"},
        {"SearchBySpace", kSearch, 0, VK_SPACE, false, L"21 ShowLinkSearch()"},
        {"PopupSettingsByEnter", kPopupSettings, 0, VK_RETURN, false,
         L"20 ShowPopupKillerSettings(\"http://archive.example/page\")"},
        {"OpenInternalBySpace", kOpenInternal, 0, VK_SPACE, false, L"11 GetInternalBrowser(true)"},
        {"CardByEnter", -1, 1, VK_RETURN, false, L"22 ShowDocumentProperties(\"http://archive.example/page\")"},
        {"CommentsBySpace", -1, 2, VK_SPACE, false, L"34 ShowComments(2001)"},
        {"DownOnAPlainButtonRunsNothing", kSearch, 0, VK_DOWN, false, nullptr},
    };
    Activate();
    for (const TKeyCase& entry : cases) {
        SCOPED_TRACE(entry.Name);
        GoTo(entry.Image >= 0 ? Button(entry.Image) : Label(entry.LabelIndex));
        NewCalls();
        Press(entry.Key, entry.Alt);
        const auto calls = NewCalls();
        if (entry.Call)
            EXPECT_TRUE(Called(calls, entry.Call)) << Utf8(entry.Call);
        else
            EXPECT_TRUE(calls.empty());
    }
}

TEST_F(MainToolbarKeyboardTest, EnterAndDownOpenTheMenusBelowTheirControlAndTheKeyboardChooses) {
    Activate();
    const struct {
        const char* Name;
        UINT Key;
        bool Alt;
    } keys[] = {{"Enter", VK_RETURN, false}, {"Down", VK_DOWN, false}, {"AltDown", VK_DOWN, true}};
    for (const auto& key : keys) {
        SCOPED_TRACE(key.Name);
        // The rating menu, below its label; the second rating chosen.
        GoTo(Label(0));
        NewCalls();
        TMenuProbe menu = ProbeMenu([&] { Press(key.Key, key.Alt); }, 1);
        ASSERT_TRUE(menu.Opened);
        RECT label{};
        ::GetWindowRect(Labels()[0], &label);
        EXPECT_EQ(label.left, menu.Position.x);
        EXPECT_EQ(label.bottom + 2, menu.Position.y);
        EXPECT_TRUE(Called(NewCalls(), L"43 SetDocumentRating(2001, 1)"));
        EXPECT_TRUE(Place() == Label(0)) << "the focus stays where the menu came from";

        // "Domain links", below the button wherever the mouse is; the second link chosen.
        ::SetCursorPos(0, 0);
        GoTo(Button(kDomainLinks));
        Browser().Navigations.clear();
        menu = ProbeMenu([&] { Press(key.Key, key.Alt); }, 1);
        ASSERT_TRUE(menu.Opened);
        HWND bar = nullptr;
        RECT button{};
        ASSERT_TRUE(FindToolbarButton(Form, kDomainLinks, bar, button));
        ::MapWindowPoints(bar, nullptr, reinterpret_cast<POINT*>(&button), 2);
        EXPECT_EQ(button.left, menu.Position.x);
        EXPECT_EQ(button.bottom, menu.Position.y);
        EXPECT_EQ(std::vector<std::wstring>{L"http://archive.example/other2"}, Browser().Navigations);
    }
}

} // namespace
