// The menu probe: a thread timer that finds this thread's open menu window and acts on it.
#include "support/MenuProbeUnit.h"

namespace zorbex::test {
namespace {

thread_local TMenuProbe* ActiveProbe = nullptr;

constexpr DWORD kGiveUpAfter = 2000;

BOOL CALLBACK FindMenuWindow(HWND window, LPARAM data) {
    wchar_t name[16] = {};
    if (::GetClassNameW(window, name, 16) && wcscmp(name, L"#32768") == 0 && ::IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(data) = window;
        return FALSE;
    }
    return TRUE;
}

// The open menu window of this thread, or null.
HWND OpenMenuWindow() {
    HWND found = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindMenuWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

} // namespace

std::vector<std::wstring> MenuStrings(HMENU menu) {
    std::vector<std::wstring> strings;
    const int count = ::GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        const int length = ::GetMenuStringW(menu, static_cast<UINT>(position), nullptr, 0, MF_BYPOSITION);
        std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
        const int copied = ::GetMenuStringW(menu, static_cast<UINT>(position), text.data(), length + 1, MF_BYPOSITION);
        text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
        strings.push_back(std::move(text));
    }
    return strings;
}

TMenuProbe::TMenuProbe(TDecision decide, UINT interval) : Decide(std::move(decide)) {
    ActiveProbe = this;
    Timer = ::SetTimer(nullptr, 0, interval, &TMenuProbe::Tick);
}

TMenuProbe::~TMenuProbe() {
    if (Timer)
        ::KillTimer(nullptr, Timer);
    if (ActiveProbe == this)
        ActiveProbe = nullptr;
}

void CALLBACK TMenuProbe::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (ActiveProbe)
        ActiveProbe->Look();
}

void TMenuProbe::Look() {
    HWND window = OpenMenuWindow();
    if (!window) {
        Handled = nullptr;
        return;
    }
    if (window == Handled) {
        if (::GetTickCount() - HandledAt > kGiveUpAfter)
            ::EndMenu(); // the choice did not take: never hang
        return;
    }
    Handled = window;
    HandledAt = ::GetTickCount();
    TOpenedMenu menu;
    menu.Menu = reinterpret_cast<HMENU>(::SendMessageW(window, MN_GETHMENU, 0, 0));
    if (menu.Menu) {
        menu.Items = MenuStrings(menu.Menu);
        const int count = ::GetMenuItemCount(menu.Menu);
        for (int position = 0; position < count; ++position)
            menu.Ids.push_back(::GetMenuItemID(menu.Menu, position));
    }
    Seen.push_back(menu);
    const int choice = Decide ? Decide(Seen.back()) : kClose;
    if (choice < 0 || choice >= static_cast<int>(menu.Items.size())) {
        ::EndMenu();
        return;
    }
    for (int step = 0; step <= choice; ++step)
        ::PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
    ::PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
}

} // namespace zorbex::test
