// The toolbar a person can look at: the main toolbar sited in a small browser frame, connected to
// KeptorServer.exe, walked through the situations worth seeing. Before each picture it writes
// "<name>.ready" into the shots folder and waits until the script that takes the screenshot (under
// Xvfb, tools/shots.sh) answers with "<name>.done".
//
//   ZorbexShots.exe FOLDER                    the pictures of the README's tour
//   ZorbexShots.exe FOLDER --scale PERCENT    both toolbars at the screen scale the process runs at
//   ZorbexShots.exe FOLDER --access PERCENT   the keyboard's focus and menus at that scale
//   ZorbexShots.exe FOLDER --contrast PERCENT both toolbars under a high-contrast black theme at that scale
#include <windows.h>
#include <commctrl.h>
#include <exdispid.h>
#include <ole2.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "com/ComSupportUnit.h"
#include "com/ZorbexGUI_TLB.h"
#include "server/ServerWrapperUnit.h"
#include "support/BrowserHostUnit.h"
#include "support/EnvironmentUnit.h"
#include "support/HighContrastUnit.h"
#include "support/KeptorProcessUnit.h"
#include "support/ToolbarProbeUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;

namespace {

std::wstring ShotsFolder;
HWND PageLabel = nullptr;

void Print(const std::wstring& text) {
    std::fputws((text + L"\n").c_str(), stdout);
    std::fflush(stdout);
}

void Pump(DWORD milliseconds) {
    const DWORD end = ::GetTickCount() + milliseconds;
    do {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::Sleep(10);
    } while (static_cast<LONG>(end - ::GetTickCount()) > 0);
}

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The part of the screen the pictures show: the browser frame.
SIZE FrameSize{860, 240};

// Asks for a screenshot of the frame and waits for it; pump: whether to handle messages while waiting
// (not inside a menu's own loop, whose window is already drawn).
void Snapshot(const std::wstring& name, bool pump = true) {
    if (pump)
        Pump(600);
    const std::wstring ready = ShotsFolder + L"\\" + name + L".ready";
    const std::wstring done = ShotsFolder + L"\\" + name + L".done";
    ::DeleteFileW(done.c_str());
    HANDLE file = ::CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        // The crop of the screenshot, as ImageMagick's geometry.
        const std::string crop = std::to_string(FrameSize.cx) + "x" + std::to_string(FrameSize.cy) + "+0+0\n";
        DWORD written = 0;
        ::WriteFile(file, crop.data(), static_cast<DWORD>(crop.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    for (int waited = 0; waited < 3000 && !Exists(done); ++waited) {
        if (pump)
            Pump(10);
        else
            ::Sleep(10);
    }
    Print(L"  picture " + name + (Exists(done) ? L"" : L" (not taken)"));
}

std::wstring PendingMenuShot;

void CALLBACK MenuShotTick(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    Snapshot(PendingMenuShot, false);
    ::EndMenu();
}

// Runs `open` (which opens a menu and returns when it closes) and takes the picture while it is open.
template <typename F> void SnapshotMenu(const std::wstring& name, F&& open) {
    PendingMenuShot = name;
    ::SetTimer(nullptr, 0, 700, MenuShotTick);
    open();
}

void Navigate(TTestSite& site, const std::wstring& url) {
    site.Browser().FireNavigateComplete(url);
    ::SetWindowTextW(PageLabel, (L"\r\n   " + url + L"\r\n\r\n   (the page the browser shows)").c_str());
    Pump(200);
}

HWND RatingLabel(HWND form) {
    HWND bar = ::FindWindowExW(form, nullptr, TOOLBARCLASSNAMEW, nullptr);
    HWND best = nullptr;
    LONG left = LONG_MAX;
    for (HWND panel = ::GetWindow(bar, GW_CHILD); panel; panel = ::GetWindow(panel, GW_HWNDNEXT))
        if (HWND label = ::FindWindowExW(panel, nullptr, L"Static", nullptr)) {
            RECT rect{};
            ::GetWindowRect(label, &rect);
            if (rect.left < left) {
                left = rect.left;
                best = label;
            }
        }
    return best;
}

void SetSwitch(const wchar_t* name, DWORD value) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Calverin\\Trovella\\Settings", 0, nullptr, 0, KEY_SET_VALUE,
                          nullptr, &key, nullptr) == ERROR_SUCCESS) {
        ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
        ::RegCloseKey(key);
    }
}

// The browser frame of the pictures: the site's window with a toolbar row and a page area below it.
// rowHeight: the height of the toolbar row (the band's height and a 4-pixel margin).
void MakeFrame(TTestSite& site, int rowHeight = 26) {
    HWND frame = site.Window();
    const int width = FrameSize.cx, height = FrameSize.cy;
    ::SetWindowTextW(frame, L"Demo browser");
    ::SetWindowLongPtrW(frame, GWL_STYLE, static_cast<LONG_PTR>(WS_POPUP | WS_BORDER | WS_CLIPCHILDREN));
    ::SetWindowPos(frame, HWND_TOP, 0, 0, width, height, SWP_FRAMECHANGED | SWP_SHOWWINDOW);
    // The page area under the toolbar, with the address of the page "shown".
    PageLabel = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY,
                                  0, rowHeight, width - 2, height - 2 - rowHeight, frame, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
    // The browser's toolbar row behind the band.
    HWND row = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, width - 2,
                                 rowHeight, frame, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowPos(row, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// A band of the library sited in the frame, closed again at the end of the scene.
struct TDemoBand : TLibraryBand {
    HWND Form = nullptr;

    TDemoBand(const CLSID& clsid, ComPtr<TTestSite> site) : TLibraryBand(clsid, std::move(site)) {
        if (!Band) {
            Print(L"the toolbar could not be created: is ZorbexGUI.dll registered?");
            return;
        }
        Form = Window();
        Place();
    }
    ~TDemoBand() {
        if (!Band)
            return;
        Close();
        Pump(200);
    }
    explicit operator bool() const { return Form != nullptr; }
    // The browser gives the band the whole row, at least its actual width.
    void Place() {
        DESKBANDINFO info{};
        info.dwMask = DBIM_ACTUAL;
        Band->GetBandInfo(1, DBIF_VIEWMODE_NORMAL, &info);
        ::SetWindowPos(Form, HWND_TOP, 0, 2, std::max<LONG>(info.ptActual.x, FrameSize.cx - 2), info.ptActual.y,
                       SWP_SHOWWINDOW);
    }
};

void MainToolbarShots() {
    for (const wchar_t* name : {L"Enabled", L"Highlight enabled", L"Popup killer enabled", L"Banner killer enabled",
                                L"Link hint enabled"})
        SetSwitch(name, 1);
    SetSwitch(L"Popup killer enabled", 0);

    ComPtr<TTestSite> site = TTestSite::Create();
    MakeFrame(*site.Get());

    TDemoBand band(CLSID_ZorbexExplorerBar, site);
    if (!band)
        return;
    const HWND form = band.Form;
    auto place = [&] { band.Place(); };

    Print(L"== The main toolbar, as a person sees it");
    Navigate(*site.Get(), L"http://www.example.com/");
    place();
    Snapshot(L"main-01-not-connected");

    TKeptorProcess keptor(L"--demo");
    if (!keptor.Started()) {
        Print(L"KeptorServer.exe did not start");
        return;
    }
    keptor.Control()->ClearFailures();
    SetSwitch(L"Enabled", 0);
    ::PostThreadMessageW(::GetCurrentThreadId(), kKeptorStartMessage, 0, 0);
    Pump(500);
    place();
    Snapshot(L"main-02-connected-switched-off");

    SetSwitch(L"Enabled", 1);
    long result = 0;
    TVariant none;
    keptor.Control()->FireEvent(205, none.Get(), VARIANT_FALSE, &result); // OnFunctionalityChange
    Pump(300);
    Navigate(*site.Get(), L"http://www.example.com/");
    place();
    Snapshot(L"main-03-archived-page");

    Navigate(*site.Get(), L"http://www.example.net/new-article");
    place();
    Snapshot(L"main-04-page-not-archived");

    Navigate(*site.Get(), L"http://www.example.com/");
    place();
    Pump(300);
    if (HWND rating = RatingLabel(form)) {
        RECT rect{};
        ::GetWindowRect(rating, &rect);
        ::SetCursorPos(rect.left + 8, rect.top + 8);
        SnapshotMenu(L"main-05-rating-menu", [&] {
            ::SendMessageW(::GetParent(rating), WM_COMMAND, MAKEWPARAM(0, STN_CLICKED), reinterpret_cast<LPARAM>(rating));
        });
    }
    Pump(300);
    SnapshotMenu(L"main-06-domain-links-menu", [&] { ClickToolbarButton(form, 14); });
    Pump(300);

}

// The hints: a person rests the mouse on a button, on the Info label, and the browser helper object
// asks for the preview of a link in the page. The toolbar's own timers show them (the hint delay is
// 500 ms, the application's show delay 500 ms); each picture is taken while its hint shows.
void HintShots() {
    for (const wchar_t* name : {L"Enabled", L"Highlight enabled", L"Banner killer enabled", L"Link hint enabled"})
        SetSwitch(name, 1);
    SetSwitch(L"Popup killer enabled", 0);

    ComPtr<TTestSite> site = TTestSite::Create();
    MakeFrame(*site.Get());

    TKeptorProcess keptor(L"--demo");
    if (!keptor.Started()) {
        Print(L"KeptorServer.exe did not start");
        return;
    }
    keptor.Control()->ClearFailures();
    TDemoBand band(CLSID_ZorbexExplorerBar, site);
    if (!band)
        return;
    const HWND form = band.Form;
    auto place = [&] { band.Place(); };
    Pump(300);
    Navigate(*site.Get(), L"http://www.example.com/");
    place();
    const std::wstring link = L"http://www.example.com/news/";
    const std::wstring page =
        L"\r\n   Example Domain\r\n\r\n   This domain is for use in examples. Latest news: " + link +
        L"\r\n   Documentation: http://www.example.com/docs/    About: http://www.example.com/about/"
        L"\r\n\r\n   You may use this domain in literature without prior coordination or asking for permission."
        L"\r\n   Its pages are kept in the archive with their ratings, comments and screenshots; the toolbar"
        L"\r\n   above shows what the archive knows of the page, and resting the mouse on a link previews it.";
    ::SetWindowTextW(PageLabel, page.c_str());
    Pump(300);

    Print(L"== The hints");
    auto away = [] {
        ::SetCursorPos(840, 230);
        Pump(400);
    };
    // A button: the cursor onto it and the mouse message the system sends; the hint shows after 500 ms
    // and stays 2500 ms: the picture is taken without handling messages meanwhile.
    auto restOnButton = [&](int image, const std::wstring& name) {
        if (!PointAtToolbarButton(form, image))
            return;
        Pump(900);
        Snapshot(name, false);
        away();
    };
    away();
    restOnButton(3, L"hint-01-button-hint");
    restOnButton(0, L"hint-02-add-to-rubric");

    // The browser helper object reports the mouse over a link of the page.
    ComPtr<IIEHelperBHOGUI> helper;
    ComPtr<IGUIServer> server = keptor.Server();
    if (SUCCEEDED(::CoCreateInstance(CLSID_IEHelperBHOGUI, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&helper))) &&
        server) {
        const size_t at = page.find(link) + 8;
        const LRESULT position = ::SendMessageW(PageLabel, EM_POSFROMCHAR, static_cast<WPARAM>(at), 0);
        POINT point{static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position)) + 8};
        ::ClientToScreen(PageLabel, &point);
        ::SetCursorPos(point.x, point.y);
        TBStr url(link);
        helper->MouseOverLink(0, point.x, point.y, url.Get(), server.Get());
        Pump(1000);
        Snapshot(L"hint-03-link-preview", false);
        helper->MouseOutLink();
        helper.Reset();
    }
    server.Reset();
    away();

    // The Info label: the application's picture of the page itself.
    const std::vector<HWND> labels = ToolbarLabels(form);
    if (labels.size() == 3) {
        RECT rect{};
        ::GetClientRect(labels[1], &rect);
        POINT center{rect.right / 2, rect.bottom / 2};
        POINT screen = center;
        ::ClientToScreen(labels[1], &screen);
        ::SetCursorPos(screen.x, screen.y);
        ::SendMessageW(labels[1], WM_MOUSEMOVE, 0, MAKELPARAM(center.x, center.y));
        Pump(1000);
        Snapshot(L"hint-04-page-card", false);
    }
    away();

}

// The quick-link toolbar connected to KeptorServer.exe with its demo groups ("Hidden" is not shown).
void QuickLinkShots() {
    ComPtr<TTestSite> site = TTestSite::Create();
    MakeFrame(*site.Get());

    TKeptorProcess keptor(L"--demo");
    if (!keptor.Started()) {
        Print(L"KeptorServer.exe did not start");
        return;
    }
    TDemoBand band(CLSID_TrovellaQLToolbar, site);
    if (!band)
        return;
    const HWND form = band.Form;
    Navigate(*site.Get(), L"http://www.example.com/");
    Pump(300);

    Print(L"== The quick-link toolbar");
    Snapshot(L"links-01-groups");
    HWND manage = ::FindWindowExW(form, nullptr, TOOLBARCLASSNAMEW, L"QLMngToolBar");
    HWND groups = ::FindWindowExW(form, nullptr, TOOLBARCLASSNAMEW, L"QLToolBar");
    if (groups)
        SnapshotMenu(L"links-02-group-drop-down", [&] { ClickArrowPart(groups, 0); });
    Pump(300);
    if (manage)
        SnapshotMenu(L"links-03-manage-groups", [&] { ClickArrowPart(manage, 0); });
    Pump(300);

}

// The stored switches of the scale and keyboard pictures: on, every switch on but the popup killer.
void SetSceneSwitches() {
    for (const wchar_t* name : {L"Enabled", L"Highlight enabled", L"Banner killer enabled", L"Link hint enabled"})
        SetSwitch(name, 1);
    SetSwitch(L"Popup killer enabled", 0);
}

// Whether the application of the pictures started (said when not), its failures cleared.
bool Started(TKeptorProcess& keptor) {
    if (!keptor.Started()) {
        Print(L"KeptorServer.exe did not start");
        return false;
    }
    keptor.Control()->ClearFailures();
    return true;
}

// Both toolbars at the screen scale this process runs at (the prefix's LogPixels, which tools/shots.sh
// sets): the main toolbar on an archived page, its rating menu, a button hint, and the quick-link
// toolbar with a group's drop-down open. The pictures are named scale-<percent>-<what>.
void ScaleShots(const std::wstring& percent) {
    SetSceneSwitches();
    TKeptorProcess keptor(L"--demo");
    if (!Started(keptor))
        return;
    const std::wstring prefix = L"scale-" + percent + L"-";
    Print(L"== Both toolbars at " + percent + L" %");
    // Room for a menu or a hint under the toolbar.
    const int percentValue = std::max(_wtoi(percent.c_str()), 100);
    FrameSize = {860, 130 * percentValue / 100 + 40};
    // The frame fitted to the band on a page: `width` wide, or with 0 as wide as the band's content and
    // a margin.
    auto frame = [](TTestSite& site, TDemoBand& band, LONG width) {
        Navigate(site, L"http://www.example.com/");
        DESKBANDINFO info{};
        info.dwMask = DBIM_ACTUAL;
        band.Band->GetBandInfo(1, DBIF_VIEWMODE_NORMAL, &info);
        FrameSize.cx = width > 0 ? width : std::max<LONG>(info.ptActual.x + 60, 420);
        RECT rect{};
        ::GetWindowRect(band.Form, &rect);
        MakeFrame(site, rect.bottom - rect.top + 4);
        Navigate(site, L"http://www.example.com/");
        band.Place();
        ::SetWindowPos(band.Form, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    };
    auto away = [] {
        ::SetCursorPos(FrameSize.cx - 20, FrameSize.cy - 10);
        Pump(400);
    };
    {
        ComPtr<TTestSite> site = TTestSite::Create();
        TDemoBand band(CLSID_ZorbexExplorerBar, site);
        if (!band)
            return;
        frame(*site.Get(), band, 0);
        away();
        Snapshot(prefix + L"main");
        if (HWND rating = RatingLabel(band.Form)) {
            RECT label{};
            ::GetWindowRect(rating, &label);
            ::SetCursorPos(label.left + 8, label.top + 8);
            SnapshotMenu(prefix + L"menu", [&] {
                ::SendMessageW(::GetParent(rating), WM_COMMAND, MAKEWPARAM(0, STN_CLICKED),
                               reinterpret_cast<LPARAM>(rating));
            });
        }
        away();
        if (PointAtToolbarButton(band.Form, 3)) {
            Pump(900);
            Snapshot(prefix + L"hint", false);
        }
        away();
    }
    {
        ComPtr<TTestSite> site = TTestSite::Create();
        TDemoBand band(CLSID_TrovellaQLToolbar, site);
        if (!band)
            return;
        frame(*site.Get(), band, 420 * percentValue / 100); // room for the groups and a drop-down
        Pump(300);
        if (HWND groups = ::FindWindowExW(band.Form, nullptr, TOOLBARCLASSNAMEW, L"QLToolBar"))
            SnapshotMenu(prefix + L"links", [&] { ClickArrowPart(groups, 0); });
        Pump(300);
    }
}

// At the screen scale this process runs at: the main toolbar with the keyboard's focus on a button and on a
// panel and the rating menu opened by the keyboard, or (contrast) both toolbars under a high-contrast black
// theme. The pictures are named access-<percent>-<what>.
void AccessShots(const std::wstring& percent, bool contrast) {
    SetSceneSwitches();
    TKeptorProcess keptor(L"--demo");
    if (!Started(keptor))
        return;
    // The library stays loaded throughout: high contrast is switched on through its own import.
    const TLibrary library;
    if (!library.Module()) {
        Print(L"ZorbexGUI.dll could not be loaded");
        return;
    }
    const std::wstring prefix = L"access-" + percent + L"-";
    Print(L"== The keyboard and high contrast at " + percent + L" %");
    const int percentValue = std::max(_wtoi(percent.c_str()), 100);
    FrameSize = {860 * percentValue / 100, 130 * percentValue / 100 + 40};
    // A band of the class on a page, in a frame fitted to it, the mouse away from it.
    auto show = [](const CLSID& clsid, const auto& scene) {
        ComPtr<TTestSite> site = TTestSite::Create();
        TDemoBand band(clsid, site);
        if (!band)
            return;
        Navigate(*site.Get(), L"http://www.example.com/");
        RECT rect{};
        ::GetWindowRect(band.Form, &rect);
        MakeFrame(*site.Get(), rect.bottom - rect.top + 4);
        Navigate(*site.Get(), L"http://www.example.com/");
        band.Place();
        ::SetWindowPos(band.Form, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        ::SetForegroundWindow(site->Window());
        // The browser passes a change of the system colours on to its toolbars.
        ::SendMessageW(band.Form, WM_SYSCOLORCHANGE, 0, 0);
        ::SetCursorPos(FrameSize.cx - 20, FrameSize.cy - 10);
        Pump(400);
        scene(band);
    };
    // The browser gives the band the focus, as Tab or F6 does.
    auto activate = [](TDemoBand& band) {
        ComPtr<IInputObject> input;
        if (SUCCEEDED(band.Band.As(&input)))
            input->UIActivateIO(TRUE, nullptr);
        Pump(200);
    };
    auto keys = [](std::initializer_list<UINT> pressed) {
        for (UINT key : pressed) {
            PressKey(key);
            Pump(100);
        }
    };
    if (!contrast) {
        show(CLSID_ZorbexExplorerBar, [&](TDemoBand& band) {
            activate(band);
            keys({VK_RIGHT});
            Snapshot(prefix + L"focus-button");
            keys({VK_END, VK_LEFT});
            Snapshot(prefix + L"focus-panel");
            keys({VK_LEFT, VK_LEFT});
            SnapshotMenu(prefix + L"keyboard-menu", [&] { PressKey(VK_DOWN); });
            Pump(300);
        });
        return;
    }
    // Under high contrast (which on Windows also turns the visual styles off; tools/shots.sh starts this
    // run with Wine's theme off).
    const THighContrast highContrast(library.Module());
    if (!highContrast.Applied())
        Print(L"high contrast could not be switched on");
    show(CLSID_ZorbexExplorerBar, [&](TDemoBand& band) {
        activate(band);
        keys({VK_RIGHT});
        Snapshot(prefix + L"contrast-main");
    });
    show(CLSID_TrovellaQLToolbar, [&](TDemoBand& band) {
        activate(band);
        keys({VK_RIGHT});
        SnapshotMenu(prefix + L"contrast-links", [&] { PressKey(VK_DOWN); });
        Pump(300);
    });
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        Print(L"usage: ZorbexShots.exe FOLDER [--scale PERCENT]");
        return 2;
    }
    ShotsFolder = argv[1];
    if (FAILED(::OleInitialize(nullptr)))
        return 1;
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&controls);
    if (argc >= 4 && std::wstring(argv[2]) == L"--scale") {
        ScaleShots(argv[3]);
    } else if (argc >= 4 && (std::wstring(argv[2]) == L"--access" || std::wstring(argv[2]) == L"--contrast")) {
        AccessShots(argv[3], std::wstring(argv[2]) == L"--contrast");
    } else {
        MainToolbarShots();
        HintShots();
        QuickLinkShots();
    }
    ::CoFreeUnusedLibraries();
    ::OleUninitialize();
    return 0;
}
