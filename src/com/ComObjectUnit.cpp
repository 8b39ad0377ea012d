// The COM object base: the own IUnknown, the counts and the table lookup (see ComObjectUnit.h).
#include "com/ComObjectUnit.h"

#include "com/ComServerUnit.h"

namespace zorbex {

TComObjectCore::TComObjectCore(TModuleCount counting, std::span<const TInterfaceEntry> interfaces, IUnknown* outer)
    : Counting(counting), Interfaces(interfaces), Outer(outer) {
    if (Counting == TModuleCount::Object)
        ComServer().CountObject(true);
}

TComObjectCore::~TComObjectCore() {
    if (Counting == TModuleCount::Object)
        ComServer().CountObject(false);
}

HRESULT TComObjectCore::QueryOtherInterface(REFIID, void**) {
    return E_NOINTERFACE;
}

HRESULT TComObjectCore::QueryTable(std::span<const TInterfaceEntry> table, REFIID iid, void** object) {
    for (const TInterfaceEntry& entry : table)
        if (*entry.Iid == iid) {
            IUnknown* part = entry.Get(*this);
            part->AddRef(); // through the part: an aggregated object's references count on its outer object
            *object = part;
            return S_OK;
        }
    return E_NOINTERFACE;
}

STDMETHODIMP TComObjectCore::TOwnUnknown::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown) {
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT result = Object.QueryTable(Object.Interfaces, iid, object);
    return result == E_NOINTERFACE ? Object.QueryOtherInterface(iid, object) : result;
}

STDMETHODIMP_(ULONG) TComObjectCore::TOwnUnknown::AddRef() {
    if (Object.Counting == TModuleCount::References)
        ComServer().CountFactoryRef(true);
    return static_cast<ULONG>(::InterlockedIncrement(&Object.References));
}

STDMETHODIMP_(ULONG) TComObjectCore::TOwnUnknown::Release() {
    const LONG count = ::InterlockedDecrement(&Object.References);
    if (Object.Counting == TModuleCount::References)
        ComServer().CountFactoryRef(false);
    else if (count == 0)
        delete &Object;
    return static_cast<ULONG>(count);
}

} // namespace zorbex
