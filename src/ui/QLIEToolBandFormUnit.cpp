// TQLIEToolBandForm: its design, the notifications, building and clearing the groups, reading a group's
// links, and opening links.
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

// The messages the form posts itself: to carry out the notifications that came while a handler ran, to
// go on with a build, and to go on reading for a click.
constexpr UINT kApplyChangesMessage = WM_APP + 1;
constexpr UINT kContinueBuildMessage = WM_APP + 2;
constexpr UINT kContinueOpeningMessage = WM_APP + 3;

// The last item of a group's menu while some of its links are still to be read (disabled).
const wchar_t kMoreLinksCaption[] = L"...";

// The system's browser application: each instance is a new browser window.
const CLSID kBrowserApplicationClass = {0x0002DF01, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// A caption as shown on a button or a menu item: names beyond the bound are cut.
std::wstring ShownCaption(const std::wstring& text) {
    if (text.size() <= F::kMaxCaptionLength)
        return text;
    return text.substr(0, F::kMaxCaptionLength - 3) + L"...";
}

} // namespace

// A click, a drop-down, or a click's reading going on: the buttons and menus stay as they are until it
// has been handled, and what was noted meanwhile is carried out after it.
class TQLIEToolBandForm::THandlerScope {
public:
    explicit THandlerScope(TQLIEToolBandForm& form) : Form(form) { ++Form.HandlerDepth; }
    THandlerScope(const THandlerScope&) = delete;
    THandlerScope& operator=(const THandlerScope&) = delete;
    ~THandlerScope() {
        if (--Form.HandlerDepth == 0 && Form.PendingChanges != kNoChange && Form.Handle())
            ::PostMessageW(Form.Handle(), kApplyChangesMessage, 0, 0);
    }

private:
    TQLIEToolBandForm& Form;
};

TQLIEToolBandForm::TQLIEToolBandForm(TBandHost& band) : TKeptorIEToolBandForm(band, kQLIEToolBandFormDesign) {
    ImageList.LoadStrip(IDB_QL_IMAGES, ImageSize());
    HotImageList.LoadStrip(IDB_QL_HOT_IMAGES, ImageSize());
    QGPopupMenu = std::make_unique<TPopupMenu>(*this, false);
    QGPopupMenu->SetImages(HotImageList.Handle());
    QLMngToolBar =
        std::make_unique<TToolBar>(*this, Handle(), kQLMngToolBarStyle, ImageList.Handle(), HotImageList.Handle());
    QLMngToolBar->OnKey = [this](HWND window, UINT key, bool alt) { return StopKeyDown(window, key, alt); };
    QLToolBar = NewGroupBar();
    // The bars carry their names as window texts, for accessibility tools.
    ::SetWindowTextW(QLMngToolBar->Handle(), L"QLMngToolBar");
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

std::unique_ptr<TToolBar> TQLIEToolBandForm::NewGroupBar() {
    auto bar = std::make_unique<TToolBar>(*this, Handle(), kQLToolBarStyle, ImageList.Handle(), HotImageList.Handle());
    ::SetWindowTextW(bar->Handle(), L"QLToolBar");
    bar->OnKey = [this](HWND window, UINT key, bool alt) { return StopKeyDown(window, key, alt); };
    return bar;
}

std::vector<TKeyStop> TQLIEToolBandForm::KeyStops() {
    std::vector<TKeyStop> stops;
    for (TToolBar* bar : {QLMngToolBar.get(), QLToolBar.get()})
        if (bar)
            AddToolBarStops(stops, *bar);
    return stops;
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
    case kContinueBuildMessage:
        if (HandlerDepth > 0)
            PendingChanges |= kBuildGoesOn; // the handler's end carries it out
        else
            ContinueBuild();
        return 0;
    case kContinueOpeningMessage: {
        if (HandlerDepth > 0) {
            PendingChanges |= kOpeningGoesOn;
            return 0;
        }
        THandlerScope scope(*this);
        ContinueOpening();
        return 0;
    }
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
        THandlerScope scope(*this);
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
    // The latest state counts, however often it changed meanwhile; a change replaces the build and the
    // clicks that were going on.
    if (changes & kConnectionChanged) {
        if (Wrapper().IsConnected())
            ServerConnected(nullptr);
        else
            ServerDisconnected(nullptr);
        return;
    }
    if (changes & kGroupsChanged) {
        QuickGroupChanged(nullptr);
        return;
    }
    if (changes & kOpeningGoesOn)
        ::PostMessageW(Handle(), kContinueOpeningMessage, 0, 0); // read and opened as a handler
    if (changes & kBuildGoesOn)
        ContinueBuild();
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
    ++Generation;
    // A build or a click's reading going on ends with the groups it was for.
    Reading.reset();
    WaitingClicks.clear();
    // The buttons. A toolbar lays itself out again for every button it loses, so while none of its
    // handlers runs it is replaced by an empty one; otherwise they go one by one, always the first one
    // (by the toolbar's own order).
    // The new bar is made before the old one goes: a bar that cannot be made leaves the old one, emptied
    // below.
    if (HandlerDepth == 0 && ::SendMessageW(QLToolBar->Handle(), TB_BUTTONCOUNT, 0, 0) > 0) {
        std::unique_ptr<TToolBar> empty = NewGroupBar();
        // The keyboard on a group stays in the form: it goes to "Manage groups".
        if (::GetFocus() == QLToolBar->Handle()) {
            std::vector<TKeyStop> stops;
            AddToolBarStops(stops, *QLMngToolBar);
            if (stops.empty())
                ::SetFocus(Handle());
            else
                FocusStop(stops.front());
        }
        QLToolBar = std::move(empty);
    }
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
            for (TGroup& group : *GroupMenus)
                RetiredMenus.push_back(std::move(group.Menu));
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
    // A clearing while the count is asked for (the application lost, its groups changed again, the form
    // closed) ends this build: a newer one, or none, is in charge.
    const unsigned generation = Generation;
    const LONG groupCount = std::clamp<LONG>(Wrapper().GetQuickGroupCount(), 0, kMaxGroups);
    if (Generation != generation || !GroupMenus)
        return;
    Reading = TGroupReading{generation, groupCount - 1, {}};
    ContinueBuild();
}

void TQLIEToolBandForm::ContinueBuild() {
    // A message's worth of reading that waits in a call goes on with whatever reading is current when the
    // call returns: this one, or a newer build's that replaced it meanwhile.
    if (ReadingRuns)
        return;
    ReadingRuns = true;
    const TAtScopeExit runEnd([this] { ReadingRuns = false; });
    TServerWrapper& wrapper = Wrapper();
    const TTimeBudget budget;
    // The groups from the last to the first, so that each new button can go to the front.
    while (Reading && GroupMenus) {
        if (Reading->NextGroup < 0) {
            PutUpGroups();
            return;
        }
        const unsigned generation = Reading->Generation;
        const LONG group = Reading->NextGroup;
        bool shown = false;
        std::wstring name;
        LONG linkCount = 0;
        const bool found = wrapper.GetQuickGroup(group, shown, name, linkCount);
        if (!Reading || Reading->Generation != generation)
            continue; // cleared meanwhile: the newest reading, if any, goes on
        Reading->NextGroup = group - 1;
        if (found && shown) {
            TGroup& entry = Reading->Found.emplace_back();
            entry.Name = std::move(name);
            entry.Index = group;
            entry.LinkCount = std::clamp<LONG>(linkCount, 0, kMaxLinksPerGroup);
        }
        if (Reading->NextGroup >= 0 && budget.Spent()) {
            ::PostMessageW(Handle(), kContinueBuildMessage, 0, 0);
            return;
        }
    }
}

std::vector<LONG> TQLIEToolBandForm::LinkShares(const std::vector<LONG>& linkCounts) {
    std::vector<LONG> sorted = linkCounts;
    std::sort(sorted.begin(), sorted.end());
    // The share: what is left is divided alike among the groups that report more than the division
    // gives; the groups that report less get all of their links.
    LONG64 left = kMaxLinkReads;
    LONG64 share = -1; // none: every group gets all of its links
    for (size_t i = 0; i < sorted.size(); ++i) {
        const LONG64 alike = left / static_cast<LONG64>(sorted.size() - i);
        if (sorted[i] > alike) {
            share = alike;
            break;
        }
        left -= sorted[i];
    }
    std::vector<LONG> shares;
    shares.reserve(linkCounts.size());
    LONG64 given = 0;
    for (LONG count : linkCounts) {
        shares.push_back(share < 0 ? count : static_cast<LONG>(std::min<LONG64>(count, share)));
        given += shares.back();
    }
    // What the division leaves: one more link for each of the first groups that report more.
    for (size_t i = 0; i < shares.size() && given < kMaxLinkReads && share >= 0; ++i)
        if (linkCounts[i] > shares[i]) {
            ++shares[i];
            ++given;
        }
    return shares;
}

void TQLIEToolBandForm::PutUpGroups() {
    TGroupMenus found = std::move(Reading->Found);
    Reading.reset();
    // The shares go by the application's order of the groups; found holds them last group first.
    std::vector<LONG> linkCounts;
    for (auto group = found.rbegin(); group != found.rend(); ++group)
        linkCounts.push_back(group->LinkCount);
    const std::vector<LONG> shares = LinkShares(linkCounts);
    // GroupMenus and QGPopupMenu take the groups as found, last group first, each new item at the top;
    // the toolbar takes the buttons in the application's order, all at once.
    const size_t first = GroupMenus->size();
    std::vector<TToolBar::TButtonDesign> buttons(found.size());
    for (size_t i = 0; i < found.size(); ++i) {
        TGroup& group = found[i];
        group.LinksToRead = shares[found.size() - 1 - i];
        group.Menu = std::make_unique<TPopupMenu>(*this, false);
        group.Menu->SetImages(HotImageList.Handle());
        const auto position = static_cast<LONG_PTR>(first + i);
        const std::wstring caption = ShownCaption(group.Name);
        TMenuItem& item = QGPopupMenu->Add(position, caption, kGroupImage, 0);
        item.OnClick = [this](TMenuItem& sender) { OpenGroupClick(sender.Tag); };
        buttons[found.size() - 1 - i] = {L"GroupButton", caption, kGroupImage, true, true};
        GroupMenus->push_back(std::move(group));
    }
    const std::vector<TToolBar::TButton*> added = QLToolBar->AddButtons(buttons);
    for (size_t i = 0; i < added.size(); ++i) {
        const auto position = static_cast<LONG_PTR>(first + added.size() - 1 - i);
        TToolBar::TButton& button = *added[i];
        button.Tag = position;
        button.DropDownMenu = (*GroupMenus)[static_cast<size_t>(position)].Menu.get();
        button.OnDropDown = [this, position] { GroupDropDown(position); };
        button.OnClick = [this, position] { OpenGroupClick(position); };
    }
    // Every group button is sized to its caption (BTNS_AUTOSIZE); the bars are laid out again.
    Relayout();
}

// --- A group's links ---------------------------------------------------------------------------------

bool TQLIEToolBandForm::ReadLinks(size_t position, size_t enough, const TTimeBudget& budget) {
    // A clearing, or a change that waits for the running handler, leaves the group to be replaced.
    const unsigned generation = Generation;
    auto cutShort = [&] {
        return Generation != generation || !GroupMenus || position >= GroupMenus->size() ||
               (PendingChanges & (kGroupsChanged | kConnectionChanged)) != 0;
    };
    if (cutShort())
        return false;
    TServerWrapper& wrapper = Wrapper();
    bool read = false;
    for (;;) {
        TGroup& group = (*GroupMenus)[position];
        if (group.AllRead() || group.Links.size() >= enough || (read && budget.Spent()))
            break;
        const LONG groupIndex = group.Index;
        const LONG link = group.NextLink;
        std::wstring caption, url;
        const bool readable = wrapper.GetQuickLink(groupIndex, link, caption, url);
        if (cutShort())
            return false;
        read = true;
        TGroup& again = (*GroupMenus)[position];
        again.NextLink = link + 1;
        if (readable) // a link that cannot be read is left out; the following ones are still asked
            again.Links.emplace_back(ShownCaption(caption), std::move(url));
    }
    if (read)
        FillGroupMenu(position);
    return true;
}

void TQLIEToolBandForm::FillGroupMenu(size_t position) {
    const TGroup& group = (*GroupMenus)[position];
    TPopupMenu& menu = *group.Menu;
    menu.Clear();
    const auto tag = static_cast<LONG_PTR>(position);
    for (const auto& [caption, url] : group.Links) {
        TMenuItem& item = menu.Add(tag, caption, kLinkImage);
        item.Hint = url;
        item.OnClick = [this](TMenuItem& sender) { OpenLinkClick(sender); };
    }
    if (!group.AllRead()) {
        const TMenuItem& more = menu.Add(tag, kMoreLinksCaption);
        ::EnableMenuItem(menu.Handle(), more.CommandId, MF_BYCOMMAND | MF_GRAYED);
    }
}

void TQLIEToolBandForm::GroupDropDown(LONG_PTR position) {
    if (!GroupMenus || position < 0 || static_cast<size_t>(position) >= GroupMenus->size())
        return;
    // The links read so far, and as many more as the budget allows; the next opening reads on.
    if (!ReadLinks(static_cast<size_t>(position), SIZE_MAX, TTimeBudget()))
        return; // the group is about to be replaced: no menu
    for (const auto& button : QLToolBar->Buttons())
        if (button->Tag == position) {
            QLToolBar->DropDown(*button, *(*GroupMenus)[static_cast<size_t>(position)].Menu);
            return;
        }
}

// --- Handlers ----------------------------------------------------------------------------------------

void TQLIEToolBandForm::QLMngToolButtonClick() {
    Wrapper().ShowQuickGroupManager();
}

void TQLIEToolBandForm::OpenGroupClick(LONG_PTR senderTag) {
    if (!GroupMenus || senderTag < 0 || static_cast<size_t>(senderTag) >= GroupMenus->size())
        return;
    const auto position = static_cast<size_t>(senderTag);
    if (!WaitingClicks.empty()) {
        // An earlier click still reads its group's links: this one follows it.
        if (WaitingClicks.size() < static_cast<size_t>(kMaxGroups))
            WaitingClicks.push_back(position);
        return;
    }
    if (!ReadLinks(position, kMaxWindowsPerGroup, TTimeBudget()))
        return;
    const TGroup& group = (*GroupMenus)[position];
    if (group.Links.size() < kMaxWindowsPerGroup && !group.AllRead()) {
        // The reading goes on in the next messages; the windows open once it is done.
        WaitingClicks.push_back(position);
        ::PostMessageW(Handle(), kContinueOpeningMessage, 0, 0);
        return;
    }
    OpenGroupLinks(group);
}

void TQLIEToolBandForm::ContinueOpening() {
    if (WaitingClicks.empty() || !GroupMenus)
        return;
    const size_t position = WaitingClicks.front();
    if (!ReadLinks(position, kMaxWindowsPerGroup, TTimeBudget()))
        return; // the groups are about to be replaced, and the waiting clicks with them
    const TGroup& group = (*GroupMenus)[position];
    if (group.Links.size() >= kMaxWindowsPerGroup || group.AllRead()) {
        WaitingClicks.erase(WaitingClicks.begin());
        OpenGroupLinks(group);
    }
    if (!WaitingClicks.empty() && Handle())
        ::PostMessageW(Handle(), kContinueOpeningMessage, 0, 0);
}

void TQLIEToolBandForm::OpenGroupLinks(const TGroup& group) {
    // Opening a window waits on another process: the URLs are taken first.
    std::vector<std::wstring> urls;
    for (const auto& link : group.Links) {
        if (urls.size() == kMaxWindowsPerGroup)
            break;
        urls.push_back(link.second);
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
