// Forms that are closed while they are still at work: during a notification of the thread's wrapper,
// and inside a modal menu. The wrapper and the forms stay alive until the work has returned, and are
// then freed: nothing is left and nothing freed is touched.
#include <windows.h>
#include <commctrl.h>
#include <wrl/client.h>

#include "KeptorServerUnit.h"
#include "band/ZorbexExplorerBarUnit.h"
#include "server/ServerWrapperUnit.h"
#include "support/BrowserHostUnit.h"
#include "support/MenuProbeUnit.h"
#include "support/RecordingBandUnit.h"
#include "support/ClassProbes.h"
#include "support/TestSupport.h"
#include "support/ToolbarProbeUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;
using keptor::TKeptorServer;

namespace {

constexpr DISPID kOnDocumentDataChangeDispid = 203;

IDeskBand* ClosingBand = nullptr;

void CALLBACK CloseBandTick(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    if (ClosingBand)
        ClosingBand->CloseDW(0);
}

class FormLifetimeTest : public TComTest {
protected:
    void SetUp() override {
        RecordedNotifications().clear();
        Server = TKeptorServer::Create();
        ASSERT_EQ(S_OK, Server->RegisterRunning());
    }
    void TearDown() override {
        EXPECT_EQ(nullptr, TServerWrapperProbe::Current()) << "a wrapper was left behind";
        Server->RevokeRunning();
        Server.Reset();
        TComTest::TearDown();
    }
    HRESULT FireDocumentData() {
        std::vector<TVariant> args; // last argument first
        args.emplace_back(1L);
        args.emplace_back(0L);
        args.emplace_back(L"");
        TVariant present;
        V_VT(present.Ptr()) = VT_BOOL;
        V_BOOL(present.Ptr()) = VARIANT_TRUE;
        args.push_back(std::move(present));
        args.emplace_back(7L);
        return Server->Fire(kOnDocumentDataChangeDispid, std::move(args));
    }

    ComPtr<TKeptorServer> Server;
};

TEST_F(FormLifetimeTest, EveryFormClosingWhileItIsToldFreesTheWrapperAfterTheTelling) {
    auto first = std::make_unique<TSitedBand>(L"first");
    auto second = std::make_unique<TSitedBand>(L"second");
    ASSERT_EQ(2, TServerWrapperProbe::ClientCount(*TServerWrapperProbe::Current()));
    // The first form closes both bands, the last client of the thread among them, while it is told.
    first->Form()->OnDocumentData = [&] {
        first->Close();
        second->Close();
        EXPECT_NE(nullptr, TServerWrapperProbe::Current()) << "the wrapper lives until the telling is over";
    };
    EXPECT_EQ(S_OK, FireDocumentData());
    EXPECT_EQ(std::vector<std::wstring>{L"first:DocumentDataChanged(7,true,,0,1)"}, RecordedNotifications())
        << "a closed form is not told any more";
    EXPECT_EQ(nullptr, TServerWrapperProbe::Current());
    first.reset();
    second.reset();
}

TEST_F(FormLifetimeTest, AFormClosedInsideItsMenuIsFreedWhenTheMenuReturns) {
    ComPtr<TTestSite> site = TTestSite::Create();
    ComPtr<IDeskBand> band = TakeCreated<IDeskBand>(TZorbexExplorerBar::CreateObject());
    ComPtr<IObjectWithSite> withSite;
    ASSERT_EQ(S_OK, band.As(&withSite));
    ASSERT_EQ(S_OK, withSite->SetSite(static_cast<IOleWindow*>(site.Get())));
    HWND form = nullptr;
    ASSERT_EQ(S_OK, band->GetWindow(&form));
    // An archived page, so that the rating menu opens from the rating label.
    Server->Archive().Documents[L"http://a.example/"] = {5, L"", 0, 1};
    VARIANT disp{};
    V_VT(&disp) = VT_DISPATCH;
    V_DISPATCH(&disp) = static_cast<IDispatch*>(&site->Browser());
    TVariant url(L"http://a.example/");
    site->Browser().Fire(252 /* NavigateComplete2 */, {disp, url.Get()});
    PumpMessages(30);
    HWND bar = ::FindWindowExW(form, nullptr, TOOLBARCLASSNAMEW, nullptr);
    HWND rating = nullptr;
    for (HWND panel = ::GetWindow(bar, GW_CHILD); panel && !rating; panel = ::GetWindow(panel, GW_HWNDNEXT))
        rating = ::FindWindowExW(panel, nullptr, L"Static", nullptr);
    ASSERT_TRUE(rating);
    // While the menu is open, the browser closes the band: the menu's loop ends, the form goes.
    ClosingBand = band.Get();
    ::SetTimer(nullptr, 0, 10, &CloseBandTick);
    TMenuProbe menu = ProbeMenu([&] {
        ::SendMessageW(::GetParent(rating), WM_COMMAND, MAKEWPARAM(0, STN_CLICKED), reinterpret_cast<LPARAM>(rating));
    });
    ClosingBand = nullptr;
    EXPECT_FALSE(::IsWindow(form)) << "the form's window is gone";
    EXPECT_EQ(nullptr, TServerWrapperProbe::Current()) << "the last form took the wrapper with it";
    withSite->SetSite(nullptr);
    band.Reset();
    site.Reset();
}

// The browser closes the band while the application answers one of the calls that build a menu (the n-th
// call of its slot): the building stops there, and the form, its menus and the wrapper go once the click
// has returned.
struct TClosingCall {
    const char* Name;
    int Slot;
    int Occurrence;
};

const TClosingCall kClosingCalls[] = {
    {"RatingCount", 41, 1},
    {"ColoursOfTheThirdRating", 42, 3},
    {"DomainLinks", 33, 1},
    {"PictureOfTheSecondDomainLink", 14, 2},
};

TEST_F(FormLifetimeTest, AFormClosedWhileItsMenuIsBuiltStopsBuildingIt) {
    for (const TClosingCall& closing : kClosingCalls) {
        SCOPED_TRACE(closing.Name);
        TLibraryBand band(TakeCreated<IDeskBand>(TZorbexExplorerBar::CreateObject()));
        ASSERT_EQ(S_OK, band.SiteResult);
        const HWND form = band.Window();
        Server->Archive().Documents[L"http://a.example/"] = {5, L"", 0, 1};
        for (long id = 1; id <= 3; ++id) {
            Server->Archive().DomainLinks[id] = L"http://a.example/" + std::to_wstring(id);
            Server->SetLinkPicture(nullptr, id, 40, 10, 0x00C08040);
        }
        band.Site->Browser().FireNavigateComplete(L"http://a.example/");
        PumpMessages(30);
        const std::vector<HWND> labels = ToolbarLabels(form);
        ASSERT_FALSE(labels.empty());
        int seen = 0;
        Server->OnServe = [&](int slot) -> HRESULT {
            if (slot == closing.Slot && ++seen == closing.Occurrence)
                band.Band->CloseDW(0);
            return S_OK;
        };
        const TMenuProbe menu = ProbeMenu([&] {
            if (closing.Slot == 41 || closing.Slot == 42) // the rating label
                ::SendMessageW(::GetParent(labels[0]), WM_COMMAND, MAKEWPARAM(0, STN_CLICKED),
                               reinterpret_cast<LPARAM>(labels[0]));
            else
                ClickToolbarButton(form, 14);
        });
        Server->OnServe = nullptr;
        EXPECT_EQ(closing.Occurrence, seen);
        EXPECT_FALSE(menu.Opened) << "no menu of a closed form opens";
        EXPECT_FALSE(::IsWindow(form));
        EXPECT_EQ(nullptr, TServerWrapperProbe::Current());
    }
}

} // namespace
