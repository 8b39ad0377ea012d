// FormatText: "%s" places filled in order, each argument inserted as it stands.
#include "com/FormatUnit.h"

namespace zorbex {

std::wstring FormatText(const wchar_t* pattern, std::initializer_list<std::wstring> arguments) {
    std::wstring text(pattern ? pattern : L"");
    size_t from = 0;
    for (const std::wstring& argument : arguments) {
        const size_t at = text.find(L"%s", from);
        if (at == std::wstring::npos)
            break;
        text.replace(at, 2, argument);
        from = at + argument.size();
    }
    return text;
}

std::wstring HexText(uint64_t value, int digits) {
    std::wstring text;
    do {
        text.insert(text.begin(), L"0123456789ABCDEF"[value & 0xF]);
        value >>= 4;
    } while (value);
    if (static_cast<int>(text.size()) < digits)
        text.insert(0, static_cast<size_t>(digits) - text.size(), L'0');
    return text;
}

std::wstring DecimalText(int64_t value) {
    return std::to_wstring(value);
}

} // namespace zorbex
