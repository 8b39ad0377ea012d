// The server wrapper and the toolbar form base, in process: the wrapper talks to the reference Keptor
// server registered in this process's running object table. Every operation is checked by what the
// application received (its call log) and what the wrapper answered, each from a freshly seeded
// archive; the document operations read a real test document. What holds wherever the application
// runs (events, OnQuit) is in KeptorLinkTests, against this server and against KeptorServer.exe.
#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

#include "KeptorServerUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"
#include "server/ServerWrapperUnit.h"
#include "support/BrowserHostUnit.h"
#include "support/RecordingBandUnit.h"
#include "support/TestDocumentUnit.h"
#include "support/ClassProbes.h"
#include "support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;
using keptor::TKeptorServer;

namespace {

std::vector<std::wstring>& Notifications = RecordedNotifications();

class ServerWrapperTest : public TComTest {
protected:
    void SetUp() override {
        Notifications.clear();
        Server = TKeptorServer::Create();
        ASSERT_EQ(S_OK, Server->RegisterRunning());
    }
    void TearDown() override {
        EXPECT_EQ(nullptr, TServerWrapperProbe::Current()) << "a wrapper was left behind";
        if (Server)
            Server->RevokeRunning();
        Server.Reset();
        TComTest::TearDown();
    }
    std::vector<std::wstring> ServerCalls() const {
        std::vector<std::wstring> calls;
        for (const auto& entry : Server->CallLog())
            if (entry != L"Advise" && entry != L"Unadvise")
                calls.push_back(entry);
        return calls;
    }
    HRESULT FireEvent(DISPID id, std::vector<TVariant> argsLastToFirst = {}) {
        return Server->Fire(id, std::move(argsLastToFirst));
    }

    ComPtr<TKeptorServer> Server;
};

TEST_F(ServerWrapperTest, FirstFormConnectsAndSubscribesLaterFormsShareTheWrapper) {
    TSitedBand first(L"first");
    ASSERT_TRUE(first.Form());
    TServerWrapper* wrapper = TServerWrapperProbe::Current();
    ASSERT_NE(nullptr, wrapper);
    EXPECT_TRUE(wrapper->IsConnected());
    EXPECT_EQ(1, Server->SinkCount());
    EXPECT_TRUE(first.Form()->SawWrapperAtCreate);
    EXPECT_TRUE(Notifications.empty()) << "a form registered after the connection hears no ServerConnected";

    TSitedBand second(L"second");
    EXPECT_EQ(wrapper, TServerWrapperProbe::Current());
    EXPECT_EQ(1, Server->SinkCount()) << "no second connection";
    EXPECT_TRUE(second.Form()->SawConnectedAtCreate);
    EXPECT_EQ(2, TServerWrapperProbe::ClientCount(*wrapper));

    first.Close();
    EXPECT_EQ(wrapper, TServerWrapperProbe::Current()) << "the wrapper lives while a form is left";
    EXPECT_EQ(nullptr, TServerWrapperProbe::Clients(*wrapper)[0]);
    TSitedBand third(L"third");
    EXPECT_EQ(third.Form(), TServerWrapperProbe::Clients(*wrapper)[0]) << "a new form takes the free slot";
    EXPECT_EQ(2u, TServerWrapperProbe::Clients(*wrapper).size());
    second.Close();
    third.Close();
    EXPECT_EQ(nullptr, TServerWrapperProbe::Current());
    EXPECT_EQ(0, Server->SinkCount()) << "the last form's wrapper unsubscribes";
}

TEST_F(ServerWrapperTest, AnErrorInOneFormEndsThatEventsDeliveryAndReachesTheApplication) {
    TSitedBand first(L"A"), second(L"B");
    first.Form()->FailDocumentData = true;
    std::vector<TVariant> args; // last to first: ARating, AStatus, AComments, APresent, AID
    args.emplace_back(0L);
    args.emplace_back(0L);
    args.emplace_back(std::wstring_view(L""));
    args.emplace_back(TVariant(0L));
    ::VariantChangeType(args.back().Ptr(), args.back().Ptr(), 0, VT_BOOL);
    args.emplace_back(7L);
    EXPECT_EQ(E_UNEXPECTED, FireEvent(203, std::move(args)));
    EXPECT_EQ(std::vector<std::wstring>{L"A:DocumentDataChanged(7,false,,0,0)"}, Notifications);
    EXPECT_TRUE(TServerWrapperProbe::Current()->IsConnected());
}

TEST_F(ServerWrapperTest, AFailedCallTellsEveryFormOnceAndReturnsTheDefault) {
    TSitedBand first(L"A"), second(L"B");
    Server->Archive().Documents[L"http://a/"] = {5, L"c", 1, 2};
    ASSERT_EQ(S_OK, Server->FailNext(47, RPC_E_DISCONNECTED));
    LONG id = 99, status = 99, rating = 99;
    std::wstring comments = L"stale";
    EXPECT_FALSE(TServerWrapperProbe::Current()->GetDocumentInfo(L"http://a/", id, comments, status, rating));
    EXPECT_EQ(L"", comments);
    EXPECT_EQ((std::vector<std::wstring>{L"A:ServerDisconnected", L"B:ServerDisconnected"}), Notifications);
    EXPECT_FALSE(TServerWrapperProbe::Current()->IsConnected());
    // No retry: the next call is not made at all.
    EXPECT_FALSE(TServerWrapperProbe::Current()->GetDocumentInfo(L"http://a/", id, comments, status, rating));
    EXPECT_EQ(1u, ServerCalls().size());
}

TEST_F(ServerWrapperTest, StartMessageReconnectsAndAfterTheLastFormDoesNothing) {
    TSitedBand band(L"A");
    EXPECT_EQ(S_OK, FireEvent(201));
    Notifications.clear();
    ::PostThreadMessageW(::GetCurrentThreadId(), kKeptorStartMessage, 0, 0);
    PumpMessages(50);
    EXPECT_TRUE(TServerWrapperProbe::Current()->IsConnected());
    EXPECT_EQ(std::vector<std::wstring>{L"A:ServerConnected"}, Notifications);
    // A connected wrapper reconnects too.
    ::PostThreadMessageW(::GetCurrentThreadId(), kKeptorStartMessage, 0, 0);
    PumpMessages(50);
    EXPECT_EQ((std::vector<std::wstring>{L"A:ServerConnected", L"A:ServerConnected"}), Notifications);
    EXPECT_EQ(1, Server->SinkCount());
    band.Close();
    EXPECT_EQ(0, Server->SinkCount());
    ::PostThreadMessageW(::GetCurrentThreadId(), kKeptorStartMessage, 0, 0);
    PumpMessages(50);
    EXPECT_EQ(nullptr, TServerWrapperProbe::Current());
    EXPECT_EQ(0, Server->SinkCount());
}

TEST_F(ServerWrapperTest, WithoutARunningApplicationTheFormStaysDisconnected) {
    Server->RevokeRunning();
    TSitedBand band(L"A");
    ASSERT_TRUE(band.Form());
    EXPECT_FALSE(TServerWrapperProbe::Current()->IsConnected());
    EXPECT_FALSE(band.Form()->SawConnectedAtCreate);
    ASSERT_EQ(S_OK, Server->RegisterRunning());
    ::PostThreadMessageW(::GetCurrentThreadId(), kKeptorStartMessage, 0, 0);
    PumpMessages(50);
    EXPECT_EQ(std::vector<std::wstring>{L"A:ServerConnected"}, Notifications);
}

// Every operation: the slot it calls with its arguments, its answer, and its default when not connected.
struct TOperationCase {
    const char* Name;
    std::function<std::wstring(TServerWrapper&)> Run; // the operation's result, rendered
    std::wstring ExpectedCall;                        // the call log entry
    std::wstring ConnectedResult;
    std::wstring DefaultResult;
};

std::wstring Text(bool value) {
    return value ? L"true" : L"false";
}

// The application's internal browser, seeded afresh for every operation.
ComPtr<TTestBrowser>& InternalBrowser() {
    static ComPtr<TTestBrowser> browser;
    return browser;
}

// What the internal browser was told to show: "url;" for each navigation.
std::wstring InternalBrowserNavigations() {
    std::wstring text;
    for (const auto& url : InternalBrowser()->Navigations)
        text += url + L";";
    InternalBrowser()->Navigations.clear();
    return text;
}

std::vector<TOperationCase> OperationCases() {
    return {
        {"OpenInInternalBrowser",
         [](TServerWrapper& w) {
             w.OpenInInternalBrowser(L"http://x/");
             return InternalBrowserNavigations();
         },
         L"11 GetInternalBrowser(true)", L"http://x/;", L""},
        {"SetHighlightEnabled", [](TServerWrapper& w) { w.SetHighlightEnabled(true); return L""; },
         L"18 SetHighlightEnabled(true)", L"", L""},
        {"SetPopupKillerEnabled", [](TServerWrapper& w) { w.SetPopupKillerEnabled(false); return L""; },
         L"19 SetPopupKillerEnabled(false)", L"", L""},
        {"ShowLinkSearch", [](TServerWrapper& w) { w.ShowLinkSearch(); return L""; }, L"21 ShowLinkSearch()", L"",
         L""},
        {"ShowDocumentProperties", [](TServerWrapper& w) { w.ShowDocumentProperties(L"http://a/"); return L""; },
         L"22 ShowDocumentProperties(\"http://a/\")", L"", L""},
        {"ShowSettings", [](TServerWrapper& w) { w.ShowSettings(); return L""; }, L"24 ShowSettings()", L"", L""},
        {"GetLinkUrl", [](TServerWrapper& w) { return w.GetLinkUrl(11); }, L"32 GetLinkUrl(11)", L"http://a/11",
         L""},
        {"GetDomainLinks",
         [](TServerWrapper& w) {
             std::vector<LONG> list{99};
             w.GetDomainLinks(L"http://a/", list);
             std::wstring text;
             for (LONG id : list)
                 text += std::to_wstring(id) + L";";
             return text;
         },
         L"33 GetDomainLinks(\"http://a/\")", L"11;12;", L""},
        {"ShowComments", [](TServerWrapper& w) { w.ShowComments(5); return L""; }, L"34 ShowComments(5)", L"", L""},
        {"SetBannerKillerEnabled", [](TServerWrapper& w) { w.SetBannerKillerEnabled(true); return L""; },
         L"36 SetBannerKillerEnabled(true)", L"", L""},
        {"GetCurrentRubricName", [](TServerWrapper& w) { return w.GetCurrentRubricName(); },
         L"37 GetCurrentRubricName()", L"Inbox", L""},
        {"SetLinkHintEnabled", [](TServerWrapper& w) { w.SetLinkHintEnabled(false); return L""; },
         L"39 SetLinkHintEnabled(false)", L"", L""},
        {"HasDomainLinks", [](TServerWrapper& w) { return Text(w.HasDomainLinks(L"http://a/")); },
         L"40 GetDomainLinkCount(\"http://a/\")", L"true", L"false"},
        {"GetRatingCount", [](TServerWrapper& w) { return std::to_wstring(w.GetRatingCount()); },
         L"41 GetRatingCount()", L"5", L"0"},
        {"GetRatingColors",
         [](TServerWrapper& w) {
             LONG text = 0, back = 0;
             bool ok = w.GetRatingColors(2, text, back);
             return Text(ok) + (ok ? L"," + std::to_wstring(text) + L"," + std::to_wstring(back) : L"");
         },
         L"42 GetRatingColors(2)", L"true,255,65280", L"false"},
        {"SetDocumentRating", [](TServerWrapper& w) { w.SetDocumentRating(5, 3); return L""; },
         L"43 SetDocumentRating(5, 3)", L"", L""},
        {"GetDocumentId", [](TServerWrapper& w) { return std::to_wstring(w.GetDocumentId(L"http://a/")); },
         L"45 GetDocumentId(\"http://a/\")", L"5", L"-1"},
        {"GetCommentColors",
         [](TServerWrapper& w) {
             LONG a = 0, b = 0, c = 0, d = 0;
             bool ok = w.GetCommentColors(a, b, c, d);
             return Text(ok) + (ok ? L"," + std::to_wstring(a) + L"," + std::to_wstring(d) : L"");
         },
         L"46 GetCommentColors()", L"true,1,4", L"false"},
        {"GetDocumentInfo",
         [](TServerWrapper& w) {
             LONG id = 0, status = 0, rating = 0;
             std::wstring comments = L"stale";
             bool ok = w.GetDocumentInfo(L"http://a/", id, comments, status, rating);
             return Text(ok) + L"," + comments + (ok ? L"," + std::to_wstring(id) + L"," + std::to_wstring(status) +
                                                           L"," + std::to_wstring(rating)
                                                     : L"");
         },
         L"47 GetDocumentInfo(\"http://a/\")", L"true,c,5,1,2", L"false,"},
        {"SetToolbarEnabled", [](TServerWrapper& w) { w.SetToolbarEnabled(true); return L""; },
         L"52 SetToolbarEnabled(true)", L"", L""},
        {"GetQuickGroupCount", [](TServerWrapper& w) { return std::to_wstring(w.GetQuickGroupCount()); },
         L"53 GetQuickGroupCount()", L"1", L"0"},
        {"GetQuickGroup",
         [](TServerWrapper& w) {
             bool shown = false;
             std::wstring name = L"stale";
             LONG count = 0;
             bool ok = w.GetQuickGroup(0, shown, name, count);
             return Text(ok) + L"," + name + (ok ? L"," + Text(shown) + L"," + std::to_wstring(count) : L"");
         },
         L"54 GetQuickGroup(0)", L"true,News,true,1", L"false,"},
        {"GetQuickLink",
         [](TServerWrapper& w) {
             std::wstring caption = L"stale", url = L"stale";
             bool ok = w.GetQuickLink(0, 0, caption, url);
             return Text(ok) + L"," + caption + L"," + url;
         },
         L"55 GetQuickLink(0, 0)", L"true,Site,http://q/", L"false,,"},
        {"ShowQuickGroupManager", [](TServerWrapper& w) { w.ShowQuickGroupManager(); return L""; },
         L"56 ShowQuickGroupManager()", L"", L""},
    };
}

void SeedArchive(TKeptorServer& server) {
    auto& data = server.Archive();
    data = keptor::TKeptorArchive();
    data.Documents[L"http://a/"] = {5, L"c", 1, 2};
    data.CurrentRubricName = L"Inbox";
    data.DomainLinks[11] = L"http://a/11";
    data.DomainLinks[12] = L"http://a/12";
    data.RatingCount = 5;
    data.RatingColors[2] = {255, 65280};
    data.CommentColors[0] = 1;
    data.CommentColors[3] = 4;
    data.QuickGroups.push_back({L"News", true, {{L"Site", L"http://q/"}}});
    InternalBrowser() = TTestBrowser::Create();
    data.InternalBrowser = static_cast<IWebBrowser2*>(InternalBrowser().Get());
}

TEST_F(ServerWrapperTest, EveryOperationCallsItsSlotAndFallsBackToItsDefault) {
    TSitedBand band(L"A");
    TServerWrapper& wrapper = *TServerWrapperProbe::Current();
    for (const auto& operation : OperationCases()) {
        SCOPED_TRACE(operation.Name);
        SeedArchive(*Server.Get()); // each operation sees the seeded archive, whatever ran before it
        ASSERT_TRUE(wrapper.IsConnected());
        Server->ClearCallLog();
        EXPECT_EQ(operation.ConnectedResult, operation.Run(wrapper));
        auto calls = ServerCalls();
        ASSERT_EQ(1u, calls.size());
        EXPECT_EQ(0u, calls[0].find(operation.ExpectedCall)) << std::string(calls[0].begin(), calls[0].end());

        // A failing call: the default, the forms are told, the application is dropped.
        Notifications.clear();
        Server->FailNext(keptor::kAnySlot, E_FAIL);
        EXPECT_EQ(operation.DefaultResult, operation.Run(wrapper));
        EXPECT_EQ(std::vector<std::wstring>{L"A:ServerDisconnected"}, Notifications);
        EXPECT_FALSE(wrapper.IsConnected());

        // Not connected: the default, and no call.
        Server->ClearCallLog();
        EXPECT_EQ(operation.DefaultResult, operation.Run(wrapper));
        EXPECT_TRUE(ServerCalls().empty());
        wrapper.Connect();
    }
    Server->Archive().InternalBrowser.Reset();
    InternalBrowser().Reset();
}

TEST_F(ServerWrapperTest, DomainLinksAreDecodedFromBytes) {
    TSitedBand band(L"A");
    TServerWrapper& wrapper = *TServerWrapperProbe::Current();
    struct TCase {
        const char* Name;
        std::vector<BYTE> Bytes;
        bool IsArray;
        std::vector<LONG> Expected;
    };
    const TCase cases[] = {
        {"ten bytes", {1, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 9, 9}, true, {1, -2}},
        {"empty array", {}, true, {}},
        {"three bytes", {1, 2, 3}, true, {}},
        {"not an array", {}, false, {}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.Name);
        Server->Archive().DomainLinksAnswer =
            testCase.IsArray ? keptor::MakeByteArray(testCase.Bytes) : TVariant(std::wstring_view(L"1234"));
        std::vector<LONG> list{77};
        wrapper.GetDomainLinks(L"http://a/", list);
        EXPECT_EQ(testCase.Expected, list);
    }
}

TEST_F(ServerWrapperTest, DocumentInfoWithAnEmptyUrlAsksNothing) {
    TSitedBand band(L"A");
    LONG id = 0, status = 0, rating = 0;
    std::wstring comments = L"stale";
    Server->ClearCallLog();
    EXPECT_FALSE(TServerWrapperProbe::Current()->GetDocumentInfo(L"", id, comments, status, rating));
    EXPECT_EQ(L"", comments);
    EXPECT_TRUE(ServerCalls().empty());
}

TEST_F(ServerWrapperTest, DocumentOperationsReadTheBrowsersDocument) {
    TSitedBand band(L"A");
    TServerWrapper& wrapper = *TServerWrapperProbe::Current();
    TTestBrowser& browser = band.Site->Browser();
    // No document: nothing happens.
    Server->ClearCallLog();
    wrapper.AddDocumentToRubric(&browser, false);
    wrapper.ShowPopupKillerSettings(&browser);
    wrapper.AddDocumentToRubric(nullptr, true);
    EXPECT_TRUE(ServerCalls().empty());
    // A document without IHTMLDocument2 is an error that reaches the caller.
    ComPtr<IDispatch> notHtml(static_cast<IDispatch*>(&browser));
    browser.SetDocument(notHtml.Get());
    EXPECT_THROW(wrapper.AddDocumentToRubric(&browser, false), TError);
    EXPECT_THROW(wrapper.ShowPopupKillerSettings(&browser), TError);
    browser.SetDocument(nullptr);
    EXPECT_TRUE(wrapper.IsConnected());

    // A shown page: its title and its URL, each in its own place.
    auto dom = std::make_shared<TTestDom>();
    ComPtr<IHTMLDocument2> page =
        LoadTestDocument(dom, "<title>Front page</title><p>text</p>", L"http://example.test/front");
    browser.SetDocument(page.Get());
    Server->ClearCallLog();
    wrapper.AddDocumentToRubric(&browser, true);
    wrapper.AddDocumentToRubric(&browser, false);
    wrapper.ShowPopupKillerSettings(&browser);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"8 AddDocumentToRubric(\"Front page\", \"http://example.test/front\", \"\", \"\", true)",
                  L"8 AddDocumentToRubric(\"Front page\", \"http://example.test/front\", \"\", \"\", false)",
                  L"20 ShowPopupKillerSettings(\"http://example.test/front\")"}),
              ServerCalls());
    // A title that cannot be read is an error, and nothing is sent.
    dom->Failures.emplace_back(L"title");
    Server->ClearCallLog();
    EXPECT_THROW(wrapper.AddDocumentToRubric(&browser, false), TError);
    EXPECT_TRUE(ServerCalls().empty());
    // A page without a URL: nothing happens.
    ComPtr<IHTMLDocument2> blank = LoadTestDocument(std::make_shared<TTestDom>(), "<title>Blank</title>", L"");
    browser.SetDocument(blank.Get());
    wrapper.AddDocumentToRubric(&browser, true);
    wrapper.ShowPopupKillerSettings(&browser);
    EXPECT_TRUE(ServerCalls().empty());
    browser.SetDocument(nullptr);
}

TEST_F(ServerWrapperTest, CaptureScreenShotRunsThePageUtilitiesObjectWithTheServer) {
    TSitedBand band(L"A");
    auto dom = std::make_shared<TTestDom>();
    ComPtr<IHTMLDocument2> document = LoadTestDocument(dom, "<p>page</p>", L"http://shot.test/");
    band.Site->Browser().SetDocument(document.Get());
    Server->Archive().ScreenShot.TakeFirst = false;
    Server->Archive().ScreenShot.TakeSecond = false;
    Server->ClearCallLog();
    TServerWrapperProbe::Current()->CaptureScreenShot(&band.Site->Browser(), true);
    EXPECT_EQ(std::vector<std::wstring>{L"48 GetScreenShotSettings(\"http://shot.test/\", true)"}, ServerCalls());
    EXPECT_TRUE(TServerWrapperProbe::Current()->IsConnected());
    band.Site->Browser().SetDocument(nullptr);
}

} // namespace
