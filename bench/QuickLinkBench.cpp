// The quick-link toolbar's builds: the time of one build of the groups at growing sizes (up to the
// form's bounds, and with a group count that lies), against the reference Keptor server in this process
// and as KeptorServer.exe in its own (every call then crosses processes), and the resource counts over
// a thousand rebuilds.
//
// Run under Wine with the server's path set:
//   ZORBEX_KEPTOR_EXE=build/tools/keptor/KeptorServer.exe tools/winerun.sh <prefix> build/bench/QuickLinkBench.exe
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>
#include <wrl/client.h>

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
    int ButtonCount() const {
        HWND form = nullptr;
        Band->GetWindow(&form);
        HWND bar = ::FindWindowExW(form, nullptr, TOOLBARCLASSNAMEW, L"QLToolBar");
        return static_cast<int>(::SendMessageW(bar, TB_BUTTONCOUNT, 0, 0));
    }
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

// Fires OnQuickGroupChange and waits for the build it causes (the event is delivered during the call).
double BuildMilliseconds(IKeptorControl* control) {
    TVariant none;
    LONG result = 0;
    const auto start = TClock::now();
    control->FireEvent(kOnQuickGroupChange, none.Get(), VARIANT_FALSE, &result);
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

long CallCount(IKeptorControl* control) {
    TVariant log;
    control->GetCallLog(log.Receive());
    return static_cast<long>(keptor::VariantStrings(log.Get()).size());
}

void MeasureBuilds(const wchar_t* where, IKeptorControl* control) {
    std::printf("%ls\n  groups x links  count answered  buttons  server calls  build ms\n", where);
    TBand band;
    for (const TSize& size : kSizes) {
        Seed(control, size);
        BuildMilliseconds(control); // warm
        control->ClearCallLog();
        const double milliseconds = BuildMilliseconds(control);
        std::printf("  %6ld x %-6ld %14ld  %7d  %12ld  %8.1f\n", size.Groups, size.LinksPerGroup,
                    size.CountAnswer < 0 ? size.Groups : size.CountAnswer, band.ButtonCount(), CallCount(control),
                    milliseconds);
    }
}

void MeasureRebuilds(IKeptorControl* control) {
    Seed(control, {5, 3, -1});
    TBand band;
    BuildMilliseconds(control);
    const test::TGuiObjectCounts before = test::GuiObjectCounts();
    double total = 0;
    for (int round = 0; round < 1000; ++round)
        total += BuildMilliseconds(control);
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
