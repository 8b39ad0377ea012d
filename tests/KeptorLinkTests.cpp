// The link to the Keptor application as the toolbars see it: they connect, hear its events and notice
// when it goes away. What holds wherever the application runs is one table of tests run against the
// reference server in this process and against KeptorServer.exe in its own; the rest is about the
// other process (threads, a killed server, a late start).
#include <windows.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <atomic>
#include <memory>

#include "KeptorServerUnit.h"
#include "com/ComSupportUnit.h"
#include "server/ServerWrapperUnit.h"
#include "support/BrowserHostUnit.h"
#include "support/KeptorProcessUnit.h"
#include "support/RecordingBandUnit.h"
#include "support/ClassProbes.h"
#include "support/TestSupport.h"
#include "support/TestThreadUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;

namespace {

std::vector<std::wstring>& Notifications = RecordedNotifications();

class KeptorLinkTest : public TComTest {
protected:
    void SetUp() override { Notifications.clear(); }
    void TearDown() override {
        EXPECT_EQ(nullptr, TServerWrapperProbe::Current()) << "a wrapper was left behind";
        TComTest::TearDown();
    }
    static long SinkCount(TKeptorProcess& keptor) {
        long count = -1;
        keptor.Control()->GetSinkCount(&count);
        return count;
    }
    // Waits (pumping messages) until the recorded notifications reach `count`.
    static void WaitForNotifications(size_t count, DWORD milliseconds = 5000) {
        const DWORD start = ::GetTickCount();
        while (Notifications.size() < count && ::GetTickCount() - start < milliseconds)
            PumpMessages(20);
    }
};

// --- Wherever the application runs ---------------------------------------------------------------

// The reference server in this process (registered in the running object table) or KeptorServer.exe.
enum class TServerPlace { ThisProcess, OtherProcess };

class ServerLinkTest : public KeptorLinkTest, public ::testing::WithParamInterface<TServerPlace> {
protected:
    void SetUp() override {
        KeptorLinkTest::SetUp();
        if (GetParam() == TServerPlace::ThisProcess) {
            Local = keptor::TKeptorServer::Create();
            ASSERT_EQ(S_OK, Local->RegisterRunning());
        } else {
            Process = std::make_unique<TKeptorProcess>();
            ASSERT_TRUE(Process->Started());
        }
    }
    void TearDown() override {
        if (Local)
            Local->RevokeRunning();
        Local.Reset();
        Process.reset();
        KeptorLinkTest::TearDown();
    }
    IKeptorControl* Control() const { return Local ? &static_cast<IKeptorControl&>(*Local.Get()) : Process->Control(); }
    // Calls the application received (the server in this process keeps its log to the end).
    size_t LocalServerCalls() const {
        size_t calls = 0;
        for (const auto& entry : Local->CallLog())
            calls += entry != L"Advise" && entry != L"Unadvise" ? 1u : 0u;
        return calls;
    }

    Microsoft::WRL::ComPtr<keptor::TKeptorServer> Local;
    std::unique_ptr<TKeptorProcess> Process;
};

TEST_P(ServerLinkTest, EventsReachEveryFormInRegistrationOrder) {
    TSitedBand first(L"A"), second(L"B");
    ASSERT_TRUE(TServerWrapperProbe::Current()->IsConnected());
    // The server in this process fires at once and hands back what the sink answered; KeptorServer.exe
    // fires once its call has returned, and this thread takes the events while it pumps, as a browser
    // thread does.
    const VARIANT_BOOL posted = Local ? VARIANT_FALSE : VARIANT_TRUE;
    long result = -1;
    ASSERT_EQ(S_OK,
              Control()->FireDocumentDataChange(42, VARIANT_TRUE, TBStr(L"note").Get(), 1, 3, posted, &result));
    if (!posted) {
        EXPECT_EQ(S_OK, result);
    }
    TVariant none;
    for (long event : {204, 205, 206, 202}) {
        result = -1;
        ASSERT_EQ(S_OK, Control()->FireEvent(event, none.Get(), posted, &result));
        if (!posted) {
            EXPECT_EQ(S_OK, result) << "event " << event << " accepted";
        }
    }
    WaitForNotifications(8);
    PumpMessages(50); // OnRefreshHighlight, last, is accepted and tells no form
    const std::vector<std::wstring> expected = {
        L"A:DocumentDataChanged(42,true,note,1,3)", L"B:DocumentDataChanged(42,true,note,1,3)",
        L"A:SettingsChanged", L"B:SettingsChanged", L"A:FunctionalityChanged", L"B:FunctionalityChanged",
        L"A:QuickGroupChanged", L"B:QuickGroupChanged"};
    EXPECT_EQ(expected, Notifications);
    EXPECT_TRUE(TServerWrapperProbe::Current()->IsConnected());
}

TEST_P(ServerLinkTest, OnQuitDisconnectsAndTellsEveryFormOnce) {
    TSitedBand first(L"A"), second(L"B");
    first.Form()->FailDisconnected = true; // an error of one form does not stop the others
    ASSERT_EQ(S_OK, Control()->Quit(VARIANT_TRUE));
    WaitForNotifications(2);
    if (Process) {
        EXPECT_TRUE(Process->WaitForExit(10000));
    }
    PumpMessages(100);
    EXPECT_EQ((std::vector<std::wstring>{L"A:ServerDisconnected", L"B:ServerDisconnected"}), Notifications);
    TServerWrapper& wrapper = *TServerWrapperProbe::Current();
    EXPECT_FALSE(wrapper.IsConnected());
    const size_t callsBefore = Local ? LocalServerCalls() : 0;
    EXPECT_EQ(-1, wrapper.GetDocumentId(L"http://a/")) << "disconnected: the default";
    EXPECT_EQ(2u, Notifications.size()) << "no call is made while disconnected (it would fail again)";
    if (Local) {
        EXPECT_EQ(0, Local->SinkCount());
        EXPECT_EQ(callsBefore, LocalServerCalls()) << "no call is made while disconnected";
    }
}

INSTANTIATE_TEST_SUITE_P(Places, ServerLinkTest,
                         ::testing::Values(TServerPlace::ThisProcess, TServerPlace::OtherProcess),
                         [](const auto& row) {
                             return std::string(row.param == TServerPlace::ThisProcess ? "ThisProcess"
                                                                                       : "OtherProcess");
                         });

// --- The application in another process ----------------------------------------------------------

TEST_F(KeptorLinkTest, LibraryBandsOfOneThreadShareOneSubscription) {
    TKeptorProcess keptor;
    ASSERT_TRUE(keptor.Started());
    {
        TLibraryBand main(CLSID_ZorbexExplorerBar);
        ASSERT_EQ(S_OK, main.SiteResult);
        EXPECT_EQ(1, SinkCount(keptor)) << "siting a band connects and subscribes";
        TLibraryBand links(CLSID_TrovellaQLToolbar);
        ASSERT_EQ(S_OK, links.SiteResult);
        EXPECT_EQ(1, SinkCount(keptor)) << "the second band shares the thread's wrapper";

        // Bands on another browser thread have a wrapper of their own.
        long countWithOtherThread = 0;
        std::atomic<bool> done{false};
        TTestThread other([&] {
            ::OleInitialize(nullptr);
            {
                TLibraryBand band(CLSID_ZorbexExplorerBar);
                EXPECT_EQ(S_OK, band.SiteResult);
                ComPtr<IUnknown> running;
                ComPtr<IKeptorControl> control;
                if (SUCCEEDED(::GetActiveObject(CLSID_TrovellaServer, nullptr, &running)) &&
                    SUCCEEDED(running.As(&control)))
                    control->GetSinkCount(&countWithOtherThread);
            }
            ::OleUninitialize();
            done = true;
        });
        while (!done)
            PumpMessages(20);
        other.Join();
        EXPECT_EQ(2, countWithOtherThread);
        EXPECT_EQ(1, SinkCount(keptor));
    }
    EXPECT_EQ(0, SinkCount(keptor)) << "closing the last band unsubscribes";
}

TEST_F(KeptorLinkTest, AServerKilledWithoutOnQuitIsNoticedAtTheNextCall) {
    TKeptorProcess keptor;
    ASSERT_TRUE(keptor.Started());
    ASSERT_EQ(S_OK, keptor.Control()->SetDocument(TBStr(L"http://a/").Get(), 5, TBStr(L"c").Get(), 1, 2));
    TSitedBand first(L"A"), second(L"B");
    TServerWrapper& wrapper = *TServerWrapperProbe::Current();
    EXPECT_EQ(5, wrapper.GetDocumentId(L"http://a/"));
    keptor.Kill();
    EXPECT_TRUE(Notifications.empty());
    EXPECT_EQ(-1, wrapper.GetDocumentId(L"http://a/")) << "the call fails and returns its default";
    EXPECT_EQ((std::vector<std::wstring>{L"A:ServerDisconnected", L"B:ServerDisconnected"}), Notifications);
    EXPECT_FALSE(wrapper.IsConnected());
}

TEST_F(KeptorLinkTest, StartingTheServerAndPostingTheStartMessageReconnects) {
    TSitedBand band(L"A");
    ASSERT_FALSE(TServerWrapperProbe::Current()->IsConnected()) << "no application is running yet";
    TKeptorProcess keptor;
    ASSERT_TRUE(keptor.Started());
    PumpMessages(50);
    EXPECT_FALSE(TServerWrapperProbe::Current()->IsConnected()) << "the library never looks by itself";
    ASSERT_EQ(S_OK, keptor.Control()->PostStartMessage(static_cast<long>(::GetCurrentThreadId())));
    WaitForNotifications(1);
    EXPECT_EQ(std::vector<std::wstring>{L"A:ServerConnected"}, Notifications);
    EXPECT_TRUE(TServerWrapperProbe::Current()->IsConnected());
    EXPECT_EQ(1, SinkCount(keptor));
}

} // namespace
