// TMainIEToolBandForm: the main toolbar form.
#pragma once

#include "server/ServerWrapperUnit.h"

namespace zorbex {

class TMainIEToolBandForm : public TKeptorIEToolBandForm {
public:
    explicit TMainIEToolBandForm(TIEBand& band);
};

} // namespace zorbex
