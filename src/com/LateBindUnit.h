// Late-bound access to automation objects (the HTML object model of a page): property get, property
// put and method call by member name through IDispatch; a failing call raises an error.
//
// A name becomes a dispatch identifier through GetIDsOfNames, which in a real browser costs about a
// microsecond: on a page of 100,000 links, looking every name up on every element costs more than the
// walk itself. So the page functions keep a TMemberIds for each kind of object they read (the A elements
// of a walk, the collections, the styles ...): a name is looked up on the first object of the kind and
// its identifier reused for the others. An object that refuses the identifier (DISP_E_MEMBERNOTFOUND:
// its members have other identifiers) gets the name looked up on itself and the call repeated with its
// own identifier, which then replaces the cached one; a page whose objects answer different identifiers
// is still read correctly, at the price of the lookups. The free functions look the name up every time,
// for calls made once.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "com/ComSupportUnit.h"

namespace zorbex {

// The dispatch identifiers of member names for one kind of object (see above). Names are kept as given
// (the lookup itself ignores case).
class TMemberIds {
public:
    TVariant Get(IDispatch* object, const wchar_t* name);
    void Put(IDispatch* object, const wchar_t* name, const VARIANT& value);
    // A method call with its arguments given first to last.
    TVariant Call(IDispatch* object, const wchar_t* name, std::initializer_list<const VARIANT*> args = {});

    Microsoft::WRL::ComPtr<IDispatch> GetObject(IDispatch* object, const wchar_t* name);
    std::wstring GetString(IDispatch* object, const wchar_t* name);
    long GetInteger(IDispatch* object, const wchar_t* name);

private:
    TVariant Invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT>& reversedArgs,
                    DISPID* named, UINT namedCount);

    std::vector<std::pair<std::wstring, DISPID>> Ids;
};

// Reads a property.
TVariant GetProperty(IDispatch* object, const wchar_t* name);
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

} // namespace zorbex
