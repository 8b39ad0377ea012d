// The hints: the placement rule of both hint windows, the main toolbar's button hints and page card
// hint, the GUI data module's link-hint sequence, and the link-hint automation object through COM.
//
// The hover logic is driven deterministically: the mouse moves are the window messages the system
// would send, the cursor and the window under it come from a test desktop, and the timers' handlers
// are called directly where the test is about their logic. A few tests wait in real time for what only
// the real timers do (the card hint and the automation objects of the registered library).
#include <windows.h>
#include <commctrl.h>
#include <exdispid.h>
#include <wrl/client.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "KeptorServerUnit.h"
#include "band/ZorbexExplorerBarUnit.h"
#include "com/ComObjectUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ZorbexGUI_TLB.h"
#include "library/IEHelperBHOGUIUnit.h"
#include "page/ServerImageUnit.h"
#include "server/BHOMngUnit.h"
#include "server/ServerWrapperUnit.h"
#include "support/BrowserHostUnit.h"
#include "support/KeptorProcessUnit.h"
#include "support/ClassProbes.h"
#include "support/TestSupport.h"
#include "support/ToolbarProbeUnit.h"
#include "ui/DataModuleUnit.h"
#include "ui/HintDesktopUnit.h"
#include "ui/MainIEToolBandFormUnit.h"

// Rectangles compared and printed by the test macros.
inline bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline void PrintTo(const RECT& rect, std::ostream* out) {
    *out << "{" << rect.left << ", " << rect.top << ", " << rect.right << ", " << rect.bottom << "}";
}

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;
using keptor::TKeptorServer;

namespace {

constexpr int kAddUrl = 0, kSearch = 3, kHighlight = 6, kCapture = 17, kDomainLinks = 14;
constexpr DISPID kOnQuitDispid = 201;

const wchar_t kArchived[] = L"http://archive.example/page";
const wchar_t kNotArchived[] = L"http://new.example/page";
const wchar_t kLink[] = L"http://archive.example/linked";

// The desktop the hint windows see in a test: a cursor, the window under it, a screen.
class TTestDesktop : public THintDesktop {
public:
    TTestDesktop() { Replace(this); }
    ~TTestDesktop() override { Replace(nullptr); }
    POINT CursorPos() const override { return Cursor; }
    HWND WindowAt(POINT) const override { return Under; }
    RECT VirtualScreen() const override { return Screen; }

    POINT Cursor{5000, 5000};
    HWND Under = nullptr;
    RECT Screen{0, 0, 1024, 768};
};

struct TWindowFacts {
    bool Visible = false;
    RECT Rect{};
    std::wstring Text;
    LONG_PTR ExStyle = 0;
};

TWindowFacts Facts(HWND window) {
    TWindowFacts facts;
    if (!window || !::IsWindow(window))
        return facts;
    facts.Visible = ::IsWindowVisible(window) != FALSE;
    ::GetWindowRect(window, &facts.Rect);
    wchar_t text[512]{};
    ::GetWindowTextW(window, text, 512);
    facts.Text = text;
    facts.ExStyle = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
    return facts;
}

BOOL CALLBACK CollectLinkHint(HWND window, LPARAM list) {
    wchar_t text[64]{};
    ::GetWindowTextW(window, text, 64);
    if (std::wstring(text) == L"Keptor hint")
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// The top-level windows of this thread titled "Keptor hint".
std::vector<HWND> LinkHintWindows() {
    std::vector<HWND> windows;
    ::EnumThreadWindows(::GetCurrentThreadId(), CollectLinkHint, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> VisibleLinkHints() {
    std::vector<HWND> windows = LinkHintWindows();
    std::erase_if(windows, [](HWND window) { return !::IsWindowVisible(window); });
    return windows;
}

// The blend value of a layered window, or -1 when the window is not alpha-blended.
int BlendValue(HWND window) {
    if (!(::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_LAYERED))
        return -1;
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    if (!::GetLayeredWindowAttributes(window, &key, &alpha, &flags) || !(flags & LWA_ALPHA))
        return -1;
    return alpha;
}

void ExpectHintStyles(HWND window) {
    const LONG_PTR exStyle = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
    EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
    EXPECT_FALSE(exStyle & WS_EX_APPWINDOW);
    EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
    EXPECT_EQ(nullptr, ::GetWindow(window, GW_OWNER));
    EXPECT_EQ(nullptr, ::GetParent(window));
    EXPECT_NE(window, ::GetActiveWindow()) << "shown without activation";
    DWORD process = 0;
    EXPECT_EQ(::GetCurrentThreadId(), ::GetWindowThreadProcessId(window, &process));
}

// --- The placement rule ------------------------------------------------------------------------------

struct TPlacementCase {
    const char* Name;
    RECT Screen;
    POINT Point;
    SIZE Window;
    POINT Expected;
};

const TPlacementCase kPlacements[] = {
    {"Centred20Below", {0, 0, 1024, 768}, {500, 300}, {101, 20}, {450, 320}},
    {"NearTheTop", {0, 0, 1024, 768}, {500, 0}, {100, 20}, {450, 20}},
    {"BottomEdgeOpensAbove", {0, 0, 1024, 768}, {500, 760}, {100, 20}, {450, 738}},
    {"BottomEdgeMoreRoomBelowStays", {0, 0, 1024, 768}, {500, 300}, {100, 500}, {450, 320}},
    {"RightEdgeEndsAtTheRight", {0, 0, 1024, 768}, {1010, 300}, {100, 20}, {924, 320}},
    {"LeftEdgeStartsAtTheLeft", {0, 0, 1024, 768}, {10, 300}, {100, 20}, {0, 320}},
    {"WiderThanTheScreen", {0, 0, 1024, 768}, {500, 300}, {1024, 20}, {0, 320}},
    {"MonitorLeftOfThePrimary", {-1280, 0, 1024, 768}, {-1270, 300}, {100, 20}, {-1280, 320}},
    {"MonitorLeftOfThePrimaryRightEdge", {-1280, 0, 1024, 768}, {1020, 300}, {100, 20}, {924, 320}},
    {"MonitorAboveThePrimary", {0, -768, 1024, 768}, {500, 760}, {100, 20}, {450, 738}},
    {"HostilePoint", {0, 0, 1024, 768}, {INT_MIN, INT_MAX}, {100, 20}, {0, 0x7FFF - 2 - 20}},
};

class PlacementTest : public TComTest, public ::testing::WithParamInterface<TPlacementCase> {};

TEST_P(PlacementTest, PlacesTheWindowByTheRule) {
    const TPlacementCase& row = GetParam();
    const POINT at = HintWindowPosition(row.Point, row.Window.cx, row.Window.cy, row.Screen);
    EXPECT_EQ(row.Expected.x, at.x);
    EXPECT_EQ(row.Expected.y, at.y);
}

INSTANTIATE_TEST_SUITE_P(Edges, PlacementTest, ::testing::ValuesIn(kPlacements),
                         [](const auto& row) { return std::string(row.param.Name); });

class HintWindowTest : public TComTest {};

TEST_F(HintWindowTest, PlaceHintWindowShowsTopmostWithoutActivationWithinTheScreen) {
    TTestDesktop desktop;
    desktop.Screen = RECT{0, 0, 640, 480};
    TWindowHandle window(::CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 80, 30, nullptr, nullptr,
                                           nullptr, nullptr));
    ASSERT_TRUE(window);
    PlaceHintWindow(window.Get(), POINT{630, 470});
    TWindowFacts facts = Facts(window.Get());
    EXPECT_TRUE(facts.Visible);
    EXPECT_EQ((RECT{560, 438, 640, 468}), facts.Rect) << "pushed left, opened above the cursor";
    ExpectHintStyles(window.Get());

    // A window larger than the screen is cut to it.
    ::SetWindowPos(window.Get(), nullptr, 0, 0, 5000, 3000, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    PlaceHintWindow(window.Get(), POINT{100, 100});
    facts = Facts(window.Get());
    EXPECT_EQ(640, facts.Rect.right - facts.Rect.left);
    EXPECT_EQ(480, facts.Rect.bottom - facts.Rect.top);
    EXPECT_EQ(0, facts.Rect.left);
}

// --- The reference server's link previews -----------------------------------------------------------

TEST_F(HintWindowTest, ReferenceServerPreviewsAnyUrlWhenAsked) {
    ComPtr<TKeptorServer> server = TKeptorServer::Create();
    TBitmap picture;
    EXPECT_FALSE(GetServerImage(server.Get(), kLink, -1, false, picture)) << "off by default: not found";
    server->Archive().PreviewAnyUrl = true;
    ASSERT_TRUE(GetServerImage(server.Get(), kLink, -1, false, picture));
    EXPECT_EQ(220, picture.Width());
    EXPECT_EQ(64, picture.Height());
    TBitmap other;
    EXPECT_FALSE(GetServerImage(server.Get(), kLink, 3, false, other)) << "only the link preview, index -1";
    EXPECT_FALSE(GetServerImage(server.Get(), L"", -1, false, other)) << "no preview without a URL";
    server->SeedDemoArchive();
    EXPECT_TRUE(server->Archive().PreviewAnyUrl) << "the demo previews every link";
}

// --- The GUI data module -----------------------------------------------------------------------------

class DataModuleTest : public TComTest {
protected:
    void SetUp() override {
        Server = TKeptorServer::Create();
        Server->Archive().Hint = {-1, 400, 3000};
        Server->SetLinkPicture(TBStr(kLink).Get(), -1, 150, 40, 0x00C08040);
        Module = std::make_unique<TGUIDataModule>();
    }
    void TearDown() override {
        Module.reset();
        Server.Reset();
        EXPECT_TRUE(LinkHintWindows().empty()) << "a hint window outlived its data module";
        TComTest::TearDown();
    }

    void Request(LONG x, LONG y, const std::wstring& url = kLink) {
        Module->ShowLinkHint(nullptr, x, y, url, static_cast<IGUIServer*>(Server.Get()));
    }
    size_t Calls(const std::wstring& call) const {
        const auto& log = Server->CallLog();
        return static_cast<size_t>(std::count(log.begin(), log.end(), call));
    }
    // The module's hint window: the one window of this thread titled "Keptor hint".
    static HWND HintWindow() {
        const std::vector<HWND> windows = LinkHintWindows();
        return windows.size() == 1 ? windows[0] : nullptr;
    }
    static bool Showing() { return Facts(HintWindow()).Visible; }
    // What the window does not show: the module's timer and the server it holds for a pending request.
    bool TimerRunning() const { return TGUIDataModuleProbe::TimerRunning(*Module); }
    UINT TimerInterval() const { return TGUIDataModuleProbe::TimerInterval(*Module); }
    bool HoldsServer() const { return TGUIDataModuleProbe::HoldsServer(*Module); }

    TTestDesktop Desktop;
    ComPtr<TKeptorServer> Server;
    std::unique_ptr<TGUIDataModule> Module;
};

TEST_F(DataModuleTest, ShowsThePictureAfterTheShowDelayForTheHideDelay) {
    HWND window = HintWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(L"Keptor hint", Facts(window).Text);
    EXPECT_FALSE(Facts(window).Visible);
    EXPECT_FALSE(TimerRunning()) << "stopped at creation";

    Request(300, 200);
    EXPECT_EQ(1u, Calls(L"15 GetHintSettings()"));
    EXPECT_TRUE(TimerRunning());
    EXPECT_EQ(400u, TimerInterval());
    EXPECT_TRUE(HoldsServer());
    EXPECT_FALSE(Facts(window).Visible);

    Module->Tick();
    EXPECT_EQ(1u, Calls(L"14 GetLinkImage(\"" + std::wstring(kLink) + L"\", -1, false)"));
    TWindowFacts facts = Facts(window);
    EXPECT_TRUE(facts.Visible);
    EXPECT_TRUE(Showing());
    EXPECT_FALSE(HoldsServer()) << "one request shows its picture once";
    EXPECT_EQ((RECT{224, 220, 376, 262}), facts.Rect) << "the picture and its 1-pixel border, placed by the rule";
    ExpectHintStyles(window);
    EXPECT_TRUE(TimerRunning());
    EXPECT_EQ(3000u, TimerInterval());

    // A shown hint does not move.
    Module->MoveLinkHint(600, 600);
    EXPECT_EQ(facts.Rect, Facts(window).Rect);

    Module->Tick();
    EXPECT_FALSE(Facts(window).Visible);
    EXPECT_FALSE(Showing());
    EXPECT_FALSE(TimerRunning());
}

struct TAlphaCase {
    const char* Name;
    LONG Alpha;
    int Blend; // -1: opaque, not layered
};

const TAlphaCase kAlphas[] = {
    {"Opaque", -1, -1},       {"LowByteOf0x1C8", 0x1C8, 200}, {"Transparent", 0, 0},
    {"Full", 255, 255},       {"Largest", LONG_MAX, 255},     {"MostNegative", LONG_MIN, -1},
};

class DataModuleAlphaTest : public DataModuleTest, public ::testing::WithParamInterface<TAlphaCase> {};

TEST_P(DataModuleAlphaTest, BlendsExactlyWhenTheApplicationAsks) {
    Server->Archive().Hint.Alpha = GetParam().Alpha;
    // Twice: a window blended by the first showing is opaque again when the second asks for it.
    for (LONG first : {LONG{100}, LONG{-1}}) {
        Server->Archive().Hint.Alpha = first;
        Request(100, 100);
        Module->Tick();
        Module->HideLinkHint();
        Server->Archive().Hint.Alpha = GetParam().Alpha;
        Request(100, 100);
        Module->Tick();
        ASSERT_TRUE(Showing());
        EXPECT_EQ(GetParam().Blend, BlendValue(HintWindow())) << "after a showing with alpha " << first;
        Module->HideLinkHint();
    }
}

INSTANTIATE_TEST_SUITE_P(Alphas, DataModuleAlphaTest, ::testing::ValuesIn(kAlphas),
                         [](const auto& row) { return std::string(row.param.Name); });

TEST_F(DataModuleTest, MouseOutBeforeTheDelayShowsNothing) {
    Request(300, 200);
    Module->HideLinkHint();
    EXPECT_FALSE(TimerRunning());
    EXPECT_FALSE(HoldsServer());
    Module->Tick(); // a tick that was already on its way
    EXPECT_FALSE(Facts(HintWindow()).Visible);
    EXPECT_EQ(0u, Calls(L"14 GetLinkImage(\"" + std::wstring(kLink) + L"\", -1, false)"));
}

TEST_F(DataModuleTest, ShowsAtTheLastPointReportedDuringTheDelay) {
    Request(100, 100);
    Module->MoveLinkHint(200, 150);
    Module->MoveLinkHint(700, 300);
    Module->Tick();
    const RECT rect = Facts(HintWindow()).Rect;
    EXPECT_EQ(700 - 76, rect.left);
    EXPECT_EQ(320, rect.top);
}

TEST_F(DataModuleTest, SecondRequestWhileShownHidesAndTheThirdShows) {
    Request(100, 100);
    Module->Tick();
    ASSERT_TRUE(Showing());
    Server->Archive().Hint.ShowDelay = 250;
    Request(400, 400, kArchived);
    EXPECT_TRUE(Facts(HintWindow()).Visible) << "still shown until the next tick";
    EXPECT_EQ(250u, TimerInterval());
    Module->Tick();
    EXPECT_FALSE(Facts(HintWindow()).Visible);
    EXPECT_FALSE(HoldsServer());
    EXPECT_EQ(0u, Calls(L"14 GetLinkImage(\"" + std::wstring(kArchived) + L"\", -1, false)")) << "the second shows nothing";

    Request(400, 400);
    Module->Tick();
    EXPECT_TRUE(Facts(HintWindow()).Visible);
}

struct TDelayCase {
    const char* Name;
    LONG Show;
    LONG Hide;
    UINT ShowExpected;
    UINT HideExpected;
};

const TDelayCase kDelays[] = {
    {"Usual", 500, 4000, 500, 4000},
    {"Negative", -1, -100000, 0, 0},
    {"Enormous", LONG_MAX, 86400000, TGUIDataModule::kMaxDelay, TGUIDataModule::kMaxDelay},
    {"MostNegative", LONG_MIN, LONG_MIN, 0, 0},
};

class DataModuleDelayTest : public DataModuleTest, public ::testing::WithParamInterface<TDelayCase> {};

TEST_P(DataModuleDelayTest, KeepsTheDelaysWithinBounds) {
    Server->Archive().Hint.ShowDelay = GetParam().Show;
    Server->Archive().Hint.HideDelay = GetParam().Hide;
    Request(100, 100);
    EXPECT_EQ(GetParam().ShowExpected, TimerInterval());
    Module->Tick();
    ASSERT_TRUE(Showing());
    EXPECT_EQ(GetParam().HideExpected, TimerInterval());
}

INSTANTIATE_TEST_SUITE_P(Delays, DataModuleDelayTest, ::testing::ValuesIn(kDelays),
                         [](const auto& row) { return std::string(row.param.Name); });

// A request that cannot show: nothing is pending or shown afterwards, and no server stays held.
struct TBadCase {
    const char* Name;
    std::function<void(TKeptorServer&)> Prepare;
    bool ServerObject; // pass the server itself; otherwise an object that is no IGUIServer
    bool NilServer;
};

const TBadCase kBadRequests[] = {
    {"NilServer", nullptr, true, true},
    {"NotAServer", nullptr, false, false},
    {"SettingsFail", [](TKeptorServer& s) { s.FailNext(15, E_FAIL); }, true, false},
    {"PictureFails", [](TKeptorServer& s) { s.FailAlways(14, RPC_E_DISCONNECTED); }, true, false},
    {"PictureNotFound", [](TKeptorServer& s) { s.Archive().LinkImages.clear(); }, true, false},
    {"NotABitmap",
     [](TKeptorServer& s) {
         s.Archive().LinkImages[{kLink, -1}] = {VARIANT_TRUE, keptor::MakeByteArray({'B', 'M', 1, 2, 3, 4})};
     },
     true, false},
    {"NotAnArray", [](TKeptorServer& s) { s.Archive().LinkImages[{kLink, -1}] = {VARIANT_TRUE, TVariant(42L)}; }, true, false},
};

class DataModuleBadRequestTest : public DataModuleTest, public ::testing::WithParamInterface<TBadCase> {};

TEST_P(DataModuleBadRequestTest, LeavesTheHintHidden) {
    const TBadCase& row = GetParam();
    if (row.Prepare)
        row.Prepare(*Server.Get());
    ComPtr<TTestSite> unrelated = TTestSite::Create();
    IUnknown* server = nullptr;
    if (!row.NilServer)
        server = row.ServerObject ? static_cast<IUnknown*>(static_cast<IGUIServer*>(Server.Get()))
                                  : static_cast<IUnknown*>(static_cast<IOleWindow*>(unrelated.Get()));
    Module->ShowLinkHint(nullptr, 100, 100, kLink, server);
    Module->Tick();
    EXPECT_FALSE(Showing());
    EXPECT_FALSE(Facts(HintWindow()).Visible);
    EXPECT_FALSE(HoldsServer());
    EXPECT_FALSE(TimerRunning());
    Server->ClearFailures();
}

INSTANTIATE_TEST_SUITE_P(BadRequests, DataModuleBadRequestTest, ::testing::ValuesIn(kBadRequests),
                         [](const auto& row) { return std::string(row.param.Name); });

TEST_F(DataModuleTest, AnEnormousPictureIsCutToTheScreen) {
    Server->SetLinkPicture(TBStr(kLink).Get(), -1, 3000, 2000, 0x00408040);
    Request(100, 100);
    Module->Tick();
    ASSERT_TRUE(Showing());
    const RECT rect = Facts(HintWindow()).Rect;
    EXPECT_EQ(1024, rect.right - rect.left);
    EXPECT_EQ(768, rect.bottom - rect.top);
    EXPECT_EQ(0, rect.left);
}

TEST_F(DataModuleTest, FreedWhileShownTakesItsWindow) {
    Request(100, 100);
    Module->Tick();
    const HWND window = HintWindow();
    ASSERT_TRUE(Facts(window).Visible);
    Module.reset();
    EXPECT_FALSE(::IsWindow(window));
}

// What the application's answer lets in (the helper object asking again, hiding, or going) runs before
// the reference server answers GetLinkImage (14) or GetHintSettings (15).
TEST_F(DataModuleTest, WhatHappensWhileTheApplicationAnswersWins) {
    constexpr long kImageSlot = 14, kSettingsSlot = 15;
    auto request = [&] { Request(100, 100); };

    // Hidden while the picture was fetched: nothing shows.
    request();
    Server->RunBeforeAnswer(kImageSlot, [&] { Module->HideLinkHint(); });
    Module->Tick();
    EXPECT_FALSE(Facts(HintWindow()).Visible);

    // Asked again meanwhile: the old picture does not show, the new request goes on.
    request();
    Server->RunBeforeAnswer(kImageSlot, [&] { request(); });
    Module->Tick();
    EXPECT_FALSE(Showing());
    EXPECT_TRUE(TimerRunning());
    EXPECT_TRUE(HoldsServer());
    Module->Tick();
    EXPECT_TRUE(Showing());
    Module->HideLinkHint();

    // Hidden while the settings were asked: no timer, no server.
    Server->RunBeforeAnswer(kSettingsSlot, [&] { Module->HideLinkHint(); });
    request();
    EXPECT_FALSE(TimerRunning());

    // Freed while its own tick fetches the picture: the tick ends quietly, the window goes.
    request();
    const HWND window = HintWindow();
    Server->RunBeforeAnswer(kImageSlot, [&] { Module.reset(); });
    const LRESULT handled = ::SendMessageW(window, WM_TIMER, 1, 0); // the timer's own message, as it comes
    EXPECT_EQ(0, handled);
    EXPECT_FALSE(Module);
    EXPECT_FALSE(::IsWindow(window));
}

TEST_F(DataModuleTest, ServerThatDiesBeforeTheTickShowsNothing) {
    TKeptorProcess keptor;
    ASSERT_TRUE(keptor.Started());
    ASSERT_EQ(S_OK, keptor.Control()->SetLinkPicture(TBStr(kLink).Get(), -1, 100, 30, 0x00FF0000));
    ComPtr<IGUIServer> remote = keptor.Server();
    ASSERT_TRUE(remote);
    Module->ShowLinkHint(nullptr, 100, 100, kLink, remote.Get());
    ASSERT_TRUE(TimerRunning());
    remote.Reset();
    keptor.Kill();
    Module->Tick();
    EXPECT_FALSE(Showing());
    EXPECT_FALSE(Facts(HintWindow()).Visible);
    EXPECT_FALSE(HoldsServer());
}

TEST_F(DataModuleTest, ThousandShowingsKeepNoGdiOrUserObject) {
    auto cycle = [&](int times) {
        for (int i = 0; i < times; ++i) {
            Request(100 + i % 50, 100);
            Module->Tick();
            Module->Tick();
        }
    };
    cycle(20);
    const TGuiObjectCounts before = GuiObjectCounts();
    cycle(1000);
    const TGuiObjectCounts after = GuiObjectCounts();
    std::printf("GDI objects %ld -> %ld, USER objects %ld -> %ld over 1000 link hint showings\n", before.Gdi,
                after.Gdi, before.User, after.User);
    EXPECT_LE(after.Gdi, before.Gdi);
    EXPECT_LE(after.User, before.User);
}

// --- The link-hint automation object -----------------------------------------------------------------

class HelperObjectTest : public TComTest {
protected:
    void SetUp() override {
        Server = TKeptorServer::Create();
        Server->Archive().Hint = {0x1C8, 20, 60000};
        Server->Archive().PreviewAnyUrl = true;
    }
    void TearDown() override {
        Server.Reset();
        EXPECT_TRUE(LinkHintWindows().empty()) << "a hint window outlived its object";
        TComTest::TearDown();
    }
    // An object of the registered library, as the browser helper object creates it.
    static ComPtr<IIEHelperBHOGUI> CreateHelper() {
        ComPtr<IIEHelperBHOGUI> helper;
        EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_IEHelperBHOGUI, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&helper)));
        return helper;
    }
    HRESULT Over(IIEHelperBHOGUI* helper, LONG x, LONG y, const wchar_t* url) {
        TBStr text(url);
        return helper->MouseOverLink(0, x, y, text.Get(), static_cast<IGUIServer*>(Server.Get()));
    }
    // Waits in real time until `count` link hints show (the delay is 20 ms; the wait is generous).
    static std::vector<HWND> WaitForHints(size_t count) {
        for (int waited = 0; waited < 3000 && VisibleLinkHints().size() < count; waited += 20)
            PumpMessages(20);
        return VisibleLinkHints();
    }

    ComPtr<TKeptorServer> Server;
};

TEST_F(HelperObjectTest, ForwardsToItsOwnDataModule) {
    TTestDesktop desktop;
    ComPtr<IIEHelperBHOGUI> helper = TakeCreated<IIEHelperBHOGUI>(TIEHelperBHOGUI::CreateObject());
    TGUIDataModule& module = TIEHelperBHOGUIProbe::DataModule(*static_cast<TIEHelperBHOGUI*>(helper.Get()));
    const std::vector<HWND> windows = LinkHintWindows();
    ASSERT_EQ(1u, windows.size());
    const HWND window = windows[0];
    EXPECT_EQ(S_OK, Over(helper.Get(), 10, 20, kLink));
    EXPECT_TRUE(TGUIDataModuleProbe::TimerRunning(module));
    EXPECT_EQ(S_OK, helper->MouseMove(300, 400));
    module.Tick();
    const TWindowFacts facts = Facts(window);
    EXPECT_TRUE(facts.Visible);
    const auto& log = Server->CallLog();
    EXPECT_EQ(1, std::count(log.begin(), log.end(), L"14 GetLinkImage(\"" + std::wstring(kLink) + L"\", -1, false)"))
        << "the picture of the URL it was given";
    const POINT expected = HintWindowPosition(POINT{300, 400}, facts.Rect.right - facts.Rect.left,
                                              facts.Rect.bottom - facts.Rect.top, desktop.Screen);
    EXPECT_EQ(expected.x, facts.Rect.left) << "shown at the last point it was told";
    EXPECT_EQ(expected.y, facts.Rect.top);
    EXPECT_EQ(200, BlendValue(window));
    EXPECT_EQ(S_OK, helper->MouseOutLink());
    EXPECT_FALSE(Facts(window).Visible);
    EXPECT_FALSE(TGUIDataModuleProbe::TimerRunning(module));
    // A URL that is no string at all, and no server: accepted, nothing shown.
    EXPECT_EQ(S_OK, helper->MouseOverLink(0, 1, 2, nullptr, nullptr));
    EXPECT_FALSE(TGUIDataModuleProbe::TimerRunning(module));
}

TEST_F(HelperObjectTest, MouseOutWithoutMouseOverHidesNothing) {
    ComPtr<IIEHelperBHOGUI> first = CreateHelper(), second = CreateHelper();
    ASSERT_TRUE(first && second);
    ASSERT_EQ(S_OK, Over(first.Get(), 100, 100, kLink));
    ASSERT_EQ(1u, WaitForHints(1).size());
    EXPECT_EQ(S_OK, second->MouseOutLink());
    EXPECT_EQ(S_OK, second->MouseMove(5, 5));
    EXPECT_EQ(1u, VisibleLinkHints().size()) << "the other object's hint stays";
}

TEST_F(HelperObjectTest, TwoObjectsShowIndependentHints) {
    ComPtr<IIEHelperBHOGUI> first = CreateHelper(), second = CreateHelper();
    ASSERT_TRUE(first && second);
    ASSERT_EQ(S_OK, Over(first.Get(), 100, 100, kLink));
    ASSERT_EQ(S_OK, Over(second.Get(), 400, 300, kArchived));
    const std::vector<HWND> shown = WaitForHints(2);
    ASSERT_EQ(2u, shown.size());
    for (HWND window : shown) {
        const TWindowFacts facts = Facts(window);
        EXPECT_EQ(222, facts.Rect.right - facts.Rect.left) << "the preview and its border";
        EXPECT_EQ(66, facts.Rect.bottom - facts.Rect.top);
        EXPECT_EQ(200, BlendValue(window)) << "alpha 0x1C8 blends with 200";
        ExpectHintStyles(window);
    }
    EXPECT_EQ(S_OK, first->MouseOutLink());
    const std::vector<HWND> left = VisibleLinkHints();
    ASSERT_EQ(1u, left.size()) << "hiding one does not hide the other";
    RECT rect{};
    ::GetWindowRect(left[0], &rect);
    EXPECT_EQ(320, rect.top) << "the second object's hint, 20 pixels below its point";

    // Released while its hint shows: the window goes with it.
    second.Reset();
    EXPECT_TRUE(VisibleLinkHints().empty());
    first.Reset();
}

TEST_F(HelperObjectTest, AnswersThroughItsDispatchInterface) {
    ComPtr<IIEHelperBHOGUI> helper = CreateHelper();
    ASSERT_TRUE(helper);
    TVariant args[5]; // in reverse order: server, URL, Y, X, HWND
    V_VT(args[0].Ptr()) = VT_UNKNOWN;
    V_UNKNOWN(args[0].Ptr()) = static_cast<IGUIServer*>(Server.Get());
    Server->AddRef();
    args[1] = TVariant(std::wstring(kLink));
    args[2] = TVariant(150L);
    args[3] = TVariant(120L);
    args[4] = TVariant(0L);
    VARIANT raw[5];
    for (int i = 0; i < 5; ++i)
        raw[i] = args[i].Get();
    DISPPARAMS params{raw, nullptr, 5, 0};
    EXPECT_EQ(S_OK, helper->Invoke(201, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                   nullptr));
    const std::vector<HWND> shown = WaitForHints(1);
    ASSERT_EQ(1u, shown.size());
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(S_OK, helper->Invoke(202, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr,
                                   nullptr));
    EXPECT_TRUE(VisibleLinkHints().empty());
}

// --- The main toolbar's hints ------------------------------------------------------------------------

class ToolbarHintTest : public TComTest {
protected:
    void SetUp() override {
        SetEverySwitch(true);
        Server = TKeptorServer::Create();
        auto& archive = Server->Archive();
        archive.Documents[kArchived] = {2001, L"Read later", 1, 3};
        archive.Documents[kLink] = {2002, L"", 0, 1};
        archive.DomainLinks[7] = L"http://archive.example/other";
        archive.CurrentRubricName = L"Reading";
        archive.Hint = {-1, 20, 60000};
        archive.PreviewAnyUrl = true;
        ASSERT_EQ(S_OK, Server->RegisterRunning());
        Opened.emplace(TakeCreated<IDeskBand>(TZorbexExplorerBar::CreateObject()));
        ASSERT_EQ(S_OK, Opened->SiteResult);
        Form = Opened->Window();
        ToolBar1 = ::FindWindowExW(Form, nullptr, TOOLBARCLASSNAMEW, nullptr);
        ToolBar2 = ::FindWindowExW(Form, ToolBar1, TOOLBARCLASSNAMEW, nullptr);
        ASSERT_TRUE(ToolBar1 && ToolBar2);
        Navigate(kArchived);
        ASSERT_TRUE(FormObject().Active());
    }
    void TearDown() override {
        Opened.reset();
        PumpMessages(30);
        EXPECT_TRUE(LinkHintWindows().empty()) << "the card hint outlived the toolbar";
        if (Server) {
            Server->RevokeRunning();
            Server.Reset();
        }
        EXPECT_EQ(nullptr, TServerWrapperProbe::Current());
        TComTest::TearDown();
    }

    // What the windows do not show: the hover state, the timers, the card hint's object; and the timers'
    // handlers, run at once.
    TMainIEToolBandFormProbe FormObject() {
        return TMainIEToolBandFormProbe(
            *static_cast<TMainIEToolBandForm*>(static_cast<TZorbexExplorerBar*>(Opened->Band.Get())->Form()));
    }
    TToolbarDM& Timers() { return FormObject().Timers(); }
    HWND HintWindow() { return FormObject().ButtonHintWindow(); }

    void Navigate(const std::wstring& url) {
        Opened->Site->Browser().FireNavigateComplete(url);
        PumpMessages(30);
    }

    // The toolbar and client rectangle of the button with that image.
    bool FindButton(int image, HWND& bar, RECT& rect) const {
        return FindToolbarButton(Form, image, bar, rect);
    }
    // The mouse onto a button: the test desktop's cursor and window, then the system's mouse message.
    void Hover(int image, int dx = 0) {
        HWND bar = nullptr;
        RECT rect{};
        ASSERT_TRUE(FindButton(image, bar, rect)) << "image " << image;
        POINT client{(rect.left + rect.right) / 2 + dx, (rect.top + rect.bottom) / 2};
        Desktop.Cursor = client;
        ::ClientToScreen(bar, &Desktop.Cursor);
        Desktop.Under = bar;
        ::SendMessageW(bar, WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
    }
    void HoverLabel(HWND label) {
        RECT rect{};
        ::GetClientRect(label, &rect);
        POINT client{rect.right / 2, rect.bottom / 2};
        Desktop.Cursor = client;
        ::ClientToScreen(label, &Desktop.Cursor);
        Desktop.Under = label;
        ::SendMessageW(label, WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
    }
    void Leave() {
        Desktop.Cursor = POINT{900, 700};
        Desktop.Under = Opened->Site->Window();
    }
    // The labels as they stand: RatingLabel, CardLabel, CommentsLabel.
    HWND Label(std::wstring_view name) {
        const std::vector<HWND> labels = ToolbarLabels(Form);
        const std::wstring_view names[] = {L"RatingLabel", L"CardLabel", L"CommentsLabel"};
        for (size_t i = 0; i < labels.size() && i < std::size(names); ++i)
            if (names[i] == name)
                return labels[i];
        return nullptr;
    }
    // A person's click on a label.
    static void ClickLabel(HWND label) {
        ::SendMessageW(::GetParent(label), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(label), STN_CLICKED),
                       reinterpret_cast<LPARAM>(label));
    }
    bool HintVisible() { return Facts(HintWindow()).Visible; }
    std::wstring HintText() { return Facts(HintWindow()).Text; }

    TTestDesktop Desktop;
    ComPtr<TKeptorServer> Server;
    std::optional<TLibraryBand> Opened;
    HWND Form = nullptr;
    HWND ToolBar1 = nullptr;
    HWND ToolBar2 = nullptr;
};

TEST_F(ToolbarHintTest, RestingOnAButtonShowsItsHintOnceForTheDisplayTime) {
    Hover(kSearch);
    EXPECT_TRUE(Timers().CommonHintTimer.Enabled());
    EXPECT_EQ(500u, Timers().CommonHintTimer.Interval());
    EXPECT_TRUE(Timers().SpyHintTimer.Enabled());
    EXPECT_EQ(100u, Timers().SpyHintTimer.Interval());
    EXPECT_FALSE(HintVisible()) << "pending for the hint delay";

    FormObject().ShowButtonHint();
    ASSERT_TRUE(HintVisible());
    EXPECT_EQ(L"Search bookmarks", HintText());
    ExpectHintStyles(HintWindow());
    const RECT rect = Facts(HintWindow()).Rect;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    EXPECT_EQ(Desktop.Cursor.y + 20, rect.top) << "20 pixels below the cursor";
    EXPECT_EQ(Desktop.Cursor.x - width / 2, rect.left) << "centred on the cursor";
    // The label's text with a 3-pixel margin.
    HWND label = ::GetWindow(HintWindow(), GW_CHILD);
    ASSERT_TRUE(label);
    RECT labelRect{};
    ::GetWindowRect(label, &labelRect);
    EXPECT_EQ(rect.left + 3, labelRect.left);
    EXPECT_EQ(rect.top + 3, labelRect.top);
    EXPECT_EQ(width, labelRect.right - labelRect.left + 6);
    EXPECT_EQ(height, labelRect.bottom - labelRect.top + 6);
    EXPECT_GT(labelRect.right - labelRect.left, 20);
    EXPECT_EQ(2500u, Timers().CommonHintTimer.Interval());
    EXPECT_TRUE(Timers().CommonHintTimer.Enabled());

    // Moving within the button neither restarts nor moves the hint.
    Hover(kSearch, 2);
    EXPECT_TRUE(HintVisible());
    EXPECT_EQ(2500u, Timers().CommonHintTimer.Interval());
    FormObject().WatchButtonHint();
    EXPECT_TRUE(HintVisible()) << "still over the button";

    // The display time ends: hidden, and it does not come back while the mouse stays.
    FormObject().ShowButtonHint();
    EXPECT_FALSE(HintVisible());
    EXPECT_TRUE(FormObject().ButtonHintShown());
    Hover(kSearch, -2);
    FormObject().WatchButtonHint();
    EXPECT_FALSE(Timers().CommonHintTimer.Enabled());
    EXPECT_FALSE(HintVisible());

    // Away and back: it shows again.
    Leave();
    FormObject().WatchButtonHint();
    EXPECT_FALSE(Timers().SpyHintTimer.Enabled());
    EXPECT_FALSE(FormObject().Hovering());
    Hover(kSearch);
    FormObject().ShowButtonHint();
    EXPECT_TRUE(HintVisible());
}

TEST_F(ToolbarHintTest, FromOneButtonStraightToTheNext) {
    Hover(kSearch);
    FormObject().ShowButtonHint();
    ASSERT_TRUE(HintVisible());
    Hover(kHighlight);
    EXPECT_FALSE(HintVisible()) << "the first hint hides at once";
    EXPECT_TRUE(Timers().CommonHintTimer.Enabled());
    EXPECT_EQ(500u, Timers().CommonHintTimer.Interval()) << "the second waits for the hint delay";
    FormObject().ShowButtonHint();
    EXPECT_TRUE(HintVisible());
    EXPECT_EQ(L"Disable highlighting", HintText());
    // On to the toolbar of the "Domain links" button, and to a label.
    Hover(kDomainLinks);
    FormObject().ShowButtonHint();
    EXPECT_EQ(L"View links from current domain", HintText());
    HoverLabel(Label(L"RatingLabel"));
    EXPECT_FALSE(HintVisible());
    FormObject().ShowButtonHint();
    EXPECT_EQ(L"Change rating", HintText());
}

TEST_F(ToolbarHintTest, LeavingTheToolbarHidesTheHint) {
    struct {
        const char* Name;
        std::function<void()> Away;
    } ways[] = {
        {"outside", [&] { Leave(); }},
        {"empty part of the toolbar", [&] {
             RECT client{};
             ::GetClientRect(ToolBar2, &client);
             Desktop.Cursor = POINT{client.right - 2, client.bottom / 2};
             ::ClientToScreen(ToolBar2, &Desktop.Cursor);
             Desktop.Under = ToolBar2;
         }},
        {"another button, no mouse message yet", [&] {
             HWND bar = nullptr;
             RECT rect{};
             ASSERT_TRUE(FindButton(kSearch, bar, rect));
             Desktop.Cursor = POINT{rect.left + 2, rect.top + 2};
             ::ClientToScreen(bar, &Desktop.Cursor);
             Desktop.Under = bar;
         }},
    };
    for (const auto& way : ways) {
        Hover(kDomainLinks);
        FormObject().ShowButtonHint();
        ASSERT_TRUE(HintVisible()) << way.Name;
        way.Away();
        FormObject().WatchButtonHint();
        EXPECT_FALSE(HintVisible()) << way.Name;
        EXPECT_FALSE(Timers().SpyHintTimer.Enabled()) << way.Name;
        EXPECT_FALSE(Timers().CommonHintTimer.Enabled()) << way.Name;
        EXPECT_FALSE(FormObject().Hovering()) << way.Name;
    }
    // A label is left when the window under the cursor is another.
    HoverLabel(Label(L"CommentsLabel"));
    FormObject().ShowButtonHint();
    ASSERT_TRUE(HintVisible());
    Desktop.Under = Label(L"RatingLabel");
    FormObject().WatchButtonHint();
    EXPECT_FALSE(HintVisible());
}

TEST_F(ToolbarHintTest, DisabledButtonShowsNoHint) {
    Navigate(kNotArchived);
    ASSERT_FALSE(FormObject().Actions()[L"CaptureScreenAction"].Enabled());
    Hover(kCapture);
    EXPECT_FALSE(FormObject().Hovering());
    EXPECT_FALSE(Timers().CommonHintTimer.Enabled());
    FormObject().ShowButtonHint();
    EXPECT_FALSE(HintVisible());
}

TEST_F(ToolbarHintTest, HintTextsComeFromTheirControls) {
    auto textOf = [&](const wchar_t* name) { return FormObject().ButtonHintText(name); };
    EXPECT_EQ(L"Add to 'Reading'", textOf(L"AddUrlToCurrBtn"));
    Server->Archive().CurrentRubricName = L"Kept for later";
    Hover(kAddUrl);
    FormObject().ShowButtonHint();
    EXPECT_EQ(L"Add to 'Kept for later'", HintText()) << "the rubric is read at each showing";
    EXPECT_EQ(L"Change rating", textOf(L"RatingLabel"));
    EXPECT_EQ(L"Read later", textOf(L"CommentsLabel"));
    EXPECT_EQ(FormObject().Actions()[L"BHOAllowAction"].Hint(), textOf(L"BHOAllowBtn"));
    EXPECT_EQ(L"Show popups", textOf(L"PopuKillerAllowBtn"));
    SetSwitch(L"Highlight enabled", false);
    FormObject().Actions()[L"HighlightAllowAction"].Update();
    EXPECT_EQ(L"Enable highlighting", textOf(L"HighlightAllowBtn")) << "the action's current hint";
    Navigate(kLink);
    EXPECT_EQ(L"No user comments", textOf(L"CommentsLabel"));
    // Without the application the rubric is empty between the quotes.
    Server->Fire(kOnQuitDispid, {});
    PumpMessages(30);
    EXPECT_EQ(L"Add to ''", textOf(L"AddUrlToCurrBtn"));
}

TEST_F(ToolbarHintTest, HintOffCommandsHideTheHintUntilTheMouseComesBack) {
    Hover(kSearch);
    FormObject().ShowButtonHint();
    ASSERT_TRUE(HintVisible());
    HWND bar = nullptr;
    RECT rect{};
    ASSERT_TRUE(FindButton(kSearch, bar, rect));
    const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    ::SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(bar, WM_LBUTTONUP, 0, at);
    EXPECT_FALSE(HintVisible());
    EXPECT_FALSE(Timers().CommonHintTimer.Enabled());
    Hover(kSearch);
    EXPECT_FALSE(Timers().CommonHintTimer.Enabled()) << "the same control: no new hint";
    // The comments label's click hides its hint too.
    HoverLabel(Label(L"CommentsLabel"));
    FormObject().ShowButtonHint();
    ASSERT_TRUE(HintVisible());
    ClickLabel(Label(L"CommentsLabel"));
    EXPECT_FALSE(HintVisible());
}

TEST_F(ToolbarHintTest, LongTextsStayWithinTheScreen) {
    std::wstring comments;
    for (int i = 0; i < 400; ++i)
        comments += L"A long comment line that goes on and on, number " + std::to_wstring(i) + L"\r\n";
    Server->Archive().Documents[kLink].Comments = comments;
    Navigate(kLink);
    HoverLabel(Label(L"CommentsLabel"));
    FormObject().ShowButtonHint();
    ASSERT_TRUE(HintVisible());
    const RECT rect = Facts(HintWindow()).Rect;
    EXPECT_LE(rect.bottom - rect.top, 768);
    EXPECT_LE(rect.right - rect.left, 1024);
    EXPECT_GE(rect.left, 0);
    EXPECT_LE(HintText().size(), TBtnHintForm::kMaxHintLength);
}

TEST_F(ToolbarHintTest, RealTimersShowAndHideTheButtonHint) {
    // The system's own cursor and windows: the browser frame on screen, the cursor moved for real.
    THintDesktop::Replace(nullptr);
    ::SetWindowPos(Opened->Site->Window(), HWND_TOP, 0, 0, 900, 200, SWP_SHOWWINDOW | SWP_NOACTIVATE);
    ::SetWindowPos(Form, nullptr, 0, 0, 880, 24, SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    PumpMessages(30);
    HWND bar = nullptr;
    RECT rect{};
    ASSERT_TRUE(FindButton(kSearch, bar, rect));
    POINT center{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    POINT screen = center;
    ::ClientToScreen(bar, &screen);
    ::SetCursorPos(screen.x, screen.y);
    ASSERT_EQ(bar, ::WindowFromPoint(screen)) << "the toolbar is under the cursor";
    ::SendMessageW(bar, WM_MOUSEMOVE, 0, MAKELPARAM(center.x, center.y));
    for (int waited = 0; waited < 3000 && !HintVisible(); waited += 20)
        PumpMessages(20);
    ASSERT_TRUE(HintVisible()) << "shown after the hint delay";
    EXPECT_EQ(L"Search bookmarks", HintText());
    ::SetCursorPos(880, 190);
    for (int waited = 0; waited < 3000 && HintVisible(); waited += 20)
        PumpMessages(20);
    EXPECT_FALSE(HintVisible()) << "hidden once the watch sees the mouse gone";
    EXPECT_FALSE(FormObject().Hovering());
    Desktop.Cursor = POINT{5000, 5000};
    THintDesktop::Replace(&Desktop);
}

// The page card hint: the library's own link-hint object, through COM, for the current page.
TEST_F(ToolbarHintTest, CardHintShowsThePagePictureUntilTheMouseLeaves) {
    const HWND card = Label(L"CardLabel");
    ASSERT_TRUE(card);
    HoverLabel(card);
    ASSERT_TRUE(FormObject().CardHintShown());
    ASSERT_TRUE(FormObject().CardHintObject());
    EXPECT_TRUE(Timers().CardHintTimer.Enabled());
    EXPECT_EQ(100u, Timers().CardHintTimer.Interval());
    EXPECT_FALSE(Timers().CommonHintTimer.Enabled()) << "the Info label has no button hint";

    // The application's picture of the page shows after its show delay (20 ms), near the label.
    std::vector<HWND> shown;
    for (int waited = 0; waited < 3000 && shown.empty(); waited += 20) {
        PumpMessages(20);
        shown = VisibleLinkHints();
    }
    ASSERT_EQ(1u, shown.size());
    const RECT rect = Facts(shown[0]).Rect;
    EXPECT_EQ(222, rect.right - rect.left);
    EXPECT_EQ(66, rect.bottom - rect.top);
    const POINT expected = HintWindowPosition(Desktop.Cursor, 222, 66, THintDesktop().VirtualScreen());
    EXPECT_EQ(expected.x, rect.left);
    EXPECT_EQ(expected.y, rect.top);
    EXPECT_EQ(-1, BlendValue(shown[0])) << "alpha -1: opaque";
    ExpectHintStyles(shown[0]);
    const auto& log = Server->CallLog();
    EXPECT_EQ(1, std::count(log.begin(), log.end(), L"15 GetHintSettings()"));
    EXPECT_EQ(1, std::count(log.begin(), log.end(), L"14 GetLinkImage(\"" + std::wstring(kArchived) + L"\", -1, false)"))
        << "the picture of the page itself";

    // Moves over the label go to the same object; the watch keeps the hint while the mouse stays.
    const IIEHelperBHOGUI* object = FormObject().CardHintObject();
    HoverLabel(card);
    FormObject().WatchCardHint();
    EXPECT_EQ(object, FormObject().CardHintObject());
    EXPECT_EQ(1u, VisibleLinkHints().size());

    Leave();
    FormObject().WatchCardHint();
    EXPECT_FALSE(FormObject().CardHintShown());
    EXPECT_EQ(nullptr, FormObject().CardHintObject());
    EXPECT_FALSE(Timers().CardHintTimer.Enabled());
    EXPECT_TRUE(LinkHintWindows().empty()) << "the object and its window are gone";
}

// A link-hint object that records what the toolbar tells it, put in place of the library's class for
// this thread's CoCreateInstance.
class TRecordingHelper final : public TComObject<IIEHelperBHOGUI> {
public:
    struct TCall {
        std::wstring Text;
        size_t ServerCalls; // how many calls the application had received by then
    };
    TRecordingHelper(std::vector<TCall>& calls, TKeptorServer& server, HRESULT overResult)
        : TComObject(TModuleCount::None, Interfaces(), nullptr), Calls(calls), Server(server),
          OverResult(overResult) {}

    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP MouseOverLink(LONG window, LONG x, LONG y, BSTR url, IUnknown* server) override {
        ComPtr<IGUIServer> gui;
        const bool isServer = server && SUCCEEDED(server->QueryInterface(IID_PPV_ARGS(&gui)));
        Record(L"MouseOverLink(" + std::to_wstring(window) + L", " + std::to_wstring(x) + L", " + std::to_wstring(y) +
               L", " + std::wstring(url ? url : L"") + L", " + (isServer ? L"server" : L"no server") + L")");
        return OverResult;
    }
    STDMETHODIMP MouseOutLink() override {
        Record(L"MouseOutLink");
        return S_OK;
    }
    STDMETHODIMP MouseMove(LONG x, LONG y) override {
        Record(L"MouseMove(" + std::to_wstring(x) + L", " + std::to_wstring(y) + L")");
        return S_OK;
    }

private:
    static std::span<const TInterfaceEntry> Interfaces() {
        static const TInterfaceEntry table[] = {
            InterfaceEntry<TRecordingHelper, IDispatch>(IID_IDispatch),
            InterfaceEntry<TRecordingHelper, IIEHelperBHOGUI>(IID_IIEHelperBHOGUI)};
        return table;
    }
    ~TRecordingHelper() override { Record(L"released"); }
    void Record(std::wstring text) { Calls.push_back({std::move(text), Server.CallLog().size()}); }

    std::vector<TCall>& Calls;
    TKeptorServer& Server;
    HRESULT OverResult;
};

class TRecordingHelperFactory final : public TComObject<IClassFactory> {
public:
    TRecordingHelperFactory(std::vector<TRecordingHelper::TCall>& calls, TKeptorServer& server)
        : TComObject(TModuleCount::None, Interfaces(), nullptr), Calls(calls), Server(server) {}
    HRESULT OverResult = S_OK;
    int Created = 0;

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        ++Created;
        ComPtr<TRecordingHelper> helper(new TRecordingHelper(Calls, Server, OverResult));
        return helper->QueryInterface(iid, object);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    static std::span<const TInterfaceEntry> Interfaces() {
        static const TInterfaceEntry table[] = {
            InterfaceEntry<TRecordingHelperFactory, IClassFactory>(IID_IClassFactory)};
        return table;
    }
    ~TRecordingHelperFactory() override = default;

    std::vector<TRecordingHelper::TCall>& Calls;
    TKeptorServer& Server;
};

TEST_F(ToolbarHintTest, CardHintTellsItsObjectWhatTheMouseDoes) {
    std::vector<TRecordingHelper::TCall> calls;
    ComPtr<TRecordingHelperFactory> factory(new TRecordingHelperFactory(calls, *Server.Get()));
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, ::CoRegisterClassObject(CLSID_IEHelperBHOGUI, factory.Get(), CLSCTX_INPROC_SERVER,
                                            REGCLS_MULTIPLEUSE, &cookie));
    // Whatever happens, the toolbar lets its object go and the class is the library's again before the
    // recording ends.
    struct TRestore {
        TMainIEToolBandFormProbe Form;
        DWORD Cookie;
        ~TRestore() {
            try {
                Form.HideCardHint();
            } catch (...) {
            }
            ::CoRevokeClassObject(Cookie);
        }
    } restore{FormObject(), cookie};
    const HWND card = Label(L"CardLabel");
    auto texts = [&] {
        std::vector<std::wstring> result;
        for (const auto& call : calls)
            result.push_back(call.Text);
        calls.clear();
        return result;
    };
    auto screen = [&](int x, int y) {
        POINT point{x, y};
        ::ClientToScreen(card, &point);
        return std::to_wstring(point.x) + L", " + std::to_wstring(point.y);
    };

    ::SendMessageW(card, WM_MOUSEMOVE, 0, MAKELPARAM(4, 5));
    ::SendMessageW(card, WM_MOUSEMOVE, 0, MAKELPARAM(9, 6));
    EXPECT_EQ((std::vector<std::wstring>{L"MouseOverLink(" +
                                             std::to_wstring(static_cast<LONG>(reinterpret_cast<LONG_PTR>(Form))) +
                                             L", " + screen(4, 5) + L", " + kArchived + L", server)",
                                         L"MouseMove(" + screen(9, 6) + L")"}),
              texts());
    EXPECT_EQ(1, factory->Created);

    // A click ends the hint before the properties open.
    const size_t before = Server->CallLog().size();
    ::SendMessageW(::GetParent(card), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(card), STN_CLICKED),
                   reinterpret_cast<LPARAM>(card));
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(L"MouseOutLink", calls[0].Text);
    EXPECT_EQ(before, calls[0].ServerCalls) << "nothing reached the application before the hint ended";
    EXPECT_EQ(L"released", calls[1].Text);
    const auto& log = Server->CallLog();
    EXPECT_NE(log.end(), std::find(log.begin() + static_cast<std::ptrdiff_t>(before), log.end(),
                                   L"22 ShowDocumentProperties(\"" + std::wstring(kArchived) + L"\")"));
    calls.clear();

    // A failing MouseOverLink is the handler's failure: no card hint, and the next move starts again.
    factory->OverResult = E_FAIL;
    ::SendMessageW(card, WM_MOUSEMOVE, 0, MAKELPARAM(4, 5));
    EXPECT_FALSE(FormObject().CardHintShown());
    EXPECT_FALSE(Timers().CardHintTimer.Enabled());
    factory->OverResult = S_OK;
    ::SendMessageW(card, WM_MOUSEMOVE, 0, MAKELPARAM(4, 5));
    EXPECT_TRUE(FormObject().CardHintShown());
    EXPECT_EQ(3, factory->Created);
    EXPECT_EQ(L"released", calls[1].Text) << "the failed object is let go when the next one comes";

    Leave();
    FormObject().WatchCardHint();
    EXPECT_EQ(nullptr, FormObject().CardHintObject());
}

TEST_F(ToolbarHintTest, ClickOnTheInfoLabelEndsTheCardHintFirst) {
    const HWND card = Label(L"CardLabel");
    HoverLabel(card);
    ASSERT_TRUE(FormObject().CardHintShown());
    for (int waited = 0; waited < 3000 && VisibleLinkHints().empty(); waited += 20)
        PumpMessages(20);
    ASSERT_EQ(1u, VisibleLinkHints().size());
    const size_t before = Server->CallLog().size();
    ::SendMessageW(::GetParent(card), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(card), STN_CLICKED),
                   reinterpret_cast<LPARAM>(card));
    EXPECT_FALSE(FormObject().CardHintShown());
    EXPECT_TRUE(LinkHintWindows().empty());
    const auto& log = Server->CallLog();
    EXPECT_NE(log.end(), std::find(log.begin() + static_cast<std::ptrdiff_t>(before), log.end(),
                                   L"22 ShowDocumentProperties(\"" + std::wstring(kArchived) + L"\")"))
        << "then the properties open";
}

TEST_F(ToolbarHintTest, CardHintEndsWhenTheApplicationHasGone) {
    const HWND card = Label(L"CardLabel");
    HoverLabel(card);
    ASSERT_TRUE(FormObject().CardHintShown());
    Server->Fire(kOnQuitDispid, {});
    PumpMessages(30);
    HoverLabel(card);
    EXPECT_FALSE(FormObject().CardHintShown());
    EXPECT_EQ(nullptr, FormObject().CardHintObject());
    EXPECT_TRUE(LinkHintWindows().empty());
}

TEST_F(ToolbarHintTest, ClosingTheToolbarTakesEveryHintWindow) {
    Hover(kSearch);
    FormObject().ShowButtonHint();
    HoverLabel(Label(L"CardLabel"));
    const HWND buttonHint = HintWindow();
    ASSERT_TRUE(Facts(buttonHint).Visible);
    ASSERT_EQ(1u, LinkHintWindows().size());
    Opened->Band->CloseDW(0);
    EXPECT_FALSE(::IsWindow(buttonHint));
    EXPECT_TRUE(LinkHintWindows().empty());
}

TEST_F(ToolbarHintTest, ThousandShowingsKeepNoGdiOrUserObject) {
    const HWND card = Label(L"CardLabel");
    auto cycle = [&](int times) {
        for (int i = 0; i < times; ++i) {
            Hover(i % 2 ? kSearch : kDomainLinks);
            FormObject().ShowButtonHint(); // shown
            FormObject().ShowButtonHint(); // display time over
            HoverLabel(card);              // a card hint object and its window
            Leave();
            FormObject().WatchCardHint();
            FormObject().WatchButtonHint();
        }
    };
    cycle(20);
    const TGuiObjectCounts before = GuiObjectCounts();
    cycle(1000);
    const TGuiObjectCounts after = GuiObjectCounts();
    std::printf("GDI objects %ld -> %ld, USER objects %ld -> %ld over 1000 button hint showings and card hints\n",
                before.Gdi, after.Gdi, before.User, after.User);
    EXPECT_LE(after.Gdi, before.Gdi);
    EXPECT_LE(after.User, before.User);
}

} // namespace
