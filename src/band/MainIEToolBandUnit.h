// TMainIEToolBand: the main toolbar band. It differs from other toolbar bands only in its form; the
// co-class (TZorbexExplorerBar) adds its identity.
#pragma once

#include "band/IEToolBandUnit.h"

namespace zorbex {

class TMainIEToolBand : public TIEToolBand {
protected:
    explicit TMainIEToolBand(IUnknown* outer = nullptr) : TIEToolBand(outer) {}

    TBandFormClass GetFormClass() override;
};

} // namespace zorbex
