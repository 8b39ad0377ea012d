// The quick-link toolbar seen from outside: its two common-controls toolbars, their drop-down buttons and
// Win32 pop-up menus, the reference Keptor server's call log, and the browser doubles' navigations.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "KeptorServerUnit.h"
#include "band/TrovellaQLToolbarUnit.h"
#include "com/ComFactoryUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"
#include "server/ServerWrapperUnit.h"
#include "support/BrowserAppUnit.h"
#include "support/BrowserHostUnit.h"
#include "support/KeptorProcessUnit.h"
#include "support/MenuProbeUnit.h"
#include "support/ClassProbes.h"
#include "support/TestSupport.h"
#include "support/ToolbarProbeUnit.h"
#include "ui/QLIEToolBandFormUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;
using keptor::TKeptorQuickGroup;
using keptor::TKeptorServer;

namespace {

using TStrings = std::vector<std::wstring>;

constexpr DISPID kOnQuit = 201;
constexpr DISPID kOnQuickGroupChange = 206;

std::vector<std::wstring> ErrorMessages;

// --- What the toolbars show ----------------------------------------------------------------------------

struct TBarButton {
    std::wstring Text;
    int Image = -1;
    BYTE Style = 0;
    BYTE State = 0;
    bool Hidden() const { return (State & TBSTATE_HIDDEN) != 0; }
    bool DropDown() const { return (Style & BTNS_DROPDOWN) != 0; }
};

std::vector<TBarButton> Buttons(HWND bar) {
    std::vector<TBarButton> buttons;
    const int count = static_cast<int>(::SendMessageW(bar, TB_BUTTONCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) {
        TBBUTTON info{};
        if (!::SendMessageW(bar, TB_GETBUTTON, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&info)))
            continue;
        TBarButton button;
        button.Image = info.iBitmap;
        button.Style = info.fsStyle;
        button.State = info.fsState;
        const auto id = static_cast<WPARAM>(info.idCommand);
        const int length = static_cast<int>(::SendMessageW(bar, TB_GETBUTTONTEXTW, id, 0));
        if (length > 0) {
            std::wstring text(static_cast<size_t>(length) + 1, L'\0');
            ::SendMessageW(bar, TB_GETBUTTONTEXTW, id, reinterpret_cast<LPARAM>(text.data()));
            text.resize(static_cast<size_t>(length));
            button.Text = text;
        }
        buttons.push_back(button);
    }
    return buttons;
}

TStrings ShownTexts(HWND bar) {
    TStrings texts;
    for (const TBarButton& button : Buttons(bar))
        if (!button.Hidden())
            texts.push_back(button.Text);
    return texts;
}

RECT ItemRect(HWND bar, int index) {
    RECT rect{};
    ::SendMessageW(bar, TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&rect));
    return rect;
}

LONG WindowWidth(HWND window) {
    RECT rect{};
    return ::GetWindowRect(window, &rect) ? rect.right - rect.left : -1;
}

// The button part of a drop-down button (its handler is reached through WM_COMMAND).
void ClickButtonPart(HWND bar, int index) {
    const RECT rect = ItemRect(bar, index);
    ClickAt(bar, {rect.left + 4, (rect.top + rect.bottom) / 2});
}

using TDecision = std::function<int(const TMenuProbe&)>;

// The item strings of the menu the arrow part of a button opens, or {"<none>"} when no menu opens; the
// decision, made while the menu is open, picks the item to choose (-1: none).
TStrings DropDownStrings(HWND bar, int index, const TDecision& decide) {
    const TMenuProbe menu = ProbeMenu([&] { ClickArrowPart(bar, index); }, decide);
    return menu.Opened ? menu.Texts : TStrings{L"<none>"};
}

TStrings DropDownStrings(HWND bar, int index, int choose = -1) {
    return DropDownStrings(bar, index, [choose](const TMenuProbe&) { return choose; });
}

// What ShowErrorBox shows for a failure code.
std::wstring ErrorText(HRESULT code) {
    std::wstring text = SysErrorMessage(code);
    if (!text.empty() && text.back() > L'.')
        text += L'.';
    return text;
}

// --- The band ------------------------------------------------------------------------------------------

// The quick-link band of this build, sited in a test host; closed at destruction.
class TQuickLinkBand : public TLibraryBand {
public:
    TQuickLinkBand() : TLibraryBand(TakeCreated<IDeskBand>(TTrovellaQLToolbar::CreateObject())) {}

    HWND Form() const { return Window(); }
    // The two toolbars carry their names as window texts.
    HWND MngBar() const { return ::FindWindowExW(Form(), nullptr, TOOLBARCLASSNAMEW, L"QLMngToolBar"); }
    HWND GroupBar() const { return ::FindWindowExW(Form(), nullptr, TOOLBARCLASSNAMEW, L"QLToolBar"); }
    LONG MinWidth() const {
        DESKBANDINFO info{};
        info.dwMask = DBIM_MINSIZE;
        return SUCCEEDED(Band->GetBandInfo(0, DBIF_VIEWMODE_NORMAL, &info)) ? info.ptMinSize.x : -1;
    }
    bool ManageGroupsShown() const {
        const auto buttons = Buttons(MngBar());
        return buttons.size() == 1 && !buttons[0].Hidden();
    }
    TTestBrowser& Browser() const { return Site->Browser(); }
    // How often the band asked its host to read its sizes again.
    size_t BandInfoRequests() const {
        size_t count = 0;
        for (const TExecCall& call : Site->ExecCalls)
            count += call.Group == CGID_DeskBand && call.Command == DBID_BANDINFOCHANGED ? 1u : 0u;
        return count;
    }

    // The form object behind the windows, for what the platform does not show: which menus it holds.
    TQLIEToolBandForm* FormObject() const {
        return Band ? static_cast<TQLIEToolBandForm*>(static_cast<TIEBand*>(Band.Get())->Form()) : nullptr;
    }
    // Every menu the form holds for its groups, and "Manage groups"'s menu.
    std::vector<HMENU> GroupMenuHandles() const {
        const TQLIEToolBandForm* form = FormObject();
        return form ? TQLIEToolBandFormProbe::GroupMenus(*form) : std::vector<HMENU>();
    }
    HMENU ManageGroupsMenu() const {
        const TQLIEToolBandForm* form = FormObject();
        return form ? TQLIEToolBandFormProbe::ManageGroupsMenu(*form) : nullptr;
    }
};

// --- Fixture ---------------------------------------------------------------------------------------------

class QuickLinkTest : public TComTest {
protected:
    void SetUp() override {
        ErrorMessages.clear();
        SetCreateErrorBox([](const std::wstring& message) { ErrorMessages.push_back(message); });
        Server = TKeptorServer::Create();
        ASSERT_EQ(S_OK, Server->RegisterRunning());
    }
    void TearDown() override {
        EXPECT_EQ(nullptr, TServerWrapperProbe::Current()) << "a wrapper was left behind";
        if (Server) {
            Server->OnServe = nullptr;
            Server->RevokeRunning();
        }
        Server.Reset();
        SetCreateErrorBox(nullptr);
        TComTest::TearDown();
    }

    std::vector<TKeptorQuickGroup>& Groups() { return Server->Archive().QuickGroups; }
    // The IGUIServer calls the server received, in order.
    TStrings ServerCalls() const {
        TStrings calls;
        for (const auto& entry : Server->CallLog())
            if (entry != L"Advise" && entry != L"Unadvise")
                calls.push_back(entry);
        return calls;
    }
    size_t CallCount(const std::wstring& prefix) const {
        const TStrings calls = ServerCalls();
        return static_cast<size_t>(std::count_if(calls.begin(), calls.end(),
                                                 [&](const std::wstring& call) { return call.starts_with(prefix); }));
    }
    void FireGroupsChanged() { EXPECT_TRUE(SUCCEEDED(Server->Fire(kOnQuickGroupChange, {}))); }
    void FireQuit() { EXPECT_TRUE(SUCCEEDED(Server->Fire(kOnQuit, {}))); }
    // The application announces itself to this thread (message 0x0500), which connects.
    static void PostStartMessage() {
        ::PostThreadMessageW(::GetCurrentThreadId(), kKeptorStartMessage, 0, 0);
        PumpMessages(50);
    }

    ComPtr<TKeptorServer> Server;
};

// X, a hidden group, Y without links, Z.
std::vector<TKeptorQuickGroup> FourGroups() {
    return {{L"X", true, {{L"x1", L"http://x.test/1"}, {L"x2", L"http://x.test/2"}, {L"x3", L"http://x.test/3"}}},
            {L"Hidden", false, {{L"h1", L"http://h.test/1"}}},
            {L"Y", true, {}},
            {L"Z", true, {{L"z1", L"http://z.test/1"}}}};
}

// --- Building --------------------------------------------------------------------------------------------

TEST_F(QuickLinkTest, ShownGroupsBecomeDropDownButtonsInTheApplicationsOrder) {
    Groups() = FourGroups();
    TQuickLinkBand band;
    ASSERT_EQ(S_OK, band.SiteResult);
    HWND mng = band.MngBar(), bar = band.GroupBar();
    ASSERT_TRUE(mng && bar) << "two common-controls toolbars inside the form";
    for (HWND toolbar : {mng, bar})
        EXPECT_TRUE(::SendMessageW(toolbar, TB_GETEXTENDEDSTYLE, 0, 0) & TBSTYLE_EX_DRAWDDARROWS);

    // Groups visited last to first, each new button in front: the toolbar reads X, Y, Z. The build asks
    // for the groups only; their links wait until they are wanted.
    const auto buttons = Buttons(bar);
    ASSERT_EQ(3u, buttons.size());
    const TStrings names = {L"X", L"Y", L"Z"};
    for (size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(names[i], buttons[i].Text);
        EXPECT_EQ(TQLIEToolBandForm::kGroupImage, buttons[i].Image);
        EXPECT_TRUE(buttons[i].DropDown());
        EXPECT_FALSE(buttons[i].Hidden());
    }
    EXPECT_EQ((TStrings{L"53 GetQuickGroupCount()", L"54 GetQuickGroup(3)", L"54 GetQuickGroup(2)",
                        L"54 GetQuickGroup(1)", L"54 GetQuickGroup(0)"}),
              ServerCalls());

    const auto manage = Buttons(mng);
    ASSERT_EQ(1u, manage.size());
    EXPECT_EQ(L"Manage groups", manage[0].Text);
    EXPECT_EQ(TQLIEToolBandForm::kManageGroupsImage, manage[0].Image);
    EXPECT_TRUE(manage[0].DropDown());
    EXPECT_FALSE(manage[0].Hidden());

    // The drop-downs: the groups again, top to bottom; each group's links; none for a group without.
    EXPECT_EQ(names, DropDownStrings(mng, 0));
    EXPECT_EQ((TStrings{L"x1", L"x2", L"x3"}), DropDownStrings(bar, 0));
    EXPECT_EQ(TStrings{L"<none>"}, DropDownStrings(bar, 1)) << "the menu of a group without links is empty";
    EXPECT_EQ(0, ::GetMenuItemCount(band.GroupMenuHandles().at(1)));
    EXPECT_EQ(TStrings{L"z1"}, DropDownStrings(bar, 2));
    EXPECT_EQ((TStrings{L"53 GetQuickGroupCount()", L"54 GetQuickGroup(3)", L"54 GetQuickGroup(2)",
                        L"54 GetQuickGroup(1)", L"54 GetQuickGroup(0)", L"55 GetQuickLink(0, 0)",
                        L"55 GetQuickLink(0, 1)", L"55 GetQuickLink(0, 2)", L"55 GetQuickLink(3, 0)"}),
              ServerCalls())
        << "each group's links read when its drop-down first opens";
    // Every item shows an image beside its caption, drawn by the form (image 1 group, image 2 link).
    for (HMENU menu : {band.ManageGroupsMenu(), band.GroupMenuHandles().at(0)})
        for (int position = 0; position < ::GetMenuItemCount(menu); ++position) {
            MENUITEMINFOW item{};
            item.cbSize = sizeof(item);
            item.fMask = MIIM_BITMAP;
            ASSERT_TRUE(::GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &item));
            EXPECT_EQ(HBMMENU_CALLBACK, item.hbmpItem);
        }
    EXPECT_TRUE(band.Browser().Navigations.empty()) << "closing a menu unchosen does nothing";

    // The button part of "Manage groups" opens the application's group manager.
    Server->ClearCallLog();
    ClickButtonPart(mng, 0);
    EXPECT_EQ(TStrings{L"56 ShowQuickGroupManager()"}, ServerCalls());
}

TEST_F(QuickLinkTest, ALinkThatCannotBeReadIsLeftOutAndTheNextOnesAreStillAsked) {
    Groups() = {{L"G", true, {{L"a", L"http://a.test/"}, {L"b", L"http://b.test/", false}, {L"c", L"http://c.test/"}}}};
    TQuickLinkBand band;
    EXPECT_EQ((TStrings{L"a", L"c"}), DropDownStrings(band.GroupBar(), 0));
    EXPECT_EQ(1u, CallCount(L"55 GetQuickLink(0, 2)"));
    // Choosing the second item opens the third link.
    DropDownStrings(band.GroupBar(), 0, 1);
    EXPECT_EQ(TStrings{L"http://c.test/"}, band.Browser().Navigations);
}

TEST_F(QuickLinkTest, NamesAndCountsOutOfBoundsAreCut) {
    const std::wstring enormous(100000, L'n');
    Groups() = {{L"", true, {{L"", L"http://empty.test/"}, {enormous, L"http://long.test/"}}},
                {enormous, true, {}},
                {L"Lies", true, {{L"one", L"http://one.test/"}}, 1000000000},
                {L"Negative", true, {{L"never", L"http://never.test/"}}, -1}};
    Server->Archive().QuickGroupCountAnswer = 1000000; // four real groups
    TQuickLinkBand band;
    const std::wstring cut = enormous.substr(0, TQLIEToolBandForm::kMaxCaptionLength - 3) + L"...";
    EXPECT_EQ((TStrings{L"", cut, L"Lies", L"Negative"}), ShownTexts(band.GroupBar()));
    EXPECT_EQ((TStrings{L"", cut}), DropDownStrings(band.GroupBar(), 0));
    EXPECT_EQ(TStrings{L"one"}, DropDownStrings(band.GroupBar(), 2));
    EXPECT_EQ(TStrings{L"never"}, DropDownStrings(band.GroupBar(), 3));
    EXPECT_EQ(static_cast<size_t>(TQLIEToolBandForm::kMaxGroups), CallCount(L"54 GetQuickGroup("))
        << "a lying group count is asked no further than the bound";
    EXPECT_EQ(static_cast<size_t>(TQLIEToolBandForm::kMaxLinksPerGroup), CallCount(L"55 GetQuickLink(2, "));
    // A negative link count stands for the truth in the reference server; the form sees a real count.
    EXPECT_EQ(1u, CallCount(L"55 GetQuickLink(3, "));
}

TEST_F(QuickLinkTest, HundredsOfGroupsAndLinksStopAtTheBounds) {
    for (int group = 0; group < 300; ++group) {
        TKeptorQuickGroup added{L"G" + std::to_wstring(group), true, {}};
        for (int link = 0; link < (group < 30 ? 200 : 1); ++link)
            added.Links.push_back({L"L" + std::to_wstring(link), L"http://g.test/" + std::to_wstring(link)});
        Groups().push_back(std::move(added));
    }
    TQuickLinkBand band;
    const TStrings texts = ShownTexts(band.GroupBar());
    ASSERT_EQ(static_cast<size_t>(TQLIEToolBandForm::kMaxGroups), texts.size()) << "the first groups";
    EXPECT_EQ(L"G0", texts.front());
    EXPECT_EQ(L"G255", texts.back());
    EXPECT_EQ(0u, CallCount(L"55 GetQuickLink(")) << "no link read before it is wanted";
    // The groups of two hundred links share alike what the groups of one link leave.
    const size_t share = DropDownStrings(band.GroupBar(), 29).size();
    EXPECT_GE(share, static_cast<size_t>(TQLIEToolBandForm::kMaxLinkReads / TQLIEToolBandForm::kMaxGroups));
    EXPECT_EQ(share, CallCount(L"55 GetQuickLink(29, ")) << "read once, and no further than its share";
    const size_t firstShare = DropDownStrings(band.GroupBar(), 0).size();
    EXPECT_GE(firstShare, share);
    EXPECT_LE(firstShare, share + 1) << "alike but for the remainder of a division";
    EXPECT_EQ(TStrings{L"L0"}, DropDownStrings(band.GroupBar(), 30));
    EXPECT_EQ(static_cast<size_t>(TQLIEToolBandForm::kMaxGroups), DropDownStrings(band.MngBar(), 0).size());

    // A click on a group of two hundred links opens the bounded number of windows.
    TBrowserApplication browsers;
    ASSERT_TRUE(browsers.Works());
    ASSERT_GT(share, TQLIEToolBandForm::kMaxWindowsPerGroup);
    ClickButtonPart(band.GroupBar(), 29);
    EXPECT_EQ(TQLIEToolBandForm::kMaxWindowsPerGroup, browsers.Windows().size());
}

// --- Reading what is wanted, a message at a time ----------------------------------------------------------

// The links a group may have read, for the counts the groups report (in the application's order).
struct TShareCase {
    const char* Name;
    std::vector<LONG> Counts;
    std::vector<LONG> Shares; // empty: the same as Counts
};

std::vector<TShareCase> ShareCases() {
    const LONG most = TQLIEToolBandForm::kMaxLinksPerGroup;
    const LONG all = TQLIEToolBandForm::kMaxLinkReads;
    const LONG groups = TQLIEToolBandForm::kMaxGroups;
    std::vector<TShareCase> cases = {
        {"NoGroup", {}, {}},
        {"EverythingFits", {0, 3, most, 1}, {}},
        {"ExactlyTheTotal", std::vector<LONG>(static_cast<size_t>(all / most), most), {}},
    };
    // Nine groups of the largest count: the share alike, one more for the first ones as the division leaves.
    const LONG alike = all / 9, left = all % 9;
    TShareCase nine{"NineOfTheLargest", std::vector<LONG>(9, most), {}};
    for (LONG i = 0; i < 9; ++i)
        nine.Shares.push_back(alike + (i < left ? 1 : 0));
    cases.push_back(nine);
    // Every group claims the most: all get the same.
    cases.push_back({"EveryGroupClaimsTheMost", std::vector<LONG>(static_cast<size_t>(groups), most),
                     std::vector<LONG>(static_cast<size_t>(groups), all / groups)});
    // Small groups keep all of their links, the large ones share what they leave.
    TShareCase mixed{"SmallAndLarge", {}, {}};
    for (LONG i = 0; i < groups; ++i) {
        mixed.Counts.push_back(i % 8 == 0 ? 200 : 1);
        mixed.Shares.push_back(i % 8 == 0 ? (all - (groups - groups / 8)) / (groups / 8) : 1);
    }
    const LONG rest = (all - (groups - groups / 8)) % (groups / 8);
    for (LONG i = 0, given = 0; i < groups && given < rest; i += 8, ++given)
        ++mixed.Shares[static_cast<size_t>(i)];
    cases.push_back(mixed);
    return cases;
}

TEST(QuickLinkSharesTest, EachGroupGetsItsLinksUpToAShareAlikeWithinTheTotal) {
    for (const TShareCase& row : ShareCases()) {
        SCOPED_TRACE(row.Name);
        const std::vector<LONG> shares = TQLIEToolBandForm::LinkShares(row.Counts);
        EXPECT_EQ(row.Shares.empty() ? row.Counts : row.Shares, shares);
        LONG total = 0;
        for (LONG share : shares)
            total += share;
        EXPECT_LE(total, TQLIEToolBandForm::kMaxLinkReads);
    }
}

TEST_F(QuickLinkTest, EachGroupsLinksAreReadOnceWhenFirstWanted) {
    Groups() = FourGroups();
    TBrowserApplication browsers;
    ASSERT_TRUE(browsers.Works());
    TQuickLinkBand band;
    EXPECT_EQ(0u, CallCount(L"55 "));
    // X's drop-down reads X's links; a second opening and a click read nothing again.
    EXPECT_EQ((TStrings{L"x1", L"x2", L"x3"}), DropDownStrings(band.GroupBar(), 0));
    EXPECT_EQ((TStrings{L"x1", L"x2", L"x3"}), DropDownStrings(band.GroupBar(), 0));
    ClickButtonPart(band.GroupBar(), 0);
    EXPECT_EQ(3u, CallCount(L"55 GetQuickLink(0, "));
    EXPECT_EQ(3u, browsers.Windows().size());
    // A click on Z, never opened, reads Z's link and opens it.
    browsers.Clear();
    ClickButtonPart(band.GroupBar(), 2);
    EXPECT_EQ(TStrings{L"http://z.test/1"}, browsers.NavigatedUrls());
    EXPECT_EQ(1u, CallCount(L"55 GetQuickLink(3, "));
    EXPECT_EQ(4u, CallCount(L"55 ")) << "the hidden group and Y are never asked for links";
}

// The application takes its time over every call of a kind: each is a few milliseconds at least.
void SlowDown(TKeptorServer& server, int slot, DWORD milliseconds) {
    server.OnServe = [slot, milliseconds](int served) -> HRESULT {
        if (served == slot)
            ::Sleep(milliseconds);
        return S_OK;
    };
}

// Pumps this thread's messages until the condition holds, for ten seconds at most.
bool PumpUntil(const std::function<bool()>& done) {
    for (int round = 0; round < 200 && !done(); ++round)
        PumpMessages(50);
    return done();
}

TEST_F(QuickLinkTest, ASlowApplicationsGroupsArriveOverSeveralMessages) {
    const size_t groupCount = static_cast<size_t>(TQLIEToolBandForm::kMaxGroups);
    for (size_t group = 0; group < groupCount; ++group)
        Groups().push_back({L"G" + std::to_wstring(group), true, {{L"l", L"http://l.test/"}}});
    // Four milliseconds a group: the build takes more than one message's budget.
    SlowDown(*Server.Get(), 54, 4);
    TQuickLinkBand band;
    EXPECT_LT(CallCount(L"54 "), groupCount) << "the first message read part of the groups";
    EXPECT_TRUE(Buttons(band.GroupBar()).empty()) << "the buttons go up once every group is read";
    ASSERT_TRUE(PumpUntil([&] { return Buttons(band.GroupBar()).size() == groupCount; }));
    const TStrings texts = ShownTexts(band.GroupBar());
    for (size_t group = 0; group < groupCount; ++group)
        EXPECT_EQ(L"G" + std::to_wstring(group), texts[group]);
    EXPECT_EQ(groupCount, CallCount(L"54 ")) << "each group asked once";

    // The groups change while a build is under way: the new build replaces it, and nothing of the old one
    // is put up after.
    Server->ClearCallLog();
    FireGroupsChanged();
    ASSERT_LT(CallCount(L"54 "), groupCount);
    Groups() = {{L"New", true, {}}};
    FireGroupsChanged();
    PumpMessages(300);
    EXPECT_EQ(TStrings{L"New"}, ShownTexts(band.GroupBar()));
    EXPECT_EQ(TStrings{L"New"}, DropDownStrings(band.MngBar(), 0));
    Server->OnServe = nullptr;
}

TEST_F(QuickLinkTest, ADropDownOutOfTimeShowsWhatItReadAndReadsOnAtTheNextOpening) {
    const LONG linkCount = TQLIEToolBandForm::kMaxLinksPerGroup;
    TKeptorQuickGroup group{L"Long", true, {}};
    TStrings all;
    for (LONG link = 0; link < linkCount; ++link) {
        all.push_back(L"L" + std::to_wstring(link));
        group.Links.push_back({all.back(), L"http://long.test/" + std::to_wstring(link)});
    }
    Groups() = {group};
    TQuickLinkBand band;
    SlowDown(*Server.Get(), 55, 5);

    const TStrings first = DropDownStrings(band.GroupBar(), 0);
    ASSERT_GE(first.size(), 2u);
    EXPECT_EQ(L"...", first.back()) << "more to come";
    ASSERT_LT(first.size() - 1, all.size());
    EXPECT_EQ(TStrings(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(first.size() - 1)),
              TStrings(first.begin(), first.end() - 1));
    const HMENU menu = band.GroupMenuHandles().at(0);
    EXPECT_TRUE(::GetMenuState(menu, static_cast<UINT>(::GetMenuItemCount(menu) - 1), MF_BYPOSITION) & MF_GRAYED)
        << "the last item cannot be chosen";

    // Every opening reads on, until the group is whole.
    TStrings shown = first;
    for (int opening = 0; opening < 40 && !shown.empty() && shown.back() == L"..."; ++opening)
        shown = DropDownStrings(band.GroupBar(), 0);
    EXPECT_EQ(all, shown);
    EXPECT_EQ(all.size(), CallCount(L"55 ")) << "each link asked once";
    Server->OnServe = nullptr;
}

TEST_F(QuickLinkTest, AClickOutOfTimeOpensItsWindowsOnceItsLinksAreRead) {
    TKeptorQuickGroup group{L"Many", true, {}};
    TStrings urls;
    for (size_t link = 0; link < TQLIEToolBandForm::kMaxWindowsPerGroup + 10; ++link) {
        if (link < TQLIEToolBandForm::kMaxWindowsPerGroup)
            urls.push_back(L"http://many.test/" + std::to_wstring(link));
        group.Links.push_back({L"M" + std::to_wstring(link), L"http://many.test/" + std::to_wstring(link)});
    }
    Groups() = {group};
    TBrowserApplication browsers;
    ASSERT_TRUE(browsers.Works());
    TQuickLinkBand band;
    SlowDown(*Server.Get(), 55, 10);
    ClickButtonPart(band.GroupBar(), 0);
    EXPECT_TRUE(browsers.Windows().empty()) << "the links are still being read";
    ASSERT_TRUE(PumpUntil([&] { return browsers.Windows().size() == TQLIEToolBandForm::kMaxWindowsPerGroup; }));
    EXPECT_EQ(urls, browsers.NavigatedUrls()) << "the first links of the group, in order";
    EXPECT_EQ(TQLIEToolBandForm::kMaxWindowsPerGroup, CallCount(L"55 ")) << "no link read beyond those opened";
    Server->OnServe = nullptr;
}

// --- Opening links ---------------------------------------------------------------------------------------

TEST_F(QuickLinkTest, ChoosingALinkNavigatesTheBandsBrowserAndOpensNoWindow) {
    Groups() = FourGroups();
    TBrowserApplication browsers;
    ASSERT_TRUE(browsers.Works());
    TQuickLinkBand band;
    EXPECT_EQ((TStrings{L"x1", L"x2", L"x3"}), DropDownStrings(band.GroupBar(), 0, 1));
    EXPECT_EQ(TStrings{L"http://x.test/2"}, band.Browser().Navigations);
    EXPECT_EQ(std::vector<bool>{true}, band.Browser().NavigateArgumentsOmitted)
        << "flags, target frame, post data and headers are left out";
    EXPECT_TRUE(browsers.Windows().empty());
    EXPECT_TRUE(ErrorMessages.empty());
}

TEST_F(QuickLinkTest, AGroupOpensEachLinkInANewVisibleWindowInLinkOrder) {
    Groups() = FourGroups();
    TBrowserApplication browsers;
    ASSERT_TRUE(browsers.Works());
    TQuickLinkBand band;

    ClickButtonPart(band.GroupBar(), 0);
    EXPECT_EQ((TStrings{L"http://x.test/1", L"http://x.test/2", L"http://x.test/3"}), browsers.NavigatedUrls());
    for (const auto& window : browsers.Windows()) {
        EXPECT_EQ(1u, window->Navigations.size());
        EXPECT_EQ(std::vector<bool>{true}, window->NavigateArgumentsOmitted);
        EXPECT_EQ(std::vector<VARIANT_BOOL>{VARIANT_TRUE}, window->VisibleWrites) << "made visible after Navigate";
        EXPECT_EQ(0, window->QuitCount);
    }
    EXPECT_TRUE(band.Browser().Navigations.empty()) << "the band's own window stays where it is";

    // The same from "Manage groups": its third item is Z.
    browsers.Clear();
    DropDownStrings(band.MngBar(), 0, 2);
    EXPECT_EQ(TStrings{L"http://z.test/1"}, browsers.NavigatedUrls());

    // A group without links opens nothing.
    browsers.Clear();
    ClickButtonPart(band.GroupBar(), 1);
    EXPECT_TRUE(browsers.Windows().empty());
    EXPECT_TRUE(ErrorMessages.empty());
}

struct TOpenFailure {
    const char* Name;
    size_t FailingWindow;
    HRESULT RefuseCreation; // S_OK: created
    HRESULT NavigateResult;
    HRESULT VisibleResult;
    size_t WindowsCreated;
    HRESULT Shown;
};

const TOpenFailure kOpenFailures[] = {
    {"CreationRefused", 1, REGDB_E_CLASSNOTREG, S_OK, S_OK, 1, REGDB_E_CLASSNOTREG},
    {"NavigateFails", 1, S_OK, E_ACCESSDENIED, S_OK, 2, E_ACCESSDENIED},
    {"VisibleFails", 0, S_OK, S_OK, E_OUTOFMEMORY, 1, E_OUTOFMEMORY},
};

TEST_F(QuickLinkTest, AnErrorWhileOpeningWindowsStopsThereAndIsShown) {
    for (const TOpenFailure& failure : kOpenFailures) {
        SCOPED_TRACE(failure.Name);
        ErrorMessages.clear();
        Groups() = FourGroups();
        TBrowserApplication browsers;
        ASSERT_TRUE(browsers.Works());
        browsers.BeforeCreate = [&](size_t index) {
            return index == failure.FailingWindow ? failure.RefuseCreation : S_OK;
        };
        browsers.OnCreated = [&](TTestBrowser& window, size_t index) {
            if (index == failure.FailingWindow) {
                window.NavigateResult = failure.NavigateResult;
                window.VisibleResult = failure.VisibleResult;
            }
        };
        TQuickLinkBand band;
        ClickButtonPart(band.GroupBar(), 0);
        EXPECT_EQ(failure.WindowsCreated, browsers.Windows().size()) << "the links after the failing one wait";
        EXPECT_EQ(TStrings{ErrorText(failure.Shown)}, ErrorMessages);
        for (size_t i = 0; i < browsers.Windows().size(); ++i) {
            const bool failed = i == failure.FailingWindow;
            EXPECT_EQ(failed ? 1 : 0, browsers.Windows()[i]->QuitCount) << "a window that failed is not left hidden";
        }
    }
}

// --- Connection and width -----------------------------------------------------------------------------

TEST_F(QuickLinkTest, TheMinimumWidthIsTheManageBarWhileConnectedAndZeroOtherwise) {
    Groups() = FourGroups();
    Server->RevokeRunning();
    TQuickLinkBand band;
    EXPECT_EQ(0, band.MinWidth()) << "before the first connection";
    EXPECT_FALSE(band.ManageGroupsShown());
    EXPECT_TRUE(ShownTexts(band.GroupBar()).empty());

    ASSERT_EQ(S_OK, Server->RegisterRunning());
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        PostStartMessage();
        ASSERT_TRUE(TServerWrapperProbe::Current()->IsConnected());
        EXPECT_TRUE(band.ManageGroupsShown());
        const LONG manageWidth = ItemRect(band.MngBar(), 0).right;
        EXPECT_GT(manageWidth, 0);
        EXPECT_EQ(manageWidth, WindowWidth(band.MngBar())) << "the bar fits its button";
        EXPECT_EQ(manageWidth, band.MinWidth());
        EXPECT_EQ((TStrings{L"X", L"Y", L"Z"}), ShownTexts(band.GroupBar()));
        EXPECT_EQ(static_cast<size_t>(2 * round - 1), band.BandInfoRequests());

        FireGroupsChanged();
        EXPECT_EQ(static_cast<size_t>(2 * round - 1), band.BandInfoRequests()) << "a new build keeps the band info";

        FireQuit();
        EXPECT_FALSE(TServerWrapperProbe::Current()->IsConnected());
        EXPECT_EQ(0, band.MinWidth());
        EXPECT_EQ(0, WindowWidth(band.MngBar()));
        EXPECT_FALSE(band.ManageGroupsShown());
        EXPECT_TRUE(Buttons(band.GroupBar()).empty());
        EXPECT_EQ(0, ::GetMenuItemCount(band.ManageGroupsMenu()));
        EXPECT_EQ(static_cast<size_t>(2 * round), band.BandInfoRequests());
    }
}

TEST_F(QuickLinkTest, AChangeOfGroupsReplacesEveryButtonAndMenu) {
    Groups() = FourGroups();
    TQuickLinkBand band;
    const std::vector<HMENU> before = band.GroupMenuHandles();
    ASSERT_EQ(3u, before.size());

    Groups() = {{L"New", true, {{L"n1", L"http://n.test/1"}}}};
    FireGroupsChanged();
    EXPECT_EQ(TStrings{L"New"}, ShownTexts(band.GroupBar()));
    EXPECT_EQ(TStrings{L"New"}, DropDownStrings(band.MngBar(), 0));
    EXPECT_EQ(TStrings{L"n1"}, DropDownStrings(band.GroupBar(), 0));
    for (HMENU menu : before)
        EXPECT_FALSE(::IsMenu(menu)) << "the menus of the last build are destroyed";

    // While not connected, a change leaves an empty toolbar and asks the application nothing.
    FireQuit();
    Server->ClearCallLog();
    band.FormObject()->QuickGroupChanged(nullptr);
    EXPECT_TRUE(Buttons(band.GroupBar()).empty());
    EXPECT_FALSE(band.ManageGroupsShown());
    EXPECT_EQ(0, ::GetMenuItemCount(band.ManageGroupsMenu()));
    EXPECT_TRUE(ServerCalls().empty());
}

// --- Faults during a build --------------------------------------------------------------------------------

// What reads from the application: the build of a change of groups or of a connection, the drop-down of
// a group, a click on a group.
enum class TReading { Change, Connection, DropDown, Click };

struct TBuildFault {
    const char* Name;
    int Slot;         // the call that fails...
    int Occurrence;   // ...the n-th time (1: the first)
    TReading Reading; // ...while this reads
};

const TBuildFault kBuildFaults[] = {
    {"GroupCount", 53, 1, TReading::Change},
    {"FirstGroup", 54, 1, TReading::Change},
    {"ThirdGroupAfterTwoFound", 54, 3, TReading::Change},
    {"GroupDuringConnection", 54, 2, TReading::Connection},
    {"LinkInTheMiddleOfAGroupsDropDown", 55, 2, TReading::DropDown},
    {"LastLinkOfAGroupsDropDown", 55, 3, TReading::DropDown},
    {"LinkForAClickOnAGroup", 55, 2, TReading::Click},
};

TEST_F(QuickLinkTest, AServerLostHalfWayThroughAReadLeavesAnEmptyToolbar) {
    for (const TBuildFault& fault : kBuildFaults) {
        SCOPED_TRACE(fault.Name);
        Server->OnServe = nullptr;
        Server->Archive().QuickGroups = FourGroups();
        if (TServerWrapper* wrapper = TServerWrapperProbe::Current(); wrapper && !wrapper->IsConnected())
            FAIL() << "no wrapper may be left";
        TBrowserApplication browsers;
        ASSERT_TRUE(browsers.Works());
        TQuickLinkBand band;
        ASSERT_TRUE(TServerWrapperProbe::Current()->IsConnected());
        if (fault.Reading == TReading::Connection)
            FireQuit();

        // At the failing call: the menus of this build so far, which must all be gone afterwards.
        std::vector<HMENU> madeBeforeTheLoss;
        int seen = 0;
        Server->ClearCallLog();
        Server->OnServe = [&](int slot) -> HRESULT {
            if (slot != fault.Slot || ++seen != fault.Occurrence)
                return S_OK;
            madeBeforeTheLoss = band.GroupMenuHandles();
            return RPC_E_DISCONNECTED;
        };
        bool menuOpened = false;
        switch (fault.Reading) {
        case TReading::Change:
            FireGroupsChanged();
            break;
        case TReading::Connection:
            PostStartMessage();
            break;
        case TReading::DropDown:
            menuOpened = ProbeMenu([&] { ClickArrowPart(band.GroupBar(), 0); }).Opened;
            break;
        case TReading::Click:
            ClickButtonPart(band.GroupBar(), 0);
            break;
        }
        PumpMessages(50);
        Server->OnServe = nullptr;

        ASSERT_EQ(fault.Occurrence, seen) << "the failing call was made";
        EXPECT_FALSE(TServerWrapperProbe::Current()->IsConnected());
        const TStrings calls = ServerCalls();
        ASSERT_FALSE(calls.empty());
        EXPECT_TRUE(calls.back().starts_with(std::to_wstring(fault.Slot) + L" ")) << "no call after the loss";
        EXPECT_TRUE(Buttons(band.GroupBar()).empty());
        EXPECT_FALSE(band.ManageGroupsShown());
        EXPECT_EQ(0, band.MinWidth());
        EXPECT_EQ(0, ::GetMenuItemCount(band.ManageGroupsMenu()));
        EXPECT_TRUE(band.GroupMenuHandles().empty());
        for (HMENU menu : madeBeforeTheLoss)
            EXPECT_FALSE(::IsMenu(menu));
        EXPECT_FALSE(menuOpened) << "a group whose reading was cut short shows no menu";
        EXPECT_TRUE(browsers.Windows().empty()) << "nor opens windows";
        EXPECT_TRUE(ErrorMessages.empty());
        band.Close();
        Server->RevokeRunning();
        ASSERT_EQ(S_OK, Server->RegisterRunning());
    }
}

// What the application lets in while it answers a build's call (an application in another process does
// so while the caller waits): its groups change, it quits, it announces itself again, or the band closes.
// However deep the build was, the toolbar ends showing the newest state.
enum class TNested { Change, Quit, Announce, Close };

struct TNestedCase {
    const char* Name;
    long Slot; // the call it comes in: 53 the count of groups, 54 a group
    TNested What;
};

const TNestedCase kNestedCases[] = {
    {"ChangeWhileCounting", 53, TNested::Change},
    {"ChangeWhileReadingAGroup", 54, TNested::Change},
    {"QuitWhileCounting", 53, TNested::Quit},
    {"QuitWhileReadingAGroup", 54, TNested::Quit},
    {"AnnounceWhileCounting", 53, TNested::Announce},
    {"AnnounceWhileReadingAGroup", 54, TNested::Announce},
    {"CloseWhileReadingAGroup", 54, TNested::Close},
};

TEST_F(QuickLinkTest, ANotificationWhileABuildWaitsEndsWithTheNewestGroups) {
    const std::vector<TKeptorQuickGroup> newest = {{L"New", true, {{L"n1", L"http://n.test/1"}}},
                                                   {L"Newer", true, {}}};
    for (const TNestedCase& nested : kNestedCases) {
        SCOPED_TRACE(nested.Name);
        Groups() = FourGroups();
        TQuickLinkBand band;
        ASSERT_EQ((TStrings{L"X", L"Y", L"Z"}), ShownTexts(band.GroupBar()));
        bool ran = false;
        Server->RunBeforeAnswer(nested.Slot, [&] {
            ran = true;
            switch (nested.What) {
            case TNested::Change:
                Groups() = newest;
                FireGroupsChanged();
                break;
            case TNested::Quit:
                FireQuit();
                break;
            case TNested::Announce:
                Groups() = newest;
                PostStartMessage();
                break;
            case TNested::Close:
                band.Close();
                break;
            }
        });
        FireGroupsChanged();
        PumpMessages(100);
        ASSERT_TRUE(ran);
        switch (nested.What) {
        case TNested::Change:
        case TNested::Announce:
            EXPECT_EQ((TStrings{L"New", L"Newer"}), ShownTexts(band.GroupBar()));
            EXPECT_EQ((TStrings{L"New", L"Newer"}), DropDownStrings(band.MngBar(), 0));
            EXPECT_TRUE(band.ManageGroupsShown());
            break;
        case TNested::Quit:
            EXPECT_TRUE(Buttons(band.GroupBar()).empty());
            EXPECT_FALSE(band.ManageGroupsShown());
            EXPECT_TRUE(band.GroupMenuHandles().empty());
            break;
        case TNested::Close:
            EXPECT_FALSE(::IsWindow(band.Form()));
            break;
        }
        EXPECT_TRUE(ErrorMessages.empty());
        band.Close();
        Server->RevokeRunning();
        ASSERT_EQ(S_OK, Server->RegisterRunning());
    }
}

// --- Notifications while a handler runs --------------------------------------------------------------------

TEST_F(QuickLinkTest, AChangeWhileWindowsOpenWaitsUntilTheClickIsHandled) {
    const struct {
        const char* Name;
        bool Quit; // the application quits (else its groups change)
    } cases[] = {{"GroupsChange", false}, {"ApplicationQuits", true}};
    for (const auto& change : cases) {
        SCOPED_TRACE(change.Name);
        Groups() = FourGroups();
        TBrowserApplication browsers;
        ASSERT_TRUE(browsers.Works());
        TQuickLinkBand band;
        browsers.OnCreated = [&](TTestBrowser& window, size_t index) {
            if (index != 0)
                return;
            window.OnNavigate = [&](const std::wstring&) {
                Groups() = {{L"After", true, {{L"a1", L"http://after.test/"}}}};
                if (change.Quit)
                    FireQuit();
                else
                    FireGroupsChanged();
            };
        };
        ClickButtonPart(band.GroupBar(), 0);
        EXPECT_EQ((TStrings{L"http://x.test/1", L"http://x.test/2", L"http://x.test/3"}), browsers.NavigatedUrls())
            << "the click opens the group it was made on";
        PumpMessages(50);
        if (change.Quit) {
            EXPECT_TRUE(Buttons(band.GroupBar()).empty());
            EXPECT_FALSE(band.ManageGroupsShown());
            EXPECT_EQ(0, band.MinWidth());
        } else {
            EXPECT_EQ(TStrings{L"After"}, ShownTexts(band.GroupBar()));
            EXPECT_EQ(TStrings{L"After"}, DropDownStrings(band.MngBar(), 0));
        }
        band.Close();
        if (change.Quit) {
            Server->RevokeRunning();
            ASSERT_EQ(S_OK, Server->RegisterRunning());
        }
    }
}

TEST_F(QuickLinkTest, AChangeWhileADropDownIsOpenClosesItAndRebuildsAfter) {
    Groups() = FourGroups();
    TQuickLinkBand band;
    // The application changes its groups while the person looks at X's links.
    const TStrings seen = DropDownStrings(band.GroupBar(), 0, [&](const TMenuProbe&) {
        Groups() = {{L"After", true, {}}};
        FireGroupsChanged();
        return 0; // the person goes on to choose the first link
    });
    EXPECT_EQ((TStrings{L"x1", L"x2", L"x3"}), seen);
    EXPECT_TRUE(band.Browser().Navigations.empty()) << "the menu was closed under the person's choice";
    PumpMessages(50);
    EXPECT_EQ(TStrings{L"After"}, ShownTexts(band.GroupBar()));
}

TEST_F(QuickLinkTest, ClosingTheBandWhileAMenuIsOpenLeavesNothingBehind) {
    Groups() = FourGroups();
    const int windowsBefore = ThreadWindowCount();
    auto band = std::make_unique<TQuickLinkBand>();
    HMENU manage = band->ManageGroupsMenu();
    const std::vector<HMENU> groups = band->GroupMenuHandles();
    HWND bar = band->MngBar();
    const TMenuProbe menu = ProbeMenu([&] { ClickArrowPart(bar, 0); },
                                      [&](const TMenuProbe&) {
                                          band->Close();
                                          return -1;
                                      });
    EXPECT_TRUE(menu.Opened);
    PumpMessages(20);
    band.reset();
    EXPECT_FALSE(::IsMenu(manage));
    for (HMENU group : groups)
        EXPECT_FALSE(::IsMenu(group));
    EXPECT_EQ(windowsBefore, ThreadWindowCount());
}

// --- The application in its own process --------------------------------------------------------------------

TEST_F(QuickLinkTest, WithTheApplicationInItsOwnProcess) {
    Server->RevokeRunning(); // KeptorServer.exe is the running application here
    TKeptorProcess keptor(L"--demo");
    ASSERT_TRUE(keptor.Started());
    TQuickLinkBand band;
    ASSERT_TRUE(TServerWrapperProbe::Current()->IsConnected());
    // The demo archive: News (two links), Tools (one), and a hidden group.
    EXPECT_EQ((TStrings{L"News", L"Tools"}), ShownTexts(band.GroupBar()));
    EXPECT_EQ((TStrings{L"News", L"Tools"}), DropDownStrings(band.MngBar(), 0));
    EXPECT_EQ((TStrings{L"Example news", L"Example org"}), DropDownStrings(band.GroupBar(), 0));

    // The application changes its groups and says so while the call that says it waits.
    IKeptorControl* control = keptor.Control();
    ASSERT_EQ(S_OK, control->ClearQuickGroups());
    LONG index = -1, result = 0;
    ASSERT_EQ(S_OK, control->AddQuickGroup(TBStr(L"Remote").Get(), VARIANT_TRUE, &index));
    ASSERT_EQ(S_OK, control->AddQuickLink(index, TBStr(L"r1").Get(), TBStr(L"http://r.test/1").Get()));
    ASSERT_EQ(S_OK, control->AddQuickLink(index, TBStr(L"r2").Get(), TBStr(L"http://r.test/2").Get()));
    ASSERT_EQ(S_OK, control->SetQuickLinkReadable(index, 0, VARIANT_FALSE));
    TVariant none;
    ASSERT_EQ(S_OK, control->FireEvent(kOnQuickGroupChange, none.Get(), VARIANT_FALSE, &result));
    EXPECT_EQ(TStrings{L"Remote"}, ShownTexts(band.GroupBar()));
    EXPECT_EQ(TStrings{L"r2"}, DropDownStrings(band.GroupBar(), 0));

    // The application dies unannounced; the click on "Manage groups" notices, and once it is handled the
    // toolbar is empty.
    keptor.Kill();
    ClickButtonPart(band.MngBar(), 0);
    PumpMessages(50);
    EXPECT_FALSE(TServerWrapperProbe::Current()->IsConnected());
    EXPECT_TRUE(Buttons(band.GroupBar()).empty());
    EXPECT_FALSE(band.ManageGroupsShown());
    EXPECT_EQ(0, band.MinWidth());
}

// --- Resources over many builds -----------------------------------------------------------------------------

TEST_F(QuickLinkTest, AThousandRebuildsKeepTheResourceCountsFlat) {
    for (int group = 0; group < 5; ++group) {
        TKeptorQuickGroup added{L"Group " + std::to_wstring(group), true, {}};
        for (int link = 0; link < 3; ++link)
            added.Links.push_back({L"Link " + std::to_wstring(link), L"http://r.test/" + std::to_wstring(link)});
        Groups().push_back(std::move(added));
    }
    TQuickLinkBand band;
    FireGroupsChanged(); // the first rebuild settles caches (fonts, image lists' first draw)
    const TGuiObjectCounts before = GuiObjectCounts();
    std::vector<HMENU> made;
    const DWORD start = ::GetTickCount();
    for (int round = 0; round < 1000; ++round) {
        FireGroupsChanged();
        if (round % 100 == 0)
            for (HMENU menu : band.GroupMenuHandles())
                made.push_back(menu);
    }
    const DWORD elapsed = ::GetTickCount() - start;
    FireGroupsChanged();
    const TGuiObjectCounts after = GuiObjectCounts();
    std::printf("1000 rebuilds of 5 groups x 3 links in %lu ms: GDI objects %ld -> %ld, USER objects %ld -> %ld\n",
                static_cast<unsigned long>(elapsed), before.Gdi, after.Gdi, before.User, after.User);
    EXPECT_EQ(before.Gdi, after.Gdi) << "GDI objects are kept from build to build";
    EXPECT_EQ(before.User, after.User) << "menus or windows are kept from build to build";
    for (HMENU menu : made)
        EXPECT_FALSE(::IsMenu(menu));
    EXPECT_EQ(5u, Buttons(band.GroupBar()).size());
}

} // namespace

namespace {

// --- The keyboard ----------------------------------------------------------------------------------------

TEST_F(QuickLinkTest, TheKeyboardReachesManageGroupsEveryGroupAndTheirMenus) {
    Groups() = FourGroups();
    TBrowserApplication browsers;
    ASSERT_TRUE(browsers.Works());
    TQuickLinkBand band;
    ::ShowWindow(band.Site->Window(), SW_SHOWNA);
    ComPtr<IInputObject> input;
    ASSERT_EQ(S_OK, band.Band.As(&input));
    const auto press = [](UINT key, bool alt = false) {
        PressKey(key, alt);
        PumpMessages(30);
    };
    using TPlace = std::pair<HWND, int>; // the focused toolbar and its hot button
    const auto place = [] { return TPlace{::GetFocus(), FocusedHotIndex()}; };

    // The browser gives the band the focus: "Manage groups", marked hot.
    ASSERT_EQ(S_OK, input->UIActivateIO(TRUE, nullptr));
    EXPECT_EQ(TPlace(band.MngBar(), 0), place());
    // Down (and Alt+Down) opens its list of groups; the keyboard chooses Z there, which opens Z's link.
    EXPECT_EQ((TStrings{L"X", L"Y", L"Z"}), ProbeMenu([&] { press(VK_DOWN); }).Texts);
    EXPECT_EQ((TStrings{L"X", L"Y", L"Z"}), ProbeMenu([&] { press(VK_DOWN, true); }, 2).Texts);
    EXPECT_EQ(TStrings{L"http://z.test/1"}, browsers.NavigatedUrls());
    // Enter runs "Manage groups" itself.
    Server->ClearCallLog();
    press(VK_RETURN);
    EXPECT_EQ(TStrings{L"56 ShowQuickGroupManager()"}, ServerCalls());

    // Right walks the groups, and stays on the last one.
    std::vector<TPlace> walked;
    for (int step = 0; step < 4; ++step) {
        press(VK_RIGHT);
        walked.push_back(place());
    }
    const HWND groups = band.GroupBar();
    EXPECT_EQ((std::vector<TPlace>{{groups, 0}, {groups, 1}, {groups, 2}, {groups, 2}}), walked);
    // Enter opens Z's links in new windows, as a click on the button part does.
    browsers.Clear();
    press(VK_SPACE);
    EXPECT_EQ(TStrings{L"http://z.test/1"}, browsers.NavigatedUrls());
    // Home, Right: X. Down lists its links; the keyboard chooses x2, which the band's browser shows.
    press(VK_HOME);
    EXPECT_EQ(TPlace(band.MngBar(), 0), place());
    press(VK_RIGHT);
    EXPECT_EQ((TStrings{L"x1", L"x2", L"x3"}), ProbeMenu([&] { press(VK_DOWN); }, 1).Texts);
    EXPECT_EQ(TStrings{L"http://x.test/2"}, band.Browser().Navigations);
    EXPECT_EQ(TPlace(groups, 0), place()) << "the focus stays where the menu came from";
    // A change of groups rebuilds the toolbar under the keyboard: the focus goes to "Manage groups".
    Groups().pop_back();
    FireGroupsChanged();
    PumpMessages(100);
    EXPECT_EQ(TPlace(band.MngBar(), 0), place());
    EXPECT_EQ(1u, band.Site->FocusChanges.size()) << "the focus never left the band";
    EXPECT_TRUE(ErrorMessages.empty());
}

} // namespace
