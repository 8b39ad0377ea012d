// The two toolbar bands driven through COM as a browser drives them: site, band info, focus,
// persistence stubs, and their lifetime.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <shlguid.h>
#include <wrl/client.h>

#include <algorithm>
#include <string>

#include "band/ZorbexExplorerBarUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ZorbexGUI_TLB.h"
#include "support/BrowserHostUnit.h"
#include "support/RecordingBandUnit.h"
#include "support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;

namespace {

struct TBandKind {
    const char* Name;
    const CLSID* Clsid;
    const wchar_t* Title;
    LONG DesignedWidth; // 0: the width of the form's toolbars' content
};

const TBandKind kBands[] = {
    {"MainToolbar", &CLSID_ZorbexExplorerBar, L"Trovella", 0},
    {"QuickLinkToolbar", &CLSID_TrovellaQLToolbar, L"Trovella Links", 650},
};

// The summed widths of the toolbars of a form up to their last shown item, read from the controls.
LONG ToolbarContentWidth(HWND form) {
    LONG width = 0;
    for (HWND bar = ::FindWindowExW(form, nullptr, TOOLBARCLASSNAMEW, nullptr); bar;
         bar = ::FindWindowExW(form, bar, TOOLBARCLASSNAMEW, nullptr)) {
        LONG right = 0;
        const int count = static_cast<int>(::SendMessageW(bar, TB_BUTTONCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            RECT item{};
            if (::SendMessageW(bar, TB_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item)) &&
                item.right > item.left)
                right = std::max(right, item.right);
        }
        width += right;
    }
    return width;
}

class BandTest : public TComTest, public ::testing::WithParamInterface<TBandKind> {
protected:
    ComPtr<IDeskBand> NewBand() {
        ComPtr<IDeskBand> band;
        EXPECT_EQ(S_OK, ::CoCreateInstance(*GetParam().Clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&band)));
        return band;
    }
    static DESKBANDINFO BandInfo(IDeskBand* band, DWORD bandID = 1) {
        DESKBANDINFO info{};
        info.dwMask = DBIM_MINSIZE | DBIM_MAXSIZE | DBIM_INTEGRAL | DBIM_ACTUAL | DBIM_TITLE | DBIM_MODEFLAGS |
                      DBIM_BKCOLOR;
        EXPECT_EQ(S_OK, band->GetBandInfo(bandID, DBIF_VIEWMODE_NORMAL, &info));
        return info;
    }
    static ComPtr<IObjectWithSite> SiteOf(IDeskBand* band) {
        ComPtr<IObjectWithSite> withSite;
        EXPECT_EQ(S_OK, band->QueryInterface(IID_PPV_ARGS(&withSite)));
        return withSite;
    }
};

TEST_P(BandTest, SetSiteCreatesTheFormAsAChildOfTheSiteWindow) {
    ComPtr<TTestSite> site = TTestSite::Create();
    ComPtr<IDeskBand> band = NewBand();
    ASSERT_EQ(S_OK, SiteOf(band.Get())->SetSite(static_cast<IOleWindow*>(site.Get())));
    HWND form = nullptr;
    ASSERT_EQ(S_OK, band->GetWindow(&form));
    ASSERT_TRUE(::IsWindow(form));
    EXPECT_EQ(site->Window(), ::GetParent(form));
    EXPECT_TRUE(::GetWindowLongW(form, GWL_STYLE) & WS_CHILD);
    EXPECT_TRUE(::GetWindowLongW(form, GWL_STYLE) & WS_VISIBLE);
    EXPECT_FALSE(::GetWindowLongW(form, GWL_STYLE) & (WS_BORDER | WS_CAPTION));

    DESKBANDINFO info = BandInfo(band.Get());
    EXPECT_EQ(0, info.ptMinSize.x);
    EXPECT_EQ(22, info.ptMinSize.y);
    EXPECT_EQ(-1, info.ptMaxSize.x);
    EXPECT_EQ(22, info.ptMaxSize.y);
    EXPECT_EQ(GetParam().DesignedWidth ? GetParam().DesignedWidth : ToolbarContentWidth(form), info.ptActual.x);
    EXPECT_EQ(22, info.ptActual.y);
    EXPECT_EQ(1, info.ptIntegral.x);
    EXPECT_EQ(1, info.ptIntegral.y);
    EXPECT_EQ(0u, info.dwModeFlags);
    EXPECT_STREQ(GetParam().Title, info.wszTitle);
    EXPECT_FALSE(info.dwMask & DBIM_BKCOLOR);

    // GetSite answers from the site it holds.
    ComPtr<IInputObjectSite> inputSite;
    EXPECT_EQ(S_OK, SiteOf(band.Get())->GetSite(IID_PPV_ARGS(&inputSite)));

    ComPtr<IDockingWindow> docking;
    ASSERT_EQ(S_OK, band.As(&docking));
    EXPECT_EQ(S_OK, docking->ShowDW(FALSE));
    EXPECT_FALSE(::IsWindowVisible(form));
    EXPECT_EQ(S_OK, docking->ShowDW(TRUE));
    EXPECT_TRUE(::GetWindowLongW(form, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(S_OK, docking->CloseDW(0));
    EXPECT_FALSE(::IsWindow(form));
    EXPECT_EQ(E_FAIL, band->GetWindow(&form));
    EXPECT_EQ(S_OK, SiteOf(band.Get())->SetSite(nullptr));
}

TEST_P(BandTest, BandInfoWithoutAForm) {
    ComPtr<IDeskBand> band = NewBand();
    DESKBANDINFO info = BandInfo(band.Get());
    EXPECT_EQ(0, info.ptMinSize.x);
    EXPECT_EQ(22, info.ptMinSize.y);
    EXPECT_EQ(-1, info.ptMaxSize.x);
    EXPECT_EQ(22, info.ptMaxSize.y);
    EXPECT_EQ(0, info.ptActual.x);
    EXPECT_EQ(0, info.ptActual.y);
    EXPECT_STREQ(GetParam().Title, info.wszTitle);
    EXPECT_EQ(DBIM_MINSIZE | DBIM_MAXSIZE | DBIM_INTEGRAL | DBIM_ACTUAL | DBIM_TITLE | DBIM_MODEFLAGS,
              info.dwMask);

    // Only the requested parts are written.
    DESKBANDINFO partial{};
    partial.dwMask = DBIM_TITLE;
    partial.ptMinSize = {123, 456};
    ASSERT_EQ(S_OK, band->GetBandInfo(0, 0, &partial));
    EXPECT_EQ(123, partial.ptMinSize.x);

    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(E_FAIL, band->GetWindow(&window));
    EXPECT_EQ(nullptr, window);
    void* site = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_FAIL, SiteOf(band.Get())->GetSite(IID_IUnknown, &site));
    EXPECT_EQ(nullptr, site);
}

TEST_P(BandTest, EveryMissingSitePartFailsAndCreatesNoForm) {
    struct TCase {
        const char* Name;
        TSiteOptions Options;
    };
    const TCase cases[] = {
        {"no IOleWindow", {.OleWindow = false}},
        {"zero window", {.ZeroWindow = true}},
        {"no IInputObjectSite", {.InputObjectSite = false}},
        {"no IOleCommandTarget", {.CommandTarget = false}},
        {"no IServiceProvider", {.ServiceProvider = false}},
        {"no browser", {.Browser = false}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.Name);
        ComPtr<TTestSite> site = TTestSite::Create(testCase.Options);
        const int windowsBefore = ThreadWindowCount();
        ComPtr<IDeskBand> band = NewBand();
        EXPECT_EQ(E_FAIL, SiteOf(band.Get())->SetSite(static_cast<IOleWindow*>(site.Get())));
        HWND form = nullptr;
        EXPECT_EQ(E_FAIL, band->GetWindow(&form));
        EXPECT_EQ(windowsBefore, ThreadWindowCount());
    }
}

TEST_P(BandTest, SetSiteNullKeepsTheFormAndCloseDWDestroysIt) {
    ComPtr<TTestSite> site = TTestSite::Create();
    ComPtr<IDeskBand> band = NewBand();
    ASSERT_EQ(S_OK, SiteOf(band.Get())->SetSite(static_cast<IOleWindow*>(site.Get())));
    HWND form = nullptr;
    ASSERT_EQ(S_OK, band->GetWindow(&form));
    EXPECT_EQ(S_OK, SiteOf(band.Get())->SetSite(nullptr));
    EXPECT_TRUE(::IsWindow(form));
    HWND again = nullptr;
    EXPECT_EQ(S_OK, band->GetWindow(&again));
    EXPECT_EQ(form, again);
    // A second site keeps the existing form where it is.
    ComPtr<TTestSite> other = TTestSite::Create();
    EXPECT_EQ(S_OK, SiteOf(band.Get())->SetSite(static_cast<IOleWindow*>(other.Get())));
    EXPECT_EQ(site->Window(), ::GetParent(form));
    EXPECT_EQ(S_OK, band->CloseDW(0));
    EXPECT_FALSE(::IsWindow(form));
    EXPECT_EQ(S_OK, SiteOf(band.Get())->SetSite(nullptr));
}

TEST_P(BandTest, ReleasingWithoutCloseDWLeavesNoWindow) {
    ComPtr<TTestSite> site = TTestSite::Create();
    const int windowsBefore = ThreadWindowCount();
    HWND form = nullptr;
    {
        ComPtr<IDeskBand> band = NewBand();
        ASSERT_EQ(S_OK, SiteOf(band.Get())->SetSite(static_cast<IOleWindow*>(site.Get())));
        ASSERT_EQ(S_OK, band->GetWindow(&form));
        SiteOf(band.Get())->SetSite(nullptr);
    }
    EXPECT_FALSE(::IsWindow(form));
    EXPECT_EQ(windowsBefore, ThreadWindowCount());
}

TEST_P(BandTest, FocusInAndOutReachesTheSite) {
    ComPtr<TTestSite> site = TTestSite::Create();
    ::ShowWindow(site->Window(), SW_SHOWNA);
    ComPtr<IDeskBand> band = NewBand();
    ASSERT_EQ(S_OK, SiteOf(band.Get())->SetSite(static_cast<IOleWindow*>(site.Get())));
    ComPtr<IInputObject> input;
    ASSERT_EQ(S_OK, band.As(&input));
    ComPtr<IUnknown> identity;
    ASSERT_EQ(S_OK, band.As(&identity));
    HWND form = nullptr;
    ASSERT_EQ(S_OK, band->GetWindow(&form));

    EXPECT_EQ(S_FALSE, input->HasFocusIO());
    EXPECT_EQ(S_OK, input->UIActivateIO(FALSE, nullptr));
    EXPECT_TRUE(site->FocusChanges.empty()) << "deactivation changes nothing";

    EXPECT_EQ(S_OK, input->UIActivateIO(TRUE, nullptr));
    // On the form's first control that takes it (its first toolbar button), or on the form.
    EXPECT_TRUE(::GetFocus() == form || ::IsChild(form, ::GetFocus()));
    ASSERT_EQ(1u, site->FocusChanges.size());
    EXPECT_EQ(identity.Get(), site->FocusChanges[0].first);
    EXPECT_EQ(-1, site->FocusChanges[0].second);
    EXPECT_EQ(S_OK, input->HasFocusIO());

    ::SetFocus(site->Window());
    ASSERT_EQ(2u, site->FocusChanges.size());
    EXPECT_EQ(0, site->FocusChanges[1].second);
    EXPECT_EQ(S_FALSE, input->HasFocusIO());

    MSG message{form, WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_EQ(S_FALSE, input->TranslateAcceleratorIO(&message));
    EXPECT_EQ(S_OK, band->CloseDW(0));
    SiteOf(band.Get())->SetSite(nullptr);
}

TEST_P(BandTest, InterfacesAndPersistenceStubs) {
    ComPtr<IDeskBand> band = NewBand();
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(E_NOINTERFACE, band->QueryInterface(IID_IOleWindow, &unknown));
    EXPECT_EQ(E_NOINTERFACE, band->QueryInterface(IID_IPersist, &unknown));
    for (const IID* iid : {&IID_IDeskBand, &IID_IDockingWindow, &IID_IObjectWithSite, &IID_IInputObject,
                           &IID_IPersistStream, &IID_IProvideClassInfo, &IID_ISupportErrorInfo}) {
        EXPECT_EQ(S_OK, band->QueryInterface(*iid, &unknown)) << GuidToString(*iid).c_str();
        unknown.Reset();
    }

    ComPtr<IPersistStream> persist;
    ASSERT_EQ(S_OK, band.As(&persist));
    CLSID clsid{};
    EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
    EXPECT_EQ(*GetParam().Clsid, clsid);
    EXPECT_EQ(S_FALSE, persist->IsDirty());
    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    EXPECT_EQ(S_OK, persist->Save(stream.Get(), TRUE));
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(0u, stat.cbSize.QuadPart);
    EXPECT_EQ(S_OK, persist->Load(stream.Get()));
    ULARGE_INTEGER size{};
    EXPECT_EQ(E_NOTIMPL, persist->GetSizeMax(&size));
    EXPECT_EQ(E_NOTIMPL, band->ContextSensitiveHelp(TRUE));
    ComPtr<IDockingWindow> docking;
    ASSERT_EQ(S_OK, band.As(&docking));
    EXPECT_EQ(E_NOTIMPL, docking->ResizeBorderDW(nullptr, nullptr, FALSE));
    EXPECT_EQ(S_OK, docking->ShowDW(TRUE)) << "without a form";
    EXPECT_EQ(S_OK, docking->CloseDW(0)) << "without a form";

    EXPECT_EQ(*GetParam().Clsid, ProvidedClassID(band.Get()));
}

INSTANTIATE_TEST_SUITE_P(Bands, BandTest, ::testing::ValuesIn(kBands),
                         [](const auto& row) { return std::string(row.param.Name); });

// In-process: the band's own operation for its forms.
class BandInProcessTest : public TComTest {};

TEST_F(BandInProcessTest, NotifyBandInfoChangedCallsExecWithTheLastBandID) {
    ComPtr<TTestSite> site = TTestSite::Create();
    IUnknown* object = TZorbexExplorerBar::CreateObject();
    ComPtr<IDeskBand> band;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_PPV_ARGS(&band)));
    object->Release();
    auto* bandObject = static_cast<TIEBand*>(band.Get());
    bandObject->NotifyBandInfoChanged(); // no command target yet: nothing happens
    ComPtr<IObjectWithSite> withSite;
    ASSERT_EQ(S_OK, band.As(&withSite));
    ASSERT_EQ(S_OK, withSite->SetSite(static_cast<IOleWindow*>(site.Get())));
    DESKBANDINFO info{};
    info.dwMask = DBIM_TITLE;
    ASSERT_EQ(S_OK, band->GetBandInfo(7, DBIF_VIEWMODE_NORMAL, &info));
    bandObject->NotifyBandInfoChanged();
    ASSERT_EQ(1u, site->ExecCalls.size());
    EXPECT_EQ(CGID_DeskBand, site->ExecCalls[0].Group);
    EXPECT_EQ(static_cast<DWORD>(DBID_BANDINFOCHANGED), site->ExecCalls[0].Command);
    EXPECT_EQ(0u, site->ExecCalls[0].Option);
    EXPECT_EQ(VT_I4, site->ExecCalls[0].InType);
    EXPECT_EQ(7, site->ExecCalls[0].InValue);
    EXPECT_EQ(bandObject->WebBrowser(), static_cast<IWebBrowser2*>(&site->Browser()));
    band->CloseDW(0);
    withSite->SetSite(nullptr);
}

// A band whose title is longer than the band info's title field.
class TLongTitleBand : public TIEToolBand {
protected:
    void GetBandClassID(CLSID& clsid) override { clsid = CLSID_NULL; }
    TBandFormClass GetFormClass() override { return &TIEBandForm::Create<TRecordingForm>; }
    void GetTitle(std::wstring& title) override { title = std::wstring(300, L'x') + L"tail"; }
};

TEST_F(BandInProcessTest, TitleIsCutTo255Characters) {
    ComPtr<IDeskBand> band(new TLongTitleBand);
    DESKBANDINFO info{};
    info.dwMask = DBIM_TITLE;
    std::fill(std::begin(info.wszTitle), std::end(info.wszTitle), L'#');
    ASSERT_EQ(S_OK, band->GetBandInfo(0, DBIF_VIEWMODE_NORMAL, &info));
    EXPECT_EQ(std::wstring(255, L'x'), std::wstring(info.wszTitle));
}

} // namespace
