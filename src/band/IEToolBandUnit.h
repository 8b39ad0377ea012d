// TIEToolBand: the sizes shared by both toolbars, a single-row horizontal band whose height follows its
// form (22 pixels before the form exists) and which stretches to the width the browser gives it.
#pragma once

#include "band/IEBandUnit.h"

namespace zorbex {

class TIEToolBand : public TIEBand {
protected:
    explicit TIEToolBand(IUnknown* outer = nullptr) : TIEBand(outer) {}

    static constexpr int kDefaultHeight = 22;

    int GetMinWidth() override { return 0; }
    int GetMinHeight() override;
    int GetMaxWidth() override { return -1; }
    int GetMaxHeight() override;
    int GetActualWidth() override;
    int GetActualHeight() override;
    DWORD GetModeFlags() override { return DBIMF_NORMAL; }
};

} // namespace zorbex
