// THintForm.
#include "ui/HintFormUnit.h"

#include <algorithm>

#include "com/ErrorsUnit.h"
#include "ui/HintDesktopUnit.h"

namespace zorbex {
namespace {

const TFormDesign kHintFormDesign{L"HintForm", 169, 41, false};

} // namespace

THintForm::THintForm() : THintWindow(kHintFormDesign) {}

TFormPtr<THintForm> THintForm::Create() {
    TFormPtr<THintForm> form(new THintForm);
    form->CreateHandle(nullptr, WS_POPUP, WS_EX_TOOLWINDOW | WS_EX_LAYERED);
    ::SetWindowTextW(form->Handle(), L"Keptor hint");
    ::SetLayeredWindowAttributes(form->Handle(), 0, kDesignAlpha, LWA_ALPHA);
    form->MarkCreated();
    return form;
}

void THintForm::SetAlpha(LONG alpha) {
    HWND window = Handle();
    if (!window)
        return;
    const LONG_PTR exStyle = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
    if (alpha < 0) {
        if (exStyle & WS_EX_LAYERED)
            ::SetWindowLongPtrW(window, GWL_EXSTYLE, exStyle & ~static_cast<LONG_PTR>(WS_EX_LAYERED));
        return;
    }
    if (!(exStyle & WS_EX_LAYERED))
        ::SetWindowLongPtrW(window, GWL_EXSTYLE, exStyle | WS_EX_LAYERED);
    ::SetLayeredWindowAttributes(window, 0, static_cast<BYTE>(alpha & 0xFF), LWA_ALPHA);
}

void THintForm::SetPicture(TBitmap&& picture) {
    Image = std::move(picture);
    const RECT screen = THintDesktop::Current().VirtualScreen();
    const int width = std::clamp(Image.Width() + 2 * kBorder, 0, std::max<int>(screen.right - screen.left, 0));
    const int height = std::clamp(Image.Height() + 2 * kBorder, 0, std::max<int>(screen.bottom - screen.top, 0));
    ::SetWindowPos(Handle(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

void THintForm::Paint(HDC dc) {
    RECT client{};
    ::GetClientRect(Handle(), &client);
    ::FrameRect(dc, &client, ::GetSysColorBrush(COLOR_WINDOWFRAME));
    if (Image.Empty()) {
        RECT inner{kBorder, kBorder, client.right - kBorder, client.bottom - kBorder};
        ::FillRect(dc, &inner, ::GetSysColorBrush(COLOR_BTNFACE));
        return;
    }
    ::BitBlt(dc, kBorder, kBorder, std::min(Image.Width(), static_cast<int>(client.right) - 2 * kBorder),
             std::min(Image.Height(), static_cast<int>(client.bottom) - 2 * kBorder), Image.Canvas(), 0, 0, SRCCOPY);
}

} // namespace zorbex
