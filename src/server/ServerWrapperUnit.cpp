// TServerWrapper: connection, client notifications, the thread hook and the server operations; the
// holds and registrations that keep it.
#include "server/ServerWrapperUnit.h"

#include "com/ErrorsUnit.h"
#include "com/ThreadSlotUnit.h"

#include <mshtml.h>
#include <oleauto.h>

#include <cstring>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace zorbex {
namespace {

// The Keptor application registers its server object in the running object table under this class.
const CLSID kServerClassID = {0x8935E59B, 0x8EAD, 0x4A3E, {0xAC, 0x2E, 0x80, 0xE6, 0xA2, 0x05, 0x78, 0xB1}};

TThreadPointer<TServerWrapper> ThreadWrapper;

VARIANT_BOOL Flag(bool value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

// The HTML document the browser shows and its URL; null when there is no browser, no document or an
// empty URL. A document that is not an HTML document, and a failing read, are errors.
ComPtr<IHTMLDocument2> ShownDocument(IWebBrowser2* browser, TBStr& url) {
    if (!browser)
        return nullptr;
    ComPtr<IDispatch> document;
    OleCheck(browser->get_Document(&document));
    if (!document)
        return nullptr;
    ComPtr<IHTMLDocument2> html;
    if (FAILED(document.As(&html)))
        RaiseError(L"Interface not supported");
    OleCheck(html->get_URL(url.Receive()));
    return url.Length() ? html : nullptr;
}

} // namespace

ComPtr<IGUIServer> GetRunningServer() noexcept {
    ComPtr<IUnknown> active;
    if (FAILED(::GetActiveObject(kServerClassID, nullptr, &active)) || !active)
        return nullptr;
    ComPtr<IGUIServer> server;
    if (FAILED(active.As(&server)))
        return nullptr;
    return server;
}

// --- TServerWrapper ----------------------------------------------------------------------------------

TServerWrapper::TServerWrapper() : Holds(1), Sink(TCVKeptorIGUIServerEvents::Create()) {
    Sink->OnQuit = [this](IUnknown*) { ServerLost(); };
    Sink->OnDocumentDataChange = [this](IUnknown*, LONG id, VARIANT_BOOL present, const std::wstring& comments,
                                        LONG status, LONG rating) {
        ForEachClient([&](TServerClient* form) {
            form->DocumentDataChanged(this, id, present != VARIANT_FALSE, comments, status, rating);
        });
    };
    Sink->OnSettingsChange = [this](IUnknown*) {
        ForEachClient([this](TServerClient* form) { form->SettingsChanged(this); });
    };
    Sink->OnFunctionalityChange = [this](IUnknown*) {
        ForEachClient([this](TServerClient* form) { form->FunctionalityChanged(this); });
    };
    Sink->OnQuickGroupChange = [this](IUnknown*) {
        ForEachClient([this](TServerClient* form) { form->QuickGroupChanged(this); });
    };
    Hook.Reset(::SetWindowsHookExW(WH_GETMESSAGE, &TServerWrapper::GetMessageHook, nullptr, ::GetCurrentThreadId()));
    if (!ThreadWrapper.Set(this))
        RaiseComError(HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES));
}

TServerWrapper::~TServerWrapper() {
    Hook.Reset();
    Disconnect();
    // The sink may outlive the wrapper in the hands of a vanished application's stub: its handlers
    // must not reach a freed wrapper, and its remote holders are cut off.
    Sink->DropHandlers();
    ::CoDisconnectObject(static_cast<IDispatch*>(Sink.Get()), 0);
    if (ThreadWrapper.Get() == this)
        ThreadWrapper.Set(nullptr);
}

TServerWrapperHold TServerWrapper::ThreadHold() {
    if (TServerWrapper* wrapper = ThreadWrapper.Get())
        return TServerWrapperHold(*wrapper);
    // A new wrapper starts with one hold, its creator's, which this hold adopts.
    TServerWrapperHold hold(*new TServerWrapper(), true);
    hold.Get().Connect();
    return hold;
}

TServerWrapper* TServerWrapper::Current() {
    return ThreadWrapper.Get();
}

void TServerWrapper::AddClient(TServerClient* form) {
    for (auto& entry : ClientList)
        if (!entry) {
            entry = form;
            return;
        }
    ClientList.push_back(form);
}

void TServerWrapper::RemoveClient(TServerClient* form) noexcept {
    for (auto& entry : ClientList)
        if (entry == form) {
            entry = nullptr;
            return;
        }
}

template <typename F> void TServerWrapper::ForEachClient(F&& notify) {
    // The loop holds the wrapper: a client may close, even the last one, while it is being told.
    TServerWrapperHold keep(*this);
    // By index: a client may register or leave while it is being told.
    for (size_t i = 0; i < ClientList.size(); ++i) {
        TServerClient* client = ClientList[i];
        if (!client)
            continue;
        client->HoldClient();
        struct TRelease {
            TServerClient* Client;
            ~TRelease() { Client->ReleaseClient(); }
        } release{client};
        notify(client);
    }
}

void TServerWrapper::Connect() {
    Disconnect();
    Server = GetRunningServer();
    if (!Server)
        return;
    Sink->ConnectTo(Server.Get());
    ForEachClient([this](TServerClient* form) { form->ServerConnected(this); });
}

void TServerWrapper::Disconnect() noexcept {
    if (!Server)
        return;
    Sink->DisconnectFrom();
    Server.Reset();
}

void TServerWrapper::ServerLost() noexcept {
    TServerWrapperHold keep(*this);
    // Every client hears it, whatever an earlier one raised.
    ForEachClient([this](TServerClient* form) { Guarded([&] { form->ServerDisconnected(this); }); });
    Disconnect();
}

LRESULT CALLBACK TServerWrapper::GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && lParam) {
        const MSG* message = reinterpret_cast<const MSG*>(lParam);
        TServerWrapper* wrapper = message->message == kKeptorStartMessage ? ThreadWrapper.Get() : nullptr;
        if (wrapper) {
            TServerWrapperHold keep(*wrapper);
            // An application that is found but refuses the subscription stays held, unannounced.
            Guarded([&] { keep.Get().Connect(); });
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

template <typename F> bool TServerWrapper::Call(F&& call, std::source_location site) noexcept {
    if (!Server)
        return false;
    // A call to another process dispatches messages: a client may close while it runs.
    TServerWrapperHold keep(*this);
    ComPtr<IGUIServer> server = Server; // the call may lose the application
    if (Guarded([&] { OleCheck(call(server.Get()), site); }, site))
        return true;
    ServerLost();
    return false;
}

// --- Server operations ----------------------------------------------------------------------------

void TServerWrapper::AddDocumentToRubric(IWebBrowser2* browser, bool withDialog) {
    TBStr url;
    ComPtr<IHTMLDocument2> document = ShownDocument(browser, url);
    if (!document)
        return;
    TBStr title;
    OleCheck(document->get_title(title.Receive()));
    Call([&](IGUIServer* server) {
        TBStr empty1(L""), empty2(L""), answer;
        return server->AddDocumentToRubric(title.Get(), url.Get(), empty1.Get(), empty2.Get(), answer.Receive(),
                                           Flag(withDialog));
    });
}

void TServerWrapper::OpenInInternalBrowser(const std::wstring& url) noexcept {
    Call([&](IGUIServer* server) {
        ComPtr<IDispatch> object;
        OleCheck(server->GetInternalBrowser(&object, static_cast<VARIANT_BOOL>(-1)));
        if (!object)
            return S_OK;
        ComPtr<IWebBrowser2> browser;
        OleCheck(object.As(&browser));
        TBStr target(url);
        TVariant empty1, empty2, empty3, empty4;
        return browser->Navigate(target.Get(), empty1.Ptr(), empty2.Ptr(), empty3.Ptr(), empty4.Ptr());
    });
}

void TServerWrapper::SetHighlightEnabled(bool enabled) noexcept {
    Call([&](IGUIServer* server) { return server->SetHighlightEnabled(Flag(enabled)); });
}

void TServerWrapper::SetPopupKillerEnabled(bool enabled) noexcept {
    Call([&](IGUIServer* server) { return server->SetPopupKillerEnabled(Flag(enabled)); });
}

void TServerWrapper::ShowPopupKillerSettings(IWebBrowser2* browser) {
    TBStr url;
    if (!ShownDocument(browser, url))
        return;
    Call([&](IGUIServer* server) { return server->ShowPopupKillerSettings(url.Get()); });
}

void TServerWrapper::ShowLinkSearch() noexcept {
    Call([&](IGUIServer* server) { return server->ShowLinkSearch(); });
}

void TServerWrapper::ShowDocumentProperties(const std::wstring& url) noexcept {
    Call([&](IGUIServer* server) { return server->ShowDocumentProperties(TBStr(url).Get()); });
}

void TServerWrapper::ShowSettings() noexcept {
    Call([&](IGUIServer* server) { return server->ShowSettings(); });
}

std::wstring TServerWrapper::GetLinkUrl(LONG linkId) {
    TBStr url;
    if (!Call([&](IGUIServer* server) { return server->GetLinkUrl(linkId, url.Receive()); }))
        return std::wstring();
    return url.Str();
}

void TServerWrapper::GetDomainLinks(const std::wstring& url, std::vector<LONG>& list) {
    list.clear();
    TVariant links;
    if (!Call([&](IGUIServer* server) { return server->GetDomainLinks(TBStr(url).Get(), links.Receive()); }))
        return;
    if (!(links.Type() & VT_ARRAY) || (links.Type() & VT_BYREF))
        return;
    SAFEARRAY* array = V_ARRAY(links.Ptr());
    // The identifiers are consecutive little-endian 32-bit integers; a trailing partial group is dropped.
    const ULONG byteCount = SafeArrayLength(array);
    TSafeArrayAccess<const BYTE> bytes(array);
    if (!bytes)
        return;
    for (ULONG at = 0; at + 4 <= byteCount; at += 4) {
        LONG id = 0;
        std::memcpy(&id, bytes.Get() + at, 4);
        list.push_back(id);
    }
}

void TServerWrapper::ShowComments(LONG documentId) noexcept {
    Call([&](IGUIServer* server) { return server->ShowComments(documentId); });
}

void TServerWrapper::SetBannerKillerEnabled(bool enabled) noexcept {
    Call([&](IGUIServer* server) { return server->SetBannerKillerEnabled(Flag(enabled)); });
}

std::wstring TServerWrapper::GetCurrentRubricName() {
    TBStr name;
    if (!Call([&](IGUIServer* server) { return server->GetCurrentRubricName(name.Receive()); }))
        return std::wstring();
    return name.Str();
}

void TServerWrapper::SetLinkHintEnabled(bool enabled) noexcept {
    Call([&](IGUIServer* server) { return server->SetLinkHintEnabled(Flag(enabled)); });
}

bool TServerWrapper::HasDomainLinks(const std::wstring& url) noexcept {
    LONG count = 0;
    return Call([&](IGUIServer* server) { return server->GetDomainLinkCount(TBStr(url).Get(), &count); }) &&
           count > 0;
}

LONG TServerWrapper::GetRatingCount() noexcept {
    LONG count = 0;
    return Call([&](IGUIServer* server) { return server->GetRatingCount(&count); }) ? count : 0;
}

bool TServerWrapper::GetRatingColors(LONG rating, LONG& textColor, LONG& backColor) noexcept {
    return Call([&](IGUIServer* server) { return server->GetRatingColors(rating, &textColor, &backColor); });
}

void TServerWrapper::SetDocumentRating(LONG documentId, LONG rating) noexcept {
    Call([&](IGUIServer* server) { return server->SetDocumentRating(documentId, rating); });
}

LONG TServerWrapper::GetDocumentId(const std::wstring& url) noexcept {
    LONG id = -1;
    if (!Call([&](IGUIServer* server) { return server->GetDocumentId(TBStr(url).Get(), &id); }))
        return -1;
    return id;
}

bool TServerWrapper::GetCommentColors(LONG& noCommentsText, LONG& noCommentsBack, LONG& commentsText,
                                      LONG& commentsBack) noexcept {
    return Call([&](IGUIServer* server) {
        return server->GetCommentColors(&noCommentsText, &noCommentsBack, &commentsText, &commentsBack);
    });
}

bool TServerWrapper::GetDocumentInfo(const std::wstring& url, LONG& id, std::wstring& comments, LONG& status,
                                     LONG& rating) {
    comments.clear();
    if (url.empty())
        return false;
    TBStr text;
    if (!Call([&](IGUIServer* server) {
            return server->GetDocumentInfo(TBStr(url).Get(), &id, text.Receive(), &status, &rating);
        }))
        return false;
    comments = text.Str();
    return true;
}

void TServerWrapper::SetToolbarEnabled(bool enabled) noexcept {
    Call([&](IGUIServer* server) { return server->SetToolbarEnabled(Flag(enabled)); });
}

LONG TServerWrapper::GetQuickGroupCount() noexcept {
    LONG count = 0;
    return Call([&](IGUIServer* server) { return server->GetQuickGroupCount(&count); }) ? count : 0;
}

bool TServerWrapper::GetQuickGroup(LONG index, bool& shown, std::wstring& name, LONG& linkCount) {
    name.clear();
    VARIANT_BOOL shownFlag = VARIANT_FALSE, result = VARIANT_FALSE;
    TBStr text;
    if (!Call([&](IGUIServer* server) {
            return server->GetQuickGroup(index, &shownFlag, text.Receive(), &linkCount, &result);
        }))
        return false;
    shown = shownFlag != VARIANT_FALSE;
    name = text.Str();
    return result != VARIANT_FALSE;
}

bool TServerWrapper::GetQuickLink(LONG groupIndex, LONG linkIndex, std::wstring& caption,
                                  std::wstring& url) {
    caption.clear();
    url.clear();
    VARIANT_BOOL result = VARIANT_FALSE;
    TBStr captionText, urlText;
    if (!Call([&](IGUIServer* server) {
            return server->GetQuickLink(groupIndex, linkIndex, captionText.Receive(), urlText.Receive(), &result);
        }))
        return false;
    caption = captionText.Str();
    url = urlText.Str();
    return result != VARIANT_FALSE;
}

void TServerWrapper::ShowQuickGroupManager() noexcept {
    Call([&](IGUIServer* server) { return server->ShowQuickGroupManager(); });
}

void TServerWrapper::CaptureScreenShot(IWebBrowser2* browser, bool rewriteIfExists) noexcept {
    Call([&](IGUIServer* server) {
        ComPtr<IIEHKepUtils> utils;
        OleCheck(::CoCreateInstance(CLSID_IEHKepUtils, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&utils)));
        return utils->CaptureScreenShot(browser, Flag(rewriteIfExists), server);
    });
}

// --- Holds and registrations ---------------------------------------------------------------------

TServerWrapperHold::TServerWrapperHold(TServerWrapper& wrapper, bool adopt) noexcept : Wrapper(&wrapper) {
    if (!adopt)
        ++Wrapper->Holds;
}

TServerWrapperHold::TServerWrapperHold(TServerWrapperHold&& other) noexcept
    : Wrapper(std::exchange(other.Wrapper, nullptr)) {}

TServerWrapperHold::~TServerWrapperHold() {
    if (Wrapper && --Wrapper->Holds == 0)
        delete Wrapper;
}

TServerRegistration::TServerRegistration(TServerClient& client) : Hold(TServerWrapper::ThreadHold()), Client(client) {
    Hold.Get().AddClient(&Client);
}

TServerRegistration::~TServerRegistration() {
    Hold.Get().RemoveClient(&Client);
}

void TServerClient::ServerConnected(TServerWrapper*) {}
void TServerClient::ServerDisconnected(TServerWrapper*) {}
void TServerClient::DocumentDataChanged(TServerWrapper*, LONG, bool, const std::wstring&, LONG, LONG) {}
void TServerClient::SettingsChanged(TServerWrapper*) {}
void TServerClient::FunctionalityChanged(TServerWrapper*) {}
void TServerClient::QuickGroupChanged(TServerWrapper*) {}

} // namespace zorbex
