// The reference Keptor server: an IGUIServer over an in-memory archive (KeptorArchiveUnit), with the
// IGUIServerEvents connection point and the IKeptorControl surface that tests and the demo use to seed
// it, fire events, inject failures and read back what it received. A development tool, never part of
// the DLL. Its definitions are split by concern: the object itself (KeptorServerUnit.cpp), the
// application's answers (KeptorAnswersUnit.cpp), the control surface (KeptorControlUnit.cpp).
// It runs inside a test process (same thread) or as KeptorServer.exe. It is a COM object of the
// library's base that does not count in any module (it lives in an executable), and it is its own
// connection point, as the application's server object is.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "KeptorArchiveUnit.h"
#include "KeptorControl_TLB.h"
#include "KeptorPicturesUnit.h"
#include "KeptorVariantsUnit.h"
#include "com/ComObjectUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ZorbexGUI_TLB.h"

namespace zorbex::keptor {

// The window message that tells toolbar threads that the application has started.
inline constexpr UINT kStartMessage = 0x0500;
// Every slot of IGUIServer, for failure injection.
inline constexpr long kAnySlot = -1;
inline constexpr wchar_t kProgID[] = L"VIRAZedado.TrovellaServer";

// The type library of IGUIServer from a file (or "file\N" resource); raises on failure.
Microsoft::WRL::ComPtr<ITypeLib> LoadKeptorTypeLib(const std::wstring& path);

class TKeptorServer final
    : public TComObject<IGUIServer, IConnectionPointContainer, IConnectionPoint, IKeptorControl> {
public:
    // typeLib: the KeptorServer type library, which serves IDispatch; may be nil (IDispatch then fails).
    static Microsoft::WRL::ComPtr<TKeptorServer> Create(Microsoft::WRL::ComPtr<ITypeLib> typeLib = nullptr);

    TKeptorServer(const TKeptorServer&) = delete;
    TKeptorServer& operator=(const TKeptorServer&) = delete;

    // --- C++ side, for in-process tests and the host program
    TKeptorArchive& Archive() { return Data; }
    const std::vector<std::wstring>& CallLog() const { return Log; }
    const std::vector<TKeptorScreenShot>& ScreenShots() const { return Shots; }
    const std::vector<TKeptorList>& Lists() const { return ReceivedLists; }
    const std::vector<TKeptorStateRequest>& StateRequests() const { return ReceivedStateRequests; }
    const std::vector<TKeptorImageRequest>& ImageRequests() const { return ReceivedImageRequests; }
    long SinkCount() const;
    // The connected sinks in cookie order, each as the pointer its Advise handed over.
    std::vector<IUnknown*> AdvisedSinks() const;
    DWORD LastActivity() const { return LastActivityTick; }
    void SeedDemoArchive();

    // Registers in the running object table under the server's class ID (with the program identifier
    // mapped to that class ID in HKEY_CLASSES_ROOT); RevokeRunning undoes it. Registered objects hold a
    // strong reference from the table: revoke before the last release.
    HRESULT RegisterRunning();
    void RevokeRunning();
    bool IsRunning() const { return RotCookie != 0; }

    // Fires one event on every sink: args in rgvarg order (last argument first), named DISPIDs for
    // the first named.size() entries. The first failure of a sink, S_OK, or S_FALSE without sinks.
    HRESULT Fire(DISPID dispid, std::vector<TVariant> args, std::vector<DISPID> named = {},
                 WORD flags = DISPATCH_METHOD);
    // The same after the current call has returned (a message to the server's own window).
    void FireLater(DISPID dispid, std::vector<TVariant> args, std::vector<DISPID> named = {},
                   WORD flags = DISPATCH_METHOD);

    // What Quit and Die do beyond their common part. In-process defaults: Quit fires OnQuit and
    // revokes; Die revokes and makes every later IGUIServer call fail with RPC_E_DISCONNECTED.
    // The host program adds ending its message loop / its process.
    std::function<void()> OnQuitRequested;
    std::function<void(UINT exitCode)> OnDieRequested;
    // Runs at every IGUIServer call after it is logged, with its slot; a failure code fails the call.
    std::function<HRESULT(int slot)> OnServe;
    // Runs the action once, at the next call of the slot, before the call answers: what an application
    // in another process lets in while it answers (the caller asked again, hiding, or going). The
    // server stays alive through the action.
    void RunBeforeAnswer(long slot, std::function<void()> action);

    // IDispatch (of IGUIServer)
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;

    // IGUIServer
    STDMETHODIMP Reserved07() override;
    STDMETHODIMP AddDocumentToRubric(BSTR ATitle, BSTR AURL, BSTR AExtra1, BSTR AExtra2, BSTR* AAnswer,
                                     VARIANT_BOOL AWithDialog) override;
    STDMETHODIMP AddLinkList(VARIANT AURLs, VARIANT ATexts, BSTR ADocumentURL, BSTR ACharset) override;
    STDMETHODIMP OpenLinkList(VARIANT AURLs, VARIANT ATexts, BSTR AReserved,
                              VARIANT_BOOL AOutsideBrowser) override;
    STDMETHODIMP GetInternalBrowser(IDispatch** ABrowser, VARIANT_BOOL AFlag) override;
    STDMETHODIMP Reserved12() override;
    STDMETHODIMP Reserved13() override;
    STDMETHODIMP GetLinkImage(BSTR AURL, LONG AIndex, VARIANT_BOOL* AFound, VARIANT* AData,
                              VARIANT_BOOL AFlag) override;
    STDMETHODIMP GetHintSettings(LONG* AAlpha, LONG* AShowDelay, LONG* AHideDelay) override;
    STDMETHODIMP GetHighlightSettings(LONG ABrowserID, VARIANT_BOOL* AEnabled, VARIANT_BOOL* AMarkSaved,
                                      VARIANT_BOOL* ADefaultBack, LONG* ABackColor,
                                      VARIANT_BOOL* ADefaultText, LONG* ATextColor, VARIANT_BOOL* ABold,
                                      LONG* ADecoration) override;
    STDMETHODIMP GetLinkStates(VARIANT AURLs, VARIANT* AStates) override;
    STDMETHODIMP SetHighlightEnabled(VARIANT_BOOL AEnabled) override;
    STDMETHODIMP SetPopupKillerEnabled(VARIANT_BOOL AEnabled) override;
    STDMETHODIMP ShowPopupKillerSettings(BSTR AURL) override;
    STDMETHODIMP ShowLinkSearch() override;
    STDMETHODIMP ShowDocumentProperties(BSTR AURL) override;
    STDMETHODIMP Reserved23() override;
    STDMETHODIMP ShowSettings() override;
    STDMETHODIMP Reserved25() override;
    STDMETHODIMP Reserved26() override;
    STDMETHODIMP Reserved27() override;
    STDMETHODIMP Reserved28() override;
    STDMETHODIMP Reserved29() override;
    STDMETHODIMP Reserved30() override;
    STDMETHODIMP Reserved31() override;
    STDMETHODIMP GetLinkUrl(LONG ALinkID, BSTR* AURL) override;
    STDMETHODIMP GetDomainLinks(BSTR AURL, VARIANT* ALinks) override;
    STDMETHODIMP ShowComments(LONG ADocumentID) override;
    STDMETHODIMP AddBannerList(VARIANT ASources) override;
    STDMETHODIMP SetBannerKillerEnabled(VARIANT_BOOL AEnabled) override;
    STDMETHODIMP GetCurrentRubricName(BSTR* AName) override;
    STDMETHODIMP Reserved38() override;
    STDMETHODIMP SetLinkHintEnabled(VARIANT_BOOL AEnabled) override;
    STDMETHODIMP GetDomainLinkCount(BSTR AURL, LONG* ACount) override;
    STDMETHODIMP GetRatingCount(LONG* ACount) override;
    STDMETHODIMP GetRatingColors(LONG ARating, LONG* ATextColor, LONG* ABackColor) override;
    STDMETHODIMP SetDocumentRating(LONG ADocumentID, LONG ARating) override;
    STDMETHODIMP Reserved44() override;
    STDMETHODIMP GetDocumentId(BSTR AURL, LONG* AID) override;
    STDMETHODIMP GetCommentColors(LONG* ANoCommentsText, LONG* ANoCommentsBack, LONG* ACommentsText,
                                  LONG* ACommentsBack) override;
    STDMETHODIMP GetDocumentInfo(BSTR AURL, LONG* AID, BSTR* AComments, LONG* AStatus,
                                 LONG* ARating) override;
    STDMETHODIMP GetScreenShotSettings(BSTR AURL, VARIANT_BOOL ARewriteIfExists, VARIANT_BOOL* ATakeFirst,
                                       LONG* AFirstScale, LONG* AFirstFormat, VARIANT_BOOL* ATakeSecond,
                                       LONG* ASecondScale, LONG* ASecondFormat) override;
    STDMETHODIMP StoreScreenShot(BSTR AURL, VARIANT AData) override;
    STDMETHODIMP StoreSecondScreenShot(BSTR AURL, VARIANT AData) override;
    STDMETHODIMP Reserved51() override;
    STDMETHODIMP SetToolbarEnabled(VARIANT_BOOL AEnabled) override;
    STDMETHODIMP GetQuickGroupCount(LONG* ACount) override;
    STDMETHODIMP GetQuickGroup(LONG AIndex, VARIANT_BOOL* AShown, BSTR* AName, LONG* ALinkCount,
                               VARIANT_BOOL* AResult) override;
    STDMETHODIMP GetQuickLink(LONG AGroupIndex, LONG ALinkIndex, BSTR* ACaption, BSTR* AURL,
                              VARIANT_BOOL* AResult) override;
    STDMETHODIMP ShowQuickGroupManager() override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // IConnectionPoint (IGUIServerEvents): cookie = slot + 1, a free slot taken again.
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

    // IKeptorControl
    STDMETHODIMP Reset() override;
    STDMETHODIMP SeedDemo() override;
    STDMETHODIMP SetDocument(BSTR AURL, LONG AID, BSTR AComments, LONG AStatus, LONG ARating) override;
    STDMETHODIMP RemoveDocument(BSTR AURL) override;
    STDMETHODIMP SetCurrentRubricName(BSTR AName) override;
    STDMETHODIMP AddDomainLink(LONG AID, BSTR AURL) override;
    STDMETHODIMP SetDomainLinksAnswer(VARIANT AAnswer) override;
    STDMETHODIMP SetRatingCount(LONG ACount) override;
    STDMETHODIMP SetRatingColors(LONG ARating, LONG ATextColor, LONG ABackColor) override;
    STDMETHODIMP SetCommentColors(LONG ANoCommentsText, LONG ANoCommentsBack, LONG ACommentsText,
                                  LONG ACommentsBack) override;
    STDMETHODIMP AddQuickGroup(BSTR AName, VARIANT_BOOL AShown, LONG* AIndex) override;
    STDMETHODIMP AddQuickLink(LONG AGroupIndex, BSTR ACaption, BSTR AURL) override;
    STDMETHODIMP ClearQuickGroups() override;
    STDMETHODIMP SetHighlightSettings(VARIANT_BOOL AEnabled, VARIANT_BOOL AMarkSaved,
                                      VARIANT_BOOL ADefaultBack, LONG ABackColor, VARIANT_BOOL ADefaultText,
                                      LONG ATextColor, VARIANT_BOOL ABold, LONG ADecoration) override;
    STDMETHODIMP SetLinkState(BSTR AURL, LONG AState) override;
    STDMETHODIMP SetHintSettings(LONG AAlpha, LONG AShowDelay, LONG AHideDelay) override;
    STDMETHODIMP SetScreenShotSettings(VARIANT_BOOL ATakeFirst, LONG AFirstScale, LONG AFirstFormat,
                                       VARIANT_BOOL ATakeSecond, LONG ASecondScale,
                                       LONG ASecondFormat) override;
    STDMETHODIMP SetScreenShotDirectory(BSTR ADirectory) override;
    STDMETHODIMP SetLinkImage(BSTR AURL, LONG AIndex, VARIANT_BOOL AFound, VARIANT AData) override;
    STDMETHODIMP SetLinkPicture(BSTR AURL, LONG AIndex, LONG AWidth, LONG AHeight, LONG AColor) override;
    STDMETHODIMP SetInternalBrowser(IDispatch* ABrowser) override;
    STDMETHODIMP SetAutoEvents(VARIANT_BOOL AEnabled) override;
    STDMETHODIMP GetCallLog(VARIANT* ALog) override;
    STDMETHODIMP ClearCallLog() override;
    STDMETHODIMP GetScreenShotCount(LONG* ACount) override;
    STDMETHODIMP GetScreenShot(LONG AIndex, BSTR* AURL, LONG* AWhich, VARIANT* AData) override;
    STDMETHODIMP GetListCount(LONG* ACount) override;
    STDMETHODIMP GetList(LONG AIndex, BSTR* AKind, VARIANT* AURLs, VARIANT* ATexts, BSTR* AExtra1,
                         BSTR* AExtra2, VARIANT_BOOL* AFlag) override;
    STDMETHODIMP GetSinkCount(LONG* ACount) override;
    STDMETHODIMP GetSetting(BSTR AName, LONG* AValue) override;
    STDMETHODIMP FireEvent(LONG ADispid, VARIANT AArgs, VARIANT_BOOL APosted, LONG* AResult) override;
    STDMETHODIMP FireRaw(LONG ADispid, VARIANT AArgs, VARIANT ANamedDispids, LONG AFlags,
                         VARIANT_BOOL APosted, LONG* AResult) override;
    STDMETHODIMP FireDocumentDataChange(LONG AID, VARIANT_BOOL APresent, BSTR AComments, LONG AStatus,
                                        LONG ARating, VARIANT_BOOL APosted, LONG* AResult) override;
    STDMETHODIMP FailNext(LONG ASlot, LONG AResult) override;
    STDMETHODIMP FailAlways(LONG ASlot, LONG AResult) override;
    STDMETHODIMP ClearFailures() override;
    STDMETHODIMP PostStartMessage(LONG AThreadId) override;
    STDMETHODIMP Quit(VARIANT_BOOL APosted) override;
    STDMETHODIMP Die(LONG AExitCode) override;
    STDMETHODIMP GetProcessId(LONG* AProcessId) override;
    STDMETHODIMP SetLinkStatesAnswer(LONG AForm, VARIANT AAnswer) override;
    STDMETHODIMP ClearLists() override;
    STDMETHODIMP GetListWellFormed(LONG AIndex, VARIANT_BOOL* AWellFormed) override;
    STDMETHODIMP GetStateRequestCount(LONG* ACount) override;
    STDMETHODIMP GetStateRequest(LONG AIndex, VARIANT* AURLs, VARIANT_BOOL* AWellFormed) override;
    STDMETHODIMP GetImageRequestCount(LONG* ACount) override;
    STDMETHODIMP GetImageRequest(LONG AIndex, BSTR* AURL, LONG* AImageIndex, VARIANT_BOOL* AFlag) override;
    STDMETHODIMP SetQuickLinkReadable(LONG AGroupIndex, LONG ALinkIndex, VARIANT_BOOL AReadable) override;
    STDMETHODIMP SetQuickGroupCountAnswer(LONG ACount) override;
    STDMETHODIMP SetQuickLinkCountAnswer(LONG AGroupIndex, LONG ACount) override;

private:
    struct TPendingEvent {
        DISPID Dispid;
        std::vector<TVariant> Args;
        std::vector<DISPID> Named;
        WORD Flags;
    };

    explicit TKeptorServer(Microsoft::WRL::ComPtr<ITypeLib> typeLib);
    ~TKeptorServer() override;

    // One IGUIServer call: logged, failure injection, errors turned into E_FAIL.
    template <typename F> HRESULT Serve(int slot, const wchar_t* name, const std::wstring& args, F&& work);
    // One IKeptorControl call: errors turned into their code or E_FAIL.
    template <typename F> HRESULT Control(F&& work);
    HRESULT InjectedFailure(int slot);
    HRESULT WriteSwitch(int slot, const wchar_t* method, const wchar_t* valueName, VARIANT_BOOL enabled);
    HRESULT Store(int slot, const wchar_t* method, long which, BSTR url, const VARIANT& data);
    HRESULT RecordList(int slot, const wchar_t* method, const VARIANT& urls, const VARIANT* texts,
                       const std::wstring& extra1, const std::wstring& extra2, bool flag);
    ITypeInfo* DispatchTypeInfo();
    void DoQuit();
    void DoDie(UINT exitCode);
    void RunPosted();
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    Microsoft::WRL::ComPtr<ITypeLib> TypeLib;
    Microsoft::WRL::ComPtr<ITypeInfo> InterfaceInfo;
    // A connection: the pointer Advise received, and the dispatch interface the events are fired on.
    struct TSink {
        Microsoft::WRL::ComPtr<IUnknown> Advised;
        Microsoft::WRL::ComPtr<IDispatch> Events;
    };
    std::vector<TSink> Sinks; // cookie = slot + 1; a free slot has no Events
    TKeptorArchive Data;
    std::vector<std::wstring> Log;
    std::vector<TKeptorScreenShot> Shots;
    std::vector<TKeptorList> ReceivedLists;
    std::vector<TKeptorStateRequest> ReceivedStateRequests;
    std::vector<TKeptorImageRequest> ReceivedImageRequests;
    SAFEARRAY* AnsweredStates = nullptr; // what a by-reference state answer points to
    std::map<std::wstring, long> Switches;
    std::map<long, HRESULT> FailOnce;  // slot (or kAnySlot) -> result of its next call
    std::map<long, HRESULT> FailEvery; // slot (or kAnySlot) -> result of every call
    std::map<long, std::function<void()>> BeforeAnswer; // slot -> what its next call runs first
    bool AutoEvents = false;
    bool Dead = false;
    DWORD RotCookie = 0;
    DWORD LastActivityTick = 0;
    long NextDocumentId = 1000;
    std::vector<TPendingEvent> Pending;
    std::vector<std::function<void()>> PendingActions;
    TWindowHandle Window; // message-only window for posted work
};

} // namespace zorbex::keptor
