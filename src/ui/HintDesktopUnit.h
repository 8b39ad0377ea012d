// What the hint windows know of the screen: the mouse cursor, the window under a point, the extent of
// the virtual screen, and the one rule that places a hint window near a point.
//
// The system answers by default (GetCursorPos, WindowFromPoint, the virtual-screen metrics); a test
// puts its own THintDesktop in place to drive the hover logic without moving the real cursor.
#pragma once

#include <windows.h>

namespace zorbex {

class THintDesktop {
public:
    virtual ~THintDesktop() = default;

    virtual POINT CursorPos() const;
    virtual HWND WindowAt(POINT point) const;
    // The whole virtual screen, every monitor included.
    virtual RECT VirtualScreen() const;

    // The desktop the hint windows of this module use now.
    static const THintDesktop& Current();
    // Puts a desktop in place (nullptr: the system's again); the caller keeps it alive meanwhile.
    static void Replace(const THintDesktop* desktop);
};

// Places a hint window near point p and shows it topmost without activating it. Its outer size
// stays, but never exceeds the virtual screen. The window opens 20 pixels below p, centred on p.x;
// when it would end below the screen and there is more room above, it ends 2 pixels above p; it is
// pushed left to end at the screen's right edge and never starts left of its left edge.
void PlaceHintWindow(HWND window, POINT p);

// The position PlaceHintWindow gives a window of size w x h for point p on `screen`.
POINT HintWindowPosition(POINT p, int w, int h, const RECT& screen);

} // namespace zorbex
