// The quick-link toolbar's builds: the time of one build of the groups at growing sizes (up to the
// form's bounds, and with a group count that lies), until its buttons are up, and the longest message
// the browser thread handled meanwhile (a build is spread over messages), with the same for the first
// opening of a group's drop-down; against the reference Keptor server in this process and as
// KeptorServer.exe in its own (every call then crosses processes); and the resource counts over a
// thousand rebuilds.
//
// Run under Wine with the server's path set:
//   ZORBEX_KEPTOR_EXE=build/tools/keptor/KeptorServer.exe tools/winerun.sh <prefix> build/bench/QuickLinkBench.exe
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "band/TrovellaQLToolbarUnit.h"
#include "com/ComSupportUnit.h"
#include "keptor/KeptorServerUnit.h"
#include "server/ServerWrapperUnit.h"
#include "support/BrowserHostUnit.h"
#include "support/KeptorProcessUnit.h"
#include "support/EnvironmentUnit.h"
#include "support/MenuProbeUnit.h"
#include "support/StallMeterUnit.h"
#include "support/ToolbarProbeUnit.h"
#include "ui/QLIEToolBandFormUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;

namespace {

using TClock = std::chrono::steady_clock;
constexpr DISPID kOnQuickGroupChange = 206;

struct TSize {
    long Groups;
    long LinksPerGroup;
    long CountAnswer; // -1: the truth
};

const TSize kSizes[] = {{5, 3, -1}, {20, 10, -1}, {100, 20, -1}, {256, 16, -1}, {300, 300, -1}, {2, 1, 1000000}};

// A quick-link band sited in a test host, closed at the end.
struct TBand {
    ComPtr<test::TTestSite> Site = test::TTestSite::Create();
    ComPtr<IDeskBand> Band = test::TakeCreated<IDeskBand>(TTrovellaQLToolbar::CreateObject());
    TBand() {
        ComPtr<IObjectWithSite> withSite;
        if (SUCCEEDED(Band.As(&withSite)))
            withSite->SetSite(static_cast<IOleWindow*>(Site.Get()));
    }
    ~TBand() {
        Band->CloseDW(0);
        ComPtr<IObjectWithSite> withSite;
        if (SUCCEEDED(Band.As(&withSite)))
            withSite->SetSite(nullptr);
    }
    HWND GroupBar() const {
        HWND form = nullptr;
        Band->GetWindow(&form);
        return ::FindWindowExW(form, nullptr, TOOLBARCLASSNAMEW, L"QLToolBar");
    }
    int ButtonCount() const { return static_cast<int>(::SendMessageW(GroupBar(), TB_BUTTONCOUNT, 0, 0)); }
};

// Seeds the groups through the control surface (the same in and out of process).
void Seed(IKeptorControl* control, const TSize& size) {
    control->ClearQuickGroups();
    for (long group = 0; group < size.Groups; ++group) {
        LONG index = -1;
        control->AddQuickGroup(TBStr(L"Group " + std::to_wstring(group)).Get(), VARIANT_TRUE, &index);
        for (long link = 0; link < size.LinksPerGroup; ++link)
            control->AddQuickLink(index, TBStr(L"Link " + std::to_wstring(link)).Get(),
                                  TBStr(L"http://bench.test/" + std::to_wstring(link)).Get());
    }
    control->SetQuickGroupCountAnswer(size.CountAnswer);
}

// The build's figures: until the buttons are up, and the longest message of the thread meanwhile.
struct TBuildTimes {
    double Whole = 0;
    double LongestMessage = 0;
};

// Fires OnQuickGroupChange (delivered during the call, where the build starts) and pumps messages until
// the build has put its buttons up.
TBuildTimes Build(IKeptorControl* control, const TBand& band, int buttons, test::TStallMeter& meter) {
    TBuildTimes times;
    const auto start = TClock::now();
    times.LongestMessage = meter.Watch([&] {
        TVariant none;
        LONG result = 0;
        control->FireEvent(kOnQuickGroupChange, none.Get(), VARIANT_FALSE, &result);
        for (int round = 0; round < 100000 && band.ButtonCount() != buttons; ++round) {
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                ::DispatchMessageW(&message);
            if (band.ButtonCount() != buttons)
                ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        }
    });
    times.Whole = std::chrono::duration<double, std::milli>(TClock::now() - start).count();
    return times;
}

double BuildMilliseconds(IKeptorControl* control, const TBand& band, int buttons, test::TStallMeter& meter) {
    return Build(control, band, buttons, meter).Whole;
}

long CallCount(IKeptorControl* control) {
    TVariant log;
    control->GetCallLog(log.Receive());
    return static_cast<long>(keptor::VariantStrings(log.Get()).size());
}

void MeasureBuilds(const wchar_t* where, IKeptorControl* control) {
    std::printf("%ls\n  groups x links  count answered  buttons  server calls  build ms  longest message ms"
                "  first drop-down: items  longest message ms\n",
                where);
    TBand band;
    test::TStallMeter meter;
    for (const TSize& size : kSizes) {
        Seed(control, size);
        const int buttons = static_cast<int>(std::min<long>(size.Groups, TQLIEToolBandForm::kMaxGroups));
        Build(control, band, buttons, meter); // warm
        control->ClearCallLog();
        const TBuildTimes times = Build(control, band, buttons, meter);
        const long calls = CallCount(control);
        test::TMenuProbe menu;
        const double dropDown = meter.Watch([&] { menu = test::ProbeMenu([&] { test::ClickArrowPart(band.GroupBar(), 0); }); });
        std::printf("  %6ld x %-6ld %14ld  %7d  %12ld  %8.1f  %18.1f  %22d  %18.1f\n", size.Groups,
                    size.LinksPerGroup, size.CountAnswer < 0 ? size.Groups : size.CountAnswer, band.ButtonCount(),
                    calls, times.Whole, times.LongestMessage, menu.Count, dropDown);
    }
}

void MeasureRebuilds(IKeptorControl* control) {
    Seed(control, {5, 3, -1});
    TBand band;
    test::TStallMeter meter;
    BuildMilliseconds(control, band, 5, meter);
    const test::TGuiObjectCounts before = test::GuiObjectCounts();
    double total = 0;
    for (int round = 0; round < 1000; ++round)
        total += BuildMilliseconds(control, band, 5, meter);
    const test::TGuiObjectCounts after = test::GuiObjectCounts();
    std::printf("1000 rebuilds of 5 groups x 3 links (in process): %.0f ms in all; GDI objects %ld -> %ld, "
                "USER objects %ld -> %ld\n",
                total, before.Gdi, after.Gdi, before.User, after.User);
}

} // namespace

int main() {
    if (FAILED(::OleInitialize(nullptr)))
        return 2;
    {
        ComPtr<keptor::TKeptorServer> server = keptor::TKeptorServer::Create(test::KeptorTypeLib());
        if (SUCCEEDED(server->RegisterRunning())) {
            IKeptorControl* control = static_cast<IKeptorControl*>(server.Get());
            MeasureBuilds(L"In process (the reference server in this thread):", control);
            MeasureRebuilds(control);
            server->RevokeRunning();
        }
    }
    {
        test::TKeptorProcess keptor;
        if (keptor.Started())
            MeasureBuilds(L"Across processes (KeptorServer.exe):", keptor.Control());
        else
            std::printf("KeptorServer.exe did not start (set ZORBEX_KEPTOR_EXE)\n");
    }
    ::OleUninitialize();
    return 0;
}
