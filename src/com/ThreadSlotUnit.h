// Values per thread kept in Win32 TLS slots that the module gives back at unload. The compiler's
// thread_local goes through the runtime's emulated TLS, which takes a slot of its own on first use and
// gives it back at no unload: every load of the library would keep one more.
//
// A browser makes and ends threads all day and loads the library again and again, so nothing here
// outlives what it belongs to: a thread's values are freed when the thread ends (DllMain's
// DLL_THREAD_DETACH calls ThreadEnded), every value and the slots when the module is unloaded. The
// values come from the process heap, not from operator new, so that the runtime's own per-thread state can
// live here: making it never raises and never calls back into the runtime.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <new>
#include <utility>

namespace zorbex {

// A pointer per thread. The slot is taken on first use or by Reserve, so the object works from the first
// instant of the load, before any constructor of the library has run.
template <class T>
class TThreadPointer {
public:
    constexpr TThreadPointer() noexcept = default;
    // After this, no slot is taken again: a use during the rest of the unload finds none.
    ~TThreadPointer() {
        Closed.store(true, std::memory_order_release);
        if (const DWORD index = Index.exchange(TLS_OUT_OF_INDEXES); index != TLS_OUT_OF_INDEXES)
            ::TlsFree(index);
    }
    TThreadPointer(const TThreadPointer&) = delete;
    TThreadPointer& operator=(const TThreadPointer&) = delete;

    // Takes the slot now; false when the process has no slot left.
    bool Reserve() noexcept { return Slot() != TLS_OUT_OF_INDEXES; }

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
        if (index != TLS_OUT_OF_INDEXES || Closed.load(std::memory_order_acquire))
            return index;
        const DWORD made = ::TlsAlloc();
        if (made == TLS_OUT_OF_INDEXES || Index.compare_exchange_strong(index, made))
            return made;
        ::TlsFree(made); // another thread was first
        return index;
    }

    mutable std::atomic<DWORD> Index{TLS_OUT_OF_INDEXES};
    std::atomic<bool> Closed{false};
};

// What every TThreadValues is to the module: its values of the thread that ends, and of all threads.
class TThreadStore {
public:
    TThreadStore(const TThreadStore&) = delete;
    TThreadStore& operator=(const TThreadStore&) = delete;

    // Frees the calling thread's value of every store that has made one (DLL_THREAD_DETACH).
    static void ThreadEnded() noexcept;

protected:
    constexpr TThreadStore() noexcept = default;
    ~TThreadStore() = default;
    // Puts the store on the list that ThreadEnded walks; once, on its first value.
    void Enlist() noexcept;
    virtual void ReleaseThisThread() noexcept = 0;

private:
    std::atomic<bool> Enlisted{false};
    TThreadStore* NextStore = nullptr;
};

// A value per thread, made on the thread's first use and freed when the thread ends or the module is
// unloaded. `Reserve` values are kept aside for a thread whose value the process heap cannot give: the
// C++ runtime's per-thread state must be had even then, and must never be shared between threads. Before
// a thread's value is freed at the thread's end, `Retire` (when given) sees it: the failure trace writes the
// counts it still holds.
template <class T, size_t Reserve = 0>
class TThreadValues : public TThreadStore {
public:
    using TRetire = void (*)(T& value) noexcept;

    constexpr explicit TThreadValues(TRetire retire = nullptr) noexcept : Retire(retire) {}
    // At unload: every thread's value goes (whoever retires values does so before, ForEach).
    ~TThreadValues() {
        TNode* node = nullptr;
        {
            TExclusive lock(Lock);
            node = std::exchange(Head, nullptr);
        }
        while (node)
            Free(std::exchange(node, node->Next));
    }

    // Takes the slot now; false when the process has no slot left.
    bool ReserveSlot() noexcept { return Slot.Reserve(); }

    // This thread's value; null only when there is no slot, or neither the heap nor the reserve can give one.
    T* ThisThread() noexcept {
        if (TNode* node = Slot.Get())
            return &node->Value;
        TNode* node = Make();
        if (!node)
            return nullptr;
        if (!Slot.Set(node)) {
            Free(node);
            return nullptr;
        }
        Enlist();
        TExclusive lock(Lock);
        node->Next = Head;
        if (Head)
            Head->Previous = node;
        Head = node;
        return &node->Value;
    }

    // Runs `visit` on the value of every thread, under the store's lock: the visit must not take a value.
    template <class F> void ForEach(F&& visit) noexcept {
        TExclusive lock(Lock);
        for (TNode* node = Head; node; node = node->Next)
            visit(node->Value);
    }

private:
    struct TNode {
        T Value{};
        TNode* Next = nullptr;
        TNode* Previous = nullptr;
        bool FromReserve = false;
    };
    struct TReserved {
        std::atomic<bool> Taken{false};
        alignas(TNode) unsigned char Storage[sizeof(TNode)]{};
    };
    // Exclusive hold of an SRW lock (the com layer's TExclusiveLock is in a unit this one stays below).
    struct TExclusive {
        explicit TExclusive(SRWLOCK& lock) noexcept : Held(lock) { ::AcquireSRWLockExclusive(&Held); }
        TExclusive(const TExclusive&) = delete;
        TExclusive& operator=(const TExclusive&) = delete;
        ~TExclusive() { ::ReleaseSRWLockExclusive(&Held); }
        SRWLOCK& Held;
    };

    TNode* Make() noexcept {
        if (void* memory = ::HeapAlloc(::GetProcessHeap(), 0, sizeof(TNode)))
            return new (memory) TNode{};
        for (TReserved& reserved : Reserved) {
            bool free = false;
            if (reserved.Taken.compare_exchange_strong(free, true)) {
                TNode* node = new (reserved.Storage) TNode{};
                node->FromReserve = true;
                return node;
            }
        }
        return nullptr;
    }

    void Free(TNode* node) noexcept {
        const bool fromReserve = node->FromReserve;
        node->~TNode();
        if (!fromReserve) {
            ::HeapFree(::GetProcessHeap(), 0, node);
            return;
        }
        for (TReserved& reserved : Reserved)
            if (static_cast<void*>(reserved.Storage) == static_cast<void*>(node))
                reserved.Taken.store(false);
    }

    void ReleaseThisThread() noexcept override {
        TNode* node = Slot.Get();
        if (!node)
            return;
        Slot.Set(nullptr);
        if (Retire)
            Retire(node->Value);
        {
            TExclusive lock(Lock);
            if (node->Previous)
                node->Previous->Next = node->Next;
            else
                Head = node->Next;
            if (node->Next)
                node->Next->Previous = node->Previous;
        }
        Free(node);
    }

    TThreadPointer<TNode> Slot;
    SRWLOCK Lock = SRWLOCK_INIT;
    TNode* Head = nullptr;
    TRetire Retire = nullptr;
    TReserved Reserved[Reserve == 0 ? 1 : Reserve];
};

} // namespace zorbex
