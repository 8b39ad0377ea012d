// The test browser host: the browser object records what the library asks of it and fires events to
// its sinks; the site answers the band's siting steps, each one withheld on request.
#include "support/BrowserHostUnit.h"

#include <exdispid.h>
#include <shlguid.h>

#include <new>

#include "com/ComSupportUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex::test {

// --- TTestBrowser --------------------------------------------------------------------------------

namespace {

const TInterfaceEntry kBrowserInterfaces[] = {
    InterfaceEntry<TTestBrowser, IDispatch>(IID_IDispatch),
    InterfaceEntry<TTestBrowser, IWebBrowser>(IID_IWebBrowser),
    InterfaceEntry<TTestBrowser, IWebBrowserApp>(IID_IWebBrowserApp),
    InterfaceEntry<TTestBrowser, IWebBrowser2>(IID_IWebBrowser2),
    InterfaceEntry<TTestBrowser, IConnectionPointContainer>(IID_IConnectionPointContainer),
    InterfaceEntry<TTestBrowser, IConnectionPoint>(IID_IConnectionPoint),
};

} // namespace

ComPtr<TTestBrowser> TTestBrowser::Create() {
    return ComPtr<TTestBrowser>(new TTestBrowser);
}

TTestBrowser::TTestBrowser() : TComObject(TModuleCount::None, kBrowserInterfaces, nullptr) {}

STDMETHODIMP TTestBrowser::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP TTestBrowser::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    return E_NOTIMPL;
}

STDMETHODIMP TTestBrowser::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

STDMETHODIMP TTestBrowser::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

STDMETHODIMP TTestBrowser::Navigate(BSTR url, VARIANT* flags, VARIANT* targetFrame, VARIANT* postData,
                                    VARIANT* headers) {
    Navigations.emplace_back(url ? url : L"");
    bool omitted = true;
    for (const VARIANT* argument : {flags, targetFrame, postData, headers})
        omitted = omitted && argument && V_VT(argument) == VT_ERROR && V_ERROR(argument) == DISP_E_PARAMNOTFOUND;
    NavigateArgumentsOmitted.push_back(omitted);
    if (OnNavigate) {
        const auto onNavigate = OnNavigate; // the hook may replace itself
        onNavigate(Navigations.back());
    }
    return NavigateResult;
}

STDMETHODIMP TTestBrowser::Quit() {
    ++QuitCount;
    return S_OK;
}

STDMETHODIMP TTestBrowser::Navigate2(VARIANT* url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) {
    Navigations.emplace_back(url && V_VT(url) == VT_BSTR && V_BSTR(url) ? V_BSTR(url) : L"");
    return S_OK;
}

STDMETHODIMP TTestBrowser::get_Document(IDispatch** document) {
    if (!document)
        return E_POINTER;
    *document = Document.Get();
    if (*document)
        (*document)->AddRef();
    return S_OK;
}

STDMETHODIMP TTestBrowser::get_LocationURL(BSTR* url) {
    if (!url)
        return E_POINTER;
    *url = ::SysAllocString(Location.c_str());
    return S_OK;
}

STDMETHODIMP TTestBrowser::get_Visible(VARIANT_BOOL* visible) {
    if (!visible)
        return E_POINTER;
    *visible = IsVisible;
    return S_OK;
}

STDMETHODIMP TTestBrowser::put_Visible(VARIANT_BOOL visible) {
    VisibleWrites.push_back(visible);
    if (FAILED(VisibleResult))
        return VisibleResult;
    IsVisible = visible;
    return S_OK;
}

STDMETHODIMP TTestBrowser::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (!point)
        return E_POINTER;
    *point = nullptr;
    if (RefuseConnectionPoint || iid != DIID_DWebBrowserEvents2)
        return CONNECT_E_NOCONNECTION;
    *point = this;
    AddRef();
    return S_OK;
}

STDMETHODIMP TTestBrowser::GetConnectionInterface(IID* iid) {
    if (!iid)
        return E_POINTER;
    *iid = DIID_DWebBrowserEvents2;
    return S_OK;
}

STDMETHODIMP TTestBrowser::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container)
        return E_POINTER;
    *container = this;
    AddRef();
    return S_OK;
}

STDMETHODIMP TTestBrowser::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie)
        return E_POINTER;
    *cookie = 0;
    if (RefuseAdvise)
        return CONNECT_E_CANNOTCONNECT;
    ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(DIID_DWebBrowserEvents2, reinterpret_cast<void**>(dispatch.GetAddressOf()))) &&
        FAILED(sink->QueryInterface(IID_PPV_ARGS(&dispatch))))
        return CONNECT_E_CANNOTCONNECT;
    for (size_t slot = 0; slot < Sinks.size(); ++slot)
        if (!Sinks[slot]) {
            Sinks[slot] = dispatch;
            *cookie = static_cast<DWORD>(slot + 1);
            return S_OK;
        }
    Sinks.push_back(dispatch);
    *cookie = static_cast<DWORD>(Sinks.size());
    return S_OK;
}

STDMETHODIMP TTestBrowser::Unadvise(DWORD cookie) {
    if (cookie == 0 || cookie > Sinks.size() || !Sinks[cookie - 1])
        return CONNECT_E_NOCONNECTION;
    Sinks[cookie - 1].Reset();
    return S_OK;
}

HRESULT TTestBrowser::Fire(DISPID id, std::vector<VARIANT> argsFirstToLast) {
    std::vector<VARIANT> reversed(argsFirstToLast.rbegin(), argsFirstToLast.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    HRESULT result = S_OK;
    auto sinks = Sinks; // a sink may unadvise while it is called
    for (auto& sink : sinks)
        if (sink)
            result = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                  nullptr);
    return result;
}

HRESULT TTestBrowser::FireNavigateComplete(const std::wstring& url, IDispatch* frame) {
    VARIANT source{};
    V_VT(&source) = VT_DISPATCH;
    V_DISPATCH(&source) = frame ? frame : static_cast<IWebBrowser2*>(this);
    TVariant text(url);
    VARIANT byRef{};
    V_VT(&byRef) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&byRef) = text.Ptr();
    return Fire(DISPID_NAVIGATECOMPLETE2, {source, byRef});
}

size_t TTestBrowser::SinkCount() const {
    size_t count = 0;
    for (const auto& sink : Sinks)
        count += sink ? 1u : 0u;
    return count;
}

// --- TTestSite -----------------------------------------------------------------------------------

namespace {

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(window, message, wParam, lParam);
}

const wchar_t* HostWindowClass() {
    static ATOM atom = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = HostWindowProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ZorbexTestBrowserHost";
        return ::RegisterClassW(&wc);
    }();
    return atom ? L"ZorbexTestBrowserHost" : nullptr;
}

const TInterfaceEntry kSiteInterfaces[] = {
    InterfaceEntry<TTestSite, IOleWindow>(IID_IOleWindow),
    InterfaceEntry<TTestSite, IInputObjectSite>(IID_IInputObjectSite),
    InterfaceEntry<TTestSite, IOleCommandTarget>(IID_IOleCommandTarget),
    InterfaceEntry<TTestSite, IServiceProvider>(IID_IServiceProvider),
};

} // namespace

ComPtr<TTestSite> TTestSite::Create(const TSiteOptions& options) {
    return ComPtr<TTestSite>(new TTestSite(options));
}

TTestSite::TTestSite(const TSiteOptions& options)
    : TComObject(TModuleCount::None, {}, nullptr), Options(options), BrowserObject(TTestBrowser::Create()) {
    HostWindow = ::CreateWindowExW(0, HostWindowClass(), L"Test browser", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0,
                                   0, 1024, 200, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

TTestSite::~TTestSite() {
    if (HostWindow)
        ::DestroyWindow(HostWindow);
}

HRESULT TTestSite::QueryOtherInterface(REFIID iid, void** object) {
    const bool offered = (iid == IID_IOleWindow && Options.OleWindow) ||
                         (iid == IID_IInputObjectSite && Options.InputObjectSite) ||
                         (iid == IID_IOleCommandTarget && Options.CommandTarget) ||
                         (iid == IID_IServiceProvider && Options.ServiceProvider);
    return offered ? QueryTable(kSiteInterfaces, iid, object) : E_NOINTERFACE;
}

STDMETHODIMP TTestSite::GetWindow(HWND* window) {
    if (!window)
        return E_POINTER;
    *window = Options.ZeroWindow ? nullptr : HostWindow;
    return Options.ZeroWindow ? E_FAIL : S_OK;
}

STDMETHODIMP TTestSite::OnFocusChangeIS(IUnknown* object, BOOL focus) {
    FocusChanges.emplace_back(object, focus);
    return S_OK;
}

STDMETHODIMP TTestSite::Exec(const GUID* group, DWORD command, DWORD option, VARIANT* in, VARIANT*) {
    TExecCall call{group ? *group : GUID_NULL, command, option, in ? V_VT(in) : static_cast<VARTYPE>(VT_EMPTY),
                   in && V_VT(in) == VT_I4 ? V_I4(in) : 0};
    ExecCalls.push_back(call);
    return S_OK;
}

STDMETHODIMP TTestSite::QueryService(REFGUID service, REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (service == SID_SWebBrowserApp && Options.Browser)
        return BrowserObject->QueryInterface(iid, object);
    return E_NOINTERFACE;
}

namespace {

ComPtr<IDeskBand> CreateBand(const CLSID& clsid) {
    ComPtr<IDeskBand> band;
    ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&band));
    return band;
}

} // namespace

TLibraryBand::TLibraryBand(const CLSID& clsid, ComPtr<TTestSite> site)
    : TLibraryBand(CreateBand(clsid), std::move(site)) {}

TLibraryBand::TLibraryBand(ComPtr<IDeskBand> band, ComPtr<TTestSite> site)
    : Site(site ? std::move(site) : TTestSite::Create()), Band(std::move(band)) {
    ComPtr<IObjectWithSite> withSite;
    if (Band && SUCCEEDED(Band.As(&withSite)))
        SiteResult = withSite->SetSite(static_cast<IOleWindow*>(Site.Get()));
}

HWND TLibraryBand::Window() const {
    HWND window = nullptr;
    return Band && SUCCEEDED(Band->GetWindow(&window)) ? window : nullptr;
}

void TLibraryBand::Close() {
    if (!Band)
        return;
    Band->CloseDW(0);
    ComPtr<IObjectWithSite> withSite;
    if (SUCCEEDED(Band.As(&withSite)))
        withSite->SetSite(nullptr);
    Band.Reset();
}

namespace {

BOOL CALLBACK CountChildWindow(HWND, LPARAM data) {
    ++*reinterpret_cast<int*>(data);
    return TRUE;
}

BOOL CALLBACK CountThreadWindow(HWND window, LPARAM data) {
    ++*reinterpret_cast<int*>(data);
    ::EnumChildWindows(window, CountChildWindow, data);
    return TRUE;
}

} // namespace

int ThreadWindowCount() {
    int count = 0;
    ::EnumThreadWindows(::GetCurrentThreadId(), CountThreadWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

} // namespace zorbex::test
