// The variants, strings and arrays of the reference Keptor server's calls: what the server answers with
// and how it reads and records what it receives.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "com/ComSupportUnit.h"

namespace zorbex::keptor {

// A VT_ARRAY | VT_UI1 variant holding the bytes.
TVariant MakeByteArray(const std::vector<BYTE>& bytes);
// The strings of a one-dimensional array of variants or of BSTRs; empty for anything else.
std::vector<std::wstring> VariantStrings(const VARIANT& value);
// A variant rendered for the call log: 42, true, "text", [1, 2], bytes(120), empty, object, nil.
std::wstring RenderVariant(const VARIANT& value);

// What the server's own units share.
namespace detail {

std::wstring Str(BSTR text);
VARIANT_BOOL Flag(bool value);
BSTR NewBStr(const std::wstring& text);
// Element VARTYPE of an array variant's array; VT_EMPTY when there is none.
VARTYPE ElementType(SAFEARRAY* array);
const VARIANT& Deref(const VARIANT& value);
SAFEARRAY* ArrayOf(const VARIANT& value);
std::vector<BYTE> BytesOf(const VARIANT& data);
// A variant array's elements as variants, in index order.
std::vector<TVariant> VariantElements(const VARIANT& value);
// Whether a value has the form the library sends lists in: VT_ARRAY | VT_VARIANT, one dimension, bounds
// 0 to N-1, every element a VT_BSTR variant. count receives N when it does.
bool WellFormedList(const VARIANT& value, size_t& count);
TVariant StringArray(const std::vector<std::wstring>& strings);
// The arguments of OnDocumentDataChange in rgvarg order (the last argument first).
std::vector<TVariant> DocumentDataArgs(long id, VARIANT_BOOL present, const std::wstring& comments, long status,
                                       long rating);

} // namespace detail
} // namespace zorbex::keptor
