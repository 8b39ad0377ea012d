// TIEBand: the band protocol, siting and the form it owns. The methods the browser calls with our own
// code behind them run in the band guard (ResultOr with E_FAIL): a band answers failure, never an error.
#include "band/IEBandUnit.h"

#include "com/AutoObjectUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"

#include <cwchar>

using Microsoft::WRL::ComPtr;

namespace zorbex {

namespace {

const TInterfaceEntry kBandInterfaces[] = {
    InterfaceEntry<TIEBand, ISupportErrorInfo>(IID_ISupportErrorInfo),
    InterfaceEntry<TIEBand, IProvideClassInfo>(IID_IProvideClassInfo),
    InterfaceEntry<TIEBand, IInputObject>(IID_IInputObject),
    InterfaceEntry<TIEBand, IPersistStream>(IID_IPersistStream),
    InterfaceEntry<TIEBand, IObjectWithSite>(IID_IObjectWithSite),
    InterfaceEntry<TIEBand, IDeskBand>(IID_IDeskBand),
    InterfaceEntry<TIEBand, IDockingWindow, IDeskBand>(IID_IDockingWindow),
};

} // namespace

TIEBand::TIEBand(IUnknown* outer) : TComObject(TModuleCount::Object, kBandInterfaces, outer) {}

TIEBand::~TIEBand() {
    // A host that never called CloseDW: the form must not outlive the band its window procedure calls.
    DestroyForm();
}

HRESULT TIEBand::QueryOtherInterface(REFIID iid, void** object) {
    // IOleWindow and IPersist on their own are not answered (the table has them only inside
    // IDockingWindow and IPersistStream), whatever a concrete band adds.
    if (iid == IID_IOleWindow || iid == IID_IPersist)
        return E_NOINTERFACE;
    if (!QueryOwnInterface(iid, object))
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

bool TIEBand::QueryOwnInterface(REFIID, void**) {
    return false;
}

// IOleWindow

STDMETHODIMP TIEBand::GetWindow(HWND* window) {
    if (!window)
        return E_POINTER;
    *window = nullptr;
    if (!BandForm || !BandForm->Handle())
        return E_FAIL;
    *window = BandForm->Handle();
    return S_OK;
}

STDMETHODIMP TIEBand::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}

// IDockingWindow

STDMETHODIMP TIEBand::ShowDW(BOOL show) {
    if (BandForm && BandForm->Handle()) {
        if (show)
            ::SetWindowPos(BandForm->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
        else
            ::ShowWindow(BandForm->Handle(), SW_HIDE);
    }
    return S_OK;
}

STDMETHODIMP TIEBand::CloseDW(DWORD) {
    ShowDW(FALSE);
    DestroyForm();
    return S_OK;
}

STDMETHODIMP TIEBand::ResizeBorderDW(LPCRECT, IUnknown*, BOOL) {
    return E_NOTIMPL;
}

// IDeskBand

STDMETHODIMP TIEBand::GetBandInfo(DWORD bandID, DWORD viewMode, DESKBANDINFO* info) {
    if (!info)
        return E_POINTER;
    return ResultOr(E_FAIL, [&] {
        BandID = bandID;
        ViewMode = viewMode;
        if (info->dwMask & DBIM_MINSIZE)
            info->ptMinSize = {GetMinWidth(), GetMinHeight()};
        if (info->dwMask & DBIM_MAXSIZE)
            info->ptMaxSize = {GetMaxWidth(), GetMaxHeight()};
        if (info->dwMask & DBIM_INTEGRAL)
            info->ptIntegral = {1, 1};
        if (info->dwMask & DBIM_ACTUAL)
            info->ptActual = {GetActualWidth(), GetActualHeight()};
        if (info->dwMask & DBIM_TITLE) {
            std::wstring title;
            GetTitle(title);
            constexpr size_t capacity = sizeof(info->wszTitle) / sizeof(info->wszTitle[0]);
            size_t length = title.size() < capacity - 1 ? title.size() : capacity - 1;
            wmemcpy(info->wszTitle, title.c_str(), length);
            info->wszTitle[length] = L'\0';
        }
        if (info->dwMask & DBIM_MODEFLAGS)
            info->dwModeFlags = GetModeFlags();
        if (info->dwMask & DBIM_BKCOLOR)
            info->dwMask &= ~static_cast<DWORD>(DBIM_BKCOLOR); // the host paints its default background
    });
}

// IObjectWithSite

STDMETHODIMP TIEBand::SetSite(IUnknown* site) {
    return ResultOr(E_FAIL, [&]() -> HRESULT {
        Browser.Reset();
        CommandTarget.Reset();
        InputObjectSite.Reset();
        if (!site)
            return S_OK;

        Parent = nullptr;
        ComPtr<IOleWindow> oleWindow;
        if (SUCCEEDED(site->QueryInterface(IID_PPV_ARGS(&oleWindow))))
            oleWindow->GetWindow(&Parent);
        if (!Parent)
            return E_FAIL;
        if (FAILED(site->QueryInterface(IID_PPV_ARGS(&InputObjectSite))))
            return E_FAIL;
        if (FAILED(site->QueryInterface(IID_PPV_ARGS(&CommandTarget))))
            return E_FAIL;
        ComPtr<IServiceProvider> services;
        if (FAILED(CommandTarget.As(&services)))
            return E_FAIL;
        services->QueryService(SID_SWebBrowserApp, IID_PPV_ARGS(&Browser));
        if (!Browser)
            return E_FAIL;
        return CreateForm() ? S_OK : E_FAIL;
    });
}

STDMETHODIMP TIEBand::GetSite(REFIID iid, void** site) {
    if (!site)
        return E_POINTER;
    *site = nullptr;
    if (!InputObjectSite)
        return E_FAIL;
    return InputObjectSite->QueryInterface(iid, site);
}

// IInputObject

STDMETHODIMP TIEBand::UIActivateIO(BOOL activate, MSG*) {
    if (activate && BandForm) {
        HWND window = BandForm->Handle();
        if (window && ::IsWindowVisible(window) && ::IsWindowEnabled(window))
            BandForm->Activate();
    }
    return S_OK;
}

STDMETHODIMP TIEBand::HasFocusIO() {
    return HasFocus ? S_OK : S_FALSE;
}

STDMETHODIMP TIEBand::TranslateAcceleratorIO(MSG*) {
    return S_FALSE;
}

// IPersistStream: the band keeps no persistent state.

STDMETHODIMP TIEBand::GetClassID(CLSID* clsid) {
    if (!clsid)
        return E_POINTER;
    return ResultOr(E_FAIL, [&] { GetBandClassID(*clsid); });
}

STDMETHODIMP TIEBand::IsDirty() {
    return S_FALSE;
}

STDMETHODIMP TIEBand::Load(IStream*) {
    return S_OK;
}

STDMETHODIMP TIEBand::Save(IStream*, BOOL) {
    return S_OK;
}

STDMETHODIMP TIEBand::GetSizeMax(ULARGE_INTEGER*) {
    return E_NOTIMPL;
}

// IProvideClassInfo

STDMETHODIMP TIEBand::GetClassInfo(ITypeInfo** info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    return ResultOr(E_FAIL, [&] {
        CLSID clsid{};
        GetBandClassID(clsid);
        *info = CoClassTypeInfo(clsid).Detach();
    });
}

// ISupportErrorInfo

STDMETHODIMP TIEBand::InterfaceSupportsErrorInfo(REFIID iid) {
    ComPtr<IUnknown> unknown;
    return SUCCEEDED(QueryInterface(iid, &unknown)) ? S_OK : S_FALSE;
}

// For the forms

void TIEBand::NotifyBandInfoChanged() {
    if (!CommandTarget)
        return;
    TVariant in(static_cast<long>(BandID));
    TVariant out;
    CommandTarget->Exec(&CGID_DeskBand, DBID_BANDINFOCHANGED, 0, in.Ptr(), out.Ptr());
}

bool TIEBand::CreateForm() {
    if (BandForm)
        return true;
    if (!Parent)
        return false;
    BandForm = GetFormClass()(*this);
    return true;
}

void TIEBand::DestroyForm() noexcept {
    // The deleter closes the form (FormDestroy, window destroyed) before any of it is freed.
    BandForm.reset();
    HasFocus = false;
}

void TIEBand::FormFocusChanged(bool focused) {
    if (!BandForm)
        return; // the form is closing: its last focus messages are not the host's business
    HasFocus = focused;
    if (InputObjectSite)
        InputObjectSite->OnFocusChangeIS(Identity(), focused ? -1 : 0);
}

} // namespace zorbex
