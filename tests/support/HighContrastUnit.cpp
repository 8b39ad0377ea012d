// The high-contrast black theme of tests and pictures.
#include "support/HighContrastUnit.h"

namespace zorbex::test {
namespace {

// The system colours of a high-contrast black scheme, in the order of kElements.
constexpr COLORREF kColors[] = {RGB(0, 0, 0),       RGB(255, 255, 255), RGB(0, 0, 0),       RGB(255, 255, 255),
                                RGB(26, 235, 255),  RGB(0, 0, 0),       RGB(63, 242, 63),   RGB(0, 0, 0),
                                RGB(255, 255, 255), RGB(255, 255, 255), RGB(128, 128, 128), RGB(255, 255, 255)};

BOOL WINAPI HighContrastParameters(UINT action, UINT param, void* value, UINT winIni) {
    if (action == SPI_GETHIGHCONTRAST && value) {
        auto* contrast = static_cast<HIGHCONTRASTW*>(value);
        contrast->dwFlags = HCF_HIGHCONTRASTON | HCF_AVAILABLE;
        contrast->lpszDefaultScheme = nullptr;
        return TRUE;
    }
    return ::SystemParametersInfoW(action, param, value, winIni);
}

} // namespace

THighContrast::THighContrast(HMODULE module)
    : Patch(module, "user32.dll", "SystemParametersInfoW", reinterpret_cast<void*>(&HighContrastParameters)) {
    static_assert(std::size(kColors) == std::size(kElements));
    for (size_t i = 0; i < std::size(kElements); ++i)
        Saved[i] = ::GetSysColor(kElements[i]);
    ::SetSysColors(static_cast<int>(std::size(kElements)), kElements, kColors);
}

THighContrast::~THighContrast() {
    ::SetSysColors(static_cast<int>(std::size(kElements)), kElements, Saved);
}

} // namespace zorbex::test
