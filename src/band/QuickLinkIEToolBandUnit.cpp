// TQuickLinkIEToolBand: the quick-link form and the minimum width it asks for.
#include "band/QuickLinkIEToolBandUnit.h"

#include "ui/QLIEToolBandFormUnit.h"

namespace zorbex {

TBandFormClass TQuickLinkIEToolBand::GetFormClass() {
    return &TIEBandForm::Create<TQLIEToolBandForm>;
}

int TQuickLinkIEToolBand::GetMinWidth() {
    auto* form = static_cast<TQLIEToolBandForm*>(Form());
    return form ? form->QLMngToolBarWidth() : 0;
}

} // namespace zorbex
