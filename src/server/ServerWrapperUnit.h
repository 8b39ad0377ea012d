// TServerWrapper: the per-thread link to the running Keptor application, shared by the clients (the
// toolbar forms) of a browser thread; TServerClient: what a client hears; TServerRegistration: a
// client's membership, which keeps the wrapper alive.
//
// Ownership: the wrapper is counted. Every registration holds it, and so does every notification or
// reconnection in progress, so a form that closes while it is being told (a modal menu, say) never
// frees the wrapper under the loop that tells it. The last hold deletes the wrapper; a thread-local
// pointer finds the thread's wrapper while it lives.
//
// A failed server call never raises: it counts as the loss of the application (the clients are told,
// the reference is dropped) and the operation returns its default. What an operation may raise is
// its own: running out of memory for a text it returns, or a shown document it cannot read.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <wrl/client.h>

#include <source_location>
#include <string>
#include <vector>

#include "com/ComSupportUnit.h"
#include "server/CVKeptorEvents.h"
#include "com/ZorbexGUI_TLB.h"

namespace zorbex {

class TServerWrapper;

// A client of the wrapper: the six notifications, whose base bodies do nothing.
class TServerClient {
public:
    virtual void ServerConnected(TServerWrapper* sender);
    virtual void ServerDisconnected(TServerWrapper* sender);
    virtual void DocumentDataChanged(TServerWrapper* sender, LONG AID, bool APresent, const std::wstring& AComments,
                                     LONG AStatus, LONG ARating);
    virtual void SettingsChanged(TServerWrapper* sender);
    virtual void FunctionalityChanged(TServerWrapper* sender);
    virtual void QuickGroupChanged(TServerWrapper* sender);

    // Brackets every notification: a client that may be closed while it is being told (it runs a
    // modal loop, or calls another process) keeps itself alive until the matching release.
    virtual void HoldClient() {}
    virtual void ReleaseClient() noexcept {}

protected:
    ~TServerClient() = default;
};

// A counted hold on a wrapper; moving it hands the hold on.
class TServerWrapperHold {
public:
    // adopt: take over a hold the wrapper already counts (its creator's) instead of adding one.
    explicit TServerWrapperHold(TServerWrapper& wrapper, bool adopt = false) noexcept;
    TServerWrapperHold(TServerWrapperHold&& other) noexcept;
    TServerWrapperHold(const TServerWrapperHold&) = delete;
    TServerWrapperHold& operator=(const TServerWrapperHold&) = delete;
    TServerWrapperHold& operator=(TServerWrapperHold&&) = delete;
    ~TServerWrapperHold();
    TServerWrapper& Get() const { return *Wrapper; }

private:
    TServerWrapper* Wrapper;
};

// The message that makes a toolbar thread connect again.
inline constexpr UINT kKeptorStartMessage = 0x0500;

// A fresh reference to the running Keptor application from the running object table, or null.
Microsoft::WRL::ComPtr<IGUIServer> GetRunningServer() noexcept;

class TServerWrapper {
public:
    TServerWrapper(const TServerWrapper&) = delete;
    TServerWrapper& operator=(const TServerWrapper&) = delete;

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
    std::wstring GetLinkUrl(LONG linkId);
    void GetDomainLinks(const std::wstring& url, std::vector<LONG>& list);
    void ShowComments(LONG documentId) noexcept;
    void SetBannerKillerEnabled(bool enabled) noexcept;
    std::wstring GetCurrentRubricName();
    void SetLinkHintEnabled(bool enabled) noexcept;
    bool HasDomainLinks(const std::wstring& url) noexcept;
    LONG GetRatingCount() noexcept;
    bool GetRatingColors(LONG rating, LONG& textColor, LONG& backColor) noexcept;
    void SetDocumentRating(LONG documentId, LONG rating) noexcept;
    LONG GetDocumentId(const std::wstring& url) noexcept;
    bool GetCommentColors(LONG& noCommentsText, LONG& noCommentsBack, LONG& commentsText,
                          LONG& commentsBack) noexcept;
    bool GetDocumentInfo(const std::wstring& url, LONG& id, std::wstring& comments, LONG& status,
                         LONG& rating);
    void SetToolbarEnabled(bool enabled) noexcept;
    LONG GetQuickGroupCount() noexcept;
    bool GetQuickGroup(LONG index, bool& shown, std::wstring& name, LONG& linkCount);
    bool GetQuickLink(LONG groupIndex, LONG linkIndex, std::wstring& caption, std::wstring& url);
    void ShowQuickGroupManager() noexcept;
    void CaptureScreenShot(IWebBrowser2* browser, bool rewriteIfExists) noexcept;

private:
    friend class TServerWrapperHold;
    friend class TServerRegistration;
    // The test seam: the thread's wrapper and its clients.
    friend class TServerWrapperProbe;

    // The wrapper of the calling thread, or null.
    static TServerWrapper* Current();

    // A hold on the calling thread's wrapper; the thread's first hold creates the wrapper and connects
    // it (a failure to subscribe raises, and the new wrapper goes with its hold).
    static TServerWrapperHold ThreadHold();
    // Creates the event sink and installs the thread's message hook; the wrapper starts with one hold.
    TServerWrapper();
    ~TServerWrapper();
    void AddClient(TServerClient* client);
    void RemoveClient(TServerClient* client) noexcept;

    // Runs one server call; a failure makes the application count as lost. True when the call succeeded.
    // The failure trace names the operation that called, and its line.
    template <typename F>
    bool Call(F&& call, std::source_location site = std::source_location::current()) noexcept;
    template <typename F> void ForEachClient(F&& notify);
    static LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam);

    int Holds;
    Microsoft::WRL::ComPtr<IGUIServer> Server;
    Microsoft::WRL::ComPtr<TCVKeptorIGUIServerEvents> Sink;
    std::vector<TServerClient*> ClientList;
    THookHandle Hook;
};

// A client's membership of its thread's wrapper, from construction to destruction. The thread's first
// registration creates the wrapper.
class TServerRegistration {
public:
    explicit TServerRegistration(TServerClient& client);
    TServerRegistration(const TServerRegistration&) = delete;
    TServerRegistration& operator=(const TServerRegistration&) = delete;
    ~TServerRegistration();
    TServerWrapper& Wrapper() const { return Hold.Get(); }

private:
    TServerWrapperHold Hold;
    TServerClient& Client;
};

} // namespace zorbex
