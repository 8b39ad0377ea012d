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

} // namespace zorbex
