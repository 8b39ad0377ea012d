// TIEToolBand: the toolbar sizes, read from the band's form while it exists.
#include "band/IEToolBandUnit.h"

namespace zorbex {

int TIEToolBand::GetMinHeight() {
    return Form() ? Form()->Height() : kDefaultHeight;
}

int TIEToolBand::GetMaxHeight() {
    return Form() ? Form()->Height() : kDefaultHeight;
}

int TIEToolBand::GetActualWidth() {
    return Form() ? Form()->Width() : 0;
}

int TIEToolBand::GetActualHeight() {
    return Form() ? Form()->Height() : 0;
}

} // namespace zorbex
