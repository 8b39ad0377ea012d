// The toolbars of a band as a person or an accessibility tool finds their parts from outside: a button by
// the image it shows (its identity, since the buttons carry no names), the mouse on it and a person's
// click, and the main toolbar's labels in the order they stand. Used by the toolbar tests and the demo.
#pragma once

#include <windows.h>

#include <vector>

namespace zorbex::test {

// The button showing this image on one of the form's toolbars: its toolbar, and its rectangle in the
// toolbar's client area. False when no toolbar of the form has one.
bool FindToolbarButton(HWND form, int image, HWND& bar, RECT& rect);

// The cursor onto a point of a toolbar's client area, and the mouse move the system sends for it.
void PointAt(HWND bar, POINT at);
// A person's click there: PointAt, then the left button down and up.
void ClickAt(HWND bar, POINT at);
// The arrow part of the drop-down button at this index (what opens its menu).
void ClickArrowPart(HWND bar, int index);

// The mouse resting on the middle of the button showing this image, or a click there. False when there
// is no such button.
bool PointAtToolbarButton(HWND form, int image);
bool ClickToolbarButton(HWND form, int image);

// The keyboard: a key pressed and released on the window that has the focus, as the browser's message loop
// hands it on (Alt held: the system key messages).
void PressKey(UINT key, bool alt = false);
// The index of the hot button of the toolbar that has the focus; -1 when none or the focus is elsewhere.
int FocusedHotIndex();

// The labels of the main toolbar (Static windows in panels on its first toolbar), left to right: rating,
// card, comments.
std::vector<HWND> ToolbarLabels(HWND form);

} // namespace zorbex::test
