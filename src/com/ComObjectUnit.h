// The one base of every COM object: the library's objects, its class factories, its event sinks, and
// the doubles of the tests and tools.
//
// A class derives from TComObject<its interfaces...>, lists what it answers in an interface table
// (rows made with InterfaceEntry, one per IID, the way a QITAB lists them) and says how it counts in
// its module (TModuleCount). The base then gives it
//   - its reference count, changed with interlocked operations;
//   - its part of the module's count, so that DllCanUnloadNow follows it without any code of its own;
//   - QueryInterface from the table, then from QueryOtherInterface for what a table cannot say
//     (an interface answered only under a condition, or by another object);
//   - aggregation as COM defines it. Every object has its own IUnknown (OwnUnknown), which never
//     delegates. Made with an outer object, that own IUnknown is what the creator hands to the outer
//     object, and the IUnknown methods of every other interface go to the outer object: QueryInterface
//     for IUnknown gives the outer object, references count on the outer object, and the object lives
//     as long as the outer object holds its own IUnknown. Made alone, the own IUnknown is the
//     object's identity and the other interfaces come back to it.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <span>

namespace zorbex {

// How an object counts in its module's decision to unload.
enum class TModuleCount {
    // One live object of the module, from construction to destruction; freed by its last Release.
    Object,
    // Lives from load to unload, owned by the module (a class factory); each reference held counts in
    // the module's factory count, and no Release frees it.
    References,
    // No part of the module's count: a double living in a test or tool executable. Freed by its last
    // Release.
    None,
};

class TComObjectCore;

// One row of an interface table: an IID the object answers and the interface part that answers it.
struct TInterfaceEntry {
    const IID* Iid;
    IUnknown* (*Get)(TComObjectCore& object);
};

// The row answering `iid` with the TInterface part of a TClass. TVia names the interface to reach it
// through when TInterface is a base of more than one of the object's interfaces (IDockingWindow
// through IDeskBand, IDispatch through a dual interface).
template <typename TClass, typename TInterface, typename TVia = TInterface>
constexpr TInterfaceEntry InterfaceEntry(const IID& iid) {
    return {&iid, [](TComObjectCore& object) -> IUnknown* {
                TVia* via = &static_cast<TClass&>(object);
                return static_cast<TInterface*>(via);
            }};
}

// Identity, lifetime, module count and QueryInterface of an object; TComObject adds the interfaces.
class TComObjectCore {
public:
    TComObjectCore(const TComObjectCore&) = delete;
    TComObjectCore& operator=(const TComObjectCore&) = delete;

    // The object's own IUnknown: its identity when it stands alone, the inner IUnknown its outer
    // object holds when it is aggregated.
    IUnknown* OwnUnknown() { return &Own; }
    // The IUnknown of the whole object (the outer object's when aggregated): what the object gives
    // as itself, and where its interfaces send QueryInterface, AddRef and Release.
    IUnknown* Identity() { return Outer ? Outer : &Own; }
    // A new object's first reference, taken on its own IUnknown: what a class's creator returns.
    IUnknown* FirstReference() noexcept {
        Own.AddRef();
        return &Own;
    }

protected:
    // interfaces: the object's table (static storage). outer: the controlling IUnknown of the
    // aggregate, or null for an object that stands alone; the object does not hold it.
    TComObjectCore(TModuleCount counting, std::span<const TInterfaceEntry> interfaces, IUnknown* outer);
    virtual ~TComObjectCore();

    // What the table does not list, never IUnknown: *object set (already null) with a reference added,
    // or E_NOINTERFACE.
    virtual HRESULT QueryOtherInterface(REFIID iid, void** object);
    // Answers from a table other than the object's own (for interfaces answered under a condition).
    HRESULT QueryTable(std::span<const TInterfaceEntry> table, REFIID iid, void** object);

private:
    class TOwnUnknown final : public IUnknown {
    public:
        explicit TOwnUnknown(TComObjectCore& object) : Object(object) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        TComObjectCore& Object;
    };

    TOwnUnknown Own{*this};
    volatile LONG References = 0;
    const TModuleCount Counting;
    const std::span<const TInterfaceEntry> Interfaces;
    IUnknown* const Outer;
};

// The base to derive from: the IUnknown methods of all the object's interfaces, which go to its identity.
template <typename... TInterfaces> class TComObject : public TInterfaces..., public TComObjectCore {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override { return Identity()->QueryInterface(iid, object); }
    STDMETHODIMP_(ULONG) AddRef() override { return Identity()->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return Identity()->Release(); }

protected:
    using TComObjectCore::TComObjectCore;
};

} // namespace zorbex
