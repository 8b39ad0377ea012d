// TQLIEToolBandForm: the quick-link toolbar form.
#pragma once

#include "ui/KeptorIEToolBandFormUnit.h"

namespace zorbex {

class TQLIEToolBandForm : public TKeptorIEToolBandForm {
public:
    explicit TQLIEToolBandForm(TBandHost& band);
    // Width of the bar that holds the "Manage groups" button; the band's minimum width.
    int QLMngToolBarWidth() const { return 0; }
};

} // namespace zorbex
