// TIEHelperBHOGUI: creation with its data module, and the three methods, each forwarded to it.
#include "library/IEHelperBHOGUIUnit.h"

#include <wrl/client.h>

namespace zorbex {

TIEHelperBHOGUI::TIEHelperBHOGUI(IUnknown* outer) : TAutoObject(outer), Module(std::make_unique<TGUIDataModule>()) {}

IUnknown* TIEHelperBHOGUI::CreateObject(IUnknown* outer) {
    return (new TIEHelperBHOGUI(outer))->FirstReference();
}

// Each method keeps the object alive for its duration: the server it asks may let messages through,
// and a caller may release its last reference meanwhile.

STDMETHODIMP TIEHelperBHOGUI::MouseOverLink(LONG HWND, LONG X, LONG Y, BSTR URL, IUnknown* KeptorServer) {
    Microsoft::WRL::ComPtr<IIEHelperBHOGUI> self(this);
    return Automation([&] {
        Module->ShowLinkHint(reinterpret_cast<::HWND>(static_cast<LONG_PTR>(HWND)), X, Y,
                             std::wstring(URL ? URL : L"", ::SysStringLen(URL)), KeptorServer);
    });
}

STDMETHODIMP TIEHelperBHOGUI::MouseOutLink() {
    Microsoft::WRL::ComPtr<IIEHelperBHOGUI> self(this);
    return Automation([&] { Module->HideLinkHint(); });
}

STDMETHODIMP TIEHelperBHOGUI::MouseMove(LONG X, LONG Y) {
    Microsoft::WRL::ComPtr<IIEHelperBHOGUI> self(this);
    return Automation([&] { Module->MoveLinkHint(X, Y); });
}

} // namespace zorbex
