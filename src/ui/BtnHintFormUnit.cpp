// TBtnHintForm.
#include "ui/BtnHintFormUnit.h"

#include <algorithm>

#include "com/ComServerUnit.h"
#include "com/ErrorsUnit.h"
#include "com/ComSupportUnit.h"
#include "ui/HintDesktopUnit.h"

namespace zorbex {
namespace {

const TFormDesign kBtnHintFormDesign{L"BtnHintForm", 104, 43, false};

} // namespace

TBtnHintForm::TBtnHintForm() : THintWindow(kBtnHintFormDesign) {}

TFormPtr<TBtnHintForm> TBtnHintForm::Create() {
    TFormPtr<TBtnHintForm> form(new TBtnHintForm);
    // Borderless; a tool window has no taskbar button.
    form->CreateHandle(nullptr, WS_POPUP | WS_CLIPCHILDREN, WS_EX_TOOLWINDOW);
    form->HintLabel = ::CreateWindowExW(0, L"STATIC", L"HintLabel",
                                        WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, Scale(kLabelLeft),
                                        Scale(kLabelTop), 0, 0, form->Handle(), nullptr, ComServer().Instance(),
                                        nullptr);
    if (!form->HintLabel)
        RaiseComError(HRESULT_FROM_WIN32(::GetLastError()));
    ::SendMessageW(form->HintLabel, WM_SETFONT, reinterpret_cast<WPARAM>(form->Font()), FALSE);
    form->MarkCreated();
    return form;
}

void TBtnHintForm::SetHintText(const std::wstring& text) {
    Text = text.size() > kMaxHintLength ? text.substr(0, kMaxHintLength - 1) + L"\x2026" : text;
    // The label sizes itself to its text (lines broken where the text breaks them), but never beyond
    // the screen.
    RECT extent{0, 0, 0, 0};
    {
        TWindowDC dc(HintLabel);
        if (dc.Get()) {
            TSelectGuard font(dc.Get(), Font());
            ::DrawTextW(dc.Get(), Text.c_str(), static_cast<int>(Text.size()), &extent,
                        DT_CALCRECT | DT_LEFT | DT_NOPREFIX | DT_EXPANDTABS);
        }
    }
    const RECT screen = THintDesktop::Current().VirtualScreen();
    const int left = Scale(kLabelLeft), top = Scale(kLabelTop);
    LabelExtent.cx = std::clamp<LONG>(extent.right - extent.left, 0, std::max<LONG>(screen.right - screen.left - 2 * left, 0));
    LabelExtent.cy = std::clamp<LONG>(extent.bottom - extent.top, 0, std::max<LONG>(screen.bottom - screen.top - 2 * top, 0));
    ::SetWindowTextW(HintLabel, Text.c_str());
    ::SetWindowPos(HintLabel, nullptr, left, top, LabelExtent.cx, LabelExtent.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowTextW(Handle(), Text.c_str());
}

void TBtnHintForm::SetClientSize(int width, int height) {
    ::SetWindowPos(Handle(), nullptr, 0, 0, std::max(width, 0), std::max(height, 0),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

void TBtnHintForm::Paint(HDC dc) {
    // Shape1: the whole client area in the info colour, outlined by a 1-pixel black pen.
    RECT client{};
    ::GetClientRect(Handle(), &client);
    ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_INFOBK));
    ::FrameRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
}

LRESULT TBtnHintForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == HintLabel) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetTextColor(dc, ::GetSysColor(COLOR_INFOTEXT));
            ::SetBkColor(dc, ::GetSysColor(COLOR_INFOBK));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_INFOBK));
        }
        break;
    default:
        break;
    }
    return THintWindow::WndProc(message, wParam, lParam);
}

} // namespace zorbex
