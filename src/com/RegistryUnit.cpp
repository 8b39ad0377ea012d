// Registry helpers: thin wrappers of the registry API around owned keys.
#include "com/RegistryUnit.h"

#include "com/ErrorsUnit.h"

#include <shlwapi.h>

namespace zorbex {

TRegKey OpenOrCreateKey(HKEY root, const std::wstring& path) {
    TRegKey key;
    if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                          key.Receive(), nullptr) != ERROR_SUCCESS)
        (void)key.Release(); // nothing was opened
    return key;
}

TRegKey OpenKey(HKEY root, const std::wstring& path, REGSAM access) {
    TRegKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, access, key.Receive()) != ERROR_SUCCESS)
        (void)key.Release();
    return key;
}

bool SetStringValue(HKEY key, const std::wstring& name, const std::wstring& data) {
    return ::RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void CreateRegKey(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& data) {
    TRegKey key = OpenOrCreateKey(root, path);
    if (!key || !SetStringValue(key.Get(), name, data))
        RaiseError(L"Error creating system registry entry");
}

std::optional<std::wstring> ReadStringValue(HKEY root, const std::wstring& path, const std::wstring& name) {
    TRegKey key = OpenKey(root, path, KEY_READ);
    if (!key)
        return std::nullopt;
    DWORD type = 0, size = 0;
    const wchar_t* valueName = name.empty() ? nullptr : name.c_str();
    if (::RegQueryValueExW(key.Get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    data.resize(wcsnlen(data.c_str(), data.size()));
    return data;
}

void DeleteRegKey(HKEY root, const std::wstring& path) {
    ::RegDeleteKeyW(root, path.c_str());
}

void DeleteRegTree(HKEY root, const std::wstring& path) {
    ::SHDeleteKeyW(root, path.c_str());
}

} // namespace zorbex
