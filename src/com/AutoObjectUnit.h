// Base of the library's automation objects: reference counting, IDispatch served from the
// embedded type library, ISupportErrorInfo and IProvideClassInfo.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <string>

#include "com/ComServerUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"

namespace zorbex {

// The vtable-side type information of a dual interface (for DispInvoke), from this module's type library.
Microsoft::WRL::ComPtr<ITypeInfo> DualInterfaceTypeInfo(const IID& iid);
Microsoft::WRL::ComPtr<ITypeInfo> CoClassTypeInfo(const CLSID& clsid);

// TInterface is the object's dual interface, TInterfaceIID its IID, TClassID its co-class.
template <typename TInterface, const IID& TInterfaceIID, const CLSID& TClassID>
class TAutoObject : public TInterface, public ISupportErrorInfo, public IProvideClassInfo {
public:
    TAutoObject() { ComServer().CountObject(true); }
    TAutoObject(const TAutoObject&) = delete;
    TAutoObject& operator=(const TAutoObject&) = delete;
    virtual ~TAutoObject() { ComServer().CountObject(false); }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == TInterfaceIID)
            *object = static_cast<TInterface*>(this);
        else if (iid == IID_ISupportErrorInfo)
            *object = static_cast<ISupportErrorInfo*>(this);
        else if (iid == IID_IProvideClassInfo)
            *object = static_cast<IProvideClassInfo*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&RefCount)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG count = ::InterlockedDecrement(&RefCount);
        if (count == 0)
            delete this;
        return static_cast<ULONG>(count);
    }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info)
            return E_POINTER;
        *info = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        return GuardResult(E_UNEXPECTED, [&] {
            Microsoft::WRL::ComPtr<ITypeInfo> typeInfo;
            OleCheck(ComServer().TypeLib()->GetTypeInfoOfGuid(TInterfaceIID, &typeInfo));
            *info = typeInfo.Detach();
            return S_OK;
        });
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return GuardResult(E_UNEXPECTED, [&] { return ::DispGetIDsOfNames(InvokeTypeInfo(), names, count, ids); });
    }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override {
        if (iid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        return GuardResult(E_UNEXPECTED, [&] {
            return ::DispInvoke(static_cast<TInterface*>(this), InvokeTypeInfo(), id, flags, params, result,
                                exception, argError);
        });
    }

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == TInterfaceIID ? S_OK : S_FALSE;
    }

    // IProvideClassInfo
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override {
        if (!info)
            return E_POINTER;
        *info = nullptr;
        return GuardResult(E_UNEXPECTED, [&] {
            *info = CoClassTypeInfo(TClassID).Detach();
            return S_OK;
        });
    }

protected:
    // Runs one automation method body: S_OK, or the failure result with the thread's error object set.
    template <typename F> HRESULT Automation(F&& work) noexcept {
        return GuardAutomation(ProgID(), TInterfaceIID, std::forward<F>(work));
    }
    static std::wstring ProgID() {
        try {
            Microsoft::WRL::ComPtr<ITypeInfo> info = CoClassTypeInfo(TClassID);
            TBStr name;
            OleCheck(info->GetDocumentation(MEMBERID_NIL, name.Receive(), nullptr, nullptr, nullptr));
            return ComServer().ServerName() + L"." + name.Str();
        } catch (...) {
            return std::wstring();
        }
    }

private:
    ITypeInfo* InvokeTypeInfo() {
        if (!DispatchInfo)
            DispatchInfo = DualInterfaceTypeInfo(TInterfaceIID);
        return DispatchInfo.Get();
    }

    volatile LONG RefCount = 0;
    Microsoft::WRL::ComPtr<ITypeInfo> DispatchInfo;
};

} // namespace zorbex
