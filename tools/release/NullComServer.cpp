// NullComServer.dll: an in-process COM server that does nothing, the yardstick of the start-up benchmark.
// It serves the four classes of ZorbexGUI.dll with objects that implement IUnknown only, and follows the
// same rules for unloading: no objects, no locks.
#include <windows.h>
#include <objbase.h>

#include <initguid.h>

#include <new>

#include "ZorbexGUI.h"

namespace {

LONG Objects = 0;

class TNullObject final : public IUnknown {
public:
    TNullObject() { ::InterlockedIncrement(&Objects); }
    TNullObject(const TNullObject&) = delete;
    TNullObject& operator=(const TNullObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid != IID_IUnknown) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&References)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = ::InterlockedDecrement(&References);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

private:
    ~TNullObject() { ::InterlockedDecrement(&Objects); }
    LONG References = 1;
};

// One factory for all four classes; it lives as long as the module, its references count as locks.
class TNullFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        ::InterlockedIncrement(&Objects);
        return 2;
    }
    STDMETHODIMP_(ULONG) Release() override {
        ::InterlockedDecrement(&Objects);
        return 1;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        TNullObject* instance = new (std::nothrow) TNullObject;
        if (!instance)
            return E_OUTOFMEMORY;
        const HRESULT result = instance->QueryInterface(iid, object);
        instance->Release();
        return result;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            ::InterlockedIncrement(&Objects);
        else
            ::InterlockedDecrement(&Objects);
        return S_OK;
    }
};

TNullFactory Factory;

bool Served(REFCLSID clsid) {
    return clsid == CLSID_ZorbexExplorerBar || clsid == CLSID_IEHKepUtils || clsid == CLSID_IEHelperBHOGUI ||
           clsid == CLSID_TrovellaQLToolbar;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        ::DisableThreadLibraryCalls(instance);
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return Objects == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!Served(clsid))
        return CLASS_E_CLASSNOTAVAILABLE;
    return Factory.QueryInterface(iid, object);
}
