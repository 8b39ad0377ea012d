// TKeptorToolbarFactory.
#include "band/ToolbarFactoryUnit.h"

#include "com/ComSupportUnit.h"
#include "com/RegistryUnit.h"

namespace zorbex {
namespace {

constexpr wchar_t kCategoryCachePrefix[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Discardable\\PostSetup\\Component Categories\\";
constexpr wchar_t kToolbarListKey[] = L"SOFTWARE\\Microsoft\\Internet Explorer\\Toolbar";

} // namespace

TKeptorToolbarFactory::TKeptorToolbarFactory(const CLSID& clsid, const wchar_t* objectClassName,
                                             TObjectCreator creator, std::wstring bandDescription,
                                             std::wstring categoryID, bool registerToolbar,
                                             TInstancing instancing, TThreadingModel threading)
    : TComObjectFactory(clsid, objectClassName, creator, instancing, threading),
      Description_(std::move(bandDescription)), Category(std::move(categoryID)), Toolbar(registerToolbar) {}

void TKeptorToolbarFactory::UpdateRegistration(bool doRegister) {
    TComObjectFactory::UpdateRegistration(doRegister);
    const std::wstring clsid = GuidToString(ClassID());
    const std::wstring classKey = L"CLSID\\" + clsid;
    const bool deskBand = Category == kDeskBandCategory;
    if (doRegister) {
        if (!deskBand) {
            // The browser caches the explorer-bar categories per user.
            DeleteRegTree(HKEY_CURRENT_USER,
                          std::wstring(kCategoryCachePrefix) + L"{00021493-0000-0000-C000-000000000046}\\Enum");
            DeleteRegTree(HKEY_CURRENT_USER,
                          std::wstring(kCategoryCachePrefix) + L"{00021494-0000-0000-C000-000000000046}\\Enum");
        }
        // Each open that fails skips only its own write.
        if (TRegKey key = OpenOrCreateKey(HKEY_CLASSES_ROOT, classKey))
            SetStringValue(key.Get(), L"", Description_);
        if (TRegKey key = OpenOrCreateKey(HKEY_CLASSES_ROOT, classKey + L"\\InProcServer32"))
            SetStringValue(key.Get(), L"ThreadingModel", L"Apartment");
        OpenOrCreateKey(HKEY_CLASSES_ROOT, classKey + L"\\Implemented Categories\\" + Category);
        if (Toolbar)
            if (TRegKey key = OpenOrCreateKey(HKEY_LOCAL_MACHINE, kToolbarListKey))
                SetStringValue(key.Get(), clsid, Description_);
    } else {
        if (deskBand)
            DeleteRegTree(HKEY_CLASSES_ROOT, L"Component Categories\\" + Category + L"\\Enum");
        DeleteRegTree(HKEY_CLASSES_ROOT, classKey + L"\\Implemented Categories\\" + Category);
        DeleteRegTree(HKEY_CLASSES_ROOT, classKey + L"\\InProcServer32");
        DeleteRegTree(HKEY_CLASSES_ROOT, classKey);
        if (Toolbar)
            if (TRegKey key = OpenKey(HKEY_LOCAL_MACHINE, kToolbarListKey, KEY_SET_VALUE))
                ::RegDeleteValueW(key.Get(), clsid.c_str());
    }
}

} // namespace zorbex
