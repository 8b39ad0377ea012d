// Toolbar settings: the five per-user switches of the toolbar and the browser helper object, read
// afresh from the product's settings key on every use.
#pragma once

#include <windows.h>

#include <string>

namespace zorbex {

// "Software\<maker>\<product>\Settings" (under HKEY_CURRENT_USER), joined from the string resources on
// first use and kept until the library is unloaded.
const std::wstring& SettingsKeyPath();

// Reads the REG_DWORD `name` of root\key as a flag (non-zero: true). The key is created when it is
// missing; a missing value, or one of another type, is replaced by `defaultValue` (stored as 1 or 0),
// which is then the result. False when the key cannot be opened or the default cannot be stored.
bool ReadSetting(HKEY root, const std::wstring& key, const std::wstring& name, bool defaultValue) noexcept;

// The settings as the toolbar sees them. It keeps no state: every call reads the registry.
class TKeptorBHO {
public:
    bool IsEnabled() const noexcept;
    bool IsBannerKillerEnabled() const noexcept;
    bool IsPopupKillerEnabled() const noexcept;
    bool IsHighlightEnabled() const noexcept;
    bool IsLinkHintEnabled() const noexcept;
};

// The library's shared instance (created on first use, freed when the library is unloaded).
TKeptorBHO& KeptorBHO();

} // namespace zorbex
