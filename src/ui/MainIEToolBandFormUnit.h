// TMainIEToolBandForm: the main toolbar form.
#pragma once

#include "ui/KeptorIEToolBandFormUnit.h"

namespace zorbex {

class TMainIEToolBandForm : public TKeptorIEToolBandForm {
public:
    explicit TMainIEToolBandForm(TBandHost& band);
};

} // namespace zorbex
