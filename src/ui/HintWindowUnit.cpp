// THintWindow.
#include "ui/HintWindowUnit.h"

namespace zorbex {

void THintWindow::HideHint() {
    if (Handle())
        ::SetWindowPos(Handle(), nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT THintWindow::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND:
        return 1; // Paint covers the client area
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        if (HDC dc = ::BeginPaint(Handle(), &paint)) {
            Paint(dc);
            ::EndPaint(Handle(), &paint);
        }
        return 0;
    }
    default:
        break;
    }
    return TForm::WndProc(message, wParam, lParam);
}

} // namespace zorbex
