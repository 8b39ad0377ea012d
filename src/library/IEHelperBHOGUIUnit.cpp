// TIEHelperBHOGUI: creation, and the methods that say they are not built yet.
#include "library/IEHelperBHOGUIUnit.h"

namespace zorbex {

IUnknown* TIEHelperBHOGUI::CreateObject(IUnknown* outer) {
    return (new TIEHelperBHOGUI(outer))->FirstReference();
}

// The link-hint engine is not built yet: each method says so instead of pretending to work.

STDMETHODIMP TIEHelperBHOGUI::MouseOverLink(LONG, LONG, LONG, BSTR, IUnknown*) {
    return E_NOTIMPL;
}

STDMETHODIMP TIEHelperBHOGUI::MouseOutLink() {
    return E_NOTIMPL;
}

STDMETHODIMP TIEHelperBHOGUI::MouseMove(LONG, LONG) {
    return E_NOTIMPL;
}

} // namespace zorbex
