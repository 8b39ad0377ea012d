// Looks into the modal pop-up menus the library opens: while a menu's own loop runs, a thread timer
// finds the menu window of this thread, reads its items and then closes the menu or chooses an item
// with the keyboard, as a person would.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace zorbex::test {

struct TMenuProbe {
    bool Opened = false;            // a menu window was seen
    int Count = 0;                  // its items
    std::vector<std::wstring> Texts; // each item's string ("" for owner-drawn items)
    std::vector<bool> OwnerDrawn;
    // Each item's name for accessibility tools: the MSAAMENUINFO its item data points to, as a screen
    // reader reads an owner-drawn item ("" without one).
    std::vector<std::wstring> AccessibleNames;
    POINT Position{};               // the menu window's top-left corner
    std::vector<RECT> ItemRects;    // each item's rectangle on the screen
};

// Runs `open`, which opens a pop-up menu on this thread and returns when the menu has closed. The
// probe chooses the item at index `choose` (Down keys, then Return) or, with -1, closes the menu
// with Escape. A menu still open after two seconds is ended.
TMenuProbe ProbeMenu(const std::function<void()>& open, int choose = -1);

// The same, with the choice made while the menu is open: `decide` sees what the menu holds (and may act
// meanwhile, as an application that changes things under an open menu) and returns the index of the item
// to choose, or -1 to close the menu.
TMenuProbe ProbeMenu(const std::function<void()>& open, const std::function<int(const TMenuProbe&)>& decide);

} // namespace zorbex::test
