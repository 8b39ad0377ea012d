// TIEHelperBHOGUI: the link-hint automation object.
#pragma once

#include "com/AutoObjectUnit.h"
#include "com/ZorbexGUI_TLB.h"

namespace zorbex {

class TIEHelperBHOGUI : public TAutoObject<IIEHelperBHOGUI, IID_IIEHelperBHOGUI, CLSID_IEHelperBHOGUI> {
public:
    static IUnknown* CreateObject();

    // IIEHelperBHOGUI
    STDMETHODIMP MouseOverLink(LONG HWND, LONG X, LONG Y, BSTR URL, IUnknown* KeptorServer) override;
    STDMETHODIMP MouseOutLink() override;
    STDMETHODIMP MouseMove(LONG X, LONG Y) override;
};

} // namespace zorbex
