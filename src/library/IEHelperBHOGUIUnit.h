// TIEHelperBHOGUI: the link-hint automation object that the browser helper object calls as the mouse
// moves over links. Its class, interface and registration are complete; its methods answer E_NOTIMPL
// until the hint engine exists, so a caller learns that rather than seeing nothing happen.
#pragma once

#include "com/AutoObjectUnit.h"
#include "com/ZorbexGUI_TLB.h"

namespace zorbex {

class TIEHelperBHOGUI : public TAutoObject<IIEHelperBHOGUI, IID_IIEHelperBHOGUI, CLSID_IEHelperBHOGUI> {
public:
    // A new object, aggregated in outer when it is not null: its own IUnknown with one reference.
    static IUnknown* CreateObject(IUnknown* outer = nullptr);

    // IIEHelperBHOGUI
    STDMETHODIMP MouseOverLink(LONG HWND, LONG X, LONG Y, BSTR URL, IUnknown* KeptorServer) override;
    STDMETHODIMP MouseOutLink() override;
    STDMETHODIMP MouseMove(LONG X, LONG Y) override;

private:
    explicit TIEHelperBHOGUI(IUnknown* outer) : TAutoObject(outer) {}
};

} // namespace zorbex
