// TIEHelperBHOGUI.
#include "library/IEHelperBHOGUIUnit.h"

namespace zorbex {

IUnknown* TIEHelperBHOGUI::CreateObject() {
    auto* object = new TIEHelperBHOGUI;
    object->AddRef();
    return static_cast<IIEHelperBHOGUI*>(object);
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
