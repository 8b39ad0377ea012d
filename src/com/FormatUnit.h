// FormatText: the library's one formatter of messages. Messages of the library (and the texts its type
// library and resources carry) mark the places of their arguments with "%s"; this fills them in order.
// Only "%s" is known: a message never formats numbers, and nothing else of printf's syntax can reach
// the text by way of an argument (arguments are inserted as they stand, never scanned again).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace zorbex {

// The pattern with each "%s", first to last, replaced by the next argument; "%s" places past the last
// argument stay as they are, arguments past the last "%s" are ignored.
std::wstring FormatText(const wchar_t* pattern, std::initializer_list<std::wstring> arguments);

// Numbers, for the arguments: upper-case hexadecimal of at least `digits` digits (zeros in front), and
// decimal.
std::wstring HexText(uint64_t value, int digits);
std::wstring DecimalText(int64_t value);

} // namespace zorbex
