// A browser host for tests: the band site (IOleWindow with a real host window, IInputObjectSite,
// IOleCommandTarget, IServiceProvider) and a browser object (IWebBrowser2 with a DWebBrowserEvents2
// connection point). Each site interface can be withheld to test the band's failure steps. Both are
// COM objects of the library's base that count in no module: they are the test's, not the library's,
// so that DllCanUnloadNow and the tests' own leak check see only the library's objects.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>
#include <ocidl.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

#include "com/ComObjectUnit.h"

namespace zorbex::test {

// The browser object that the site hands out for SID_SWebBrowserApp; it is its own connection point.
class TTestBrowser : public TComObject<IWebBrowser2, IConnectionPointContainer, IConnectionPoint> {
public:
    static Microsoft::WRL::ComPtr<TTestBrowser> Create();

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

    // IWebBrowser: what the library uses is recorded; the rest is E_NOTIMPL.
    STDMETHODIMP GoBack() override { return E_NOTIMPL; }
    STDMETHODIMP GoForward() override { return E_NOTIMPL; }
    STDMETHODIMP GoHome() override { return E_NOTIMPL; }
    STDMETHODIMP GoSearch() override { return E_NOTIMPL; }
    STDMETHODIMP Navigate(BSTR url, VARIANT* flags, VARIANT* targetFrame, VARIANT* postData,
                          VARIANT* headers) override;
    STDMETHODIMP Refresh() override { return E_NOTIMPL; }
    STDMETHODIMP Refresh2(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP Stop() override { return E_NOTIMPL; }
    STDMETHODIMP get_Application(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Parent(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Container(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Document(IDispatch** document) override;
    STDMETHODIMP get_TopLevelContainer(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Type(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Left(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Left(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_Top(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Top(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_Width(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Width(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_Height(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Height(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_LocationName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_LocationURL(BSTR* url) override;
    STDMETHODIMP get_Busy(VARIANT_BOOL*) override { return E_NOTIMPL; }
    // IWebBrowserApp
    STDMETHODIMP Quit() override;
    STDMETHODIMP ClientToWindow(int*, int*) override { return E_NOTIMPL; }
    STDMETHODIMP PutProperty(BSTR, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP GetProperty(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Name(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_HWND(SHANDLE_PTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_FullName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Path(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Visible(VARIANT_BOOL* visible) override;
    STDMETHODIMP put_Visible(VARIANT_BOOL visible) override;
    STDMETHODIMP get_StatusBar(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_StatusBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_StatusText(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_StatusText(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_ToolBar(int*) override { return E_NOTIMPL; }
    STDMETHODIMP put_ToolBar(int) override { return E_NOTIMPL; }
    STDMETHODIMP get_MenuBar(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_MenuBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_FullScreen(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_FullScreen(VARIANT_BOOL) override { return E_NOTIMPL; }
    // IWebBrowser2
    STDMETHODIMP Navigate2(VARIANT* url, VARIANT* flags, VARIANT* targetFrame, VARIANT* postData,
                           VARIANT* headers) override;
    STDMETHODIMP QueryStatusWB(OLECMDID, OLECMDF*) override { return E_NOTIMPL; }
    STDMETHODIMP ExecWB(OLECMDID, OLECMDEXECOPT, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP ShowBrowserBar(VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP get_ReadyState(READYSTATE*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Offline(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Offline(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_Silent(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Silent(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_RegisterAsBrowser(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_RegisterAsBrowser(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_RegisterAsDropTarget(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_RegisterAsDropTarget(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_TheaterMode(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_TheaterMode(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_AddressBar(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_AddressBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_Resizable(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Resizable(VARIANT_BOOL) override { return E_NOTIMPL; }

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;
    // IConnectionPoint (DWebBrowserEvents2)
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    // For tests.
    void SetDocument(IDispatch* document) { Document = document; }
    void SetLocation(const std::wstring& url) { Location = url; }
    // Fires an event to every advised sink with arguments given first to last; returns the last result.
    HRESULT Fire(DISPID id, std::vector<VARIANT> argsFirstToLast);
    // Fires NavigateComplete2 for url (by reference, as the browser passes it) from this browser, a
    // top-level navigation, or from a frame object.
    HRESULT FireNavigateComplete(const std::wstring& url, IDispatch* frame = nullptr);
    size_t SinkCount() const;
    bool RefuseConnectionPoint = false;
    bool RefuseAdvise = false;

    std::vector<std::wstring> Navigations; // Navigate and Navigate2 urls, in order
    std::vector<VARIANT_BOOL> VisibleWrites;
    // Per Navigate call: whether the four arguments after the URL were each left out (VT_ERROR holding
    // DISP_E_PARAMNOTFOUND).
    std::vector<bool> NavigateArgumentsOmitted;
    int QuitCount = 0;
    // What Navigate and put_Visible answer (after recording the call); run at each Navigate first.
    HRESULT NavigateResult = S_OK;
    HRESULT VisibleResult = S_OK;
    std::function<void(const std::wstring& url)> OnNavigate;

private:
    TTestBrowser();
    ~TTestBrowser() override = default;

    Microsoft::WRL::ComPtr<IDispatch> Document;
    std::wstring Location;
    std::vector<Microsoft::WRL::ComPtr<IDispatch>> Sinks; // slot = cookie - 1
    VARIANT_BOOL IsVisible = VARIANT_TRUE;
};

// Which site interfaces the host withholds.
struct TSiteOptions {
    bool OleWindow = true;
    bool ZeroWindow = false;
    bool InputObjectSite = true;
    bool CommandTarget = true;
    bool ServiceProvider = true;
    bool Browser = true;
};

struct TExecCall {
    GUID Group;
    DWORD Command;
    DWORD Option;
    VARTYPE InType;
    LONG InValue;
};

// The band site, with a real top-level host window (destroyed with the site).
class TTestSite : public TComObject<IOleWindow, IInputObjectSite, IOleCommandTarget, IServiceProvider> {
public:
    static Microsoft::WRL::ComPtr<TTestSite> Create(const TSiteOptions& options = {});

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    // IInputObjectSite
    STDMETHODIMP OnFocusChangeIS(IUnknown* object, BOOL focus) override;
    // IOleCommandTarget
    STDMETHODIMP QueryStatus(const GUID*, ULONG, OLECMD*, OLECMDTEXT*) override { return E_NOTIMPL; }
    STDMETHODIMP Exec(const GUID* group, DWORD command, DWORD option, VARIANT* in, VARIANT* out) override;
    // IServiceProvider
    STDMETHODIMP QueryService(REFGUID service, REFIID iid, void** object) override;

    HWND Window() const { return HostWindow; }
    TTestBrowser& Browser() const { return *BrowserObject.Get(); }

    std::vector<std::pair<IUnknown*, BOOL>> FocusChanges;
    std::vector<TExecCall> ExecCalls;

private:
    explicit TTestSite(const TSiteOptions& options);
    ~TTestSite() override;

    // The site's interfaces, each only when the options offer it.
    HRESULT QueryOtherInterface(REFIID iid, void** object) override;

    TSiteOptions Options;
    HWND HostWindow = nullptr;
    Microsoft::WRL::ComPtr<TTestBrowser> BrowserObject;
};

// A band sited in a host (its own host when none is given): one of the registered library, created
// through COM, or a band object the test made itself (to read its form). Closed and released at
// destruction.
struct TLibraryBand {
    Microsoft::WRL::ComPtr<TTestSite> Site;
    Microsoft::WRL::ComPtr<IDeskBand> Band;
    HRESULT SiteResult = E_FAIL;

    explicit TLibraryBand(const CLSID& clsid, Microsoft::WRL::ComPtr<TTestSite> site = nullptr);
    explicit TLibraryBand(Microsoft::WRL::ComPtr<IDeskBand> band, Microsoft::WRL::ComPtr<TTestSite> site = nullptr);
    // The band's window, the toolbar form (null when it has none).
    HWND Window() const;
    TLibraryBand(const TLibraryBand&) = delete;
    TLibraryBand& operator=(const TLibraryBand&) = delete;
    ~TLibraryBand() { Close(); }
    void Close();
};

// Number of windows of this thread (top-level and child), to check that nothing is left behind.
int ThreadWindowCount();

} // namespace zorbex::test
