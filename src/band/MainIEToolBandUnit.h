// TMainIEToolBand: the main toolbar band. It shows the main toolbar form and reports the width of the
// form's content as its actual width, so the host gives the toolbar the room its buttons and panels need.
#pragma once

#include "band/IEToolBandUnit.h"

namespace zorbex {

class TMainIEToolBand : public TIEToolBand {
protected:
    explicit TMainIEToolBand(IUnknown* outer = nullptr) : TIEToolBand(outer) {}

    TBandFormClass GetFormClass() override;
    int GetActualWidth() override;
};

} // namespace zorbex
