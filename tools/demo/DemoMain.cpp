// The demo: shows what registration wrote and what each of the library's objects answers when a
// client creates it through COM.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <cstdio>
#include <memory>
#include <string>

#include "com/ComSupportUnit.h"
#include "com/RegistryUnit.h"
#include "com/ZorbexGUI_TLB.h"
#include "server/ServerWrapperUnit.h"
#include "support/BrowserHostUnit.h"
#include "support/ClassProbes.h"
#include "support/KeptorProcessUnit.h"
#include "support/RecordingBandUnit.h"
#include "support/TestDocumentUnit.h"
#include "support/EnvironmentUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;

namespace {

void Print(const std::wstring& text) {
    std::fputws(text.c_str(), stdout);
    std::fputws(L"\n", stdout);
}

std::wstring Value(HKEY root, const std::wstring& path, const std::wstring& name = L"") {
    return ReadStringValue(root, path, name).value_or(L"(missing)");
}

std::wstring Hex(HRESULT result) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(result));
    return text;
}

struct TDemoClass {
    const CLSID* Clsid;
    const wchar_t* ProgID;
};

const TDemoClass kClasses[] = {{&CLSID_ZorbexExplorerBar, L"ZorbexGUI.ZorbexExplorerBar"},
                               {&CLSID_IEHKepUtils, L"ZorbexGUI.IEHKepUtils"},
                               {&CLSID_IEHelperBHOGUI, L"ZorbexGUI.IEHelperBHOGUI"},
                               {&CLSID_TrovellaQLToolbar, L"ZorbexGUI.TrovellaQLToolbar"}};

void ShowRegistration() {
    Print(L"== What registration wrote");
    for (const auto& entry : kClasses) {
        const std::wstring clsid = GuidToString(*entry.Clsid);
        const std::wstring key = L"CLSID\\" + clsid;
        Print(L"  " + std::wstring(entry.ProgID) + L"  " + clsid);
        Print(L"    description     " + Value(HKEY_CLASSES_ROOT, key));
        Print(L"    InprocServer32  " + Value(HKEY_CLASSES_ROOT, key + L"\\InprocServer32") + L" (" +
              Value(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel") + L")");
        Print(L"    TypeLib         " + Value(HKEY_CLASSES_ROOT, key + L"\\TypeLib") + L" version " +
              Value(HKEY_CLASSES_ROOT, key + L"\\Version"));
    }
    Print(L"  Browser toolbar list (HKLM\\SOFTWARE\\Microsoft\\Internet Explorer\\Toolbar):");
    for (const auto& entry : {kClasses[0], kClasses[3]})
        Print(L"    " + GuidToString(*entry.Clsid) + L" = " +
              Value(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Internet Explorer\\Toolbar",
                    GuidToString(*entry.Clsid)));
}

void ShowBand(const TDemoClass& entry) {
    ComPtr<IDeskBand> band;
    HRESULT result = ::CoCreateInstance(*entry.Clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&band));
    Print(L"  " + std::wstring(entry.ProgID) + L": CoCreateInstance " + Hex(result));
    if (FAILED(result))
        return;
    DESKBANDINFO info{};
    info.dwMask = DBIM_MINSIZE | DBIM_MAXSIZE | DBIM_ACTUAL | DBIM_TITLE | DBIM_MODEFLAGS | DBIM_BKCOLOR;
    band->GetBandInfo(0, DBIF_VIEWMODE_NORMAL, &info);
    wchar_t text[256];
    std::swprintf(text, 256, L"    band info without a site: title \"%ls\", min %ldx%ld, max %ldx%ld, actual %ldx%ld",
                  info.wszTitle, info.ptMinSize.x, info.ptMinSize.y, info.ptMaxSize.x, info.ptMaxSize.y,
                  info.ptActual.x, info.ptActual.y);
    Print(text);
    ComPtr<IPersistStream> persist;
    CLSID clsid{};
    if (SUCCEEDED(band.As(&persist)) && SUCCEEDED(persist->GetClassID(&clsid)))
        Print(L"    GetClassID " + GuidToString(clsid));
    HWND window = nullptr;
    Print(L"    GetWindow without a site: " + Hex(band->GetWindow(&window)));
}

void ShowAutomation(const TDemoClass& entry, const wchar_t* method) {
    ComPtr<IDispatch> object;
    HRESULT result = ::CoCreateInstance(*entry.Clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object));
    Print(L"  " + std::wstring(entry.ProgID) + L": CoCreateInstance " + Hex(result));
    if (FAILED(result))
        return;
    LPOLESTR name = const_cast<LPOLESTR>(method);
    DISPID id = 0;
    result = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    wchar_t text[128];
    std::swprintf(text, 128, L"    GetIDsOfNames(\"%ls\") %ls, DISPID %ld", method, Hex(result).c_str(), id);
    Print(text);
    ComPtr<ITypeInfo> info;
    if (SUCCEEDED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info))) {
        TBStr typeName;
        info->GetDocumentation(MEMBERID_NIL, typeName.Receive(), nullptr, nullptr, nullptr);
        Print(L"    type information: " + typeName.Str());
    }
}

void PrintBandInfo(IDeskBand* band, const wchar_t* when) {
    DESKBANDINFO info{};
    info.dwMask = DBIM_MINSIZE | DBIM_MAXSIZE | DBIM_ACTUAL | DBIM_TITLE | DBIM_MODEFLAGS | DBIM_BKCOLOR;
    band->GetBandInfo(1, DBIF_VIEWMODE_NORMAL, &info);
    wchar_t text[256];
    std::swprintf(text, 256, L"    band info %ls: title \"%ls\", min %ldx%ld, max %ldx%ld, actual %ldx%ld", when,
                  info.wszTitle, info.ptMinSize.x, info.ptMinSize.y, info.ptMaxSize.x, info.ptMaxSize.y,
                  info.ptActual.x, info.ptActual.y);
    Print(text);
}

// Sites both bands in one host window, as a browser window does.
void SiteBands() {
    Print(L"== Both toolbars sited in a browser host window");
    ComPtr<zorbex::test::TTestSite> site = zorbex::test::TTestSite::Create();
    const TDemoClass* kinds[2] = {&kClasses[0], &kClasses[3]};
    std::unique_ptr<zorbex::test::TLibraryBand> bands[2];
    for (int i = 0; i < 2; ++i) {
        bands[i] = std::make_unique<zorbex::test::TLibraryBand>(*kinds[i]->Clsid, site);
        HWND form = nullptr;
        if (bands[i]->Band)
            bands[i]->Band->GetWindow(&form);
        wchar_t text[160];
        std::swprintf(text, 160, L"  %ls: SetSite %ls, form window %p, child of the host window: %ls",
                      kinds[i]->ProgID, Hex(bands[i]->SiteResult).c_str(), static_cast<void*>(form),
                      ::GetParent(form) == site->Window() ? L"yes" : L"no");
        Print(text);
        if (bands[i]->Band)
            PrintBandInfo(bands[i]->Band.Get(), L"with its form");
    }
    for (auto& band : bands)
        band->Close();
    Print(L"  both bands closed and released");
}

// Prints what the demo's observer form heard since the last call.
void PrintNotifications(size_t& seen) {
    auto& heard = zorbex::test::RecordedNotifications();
    for (; seen < heard.size(); ++seen)
        Print(L"    observer form heard " + heard[seen]);
}

long SinkCount(IKeptorControl* control) {
    long count = -1;
    control->GetSinkCount(&count);
    return count;
}

// The shown buttons of the quick-link toolbar (its two toolbars, left to right), read from the windows.
void PrintQuickLinks(IDeskBand* band) {
    HWND form = nullptr;
    std::wstring shown;
    if (band && SUCCEEDED(band->GetWindow(&form)))
        for (const wchar_t* name : {L"QLMngToolBar", L"QLToolBar"}) {
            HWND bar = ::FindWindowExW(form, nullptr, TOOLBARCLASSNAMEW, name);
            const int count = static_cast<int>(::SendMessageW(bar, TB_BUTTONCOUNT, 0, 0));
            for (int index = 0; index < count; ++index) {
                TBBUTTON button{};
                wchar_t text[128] = {};
                if (::SendMessageW(bar, TB_GETBUTTON, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&button)) &&
                    !(button.fsState & TBSTATE_HIDDEN) &&
                    ::SendMessageW(bar, TB_GETBUTTONTEXTW, static_cast<WPARAM>(button.idCommand), 0) < 128) {
                    ::SendMessageW(bar, TB_GETBUTTONTEXTW, static_cast<WPARAM>(button.idCommand),
                                   reinterpret_cast<LPARAM>(text));
                    shown += L" [" + std::wstring(text) + L"]";
                }
            }
        }
    Print(L"    quick-link toolbar shows:" + (shown.empty() ? std::wstring(L" nothing") : shown));
}

// Starts the reference Keptor application, sites both toolbars and shows the connection and the events.
void ConnectToKeptor() {
    Print(L"== The toolbars and the Keptor application (KeptorServer.exe, its own process)");
    zorbex::test::TKeptorProcess keptor(L"--demo");
    if (!keptor.Started()) {
        Print(L"  the reference server did not start");
        return;
    }
    long pid = 0;
    keptor.Control()->GetProcessId(&pid);
    Print(L"  KeptorServer.exe is running (process " + std::to_wstring(pid) + L"), demo archive seeded");

    ComPtr<zorbex::test::TTestSite> site = zorbex::test::TTestSite::Create();
    zorbex::test::TLibraryBand mainBand(CLSID_ZorbexExplorerBar, site);
    zorbex::test::TLibraryBand linksBand(CLSID_TrovellaQLToolbar, site);
    Print(L"  both toolbars sited: the application now has " + std::to_wstring(SinkCount(keptor.Control())) +
          L" event subscription (one per browser thread)");
    PrintQuickLinks(linksBand.Band.Get());

    // This program's own toolbar form, built from the library's sources, shows what a toolbar form hears.
    size_t seen = 0;
    zorbex::test::TSitedBand observer(L"demo");
    Print(std::wstring(L"  observer form connected: ") +
          (zorbex::TServerWrapperProbe::Current()->IsConnected() ? L"yes" : L"no"));

    long result = 0;
    TVariant none;
    Print(L"  the application fires OnDocumentDataChange(1, true, \"The front page\", 1, 3)");
    keptor.Control()->FireDocumentDataChange(1, VARIANT_TRUE, TBStr(L"The front page").Get(), 1, 3, VARIANT_FALSE,
                                             &result);
    Print(L"    delivered to the subscribers: " + Hex(result));
    PrintNotifications(seen);
    for (DISPID id : {204, 205, 206}) {
        const wchar_t* names[] = {L"OnSettingsChange", L"OnFunctionalityChange", L"OnQuickGroupChange"};
        Print(std::wstring(L"  the application fires ") + names[id - 204]);
        keptor.Control()->FireEvent(id, none.Get(), VARIANT_FALSE, &result);
        Print(L"    delivered to the subscribers: " + Hex(result));
        PrintNotifications(seen);
    }

    Print(L"  the application quits (OnQuit)");
    keptor.Control()->Quit(VARIANT_TRUE);
    keptor.WaitForExit(10000);
    zorbex::test::PumpMessages(200);
    PrintNotifications(seen);
    Print(std::wstring(L"  observer form connected: ") +
          (zorbex::TServerWrapperProbe::Current()->IsConnected() ? L"yes" : L"no"));
    PrintQuickLinks(linksBand.Band.Get());

    zorbex::test::TKeptorProcess again(L"--demo");
    Print(L"  the application starts again and posts message 0x0500 to the browser thread");
    if (again.Started()) {
        again.Control()->PostStartMessage(static_cast<long>(::GetCurrentThreadId()));
        zorbex::test::PumpMessages(300);
        PrintNotifications(seen);
        Print(L"    event subscriptions now: " + std::to_wstring(SinkCount(again.Control())));
        PrintQuickLinks(linksBand.Band.Get());
    }
    observer.Close();
    mainBand.Close();
    linksBand.Close();
    if (again.Started())
        Print(L"  toolbars closed: event subscriptions now " + std::to_wstring(SinkCount(again.Control())));
}

// Page operations of the library's page-utilities object on a real page, with the application running.
void PageOperations() {
    Print(L"== Page operations on a real page (nodejs-fs.html), KeptorServer.exe receiving");
    zorbex::test::TKeptorProcess keptor(L"--demo");
    ComPtr<IIEHKepUtils> utils;
    if (!keptor.Started() ||
        FAILED(::CoCreateInstance(CLSID_IEHKepUtils, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&utils)))) {
        Print(L"  the reference server or the page-utilities object is not available");
        return;
    }
    auto dom = std::make_shared<zorbex::test::TTestDom>();
    ComPtr<IHTMLDocument2> document;
    try {
        document = zorbex::test::LoadTestDocument(
            dom, zorbex::test::TTestPage::FromFile(zorbex::test::FixturePagePath(L"nodejs-fs.html"),
                                                   L"https://nodejs.org/api/fs.html"));
    } catch (...) {
        Print(L"  the fixture page could not be loaded");
        return;
    }
    TVariant page(static_cast<IDispatch*>(document.Get()));
    TVariant element;
    HRESULT result = utils->AddLinks(page.Get(), VARIANT_FALSE, element.Get());
    long lists = 0;
    keptor.Control()->GetListCount(&lists);
    if (lists > 0) {
        TBStr kind, extra1, extra2;
        TVariant urls, texts;
        VARIANT_BOOL flag = VARIANT_FALSE;
        keptor.Control()->GetList(lists - 1, kind.Receive(), urls.Receive(), texts.Receive(), extra1.Receive(),
                                  extra2.Receive(), &flag);
        Print(L"  AddLinks " + Hex(result) + L": the application received " +
              std::to_wstring(SafeArrayLength(V_ARRAY(urls.Ptr()))) + L" distinct links of " + extra1.Str() +
              L" (" + extra2.Str() + L")");
    }

    keptor.Control()->SetHighlightSettings(VARIANT_TRUE, VARIANT_FALSE, VARIANT_FALSE, 0x00C0FFFF, VARIANT_TRUE, 0,
                                           VARIANT_TRUE, 3);
    ComPtr<IUnknown> server;
    if (ComPtr<IGUIServer> running = keptor.Server())
        running.As(&server);
    dom->ResetRecords();
    result = utils->HighlightDocument(1, document.Get(), server.Get());
    Print(L"  HighlightDocument " + Hex(result) + L": " + std::to_wstring(dom->StyleWrites.size()) +
          L" inline style values written (links the archive does not hold: bold, underlined, yellow)");

    ComPtr<zorbex::test::TTestBrowser> browser = zorbex::test::TTestBrowser::Create();
    browser->SetDocument(document.Get());
    zorbex::TWindowHandle window(::CreateWindowExW(0, L"STATIC", L"page", WS_POPUP, 0, 0, 1280, 800, nullptr,
                                                   nullptr, nullptr, nullptr));
    dom->Window = window.Get();
    keptor.Control()->SetScreenShotSettings(VARIANT_TRUE, 100, 7, VARIANT_TRUE, 25, 3);
    result = utils->CaptureScreenShot(static_cast<IWebBrowser2*>(browser.Get()), VARIANT_TRUE, server.Get());
    long shots = 0;
    keptor.Control()->GetScreenShotCount(&shots);
    for (long i = 0; i < shots; ++i) {
        TBStr url;
        long which = 0;
        TVariant data;
        keptor.Control()->GetScreenShot(i, url.Receive(), &which, data.Receive());
        const ULONG bytes = (data.Type() & VT_ARRAY) ? SafeArrayLength(V_ARRAY(data.Ptr())) : 0;
        Print(L"  CaptureScreenShot " + Hex(result) + L": image " + std::to_wstring(which) + L" stored, a GIF of " +
              std::to_wstring(bytes) + L" bytes");
    }
    dom->Window = nullptr;
}

} // namespace

int wmain() {
    if (FAILED(::OleInitialize(nullptr)))
        return 1;
    ShowRegistration();
    Print(L"== The four objects, created through COM");
    ShowBand(kClasses[0]);
    ShowAutomation(kClasses[1], L"AddLinks");
    ShowAutomation(kClasses[2], L"MouseOverLink");
    ShowBand(kClasses[3]);
    SiteBands();
    ConnectToKeptor();
    PageOperations();
    ::CoFreeUnusedLibraries();
    ::OleUninitialize();
    return 0;
}
