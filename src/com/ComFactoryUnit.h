// Class factories and the module's list of them. One factory class serves every co-class: it takes the
// class name and description from the type library (so that registry and type library cannot
// disagree) and creates objects through a creator function of the object class. The automation-object
// factory also checks at load that the type library's default interface is the one the class
// implements; a band's factory (band layer) adds the browser's registration.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <memory>
#include <string>
#include <vector>

#include "com/ComObjectUnit.h"

namespace zorbex {

// Creates a new object of a factory's class, aggregated in `outer` when it is not null, and returns
// its own IUnknown with one reference held by the caller.
using TObjectCreator = IUnknown* (*)(IUnknown* outer);

// Shows an error raised while creating an object; replaceable so tests never open a message box.
using TErrorBoxProc = void (*)(const std::wstring& message);
void SetCreateErrorBox(TErrorBoxProc proc);
// Shows an error's message to the person through that same box, as a sentence (a full stop is added
// when missing); the report of the guards for work the person started (ResultOr).
void ShowErrorBox(const std::wstring& message);

// A factory lives from load to unload, owned by the module's list; each reference a client holds counts
// in the module's factory count (TModuleCount::References).
class TComObjectFactory : public TComObject<IClassFactory> {
public:
    // objectClassName names the C++ object class in error messages ("TIEHKepUtils").
    TComObjectFactory(const CLSID& clsid, const wchar_t* objectClassName, TObjectCreator creator);
    ~TComObjectFactory() override = default;

    // IClassFactory. CreateInstance with an outer object makes the object aggregated when IUnknown is
    // asked for, and refuses any other interface with CLASS_E_NOAGGREGATION (creating nothing). An
    // error while creating is shown in the error box and answered with E_UNEXPECTED.
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

    const CLSID& ClassID() const { return Clsid; }
    const std::wstring& ClassName() const { return CoClassName; }
    std::wstring ProgID() const;

    // Writes (true) or removes (false) the class's registry entries.
    virtual void UpdateRegistration(bool doRegister);

protected:
    const std::wstring& ObjectClassName() const { return ObjectClass; }

private:
    CLSID Clsid;
    std::wstring ObjectClass;
    TObjectCreator Creator;
    std::wstring CoClassName;
    std::wstring CoClassDescription;
};

// Factory of an automation object: the co-class's default interface must be a dispatch interface, and
// the one the object class implements (implementedDispatch); otherwise the constructor raises.
class TAutoObjectFactory : public TComObjectFactory {
public:
    TAutoObjectFactory(const CLSID& clsid, const wchar_t* objectClassName, TObjectCreator creator,
                       const IID& implementedDispatch);
};

// The factories of this module, from load to unload.
class TComClassManager {
public:
    void Add(std::unique_ptr<TComObjectFactory> factory) { Factories.push_back(std::move(factory)); }
    TComObjectFactory* Find(const CLSID& clsid) const;
    const std::vector<std::unique_ptr<TComObjectFactory>>& All() const { return Factories; }
    void Clear() { Factories.clear(); }

private:
    std::vector<std::unique_ptr<TComObjectFactory>> Factories;
};

TComClassManager& ComClassManager();

// The path registered for an in-process server: its short (8.3) form when it has a space, or the path
// itself when the system has no short form for it.
std::wstring ShortPathIfSpaced(const std::wstring& path);

// Library-level registration passes: the type library, then every factory. S_OK or E_FAIL.
HRESULT RegisterServer(bool doRegister) noexcept;

} // namespace zorbex
