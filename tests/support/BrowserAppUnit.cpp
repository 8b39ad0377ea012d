// The browser application double: its class factory and registration.
#include "support/BrowserAppUnit.h"

#include <objbase.h>

#include <span>

#include "com/ComObjectUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex::test {

const CLSID kBrowserApplicationClass = {0x0002DF01, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class TBrowserApplication::TFactory : public TComObject<IClassFactory> {
public:
    explicit TFactory(TBrowserApplication& owner)
        : TComObject(TModuleCount::None, Interfaces(), nullptr), Owner(owner) {}

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (!Alive)
            return E_UNEXPECTED;
        const size_t index = Created.size();
        if (Owner.BeforeCreate) {
            const HRESULT refusal = Owner.BeforeCreate(index);
            if (FAILED(refusal))
                return refusal;
        }
        ComPtr<TTestBrowser> browser = TTestBrowser::Create();
        if (Owner.OnCreated)
            Owner.OnCreated(*browser.Get(), index);
        Created.push_back(browser);
        return browser->QueryInterface(iid, object);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

    bool Alive = true; // false once the owner is gone
    std::vector<ComPtr<TTestBrowser>> Created;

private:
    static std::span<const TInterfaceEntry> Interfaces() {
        static const TInterfaceEntry table[] = {InterfaceEntry<TFactory, IClassFactory>(IID_IClassFactory)};
        return table;
    }
    ~TFactory() override = default;
    TBrowserApplication& Owner;
};

TBrowserApplication::TBrowserApplication() : Factory(new TFactory(*this)) {
    Factory->AddRef();
    if (FAILED(::CoRegisterClassObject(kBrowserApplicationClass, static_cast<IClassFactory*>(Factory),
                                       CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &Cookie)))
        Cookie = 0;
}

TBrowserApplication::~TBrowserApplication() {
    if (Cookie)
        ::CoRevokeClassObject(Cookie);
    Factory->Alive = false;
    Factory->Created.clear();
    Factory->Release();
}

bool TBrowserApplication::Works() {
    if (!Cookie)
        return false;
    const size_t before = Factory->Created.size();
    ComPtr<IWebBrowser2> browser;
    const HRESULT result = ::CoCreateInstance(kBrowserApplicationClass, nullptr,
                                              CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&browser));
    const bool ours = SUCCEEDED(result) && Factory->Created.size() == before + 1 &&
                      static_cast<IWebBrowser2*>(Factory->Created.back().Get()) == browser.Get();
    if (Factory->Created.size() > before)
        Factory->Created.resize(before);
    return ours;
}

const std::vector<ComPtr<TTestBrowser>>& TBrowserApplication::Windows() const {
    return Factory->Created;
}

std::vector<bool> TBrowserApplication::VisibleWindows() const {
    std::vector<bool> visible;
    for (const auto& browser : Factory->Created)
        visible.push_back(!browser->VisibleWrites.empty() && browser->VisibleWrites.back() == VARIANT_TRUE);
    return visible;
}

std::vector<std::wstring> TBrowserApplication::NavigatedUrls() const {
    std::vector<std::wstring> urls;
    for (const auto& browser : Factory->Created)
        urls.push_back(browser->Navigations.empty() ? std::wstring() : browser->Navigations.front());
    return urls;
}

void TBrowserApplication::Clear() {
    Factory->Created.clear();
}

} // namespace zorbex::test
