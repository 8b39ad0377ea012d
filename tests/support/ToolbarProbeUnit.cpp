// Finding a band's toolbar parts from outside.
#include "support/ToolbarProbeUnit.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

namespace zorbex::test {

bool FindToolbarButton(HWND form, int image, HWND& bar, RECT& rect) {
    for (bar = ::FindWindowExW(form, nullptr, TOOLBARCLASSNAMEW, nullptr); bar;
         bar = ::FindWindowExW(form, bar, TOOLBARCLASSNAMEW, nullptr)) {
        const int count = static_cast<int>(::SendMessageW(bar, TB_BUTTONCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            TBBUTTON button{};
            ::SendMessageW(bar, TB_GETBUTTON, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&button));
            if (button.iBitmap == image && !(button.fsStyle & BTNS_SEP)) {
                ::SendMessageW(bar, TB_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&rect));
                return true;
            }
        }
    }
    return false;
}

void PointAt(HWND bar, POINT at) {
    POINT screen = at;
    ::ClientToScreen(bar, &screen);
    ::SetCursorPos(screen.x, screen.y);
    ::SendMessageW(bar, WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y));
}

void ClickAt(HWND bar, POINT at) {
    PointAt(bar, at);
    const LPARAM where = MAKELPARAM(at.x, at.y);
    ::SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, where);
    ::SendMessageW(bar, WM_LBUTTONUP, 0, where);
}

void PressKey(UINT key, bool alt) {
    HWND focus = ::GetFocus();
    if (!focus)
        return;
    ::SendMessageW(focus, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, key, alt ? 0x20000001 : 1);
    ::SendMessageW(focus, alt ? WM_SYSKEYUP : WM_KEYUP, key, static_cast<LPARAM>(alt ? 0xE0000001u : 0xC0000001u));
}

int FocusedHotIndex() {
    HWND focus = ::GetFocus();
    wchar_t name[32]{};
    if (!focus || !::GetClassNameW(focus, name, 32) || std::wstring(name) != TOOLBARCLASSNAMEW)
        return -1;
    return static_cast<int>(::SendMessageW(focus, TB_GETHOTITEM, 0, 0));
}

void ClickArrowPart(HWND bar, int index) {
    RECT rect{};
    ::SendMessageW(bar, TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&rect));
    ClickAt(bar, {rect.right - 3, (rect.top + rect.bottom) / 2});
}

namespace {

// Does act at the middle of the button showing this image; false when there is none.
bool AtButtonMiddle(HWND form, int image, void (*act)(HWND bar, POINT at)) {
    HWND bar = nullptr;
    RECT rect{};
    if (!FindToolbarButton(form, image, bar, rect))
        return false;
    act(bar, {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
    return true;
}

} // namespace

bool PointAtToolbarButton(HWND form, int image) {
    return AtButtonMiddle(form, image, PointAt);
}

bool ClickToolbarButton(HWND form, int image) {
    return AtButtonMiddle(form, image, ClickAt);
}

std::vector<HWND> ToolbarLabels(HWND form) {
    std::vector<HWND> labels;
    const HWND bar = ::FindWindowExW(form, nullptr, TOOLBARCLASSNAMEW, nullptr);
    for (HWND panel = ::GetWindow(bar, GW_CHILD); panel; panel = ::GetWindow(panel, GW_HWNDNEXT))
        if (HWND label = ::FindWindowExW(panel, nullptr, L"Static", nullptr))
            labels.push_back(label);
    std::sort(labels.begin(), labels.end(), [](HWND a, HWND b) {
        RECT ra{}, rb{};
        ::GetWindowRect(a, &ra);
        ::GetWindowRect(b, &rb);
        return ra.left < rb.left;
    });
    return labels;
}

} // namespace zorbex::test
