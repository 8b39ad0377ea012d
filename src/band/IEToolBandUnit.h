// TIEToolBand: a single-row horizontal toolbar band whose height follows its form.
#pragma once

#include "band/IEBandUnit.h"

namespace zorbex {

class TIEToolBand : public TIEBand {
protected:
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
