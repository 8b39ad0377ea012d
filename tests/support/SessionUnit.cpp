// One cycle of the session (SessionUnit.h) and the figures of the process between cycles.
#include "support/SessionUnit.h"

#include <objbase.h>
#include <ole2.h>
#include <tlhelp32.h>
#include <wrl/client.h>

#include <functional>
#include <memory>

#include "KeptorServerUnit.h"
#include "com/ZorbexGUI_TLB.h"
#include "support/BrowserHostUnit.h"
#include "support/EnvironmentUnit.h"
#include "support/TestDocumentUnit.h"
#include "support/TestThreadUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex::test {

namespace {

const CLSID* const kClasses[] = {&CLSID_ZorbexExplorerBar, &CLSID_IEHKepUtils, &CLSID_IEHelperBHOGUI,
                                 &CLSID_TrovellaQLToolbar};

// Handles what is in this thread's queue now, without waiting for more.
void HandleQueuedMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

// The four objects of the loaded library, made through its factories.
bool MakeObjects(const TLibrary& library, ComPtr<IUnknown> (&objects)[4], std::string& error) {
    for (size_t i = 0; i < std::size(kClasses); ++i) {
        ComPtr<IClassFactory> factory;
        if (FAILED(library.GetClassObject(*kClasses[i], IID_PPV_ARGS(&factory))) ||
            FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&objects[i])))) {
            error = "an object of class " + std::to_string(i) + " could not be made";
            return false;
        }
    }
    return true;
}

// A screenshot of a page (a 320 × 200 window of the test document model) for the in-process reference
// server, through the page-utilities object; then a call that fails inside the library.
bool UsePageObject(IUnknown* object, std::string& error) {
    ComPtr<IIEHKepUtils> utils;
    if (FAILED(object->QueryInterface(IID_PPV_ARGS(&utils)))) {
        error = "the page-utilities object has no IIEHKepUtils";
        return false;
    }
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 320, 200, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
    bool done = false;
    {
        ComPtr<keptor::TKeptorServer> server = keptor::TKeptorServer::Create();
        server->Archive().ScreenShot = {true, 100, 6, true, 25, 6};
        auto dom = std::make_shared<TTestDom>();
        dom->Window = window;
        ComPtr<IHTMLDocument2> document = LoadTestDocument(dom, "<p>page</p>", L"http://session.test/page.html");
        ComPtr<TTestBrowser> browser = TTestBrowser::Create();
        browser->SetDocument(document.Get());
        const HRESULT captured = utils->CaptureScreenShot(static_cast<IWebBrowser2*>(browser.Get()), VARIANT_TRUE,
                                                          static_cast<IGUIServer*>(server.Get()));
        done = SUCCEEDED(captured) && server->ScreenShots().size() == 2;
        if (!done)
            error = "the screenshot failed";
    }
    if (window)
        ::DestroyWindow(window);
    if (!done)
        return false;
    // Copying the argument raises inside the call, which answers with the failure.
    if (utils->OpenLinks(MalformedVariant(), 0) != DISP_E_BADVARTYPE) {
        error = "a malformed argument did not fail the call";
        return false;
    }
    return true;
}

} // namespace

TSessionFigures SessionFigures() {
    TSessionFigures figures;
    for (BYTE* address = nullptr;;) {
        MEMORY_BASIC_INFORMATION region{};
        if (!::VirtualQuery(address, &region, sizeof(region)))
            break;
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            figures.PrivateCommitted += region.RegionSize;
        BYTE* next = static_cast<BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    const DWORD slot = ::TlsAlloc();
    if (slot != TLS_OUT_OF_INDEXES)
        ::TlsFree(slot);
    figures.LowestFreeTlsSlot = slot;
    const TGuiObjectCounts gui = GuiObjectCounts();
    figures.Gdi = gui.Gdi;
    figures.User = gui.User;
    WNDCLASSW probe{};
    probe.lpfnWndProc = ::DefWindowProcW;
    probe.hInstance = ::GetModuleHandleW(nullptr);
    probe.lpszClassName = L"ZorbexSessionProbe";
    figures.NextClassAtom = ::RegisterClassW(&probe);
    ::UnregisterClassW(probe.lpszClassName, probe.hInstance);
    const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    figures.NextHandle = reinterpret_cast<UINT_PTR>(event);
    if (event)
        ::CloseHandle(event);
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 thread{};
        thread.dwSize = sizeof(thread);
        for (BOOL more = ::Thread32First(snapshot, &thread); more; more = ::Thread32Next(snapshot, &thread))
            figures.Threads += thread.th32OwnerProcessID == ::GetCurrentProcessId() ? 1u : 0u;
        ::CloseHandle(snapshot);
    }
    return figures;
}

bool RunSessionCycle(const std::wstring& dllPath, std::string& error) {
    {
        TLibrary library(dllPath);
        if (!library.Module()) {
            error = "the library did not load";
            return false;
        }
        ComPtr<IUnknown> objects[4];
        if (!MakeObjects(library, objects, error))
            return false;
        {
            ComPtr<IDeskBand> band;
            if (FAILED(objects[0].As(&band))) {
                error = "the main toolbar object is no band";
                return false;
            }
            TLibraryBand sited(band);
            if (FAILED(sited.SiteResult) || !sited.Window()) {
                error = "the band was not sited with its form";
                return false;
            }
            HandleQueuedMessages();
        }
        if (!UsePageObject(objects[1].Get(), error))
            return false;

        // Another browser thread does the same with objects of its own, then ends.
        std::string otherError;
        bool otherDone = false;
        {
            TTestThread other([&] {
                if (FAILED(::OleInitialize(nullptr))) {
                    otherError = "the second thread has no apartment";
                    return;
                }
                {
                    ComPtr<IUnknown> own[4];
                    otherDone = MakeObjects(library, own, otherError) && UsePageObject(own[1].Get(), otherError);
                    HandleQueuedMessages();
                }
                ::OleUninitialize();
            });
        }
        if (!otherDone) {
            error = "second thread: " + otherError;
            return false;
        }
        for (ComPtr<IUnknown>& object : objects)
            object.Reset();
        HandleQueuedMessages();
        if (library.CanUnloadNow() != S_OK) {
            error = "DllCanUnloadNow did not say yes";
            return false;
        }
    }
    if (::GetModuleHandleW(dllPath.c_str())) {
        error = "the library stayed loaded";
        return false;
    }
    return true;
}

} // namespace zorbex::test
