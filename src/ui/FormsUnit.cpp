// The forms layer: window creation from declared designs, the one window procedure, ordered closing,
// text-size scaling.
#include "ui/FormsUnit.h"

#include "com/ComServerUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"

namespace zorbex {
namespace {

constexpr wchar_t kFormClassName[] = L"TZorbexForm";
constexpr int kDesignTextHeight = 13;

ATOM FormClass = 0;

void EnsureFormClass(WNDPROC proc) {
    if (FormClass)
        return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = proc;
    wc.hInstance = ComServer().Instance();
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClassName;
    FormClass = ::RegisterClassExW(&wc);
    if (!FormClass)
        RaiseComError(HRESULT_FROM_WIN32(::GetLastError()));
}

} // namespace

TForm::TForm(const TFormDesign& design) : FormDesign(design) {}

TForm::~TForm() {
    // Normally closed by TFormDeleter already; this only covers a form whose construction failed.
    if (Window)
        ::DestroyWindow(Window);
}

void TForm::Close() noexcept {
    if (Created) {
        Created = false;
        try {
            BeforeDestruction();
        } catch (...) {
            // Closing goes on: the window must not outlive the form.
        }
    }
    if (Window)
        ::DestroyWindow(Window); // WM_NCDESTROY unlinks the window
}

void TFormDeleter::operator()(TForm* form) const noexcept {
    if (!form)
        return;
    form->Close();
    delete form;
}

int TForm::DesignFontHeight() {
    TWindowDC screen(nullptr);
    if (!screen.Get())
        return kDesignTextHeight;
    LOGFONTW font{};
    font.lfHeight = -::MulDiv(8, ::GetDeviceCaps(screen.Get(), LOGPIXELSY), 72);
    font.lfCharSet = DEFAULT_CHARSET;
    wcscpy(font.lfFaceName, L"MS Sans Serif");
    TGdiObject handle(::CreateFontIndirectW(&font));
    if (!handle)
        return kDesignTextHeight;
    TSelectGuard select(screen.Get(), handle.Get());
    TEXTMETRICW metrics{};
    if (!::GetTextMetricsW(screen.Get(), &metrics) || metrics.tmHeight <= 0)
        return kDesignTextHeight;
    return metrics.tmHeight;
}

int TForm::Scale(int designed) {
    static const int height = DesignFontHeight();
    return ::MulDiv(designed, height, kDesignTextHeight);
}

void TForm::CreateHandle(HWND parent, DWORD style) {
    EnsureFormClass(&TForm::StaticWndProc);
    RECT rect{0, 0, Scale(FormDesign.ClientWidth), Scale(FormDesign.ClientHeight)};
    ::AdjustWindowRectEx(&rect, style, FALSE, 0);
    HWND window = ::CreateWindowExW(0, kFormClassName, FormDesign.Name, style, 0, 0, rect.right - rect.left,
                                    rect.bottom - rect.top, parent, nullptr, ComServer().Instance(), this);
    if (!window)
        RaiseComError(HRESULT_FROM_WIN32(::GetLastError()));
    if (FormDesign.Visible)
        ::ShowWindow(window, SW_SHOWNA);
}

int TForm::Width() const {
    RECT rect{};
    return Window && ::GetWindowRect(Window, &rect) ? rect.right - rect.left : 0;
}

int TForm::Height() const {
    RECT rect{};
    return Window && ::GetWindowRect(Window, &rect) ? rect.bottom - rect.top : 0;
}

LRESULT TForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefaultProc(message, wParam, lParam);
}

LRESULT TForm::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(Window, message, wParam, lParam);
}

LRESULT CALLBACK TForm::StaticWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TForm* form = nullptr;
    if (message == WM_NCCREATE) {
        form = static_cast<TForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->Window = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    } else {
        form = reinterpret_cast<TForm*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (!form)
        return ::DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    try {
        result = form->WndProc(message, wParam, lParam);
    } catch (...) {
        // A window procedure is a boundary too: nothing is raised into the message loop.
        result = ::DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        form->Window = nullptr;
    }
    return result;
}

void UnregisterFormClasses() {
    if (FormClass) {
        ::UnregisterClassW(kFormClassName, ComServer().Instance());
        FormClass = 0;
    }
}

} // namespace zorbex
