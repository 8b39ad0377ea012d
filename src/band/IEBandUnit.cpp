// TIEBand: the band protocol, siting and the form it owns.
#include "band/IEBandUnit.h"

#include "com/AutoObjectUnit.h"
#include "com/ComServerUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"

#include <shlwapi.h>

#include <cwchar>

using Microsoft::WRL::ComPtr;

namespace zorbex {

// --- TIEBand -------------------------------------------------------------------------------------

TIEBand::TIEBand() {
    ComServer().CountObject(true);
}

TIEBand::~TIEBand() {
    // A host that never called CloseDW: the form must not outlive the band its window procedure calls.
    DestroyForm();
    ComServer().CountObject(false);
}

STDMETHODIMP TIEBand::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    static const QITAB table[] = {
        QITABENTMULTI(TIEBand, IUnknown, IDeskBand),
        QITABENT(TIEBand, ISupportErrorInfo),
        QITABENT(TIEBand, IProvideClassInfo),
        QITABENT(TIEBand, IInputObject),
        QITABENT(TIEBand, IPersistStream),
        QITABENT(TIEBand, IObjectWithSite),
        QITABENT(TIEBand, IDeskBand),
        QITABENTMULTI(TIEBand, IDockingWindow, IDeskBand),
        {nullptr, 0},
    };
    // IOleWindow and IPersist on their own are not answered.
    if (iid == IID_IOleWindow || iid == IID_IPersist) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT result = ::QISearch(this, table, iid, object);
    if (result == E_NOINTERFACE && QueryOwnInterface(iid, object)) {
        AddRef();
        return S_OK;
    }
    return result;
}

STDMETHODIMP_(ULONG) TIEBand::AddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&RefCount));
}

STDMETHODIMP_(ULONG) TIEBand::Release() {
    LONG count = ::InterlockedDecrement(&RefCount);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
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
    return GuardFail(E_FAIL, [&] {
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
    return GuardResult(E_FAIL, [&]() -> HRESULT {
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
        if (window && ::IsWindowVisible(window) && ::IsWindowEnabled(window)) {
            HWND active = BandForm->ActiveControl();
            ::SetFocus(active ? active : window);
        }
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
    return GuardFail(E_FAIL, [&] { GetBandClassID(*clsid); });
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
    return GuardFail(E_FAIL, [&] {
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
        InputObjectSite->OnFocusChangeIS(static_cast<IDeskBand*>(this), focused ? -1 : 0);
}

} // namespace zorbex
