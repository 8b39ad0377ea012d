// Two pieces of the C++ runtime made without the threads library: the guard of function-local statics
// (ComServer(), the class manager, the forms' one-time set-ups) and the per-thread state of exception
// handling. The runtime's own go through the threads library linked into the library, which takes a TLS
// slot on first use and gives it back at no unload, so each load of the library kept one slot more until
// the process had none left. Defined here, in the lowest layer, the linker takes these in place of the
// runtime's.
#include <windows.h>

#include <cxxabi.h>

#include "com/ThreadSlotUnit.h"

namespace {

// What the runtime keeps per thread while exceptions are in flight: its own layout of __cxa_eh_globals.
struct TExceptionGlobals {
    void* CaughtExceptions;
    unsigned int UncaughtExceptions;
};
zorbex::TThreadValues<TExceptionGlobals> ExceptionGlobals;
// Only when no memory is left for a thread's own: shared, as a last resort against a null pointer.
TExceptionGlobals OutOfMemoryGlobals{};

// The guard's first byte is what the compiler's inline check reads: non-zero once the static is made.
// Its second half says that a thread is making it.
volatile char* DoneByte(__cxxabiv1::__guard* guard) noexcept {
    return reinterpret_cast<volatile char*>(guard);
}

volatile LONG* BusyWord(__cxxabiv1::__guard* guard) noexcept {
    return reinterpret_cast<volatile LONG*>(reinterpret_cast<char*>(guard) + sizeof(LONG));
}

bool Done(__cxxabiv1::__guard* guard) noexcept {
    return __atomic_load_n(DoneByte(guard), __ATOMIC_ACQUIRE) != 0;
}

} // namespace

namespace __cxxabiv1 {

// 1: the caller makes the static and then releases (or aborts) the guard; 0: it is made already.
// Another thread making it is waited for; statics are made once per process, so the wait is short.
extern "C" int __cxa_guard_acquire(__guard* guard) {
    for (;;) {
        if (Done(guard))
            return 0;
        if (::InterlockedCompareExchange(BusyWord(guard), 1, 0) == 0) {
            if (!Done(guard))
                return 1;
            ::InterlockedExchange(BusyWord(guard), 0);
            return 0;
        }
        ::SwitchToThread();
    }
}

extern "C" void __cxa_guard_release(__guard* guard) noexcept {
    __atomic_store_n(DoneByte(guard), 1, __ATOMIC_RELEASE);
    ::InterlockedExchange(BusyWord(guard), 0);
}

extern "C" void __cxa_guard_abort(__guard* guard) noexcept {
    ::InterlockedExchange(BusyWord(guard), 0);
}

extern "C" __cxa_eh_globals* __cxa_get_globals() noexcept {
    TExceptionGlobals* globals = ExceptionGlobals.ThisThread();
    return reinterpret_cast<__cxa_eh_globals*>(globals ? globals : &OutOfMemoryGlobals);
}

extern "C" __cxa_eh_globals* __cxa_get_globals_fast() noexcept {
    return __cxa_get_globals();
}

} // namespace __cxxabiv1
