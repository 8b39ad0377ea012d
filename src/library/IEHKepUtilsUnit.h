// TIEHKepUtils: the page-utilities automation object (gathering, highlighting, screenshots).
#pragma once

#include "com/AutoObjectUnit.h"
#include "com/ZorbexGUI_TLB.h"

namespace zorbex {

class TIEHKepUtils : public TAutoObject<IIEHKepUtils, IID_IIEHKepUtils, CLSID_IEHKepUtils> {
public:
    static IUnknown* CreateObject();

    // IIEHKepUtils
    STDMETHODIMP OpenLinks(VARIANT ADocument, LONG AOnlySel) override;
    STDMETHODIMP HighlightDocument(ULONG WB_ID, IUnknown* Unk, IUnknown* Srv) override;
    STDMETHODIMP AddLinks(VARIANT ADocument, VARIANT_BOOL ASelected, VARIANT AElement) override;
    STDMETHODIMP AddBanners(VARIANT ADocument, VARIANT AElement) override;
    STDMETHODIMP CaptureScreenShot(IUnknown* AWebBrowser, VARIANT_BOOL ARewriteIfExists, IUnknown* AServer) override;
};

} // namespace zorbex
