// StartupBench.exe: what it costs the browser to start a COM server DLL: load it, get the class objects
// of its four classes and create one object of each, as the browser does when it opens a window.
//
//   StartupBench.exe DLL [CYCLES [each]]
//
// The system DLLs either server may import are loaded first, and the process has made a window and
// drawn text, as a browser has, so that only the server's own cost is measured. The first cycle is the one a browser process pays; the later cycles load the file again
// after unloading it. Prints one line of figures in microseconds (tools/release/startup_bench.sh reads it).
#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <initguid.h>

#include "ZorbexGUI.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

const CLSID* const kClasses[] = {&CLSID_ZorbexExplorerBar, &CLSID_IEHKepUtils, &CLSID_IEHelperBHOGUI,
                                 &CLSID_TrovellaQLToolbar};
// Their short names in the figures printed.
const char* const kClassNames[] = {"bar", "utils", "hint", "links"};

class TModule {
public:
    explicit TModule(const std::wstring& path) : Handle(::LoadLibraryW(path.c_str())) {}
    TModule(const TModule&) = delete;
    TModule& operator=(const TModule&) = delete;
    ~TModule() { Free(); }
    HMODULE Get() const { return Handle; }
    void Free() {
        if (Handle)
            ::FreeLibrary(Handle);
        Handle = nullptr;
    }

private:
    HMODULE Handle;
};

class TApartment {
public:
    TApartment() : Result(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    TApartment(const TApartment&) = delete;
    TApartment& operator=(const TApartment&) = delete;
    ~TApartment() {
        if (SUCCEEDED(Result))
            ::CoUninitialize();
    }
    HRESULT Result;
};

double Now() {
    static const double ticksPerMicrosecond = [] {
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1e6;
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / ticksPerMicrosecond;
}

struct TCycle {
    double Load = 0, Factories = 0, Objects = 0, Unload = 0;
    // The first DllGetClassObject alone, and each CreateInstance in the order of kClasses.
    double FirstFactory = 0;
    double Object[std::size(kClasses)] = {};
    double Total() const { return Load + Factories + Objects; }
};

using TGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using TCanUnloadNow = HRESULT(STDAPICALLTYPE*)();

template <typename T>
T Entry(HMODULE module, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// One start-up: load, four class objects, four objects; then everything released and the file unloaded.
bool RunCycle(const std::wstring& path, TCycle& cycle, std::string& error) {
    const double start = Now();
    TModule module(path);
    if (!module.Get()) {
        error = "LoadLibrary failed: " + std::to_string(::GetLastError());
        return false;
    }
    auto getClassObject = Entry<TGetClassObject>(module.Get(), "DllGetClassObject");
    auto canUnloadNow = Entry<TCanUnloadNow>(module.Get(), "DllCanUnloadNow");
    if (!getClassObject || !canUnloadNow) {
        error = "not a COM server";
        return false;
    }
    const double loaded = Now();
    {
        std::vector<ComPtr<IClassFactory>> factories(std::size(kClasses));
        double gotFirstFactory = loaded;
        for (size_t i = 0; i < std::size(kClasses); ++i) {
            if (i == 1)
                gotFirstFactory = Now();
            HRESULT result = getClassObject(*kClasses[i], IID_IClassFactory,
                                            reinterpret_cast<void**>(factories[i].GetAddressOf()));
            if (FAILED(result)) {
                error = "DllGetClassObject failed: " + std::to_string(result);
                return false;
            }
        }
        const double gotFactories = Now();
        std::vector<ComPtr<IUnknown>> objects(std::size(kClasses));
        double objectStart = gotFactories;
        for (size_t i = 0; i < std::size(kClasses); ++i) {
            HRESULT result = factories[i]->CreateInstance(nullptr, IID_IUnknown,
                                                          reinterpret_cast<void**>(objects[i].GetAddressOf()));
            if (FAILED(result)) {
                error = "CreateInstance failed: " + std::to_string(result);
                return false;
            }
            const double objectEnd = Now();
            cycle.Object[i] = objectEnd - objectStart;
            objectStart = objectEnd;
        }
        const double created = objectStart;
        cycle.Load = loaded - start;
        cycle.FirstFactory = gotFirstFactory - loaded;
        cycle.Factories = gotFactories - loaded;
        cycle.Objects = created - gotFactories;
    }
    const double released = Now();
    if (canUnloadNow() != S_OK) {
        error = "DllCanUnloadNow is not S_OK with everything released";
        return false;
    }
    module.Free();
    cycle.Unload = Now() - released;
    return true;
}

// A browser has shown windows and text before it creates its first band: the process's first window and
// first font, whose one-time set-up the system pays whoever comes first, are made before the clock starts.
void WarmUpWindowing() {
    HWND window = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
    if (HDC dc = ::GetDC(window)) {
        HGDIOBJ previous = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
        TEXTMETRICW metrics{};
        ::GetTextMetricsW(dc, &metrics);
        ::SelectObject(dc, previous);
        ::ReleaseDC(window, dc);
    }
    if (window)
        ::DestroyWindow(window);
}

DWORD LowestFreeTlsSlot() {
    const DWORD slot = ::TlsAlloc();
    if (slot != TLS_OUT_OF_INDEXES)
        ::TlsFree(slot);
    return slot;
}

// The value of the next handle the process gets. Wine hands out the lowest free handle (values go in steps
// of 4), so a handle that a load takes and its unload does not close moves it on by one step.
uintptr_t NextHandleValue() {
    const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event)
        ::CloseHandle(event);
    return reinterpret_cast<uintptr_t>(event);
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: StartupBench.exe DLL [CYCLES [each]]\n");
        return 2;
    }
    wchar_t full[MAX_PATH];
    if (!::GetFullPathNameW(argv[1], MAX_PATH, full, nullptr)) {
        std::fprintf(stderr, "bad path\n");
        return 2;
    }
    const std::wstring path = full;
    const int cycles = argc > 2 ? std::max(1, _wtoi(argv[2])) : 20;
    // "each": every later cycle's figures on the error output too, to see whether reloading grows.
    const bool eachCycle = argc > 3 && std::wstring(argv[3]) == L"each";

    TApartment apartment;
    if (FAILED(apartment.Result)) {
        std::fprintf(stderr, "CoInitializeEx failed\n");
        return 1;
    }
    // Everything either server imports, loaded before the clock starts.
    std::vector<HMODULE> system;
    for (const wchar_t* name : {L"kernel32.dll", L"user32.dll", L"gdi32.dll", L"advapi32.dll", L"ole32.dll",
                                L"oleaut32.dll", L"comctl32.dll", L"shell32.dll", L"shlwapi.dll", L"urlmon.dll",
                                L"uxtheme.dll", L"msimg32.dll", L"version.dll", L"msvcrt.dll"})
        system.push_back(::LoadLibraryW(name));
    WarmUpWindowing();

    TCycle first;
    std::string error;
    if (!RunCycle(path, first, error)) {
        std::fprintf(stderr, "first cycle: %s\n", error.c_str());
        return 1;
    }
    if (::GetModuleHandleW(path.c_str())) {
        std::fprintf(stderr, "the DLL stayed loaded after FreeLibrary\n");
        return 1;
    }
    // A TLS slot that a load takes and its unload does not give back: the lowest free index moves on.
    const DWORD freeSlotBefore = LowestFreeTlsSlot();
    const uintptr_t nextHandleBefore = NextHandleValue();
    std::vector<TCycle> again;
    for (int i = 0; i < cycles; ++i) {
        TCycle cycle;
        if (!RunCycle(path, cycle, error)) {
            std::fprintf(stderr, "cycle %d: %s\n", i + 2, error.c_str());
            return 1;
        }
        again.push_back(cycle);
        if (eachCycle)
            std::fprintf(stderr, "cycle %d: total=%.0f load=%.0f factories=%.0f objects=%.0f unload=%.0f\n", i + 2,
                         cycle.Total(), cycle.Load, cycle.Factories, cycle.Objects, cycle.Unload);
    }
    // The median of one figure over the cycles [from, to).
    auto median = [&again](auto figure, size_t from = 0, size_t to = SIZE_MAX) {
        std::vector<double> values;
        for (size_t i = from; i < std::min(to, again.size()); ++i)
            values.push_back(figure(again[i]));
        return Median(values);
    };
    std::printf("first_total=%.0f first_load=%.0f first_factories=%.0f first_objects=%.0f "
                "again_total=%.0f again_load=%.0f again_factories=%.0f again_objects=%.0f again_unload=%.0f",
                first.Total(), first.Load, first.Factories, first.Objects,
                median([](const TCycle& c) { return c.Total(); }), median([](const TCycle& c) { return c.Load; }),
                median([](const TCycle& c) { return c.Factories; }),
                median([](const TCycle& c) { return c.Objects; }), median([](const TCycle& c) { return c.Unload; }));
    // The finer split: the first DllGetClassObject, and each class's CreateInstance.
    std::printf(" first_factory1=%.0f again_factory1=%.0f", first.FirstFactory,
                median([](const TCycle& c) { return c.FirstFactory; }));
    for (size_t i = 0; i < std::size(kClasses); ++i)
        std::printf(" first_%s=%.0f again_%s=%.0f", kClassNames[i], first.Object[i], kClassNames[i],
                    median([i](const TCycle& c) { return c.Object[i]; }));
    // Whether reloading costs more the more often the file was loaded: the first and the last third, and
    // the TLS slots the reloads kept.
    const size_t third = std::max<size_t>(again.size() / 3, 1);
    std::printf(" again_early=%.0f again_late=%.0f again_tls_slots=%ld again_handles=%ld\n",
                median([](const TCycle& c) { return c.Total(); }, 0, third),
                median([](const TCycle& c) { return c.Total(); }, again.size() - third),
                static_cast<long>(LowestFreeTlsSlot()) - static_cast<long>(freeSlotBefore),
                static_cast<long>((NextHandleValue() - nextHandleBefore) / 4));
    for (HMODULE module : system)
        if (module)
            ::FreeLibrary(module);
    return 0;
}
