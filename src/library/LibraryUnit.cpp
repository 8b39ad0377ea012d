// Library entry: DllMain and the four exported COM entry points of ZorbexGUI.dll. This unit alone is
// linked into the DLL itself (the tests link the rest of the library), so what only the DLL does lives
// here: creating the class registry at load, and the exports, which hand everything else to the
// com layer.
#include <windows.h>
#include <objbase.h>

#include "library/ClassRegistryUnit.h"
#include "com/ComFactoryUnit.h"
#include "com/ComServerUnit.h"
#include "com/DiagnosticsUnit.h"
#include "com/ErrorsUnit.h"
#include "com/RuntimeSupportUnit.h"
#include "com/ThreadSlotUnit.h"

using namespace zorbex;

namespace {
bool ClassesCreated = false;
}

// A browser loads and unloads the library all day, and makes and ends threads all day: what a load takes
// is given back at its unload, and what a thread's use took is given back when the thread ends (which is
// why the library hears of every thread: no DisableThreadLibraryCalls).
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        // First what a raised error needs: without it no error could be raised safely later.
        if (!ReserveRuntimeState())
            return FALSE;
        // The load fails as a whole, with its cause in the failure trace.
        if (!Guarded([] {
                ComServer();
                CreateClassFactories();
            }))
            return FALSE;
        ClassesCreated = true;
        break;
    case DLL_THREAD_DETACH:
        TThreadStore::ThreadEnded();
        break;
    case DLL_PROCESS_DETACH:
        // At process exit (reserved set) the process is going away: leave everything as it is.
        if (reserved)
            break;
        if (ClassesCreated)
            DestroyClassFactories();
        FlushTrace();
        ReleaseRuntimeState();
        break;
    default:
        break;
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return RegisterServer(false);
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    return RegisterServer(true);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return CanUnloadModule() ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    TComObjectFactory* factory = ComClassManager().Find(clsid);
    if (!factory)
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(iid, object);
}
