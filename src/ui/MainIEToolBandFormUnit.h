// TMainIEToolBandForm: the main toolbar form.
#pragma once

#include "band/IEBandUnit.h"

namespace zorbex {

class TMainIEToolBandForm : public TIEBandForm {
public:
    explicit TMainIEToolBandForm(TIEBand& band);
};

} // namespace zorbex
