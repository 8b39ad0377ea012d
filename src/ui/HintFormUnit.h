// THintForm: the link hint, a window that shows the picture the Keptor application renders for a URL.
//
// A borderless top-level tool window titled "Keptor hint" that sizes itself to HintImage, its picture,
// with a 1-pixel border in the window-frame colour around it. It is alpha-blended (design value 100)
// when the application asks for it; with a negative alpha it is opaque and not layered at all.
// The window also carries the one-shot timer of the GUI data module that shows and hides it.
#pragma once

#include <windows.h>

#include "page/BitmapUnit.h"
#include "ui/HintWindowUnit.h"

namespace zorbex {

class THintForm : public THintWindow {
public:
    static constexpr int kBorder = 1;
    static constexpr BYTE kDesignAlpha = 100;

    // A new hidden hint window, without owner.
    static TFormPtr<THintForm> Create();

    // Blending: on with the low 8 bits of alpha as the blend value when alpha >= 0, else off.
    void SetAlpha(LONG alpha);

    // Takes the picture into HintImage and fits the window to it (never beyond the screen).
    void SetPicture(TBitmap&& picture);

    // The data module's timer (on this window: a message timer needs one).
    TTimer& Timer() { return HintTimer; }

protected:
    void Paint(HDC dc) override;

private:
    THintForm();

    TBitmap Image;
    TTimer HintTimer{*this, 0, nullptr};
};

} // namespace zorbex
