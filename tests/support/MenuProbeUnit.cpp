// The menu probe: a thread timer that runs inside the menu's modal loop.
#include "support/MenuProbeUnit.h"

#include <oleacc.h>

namespace zorbex::test {
namespace {

struct TProbeState {
    TMenuProbe Result;
    std::function<int(const TMenuProbe&)> Decide;
    int Ticks = 0;
    bool Done = false;
};

TProbeState* Current = nullptr;

BOOL CALLBACK FindMenuWindow(HWND window, LPARAM found) {
    wchar_t name[16]{};
    if (::GetClassNameW(window, name, 16) && std::wstring(name) == L"#32768" && ::IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void Key(HWND window, WPARAM key) {
    ::PostMessageW(window, WM_KEYDOWN, key, 1);
    ::PostMessageW(window, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

void CALLBACK ProbeTick(HWND, UINT, UINT_PTR, DWORD) {
    TProbeState* state = Current;
    if (!state || state->Done)
        return;
    HWND menuWindow = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindMenuWindow, reinterpret_cast<LPARAM>(&menuWindow));
    if (!menuWindow) {
        if (++state->Ticks > 100) {
            state->Done = true;
            ::EndMenu();
        }
        return;
    }
    state->Done = true;
    auto menu = reinterpret_cast<HMENU>(::SendMessageW(menuWindow, 0x01E1 /* MN_GETHMENU */, 0, 0));
    TMenuProbe& result = state->Result;
    result.Opened = true;
    RECT rect{};
    ::GetWindowRect(menuWindow, &rect);
    result.Position = {rect.left, rect.top};
    result.Count = menu ? ::GetMenuItemCount(menu) : 0;
    for (int i = 0; i < result.Count; ++i) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_DATA;
        ::GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        result.OwnerDrawn.push_back((info.fType & MFT_OWNERDRAW) != 0);
        const auto* accessible = reinterpret_cast<const MSAAMENUINFO*>(info.dwItemData);
        result.AccessibleNames.emplace_back(accessible && accessible->dwMSAASignature == MSAA_MENU_SIG && accessible->pszWText
                                                ? std::wstring(accessible->pszWText, accessible->cchWText)
                                                : std::wstring());
        wchar_t text[512]{};
        ::GetMenuStringW(menu, static_cast<UINT>(i), text, 512, MF_BYPOSITION);
        result.Texts.emplace_back(text);
        RECT item{};
        ::GetMenuItemRect(nullptr, menu, static_cast<UINT>(i), &item);
        result.ItemRects.push_back(item);
    }
    const int choose = state->Decide ? state->Decide(result) : -1;
    if (choose >= 0 && choose < result.Count) {
        for (int i = 0; i <= choose; ++i)
            Key(menuWindow, VK_DOWN);
        Key(menuWindow, VK_RETURN);
    } else {
        Key(menuWindow, VK_ESCAPE);
    }
}

} // namespace

TMenuProbe ProbeMenu(const std::function<void()>& open, int choose) {
    return ProbeMenu(open, [choose](const TMenuProbe&) { return choose; });
}

TMenuProbe ProbeMenu(const std::function<void()>& open, const std::function<int(const TMenuProbe&)>& decide) {
    TProbeState state;
    state.Decide = decide;
    TProbeState* previous = Current;
    Current = &state;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, ProbeTick);
    open();
    ::KillTimer(nullptr, timer);
    Current = previous;
    return state.Result;
}

} // namespace zorbex::test
