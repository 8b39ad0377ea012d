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
// Every call to the application is a round trip to another process, and the application decides how many
// there are, so no message reads more than its time budget (TTimeBudget). A build reads only the groups,
// over as many posted messages as it takes, and puts the buttons up once it has them all; a group's links
// are read when its drop-down opens or it is clicked. A drop-down whose reading runs out of time shows the
// links read so far and a disabled "..." item, and its next opening reads on; a click whose reading runs
// out of time reads on in posted messages and then opens the windows.
//
// A build or a read may be cut short at any server call: a failed call tells every client at once that
// the application is gone (ServerDisconnected, which clears the toolbar), and an application event or a
// closing host may arrive while a call waits. Every clearing moves the toolbar's generation on, and work
// that sees it move under it stops without touching anything it made before. A build's reading of the
// groups is one record (TGroupReading: for which generation, where it goes on, what it found): a build
// that starts while another one waits in a call replaces it, and the message's worth of reading that was
// waiting goes on with the newest reading when its call returns, so the newest groups are always shown.
//
// While a click or a drop-down of the form's toolbars is being handled (a menu is open, browser windows
// are being opened, the group manager runs) the buttons and menus in use are never changed: a
// notification that arrives then closes the open menu and is carried out once the handler has returned
// (a posted message). A form closed meanwhile keeps its menus until it is deleted.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ui/ControlsUnit.h"
#include "ui/KeptorIEToolBandFormUnit.h"
#include "ui/TimeBudgetUnit.h"

namespace zorbex {

class TQLIEToolBandForm : public TKeptorIEToolBandForm {
public:
    // A group on the toolbar: its name and drop-down menu, and what is known of its links.
    struct TGroup {
        std::wstring Name;
        std::unique_ptr<TPopupMenu> Menu;
        LONG Index = 0;       // the application's index of the group
        LONG LinkCount = 0;   // links the group reported, within kMaxLinksPerGroup
        LONG LinksToRead = 0; // its share of kMaxLinkReads
        LONG NextLink = 0;    // the next link to ask for
        // The links read so far that could be read: caption and URL.
        std::vector<std::pair<std::wstring, std::wstring>> Links;
        bool AllRead() const { return NextLink >= LinksToRead; }
    };
    // One group per group on the toolbar, in build order (last group first). The tag of a group button
    // and of a group item of QGPopupMenu is the position of its group.
    using TGroupMenus = std::vector<TGroup>;

    // Images of ImageList and HotImageList, by role.
    static constexpr int kManageGroupsImage = 0;
    static constexpr int kGroupImage = 1;
    static constexpr int kLinkImage = 2;

    // Bounds of what the application may answer. A build asks for at most kMaxGroups groups (the first
    // ones); of their links, at most kMaxLinksPerGroup of a group and at most kMaxLinkReads in all are
    // ever asked for (when the groups report more, each gets all of its links up to a share that is alike
    // for the groups above it); captions are cut at kMaxCaptionLength characters; a group click opens at
    // most kMaxWindowsPerGroup browser windows.
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
    // Reads the shown groups of the application, over as many messages as it takes, then adds a button,
    // an (empty) menu and a QGPopupMenu item for each.
    void BuildGroups();
    // The links each group may have read when they report linkCounts (in the application's order):
    // every group all of its links when they fit into kMaxLinkReads, otherwise the same share for every
    // group that reports more than it (one more for the first ones, as the division leaves).
    static std::vector<LONG> LinkShares(const std::vector<LONG>& linkCounts);

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
    // "Manage groups", then the group buttons.
    std::vector<TKeyStop> KeyStops() override;

private:
    // The test seam: the menus the form holds while none of them is open.
    friend class TQLIEToolBandFormProbe;

    class THandlerScope;

    enum TPendingChange : unsigned {
        kNoChange = 0,
        kGroupsChanged = 1,
        kConnectionChanged = 2,
        kBuildGoesOn = 4, // a build's next message came while a handler ran
        kOpeningGoesOn = 8, // a click's next message came while a handler ran
    };

    // An empty QLToolBar.
    std::unique_ptr<TToolBar> NewGroupBar();
    void SetMngToolBarAutoSize(bool autoSize);
    void Relayout();
    // Whether the change has to wait for the running handler; notes it and closes the open menu if so.
    bool Deferred(unsigned change);
    // Carries out the changes noted while a handler ran, from the wrapper's present state.
    void ApplyPendingChanges();
    // One message's worth of a build: reads groups until none is left (then puts them up) or the time
    // budget is spent (then posts itself the next message).
    void ContinueBuild();
    void PutUpGroups();
    // Reads links of a group until `enough` readable ones are known or all it may read are read, or the
    // budget is spent. False when the reading was cut short by a clearing or by a change that waits for
    // the running handler: the group is then not to be used.
    bool ReadLinks(size_t position, size_t enough, const TTimeBudget& budget);
    // Fills a group's menu with the links read so far, and "..." when there are more to read.
    void FillGroupMenu(size_t position);
    // The arrow part of a group button: its links, read as far as the budget allows, in its menu.
    void GroupDropDown(LONG_PTR position);
    // One message's worth of the first click waiting for its group's links; opens the windows once they
    // are read.
    void ContinueOpening();
    // Opens the first links of a group in new browser windows.
    void OpenGroupLinks(const TGroup& group);
    // A new instance of the system's browser application showing the URL.
    static void OpenInNewBrowser(const std::wstring& url);

    // The reading of the groups for a build.
    struct TGroupReading {
        unsigned Generation = 0; // of the toolbar it reads for: a clearing cancels it
        LONG NextGroup = -1;     // the next group to ask for; below 0 once all are asked
        TGroupMenus Found;       // the shown groups found so far, last group first
    };

    // Components, in design order.
    TImageList ImageList;
    TImageList HotImageList;
    std::unique_ptr<TToolBar> QLMngToolBar;
    TToolBar::TButton* QLMngToolButton = nullptr;
    std::unique_ptr<TToolBar> QLToolBar;
    std::unique_ptr<TPopupMenu> QGPopupMenu;

    // Form state.
    std::unique_ptr<TGroupMenus> GroupMenus;
    // The build in progress, if any, and whether a message's worth of its reading runs (it may wait in a
    // call to the application while another message is handled).
    std::optional<TGroupReading> Reading;
    bool ReadingRuns = false;
    // Clicked groups whose links are still being read, first click first (positions in GroupMenus).
    std::vector<size_t> WaitingClicks;
    // Menus cleared while a handler ran (the form was closed then): kept until the form is deleted.
    std::vector<std::unique_ptr<TPopupMenu>> RetiredMenus;
    int MngToolBarWidth = 0;
    bool MngToolBarAutoSize = true;
    unsigned Generation = 0; // moves on at every clearing of the groups
    int HandlerDepth = 0; // clicks and drop-downs of the toolbars being handled
    unsigned PendingChanges = kNoChange;
};

} // namespace zorbex
