// TQLIEToolBandForm.
#include "ui/QLIEToolBandFormUnit.h"

namespace zorbex {
namespace {

// The quick-group buttons and the "Manage groups" bar are added to this design with the quick-link
// toolbar itself; until then the form is an empty band of its designed size.
const TFormDesign kQLIEToolBandFormDesign{L"QLIEToolBandForm", 650, 22, true};

} // namespace

TQLIEToolBandForm::TQLIEToolBandForm(TBandHost& band) : TKeptorIEToolBandForm(band, kQLIEToolBandFormDesign) {}

} // namespace zorbex
