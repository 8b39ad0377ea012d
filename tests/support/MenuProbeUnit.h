// Looks at the pop-up menus this thread opens while a test drives a control, and closes them or picks
// an item, as a person would.
//
// A pop-up menu is modal: TrackPopupMenu(Ex) runs its own message loop until the menu closes, so the
// test cannot act after the call. The probe acts from inside that loop: a thread timer (a TIMERPROC with
// no window, which the menu loop dispatches like any other message) looks at every tick for a menu
// window of this thread (class "#32768"), reads its menu (MN_GETHMENU) and item strings, asks the
// decision what to do, and either ends the menu (EndMenu) or chooses an item by keyboard (arrow-down
// presses to the item, then Enter, posted to the menu window). A menu still open two seconds after the
// probe acted is ended, so a test never hangs on a menu.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace zorbex::test {

// What a menu held when the probe saw it open.
struct TOpenedMenu {
    HMENU Menu = nullptr;
    std::vector<std::wstring> Items; // the item strings (GetMenuString), top to bottom
    std::vector<UINT> Ids;           // the item ids, top to bottom
};

// The item strings of a menu, top to bottom.
std::vector<std::wstring> MenuStrings(HMENU menu);

class TMenuProbe {
public:
    static constexpr int kClose = -1;
    // Given an open menu, the position of the item to choose (counted over enabled, non-separator items
    // as the keyboard moves), or kClose.
    using TDecision = std::function<int(const TOpenedMenu& menu)>;

    // Starts watching this thread's menus; without a decision every menu is closed unchosen. One probe
    // per thread at a time.
    explicit TMenuProbe(TDecision decide = nullptr, UINT interval = 20);
    TMenuProbe(const TMenuProbe&) = delete;
    TMenuProbe& operator=(const TMenuProbe&) = delete;
    ~TMenuProbe();

    // Every menu seen open, in order.
    const std::vector<TOpenedMenu>& Menus() const { return Seen; }
    // A decision that chooses the item at this position of every menu.
    static TDecision Choose(int position) {
        return [position](const TOpenedMenu&) { return position; };
    }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void Look();

    TDecision Decide;
    UINT_PTR Timer = 0;
    std::vector<TOpenedMenu> Seen;
    HWND Handled = nullptr; // the menu window acted on
    DWORD HandledAt = 0;
};

} // namespace zorbex::test
