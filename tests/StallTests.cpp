// Both toolbars against an application in its own process that answers the largest counts it can (quick
// groups, their links, ratings, domain links): what they show stays whole and bounded, and the longest
// stretch the browser's thread spends on one message is printed for every step a person or the
// application takes. The figures are printed, never compared with a limit: this machine's speed is no
// fault of the toolbars.
#include <windows.h>
#include <commctrl.h>
#include <wrl/client.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "KeptorServerUnit.h"
#include "KeptorVariantsUnit.h"
#include "band/TrovellaQLToolbarUnit.h"
#include "band/ZorbexExplorerBarUnit.h"
#include "com/ComSupportUnit.h"
#include "server/ServerWrapperUnit.h"
#include "support/BrowserHostUnit.h"
#include "support/ClassProbes.h"
#include "support/KeptorProcessUnit.h"
#include "support/MenuProbeUnit.h"
#include "support/StallMeterUnit.h"
#include "support/TestSupport.h"
#include "support/ToolbarProbeUnit.h"
#include "ui/MainIEToolBandFormUnit.h"
#include "ui/QLIEToolBandFormUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;

namespace {

using TStrings = std::vector<std::wstring>;

constexpr DISPID kOnQuickGroupChange = 206;
constexpr int kDomainLinksImage = 14;
const wchar_t kPage[] = L"http://archive.example/page";
constexpr LONG kPageId = 2001;

TStrings ButtonTexts(HWND bar) {
    TStrings texts;
    const int count = static_cast<int>(::SendMessageW(bar, TB_BUTTONCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) {
        TBBUTTON info{};
        if (!::SendMessageW(bar, TB_GETBUTTON, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&info)) ||
            (info.fsState & TBSTATE_HIDDEN))
            continue;
        wchar_t text[300]{};
        ::SendMessageW(bar, TB_GETBUTTONTEXTW, static_cast<WPARAM>(info.idCommand), reinterpret_cast<LPARAM>(text));
        texts.push_back(text);
    }
    return texts;
}

// One step of the run and the longest message of the thread while it ran.
struct TStep {
    std::string Name;
    double Longest = 0;
};

class StallTest : public TComTest {
protected:
    void TearDown() override {
        EXPECT_EQ(nullptr, TServerWrapperProbe::Current()) << "a wrapper was left behind";
        TComTest::TearDown();
    }

    // Runs a step watched: the action, then the messages it left queued, until `done` holds (for twenty
    // seconds at most) and a little after.
    void Step(const std::string& name, const std::function<void()>& action,
              const std::function<bool()>& done = [] { return true; }) {
        const double longest = Meter.Watch([&] {
            action();
            for (int round = 0; round < 400 && !done(); ++round)
                PumpMessages(50);
            PumpMessages(100);
        });
        Steps.push_back({name, longest});
    }

    void PrintSteps(const char* title) const {
        std::printf("%s\n", title);
        double longest = 0;
        for (const TStep& step : Steps) {
            std::printf("  %-58s %8.1f ms\n", step.Name.c_str(), step.Longest);
            longest = std::max(longest, step.Longest);
        }
        std::printf("  %-58s %8.1f ms\n", "longest single message of the run", longest);
    }

    TStallMeter Meter;
    std::vector<TStep> Steps;
};

// The application fills what it can: every count at its largest, the quick groups as many as the toolbar
// shows and each claiming the largest number of links (the first one with that many real ones), a domain
// that knows a hundred thousand links with a picture for each the menu can show.
void SeedLargestCounts(IKeptorControl* control) {
    ASSERT_EQ(S_OK, control->ClearQuickGroups());
    for (LONG group = 0; group < TQLIEToolBandForm::kMaxGroups; ++group) {
        LONG index = -1;
        ASSERT_EQ(S_OK, control->AddQuickGroup(TBStr(L"G" + std::to_wstring(group)).Get(), VARIANT_TRUE, &index));
        ASSERT_EQ(S_OK, control->SetQuickLinkCountAnswer(index, LONG_MAX));
    }
    for (LONG link = 0; link < TQLIEToolBandForm::kMaxLinksPerGroup; ++link)
        ASSERT_EQ(S_OK, control->AddQuickLink(0, TBStr(L"L" + std::to_wstring(link)).Get(),
                                              TBStr(L"http://g.test/" + std::to_wstring(link)).Get()));
    ASSERT_EQ(S_OK, control->SetQuickGroupCountAnswer(LONG_MAX));
    ASSERT_EQ(S_OK, control->SetRatingCount(LONG_MAX));

    constexpr LONG kDomainLinks = 100000;
    std::vector<BYTE> ids(static_cast<size_t>(kDomainLinks) * 4);
    for (LONG id = 0; id < kDomainLinks; ++id)
        std::memcpy(ids.data() + static_cast<size_t>(id) * 4, &id, 4);
    ASSERT_EQ(S_OK, control->SetDomainLinksAnswer(keptor::MakeByteArray(ids).Get()));
    for (LONG id = 0; id < TMainIEToolBandForm::kMaxMenuItems; ++id)
        ASSERT_EQ(S_OK, control->SetLinkPicture(TBStr(L"").Get(), id, 120, 18, 0x00C08040));
    ASSERT_EQ(S_OK, control->SetDocument(TBStr(kPage).Get(), kPageId, TBStr(L"Read later").Get(), 1, 3));
}

TEST_F(StallTest, TheLargestCountsFromAnotherProcess) {
    SetEverySwitch(true);
    TKeptorProcess keptor;
    ASSERT_TRUE(keptor.Started());
    IKeptorControl* control = keptor.Control();
    SeedLargestCounts(control);
    if (HasFatalFailure())
        return;

    TLibraryBand main(TakeCreated<IDeskBand>(TZorbexExplorerBar::CreateObject()));
    TLibraryBand quick(TakeCreated<IDeskBand>(TTrovellaQLToolbar::CreateObject()));
    ASSERT_EQ(S_OK, main.SiteResult);
    ASSERT_EQ(S_OK, quick.SiteResult);
    PumpMessages(100);
    // The group bar is found afresh each time: a new set of groups may come on a new bar.
    const auto groupBar = [&] { return ::FindWindowExW(quick.Window(), nullptr, TOOLBARCLASSNAMEW, L"QLToolBar"); };
    const HWND manageBar = ::FindWindowExW(quick.Window(), nullptr, TOOLBARCLASSNAMEW, L"QLMngToolBar");
    ASSERT_TRUE(groupBar() && manageBar);

    // The application announces itself (as it does when it starts), then says its groups changed; each
    // step lasts until the toolbar shows the groups (a build may take several messages).
    TStrings expected;
    for (LONG group = 0; group < TQLIEToolBandForm::kMaxGroups; ++group)
        expected.push_back(L"G" + std::to_wstring(group));
    const auto built = [&] { return ButtonTexts(groupBar()).size() == expected.size(); };
    Step("the application announces itself (0x0500)", [&] {
        ::PostThreadMessageW(::GetCurrentThreadId(), kKeptorStartMessage, 0, 0);
        PumpMessages(10); // the toolbar is cleared first
    }, built);
    EXPECT_EQ(expected, ButtonTexts(groupBar())) << "every group the toolbar shows, in the application's order";
    Step("the quick groups change (OnQuickGroupChange)", [&] {
        TVariant none;
        LONG result = 0;
        ASSERT_EQ(S_OK, control->FireEvent(kOnQuickGroupChange, none.Get(), VARIANT_FALSE, &result));
        PumpMessages(10);
    }, built);
    EXPECT_EQ(expected, ButtonTexts(groupBar()));

    // The drop-downs: the links of a group, and the groups again.
    TMenuProbe links, lies, groups;
    Step("the drop-down of a group with real links", [&] {
        links = ProbeMenu([&] { ClickArrowPart(groupBar(), 0); });
    });
    Step("the drop-down of a group whose links are all lies", [&] {
        lies = ProbeMenu([&] { ClickArrowPart(groupBar(), TQLIEToolBandForm::kMaxGroups - 1); });
    });
    Step("the drop-down of \"Manage groups\"", [&] { groups = ProbeMenu([&] { ClickArrowPart(manageBar, 0); }); });
    ASSERT_TRUE(links.Opened);
    ASSERT_FALSE(links.Texts.empty());
    EXPECT_EQ(L"L0", links.Texts.front()) << "the group's links from its first";
    EXPECT_FALSE(lies.Opened) << "a group none of whose links can be read shows no menu";
    EXPECT_EQ(static_cast<int>(TQLIEToolBandForm::kMaxGroups), groups.Count);

    // The main toolbar on the archived page: the rating menu and the domain-links menu.
    TMenuProbe ratings, domainLinks;
    Step("a top-level navigation to an archived page", [&] { main.Site->Browser().FireNavigateComplete(kPage); });
    const std::vector<HWND> labels = ToolbarLabels(main.Window());
    ASSERT_EQ(3u, labels.size());
    Step("the rating menu", [&] {
        ratings = ProbeMenu([&] {
            ::SendMessageW(::GetParent(labels[0]), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(labels[0]), STN_CLICKED),
                           reinterpret_cast<LPARAM>(labels[0]));
        });
    });
    Step("the domain-links menu", [&] {
        domainLinks = ProbeMenu([&] { ClickToolbarButton(main.Window(), kDomainLinksImage); });
    });
    EXPECT_EQ(static_cast<int>(TMainIEToolBandForm::kMaxMenuItems), ratings.Count) << "every rating";
    // The domain links whose pictures the time budget reaches, from the first.
    EXPECT_GE(domainLinks.Count, 1);
    EXPECT_LE(domainLinks.Count, static_cast<int>(TMainIEToolBandForm::kMaxMenuItems));
    std::printf("The domain-links menu showed %d of the %d links it may show.\n", domainLinks.Count,
                static_cast<int>(TMainIEToolBandForm::kMaxMenuItems));

    PrintSteps("Longest message of the browser thread, the application in its own process:");
    EXPECT_TRUE(TServerWrapperProbe::Current()->IsConnected()) << "no call failed on the way";
    main.Close();
    quick.Close();
    PumpMessages(50);
}

} // namespace
