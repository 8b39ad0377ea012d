// TMainIEToolBandForm.
#include "ui/MainIEToolBandFormUnit.h"

namespace zorbex {
namespace {

// The toolbar's buttons, panels and actions are added to this design with the toolbar itself;
// until then the form is an empty band of its designed size.
const TFormDesign kMainIEToolBandFormDesign{L"MainIEToolBandForm", 801, 22, true};

} // namespace

TMainIEToolBandForm::TMainIEToolBandForm(TBandHost& band) : TKeptorIEToolBandForm(band, kMainIEToolBandFormDesign) {}

} // namespace zorbex
