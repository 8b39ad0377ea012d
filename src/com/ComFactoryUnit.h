// Class factories and the class registry: one generic factory kind that takes its class name and
// description from the type library, an automation-object factory, and registration of the common keys.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <memory>
#include <string>
#include <vector>

#include "com/ErrorsUnit.h"

namespace zorbex {

// Creates a new object of a factory's class and returns it with one reference held by the caller.
using TObjectCreator = IUnknown* (*)();

enum class TInstancing { Multi };
enum class TThreadingModel { Apartment };

// Shows an error raised while creating an object; replaceable so tests never open a message box.
using TErrorBoxProc = void (*)(const std::wstring& message);
void SetCreateErrorBox(TErrorBoxProc proc);
// Shows an error message to the person through that same box (a full stop is added when missing).
void ShowErrorBox(std::wstring message) noexcept;

// Runs work the person started (a click): an error ends it and is shown through the error box. True when
// the work ran to its end.
template <typename F> bool GuardShowError(F&& work) noexcept {
    try {
        work();
        return true;
    } catch (...) {
        ShowErrorBox(CurrentErrorInfo().Message);
        return false;
    }
}

class TComObjectFactory : public IClassFactory {
public:
    // objectClassName names the C++ object class in error messages ("TIEHKepUtils").
    TComObjectFactory(const CLSID& clsid, const wchar_t* objectClassName, TObjectCreator creator,
                      TInstancing instancing, TThreadingModel threading);
    TComObjectFactory(const TComObjectFactory&) = delete;
    TComObjectFactory& operator=(const TComObjectFactory&) = delete;
    virtual ~TComObjectFactory() = default;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IClassFactory
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

    const CLSID& ClassID() const { return Clsid; }
    const std::wstring& ClassName() const { return CoClassName; }
    const std::wstring& Description() const { return CoClassDescription; }
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

// Factory of an automation object; checks the co-class's default dispatch interface at creation.
class TAutoObjectFactory : public TComObjectFactory {
public:
    TAutoObjectFactory(const CLSID& clsid, const wchar_t* objectClassName, TObjectCreator creator,
                       const IID& implementedDispatch, TInstancing instancing, TThreadingModel threading);
    const IID& DispatchIID() const { return DispIID; }

private:
    IID DispIID{};
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
