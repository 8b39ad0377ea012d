// TQLIEToolBandForm: its design, the notifications, building and clearing the groups, and opening links.
#include "ui/QLIEToolBandFormUnit.h"

#include <exdisp.h>
#include <wrl/client.h>

#include <algorithm>

#include "ResourceIds.h"
#include "com/ComFactoryUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex {
namespace {

using F = TQLIEToolBandForm;

const TFormDesign kQLIEToolBandFormDesign{L"QLIEToolBandForm", 650, 22, true};

// Both bars: flat, no edge borders, captions beside the images. QLMngToolBar sits at the left edge and
// fits its button; QLToolBar fills the rest and does not wrap. The buttons of both are sized to their
// captions (BTNS_AUTOSIZE), so the designed button widths (101 and 65 pixels) are never imposed.
const TToolBarStyle kQLMngToolBarStyle{true, true, 0};
const TToolBarStyle kQLToolBarStyle{true, true, 0};

// A button of the design.
struct TButtonDesign {
    const wchar_t* Name;
    const wchar_t* Caption;
    int ImageIndex;
    bool DropDown;
    bool Visible;
    void (F::*Click)();
};

const TButtonDesign kQLMngToolButton{L"QLMngToolButton", L"Manage groups", F::kManageGroupsImage, true, false,
                                     &F::QLMngToolButtonClick};

// The message the form posts itself to carry out the notifications that came while a handler ran.
constexpr UINT kApplyChangesMessage = WM_APP + 1;

// The system's browser application: each instance is a new browser window.
const CLSID kBrowserApplicationClass = {0x0002DF01, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// A caption as shown on a button or a menu item: names beyond the bound are cut.
std::wstring ShownCaption(const std::wstring& text) {
    if (text.size() <= F::kMaxCaptionLength)
        return text;
    return text.substr(0, F::kMaxCaptionLength - 3) + L"...";
}

} // namespace

TQLIEToolBandForm::TQLIEToolBandForm(TBandHost& band) : TKeptorIEToolBandForm(band, kQLIEToolBandFormDesign) {
    ImageList.LoadStrip(IDB_QL_IMAGES, ImageSize());
    HotImageList.LoadStrip(IDB_QL_HOT_IMAGES, ImageSize());
    QGPopupMenu = std::make_unique<TPopupMenu>(*this, false);
    QGPopupMenu->SetImages(HotImageList.Handle());
    QLMngToolBar =
        std::make_unique<TToolBar>(*this, Handle(), kQLMngToolBarStyle, ImageList.Handle(), HotImageList.Handle());
    QLToolBar = std::make_unique<TToolBar>(*this, Handle(), kQLToolBarStyle, ImageList.Handle(), HotImageList.Handle());
    // The bars carry their names as window texts, for accessibility tools.
    ::SetWindowTextW(QLMngToolBar->Handle(), L"QLMngToolBar");
    ::SetWindowTextW(QLToolBar->Handle(), L"QLToolBar");
    TToolBar::TButton& button = QLMngToolBar->AddButton(kQLMngToolButton.Name, kQLMngToolButton.Caption,
                                                        kQLMngToolButton.ImageIndex, kQLMngToolButton.DropDown,
                                                        kQLMngToolButton.Visible);
    button.OnClick = [this, click = kQLMngToolButton.Click] { (this->*click)(); };
    button.DropDownMenu = QGPopupMenu.get();
    QLMngToolButton = &button;
    // The strip is as high as the design scaled, or as the buttons for the chosen images if higher.
    const int height = std::max({Scale(kQLIEToolBandFormDesign.ClientHeight), QLMngToolBar->ButtonHeight(),
                                 QLToolBar->ButtonHeight()});
    if (height != ClientHeight())
        SetClientHeight(height);
    Relayout();
}

int TQLIEToolBandForm::QLMngToolBarWidth() const {
    RECT rect{};
    return QLMngToolBar && ::GetWindowRect(QLMngToolBar->Handle(), &rect) ? rect.right - rect.left : 0;
}

void TQLIEToolBandForm::SetMngToolBarAutoSize(bool autoSize) {
    MngToolBarAutoSize = autoSize;
    Relayout();
}

void TQLIEToolBandForm::Relayout() {
    if (!QLMngToolBar || !QLToolBar)
        return;
    if (MngToolBarAutoSize)
        MngToolBarWidth = QLMngToolBar->ContentWidth();
    const int height = ClientHeight();
    ::SetWindowPos(QLMngToolBar->Handle(), nullptr, 0, 0, MngToolBarWidth, height, SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowPos(QLToolBar->Handle(), nullptr, MngToolBarWidth, 0, std::max(ClientWidth() - MngToolBarWidth, 0),
                   height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// --- Life cycle --------------------------------------------------------------------------------------

void TQLIEToolBandForm::FormCreate() {
    GroupMenus = std::make_unique<TGroupMenus>();
    if (Wrapper().IsConnected())
        ShowGroups();
}

void TQLIEToolBandForm::FormDestroy() {
    ClearGroups();
    GroupMenus.reset();
}

LRESULT TQLIEToolBandForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE: {
        const LRESULT result = TKeptorIEToolBandForm::WndProc(message, wParam, lParam);
        Relayout();
        return result;
    }
    case kApplyChangesMessage:
        ApplyPendingChanges();
        return 0;
    case WM_COMMAND:
    case WM_NOTIFY: {
        const HWND from = message == WM_COMMAND ? reinterpret_cast<HWND>(lParam)
                          : lParam                ? reinterpret_cast<const NMHDR*>(lParam)->hwndFrom
                                                  : nullptr;
        const bool handler = from && ((QLToolBar && from == QLToolBar->Handle()) ||
                                      (QLMngToolBar && from == QLMngToolBar->Handle())) &&
                             (message == WM_COMMAND || reinterpret_cast<const NMHDR*>(lParam)->code == TBN_DROPDOWN);
        if (!handler)
            break;
        // A click or a drop-down: the buttons and menus stay as they are until it has been handled.
        struct THandlerScope {
            TQLIEToolBandForm& Form;
            explicit THandlerScope(TQLIEToolBandForm& form) : Form(form) { ++Form.HandlerDepth; }
            ~THandlerScope() {
                if (--Form.HandlerDepth == 0 && Form.PendingChanges != kNoChange && Form.Handle())
                    ::PostMessageW(Form.Handle(), kApplyChangesMessage, 0, 0);
            }
        } scope(*this);
        return TKeptorIEToolBandForm::WndProc(message, wParam, lParam);
    }
    default:
        break;
    }
    return TKeptorIEToolBandForm::WndProc(message, wParam, lParam);
}

// --- Notifications -----------------------------------------------------------------------------------

bool TQLIEToolBandForm::Deferred(unsigned change) {
    if (HandlerDepth == 0)
        return false;
    PendingChanges |= change;
    ::EndMenu(); // an open menu shows what is about to change
    return true;
}

void TQLIEToolBandForm::ApplyPendingChanges() {
    if (HandlerDepth > 0 || PendingChanges == kNoChange)
        return; // the running handler posts again when it ends
    const unsigned changes = std::exchange(PendingChanges, static_cast<unsigned>(kNoChange));
    // The latest state counts, however often it changed meanwhile.
    if (!(changes & kConnectionChanged))
        QuickGroupChanged(nullptr);
    else if (Wrapper().IsConnected())
        ServerConnected(nullptr);
    else
        ServerDisconnected(nullptr);
}

void TQLIEToolBandForm::ServerConnected(TServerWrapper*) {
    if (Deferred(kConnectionChanged))
        return;
    ShowGroups();
    Band().NotifyBandInfoChanged();
}

void TQLIEToolBandForm::ServerDisconnected(TServerWrapper*) {
    if (Deferred(kConnectionChanged))
        return;
    ClearGroups();
    QLMngToolBar->SetButtonVisible(QLMngToolButton->CommandId, false);
    SetMngToolBarAutoSize(false);
    MngToolBarWidth = 0;
    Relayout();
    Band().NotifyBandInfoChanged();
}

void TQLIEToolBandForm::QuickGroupChanged(TServerWrapper*) {
    if (Deferred(kGroupsChanged))
        return;
    ClearGroups();
    BuildGroups();
}

// --- Groups ------------------------------------------------------------------------------------------

void TQLIEToolBandForm::ShowGroups() {
    SetMngToolBarAutoSize(false);
    QLMngToolBar->SetButtonVisible(QLMngToolButton->CommandId, true);
    SetMngToolBarAutoSize(true);
    ClearGroups();
    BuildGroups();
}

void TQLIEToolBandForm::ClearGroups() {
    ++ClearCount;
    // The buttons, always the first one (by the toolbar's own order).
    HWND bar = QLToolBar->Handle();
    for (int count = static_cast<int>(::SendMessageW(bar, TB_BUTTONCOUNT, 0, 0)); count > 0;) {
        TBBUTTON first{};
        if (!::SendMessageW(bar, TB_GETBUTTON, 0, reinterpret_cast<LPARAM>(&first)))
            break;
        QLToolBar->DeleteButton(first.idCommand);
        const int left = static_cast<int>(::SendMessageW(bar, TB_BUTTONCOUNT, 0, 0));
        if (left >= count)
            break; // the toolbar refused: what is left goes below
        count = left;
    }
    while (!QLToolBar->Buttons().empty())
        QLToolBar->DeleteButton(QLToolBar->Buttons().front()->CommandId);

    // The group menus with their link items, and the items of QGPopupMenu. Only a form closed while one
    // of its handlers runs gets here then: a menu of the handler may still be open, and is kept until
    // the form is deleted.
    const bool inUse = HandlerDepth > 0;
    if (inUse)
        ::EndMenu();
    if (GroupMenus) {
        if (inUse)
            for (auto& entry : *GroupMenus)
                RetiredMenus.push_back(std::move(entry.second));
        GroupMenus->clear();
    }
    if (inUse) {
        RetiredMenus.push_back(std::move(QGPopupMenu));
        QGPopupMenu = std::make_unique<TPopupMenu>(*this, false);
        QGPopupMenu->SetImages(HotImageList.Handle());
        QLMngToolButton->DropDownMenu = QGPopupMenu.get();
    } else {
        QGPopupMenu->Clear();
    }
    Relayout();
}

void TQLIEToolBandForm::BuildGroups() {
    if (!GroupMenus)
        return;
    // Any clearing while a server call waits (the application lost, its groups changed again, the form
    // closed) ends this build: what it made is gone, and it touches none of it again.
    const unsigned clearCount = ClearCount;
    auto cutShort = [&] { return ClearCount != clearCount || !GroupMenus; };
    TServerWrapper& wrapper = Wrapper();

    const LONG groupCount = std::clamp<LONG>(wrapper.GetQuickGroupCount(), 0, kMaxGroups);
    if (cutShort())
        return;
    LONG linkReads = 0;
    for (LONG group = groupCount - 1; group >= 0; --group) {
        bool shown = false;
        std::wstring name;
        LONG linkCount = 0;
        const bool found = wrapper.GetQuickGroup(group, shown, name, linkCount);
        if (cutShort())
            return;
        if (!found || !shown)
            continue;

        auto created = std::make_unique<TPopupMenu>(*this, false);
        created->SetImages(HotImageList.Handle());
        TPopupMenu& menu = *created;
        GroupMenus->emplace_back(name, std::move(created));
        const auto position = static_cast<LONG_PTR>(GroupMenus->size() - 1);

        // The reads left are shared alike among the groups still to visit (each share is at least
        // kMaxLinkReads / kMaxGroups), so that no group is left without links when the total is spent.
        const LONG share = std::min(kMaxLinksPerGroup, (kMaxLinkReads - linkReads) / (group + 1));
        const LONG links = std::clamp<LONG>(linkCount, 0, share);
        for (LONG link = 0; link < links; ++link) {
            std::wstring caption, url;
            ++linkReads;
            const bool read = wrapper.GetQuickLink(group, link, caption, url);
            if (cutShort())
                return;
            if (!read)
                continue; // left out; the following links are still asked
            TMenuItem& item = menu.Add(position, ShownCaption(caption), kLinkImage);
            item.Hint = std::move(url);
            item.OnClick = [this](TMenuItem& sender) { OpenLinkClick(sender); };
        }

        TToolBar::TButton& button = QLToolBar->AddButton(L"GroupButton", ShownCaption(name), kGroupImage, true, true, 0);
        button.Tag = position;
        button.DropDownMenu = &menu;
        button.OnClick = [this, position] { OpenGroupClick(position); };

        TMenuItem& item = QGPopupMenu->Add(position, ShownCaption(name), kGroupImage, 0);
        item.OnClick = [this](TMenuItem& sender) { OpenGroupClick(sender.Tag); };
    }
    // Every group button is sized to its caption (BTNS_AUTOSIZE); the bars are laid out again.
    Relayout();
}

// --- Handlers ----------------------------------------------------------------------------------------

void TQLIEToolBandForm::QLMngToolButtonClick() {
    Wrapper().ShowQuickGroupManager();
}

void TQLIEToolBandForm::OpenGroupClick(LONG_PTR senderTag) {
    if (!GroupMenus || senderTag < 0 || static_cast<size_t>(senderTag) >= GroupMenus->size())
        return;
    const TPopupMenu* menu = (*GroupMenus)[static_cast<size_t>(senderTag)].second.get();
    if (!menu)
        return;
    // Opening a window waits on another process: the URLs are taken first.
    std::vector<std::wstring> urls;
    for (const auto& item : menu->MenuItems()) {
        if (urls.size() == kMaxWindowsPerGroup)
            break;
        urls.push_back(item->Hint);
    }
    TFormHold hold(*this);
    // An error shows, and the links after the failing one are not opened.
    ResultOr(E_FAIL, [&] {
        for (const std::wstring& url : urls) {
            if (hold.Closed())
                return;
            OpenInNewBrowser(url);
        }
    }, &ShowErrorBox);
}

void TQLIEToolBandForm::OpenInNewBrowser(const std::wstring& url) {
    ComPtr<IWebBrowser2> browser;
    OleCheck(::CoCreateInstance(kBrowserApplicationClass, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_PPV_ARGS(&browser)));
    TBStr target(url);
    TVariant flags = TVariant::Omitted(), frame = TVariant::Omitted(), postData = TVariant::Omitted(),
             headers = TVariant::Omitted();
    HRESULT result = browser->Navigate(target.Get(), flags.Ptr(), frame.Ptr(), postData.Ptr(), headers.Ptr());
    if (SUCCEEDED(result))
        result = browser->put_Visible(VARIANT_TRUE);
    if (FAILED(result)) {
        browser->Quit(); // no hidden window is left behind
        RaiseComError(result);
    }
}

void TQLIEToolBandForm::OpenLinkClick(const TMenuItem& sender) {
    IWebBrowser2* browser = Band().WebBrowser();
    if (!browser)
        return;
    ResultOr(E_FAIL, [&] {
        TBStr target(sender.Hint);
        TVariant flags = TVariant::Omitted(), frame = TVariant::Omitted(), postData = TVariant::Omitted(),
                 headers = TVariant::Omitted();
        OleCheck(browser->Navigate(target.Get(), flags.Ptr(), frame.Ptr(), postData.Ptr(), headers.Ptr()));
    }, &ShowErrorBox);
}

} // namespace zorbex
