// TIEHKepUtils.
#include "server/IEHKepUtilsUnit.h"

#include "page/ImageCaptureUnit.h"

namespace zorbex {

IUnknown* TIEHKepUtils::CreateObject() {
    auto* object = new TIEHKepUtils;
    object->AddRef();
    return static_cast<IIEHKepUtils*>(object);
}

// The page operations are not built yet: each method says so instead of pretending to work.

STDMETHODIMP TIEHKepUtils::OpenLinks(VARIANT, LONG) {
    return E_NOTIMPL;
}

STDMETHODIMP TIEHKepUtils::HighlightDocument(ULONG, IUnknown*, IUnknown*) {
    return E_NOTIMPL;
}

STDMETHODIMP TIEHKepUtils::AddLinks(VARIANT, VARIANT_BOOL, VARIANT) {
    return E_NOTIMPL;
}

STDMETHODIMP TIEHKepUtils::AddBanners(VARIANT, VARIANT) {
    return E_NOTIMPL;
}

STDMETHODIMP TIEHKepUtils::CaptureScreenShot(IUnknown* AWebBrowser, VARIANT_BOOL ARewriteIfExists,
                                             IUnknown* AServer) {
    return Automation([&] { zorbex::CaptureScreenShot(AWebBrowser, ARewriteIfExists, AServer); });
}

} // namespace zorbex
