// TQuickLinkIEToolBand: the quick-link toolbar band. It differs from other toolbar bands in its form
// and in its minimum width, which is the width of the form's group-manager toolbar; the co-class
// (TTrovellaQLToolbar) adds its identity.
#pragma once

#include "band/IEToolBandUnit.h"

namespace zorbex {

class TQuickLinkIEToolBand : public TIEToolBand {
protected:
    explicit TQuickLinkIEToolBand(IUnknown* outer = nullptr) : TIEToolBand(outer) {}

    TBandFormClass GetFormClass() override;
    int GetMinWidth() override;
};

} // namespace zorbex
