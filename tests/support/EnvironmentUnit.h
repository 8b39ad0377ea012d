// What the tests, the demo and the benchmarks share of their process's surroundings: paths of the built
// files, the library loaded as a DLL, message pumping, GUI object counts and the toolbar's stored
// switches. Free of any test framework: the demo and the benchmarks link it too.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>

#include <wrl/client.h>

namespace zorbex::test {

// What this build's architecture puts into type libraries and the registry: a vtable slot is one pointer
// wide, type libraries describe SYS_WIN32 or SYS_WIN64 code and register under the win32 or win64 key.
constexpr bool kIs64Bit = sizeof(void*) == 8;
constexpr SHORT kSlotBytes = static_cast<SHORT>(sizeof(void*));
constexpr SYSKIND kSysKind = kIs64Bit ? SYS_WIN64 : SYS_WIN32;
constexpr const wchar_t* kTypeLibPlatformKey = kIs64Bit ? L"win64" : L"win32";

// UTF-8 bytes of a wide string, for test messages.
std::string Utf8(const std::wstring& text);

// Windows path of a Unix path (Wine maps the Unix root to drive Z:).
std::wstring WindowsPath(const std::string& unixPath);
// Path of the built ZorbexGUI.dll (from the environment CTest sets).
std::wstring DllPath();
// The directory of the running test executable (ends without a backslash).
std::wstring ExeDirectory();

// ZorbexGUI.dll loaded with LoadLibrary, with its four exports.
class TLibrary {
public:
    explicit TLibrary(const std::wstring& path = DllPath());
    TLibrary(const TLibrary&) = delete;
    TLibrary& operator=(const TLibrary&) = delete;
    ~TLibrary();

    HMODULE Module() const { return Handle; }
    HRESULT Register() const { return RegisterServer(); }
    HRESULT Unregister() const { return UnregisterServer(); }
    HRESULT CanUnloadNow() const { return CanUnload(); }
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
        return ClassObject(clsid, iid, object);
    }

private:
    HMODULE Handle = nullptr;
    HRESULT(STDAPICALLTYPE* RegisterServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* UnregisterServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* CanUnload)() = nullptr;
    HRESULT(STDAPICALLTYPE* ClassObject)(REFCLSID, REFIID, void**) = nullptr;
};

// DllCanUnloadNow of the ZorbexGUI.dll that COM loaded into this process; S_OK when it is not loaded.
HRESULT LoadedLibraryCanUnloadNow();

// Takes over an object returned with one reference held by the caller (a CreateObject of the library),
// as the interface T. Note that ComPtr::Attach of this toolchain adds a reference of its own.
template <typename T> Microsoft::WRL::ComPtr<T> TakeCreated(IUnknown* created) {
    Microsoft::WRL::ComPtr<T> result;
    if (created) {
        created->QueryInterface(IID_PPV_ARGS(&result));
        created->Release();
    }
    return result;
}

// GDI and USER objects of this process. The system's own count (GetGuiResources) where it has one;
// under Wine, which has none, the live entries of the process's GDI handle table and the live menus
// and windows of the USER handle table, looked up by index.
struct TGuiObjectCounts {
    long Gdi = 0;
    long User = 0;
};
TGuiObjectCounts GuiObjectCounts();

// The class an object names through IProvideClassInfo; GUID_NULL when it names none.
GUID ProvidedClassID(IUnknown* object);

// Stores one of the toolbar's switches ("Enabled", "Highlight enabled", ...) in the settings key of the
// current user, as the Keptor application does; raises when the key cannot be written.
void SetSwitch(const wchar_t* name, bool on);
// Stores all five switches of the main toolbar.
void SetEverySwitch(bool on);

// A variant of a type that does not exist (0xFF): every automation method of the library that copies its
// argument raises inside and answers DISP_E_BADVARTYPE, the way to make a call fail inside the library.
VARIANT MalformedVariant();

// Pumps this thread's messages for about `milliseconds` (COM calls, timers, posted messages).
void PumpMessages(DWORD milliseconds);

} // namespace zorbex::test
