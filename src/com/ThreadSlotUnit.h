// Values per thread kept in Win32 TLS slots that the module gives back at unload. The compiler's
// thread_local goes through the threads library linked into the library, which takes a slot of its own
// on first use and gives it back at no unload: every load of the library would keep one more.
#pragma once

#include <windows.h>

#include <atomic>
#include <new>
#include <utility>

namespace zorbex {

// A pointer per thread. The slot is taken on first use, so the object works from the first instant
// of the load, before any constructor of the library has run.
template <class T>
class TThreadPointer {
public:
    constexpr TThreadPointer() noexcept = default;
    ~TThreadPointer() {
        if (const DWORD index = Index.exchange(TLS_OUT_OF_INDEXES); index != TLS_OUT_OF_INDEXES)
            ::TlsFree(index);
    }
    TThreadPointer(const TThreadPointer&) = delete;
    TThreadPointer& operator=(const TThreadPointer&) = delete;

    // This thread's pointer; null until set. The thread's last error is left as it was.
    T* Get() const noexcept {
        const DWORD index = Slot();
        if (index == TLS_OUT_OF_INDEXES)
            return nullptr;
        const DWORD lastError = ::GetLastError();
        T* value = static_cast<T*>(::TlsGetValue(index));
        ::SetLastError(lastError);
        return value;
    }
    // False when the process had no slot left for this one.
    bool Set(T* value) noexcept {
        const DWORD index = Slot();
        return index != TLS_OUT_OF_INDEXES && ::TlsSetValue(index, value);
    }

private:
    DWORD Slot() const noexcept {
        DWORD index = Index.load(std::memory_order_acquire);
        if (index != TLS_OUT_OF_INDEXES)
            return index;
        const DWORD made = ::TlsAlloc();
        if (made == TLS_OUT_OF_INDEXES || Index.compare_exchange_strong(index, made))
            return made;
        ::TlsFree(made); // another thread was first
        return index;
    }

    mutable std::atomic<DWORD> Index{TLS_OUT_OF_INDEXES};
};

// A value per thread, made on the thread's first use and freed, with every other thread's, when the
// library is unloaded (the library hears of no thread's end). Nothing in it raises or takes a lock, so
// the C++ runtime's own per-thread state can live in it.
template <class T>
class TThreadValues {
public:
    constexpr TThreadValues() noexcept = default;
    ~TThreadValues() {
        for (TNode* node = Head.exchange(nullptr); node;)
            delete std::exchange(node, node->Next);
    }
    TThreadValues(const TThreadValues&) = delete;
    TThreadValues& operator=(const TThreadValues&) = delete;

    // This thread's value; nil when none could be made.
    T* ThisThread() noexcept {
        if (TNode* node = Slot.Get())
            return &node->Value;
        auto* node = new (std::nothrow) TNode{};
        if (!node)
            return nullptr;
        if (!Slot.Set(node)) {
            delete node;
            return nullptr;
        }
        node->Next = Head.load(std::memory_order_relaxed);
        while (!Head.compare_exchange_weak(node->Next, node))
            ;
        return &node->Value;
    }

private:
    struct TNode {
        T Value{};
        TNode* Next = nullptr;
    };
    TThreadPointer<TNode> Slot;
    std::atomic<TNode*> Head{nullptr};
};

} // namespace zorbex
