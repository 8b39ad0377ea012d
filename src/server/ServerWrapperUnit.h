// TServerWrapper: the per-thread link to the running Keptor application, shared by the toolbar forms
// of a browser thread; and TKeptorIEToolBandForm: the base of the toolbar forms, which ties each form
// to its thread's wrapper.
//
// Every server operation of the wrapper never raises: a failed call counts as the loss of the
// application (the forms are told, the reference is dropped) and returns the operation's default.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

#include "band/IEBandUnit.h"
#include "com/ComSupportUnit.h"
#include "server/CVKeptorEvents.h"
#include "server/ZorbexGUI_TLB.h"

namespace zorbex {

class TKeptorIEToolBandForm;

// The message that makes a toolbar thread connect again.
inline constexpr UINT kKeptorStartMessage = 0x0500;

// A fresh reference to the running Keptor application from the running object table, or null.
Microsoft::WRL::ComPtr<IGUIServer> GetRunningServer() noexcept;

class TServerWrapper {
public:
    // Creates the event sink, installs the thread's message hook and connects.
    TServerWrapper();
    TServerWrapper(const TServerWrapper&) = delete;
    TServerWrapper& operator=(const TServerWrapper&) = delete;
    ~TServerWrapper();

    // The wrapper of the calling thread, or null.
    static TServerWrapper* Current();

    // Client management.
    void AddClient(TKeptorIEToolBandForm* form);
    void RemoveClient(TKeptorIEToolBandForm* form);
    int ClientCount() const;

    // Connection.
    bool IsConnected() const { return Server != nullptr; }
    Microsoft::WRL::ComPtr<IGUIServer> GetServer() const { return Server; }
    void Connect();
    void Disconnect() noexcept;
    void ServerLost() noexcept;

    // Server operations (see the slot each calls in the implementation).
    void AddDocumentToRubric(IWebBrowser2* browser, bool withDialog);
    void OpenInInternalBrowser(const std::wstring& url) noexcept;
    void SetHighlightEnabled(bool enabled) noexcept;
    void SetPopupKillerEnabled(bool enabled) noexcept;
    void ShowPopupKillerSettings(IWebBrowser2* browser);
    void ShowLinkSearch() noexcept;
    void ShowDocumentProperties(const std::wstring& url) noexcept;
    void ShowSettings() noexcept;
    std::wstring GetLinkUrl(LONG linkId) noexcept;
    void GetDomainLinks(const std::wstring& url, std::vector<LONG>& list) noexcept;
    void ShowComments(LONG documentId) noexcept;
    void SetBannerKillerEnabled(bool enabled) noexcept;
    std::wstring GetCurrentRubricName() noexcept;
    void SetLinkHintEnabled(bool enabled) noexcept;
    bool HasDomainLinks(const std::wstring& url) noexcept;
    LONG GetRatingCount() noexcept;
    bool GetRatingColors(LONG rating, LONG& textColor, LONG& backColor) noexcept;
    void SetDocumentRating(LONG documentId, LONG rating) noexcept;
    LONG GetDocumentId(const std::wstring& url) noexcept;
    bool GetCommentColors(LONG& noCommentsText, LONG& noCommentsBack, LONG& commentsText,
                          LONG& commentsBack) noexcept;
    bool GetDocumentInfo(const std::wstring& url, LONG& id, std::wstring& comments, LONG& status,
                         LONG& rating) noexcept;
    void SetToolbarEnabled(bool enabled) noexcept;
    LONG GetQuickGroupCount() noexcept;
    bool GetQuickGroup(LONG index, bool& shown, std::wstring& name, LONG& linkCount) noexcept;
    bool GetQuickLink(LONG groupIndex, LONG linkIndex, std::wstring& caption, std::wstring& url) noexcept;
    void ShowQuickGroupManager() noexcept;
    void CaptureScreenShot(IWebBrowser2* browser, bool rewriteIfExists) noexcept;

    // The toolbar forms, in list order (null entries are free slots).
    const std::vector<TKeptorIEToolBandForm*>& Clients() const { return ClientList; }

private:
    // Runs one server call; a failure makes the application count as lost. True when the call succeeded.
    template <typename F> bool Call(F&& call) noexcept;
    template <typename F> void ForEachClient(F&& notify);
    static LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam);

    Microsoft::WRL::ComPtr<IGUIServer> Server;
    std::unique_ptr<TCVKeptorIGUIServerEvents> Sink;
    std::vector<TKeptorIEToolBandForm*> ClientList;
    THookHandle Hook;
};

// Base of the toolbar forms: registers with its thread's wrapper and receives its notifications.
class TKeptorIEToolBandForm : public TIEBandForm {
public:
    // Notifications from the wrapper; the base bodies do nothing.
    virtual void ServerConnected(TServerWrapper* sender);
    virtual void ServerDisconnected(TServerWrapper* sender);
    virtual void DocumentDataChanged(TServerWrapper* sender, LONG AID, bool APresent, const std::wstring& AComments,
                                     LONG AStatus, LONG ARating);
    virtual void SettingsChanged(TServerWrapper* sender);
    virtual void FunctionalityChanged(TServerWrapper* sender);
    virtual void QuickGroupChanged(TServerWrapper* sender);

    // The wrapper of the form's thread (exists from construction to destruction).
    TServerWrapper& Wrapper() const;

protected:
    TKeptorIEToolBandForm(TIEBand& band, const TFormDesign& design);
    void AfterConstruction() override;
    void BeforeDestruction() override;

    // The concrete form's creation and destruction handlers.
    virtual void FormCreate() {}
    virtual void FormDestroy() {}

private:
    void Unregister() noexcept;
    bool Registered = false;
};

} // namespace zorbex
