// TMainIEToolBand: the main toolbar band (picks the main toolbar form).
#pragma once

#include "band/IEToolBandUnit.h"

namespace zorbex {

class TMainIEToolBand : public TIEToolBand {
protected:
    TBandFormClass GetFormClass() override;
};

} // namespace zorbex
