// TIEHelperBHOGUI: the link-hint automation object. The browser helper object (another library)
// reports the pointer's movements over a page's links; each object shows its own hint through the
// GUI data module it owns. The main toolbar's Info label uses it for the card of the current page.
#pragma once

#include <memory>

#include "com/AutoObjectUnit.h"
#include "com/ZorbexGUI_TLB.h"
#include "ui/DataModuleUnit.h"

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
    // The test seam: the object's own data module.
    friend class TIEHelperBHOGUIProbe;

    explicit TIEHelperBHOGUI(IUnknown* outer);

    std::unique_ptr<TGUIDataModule> Module;
};

} // namespace zorbex
