// TMainIEToolBand: the main toolbar form and its content width.
#include "band/MainIEToolBandUnit.h"

#include "ui/MainIEToolBandFormUnit.h"

namespace zorbex {

TBandFormClass TMainIEToolBand::GetFormClass() {
    return &TIEBandForm::Create<TMainIEToolBandForm>;
}

int TMainIEToolBand::GetActualWidth() {
    auto* form = static_cast<TMainIEToolBandForm*>(Form());
    return form ? form->ContentWidth() : 0;
}

} // namespace zorbex
