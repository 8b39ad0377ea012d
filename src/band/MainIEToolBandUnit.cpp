// TMainIEToolBand: the choice of the main toolbar form, kept here so that only this unit includes it.
#include "band/MainIEToolBandUnit.h"

#include "ui/MainIEToolBandFormUnit.h"

namespace zorbex {

TBandFormClass TMainIEToolBand::GetFormClass() {
    return &TIEBandForm::Create<TMainIEToolBandForm>;
}

} // namespace zorbex
