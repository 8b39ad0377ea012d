// Toolbar settings: the names of the settings key and its values come from the string table, so that
// the product and maker names stand in one place; every read goes to the registry.
#include "server/BHOMngUnit.h"

#include "com/ComServerUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"
#include "ResourceIds.h"

namespace zorbex {
namespace {

// A setting of the settings key, read with the value name from the string table.
// Out of memory while building the names: the setting reads as off.
bool ReadNamedSetting(UINT nameId) noexcept {
    bool value = false;
    Guarded([&] { value = ReadSetting(HKEY_CURRENT_USER, SettingsKeyPath(), LoadResString(nameId), true); });
    return value;
}

} // namespace

const std::wstring& SettingsKeyPath() {
    static const std::wstring path = L"Software\\" + LoadResString(IDS_MAKER_NAME) + L"\\" +
                                     LoadResString(IDS_PRODUCT_NAME) + L"\\Settings";
    return path;
}

bool ReadSetting(HKEY root, const std::wstring& key, const std::wstring& name, bool defaultValue) noexcept {
    TRegKey settings;
    if (::RegCreateKeyExW(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, settings.Receive(),
                          nullptr) != ERROR_SUCCESS)
        return false;

    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof(value);
    LSTATUS status = ::RegQueryValueExW(settings.Get(), name.c_str(), nullptr, &type,
                                        reinterpret_cast<BYTE*>(&value), &size);
    if (status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value))
        return value != 0;

    // Missing, of another type or of another size (ERROR_MORE_DATA): store the default.
    const DWORD stored = defaultValue ? 1 : 0;
    if (::RegSetValueExW(settings.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stored),
                         sizeof(stored)) != ERROR_SUCCESS)
        return false;
    return defaultValue;
}

bool TKeptorBHO::IsEnabled() const noexcept {
    return ReadNamedSetting(IDS_SETTING_ENABLED);
}

bool TKeptorBHO::IsBannerKillerEnabled() const noexcept {
    return ReadNamedSetting(IDS_SETTING_BANNER_KILLER);
}

bool TKeptorBHO::IsPopupKillerEnabled() const noexcept {
    return ReadNamedSetting(IDS_SETTING_POPUP_KILLER);
}

bool TKeptorBHO::IsHighlightEnabled() const noexcept {
    return ReadNamedSetting(IDS_SETTING_HIGHLIGHT);
}

bool TKeptorBHO::IsLinkHintEnabled() const noexcept {
    return ReadNamedSetting(IDS_SETTING_LINK_HINT);
}

TKeptorBHO& KeptorBHO() {
    static TKeptorBHO instance;
    return instance;
}

} // namespace zorbex
