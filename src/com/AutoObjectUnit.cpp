// Type information lookups of the automation-object base, out of the template: the dispatch view of a
// dual interface leads to its vtable view, which DispInvoke needs.
#include "com/AutoObjectUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex {

ComPtr<ITypeInfo> DualInterfaceTypeInfo(const IID& iid) {
    ComPtr<ITypeInfo> info;
    OleCheck(ComServer().TypeLib()->GetTypeInfoOfGuid(iid, &info));
    TYPEATTR* attr = nullptr;
    OleCheck(info->GetTypeAttr(&attr));
    bool dualDispatch = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(attr);
    if (dualDispatch) {
        // The dispatch view of a dual interface; DispInvoke needs its vtable view.
        HREFTYPE ref = 0;
        OleCheck(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
        ComPtr<ITypeInfo> vtableInfo;
        OleCheck(info->GetRefTypeInfo(ref, &vtableInfo));
        return vtableInfo;
    }
    return info;
}

ComPtr<ITypeInfo> CoClassTypeInfo(const CLSID& clsid) {
    ComPtr<ITypeInfo> info;
    OleCheck(ComServer().TypeLib()->GetTypeInfoOfGuid(clsid, &info));
    return info;
}

} // namespace zorbex
