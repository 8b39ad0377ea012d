// KeptorServer.exe: the reference Keptor server as its own process, for cross-process tests and the
// demo. Registers its type libraries (carried as resources "TYPELIB" 1 and 2), puts the server in the
// running object table, serves calls in a single-threaded apartment and ends on Quit, Die, the end of
// its parent process, or after an idle time.
//
//   KeptorServer.exe [--demo] [--ready-event NAME] [--parent PID] [--idle-seconds N]
//                    [--screenshots DIR] [--start-message THREADID]
#include <windows.h>
#include <ole2.h>
#include <wrl/client.h>

#include <cwchar>
#include <string>
#include <vector>

#include "KeptorServerUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::keptor;

namespace {

constexpr DWORD kDefaultIdleSeconds = 600;
constexpr DWORD kDieReplyDelay = 200;

struct TOptions {
    bool Demo = false;
    std::wstring ReadyEvent;
    DWORD ParentId = 0;
    DWORD IdleSeconds = kDefaultIdleSeconds; // 0: no idle limit
    std::wstring ScreenShotDirectory;
    std::vector<DWORD> StartMessageThreads;
};

bool ParseOptions(int argc, wchar_t** argv, TOptions& options) {
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        auto next = [&]() -> const wchar_t* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == L"--demo")
            options.Demo = true;
        else if (arg == L"--ready-event" && i + 1 < argc)
            options.ReadyEvent = next();
        else if (arg == L"--parent" && i + 1 < argc)
            options.ParentId = std::wcstoul(next(), nullptr, 10);
        else if (arg == L"--idle-seconds" && i + 1 < argc)
            options.IdleSeconds = std::wcstoul(next(), nullptr, 10);
        else if (arg == L"--screenshots" && i + 1 < argc)
            options.ScreenShotDirectory = next();
        else if (arg == L"--start-message" && i + 1 < argc)
            options.StartMessageThreads.push_back(std::wcstoul(next(), nullptr, 10));
        else {
            std::fwprintf(stderr, L"KeptorServer: unknown argument %ls\n", arg.c_str());
            return false;
        }
    }
    return true;
}

std::wstring ExePath() {
    std::vector<wchar_t> buffer(MAX_PATH * 4);
    DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::wstring(buffer.data(), length);
}

// Registers the type library held as resource "TYPELIB" index, so that COM marshals its interfaces
// between processes; returns the library.
ComPtr<ITypeLib> RegisterResourceTypeLib(int index) {
    const std::wstring path = ExePath() + L"\\" + std::to_wstring(index);
    ComPtr<ITypeLib> library;
    HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (SUCCEEDED(hr))
        hr = ::RegisterTypeLib(library.Get(), const_cast<OLECHAR*>(path.c_str()), nullptr);
    if (FAILED(hr)) {
        std::fwprintf(stderr, L"KeptorServer: type library %ls: 0x%08lX\n", path.c_str(),
                      static_cast<unsigned long>(hr));
        return nullptr;
    }
    return library;
}

int Run(const TOptions& options) {
    ComPtr<ITypeLib> serverLib = RegisterResourceTypeLib(1);
    ComPtr<ITypeLib> controlLib = RegisterResourceTypeLib(2);
    if (!serverLib || !controlLib)
        return 3;

    TKernelHandle parent;
    if (options.ParentId) {
        parent.Reset(::OpenProcess(SYNCHRONIZE, FALSE, options.ParentId));
        if (!parent) {
            std::fwprintf(stderr, L"KeptorServer: parent process %lu is gone\n", options.ParentId);
            return 4;
        }
    }

    ComPtr<TKeptorServer> server = TKeptorServer::Create(serverLib);
    if (options.Demo)
        server->SeedDemoArchive();
    server->Archive().ScreenShotDirectory = options.ScreenShotDirectory;
    server->OnQuitRequested = [] { ::PostQuitMessage(0); };
    // Die runs after its call has returned, but the reply leaves from COM's own thread: give it a moment
    // so that the caller sees S_OK and only its later calls fail.
    server->OnDieRequested = [](UINT exitCode) {
        ::Sleep(kDieReplyDelay);
        ::TerminateProcess(::GetCurrentProcess(), exitCode);
    };

    HRESULT hr = server->RegisterRunning();
    if (FAILED(hr)) {
        std::fwprintf(stderr, L"KeptorServer: RegisterActiveObject: 0x%08lX\n",
                      static_cast<unsigned long>(hr));
        return 5;
    }
    for (DWORD thread : options.StartMessageThreads)
        ::PostThreadMessageW(thread, kStartMessage, 0, 0);
    if (!options.ReadyEvent.empty()) {
        TKernelHandle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, options.ReadyEvent.c_str()));
        if (ready)
            ::SetEvent(ready.Get());
    }

    for (bool running = true; running;) {
        HANDLE handles[1] = {parent.Get()};
        DWORD wait = ::MsgWaitForMultipleObjects(parent ? 1 : 0, handles, FALSE, 1000, QS_ALLINPUT);
        if (parent && wait == WAIT_OBJECT_0)
            break;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                running = false;
                break;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (running && options.IdleSeconds &&
            ::GetTickCount() - server->LastActivity() > options.IdleSeconds * 1000) {
            server->Quit(VARIANT_FALSE); // OnQuit to any sink left, then WM_QUIT
        }
    }
    // After Quit this repeats nothing; after the parent ended, nobody is left to tell.
    server->RevokeRunning();
    ::CoDisconnectObject(static_cast<IGUIServer*>(server.Get()), 0);
    server->OnQuitRequested = nullptr;
    server->OnDieRequested = nullptr;
    server.Reset();
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    TOptions options;
    if (!ParseOptions(argc, argv, options))
        return 2;
    if (FAILED(::OleInitialize(nullptr)))
        return 1;
    int result = Run(options);
    ::OleUninitialize();
    return result;
}
