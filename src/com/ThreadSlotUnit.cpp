// The list of per-thread stores that a thread's end walks.
#include "com/ThreadSlotUnit.h"

namespace zorbex {

namespace {
// Every store that has made a value, newest first. Stores live until the module is unloaded, and are
// never taken off.
constinit std::atomic<TThreadStore*> Stores{nullptr};
} // namespace

void TThreadStore::Enlist() noexcept {
    bool enlisted = false;
    if (!Enlisted.compare_exchange_strong(enlisted, true))
        return;
    TThreadStore* head = Stores.load(std::memory_order_relaxed);
    do
        NextStore = head;
    while (!Stores.compare_exchange_weak(head, this, std::memory_order_release, std::memory_order_relaxed));
}

void TThreadStore::ThreadEnded() noexcept {
    for (TThreadStore* store = Stores.load(std::memory_order_acquire); store; store = store->NextStore)
        store->ReleaseThisThread();
}

} // namespace zorbex
