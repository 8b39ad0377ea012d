// Registry helpers for registration and settings. Keys are always owned (TRegKey); each helper says
// in its result, or for registration in its error, what went wrong, so that registration stops at its
// first failure while a setting falls back to its default.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "com/ComSupportUnit.h"

namespace zorbex {

// Creates (or opens) root\path and sets its value `name` (empty: the default value) to `data`.
// Raises "Error creating system registry entry" on failure.
void CreateRegKey(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& data);

// Opens or creates root\path with write access; an empty owner when that fails.
TRegKey OpenOrCreateKey(HKEY root, const std::wstring& path);
// Opens an existing key; an empty owner when it is missing or cannot be opened.
TRegKey OpenKey(HKEY root, const std::wstring& path, REGSAM access);

bool SetStringValue(HKEY key, const std::wstring& name, const std::wstring& data);
std::optional<std::wstring> ReadStringValue(HKEY root, const std::wstring& path, const std::wstring& name);

// Deletes root\path when it has no subkeys; a missing key or one with subkeys is left silently.
void DeleteRegKey(HKEY root, const std::wstring& path);
// Deletes root\path with all its subkeys; a missing key is not an error.
void DeleteRegTree(HKEY root, const std::wstring& path);

} // namespace zorbex
