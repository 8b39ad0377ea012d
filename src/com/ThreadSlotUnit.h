// A value per thread kept in a Win32 TLS slot that the module holds from load to unload. The compiler's
// thread_local goes through the threads library linked into the library, which takes a slot of its
// own on first use and gives it back at no unload: every load of the library would keep one more.
#pragma once

#include <windows.h>

namespace zorbex {

template <class T>
class TThreadPointer {
public:
    TThreadPointer() noexcept : Index(::TlsAlloc()) {}
    ~TThreadPointer() {
        if (Index != TLS_OUT_OF_INDEXES)
            ::TlsFree(Index);
    }
    TThreadPointer(const TThreadPointer&) = delete;
    TThreadPointer& operator=(const TThreadPointer&) = delete;

    // This thread's pointer; null until set. The thread's last error is left as it was.
    T* Get() const noexcept {
        if (Index == TLS_OUT_OF_INDEXES)
            return nullptr;
        const DWORD lastError = ::GetLastError();
        T* value = static_cast<T*>(::TlsGetValue(Index));
        ::SetLastError(lastError);
        return value;
    }
    // False when the process had no slot left for this one.
    bool Set(T* value) noexcept { return Index != TLS_OUT_OF_INDEXES && ::TlsSetValue(Index, value); }

private:
    DWORD Index;
};

} // namespace zorbex
