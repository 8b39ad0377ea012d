// Points one import of a loaded module at another function for as long as it lives: the tests make the
// library's allocations fail through its imports of the C runtime's allocator. Free of any test framework.
#pragma once

#include <windows.h>

namespace zorbex::test {

class TImportPatch {
public:
    // `dll` and `function` as the module imports them ("msvcrt.dll", "malloc"); Applied() says whether the
    // module imports it.
    TImportPatch(HMODULE module, const char* dll, const char* function, void* replacement);
    TImportPatch(const TImportPatch&) = delete;
    TImportPatch& operator=(const TImportPatch&) = delete;
    ~TImportPatch();

    bool Applied() const { return Slot != nullptr; }

private:
    void** Slot = nullptr;
    void* Saved = nullptr;
};

} // namespace zorbex::test
