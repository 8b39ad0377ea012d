// TImportPatch: the module's import descriptors walked for the named function's slot.
#include "support/ImportPatchUnit.h"

#include <cstring>

namespace zorbex::test {

namespace {

void WriteSlot(void** slot, void* value) {
    DWORD protection = 0;
    if (!::VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection))
        return;
    *slot = value;
    ::VirtualProtect(slot, sizeof(void*), protection, &protection);
}

} // namespace

TImportPatch::TImportPatch(HMODULE module, const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    if (!base)
        return;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress)
        return;
    for (auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         import->Name; ++import) {
        if (::lstrcmpiA(reinterpret_cast<const char*>(base + import->Name), dll) != 0 || !import->OriginalFirstThunk)
            continue;
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            Slot = reinterpret_cast<void**>(&slots->u1.Function);
            Saved = *Slot;
            WriteSlot(Slot, replacement);
            return;
        }
    }
}

TImportPatch::~TImportPatch() {
    if (Slot)
        WriteSlot(Slot, Saved);
}

} // namespace zorbex::test
