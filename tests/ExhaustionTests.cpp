// Memory running out inside the library: through each public entry point, the library's k-th allocation
// of the C runtime (and every later one) fails, for every k up to the number of allocations the call makes.
// Each call returns its failure or succeeds, never crashes or hangs; once allocation works again the same
// call does what it did before; everything is released, DllCanUnloadNow says yes and the library unloads,
// and over all of it no TLS slot and no handle is kept. The library is loaded with LoadLibrary and its
// imports of malloc, calloc and realloc point at the counting allocator below while the call runs.
#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KeptorServerUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"
#include "com/ZorbexGUI_TLB.h"
#include "support/BrowserHostUnit.h"
#include "support/EnvironmentUnit.h"
#include "support/ImportPatchUnit.h"
#include "support/SessionUnit.h"
#include "support/TestDocumentUnit.h"
#include "support/TestSupport.h"
#include "support/TestThreadUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;

namespace {

// --- The counting allocator ----------------------------------------------------------------------------

using TMalloc = void*(__cdecl*)(size_t);
using TCalloc = void*(__cdecl*)(size_t, size_t);
using TRealloc = void*(__cdecl*)(void*, size_t);

TMalloc RealMalloc = nullptr;
TCalloc RealCalloc = nullptr;
TRealloc RealRealloc = nullptr;

// Allocations still granted (-1: no limit) and allocations asked for since the count was reset.
std::atomic<long> Granted{-1};
std::atomic<long> Asked{0};

bool Grant() {
    ++Asked;
    long left = Granted.load();
    while (left > 0 && !Granted.compare_exchange_weak(left, left - 1))
        ;
    return left != 0;
}

void* __cdecl CountedMalloc(size_t size) {
    return Grant() ? RealMalloc(size) : nullptr;
}
void* __cdecl CountedCalloc(size_t count, size_t size) {
    return Grant() ? RealCalloc(count, size) : nullptr;
}
void* __cdecl CountedRealloc(void* block, size_t size) {
    return Grant() ? RealRealloc(block, size) : nullptr;
}

// The library's allocator imports pointed at the counting one.
class TCountedAllocation {
public:
    explicit TCountedAllocation(HMODULE library)
        : Malloc(library, "msvcrt.dll", "malloc", reinterpret_cast<void*>(&CountedMalloc)),
          Calloc(library, "msvcrt.dll", "calloc", reinterpret_cast<void*>(&CountedCalloc)),
          Realloc(library, "msvcrt.dll", "realloc", reinterpret_cast<void*>(&CountedRealloc)) {}
    bool Applied() const { return Malloc.Applied(); }

private:
    TImportPatch Malloc, Calloc, Realloc;
};

// The library shows some failures in a message box (an object that could not be made). A thread of the
// test answers every box of this process, as a person would, and counts them.
class TBoxAnswerer {
public:
    TBoxAnswerer() : Thread([this] { Run(); }) {}
    TBoxAnswerer(const TBoxAnswerer&) = delete;
    TBoxAnswerer& operator=(const TBoxAnswerer&) = delete;
    ~TBoxAnswerer() {
        Stop = true;
        Thread.Join();
    }
    long Answered() const { return Count; }

private:
    static BOOL CALLBACK Answer(HWND window, LPARAM self) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        wchar_t name[16] = {};
        ::GetClassNameW(window, name, 16);
        if (process == ::GetCurrentProcessId() && std::wstring(name) == L"#32770" && ::IsWindowVisible(window)) {
            ::PostMessageW(window, WM_COMMAND, IDOK, 0);
            ++reinterpret_cast<TBoxAnswerer*>(self)->Count;
        }
        return TRUE;
    }
    void Run() {
        while (!Stop) {
            ::EnumWindows(&TBoxAnswerer::Answer, reinterpret_cast<LPARAM>(this));
            ::Sleep(20);
        }
    }

    std::atomic<bool> Stop{false};
    std::atomic<long> Count{0};
    TTestThread Thread;
};

// --- What a call needs ----------------------------------------------------------------------------------

// Events of the application (IGUIServerEvents).
constexpr DISPID kOnSettingsChange = 204;
constexpr DISPID kOnFunctionalityChange = 205;
constexpr DISPID kOnQuickGroupChange = 206;

const wchar_t kPageUrl[] = L"http://exhaustion.test/dir/page.html";
const char kPage[] = R"(<html><head><title>Page</title></head><body>
<p><a href="one.html">one</a> <a href="http://other.test/two">two</a> <a href="#top">top</a></p>
<p><img src="banner.gif" width="468" height="60"> <a href="three.html"><b>three</b></a></p>
</body></html>)";

// The library loaded, the reference application running in this process, and a browser showing a page in
// a window of its own: what every call of the table may use.
struct TScene {
    TLibrary Library;
    ComPtr<keptor::TKeptorServer> Server = keptor::TKeptorServer::Create();
    std::shared_ptr<TTestDom> Dom = std::make_shared<TTestDom>();
    HWND PageWindow = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 320, 200, nullptr, nullptr,
                                        ::GetModuleHandleW(nullptr), nullptr);
    ComPtr<IHTMLDocument2> Document;
    ComPtr<TTestBrowser> Browser = TTestBrowser::Create();
    // What the calls made: released before the library is unloaded.
    std::vector<ComPtr<IUnknown>> Made;
    std::vector<std::unique_ptr<TLibraryBand>> Bands;

    TScene() {
        Server->Archive().ScreenShot = {true, 100, 6, true, 25, 6};
        Server->Archive().QuickGroups = {{L"X", true, {{L"x1", L"http://x.test/1"}}}, {L"Y", true, {}}};
        Server->RegisterRunning();
        Dom->Window = PageWindow;
        Document = LoadTestDocument(Dom, kPage, kPageUrl);
        Browser->SetDocument(Document.Get());
    }
    ~TScene() {
        Bands.clear();
        Made.clear();
        Browser.Reset();
        Document.Reset();
        Server->RevokeRunning();
        Server.Reset();
        if (PageWindow)
            ::DestroyWindow(PageWindow);
    }

    ComPtr<IClassFactory> Factory(const CLSID& clsid) const {
        ComPtr<IClassFactory> factory;
        Library.GetClassObject(clsid, IID_PPV_ARGS(&factory));
        return factory;
    }
    template <typename T> ComPtr<T> Object(const CLSID& clsid) {
        ComPtr<T> object;
        if (ComPtr<IClassFactory> factory = Factory(clsid))
            factory->CreateInstance(nullptr, IID_PPV_ARGS(&object));
        Made.push_back(object);
        return object;
    }
    // A band of the class sited with its form (the failure of making or siting it, else S_OK).
    HRESULT SiteBand(const CLSID& clsid) {
        ComPtr<IClassFactory> factory = Factory(clsid);
        ComPtr<IDeskBand> band;
        const HRESULT made = factory ? factory->CreateInstance(nullptr, IID_PPV_ARGS(&band)) : E_FAIL;
        if (FAILED(made))
            return made;
        Bands.push_back(std::make_unique<TLibraryBand>(band));
        return Bands.back()->SiteResult;
    }
    IUnknown* ServerObject() const { return static_cast<IGUIServer*>(Server.Get()); }
};

void HandleQueuedMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

// An entry point: `Prepare` makes what it needs (allocation works then) and gives the call itself, which
// runs while allocation fails and once more after.
struct TEntryPoint {
    const char* Name;
    std::function<std::function<HRESULT()>(TScene&)> Prepare;
};

TVariant DocumentVariant(const TScene& scene) {
    return TVariant(static_cast<IDispatch*>(scene.Document.Get()));
}

// CreateInstance of the class's factory.
TEntryPoint Creating(const char* name, const CLSID& clsid) {
    return {name, [&clsid](TScene& scene) -> std::function<HRESULT()> {
                return [&scene, factory = scene.Factory(clsid)] {
                    ComPtr<IUnknown> object;
                    const HRESULT result = factory->CreateInstance(nullptr, IID_PPV_ARGS(&object));
                    scene.Made.push_back(object);
                    return result;
                };
            }};
}

// An event of the application while a band of the class is sited and connected.
TEntryPoint Firing(const char* name, DISPID event, const CLSID& band) {
    return {name, [event, &band](TScene& scene) -> std::function<HRESULT()> {
                scene.SiteBand(band);
                return [&scene, event] {
                    const HRESULT result = scene.Server->Fire(event, {});
                    HandleQueuedMessages();
                    return result;
                };
            }};
}

const TEntryPoint kEntryPoints[] = {
    {"DllGetClassObject",
     [](TScene& scene) {
         return [&scene] {
             ComPtr<IClassFactory> factory;
             return scene.Library.GetClassObject(CLSID_IEHKepUtils, IID_PPV_ARGS(&factory));
         };
     }},
    Creating("CreateInstance ZorbexExplorerBar", CLSID_ZorbexExplorerBar),
    Creating("CreateInstance IEHKepUtils", CLSID_IEHKepUtils),
    Creating("CreateInstance IEHelperBHOGUI", CLSID_IEHelperBHOGUI),
    Creating("CreateInstance TrovellaQLToolbar", CLSID_TrovellaQLToolbar),
    {"main toolbar band sited with its form",
     [](TScene& scene) { return [&scene] { return scene.SiteBand(CLSID_ZorbexExplorerBar); }; }},
    {"quick-link band sited with its form",
     [](TScene& scene) { return [&scene] { return scene.SiteBand(CLSID_TrovellaQLToolbar); }; }},
    {"IEHKepUtils.OpenLinks",
     [](TScene& scene) {
         return [&scene, utils = scene.Object<IIEHKepUtils>(CLSID_IEHKepUtils)] {
             return utils->OpenLinks(DocumentVariant(scene).Get(), 0);
         };
     }},
    {"IEHKepUtils.AddLinks",
     [](TScene& scene) {
         return [&scene, utils = scene.Object<IIEHKepUtils>(CLSID_IEHKepUtils)] {
             return utils->AddLinks(DocumentVariant(scene).Get(), VARIANT_FALSE, TVariant().Get());
         };
     }},
    {"IEHKepUtils.AddBanners",
     [](TScene& scene) {
         return [&scene, utils = scene.Object<IIEHKepUtils>(CLSID_IEHKepUtils)] {
             return utils->AddBanners(DocumentVariant(scene).Get(), TVariant().Get());
         };
     }},
    {"IEHKepUtils.HighlightDocument",
     [](TScene& scene) {
         return [&scene, utils = scene.Object<IIEHKepUtils>(CLSID_IEHKepUtils)] {
             return utils->HighlightDocument(1, scene.Document.Get(), scene.ServerObject());
         };
     }},
    {"IEHKepUtils.CaptureScreenShot",
     [](TScene& scene) {
         return [&scene, utils = scene.Object<IIEHKepUtils>(CLSID_IEHKepUtils)] {
             return utils->CaptureScreenShot(static_cast<IWebBrowser2*>(scene.Browser.Get()), VARIANT_TRUE,
                                             scene.ServerObject());
         };
     }},
    {"IEHelperBHOGUI.MouseOverLink",
     [](TScene& scene) {
         return [&scene, hint = scene.Object<IIEHelperBHOGUI>(CLSID_IEHelperBHOGUI)] {
             TBStr url(L"http://exhaustion.test/dir/one.html");
             const HRESULT result = hint->MouseOverLink(static_cast<long>(reinterpret_cast<LONG_PTR>(scene.PageWindow)),
                                                        10, 10, url.Get(), scene.ServerObject());
             hint->MouseOutLink();
             return result;
         };
     }},
    Firing("application event OnQuickGroupChange", kOnQuickGroupChange, CLSID_TrovellaQLToolbar),
    Firing("application event OnSettingsChange", kOnSettingsChange, CLSID_ZorbexExplorerBar),
    Firing("application event OnFunctionalityChange", kOnFunctionalityChange, CLSID_ZorbexExplorerBar),
};

// What one run gave: the call's result while allocation failed, the allocations it asked for, and its
// result once allocation worked again.
struct TRun {
    HRESULT Failing = S_OK;
    long Asked = 0;
    HRESULT Again = S_OK;
    bool Unloaded = false;
};

// Loads the library, prepares the entry point, runs its call with `granted` allocations (-1: all), runs it
// again with all, releases everything and unloads.
TRun RunEntryPoint(const TEntryPoint& entry, long granted) {
    SCOPED_TRACE("allocations granted: " + std::to_string(granted));
    TRun run;
    const std::wstring dll = DllPath();
    {
        TScene scene;
        if (!scene.Library.Module())
            return run;
        std::function<HRESULT()> call = entry.Prepare(scene);
        {
            TCountedAllocation counted(scene.Library.Module());
            EXPECT_TRUE(counted.Applied()) << "the library imports malloc from msvcrt.dll";
            Asked = 0;
            Granted = granted;
            run.Failing = call();
            run.Asked = Asked;
            Granted = -1;
            run.Again = call();
        }
        call = nullptr; // with what it holds (a factory)
        scene.Bands.clear();
        scene.Made.clear();
        HandleQueuedMessages();
        EXPECT_EQ(S_OK, scene.Library.CanUnloadNow()) << entry.Name << ": something was left behind";
    }
    run.Unloaded = !::GetModuleHandleW(dll.c_str());
    return run;
}

// Which allocations are made to fail: every one of the first ones, and an even spread of the rest up to the
// last (a screenshot makes some 1,500). Under an emulator (the 32-bit suite on a 64-bit-only host) fewer.
std::vector<long> FailingIndexes(long count) {
    const char* mode = std::getenv("ZORBEX_X86_MODE");
    const bool emulated = !kIs64Bit && mode && std::string(mode) == "qemu";
    const long every = emulated ? 24 : 64;
    const long spread = emulated ? 8 : 32;
    std::vector<long> indexes;
    for (long index = 1; index <= std::min(count, every); ++index)
        indexes.push_back(index);
    for (long step = 1; step <= spread && count > every; ++step) {
        const long index = every + (count - every) * step / spread;
        if (index > indexes.back())
            indexes.push_back(index);
    }
    return indexes;
}

// "0x8007000E" for E_OUTOFMEMORY and so on: the codes as the note lists them.
std::string CodeText(HRESULT code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return code == S_OK ? "S_OK" : code == E_OUTOFMEMORY ? "E_OUTOFMEMORY" : text;
}

TEST(ExhaustionTest, EveryEntryPointSurvivesEachOfItsAllocationsFailing) {
    const HMODULE runtime = ::GetModuleHandleW(L"msvcrt.dll");
    ASSERT_TRUE(runtime);
    const auto load = [runtime](const char* name, auto& target) {
        const FARPROC proc = ::GetProcAddress(runtime, name);
        std::memcpy(&target, &proc, sizeof(target));
    };
    load("malloc", RealMalloc);
    load("calloc", RealCalloc);
    load("realloc", RealRealloc);
    ASSERT_TRUE(RealMalloc && RealCalloc && RealRealloc);

    TBoxAnswerer boxes;
    // The process's own first-use costs (the running object table, a message box, the reference server's
    // windows) are paid before the first figures: a failing run and a clean one.
    RunEntryPoint(kEntryPoints[1], 0);
    RunEntryPoint(kEntryPoints[std::size(kEntryPoints) - 1], -1);
    const TSessionFigures before = SessionFigures();
    for (const TEntryPoint& entry : kEntryPoints) {
        SCOPED_TRACE(entry.Name);
        const TRun clean = RunEntryPoint(entry, -1);
        std::printf("%s: %ld allocations\n", entry.Name, clean.Asked);
        std::fflush(stdout);
        EXPECT_TRUE(clean.Unloaded);
        EXPECT_EQ(clean.Failing, clean.Again) << "the same call twice gives the same result";
        // Results by the failing allocation's index, in runs of the same result: "1-12 E_OUTOFMEMORY".
        std::string table;
        HRESULT last = S_OK;
        long runStart = 0, runEnd = 0;
        auto endRun = [&] {
            if (runStart)
                table += " " + std::to_string(runStart) + (runEnd > runStart ? "-" + std::to_string(runEnd) : "") + " " +
                         CodeText(last);
        };
        for (long index : FailingIndexes(clean.Asked)) {
            const TRun run = RunEntryPoint(entry, index - 1);
            EXPECT_TRUE(run.Failing == clean.Failing || FAILED(run.Failing))
                << "allocation " << index << ": " << CodeText(run.Failing);
            EXPECT_EQ(clean.Failing, run.Again) << "allocation " << index << ": the call once allocation works again";
            EXPECT_TRUE(run.Unloaded) << "allocation " << index;
            if (run.Failing != last || !runStart) {
                endRun();
                last = run.Failing;
                runStart = index;
            }
            runEnd = index;
        }
        endRun();
        std::printf("%-40s %4ld allocations, result %s; failing allocation:%s\n", entry.Name, clean.Asked,
                    CodeText(clean.Failing).c_str(), table.empty() ? " (none)" : table.c_str());
    }
    const TSessionFigures after = SessionFigures();
    EXPECT_LE(after.LowestFreeTlsSlot, before.LowestFreeTlsSlot);
    EXPECT_LE(after.NextHandle, before.NextHandle);
}

} // namespace
