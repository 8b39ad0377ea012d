// TIEHKepUtils: the automation methods, each one call into the page layer.
#include "library/IEHKepUtilsUnit.h"

#include "page/ImageCaptureUnit.h"
#include "page/KepUtilsFuncUnit.h"

namespace zorbex {

IUnknown* TIEHKepUtils::CreateObject(IUnknown* outer) {
    return (new TIEHKepUtils(outer))->FirstReference();
}

STDMETHODIMP TIEHKepUtils::OpenLinks(VARIANT ADocument, LONG AOnlySel) {
    return Automation([&] {
        TVariant document = ArgumentCopy(ADocument);
        zorbex::OpenLinks(document.Get(), AOnlySel);
    });
}

STDMETHODIMP TIEHKepUtils::HighlightDocument(ULONG WB_ID, IUnknown* Unk, IUnknown* Srv) {
    return Automation([&] { zorbex::HighlightDocument(WB_ID, Unk, Srv); });
}

STDMETHODIMP TIEHKepUtils::AddLinks(VARIANT ADocument, VARIANT_BOOL ASelected, VARIANT AElement) {
    return Automation([&] {
        TVariant document = ArgumentCopy(ADocument);
        TVariant element = ArgumentCopy(AElement);
        zorbex::AddLinks(document.Get(), ASelected, element.Get());
    });
}

STDMETHODIMP TIEHKepUtils::AddBanners(VARIANT ADocument, VARIANT AElement) {
    return Automation([&] {
        TVariant document = ArgumentCopy(ADocument);
        TVariant element = ArgumentCopy(AElement);
        zorbex::AddBanners(document.Get(), element.Get());
    });
}

STDMETHODIMP TIEHKepUtils::CaptureScreenShot(IUnknown* AWebBrowser, VARIANT_BOOL ARewriteIfExists,
                                             IUnknown* AServer) {
    return Automation([&] { zorbex::CaptureScreenShot(AWebBrowser, ARewriteIfExists, AServer); });
}

} // namespace zorbex
