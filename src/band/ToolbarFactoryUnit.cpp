// TKeptorToolbarFactory: the desk-band category and the toolbar list entry, written after (and removed
// with) the entries every class has. A write that fails skips only itself: a band the browser cannot
// list is still a registered class.
#include "band/ToolbarFactoryUnit.h"

#include "com/ComSupportUnit.h"
#include "com/RegistryUnit.h"

namespace zorbex {
namespace {

// The browser's desk-band component category.
constexpr wchar_t kDeskBandCategory[] = L"{00021492-0000-0000-C000-000000000046}";
constexpr wchar_t kToolbarListKey[] = L"SOFTWARE\\Microsoft\\Internet Explorer\\Toolbar";

} // namespace

TKeptorToolbarFactory::TKeptorToolbarFactory(const CLSID& clsid, const wchar_t* objectClassName,
                                             TObjectCreator creator, std::wstring bandDescription)
    : TComObjectFactory(clsid, objectClassName, creator), BandDescription(std::move(bandDescription)) {}

void TKeptorToolbarFactory::UpdateRegistration(bool doRegister) {
    TComObjectFactory::UpdateRegistration(doRegister);
    const std::wstring clsid = GuidToString(ClassID());
    const std::wstring classKey = L"CLSID\\" + clsid;
    const std::wstring category = kDeskBandCategory;
    if (doRegister) {
        if (TRegKey key = OpenOrCreateKey(HKEY_CLASSES_ROOT, classKey))
            SetStringValue(key.Get(), L"", BandDescription);
        if (TRegKey key = OpenOrCreateKey(HKEY_CLASSES_ROOT, classKey + L"\\InProcServer32"))
            SetStringValue(key.Get(), L"ThreadingModel", L"Apartment");
        OpenOrCreateKey(HKEY_CLASSES_ROOT, classKey + L"\\Implemented Categories\\" + category);
        if (TRegKey key = OpenOrCreateKey(HKEY_LOCAL_MACHINE, kToolbarListKey))
            SetStringValue(key.Get(), clsid, BandDescription);
    } else {
        // The category's cached list of its classes goes too, so that the browser reads it again.
        DeleteRegTree(HKEY_CLASSES_ROOT, L"Component Categories\\" + category + L"\\Enum");
        DeleteRegTree(HKEY_CLASSES_ROOT, classKey + L"\\Implemented Categories\\" + category);
        DeleteRegTree(HKEY_CLASSES_ROOT, classKey + L"\\InProcServer32");
        DeleteRegTree(HKEY_CLASSES_ROOT, classKey);
        if (TRegKey key = OpenKey(HKEY_LOCAL_MACHINE, kToolbarListKey, KEY_SET_VALUE))
            ::RegDeleteValueW(key.Get(), clsid.c_str());
    }
}

} // namespace zorbex
