// The reference Keptor server for tests: its type library, and KeptorServer.exe as a child process that
// signals an event once it is in the running object table, so a test never polls for it.
#include "support/KeptorProcessUnit.h"

#include <cstdlib>

#include "support/EnvironmentUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex::test {
namespace {

constexpr DWORD kStartTimeout = 30000;
constexpr DWORD kQuitTimeout = 10000;
// The child's own limit, so that nothing outlives a test run even when a test hangs.
constexpr wchar_t kChildIdleSeconds[] = L"120";

// A Unix path from the environment as a Windows path; empty when it is not set.
std::wstring EnvironmentPath(const char* name) {
    const char* path = std::getenv(name);
    return path && *path ? WindowsPath(path) : std::wstring();
}

// Waits for a handle while pumping this thread's messages (COM calls into this apartment).
bool PumpUntil(HANDLE handle, DWORD milliseconds) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= milliseconds)
            return ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
        DWORD wait = ::MsgWaitForMultipleObjects(1, &handle, FALSE, milliseconds - elapsed, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0)
            return true;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
}

} // namespace

ComPtr<ITypeLib> KeptorTypeLib() {
    ComPtr<ITypeLib> library;
    std::wstring path = EnvironmentPath("ZORBEX_KEPTOR_TLB");
    if (!path.empty())
        ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    return library;
}

TKeptorProcess::TKeptorProcess(const std::wstring& arguments) {
    static LONG counter = 0;
    const std::wstring eventName = L"ZorbexKeptorReady-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(::InterlockedIncrement(&counter));
    TKernelHandle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    const std::wstring exe = EnvironmentPath("ZORBEX_KEPTOR_EXE");
    if (!ready || exe.empty())
        return;
    std::wstring commandLine = L"\"" + exe + L"\" --ready-event " + eventName + L" --parent " +
                               std::to_wstring(::GetCurrentProcessId()) + L" --idle-seconds " +
                               kChildIdleSeconds;
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info))
        return;
    ProcessHandle.Reset(info.hProcess);
    TKernelHandle thread(info.hThread);

    HANDLE handles[2] = {ready.Get(), ProcessHandle.Get()};
    if (::WaitForMultipleObjects(2, handles, FALSE, kStartTimeout) != WAIT_OBJECT_0)
        return;
    ComPtr<IUnknown> running;
    if (FAILED(::GetActiveObject(CLSID_TrovellaServer, nullptr, &running)))
        return;
    ComPtr<IKeptorControl> control;
    LONG processId = 0;
    if (SUCCEEDED(running.As(&control)) && SUCCEEDED(control->GetProcessId(&processId)) &&
        static_cast<DWORD>(processId) == info.dwProcessId)
        ControlRef = std::move(control);
}

TKeptorProcess::~TKeptorProcess() {
    if (!ProcessHandle)
        return;
    if (ControlRef && ::WaitForSingleObject(ProcessHandle.Get(), 0) == WAIT_TIMEOUT)
        ControlRef->Quit(VARIANT_TRUE);
    ControlRef.Reset();
    if (!WaitForExit(kQuitTimeout))
        Kill();
}

ComPtr<IGUIServer> TKeptorProcess::Server() const {
    ComPtr<IUnknown> running;
    ComPtr<IGUIServer> server;
    if (SUCCEEDED(::GetActiveObject(CLSID_TrovellaServer, nullptr, &running)))
        running.As(&server);
    return server;
}

bool TKeptorProcess::WaitForExit(DWORD milliseconds) {
    return ProcessHandle && PumpUntil(ProcessHandle.Get(), milliseconds);
}

DWORD TKeptorProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (ProcessHandle)
        ::GetExitCodeProcess(ProcessHandle.Get(), &code);
    return code;
}

void TKeptorProcess::Kill() {
    if (!ProcessHandle)
        return;
    ::TerminateProcess(ProcessHandle.Get(), 99);
    ::WaitForSingleObject(ProcessHandle.Get(), 5000);
    WaitUntilUnregistered();
}

// A killed server cannot revoke its running-object-table entry; the table drops it a moment later, once
// it notices the process is gone. Until then a new registration is only added beside the dead one (and
// GetActiveObject may still find the dead one first), so the next test waits here for the table.
void TKeptorProcess::WaitUntilUnregistered() {
    ComPtr<IRunningObjectTable> table;
    ComPtr<IMoniker> moniker;
    wchar_t clsid[40] = {};
    if (FAILED(::GetRunningObjectTable(0, &table)) || !::StringFromGUID2(CLSID_TrovellaServer, clsid, 40) ||
        FAILED(::CreateItemMoniker(L"!", clsid, &moniker)))
        return;
    const DWORD start = ::GetTickCount();
    while (table->IsRunning(moniker.Get()) == S_OK && ::GetTickCount() - start < kQuitTimeout) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&message);
        ::Sleep(20);
    }
}

} // namespace zorbex::test
