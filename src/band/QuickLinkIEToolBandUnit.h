// TQuickLinkIEToolBand: the quick-link toolbar band (picks the quick-link form and its minimum width).
#pragma once

#include "band/IEToolBandUnit.h"

namespace zorbex {

class TQuickLinkIEToolBand : public TIEToolBand {
protected:
    TBandFormClass GetFormClass() override;
    int GetMinWidth() override;
};

} // namespace zorbex
