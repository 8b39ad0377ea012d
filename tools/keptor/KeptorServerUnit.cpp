// The reference Keptor server as a COM object: creation, its IDispatch, the common part of its calls,
// the IGUIServerEvents connection point (sinks in a slot array, cookie = slot + 1), firing events, the
// running object table, quitting and dying. Its answers are in KeptorAnswersUnit, its control surface in
// KeptorControlUnit, the archive it keeps in KeptorArchiveUnit.
#include "KeptorServerUnit.h"

#include "KeptorCallsUnit.h"

#include <algorithm>
#include <memory>

#include <olectl.h>

#include "com/ErrorsUnit.h"
#include "com/RegistryUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex::keptor {

using namespace detail;

namespace {

constexpr wchar_t kWindowClass[] = L"ZorbexKeptorServerWindow";

} // namespace

ComPtr<ITypeLib> LoadKeptorTypeLib(const std::wstring& path) {
    ComPtr<ITypeLib> library;
    OleCheck(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library));
    return library;
}

// --- creation and identity

namespace {

const TInterfaceEntry kServerInterfaces[] = {
    InterfaceEntry<TKeptorServer, IDispatch, IGUIServer>(IID_IDispatch),
    InterfaceEntry<TKeptorServer, IGUIServer>(IID_IGUIServer),
    InterfaceEntry<TKeptorServer, IConnectionPointContainer>(IID_IConnectionPointContainer),
    InterfaceEntry<TKeptorServer, IConnectionPoint>(IID_IConnectionPoint),
    InterfaceEntry<TKeptorServer, IKeptorControl>(IID_IKeptorControl),
};

} // namespace

ComPtr<TKeptorServer> TKeptorServer::Create(ComPtr<ITypeLib> typeLib) {
    return ComPtr<TKeptorServer>(new TKeptorServer(std::move(typeLib)));
}

TKeptorServer::TKeptorServer(ComPtr<ITypeLib> typeLib)
    : TComObject(TModuleCount::None, kServerInterfaces, nullptr), TypeLib(std::move(typeLib)) {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    ::RegisterClassW(&windowClass); // fails harmlessly when a previous server registered it
    Window.Reset(
        ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr));
    if (Window)
        ::SetWindowLongPtrW(Window.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    LastActivityTick = ::GetTickCount();
}

TKeptorServer::~TKeptorServer() {
    if (Window)
        ::SetWindowLongPtrW(Window.Get(), GWLP_USERDATA, 0);
}

// --- IDispatch, served from the KeptorServer type library

ITypeInfo* TKeptorServer::DispatchTypeInfo() {
    if (!InterfaceInfo) {
        if (!TypeLib)
            RaiseComError(E_NOTIMPL);
        ComPtr<ITypeInfo> dispatchInfo;
        OleCheck(TypeLib->GetTypeInfoOfGuid(IID_IGUIServer, &dispatchInfo));
        HREFTYPE ref = 0;
        OleCheck(dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
        OleCheck(dispatchInfo->GetRefTypeInfo(ref, &InterfaceInfo));
    }
    return InterfaceInfo.Get();
}

STDMETHODIMP TKeptorServer::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = TypeLib ? 1 : 0;
    return S_OK;
}

STDMETHODIMP TKeptorServer::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    if (!TypeLib)
        return E_NOTIMPL;
    return TypeLib->GetTypeInfoOfGuid(IID_IGUIServer, info);
}

STDMETHODIMP TKeptorServer::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return ResultOr(E_NOTIMPL, [&] { return ::DispGetIDsOfNames(DispatchTypeInfo(), names, count, ids); });
}

STDMETHODIMP TKeptorServer::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) {
    if (iid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    return ResultOr(E_NOTIMPL, [&] {
        return ::DispInvoke(static_cast<IGUIServer*>(this), DispatchTypeInfo(), id, flags, params, result,
                            exception, argError);
    });
}

// --- the common part of every call (Serve and Control are in KeptorCallsUnit)

HRESULT TKeptorServer::InjectedFailure(int slot) {
    if (Dead)
        return RPC_E_DISCONNECTED;
    for (long key : {static_cast<long>(slot), kAnySlot}) {
        auto once = FailOnce.find(key);
        if (once != FailOnce.end()) {
            HRESULT result = once->second;
            FailOnce.erase(once);
            return result;
        }
    }
    for (long key : {static_cast<long>(slot), kAnySlot}) {
        auto every = FailEvery.find(key);
        if (every != FailEvery.end())
            return every->second;
    }
    return S_OK;
}


// --- IConnectionPointContainer and the connection point

STDMETHODIMP TKeptorServer::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (points)
        *points = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TKeptorServer::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (!point)
        return E_POINTER;
    *point = nullptr;
    if (iid != DIID_IGUIServerEvents)
        return CONNECT_E_NOCONNECTION;
    *point = this;
    AddRef();
    return S_OK;
}

STDMETHODIMP TKeptorServer::GetConnectionInterface(IID* iid) {
    if (!iid)
        return E_POINTER;
    *iid = DIID_IGUIServerEvents;
    return S_OK;
}

STDMETHODIMP TKeptorServer::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container)
        return E_POINTER;
    *container = this;
    AddRef();
    return S_OK;
}

STDMETHODIMP TKeptorServer::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie)
        return E_POINTER;
    *cookie = 0;
    if (!sink)
        return E_POINTER;
    Log.push_back(L"Advise");
    ComPtr<IDispatch> dispatch;
    if (FAILED(
            sink->QueryInterface(DIID_IGUIServerEvents, reinterpret_cast<void**>(dispatch.GetAddressOf()))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf()))))
        return CONNECT_E_CANNOTCONNECT;
    auto slot = std::find_if(Sinks.begin(), Sinks.end(), [](const TSink& s) { return !s.Events; });
    if (slot == Sinks.end())
        slot = Sinks.insert(Sinks.end(), TSink{});
    *slot = TSink{sink, std::move(dispatch)};
    *cookie = static_cast<DWORD>(slot - Sinks.begin()) + 1;
    return S_OK;
}

STDMETHODIMP TKeptorServer::Unadvise(DWORD cookie) {
    Log.push_back(L"Unadvise");
    if (cookie == 0 || cookie > Sinks.size() || !Sinks[cookie - 1].Events)
        return CONNECT_E_NOCONNECTION;
    TSink sink = std::exchange(Sinks[cookie - 1], TSink{}); // released after the slot is clear
    return S_OK;
}

STDMETHODIMP TKeptorServer::EnumConnections(IEnumConnections** connections) {
    if (connections)
        *connections = nullptr;
    return E_NOTIMPL;
}

long TKeptorServer::SinkCount() const {
    return static_cast<long>(AdvisedSinks().size());
}

std::vector<IUnknown*> TKeptorServer::AdvisedSinks() const {
    std::vector<IUnknown*> sinks;
    for (const TSink& sink : Sinks)
        if (sink.Events)
            sinks.push_back(sink.Advised.Get());
    return sinks;
}

// --- events

HRESULT TKeptorServer::Fire(DISPID dispid, std::vector<TVariant> args, std::vector<DISPID> named,
                            WORD flags) {
    if (Dead)
        return S_FALSE;
    DISPPARAMS params{args.empty() ? nullptr : reinterpret_cast<VARIANT*>(args.data()),
                      named.empty() ? nullptr : named.data(), static_cast<UINT>(args.size()),
                      static_cast<UINT>(named.size())};
    const auto sinks = Sinks; // a sink may unadvise while it is called
    HRESULT result = S_FALSE;
    for (const auto& sink : sinks) {
        if (!sink.Events)
            continue;
        HRESULT hr =
            sink.Events->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, nullptr, nullptr, nullptr);
        if (result == S_FALSE)
            result = S_OK;
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    return result;
}

void TKeptorServer::FireLater(DISPID dispid, std::vector<TVariant> args, std::vector<DISPID> named,
                              WORD flags) {
    auto event =
        std::make_shared<TPendingEvent>(TPendingEvent{dispid, std::move(args), std::move(named), flags});
    PendingActions.push_back(
        [this, event] { Fire(event->Dispid, std::move(event->Args), event->Named, event->Flags); });
    ::PostMessageW(Window.Get(), kRunPostedMessage, 0, 0);
}

void TKeptorServer::RunPosted() {
    auto actions = std::move(PendingActions);
    PendingActions.clear();
    for (auto& action : actions)
        Guarded(action);
}

LRESULT CALLBACK TKeptorServer::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunPostedMessage) {
        if (auto* server = reinterpret_cast<TKeptorServer*>(::GetWindowLongPtrW(window, GWLP_USERDATA))) {
            ComPtr<TKeptorServer> keep(server);
            server->RunPosted();
        }
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// --- running object table

HRESULT TKeptorServer::RegisterRunning() {
    if (RotCookie)
        return S_FALSE;
    Guarded([] {
        CreateRegKey(HKEY_CLASSES_ROOT, kProgID, L"", L"Keptor application server");
        CreateRegKey(HKEY_CLASSES_ROOT, std::wstring(kProgID) + L"\\CLSID", L"",
                     GuidToString(CLSID_TrovellaServer));
    });
    return ::RegisterActiveObject(static_cast<IGUIServer*>(this), CLSID_TrovellaServer, ACTIVEOBJECT_STRONG,
                                  &RotCookie);
}

void TKeptorServer::RevokeRunning() {
    if (DWORD cookie = std::exchange(RotCookie, 0))
        ::RevokeActiveObject(cookie, nullptr);
}

void TKeptorServer::DoQuit() {
    ComPtr<TKeptorServer> keep(this);
    Fire(kOnQuit, {});
    RevokeRunning();
    if (OnQuitRequested)
        OnQuitRequested();
}

void TKeptorServer::DoDie(UINT exitCode) {
    ComPtr<TKeptorServer> keep(this);
    if (OnDieRequested)
        OnDieRequested(exitCode);
    RevokeRunning();
    Dead = true;
}


} // namespace zorbex::keptor
