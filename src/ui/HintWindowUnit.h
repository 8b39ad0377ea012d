// THintWindow: what the two hint windows (the button hint and the link hint) have in common. Both are
// borderless top-level tool windows that paint their whole client area themselves and that come and go
// without ever taking activation from the browser.
#pragma once

#include <windows.h>

#include "ui/FormsUnit.h"

namespace zorbex {

class THintWindow : public TForm {
public:
    // Hides the window without changing activation.
    void HideHint();

protected:
    using TForm::TForm;

    // Paints the whole client area; the background is not erased first.
    virtual void Paint(HDC dc) = 0;
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

} // namespace zorbex
