// The base of the library's automation objects: a COM object (see ComObjectUnit.h) whose dual
// interface is served by IDispatch from this module's embedded type library, with ISupportErrorInfo
// and IProvideClassInfo. It is a template over the interface and the co-class so that each object
// class only writes its methods; every method body runs through Automation, which turns an error into
// the error's code and the thread's COM error object, as automation callers expect.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <span>
#include <string>
#include <utility>

#include "com/ComObjectUnit.h"
#include "com/ComServerUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"

namespace zorbex {

// The vtable-side type information of a dual interface (for DispInvoke), from this module's type library.
Microsoft::WRL::ComPtr<ITypeInfo> DualInterfaceTypeInfo(const IID& iid);
Microsoft::WRL::ComPtr<ITypeInfo> CoClassTypeInfo(const CLSID& clsid);

// TInterface is the object's dual interface, TInterfaceIID its IID, TClassID its co-class.
template <typename TInterface, const IID& TInterfaceIID, const CLSID& TClassID>
class TAutoObject : public TComObject<TInterface, ISupportErrorInfo, IProvideClassInfo> {
    using TBase = TComObject<TInterface, ISupportErrorInfo, IProvideClassInfo>;

public:
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
        return ResultOr(E_UNEXPECTED, [&] {
            Microsoft::WRL::ComPtr<ITypeInfo> typeInfo;
            OleCheck(ComServer().TypeLib()->GetTypeInfoOfGuid(TInterfaceIID, &typeInfo));
            *info = typeInfo.Detach();
        });
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return ResultOr(E_UNEXPECTED, [&] { return ::DispGetIDsOfNames(InvokeTypeInfo(), names, count, ids); });
    }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override {
        if (iid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        return ResultOr(E_UNEXPECTED, [&] {
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
        return ResultOr(E_UNEXPECTED, [&] { *info = CoClassTypeInfo(TClassID).Detach(); });
    }

protected:
    // outer: the controlling IUnknown when the object is made aggregated, else null.
    explicit TAutoObject(IUnknown* outer) : TBase(TModuleCount::Object, Interfaces(), outer) {}

    // Runs one automation method body: its result, or the error's code with the thread's error object set.
    template <typename F> HRESULT Automation(F&& work) noexcept {
        return AutomationResult(ProgID(), TInterfaceIID, std::forward<F>(work));
    }
    // "ZorbexGUI.<co-class>", or empty when the type library cannot say.
    static std::wstring ProgID() noexcept {
        std::wstring progId;
        Guarded([&] {
            Microsoft::WRL::ComPtr<ITypeInfo> info = CoClassTypeInfo(TClassID);
            TBStr name;
            OleCheck(info->GetDocumentation(MEMBERID_NIL, name.Receive(), nullptr, nullptr, nullptr));
            progId = ComServer().ServerName() + L"." + name.Str();
        });
        return progId;
    }

private:
    static std::span<const TInterfaceEntry> Interfaces() {
        static const TInterfaceEntry table[] = {
            InterfaceEntry<TAutoObject, IDispatch, TInterface>(IID_IDispatch),
            InterfaceEntry<TAutoObject, TInterface>(TInterfaceIID),
            InterfaceEntry<TAutoObject, ISupportErrorInfo>(IID_ISupportErrorInfo),
            InterfaceEntry<TAutoObject, IProvideClassInfo>(IID_IProvideClassInfo),
        };
        return table;
    }

    ITypeInfo* InvokeTypeInfo() {
        if (!DispatchInfo)
            DispatchInfo = DualInterfaceTypeInfo(TInterfaceIID);
        return DispatchInfo.Get();
    }

    Microsoft::WRL::ComPtr<ITypeInfo> DispatchInfo;
};

} // namespace zorbex
