// TIEHKepUtils: the page-utilities automation object (gathering, highlighting, screenshots) that the
// browser helper object calls. It is a thin automation shell: each method copies its arguments and
// hands them to the page layer, whose errors Automation turns into the caller's HRESULT.
#pragma once

#include "com/AutoObjectUnit.h"
#include "com/ZorbexGUI_TLB.h"

namespace zorbex {

class TIEHKepUtils : public TAutoObject<IIEHKepUtils, IID_IIEHKepUtils, CLSID_IEHKepUtils> {
public:
    // A new object, aggregated in outer when it is not null: its own IUnknown with one reference.
    static IUnknown* CreateObject(IUnknown* outer = nullptr);

    // IIEHKepUtils
    STDMETHODIMP OpenLinks(VARIANT ADocument, LONG AOnlySel) override;
    STDMETHODIMP HighlightDocument(ULONG WB_ID, IUnknown* Unk, IUnknown* Srv) override;
    STDMETHODIMP AddLinks(VARIANT ADocument, VARIANT_BOOL ASelected, VARIANT AElement) override;
    STDMETHODIMP AddBanners(VARIANT ADocument, VARIANT AElement) override;
    STDMETHODIMP CaptureScreenShot(IUnknown* AWebBrowser, VARIANT_BOOL ARewriteIfExists, IUnknown* AServer) override;

private:
    explicit TIEHKepUtils(IUnknown* outer) : TAutoObject(outer) {}
};

} // namespace zorbex
