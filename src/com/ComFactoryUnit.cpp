// Class factories: creation (with aggregation), the registry entries every class has, and the
// library-level registration passes.
#include "com/ComFactoryUnit.h"

#include "com/ComServerUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"
#include "com/FormatUnit.h"
#include "com/RegistryUnit.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <cwchar>

using Microsoft::WRL::ComPtr;

namespace zorbex {
namespace {

void ShowErrorMessageBox(const std::wstring& message) {
    ::MessageBoxW(nullptr, message.c_str(), L"VOZ Error", MB_OK | MB_ICONSTOP);
}

TErrorBoxProc ErrorBox = ShowErrorMessageBox;

const TInterfaceEntry kFactoryInterfaces[] = {InterfaceEntry<TComObjectFactory, IClassFactory>(IID_IClassFactory)};

// Class name and help string of the co-class with this CLSID in the module's type library.
void ReadCoClass(const CLSID& clsid, const std::wstring& objectClass, std::wstring& name, std::wstring& description) {
    ComPtr<ITypeInfo> info;
    if (FAILED(ComServer().TypeLib()->GetTypeInfoOfGuid(clsid, &info)))
        RaiseError(FormatText(L"Type information missing for class %s", {objectClass}));
    TBStr nameText, docText;
    OleCheck(info->GetDocumentation(MEMBERID_NIL, nameText.Receive(), docText.Receive(), nullptr, nullptr));
    name = nameText.Str();
    description = docText.Str();
}

TLIBATTR LibraryAttributes(ITypeLib* library) {
    TLIBATTR* attr = nullptr;
    OleCheck(library->GetLibAttr(&attr));
    const TLIBATTR result = *attr;
    library->ReleaseTLibAttr(attr);
    return result;
}

} // namespace

std::wstring ShortPathIfSpaced(const std::wstring& path) {
    return path.find(L' ') == std::wstring::npos ? path : ConvertedPath(path, &::GetShortPathNameW);
}

void SetCreateErrorBox(TErrorBoxProc proc) {
    ErrorBox = proc ? proc : ShowErrorMessageBox;
}

void ShowErrorBox(const std::wstring& message) {
    std::wstring sentence = message;
    if (!sentence.empty() && sentence.back() > L'.')
        sentence += L'.';
    ErrorBox(sentence);
}

TComObjectFactory::TComObjectFactory(const CLSID& clsid, const wchar_t* objectClassName, TObjectCreator creator)
    : TComObject(TModuleCount::References, kFactoryInterfaces, nullptr), Clsid(clsid), ObjectClass(objectClassName),
      Creator(creator) {
    ReadCoClass(clsid, ObjectClass, CoClassName, CoClassDescription);
}

STDMETHODIMP TComObjectFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    // An aggregated object is handed to its outer object as its own IUnknown, never as another interface.
    if (outer && iid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;
    IUnknown* instance = nullptr;
    const HRESULT created = ResultOr(E_UNEXPECTED, [&] { instance = Creator(outer); }, &ShowErrorBox);
    if (FAILED(created))
        return created;
    if (!instance)
        return E_OUTOFMEMORY;
    const HRESULT result = instance->QueryInterface(iid, object);
    instance->Release(); // destroys the object when the query failed
    return result;
}

STDMETHODIMP TComObjectFactory::LockServer(BOOL lock) {
    ComServer().CountObject(lock != FALSE);
    return S_OK;
}

std::wstring TComObjectFactory::ProgID() const {
    return ComServer().ServerName() + L"." + CoClassName;
}

void TComObjectFactory::UpdateRegistration(bool doRegister) {
    const std::wstring clsid = GuidToString(Clsid);
    const std::wstring classKey = L"CLSID\\" + clsid;
    const std::wstring progId = ProgID();
    if (doRegister) {
        TComServer& server = ComServer();
        CreateRegKey(HKEY_CLASSES_ROOT, classKey, L"", CoClassDescription);
        CreateRegKey(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", L"",
                     ShortPathIfSpaced(server.ModuleFileName()));
        CreateRegKey(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
        CreateRegKey(HKEY_CLASSES_ROOT, progId, L"", CoClassDescription);
        CreateRegKey(HKEY_CLASSES_ROOT, progId + L"\\Clsid", L"", clsid);
        CreateRegKey(HKEY_CLASSES_ROOT, classKey + L"\\ProgID", L"", progId);
        TLIBATTR lib = LibraryAttributes(server.TypeLib());
        const std::wstring version = DecimalText(lib.wMajorVerNum) + L"." + DecimalText(lib.wMinorVerNum);
        CreateRegKey(HKEY_CLASSES_ROOT, classKey + L"\\Version", L"", version);
        CreateRegKey(HKEY_CLASSES_ROOT, classKey + L"\\TypeLib", L"", GuidToString(lib.guid));
    } else {
        DeleteRegKey(HKEY_CLASSES_ROOT, classKey + L"\\TypeLib");
        DeleteRegKey(HKEY_CLASSES_ROOT, classKey + L"\\Version");
        DeleteRegKey(HKEY_CLASSES_ROOT, classKey + L"\\ProgID");
        DeleteRegKey(HKEY_CLASSES_ROOT, progId + L"\\Clsid");
        DeleteRegKey(HKEY_CLASSES_ROOT, progId);
        DeleteRegKey(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32");
        DeleteRegKey(HKEY_CLASSES_ROOT, classKey);
    }
}

TAutoObjectFactory::TAutoObjectFactory(const CLSID& clsid, const wchar_t* objectClassName, TObjectCreator creator,
                                       const IID& implementedDispatch)
    : TComObjectFactory(clsid, objectClassName, creator) {
    // The co-class's default interface must be a dispatch interface that the object class implements.
    ComPtr<ITypeInfo> coClass;
    OleCheck(ComServer().TypeLib()->GetTypeInfoOfGuid(clsid, &coClass));
    TYPEATTR* attr = nullptr;
    OleCheck(coClass->GetTypeAttr(&attr));
    const WORD implCount = attr->cImplTypes;
    coClass->ReleaseTypeAttr(attr);
    IID dispatchIID{};
    bool found = false;
    for (UINT i = 0; i < implCount && !found; ++i) {
        INT flags = 0;
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> implInfo;
        if (FAILED(coClass->GetImplTypeFlags(i, &flags)) || !(flags & IMPLTYPEFLAG_FDEFAULT) ||
            (flags & IMPLTYPEFLAG_FSOURCE) || FAILED(coClass->GetRefTypeOfImplType(i, &ref)) ||
            FAILED(coClass->GetRefTypeInfo(ref, &implInfo)))
            continue;
        TYPEATTR* implAttr = nullptr;
        if (FAILED(implInfo->GetTypeAttr(&implAttr)))
            continue;
        if (implAttr->typekind == TKIND_DISPATCH || (implAttr->wTypeFlags & TYPEFLAG_FDUAL)) {
            dispatchIID = implAttr->guid;
            found = true;
        }
        implInfo->ReleaseTypeAttr(implAttr);
    }
    if (!found)
        RaiseError(FormatText(L"Incorrect type information for class %s", {ObjectClassName()}));
    if (dispatchIID != implementedDispatch)
        RaiseError(FormatText(L"Dispatch interface missing from class %s", {ObjectClassName()}));
}

TComObjectFactory* TComClassManager::Find(const CLSID& clsid) const {
    for (const auto& factory : Factories)
        if (factory->ClassID() == clsid)
            return factory.get();
    return nullptr;
}

TComClassManager& ComClassManager() {
    static TComClassManager manager;
    return manager;
}

HRESULT RegisterServer(bool doRegister) noexcept {
    return ResultOr(E_FAIL, [doRegister] {
        TComServer& server = ComServer();
        ITypeLib* library = server.TypeLib();
        if (doRegister) {
            std::wstring path = server.ModuleFileName();
            std::wstring directory = path.substr(0, path.find_last_of(L'\\'));
            OleCheck(::RegisterTypeLib(library, path.data(), directory.data()));
        } else {
            TLIBATTR lib = LibraryAttributes(library);
            // The library's own syskind: SYS_WIN32 in the 32-bit build, SYS_WIN64 in the 64-bit one, as
            // RegisterTypeLib wrote it (the win32 or win64 key).
            ::UnRegisterTypeLib(lib.guid, lib.wMajorVerNum, lib.wMinorVerNum, lib.lcid, lib.syskind);
        }
        for (const auto& factory : ComClassManager().All())
            factory->UpdateRegistration(doRegister);
    });
}

} // namespace zorbex
