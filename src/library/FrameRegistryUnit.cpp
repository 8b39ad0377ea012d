// The 32-bit DLL only: the unwinder's registry of the module's frames without the handle it kept.
//
// At load, the runtime's start-up registers the module's unwind tables with the unwinder (32-bit code
// unwinds by DWARF tables that must be registered; 64-bit code by the system's). The first registration
// makes the registry's lock, a semaphore, which nothing ever closes: each load of the library kept one
// handle. The DLL links a copy of the registry (CMakeLists.txt) in which two names are changed: its import
// of CreateSemaphoreW, which comes here, and its deregistration, which the runtime's unload calls through
// __deregister_frame_info below. Once the module's frames are deregistered the registry is done with, and
// its semaphore is closed.
#include <windows.h>

#include <utility>

namespace {

HANDLE RegistrySemaphore = nullptr;

// The registry makes one semaphore, on its first registration, under the loader lock.
HANDLE WINAPI CreateRegistrySemaphore(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum,
                                      LPCWSTR name) {
    HANDLE semaphore = ::CreateSemaphoreW(attributes, initial, maximum, name);
    if (!RegistrySemaphore)
        RegistrySemaphore = semaphore;
    return semaphore;
}

} // namespace

extern "C" {

// The registry's import of CreateSemaphoreW, as its renamed import slot.
using TCreateSemaphore = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR);
extern const TCreateSemaphore RegistryCreateSemaphoreImport __asm__("__imp__zorbex_unwinder_CreateSemaphoreW@16");
__attribute__((used)) const TCreateSemaphore RegistryCreateSemaphoreImport = &CreateRegistrySemaphore;

// The registry's own deregistration, renamed.
void* zorbex_unwinder_deregister_frame_info(const void* begin);

// What the runtime's unload calls: the registry's deregistration, then its semaphore closed.
void* __deregister_frame_info(const void* begin) {
    void* object = zorbex_unwinder_deregister_frame_info(begin);
    if (HANDLE semaphore = std::exchange(RegistrySemaphore, nullptr))
        ::CloseHandle(semaphore);
    return object;
}

} // extern "C"
