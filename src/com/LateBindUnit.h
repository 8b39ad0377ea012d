// Late-bound access to automation objects (the HTML object model of a page): property get,
// property put and method call by member name through IDispatch. Names are resolved with
// GetIDsOfNames, which matches them without regard to case; a failing call raises an error.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <initializer_list>
#include <string>

#include "com/ComSupportUnit.h"

namespace zorbex {

// Reads a property.
TVariant GetProperty(IDispatch* object, const wchar_t* name);
// Writes a property.
void PutProperty(IDispatch* object, const wchar_t* name, const VARIANT& value);
// Calls a method with its arguments given first to last.
TVariant CallMethod(IDispatch* object, const wchar_t* name, std::initializer_list<const VARIANT*> args = {});

// Conversions of results. AsDispatch gives null for an empty variant or a null object; the others raise
// when the value cannot be converted.
Microsoft::WRL::ComPtr<IDispatch> AsDispatch(const VARIANT& value);
std::wstring AsString(const VARIANT& value);
long AsInteger(const VARIANT& value);
bool AsBoolean(const VARIANT& value);

// Shorthands for the common reads.
inline Microsoft::WRL::ComPtr<IDispatch> GetObjectProperty(IDispatch* object, const wchar_t* name) {
    return AsDispatch(GetProperty(object, name).Get());
}
inline std::wstring GetStringProperty(IDispatch* object, const wchar_t* name) {
    return AsString(GetProperty(object, name).Get());
}
inline long GetIntegerProperty(IDispatch* object, const wchar_t* name) {
    return AsInteger(GetProperty(object, name).Get());
}

} // namespace zorbex
