// TQLIEToolBandForm: the quick-link toolbar, the quick groups the person keeps in the Keptor
// application as drop-down buttons.
//
// "Manage groups" at the left end (QLMngToolBar) opens the application's group manager; its arrow lists
// the groups again. Right of it (QLToolBar) one drop-down button per shown group: the button part opens
// every link of the group in a new browser window, the arrow part lists the links, and a chosen link
// opens in the band's own browser. Everything comes from the application through the thread's server
// wrapper; the groups are built afresh when the connection comes or goes and when the application says
// they changed.
//
// A build may be cut short at any server call: a failed call tells every client at once that the
// application is gone (ServerDisconnected, which clears the toolbar), and an application event or a
// closing host may arrive while a call waits. Every clearing counts, and a build that sees the count
// move under it stops without touching anything it made before.
//
// While a click or a drop-down of the form's toolbars is being handled (a menu is open, browser windows
// are being opened, the group manager runs) the buttons and menus in use are never changed: a
// notification that arrives then closes the open menu and is carried out once the handler has returned
// (a posted message). A form closed meanwhile keeps its menus until it is deleted.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/ControlsUnit.h"
#include "ui/KeptorIEToolBandFormUnit.h"

namespace zorbex {

class TQLIEToolBandForm : public TKeptorIEToolBandForm {
public:
    // One (group name, drop-down menu) pair per group on the toolbar, in build order (last group first).
    // The tag of a group button and of a group item of QGPopupMenu is the position of its pair.
    using TGroupMenus = std::vector<std::pair<std::wstring, std::unique_ptr<TPopupMenu>>>;

    // Images of ImageList and HotImageList, by role.
    static constexpr int kManageGroupsImage = 0;
    static constexpr int kGroupImage = 1;
    static constexpr int kLinkImage = 2;

    // Bounds of what the application may answer. A build asks for at most kMaxGroups groups (the first
    // ones), at most kMaxLinksPerGroup links of a group and at most kMaxLinkReads links in all (shared
    // alike among the groups when there are more), so a lying count cannot hold the browser thread;
    // captions are cut at kMaxCaptionLength characters; a group click opens at most
    // kMaxWindowsPerGroup browser windows.
    static constexpr LONG kMaxGroups = 256;
    static constexpr LONG kMaxLinksPerGroup = 256;
    static constexpr LONG kMaxLinkReads = 2048;
    static constexpr size_t kMaxCaptionLength = 260;
    static constexpr size_t kMaxWindowsPerGroup = 50;

    explicit TQLIEToolBandForm(TBandHost& band);

    // Width of the bar that holds "Manage groups": the band's minimum width.
    int QLMngToolBarWidth() const;

    // Notifications of the server wrapper.
    void ServerConnected(TServerWrapper* sender) override;
    void ServerDisconnected(TServerWrapper* sender) override;
    void QuickGroupChanged(TServerWrapper* sender) override;

    // Shows "Manage groups" and builds the groups afresh.
    void ShowGroups();
    // Removes every group button, group menu and item of QGPopupMenu.
    void ClearGroups();
    // Adds a button, a menu and a QGPopupMenu item for every shown group of the application.
    void BuildGroups();

    // Handlers.
    void QLMngToolButtonClick();
    // A group button or a group item of QGPopupMenu, by its tag.
    void OpenGroupClick(LONG_PTR senderTag);
    // A link item of a group's menu.
    void OpenLinkClick(const TMenuItem& sender);

protected:
    void FormCreate() override;
    void FormDestroy() override;
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // The test seam: the menus the form holds while none of them is open.
    friend class TQLIEToolBandFormProbe;

    enum TPendingChange : unsigned { kNoChange = 0, kGroupsChanged = 1, kConnectionChanged = 2 };

    void SetMngToolBarAutoSize(bool autoSize);
    void Relayout();
    // Whether the change has to wait for the running handler; notes it and closes the open menu if so.
    bool Deferred(unsigned change);
    // Carries out the changes noted while a handler ran, from the wrapper's present state.
    void ApplyPendingChanges();
    // A new instance of the system's browser application showing the URL.
    static void OpenInNewBrowser(const std::wstring& url);

    // Components, in design order.
    TImageList ImageList;
    TImageList HotImageList;
    std::unique_ptr<TToolBar> QLMngToolBar;
    TToolBar::TButton* QLMngToolButton = nullptr;
    std::unique_ptr<TToolBar> QLToolBar;
    std::unique_ptr<TPopupMenu> QGPopupMenu;

    // Form state.
    std::unique_ptr<TGroupMenus> GroupMenus;
    // Menus cleared while a handler ran (the form was closed then): kept until the form is deleted.
    std::vector<std::unique_ptr<TPopupMenu>> RetiredMenus;
    int MngToolBarWidth = 0;
    bool MngToolBarAutoSize = true;
    unsigned ClearCount = 0;
    int HandlerDepth = 0; // clicks and drop-downs of the toolbars being handled
    unsigned PendingChanges = kNoChange;
};

} // namespace zorbex
