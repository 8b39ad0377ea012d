// TIEBandForm: creation as a child of the band's site window, and focus reports to the band.
#include "ui/IEBandFormUnit.h"

namespace zorbex {

TIEBandForm::TIEBandForm(TBandHost& band, const TFormDesign& design) : TForm(design), OwnerBand(band) {
    CreateHandle(band.ParentWindow(), WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS);
}

LRESULT TIEBandForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETFOCUS || message == WM_KILLFOCUS)
        OwnerBand.FormFocusChanged(message == WM_SETFOCUS);
    return TForm::WndProc(message, wParam, lParam);
}

} // namespace zorbex
