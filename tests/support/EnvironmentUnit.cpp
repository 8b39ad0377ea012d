// The process's surroundings: paths, the library loaded by path, pumping, GUI counts, stored switches.
#include "support/EnvironmentUnit.h"

#include "com/ErrorsUnit.h"
#include "com/RegistryUnit.h"
#include "server/BHOMngUnit.h"

#include <ocidl.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace zorbex::test {
namespace {

template <typename T> void LoadProc(HMODULE module, const char* name, T& target) {
    FARPROC proc = ::GetProcAddress(module, name);
    static_assert(sizeof(proc) == sizeof(target));
    std::memcpy(&target, &proc, sizeof(target));
}

} // namespace

std::string Utf8(const std::wstring& text) {
    return ToUtf8(text);
}

std::wstring WindowsPath(const std::string& unixPath) {
    std::wstring path = L"Z:";
    for (char c : unixPath)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

std::wstring DllPath() {
    const char* path = std::getenv("ZORBEX_DLL");
    if (path && *path)
        return WindowsPath(path);
    return ExeDirectory() + L"\\..\\ZorbexGUI.dll";
}

std::wstring ExeDirectory() {
    std::vector<wchar_t> buffer(MAX_PATH * 4);
    DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::wstring path(buffer.data(), length);
    return path.substr(0, path.find_last_of(L'\\'));
}

TLibrary::TLibrary(const std::wstring& path) : Handle(::LoadLibraryW(path.c_str())) {
    if (!Handle)
        return;
    LoadProc(Handle, "DllRegisterServer", RegisterServer);
    LoadProc(Handle, "DllUnregisterServer", UnregisterServer);
    LoadProc(Handle, "DllCanUnloadNow", CanUnload);
    LoadProc(Handle, "DllGetClassObject", ClassObject);
}

TLibrary::~TLibrary() {
    if (Handle)
        ::FreeLibrary(Handle);
}

HRESULT LoadedLibraryCanUnloadNow() {
    HMODULE module = ::GetModuleHandleW(L"ZorbexGUI.dll");
    if (!module)
        return S_OK;
    HRESULT(STDAPICALLTYPE * canUnload)() = nullptr;
    LoadProc(module, "DllCanUnloadNow", canUnload);
    return canUnload ? canUnload() : E_FAIL;
}

GUID ProvidedClassID(IUnknown* object) {
    Microsoft::WRL::ComPtr<IProvideClassInfo> provider;
    Microsoft::WRL::ComPtr<ITypeInfo> info;
    TYPEATTR* attr = nullptr;
    if (!object || FAILED(object->QueryInterface(IID_PPV_ARGS(&provider))) || FAILED(provider->GetClassInfo(&info)) ||
        !info || FAILED(info->GetTypeAttr(&attr)))
        return GUID_NULL;
    const GUID clsid = attr->guid;
    info->ReleaseTypeAttr(attr);
    return clsid;
}

void PumpMessages(DWORD milliseconds) {
    DWORD start = ::GetTickCount();
    do {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (::GetTickCount() - start < milliseconds);
}

TGuiObjectCounts GuiObjectCounts() {
    TGuiObjectCounts counts;
    counts.Gdi = static_cast<long>(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS));
    counts.User = static_cast<long>(::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS));
    if (counts.Gdi == 0) {
        // A handle whose high word is zero names its table entry by index alone.
        for (UINT_PTR index = 1; index <= 0xFFFF; ++index)
            if (::GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0)
                ++counts.Gdi;
    }
    if (counts.User == 0) {
        for (UINT_PTR index = 0x20; index <= 0xFFFF; index += 2) {
            const auto handle = reinterpret_cast<HANDLE>(index);
            if (::IsMenu(static_cast<HMENU>(handle)))
                ++counts.User;
            else if (::IsWindow(static_cast<HWND>(handle))) {
                DWORD process = 0;
                ::GetWindowThreadProcessId(static_cast<HWND>(handle), &process);
                counts.User += process == ::GetCurrentProcessId() ? 1 : 0;
            }
        }
    }
    return counts;
}

VARIANT MalformedVariant() {
    VARIANT malformed;
    ::VariantInit(&malformed);
    malformed.vt = 0x00FF;
    return malformed;
}

void SetSwitch(const wchar_t* name, bool on) {
    const TRegKey key = OpenOrCreateKey(HKEY_CURRENT_USER, SettingsKeyPath());
    const DWORD value = on ? 1 : 0;
    if (!key || ::RegSetValueExW(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                 sizeof(value)) != ERROR_SUCCESS)
        RaiseError(L"Cannot store the switch " + std::wstring(name));
}

void SetEverySwitch(bool on) {
    for (const wchar_t* name : {L"Enabled", L"Highlight enabled", L"Popup killer enabled", L"Banner killer enabled",
                                L"Link hint enabled"})
        SetSwitch(name, on);
}

} // namespace zorbex::test
