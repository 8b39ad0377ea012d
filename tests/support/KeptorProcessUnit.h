// The reference Keptor server for tests: its type library for the in-process server object, and
// KeptorServer.exe started as a child process, reached through the running object table.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <string>

#include "KeptorServerUnit.h"

namespace zorbex::test {

// The KeptorServer type library (from the path CTest sets in ZORBEX_KEPTOR_TLB), for the IDispatch
// side of an in-process TKeptorServer; nil when it cannot be loaded.
Microsoft::WRL::ComPtr<ITypeLib> KeptorTypeLib();

// KeptorServer.exe (path in ZORBEX_KEPTOR_EXE) as a child process. The constructor starts it and waits
// until it is registered in the running object table; the destructor asks it to quit and kills it when
// it does not end in time. The child also ends by itself when this process ends.
class TKeptorProcess {
public:
    explicit TKeptorProcess(const std::wstring& arguments = L"");
    TKeptorProcess(const TKeptorProcess&) = delete;
    TKeptorProcess& operator=(const TKeptorProcess&) = delete;
    ~TKeptorProcess();

    // True when the server registered itself and its control surface was obtained.
    bool Started() const { return ControlRef != nullptr; }
    IKeptorControl* Control() const { return ControlRef.Get(); }
    // A fresh IGUIServer reference of the running server (by class ID), or nil.
    Microsoft::WRL::ComPtr<IGUIServer> Server() const;
    HANDLE Process() const { return ProcessHandle.Get(); }
    // Waits for the process to end while pumping this thread's messages; true when it ended.
    bool WaitForExit(DWORD milliseconds);
    DWORD ExitCode() const;
    // Ends the process at once, and returns when the running object table no longer lists it.
    void Kill();

private:
    void WaitUntilUnregistered();

    TKernelHandle ProcessHandle;
    Microsoft::WRL::ComPtr<IKeptorControl> ControlRef;
};

} // namespace zorbex::test
