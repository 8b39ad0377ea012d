// TBtnHintForm: the small text window the main toolbar shows as the hint of its buttons and labels.
//
// A borderless top-level tool window (no taskbar button) in the info colours with a thin black frame;
// HintLabel sits 3 pixels inside it and the window fits it with a 3-pixel margin at every showing.
// The window's own text is the hint it shows, so that accessibility tools read it.
#pragma once

#include <windows.h>

#include <string>

#include "ui/HintWindowUnit.h"

namespace zorbex {

class TBtnHintForm : public THintWindow {
public:
    // Where HintLabel sits in the client area, as designed: the margin around the text (scaled by the
    // text height, as the form's font is).
    static constexpr int kLabelLeft = 3;
    static constexpr int kLabelTop = 3;
    // Longest hint text shown; a longer one is cut and ends with an ellipsis.
    static constexpr size_t kMaxHintLength = 4096;

    // A new hidden hint window, without owner.
    static TFormPtr<TBtnHintForm> Create();

    // Replaces the caption of HintLabel, which sizes itself to the text, and the window's text.
    void SetHintText(const std::wstring& text);
    // The size of HintLabel (its text), in pixels.
    SIZE LabelSize() const { return LabelExtent; }
    // Sets the client size (the window has no frame: also its outer size).
    void SetClientSize(int width, int height);

protected:
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    void Paint(HDC dc) override;

private:
    TBtnHintForm();

    HWND HintLabel = nullptr; // a Static child window, destroyed with the form's window
    std::wstring Text;
    SIZE LabelExtent{};
};

} // namespace zorbex
