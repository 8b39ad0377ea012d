// TMainIEToolBand.
#include "band/MainIEToolBandUnit.h"

#include "ui/MainIEToolBandFormUnit.h"

namespace zorbex {

TBandFormClass TMainIEToolBand::GetFormClass() {
    return &TIEBandForm::Create<TMainIEToolBandForm>;
}

} // namespace zorbex
