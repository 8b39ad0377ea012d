// The module COM record: this module's file, type library and names, and the counts that decide whether
// it may be unloaded; its string resources. There is one record per module, made on first use (at
// load): the library's code also runs linked into test programs, where the record is the program's own,
// so the tests can check both the DLL and their own copy for objects left behind. Making it costs no
// more than asking the loader for the module's path: the browser loads the library in every tab.
// Objects and server locks are one count, factory references another: the factories live from load to
// unload, so only the references to them say whether a client still needs the module.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <string>

namespace zorbex {

class TComServer {
public:
    TComServer();
    TComServer(const TComServer&) = delete;
    TComServer& operator=(const TComServer&) = delete;

    HMODULE Instance() const { return Module; }
    // Full path of the module file with every path element in its long form (worked out on first use:
    // only registration needs it, and it costs a directory lookup per path element).
    const std::wstring& ModuleFileName();
    // The type library from this module's "TYPELIB" 1 resource, loaded on first use; raises on failure.
    ITypeLib* TypeLib();
    // The type library's name ("ZorbexGUI"): the first half of every ProgID.
    std::wstring ServerName();

    LONG ObjectCount() const { return Objects; }
    LONG FactoryCount() const { return FactoryRefs; }
    void CountObject(bool created);
    void CountFactoryRef(bool added);

    // Runs whenever the module's last object goes, on the thread that releases it: what the module
    // keeps for the work of its objects is given back then (the GIF encoder's working memory). One handler.
    using TIdleHandler = void (*)() noexcept;
    void SetIdleHandler(TIdleHandler handler) noexcept;

private:
    HMODULE Module = nullptr;
    // The path the loader gives, which the type library is loaded from, and its long form once asked.
    std::wstring LoadedPath;
    std::wstring FileName;
    Microsoft::WRL::ComPtr<ITypeLib> Library;
    volatile LONG Objects = 0;
    volatile LONG FactoryRefs = 0;
    std::atomic<TIdleHandler> IdleHandler{nullptr};
};

// The one module record of this module (created on first use, which is at load).
TComServer& ComServer();

// Whether the module may be unloaded: no object, lock or factory reference is left.
bool CanUnloadModule();

// The path in the form a path API gives (GetShortPathNameW, GetLongPathNameW), or the path itself when
// the system has no such form for it (the path is still a working value).
using TPathConversion = DWORD(WINAPI*)(LPCWSTR path, LPWSTR buffer, DWORD size);
std::wstring ConvertedPath(const std::wstring& path, TPathConversion convert);

// A string resource of this module; the empty string when it is missing.
std::wstring LoadResString(UINT id);

} // namespace zorbex
