// The forms layer: linking objects to windows, reflection of child notifications, form creation and
// ordered closing, message timers, text-size scaling.
#include "ui/FormsUnit.h"

#include <commctrl.h>

#include <algorithm>
#include <optional>

#include "com/ComServerUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"

namespace zorbex {
namespace {

// A change of the system colours, passed on to a child window.
BOOL CALLBACK PassSysColorChange(HWND child, LPARAM) {
    ::SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
    return TRUE;
}

constexpr wchar_t kFormClassName[] = L"TZorbexForm";
constexpr UINT_PTR kSubclassId = 0x5A6F7262; // "Zorb"
constexpr int kDesignTextHeight = 13;

ATOM FormClass = 0;

void EnsureFormClass() {
    if (FormClass)
        return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = ::DefWindowProcW; // the form's object takes over at creation
    wc.hInstance = ComServer().Instance();
    wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kFormClassName;
    FormClass = ::RegisterClassExW(&wc);
    if (!FormClass)
        RaiseComError(HRESULT_FROM_WIN32(::GetLastError()));
}

constexpr int kDesignPixelsPerInch = 96;

int ScreenPixelsPerInch() {
    TWindowDC screen(nullptr);
    return screen.Get() ? ::GetDeviceCaps(screen.Get(), LOGPIXELSY) : kDesignPixelsPerInch;
}

// "MS Sans Serif" 8 pt as it is at a number of pixels per inch.
HFONT CreateDesignFont(int pixelsPerInch) {
    LOGFONTW font{};
    font.lfHeight = -::MulDiv(8, pixelsPerInch, 72);
    font.lfCharSet = DEFAULT_CHARSET;
    wcscpy(font.lfFaceName, L"MS Sans Serif");
    return ::CreateFontIndirectW(&font);
}

HFONT CreateDesignFont() {
    return CreateDesignFont(ScreenPixelsPerInch());
}

// The text height of the design font at a number of pixels per inch, as this system draws it; 0 when
// it cannot be measured.
int DesignFontHeightAt(int pixelsPerInch) {
    TWindowDC screen(nullptr);
    if (!screen.Get())
        return 0;
    TGdiObject handle(CreateDesignFont(pixelsPerInch));
    if (!handle)
        return 0;
    TSelectGuard select(screen.Get(), handle.Get());
    TEXTMETRICW metrics{};
    if (!::GetTextMetricsW(screen.Get(), &metrics) || metrics.tmHeight <= 0)
        return 0;
    return metrics.tmHeight;
}

int TextHeight() {
    static const int height = TForm::DesignFontHeight();
    return height;
}

} // namespace

// --- TWindowObject ---------------------------------------------------------------------------------

TWindowObject::~TWindowObject() {
    if (Window) {
        HWND window = Window;
        ::RemoveWindowSubclass(window, &TWindowObject::SubclassProc, kSubclassId);
        Window = nullptr;
        ::DestroyWindow(window);
    }
}

void TWindowObject::Attach(HWND window) {
    if (!window)
        RaiseComError(HRESULT_FROM_WIN32(::GetLastError()));
    if (!::SetWindowSubclass(window, &TWindowObject::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
        ::DestroyWindow(window);
        RaiseError(L"The window could not be linked to its object");
    }
    Window = window;
}

TWindowObject* TWindowObject::FromHandle(HWND window) noexcept {
    DWORD_PTR data = 0;
    if (!window || !::GetWindowSubclass(window, &TWindowObject::SubclassProc, kSubclassId, &data))
        return nullptr;
    return reinterpret_cast<TWindowObject*>(data);
}

LRESULT TWindowObject::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefSubclassProc(Window, message, wParam, lParam);
}

bool TWindowObject::ReflectedMessage(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

LRESULT TWindowObject::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND child = nullptr;
    switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
        child = reinterpret_cast<HWND>(lParam);
        break;
    case WM_NOTIFY:
        child = lParam ? reinterpret_cast<const NMHDR*>(lParam)->hwndFrom : nullptr;
        break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        if (HoldForm)
            HoldForm->FocusChanged(message == WM_SETFOCUS, reinterpret_cast<HWND>(wParam));
        break;
    default:
        break;
    }
    if (child && child != Window) {
        LRESULT result = 0;
        if (TWindowObject* control = FromHandle(child); control && control->ReflectedMessage(message, wParam, lParam, result))
            return result;
    }
    return DefaultProc(message, wParam, lParam);
}

LRESULT CALLBACK TWindowObject::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                             DWORD_PTR data) {
    auto* object = reinterpret_cast<TWindowObject*>(data);
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(window, &TWindowObject::SubclassProc, kSubclassId);
        if (object)
            object->Window = nullptr;
        return ::DefSubclassProc(window, message, wParam, lParam);
    }
    if (!object || object->Window != window)
        return ::DefSubclassProc(window, message, wParam, lParam);
    std::optional<TForm::TFormHold> hold;
    if (object->HoldForm)
        hold.emplace(*object->HoldForm);
    // A window procedure is a boundary: nothing is raised into the message loop.
    LRESULT result = 0;
    if (!Guarded([&] { result = object->WndProc(message, wParam, lParam); }))
        result = ::DefSubclassProc(window, message, wParam, lParam);
    return result;
}

// --- TForm -----------------------------------------------------------------------------------------

TForm::TForm(const TFormDesign& design) : TWindowObject(this), FormDesign(design), FormFont(CreateDesignFont()) {}

TForm::~TForm() = default; // the window is gone: closed by TFormDeleter, or by ~TWindowObject

void TForm::Close() noexcept {
    if (Created) {
        Created = false;
        // Closing goes on whatever it raises: the window must not outlive the form.
        Guarded([this] { BeforeDestruction(); });
    }
    for (TTimer* timer : Timers)
        timer->Stop();
    if (HWND window = Handle())
        ::DestroyWindow(window); // WM_NCDESTROY unlinks the window
}

void TFormDeleter::operator()(TForm* form) const noexcept {
    if (!form)
        return;
    form->Close();
    if (form->HoldCount > 0)
        form->DeletePending = true; // the last hold deletes it
    else
        delete form;
}

HWND CreateContainerWindow(HWND parent, DWORD style, int x, int y, int width, int height) {
    EnsureFormClass();
    HWND window = ::CreateWindowExW(0, kFormClassName, L"", style, x, y, width, height, parent, nullptr,
                                    ComServer().Instance(), nullptr);
    if (!window)
        RaiseComError(HRESULT_FROM_WIN32(::GetLastError()));
    return window;
}

int TForm::DesignFontHeight() {
    const int height = DesignFontHeightAt(ScreenPixelsPerInch());
    return height > 0 ? height : kDesignTextHeight;
}

int TForm::Scale(int designed) {
    return ::MulDiv(designed, TextHeight(), kDesignTextHeight);
}

int TForm::ImageSize() {
    // The text height does not grow in proportion: the font's em is a whole number of pixels and the
    // face adds its own leading (Wine's substitute for the design font is 13, 15, 19 and 24 pixels high
    // at 96, 120, 144 and 192 dots per inch, 13 x 1.25 being 16.25). So the text height is held against
    // the height the same font has, on this system, at each size's scale, rather than against 13 x side
    // / 16.
    static const int size = [] {
        const int height = TextHeight();
        int chosen = kImageSizes[0];
        for (int side : kImageSizes) {
            const int pixelsPerInch = kDesignPixelsPerInch * side / kImageSizes[0];
            int needed = DesignFontHeightAt(pixelsPerInch);
            if (needed <= 0)
                needed = ::MulDiv(kDesignTextHeight, pixelsPerInch, kDesignPixelsPerInch);
            if (height >= needed)
                chosen = side;
        }
        return chosen;
    }();
    return size;
}

void TForm::CreateHandle(HWND parent, DWORD style, DWORD exStyle) {
    EnsureFormClass();
    RECT rect{0, 0, Scale(FormDesign.ClientWidth), Scale(FormDesign.ClientHeight)};
    ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    Attach(::CreateWindowExW(exStyle, kFormClassName, FormDesign.Name, style, 0, 0, rect.right - rect.left,
                             rect.bottom - rect.top, parent, nullptr, ComServer().Instance(), nullptr));
    if (FormDesign.Visible)
        ::ShowWindow(Handle(), SW_SHOWNA);
}

void TForm::SetClientHeight(int height) {
    HWND window = Handle();
    if (!window)
        return;
    RECT rect{0, 0, ClientWidth(), std::max(height, 0)};
    ::AdjustWindowRectEx(&rect, static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_EXSTYLE)));
    ::SetWindowPos(window, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int TForm::Width() const {
    RECT rect{};
    return Handle() && ::GetWindowRect(Handle(), &rect) ? rect.right - rect.left : 0;
}

int TForm::Height() const {
    RECT rect{};
    return Handle() && ::GetWindowRect(Handle(), &rect) ? rect.bottom - rect.top : 0;
}

int TForm::ClientWidth() const {
    RECT rect{};
    return Handle() && ::GetClientRect(Handle(), &rect) ? rect.right : 0;
}

int TForm::ClientHeight() const {
    RECT rect{};
    return Handle() && ::GetClientRect(Handle(), &rect) ? rect.bottom : 0;
}

void TForm::PostRefresh() const {
    if (Handle())
        ::PostMessageW(Handle(), kRefreshMessage, 0, 0);
}

void TForm::AddOwnerDrawSource(TOwnerDrawSource* source) {
    OwnerDrawSources.push_back(source);
}

void TForm::RemoveOwnerDrawSource(TOwnerDrawSource* source) noexcept {
    std::erase(OwnerDrawSources, source);
}

UINT TForm::NewMenuCommandId() {
    constexpr UINT kLastId = 0xFFFF;
    if (MenuCommandIdsInUse.empty())
        MenuCommandIdsInUse.resize(kLastId + 1, false);
    for (UINT tried = 0; tried < kLastId; ++tried) {
        const UINT id = NextMenuCommandId;
        NextMenuCommandId = id == kLastId ? 1 : id + 1;
        if (!MenuCommandIdsInUse[id]) {
            MenuCommandIdsInUse[id] = true;
            return id;
        }
    }
    RaiseError(L"No free menu command id");
}

void TForm::ReleaseMenuCommandId(UINT id) noexcept {
    if (id < MenuCommandIdsInUse.size())
        MenuCommandIdsInUse[id] = false;
}

LRESULT TForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_MEASUREITEM:
        if (auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam); item && item->CtlType == ODT_MENU) {
            for (TOwnerDrawSource* source : OwnerDrawSources)
                if (source->MeasureItem(*item))
                    return TRUE;
        }
        break;
    case WM_DRAWITEM:
        if (auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam); item && item->CtlType == ODT_MENU) {
            for (TOwnerDrawSource* source : OwnerDrawSources)
                if (source->DrawItem(*item))
                    return TRUE;
        }
        break;
    case kRefreshMessage:
        UpdateActions();
        return 0;
    case WM_SYSCOLORCHANGE:
        // The common controls keep the system colours they paint with until they hear of a change.
        ::EnumChildWindows(Handle(), &PassSysColorChange, 0);
        ::RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        break;
    case WM_TIMER: {
        auto timer = std::find_if(Timers.begin(), Timers.end(), [&](TTimer* t) { return t->Id == wParam; });
        if (timer != Timers.end()) {
            (*timer)->Tick();
            return 0;
        }
        break;
    }
    default:
        break;
    }
    return TWindowObject::WndProc(message, wParam, lParam);
}

// --- TTimer ----------------------------------------------------------------------------------------

TTimer::TTimer(TForm& owner, UINT interval, std::function<void()> onTimer)
    : Owner(owner), Id(owner.NextTimerId++), TimerInterval(interval), OnTimer(std::move(onTimer)) {
    Owner.Timers.push_back(this);
}

TTimer::~TTimer() {
    Stop();
    std::erase(Owner.Timers, this);
}

void TTimer::SetInterval(UINT interval) {
    TimerInterval = interval;
    if (Running)
        Start();
}

void TTimer::Start() {
    if (!Owner.Handle() || !::SetTimer(Owner.Handle(), Id, TimerInterval, nullptr))
        RaiseComError(HRESULT_FROM_WIN32(::GetLastError()));
    Running = true;
}

void TTimer::Stop() noexcept {
    if (Running && Owner.Handle())
        ::KillTimer(Owner.Handle(), Id);
    Running = false;
}

void TTimer::Tick() {
    if (Running && OnTimer)
        OnTimer();
}

void UnregisterFormClasses() {
    if (FormClass) {
        ::UnregisterClassW(kFormClassName, ComServer().Instance());
        FormClass = 0;
    }
}

} // namespace zorbex
