// TIEBand: the desk band that the browser hosts.
//
// TIEBand implements the browser's band protocol (IObjectWithSite, IDeskBand, IInputObject,
// IPersistStream) once for every band, and asks what varies by band (class, form, title, sizes) from
// its virtual operations, so a concrete band is a handful of one-line answers. It owns its form
// (TIEBandForm, in the forms layer) and is that form's TBandHost, so the form never sees the band's
// COM side. Its COM identity, counts and aggregation come from the COM object base.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <exdisp.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <memory>
#include <string>

#include "com/ComObjectUnit.h"
#include "ui/IEBandFormUnit.h"

namespace zorbex {

// Creates the form of a band; the result of GetFormClass.
using TBandFormClass = TFormPtr<TIEBandForm> (*)(TBandHost& band);

class TIEBand : public TComObject<IDeskBand, IObjectWithSite, IInputObject, IPersistStream, IProvideClassInfo,
                                  ISupportErrorInfo>,
                public TBandHost {
public:
    // IOleWindow
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enterMode) override;
    // IDockingWindow
    STDMETHODIMP ShowDW(BOOL show) override;
    STDMETHODIMP CloseDW(DWORD reserved) override;
    STDMETHODIMP ResizeBorderDW(LPCRECT border, IUnknown* site, BOOL reserved) override;
    // IDeskBand
    STDMETHODIMP GetBandInfo(DWORD bandID, DWORD viewMode, DESKBANDINFO* info) override;

    // IObjectWithSite
    STDMETHODIMP SetSite(IUnknown* site) override;
    STDMETHODIMP GetSite(REFIID iid, void** site) override;

    // IInputObject
    STDMETHODIMP UIActivateIO(BOOL activate, MSG* message) override;
    STDMETHODIMP HasFocusIO() override;
    STDMETHODIMP TranslateAcceleratorIO(MSG* message) override;

    // IPersist / IPersistStream
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(IStream* stream) override;
    STDMETHODIMP Save(IStream* stream, BOOL clearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;

    // IProvideClassInfo
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;

    // TBandHost
    void NotifyBandInfoChanged() override;
    IWebBrowser2* WebBrowser() const override { return Browser.Get(); }
    HWND ParentWindow() const override { return Parent; }
    void FormFocusChanged(bool focused) override;

    TIEBandForm* Form() const { return BandForm.get(); }

protected:
    // outer: the controlling IUnknown when the band is made aggregated, else null.
    explicit TIEBand(IUnknown* outer = nullptr);
    ~TIEBand() override;

    // What varies by band, in slot order.
    virtual void GetBandClassID(CLSID& clsid) = 0;
    virtual TBandFormClass GetFormClass() = 0;
    virtual void GetTitle(std::wstring& title) = 0;
    virtual int GetMinWidth() = 0;
    virtual int GetMinHeight() = 0;
    virtual int GetMaxWidth() = 0;
    virtual int GetMaxHeight() = 0;
    virtual int GetActualWidth() = 0;
    virtual int GetActualHeight() = 0;
    virtual DWORD GetModeFlags() = 0;

    // A concrete band's own interface, answered besides the band protocol: *object set (no reference
    // added) and true.
    virtual bool QueryOwnInterface(REFIID iid, void** object);

private:
    HRESULT QueryOtherInterface(REFIID iid, void** object) override;
    bool CreateForm();
    void DestroyForm() noexcept;
    Microsoft::WRL::ComPtr<IInputObjectSite> InputObjectSite;
    HWND Parent = nullptr;
    Microsoft::WRL::ComPtr<IOleCommandTarget> CommandTarget;
    Microsoft::WRL::ComPtr<IWebBrowser2> Browser;
    bool HasFocus = false;
    DWORD BandID = 0;
    DWORD ViewMode = 0;
    TFormPtr<TIEBandForm> BandForm;
};

} // namespace zorbex
