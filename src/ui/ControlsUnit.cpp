// The controls of the forms layer: actions, image lists, toolbars, label panels and pop-up menus.
#include "ui/ControlsUnit.h"

#include <uxtheme.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "ResourceIds.h"
#include "com/ComServerUnit.h"
#include "com/ErrorsUnit.h"

namespace zorbex {
namespace {

// The signed client coordinates of a mouse message.
int PointX(LPARAM lParam) {
    return static_cast<short>(LOWORD(static_cast<DWORD_PTR>(lParam)));
}
int PointY(LPARAM lParam) {
    return static_cast<short>(HIWORD(static_cast<DWORD_PTR>(lParam)));
}

// A key pressed on a control the keyboard reaches goes to its key handler; true when the handler used it.
bool HandledKey(const std::function<bool(HWND, UINT, bool)>& onKey, HWND window, UINT message, WPARAM key) {
    return (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) && onKey &&
           onKey(window, static_cast<UINT>(key), message == WM_SYSKEYDOWN);
}

} // namespace

COLORREF ColorToRGB(LONG color) noexcept {
    if (color < 0)
        return ::GetSysColor(color & 0xFF);
    return static_cast<COLORREF>(color) & 0x00FFFFFF;
}

bool HighContrastOn() noexcept {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

// --- TAction -----------------------------------------------------------------------------------------

TAction::TAction(std::wstring name, std::wstring caption, std::wstring hint, int imageIndex)
    : ActionName(std::move(name)), ActionCaption(std::move(caption)), ActionHint(std::move(hint)), Image(imageIndex) {}

void TAction::SetHint(std::wstring hint) {
    if (hint != ActionHint) {
        ActionHint = std::move(hint);
        Changed();
    }
}

void TAction::SetImageIndex(int index) {
    if (index != Image) {
        Image = index;
        Changed();
    }
}

void TAction::SetEnabled(bool enabled) {
    if (enabled != IsEnabled) {
        IsEnabled = enabled;
        Changed();
    }
}

void TAction::SetChecked(bool checked) {
    if (checked != IsChecked) {
        IsChecked = checked;
        Changed();
    }
}

void TAction::Update() {
    if (OnUpdate)
        OnUpdate(*this);
}

bool TAction::Execute() {
    Update();
    if (!IsEnabled || !OnExecute)
        return false;
    OnExecute(*this);
    return true;
}

void TAction::Bind(const void* client, std::function<void(const TAction&)> changed) {
    Clients.emplace_back(client, std::move(changed));
}

void TAction::Unbind(const void* client) noexcept {
    std::erase_if(Clients, [client](const auto& entry) { return entry.first == client; });
}

void TAction::Changed() {
    for (const auto& [client, changed] : Clients)
        changed(*this);
}

TAction& TActionList::Add(std::wstring name, std::wstring caption, std::wstring hint, int imageIndex) {
    Actions.push_back(std::make_unique<TAction>(std::move(name), std::move(caption), std::move(hint), imageIndex));
    return *Actions.back();
}

TAction& TActionList::operator[](std::wstring_view name) const {
    for (const auto& action : Actions)
        if (action->Name() == name)
            return *action;
    RaiseError(L"No action named " + std::wstring(name));
}

void TActionList::UpdateAll() {
    for (const auto& action : Actions)
        action->Update();
}

// --- TImageList --------------------------------------------------------------------------------------

TImageList::~TImageList() {
    if (List)
        ::ImageList_Destroy(List);
}

void TImageList::LoadStrip(UINT designResourceId, int side) {
    const auto size = std::find(std::begin(TForm::kImageSizes), std::end(TForm::kImageSizes), side);
    if (size == std::end(TForm::kImageSizes))
        RaiseError(L"No toolbar images of " + std::to_wstring(side) + L" pixels");
    const UINT resourceId =
        designResourceId + static_cast<UINT>(IDB_SIZE_STEP * (size - std::begin(TForm::kImageSizes)));
    TBitmapHandle strip(static_cast<HBITMAP>(::LoadImageW(ComServer().Instance(), MAKEINTRESOURCEW(resourceId),
                                                          IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (!strip)
        RaiseComError(HRESULT_FROM_WIN32(::GetLastError()));
    BITMAP picture{};
    if (!::GetObjectW(strip.Get(), sizeof(picture), &picture) || std::abs(picture.bmHeight) != side ||
        picture.bmWidth % side != 0)
        RaiseError(L"The toolbar image strip " + std::to_wstring(resourceId) + L" is not made of " +
                   std::to_wstring(side) + L"-pixel images");
    Reset(side, side);
    Add(strip.Get());
}

void TImageList::Reset(int width, int height) {
    if (List)
        ::ImageList_Destroy(List);
    List = ::ImageList_Create(width, height, ILC_COLOR32 | ILC_MASK, 4, 4);
    if (!List)
        RaiseError(L"The image list could not be created");
}

void TImageList::Add(HBITMAP bitmap) {
    if (!List || ::ImageList_Add(List, bitmap, nullptr) < 0)
        RaiseError(L"The picture could not be added to the image list");
}

int TImageList::Count() const {
    return List ? ::ImageList_GetImageCount(List) : 0;
}

int TImageList::ImageWidth() const {
    int width = 0, height = 0;
    return List && ::ImageList_GetIconSize(List, &width, &height) ? width : 0;
}

int TImageList::ImageHeight() const {
    int width = 0, height = 0;
    return List && ::ImageList_GetIconSize(List, &width, &height) ? height : 0;
}

// --- TToolBar ----------------------------------------------------------------------------------------

TToolBar::TToolBar(TForm& form, HWND parent, const TToolBarStyle& style, HIMAGELIST images, HIMAGELIST hotImages)
    : TWindowObject(&form), Owner(form) {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_BAR_CLASSES};
        return ::InitCommonControlsEx(&classes) != FALSE;
    }();
    (void)registered;
    const DWORD windowStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | TBSTYLE_FLAT |
                              TBSTYLE_LIST | CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN;
    Attach(::CreateWindowExW(0, TOOLBARCLASSNAMEW, L"", windowStyle, 0, 0, 0, TForm::Scale(22), parent, nullptr,
                             ComServer().Instance(), nullptr));
    HWND bar = Handle();
    ::SendMessageW(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    ::SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(form.Font()), FALSE);
    DWORD extended = TBSTYLE_EX_DRAWDDARROWS;
    if (!style.ShowCaptions)
        extended |= TBSTYLE_EX_MIXEDBUTTONS; // texts are kept for accessibility, not drawn
    ::SendMessageW(bar, TB_SETEXTENDEDSTYLE, 0, static_cast<LPARAM>(extended));
    ::SendMessageW(bar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
    ::SendMessageW(bar, TB_SETHOTIMAGELIST, 0, reinterpret_cast<LPARAM>(hotImages));
    if (style.ButtonWidth > 0)
        ::SendMessageW(bar, TB_SETBUTTONWIDTH, 0, MAKELPARAM(TForm::Scale(style.ButtonWidth), TForm::Scale(style.ButtonWidth)));
    ShowCaptions = style.ShowCaptions;
}

TToolBar::~TToolBar() {
    for (const auto& button : ButtonList)
        if (button->Action)
            button->Action->Unbind(button.get());
}

int TToolBar::NewCommandId() {
    // Command ids are 16-bit (WM_COMMAND carries the low word): a toolbar whose buttons come and go
    // takes the next id not in use, wrapping around.
    constexpr int kFirstId = 100;
    constexpr int kLastId = 0xFFFF;
    for (int tried = kFirstId; tried <= kLastId; ++tried) {
        const int id = NextCommandId;
        NextCommandId = id >= kLastId ? kFirstId : id + 1;
        if (!Find(id))
            return id;
    }
    RaiseError(L"No free toolbar command id");
}

int TToolBar::IndexOf(int commandId) const {
    return static_cast<int>(::SendMessageW(Handle(), TB_COMMANDTOINDEX, static_cast<WPARAM>(commandId), 0));
}

TToolBar::TButton& TToolBar::Insert(std::unique_ptr<TButton> button, TBBUTTON& info, int position) {
    const int count = static_cast<int>(::SendMessageW(Handle(), TB_BUTTONCOUNT, 0, 0));
    if (position < 0 || position > count)
        position = count;
    info.idCommand = button->CommandId;
    if (!::SendMessageW(Handle(), TB_INSERTBUTTONW, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&info)))
        RaiseError(L"The toolbar button could not be added");
    ButtonList.push_back(std::move(button));
    return *ButtonList.back();
}

TToolBar::TButton& TToolBar::AddActionButton(std::wstring name, TAction& action, bool visible, int position) {
    auto button = std::make_unique<TButton>();
    button->Name = std::move(name);
    button->CommandId = NewCommandId();
    button->Action = &action;
    TBBUTTON info{};
    info.iBitmap = action.ImageIndex();
    info.fsState = static_cast<BYTE>((action.Enabled() ? TBSTATE_ENABLED : 0) | (action.Checked() ? TBSTATE_CHECKED : 0) |
                                     (visible ? 0 : TBSTATE_HIDDEN));
    info.fsStyle = static_cast<BYTE>(BTNS_BUTTON | BTNS_AUTOSIZE | (ShowCaptions ? BTNS_SHOWTEXT : 0));
    info.iString = reinterpret_cast<INT_PTR>(action.Caption().c_str());
    TButton& added = Insert(std::move(button), info, position);
    action.Bind(&added, [this, &added](const TAction& changed) { ShowAction(added, changed); });
    return added;
}

std::unique_ptr<TToolBar::TButton> TToolBar::NewButton(const TButtonDesign& design, TBBUTTON& info) {
    auto button = std::make_unique<TButton>();
    button->Name = design.Name;
    button->CommandId = NewCommandId();
    info = TBBUTTON{};
    info.idCommand = button->CommandId;
    info.iBitmap = design.ImageIndex;
    info.fsState = static_cast<BYTE>(TBSTATE_ENABLED | (design.Visible ? 0 : TBSTATE_HIDDEN));
    info.fsStyle = static_cast<BYTE>(BTNS_BUTTON | BTNS_AUTOSIZE | (ShowCaptions ? BTNS_SHOWTEXT : 0) |
                                     (design.DropDown ? BTNS_DROPDOWN : 0));
    info.iString = reinterpret_cast<INT_PTR>(design.Caption.c_str());
    return button;
}

TToolBar::TButton& TToolBar::AddButton(std::wstring name, const std::wstring& caption, int imageIndex, bool dropDown,
                                       bool visible, int position) {
    const TButtonDesign design{std::move(name), caption, imageIndex, dropDown, visible};
    TBBUTTON info{};
    std::unique_ptr<TButton> button = NewButton(design, info);
    return Insert(std::move(button), info, position);
}

std::vector<TToolBar::TButton*> TToolBar::AddButtons(const std::vector<TButtonDesign>& buttons) {
    std::vector<std::unique_ptr<TButton>> made;
    std::vector<TBBUTTON> infos(buttons.size());
    for (size_t i = 0; i < buttons.size(); ++i)
        made.push_back(NewButton(buttons[i], infos[i]));
    if (!made.empty() && !::SendMessageW(Handle(), TB_ADDBUTTONSW, static_cast<WPARAM>(infos.size()),
                                         reinterpret_cast<LPARAM>(infos.data())))
        RaiseError(L"The toolbar buttons could not be added");
    std::vector<TButton*> added;
    for (auto& button : made) {
        added.push_back(button.get());
        ButtonList.push_back(std::move(button));
    }
    return added;
}

TToolBar::TButton& TToolBar::AddControl(std::wstring name, HWND control, bool visible) {
    auto button = std::make_unique<TButton>();
    button->Name = std::move(name);
    button->CommandId = NewCommandId();
    button->Control = control;
    RECT rect{};
    ::GetWindowRect(control, &rect);
    TBBUTTON info{};
    info.iBitmap = rect.right - rect.left; // a separator's width
    info.fsState = static_cast<BYTE>(visible ? 0 : TBSTATE_HIDDEN);
    info.fsStyle = BTNS_SEP;
    TButton& added = Insert(std::move(button), info, -1);
    ::ShowWindow(control, visible ? SW_SHOWNA : SW_HIDE);
    LayoutControls();
    return added;
}

void TToolBar::DeleteButton(int commandId) {
    const int index = IndexOf(commandId);
    if (index >= 0)
        ::SendMessageW(Handle(), TB_DELETEBUTTON, static_cast<WPARAM>(index), 0);
    auto found = std::find_if(ButtonList.begin(), ButtonList.end(),
                              [commandId](const auto& button) { return button->CommandId == commandId; });
    if (found != ButtonList.end()) {
        if ((*found)->Action)
            (*found)->Action->Unbind(found->get());
        ButtonList.erase(found);
    }
}

void TToolBar::SetButtonVisible(int commandId, bool visible) {
    ::SendMessageW(Handle(), TB_HIDEBUTTON, static_cast<WPARAM>(commandId), MAKELPARAM(visible ? FALSE : TRUE, 0));
    if (TButton* button = Find(commandId); button && button->Control)
        ::ShowWindow(button->Control, visible ? SW_SHOWNA : SW_HIDE);
    LayoutControls();
}

TToolBar::TButton* TToolBar::Find(int commandId) const {
    for (const auto& button : ButtonList)
        if (button->CommandId == commandId)
            return button.get();
    return nullptr;
}

TToolBar::TButton* TToolBar::FindByName(std::wstring_view name) const {
    for (const auto& button : ButtonList)
        if (button->Name == name)
            return button.get();
    return nullptr;
}

void TToolBar::ShowAction(TButton& button, const TAction& action) {
    const int index = IndexOf(button.CommandId);
    if (index < 0)
        return;
    TBBUTTON current{};
    ::SendMessageW(Handle(), TB_GETBUTTON, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&current));
    BYTE state = static_cast<BYTE>(current.fsState & ~(TBSTATE_ENABLED | TBSTATE_CHECKED));
    state = static_cast<BYTE>(state | (action.Enabled() ? TBSTATE_ENABLED : 0) | (action.Checked() ? TBSTATE_CHECKED : 0));
    TBBUTTONINFOW info{};
    info.cbSize = sizeof(info);
    info.dwMask = TBIF_STATE | TBIF_IMAGE;
    info.fsState = state;
    info.iImage = action.ImageIndex();
    ::SendMessageW(Handle(), TB_SETBUTTONINFOW, static_cast<WPARAM>(button.CommandId), reinterpret_cast<LPARAM>(&info));
}

int TToolBar::ContentWidth() const {
    const int count = static_cast<int>(::SendMessageW(Handle(), TB_BUTTONCOUNT, 0, 0));
    int right = 0;
    for (int index = 0; index < count; ++index) {
        RECT rect{};
        if (::SendMessageW(Handle(), TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&rect)) &&
            rect.right > rect.left)
            right = std::max(right, static_cast<int>(rect.right));
    }
    return right;
}

int TToolBar::ButtonHeight() const {
    return HIWORD(static_cast<DWORD>(::SendMessageW(Handle(), TB_GETBUTTONSIZE, 0, 0)));
}

void TToolBar::LayoutControls() {
    for (const auto& button : ButtonList) {
        if (!button->Control)
            continue;
        RECT control{};
        ::GetWindowRect(button->Control, &control);
        TBBUTTONINFOW info{};
        info.cbSize = sizeof(info);
        info.dwMask = TBIF_SIZE;
        info.cx = static_cast<WORD>(std::clamp<LONG>(control.right - control.left, 0, 0x7FFF));
        ::SendMessageW(Handle(), TB_SETBUTTONINFOW, static_cast<WPARAM>(button->CommandId), reinterpret_cast<LPARAM>(&info));
    }
    for (const auto& button : ButtonList) {
        if (!button->Control)
            continue;
        RECT rect{};
        const int index = IndexOf(button->CommandId);
        if (index >= 0 &&
            ::SendMessageW(Handle(), TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&rect)))
            ::SetWindowPos(button->Control, nullptr, rect.left, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

std::vector<TToolBar::TButton*> TToolBar::ShownButtons() const {
    std::vector<TButton*> shown;
    const int count = static_cast<int>(::SendMessageW(Handle(), TB_BUTTONCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) {
        TBBUTTON info{};
        if (!::SendMessageW(Handle(), TB_GETBUTTON, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&info)) ||
            (info.fsState & TBSTATE_HIDDEN))
            continue;
        if (TButton* button = Find(info.idCommand); button && (!(info.fsStyle & BTNS_SEP) || button->Control))
            shown.push_back(button);
    }
    return shown;
}

bool TToolBar::ButtonEnabled(int commandId) const {
    const LRESULT state = ::SendMessageW(Handle(), TB_GETSTATE, static_cast<WPARAM>(commandId), 0);
    return state != -1 && (state & TBSTATE_ENABLED) != 0;
}

int TToolBar::HotButton() const {
    const int index = static_cast<int>(::SendMessageW(Handle(), TB_GETHOTITEM, 0, 0));
    TBBUTTON info{};
    if (index < 0 ||
        !::SendMessageW(Handle(), TB_GETBUTTON, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&info)))
        return -1;
    return info.idCommand;
}

void TToolBar::SetHotButton(int commandId) {
    const int index = commandId < 0 ? -1 : IndexOf(commandId);
    ::SendMessageW(Handle(), TB_SETHOTITEM, static_cast<WPARAM>(index), 0);
}

void TToolBar::PressButton(int commandId) {
    ::SendMessageW(::GetParent(Handle()), WM_COMMAND, MAKEWPARAM(commandId, BN_CLICKED),
                   reinterpret_cast<LPARAM>(Handle()));
}

bool TToolBar::OpenDropDown(int commandId) {
    TBBUTTONINFOW info{};
    info.cbSize = sizeof(info);
    info.dwMask = TBIF_STYLE;
    if (::SendMessageW(Handle(), TB_GETBUTTONINFOW, static_cast<WPARAM>(commandId), reinterpret_cast<LPARAM>(&info)) < 0 ||
        !(info.fsStyle & BTNS_DROPDOWN))
        return false;
    NMTOOLBARW notify{};
    notify.hdr.hwndFrom = Handle();
    notify.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(Handle()));
    notify.hdr.code = TBN_DROPDOWN;
    notify.iItem = commandId;
    ::SendMessageW(Handle(), TB_GETRECT, static_cast<WPARAM>(commandId), reinterpret_cast<LPARAM>(&notify.rcButton));
    ::SendMessageW(::GetParent(Handle()), WM_NOTIFY, notify.hdr.idFrom, reinterpret_cast<LPARAM>(&notify));
    return true;
}

LRESULT TToolBar::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (HandledKey(OnKey, Handle(), message, wParam))
        return 0;
    switch (message) {
    case WM_GETDLGCODE:
        return TWindowObject::WndProc(message, wParam, lParam) | DLGC_WANTARROWS;
    case WM_SETFOCUS:
        ::InvalidateRect(Handle(), nullptr, TRUE); // the focus rectangle on the hot button
        break;
    case WM_KILLFOCUS:
        SetHotButton(-1); // the mark showed where the keyboard was
        ::InvalidateRect(Handle(), nullptr, TRUE);
        break;
    default:
        break;
    }
    if (message == WM_MOUSEMOVE && OnButtonMouseMove) {
        POINT point{PointX(lParam), PointY(lParam)};
        const int index = static_cast<int>(::SendMessageW(Handle(), TB_HITTEST, 0, reinterpret_cast<LPARAM>(&point)));
        TBBUTTON info{};
        if (index >= 0 &&
            ::SendMessageW(Handle(), TB_GETBUTTON, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&info)) &&
            !(info.fsStyle & BTNS_SEP) && (info.fsState & TBSTATE_ENABLED))
            if (TButton* button = Find(info.idCommand))
                OnButtonMouseMove(*button);
    }
    return TWindowObject::WndProc(message, wParam, lParam);
}

bool TToolBar::ReflectedMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == NM_CUSTOMDRAW)
        return CustomDraw(*reinterpret_cast<NMTBCUSTOMDRAW*>(lParam), result);
    if (message == WM_COMMAND) {
        TButton* button = Find(LOWORD(wParam));
        if (!button)
            return false;
        if (button->Action) {
            button->Action->Execute();
        } else if (button->OnClick) {
            // The handler may delete its own button: it runs from a copy.
            const std::function<void()> click = button->OnClick;
            click();
        }
        result = 0;
        return true;
    }
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == TBN_DROPDOWN) {
        const auto* notify = reinterpret_cast<const NMTOOLBARW*>(lParam);
        TButton* button = Find(notify->iItem);
        if (!button || (!button->OnDropDown && !button->DropDownMenu))
            return false;
        if (button->OnDropDown) {
            const std::function<void()> dropDown = button->OnDropDown;
            dropDown();
        } else {
            DropDown(*button, *button->DropDownMenu);
        }
        result = TBDDRET_DEFAULT;
        return true;
    }
    return false;
}

// The drop-down arrow of a button is drawn by the toolbar at a fixed size (a small glyph in the middle of
// the arrow part, where the control does not scale it). On a larger text scale, a toolbar without a theme
// of its own gets its arrows drawn again after the toolbar has drawn the button: the glyph scaled by the
// text height and centred in the arrow part as the toolbar reports it (TB_GETITEMDROPDOWNRECT), which
// keeps its size and so its click area. A toolbar with a window theme draws its arrows from the theme, at
// the theme's size for the screen.
// Custom drawing also marks the button the keyboard is on, while the toolbar has the focus, with a focus
// rectangle: the hot look alone is the checked look under some themes.
bool TToolBar::CustomDraw(NMTBCUSTOMDRAW& draw, LRESULT& result) {
    const bool arrows = TForm::Scale(kArrowWidth) > kArrowWidth && !::GetWindowTheme(Handle());
    const bool focused = ::GetFocus() == Handle();
    if (!arrows && !focused)
        return false;
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        result = CDRF_NOTIFYITEMDRAW;
        return true;
    case CDDS_ITEMPREPAINT:
    case CDDS_ITEMPOSTPAINT: {
        const int commandId = static_cast<int>(draw.nmcd.dwItemSpec);
        TBBUTTONINFOW info{};
        info.cbSize = sizeof(info);
        info.dwMask = TBIF_STYLE;
        const bool arrow = arrows &&
                           ::SendMessageW(Handle(), TB_GETBUTTONINFOW, draw.nmcd.dwItemSpec, reinterpret_cast<LPARAM>(&info)) >= 0 &&
                           (info.fsStyle & BTNS_DROPDOWN);
        const bool mark = focused && commandId == HotButton();
        if (draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
            result = arrow || mark ? CDRF_NOTIFYPOSTPAINT : CDRF_DODEFAULT;
            return true;
        }
        if (arrow)
            DrawDropDownArrow(draw);
        if (mark) {
            RECT rect = draw.nmcd.rc;
            ::InflateRect(&rect, -TForm::Scale(2), -TForm::Scale(2));
            ::SetTextColor(draw.nmcd.hdc, ::GetSysColor(COLOR_BTNTEXT));
            ::SetBkColor(draw.nmcd.hdc, ::GetSysColor(COLOR_BTNFACE));
            ::DrawFocusRect(draw.nmcd.hdc, &rect);
        }
        result = CDRF_DODEFAULT;
        return true;
    }
    default:
        return false;
    }
}

RECT TToolBar::DropDownRect(int commandId, const RECT& button) const {
    RECT part{};
    const int index = IndexOf(commandId);
    if (index < 0)
        return RECT{};
    if (!::SendMessageW(Handle(), TB_GETITEMDROPDOWNRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&part))) {
        part = button;
        part.left = std::max(button.left, button.right - kClassicArrowPartWidth);
    }
    // Within the button as drawn (the pressed button may be drawn shifted).
    RECT within{};
    ::IntersectRect(&within, &part, &button);
    return within;
}

void TToolBar::DrawDropDownArrow(const NMTBCUSTOMDRAW& draw) {
    HDC dc = draw.nmcd.hdc;
    // The arrow part, inside its 1-pixel edge.
    RECT part = DropDownRect(static_cast<int>(draw.nmcd.dwItemSpec), draw.nmcd.rc);
    ::InflateRect(&part, -1, -1);
    if (part.right <= part.left || part.bottom <= part.top)
        return;
    const int centreX = part.left + (part.right - part.left) / 2;
    const int centreY = part.top + (part.bottom - part.top) / 2;
    // The toolbar's own small glyph sits in the middle of the part. Its rows are painted over with the
    // background the toolbar painted above it in the part, whatever the button's state (plain, hot,
    // pressed, checked, themed), so that only the glyph changes; then the scaled glyph is drawn.
    const int cover = TForm::Scale(kArrowWidth) / 2 + 2;
    const RECT rows{part.left, std::max<int>(centreY - cover, part.top), part.right,
                    std::min<int>(centreY + cover + 1, part.bottom)};
    const COLORREF background = ::GetPixel(dc, centreX, (part.top + rows.top) / 2);
    if (background != CLR_INVALID && rows.top > part.top) {
        TGdiObject brush(::CreateSolidBrush(background));
        ::FillRect(dc, &rows, static_cast<HBRUSH>(brush.Get()));
    }
    const int width = std::min<int>(TForm::Scale(kArrowWidth) | 1, part.right - part.left); // odd: a sharp tip
    const int height = (width + 1) / 2;
    const bool pressed = (draw.nmcd.uItemState & (CDIS_SELECTED | CDIS_CHECKED)) != 0;
    const int offset = pressed ? 1 : 0;
    // Pressed, it moves by a pixel as the toolbar's own does, within the part.
    const int left = std::min<int>(centreX - width / 2 + offset, part.right - width);
    const int top = std::min<int>(centreY - height / 2 + offset, part.bottom - height);
    auto triangle = [&](int dx, COLORREF color) {
        const POINT points[] = {{left + dx, top + dx}, {left + dx + width - 1, top + dx},
                                {left + dx + width / 2, top + dx + height - 1}};
        TGdiObject brush(::CreateSolidBrush(color));
        TGdiObject pen(::CreatePen(PS_SOLID, 1, color));
        TSelectGuard selectBrush(dc, brush.Get());
        TSelectGuard selectPen(dc, pen.Get());
        ::Polygon(dc, points, 3);
    };
    if (draw.nmcd.uItemState & (CDIS_DISABLED | CDIS_INDETERMINATE)) {
        triangle(1, ::GetSysColor(COLOR_BTNHIGHLIGHT));
        triangle(0, ::GetSysColor(COLOR_3DSHADOW));
    } else {
        triangle(0, ::GetSysColor(COLOR_BTNTEXT));
    }
}

void TToolBar::DropDown(const TButton& button, TPopupMenu& menu) {
    RECT rect{};
    if (!::SendMessageW(Handle(), TB_GETRECT, static_cast<WPARAM>(button.CommandId), reinterpret_cast<LPARAM>(&rect)))
        return;
    ::MapWindowPoints(Handle(), nullptr, reinterpret_cast<POINT*>(&rect), 2);
    menu.Popup(rect.left, rect.bottom);
}

// --- TLabel and TPanel -------------------------------------------------------------------------------

TLabel::TLabel(TForm& form, HWND parent, int left, int top, int height, const std::wstring& caption)
    : TWindowObject(&form), Text(::GetSysColor(COLOR_WINDOWTEXT)), Back(::GetSysColor(COLOR_WINDOW)),
      BackBrush(::CreateSolidBrush(Back)) {
    Attach(::CreateWindowExW(0, L"STATIC", caption.c_str(),
                             WS_CHILD | WS_VISIBLE | WS_BORDER | SS_NOTIFY | SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX,
                             left, top, 0, height, parent, nullptr, ComServer().Instance(), nullptr));
    ::SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(form.Font()), FALSE);
    AutoSize();
}

std::wstring TLabel::Caption() const {
    const int length = ::GetWindowTextLengthW(Handle());
    std::wstring text(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
    text.resize(static_cast<size_t>(std::max(::GetWindowTextW(Handle(), text.data(), length + 1), 0)));
    return text;
}

void TLabel::SetCaption(const std::wstring& caption) {
    if (caption == Caption())
        return;
    ::SetWindowTextW(Handle(), caption.c_str());
    AutoSize();
}

bool TLabel::Enabled() const {
    return ::IsWindowEnabled(Handle()) != FALSE;
}

void TLabel::SetEnabled(bool enabled) {
    ::EnableWindow(Handle(), enabled ? TRUE : FALSE);
}

void TLabel::SetColors(COLORREF text, COLORREF back) {
    if (text == Text && back == Back)
        return;
    if (back != Back || !BackBrush) {
        TGdiObject brush(::CreateSolidBrush(back));
        if (brush)
            BackBrush = std::move(brush);
    }
    Text = text;
    Back = back;
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

int TLabel::Width() const {
    RECT rect{};
    return ::GetWindowRect(Handle(), &rect) ? rect.right - rect.left : 0;
}

int TLabel::Height() const {
    RECT rect{};
    return ::GetWindowRect(Handle(), &rect) ? rect.bottom - rect.top : 0;
}

void TLabel::AutoSize() {
    const std::wstring text = Caption();
    TWindowDC dc(Handle());
    SIZE extent{};
    if (dc.Get()) {
        TSelectGuard font(dc.Get(), reinterpret_cast<HGDIOBJ>(::SendMessageW(Handle(), WM_GETFONT, 0, 0)));
        ::GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &extent);
    }
    const int width = extent.cx + 2 * ::GetSystemMetrics(SM_CXBORDER);
    if (width == Width())
        return;
    ::SetWindowPos(Handle(), nullptr, 0, 0, width, Height(), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (OnResize)
        OnResize();
}

void TLabel::PaintFocus() {
    if (::GetFocus() != Handle())
        return;
    TWindowDC dc(Handle());
    RECT rect{};
    if (!dc.Get() || !::GetClientRect(Handle(), &rect))
        return;
    ::InflateRect(&rect, -1, -1);
    ::SetTextColor(dc.Get(), Text);
    ::SetBkColor(dc.Get(), Back);
    ::DrawFocusRect(dc.Get(), &rect);
}

LRESULT TLabel::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (HandledKey(OnKey, Handle(), message, wParam))
        return 0;
    switch (message) {
    case WM_MOUSEMOVE:
        if (OnMouseMove)
            OnMouseMove(PointX(lParam), PointY(lParam));
        break;
    case WM_GETDLGCODE:
        return TWindowObject::WndProc(message, wParam, lParam) | DLGC_WANTARROWS;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        ::InvalidateRect(Handle(), nullptr, TRUE);
        break;
    case WM_PAINT: {
        const LRESULT result = TWindowObject::WndProc(message, wParam, lParam);
        PaintFocus();
        return result;
    }
    default:
        break;
    }
    return TWindowObject::WndProc(message, wParam, lParam);
}

bool TLabel::ReflectedMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    if (message == WM_CTLCOLORSTATIC) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, Enabled() ? Text : ::GetSysColor(COLOR_GRAYTEXT));
        ::SetBkColor(dc, Back);
        result = reinterpret_cast<LRESULT>(BackBrush.Get());
        return true;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == STN_CLICKED) {
        if (OnClick)
            OnClick();
        result = 0;
        return true;
    }
    return false;
}

TPanel::TPanel(TForm& form, HWND parent, int height, const std::wstring& caption)
    : TWindowObject(&form), Owner(form), PanelHeight(height) {
    const int border = TForm::Scale(kBorder);
    Attach(CreateContainerWindow(parent, WS_CHILD | WS_CLIPCHILDREN, 0, 0, 0, height));
    PanelLabel = std::make_unique<TLabel>(form, Handle(), border, border, 0, caption);
    PanelLabel->OnResize = [this] { Fit(); };
    SetHeight(height);
}

void TPanel::SetHeight(int height) {
    PanelHeight = height;
    // Designed: the label 17 pixels high at (3, 3) in a panel of 22. Its text and frame always fit.
    const int border = TForm::Scale(kBorder);
    int textHeight = 0;
    {
        TWindowDC dc(PanelLabel->Handle());
        TEXTMETRICW metrics{};
        if (dc.Get()) {
            TSelectGuard font(dc.Get(), Owner.Font());
            if (::GetTextMetricsW(dc.Get(), &metrics))
                textHeight = metrics.tmHeight;
        }
    }
    const int labelHeight = std::min(std::max(height - border - TForm::Scale(2),
                                              textHeight + 2 * ::GetSystemMetrics(SM_CYBORDER)),
                                     height);
    int top = border;
    if (top + labelHeight > height)
        top = std::max((height - labelHeight) / 2, 0);
    ::SetWindowPos(PanelLabel->Handle(), nullptr, border, top, PanelLabel->Width(), labelHeight,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    Fit();
}

void TPanel::Fit() {
    ::SetWindowPos(Handle(), nullptr, 0, 0, PanelLabel->Width() + 2 * TForm::Scale(kBorder), PanelHeight,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (OnResize)
        OnResize();
}

int TPanel::Width() const {
    RECT rect{};
    return ::GetWindowRect(Handle(), &rect) ? rect.right - rect.left : 0;
}

// --- TPopupMenu --------------------------------------------------------------------------------------

TPopupMenu::TPopupMenu(TForm& form, bool ownerDraw) : Owner(form), OwnerDraw(ownerDraw), Menu(::CreatePopupMenu()) {
    if (!Menu)
        RaiseComError(HRESULT_FROM_WIN32(::GetLastError()));
    Owner.AddOwnerDrawSource(this);
}

TPopupMenu::~TPopupMenu() {
    Owner.RemoveOwnerDrawSource(this);
    ::DestroyMenu(Menu);
    for (const auto& item : Items)
        Owner.ReleaseMenuCommandId(item->CommandId);
}

TMenuItem& TPopupMenu::Add(LONG_PTR tag, std::wstring caption, int imageIndex, int position) {
    auto item = std::make_unique<TMenuItem>();
    item->CommandId = Owner.NewMenuCommandId();
    item->Tag = tag;
    item->Caption = std::move(caption);
    item->ImageIndex = imageIndex;
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_DATA | (OwnerDraw ? 0u : MIIM_STRING);
    info.fType = OwnerDraw ? MFT_OWNERDRAW : MFT_STRING;
    info.wID = item->CommandId;
    item->Accessible.cchWText = static_cast<DWORD>(item->Caption.size());
    item->Accessible.pszWText = item->Caption.data();
    info.dwItemData = reinterpret_cast<ULONG_PTR>(&item->Accessible);
    info.dwTypeData = item->Caption.data();
    if (!OwnerDraw && Images && imageIndex >= 0) {
        // The image is measured and drawn through the form's window; the caption stays the platform's.
        info.fMask |= MIIM_BITMAP;
        info.hbmpItem = HBMMENU_CALLBACK;
    }
    const UINT at = position < 0 || position > Count() ? static_cast<UINT>(Count()) : static_cast<UINT>(position);
    if (!::InsertMenuItemW(Menu, at, TRUE, &info)) {
        const DWORD error = ::GetLastError();
        Owner.ReleaseMenuCommandId(item->CommandId);
        RaiseComError(HRESULT_FROM_WIN32(error));
    }
    Items.insert(Items.begin() + static_cast<std::ptrdiff_t>(at), std::move(item));
    return *Items[at];
}

void TPopupMenu::Clear() {
    while (::GetMenuItemCount(Menu) > 0)
        if (!::DeleteMenu(Menu, 0, MF_BYPOSITION))
            break;
    for (const auto& item : Items)
        Owner.ReleaseMenuCommandId(item->CommandId);
    Items.clear();
}

TMenuItem* TPopupMenu::FindCommand(UINT commandId) const {
    for (const auto& item : Items)
        if (item->CommandId == commandId)
            return item.get();
    return nullptr;
}

void TPopupMenu::Popup(int x, int y) {
    if (Items.empty())
        return;
    TForm::TFormHold hold(Owner);
    const UINT command = static_cast<UINT>(::TrackPopupMenuEx(
        Menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, x, y, Owner.Handle(), nullptr));
    if (hold.Closed() || command == 0)
        return;
    if (TMenuItem* item = FindCommand(command); item && item->OnClick) {
        // The handler may clear its own menu: it runs from a copy.
        const std::function<void(TMenuItem&)> click = item->OnClick;
        click(*item);
    }
}

bool TPopupMenu::MeasureItem(MEASUREITEMSTRUCT& item) {
    TMenuItem* found = FindCommand(item.itemID);
    if (!found)
        return false;
    if (found->OnMeasure) {
        found->OnMeasure(*found, item);
    } else if (!OwnerDraw && Images && found->ImageIndex >= 0) {
        int width = 0, height = 0;
        if (::ImageList_GetIconSize(Images, &width, &height)) {
            item.itemWidth = static_cast<UINT>(width);
            item.itemHeight = static_cast<UINT>(height);
        }
    }
    return true;
}

bool TPopupMenu::DrawItem(const DRAWITEMSTRUCT& item) {
    TMenuItem* found = FindCommand(item.itemID);
    if (!found)
        return false;
    if (found->OnDraw) {
        found->OnDraw(*found, item);
    } else if (!OwnerDraw && Images && found->ImageIndex >= 0) {
        int width = 0, height = 0;
        ::ImageList_GetIconSize(Images, &width, &height);
        const int top = item.rcItem.top + (item.rcItem.bottom - item.rcItem.top - height) / 2;
        ::ImageList_Draw(Images, found->ImageIndex, item.hDC, item.rcItem.left, top, ILD_TRANSPARENT);
    }
    return true;
}

} // namespace zorbex
