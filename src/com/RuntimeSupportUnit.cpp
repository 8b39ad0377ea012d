// Two pieces of the C++ runtime made again for a library that is loaded and unloaded all day: the guard of
// function-local statics (ComServer(), the class manager, the forms' one-time set-ups) and the per-thread
// state of exception handling. The runtime's own keep their state where the module cannot give it back:
// the guard behind a lock made on first use, the exception state in an emulated thread-local that takes a
// TLS slot. These are linked into the library as objects of their own (not from an archive), so the linker
// takes them before the runtime's whatever the order of the link; tests/check_dll.sh checks in the link
// map of each DLL that it did.
#include "com/RuntimeSupportUnit.h"

#include <windows.h>

#include <cxxabi.h>

#include "com/ThreadSlotUnit.h"

namespace __gnu_cxx {
// The runtime's release of its emergency exception memory (libstdc++'s eh_alloc.cc).
void __freeres() noexcept;
} // namespace __gnu_cxx

namespace {

// What the runtime keeps per thread while exceptions are in flight: its own layout of __cxa_eh_globals.
struct TExceptionGlobals {
    void* CaughtExceptions;
    unsigned int UncaughtExceptions;
};
// A thread's state comes from the process heap, never from operator new: a failing operator new raises
// std::bad_alloc, whose raising asks for this state again. When the heap cannot give it, one of the
// reserve is the thread's until it ends.
constexpr size_t kReservedThreadStates = 64;
constinit zorbex::TThreadValues<TExceptionGlobals, kReservedThreadStates> ExceptionGlobals;
// Only when the slot is gone (during the unload) or the heap and the whole reserve are exhausted at once:
// shared, as the last resort against a null pointer.
constinit TExceptionGlobals LastResortGlobals{};

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

namespace zorbex {

bool ReserveRuntimeState() noexcept {
    return ExceptionGlobals.ReserveSlot();
}

void ReleaseRuntimeState() noexcept {
    __gnu_cxx::__freeres();
}

} // namespace zorbex

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
    return reinterpret_cast<__cxa_eh_globals*>(globals ? globals : &LastResortGlobals);
}

extern "C" __cxa_eh_globals* __cxa_get_globals_fast() noexcept {
    return __cxa_get_globals();
}

} // namespace __cxxabiv1
