// The hint windows' desktop and their placement rule.
#include "ui/HintDesktopUnit.h"

#include <algorithm>
#include <cstdint>

namespace zorbex {
namespace {

const THintDesktop SystemDesktop;
const THintDesktop* Desktop = nullptr;

// Window coordinates stay within what the window manager keeps (16 bits); anything beyond is no place
// on any screen, and the arithmetic below cannot overflow.
constexpr int64_t kCoordinateLimit = 0x7FFF;

int64_t Bounded(int64_t value) {
    return std::clamp(value, -kCoordinateLimit, kCoordinateLimit);
}

} // namespace

POINT THintDesktop::CursorPos() const {
    POINT point{};
    if (!::GetCursorPos(&point))
        return POINT{};
    return point;
}

HWND THintDesktop::WindowAt(POINT point) const {
    return ::WindowFromPoint(point);
}

RECT THintDesktop::VirtualScreen() const {
    const int left = ::GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    return RECT{left, top, left + ::GetSystemMetrics(SM_CXVIRTUALSCREEN), top + ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

const THintDesktop& THintDesktop::Current() {
    return Desktop ? *Desktop : SystemDesktop;
}

void THintDesktop::Replace(const THintDesktop* desktop) {
    Desktop = desktop;
}

POINT HintWindowPosition(POINT p, int w, int h, const RECT& screen) {
    const int64_t px = Bounded(p.x), py = Bounded(p.y);
    const int64_t left = screen.left, top = screen.top, right = screen.right, bottom = screen.bottom;
    int64_t y = py + 20;
    if (y + h > bottom && bottom - y < py - 2 - top)
        y = py - 2 - h;
    int64_t x = px - w / 2;
    if (x + w > right)
        x = right - w;
    if (x < left)
        x = left;
    return POINT{static_cast<LONG>(Bounded(x)), static_cast<LONG>(Bounded(y))};
}

void PlaceHintWindow(HWND window, POINT p) {
    RECT rect{};
    if (!window || !::GetWindowRect(window, &rect))
        return;
    const RECT screen = THintDesktop::Current().VirtualScreen();
    const int w = std::clamp<int>(rect.right - rect.left, 0, std::max<int>(screen.right - screen.left, 0));
    const int h = std::clamp<int>(rect.bottom - rect.top, 0, std::max<int>(screen.bottom - screen.top, 0));
    const POINT at = HintWindowPosition(p, w, h, screen);
    ::SetWindowPos(window, HWND_TOPMOST, at.x, at.y, w, h, SWP_NOACTIVATE);
    ::ShowWindow(window, SW_SHOWNOACTIVATE);
}

} // namespace zorbex
