// A high-contrast black theme for a test or a picture: the system colours of one, and a module's import of
// SystemParametersInfoW answering that high contrast is on (Wine keeps it off and does not implement
// SPI_SETHIGHCONTRAST). The colours are the prefix's own while it lives: use a prefix of its own. Free of
// any test framework.
#pragma once

#include <windows.h>

#include <iterator>

#include "support/ImportPatchUnit.h"

namespace zorbex::test {

class THighContrast {
public:
    // module: the module whose calls should see high contrast (this program, or the loaded library).
    explicit THighContrast(HMODULE module);
    THighContrast(const THighContrast&) = delete;
    THighContrast& operator=(const THighContrast&) = delete;
    ~THighContrast();
    bool Applied() const { return Patch.Applied(); }

private:
    static constexpr INT kElements[] = {COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_BTNFACE, COLOR_BTNTEXT,
                                        COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT, COLOR_GRAYTEXT, COLOR_MENU,
                                        COLOR_MENUTEXT, COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW, COLOR_3DLIGHT};
    TImportPatch Patch;
    COLORREF Saved[std::size(kElements)]{};
};

} // namespace zorbex::test
