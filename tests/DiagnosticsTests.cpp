// The failure trace: every failure a guard swallows gives one line (library, operation, HRESULT with its
// text, the raising place), repeats fold into a count, and success paths write nothing. The lines are
// caught through the replaceable sink, and, for the DLL's own load, from the debugger output itself.
#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "KeptorServerUnit.h"
#include "com/ComSupportUnit.h"
#include "com/DiagnosticsUnit.h"
#include "com/ErrorsUnit.h"
#include "com/ZorbexGUI_TLB.h"
#include "server/ServerWrapperUnit.h"
#include "ui/FormsUnit.h"
#include "support/ClassProbes.h"
#include "support/RecordingBandUnit.h"
#include "support/TestSupport.h"
#include "support/TestThreadUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;
using keptor::TKeptorServer;

namespace {

std::vector<std::wstring> Lines;
void Catch(const std::wstring& line) {
    Lines.push_back(line);
}

// A window whose procedure fails on WM_APP.
class TFailingWindow : public TWindowObject {
public:
    TFailingWindow() : TWindowObject(nullptr) {
        Attach(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
    }

protected:
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_APP)
            RaiseError(L"The handler failed");
        return TWindowObject::WndProc(message, wParam, lParam);
    }
};

class DiagnosticsTest : public TComTest {
protected:
    void SetUp() override {
        Lines.clear();
        Before = SetTraceSink(&Catch);
        Server = TKeptorServer::Create();
        ASSERT_EQ(S_OK, Server->RegisterRunning());
    }
    void TearDown() override {
        SetTraceSink(Before);
        Server->RevokeRunning();
        Server.Reset();
        TComTest::TearDown();
    }

    TTraceSink Before = nullptr;
    ComPtr<TKeptorServer> Server;
};

// Each failing path: what it does, and what its one line must say.
TEST_F(DiagnosticsTest, EveryFailingPathWritesOneLineNamingItsOperationCodeAndPlace) {
    struct TCase {
        const char* Name;
        std::function<void(TKeptorServer& server)> Fail;
        std::vector<std::wstring> Expected; // parts of the line
    };
    const TCase cases[] = {
        {"the application gone in the middle of a call",
         [](TKeptorServer& server) {
             TSitedBand band(L"A");
             server.FailNext(47, RPC_E_DISCONNECTED); // GetDocumentInfo
             LONG id = 0, status = 0, rating = 0;
             std::wstring comments;
             TServerWrapperProbe::Current()->GetDocumentInfo(L"http://a/", id, comments, status, rating);
         },
         {L"ZorbexGUI: TServerWrapper::GetDocumentInfo failed: 0x80010108 ", L" at src/server/ServerWrapperUnit.cpp:"}},
        {"a hostile answer: an internal browser that is no browser",
         [](TKeptorServer& server) {
             TSitedBand band(L"A");
             ComPtr<TKeptorServer> notABrowser = TKeptorServer::Create();
             server.Archive().InternalBrowser = notABrowser;
             TServerWrapperProbe::Current()->OpenInInternalBrowser(L"http://a/");
             server.Archive().InternalBrowser.Reset();
         },
         {L"ZorbexGUI: TServerWrapper::OpenInInternalBrowser failed: 0x80004002 ",
          L" at src/server/ServerWrapperUnit.cpp:"}},
        {"a toolbar form failing inside an event",
         [](TKeptorServer& server) {
             TSitedBand band(L"A");
             band.Form()->FailDocumentData = true;
             LONG result = 0;
             server.FireDocumentDataChange(7, VARIANT_FALSE, TBStr(L"").Get(), 0, 0, VARIANT_FALSE, &result);
         },
         {L"ZorbexGUI: ", L" failed: 0x8000FFFF ", L" at tests/support/RecordingBandUnit.cpp:"}},
        {"a failing handler inside a window procedure",
         [](TKeptorServer&) {
             TFailingWindow window;
             ::SendMessageW(window.Handle(), WM_APP, 0, 0);
         },
         {L"ZorbexGUI: TWindowObject::SubclassProc failed: 0x8000FFFF ", L"(The handler failed)",
          L" at tests/DiagnosticsTests.cpp:"}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.Name);
        Lines.clear();
        testCase.Fail(*Server.Get());
        Server->ClearFailures();
        ASSERT_EQ(1u, Lines.size()) << (Lines.empty() ? std::string("no line") : Utf8(Lines[0]));
        std::printf("%s\n", Utf8(Lines[0]).c_str());
        for (const std::wstring& part : testCase.Expected)
            EXPECT_NE(std::wstring::npos, Lines[0].find(part)) << Utf8(part) << " in " << Utf8(Lines[0]);
    }
}

TEST_F(DiagnosticsTest, SuccessWritesNothing) {
    TSitedBand band(L"A");
    Server->Archive().Documents[L"http://a/"] = {5, L"c", 1, 2};
    LONG id = 0, status = 0, rating = 0;
    std::wstring comments;
    EXPECT_TRUE(TServerWrapperProbe::Current()->GetDocumentInfo(L"http://a/", id, comments, status, rating));
    EXPECT_TRUE(Guarded([] {}));
    EXPECT_EQ(S_OK, ResultOr(E_FAIL, [] {}));
    EXPECT_TRUE(Lines.empty()) << Utf8(Lines.front());
}

TEST_F(DiagnosticsTest, ARepeatedFailureGivesOneLineThenOneWithItsCount) {
    const auto fail = [] { Guarded([] { RaiseComError(E_ACCESSDENIED); }); };
    for (int i = 0; i < 500; ++i)
        fail();
    ASSERT_EQ(1u, Lines.size()) << "500 repeats within a second: one line";
    ::Sleep(1100);
    fail();
    ASSERT_EQ(2u, Lines.size());
    EXPECT_NE(std::wstring::npos, Lines[1].find(L"(500 more since the last line)")) << Utf8(Lines[1]);
    // Another failure is written at once.
    Guarded([] { RaiseComError(E_OUTOFMEMORY); });
    EXPECT_EQ(3u, Lines.size());
}

TEST_F(DiagnosticsTest, ACountNotYetWrittenGoesOutBeforeTheNextLineAndWhenFlushed) {
    const auto denied = [] { Guarded([] { RaiseComError(E_ACCESSDENIED); }); };
    for (int i = 0; i < 5; ++i)
        denied();
    ASSERT_EQ(1u, Lines.size()) << "repeats within a second wait";
    // The next line of another failure says first how often the first one came since its line.
    Guarded([] { RaiseComError(E_OUTOFMEMORY); });
    ASSERT_EQ(3u, Lines.size());
    EXPECT_NE(std::wstring::npos, Lines[1].find(L"0x80070005")) << Utf8(Lines[1]);
    EXPECT_NE(std::wstring::npos, Lines[1].find(L"(4 more since the last line)")) << Utf8(Lines[1]);
    EXPECT_NE(std::wstring::npos, Lines[2].find(L"0x8007000E")) << Utf8(Lines[2]);
    // The library's unload writes what is left.
    denied();
    denied();
    ASSERT_EQ(3u, Lines.size());
    FlushTrace();
    ASSERT_EQ(4u, Lines.size());
    EXPECT_NE(std::wstring::npos, Lines[3].find(L"(2 more since the last line)")) << Utf8(Lines[3]);
    FlushTrace();
    EXPECT_EQ(4u, Lines.size()) << "a count is written once";
}

// The DLL's own lines go to the debugger output: a copy of the DLL whose type library is damaged fails to
// load (its class factories check their classes against the type library at load), and says why. The
// output is watched through the exception that OutputDebugString raises for a debugger.
std::vector<std::string> DebuggerLines;
LONG CALLBACK WatchDebugOutput(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
        const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        const size_t length = static_cast<size_t>(record->ExceptionInformation[0]);
        DebuggerLines.emplace_back(text, length > 0 && text[length - 1] == '\0' ? length - 1 : length);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(DiagnosticsLoadTest, AFailingLoadSaysWhyOnTheDebuggerOutput) {
    wchar_t temp[MAX_PATH];
    ASSERT_NE(0u, ::GetTempPathW(MAX_PATH, temp));
    const std::wstring copy = std::wstring(temp) + L"ZorbexGUI-damaged-typelib.dll";
    ASSERT_TRUE(::CopyFileW(DllPath().c_str(), copy.c_str(), FALSE));
    {
        // The type library resource starts with its header, "MSFT" and version 2.1: spoil the magic.
        std::string bytes;
        {
            std::ifstream in(std::filesystem::path(copy), std::ios::binary | std::ios::ate);
            bytes.resize(static_cast<size_t>(in.tellg()));
            in.seekg(0);
            in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        const size_t at = bytes.find(std::string("MSFT\x02\x00\x01\x00", 8));
        ASSERT_NE(std::string::npos, at);
        bytes.replace(at, 4, "XXXX");
        std::ofstream out(std::filesystem::path(copy), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    DebuggerLines.clear();
    void* watch = ::AddVectoredExceptionHandler(1, &WatchDebugOutput);
    HMODULE module = ::LoadLibraryW(copy.c_str());
    const DWORD error = ::GetLastError();
    ::RemoveVectoredExceptionHandler(watch);
    if (module)
        ::FreeLibrary(module);
    ::DeleteFileW(copy.c_str());
    EXPECT_EQ(nullptr, module) << "the load fails as a whole";
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), error);
    ASSERT_EQ(1u, DebuggerLines.size());
    std::printf("%s", DebuggerLines[0].c_str());
    EXPECT_EQ(0u, DebuggerLines[0].find("ZorbexGUI: DllMain failed: 0x")) << DebuggerLines[0];
    EXPECT_NE(std::string::npos, DebuggerLines[0].find(" at src/com/ComServerUnit.cpp:")) << DebuggerLines[0];
}

// The lines of the DLL that hold a count: a thread's repeats when the thread ends, and the rest when the
// library is unloaded.
TEST(DiagnosticsLoadTest, ACountGoesOutWhenItsThreadEndsAndWhenTheLibraryIsUnloaded) {
    // The call fails inside, with one trace line.
    const VARIANT malformed = MalformedVariant();
    const auto countLines = [] {
        std::vector<std::string> counts;
        for (const std::string& line : DebuggerLines)
            if (line.find("(2 more since the last line)") != std::string::npos)
                counts.push_back(line);
        return counts;
    };
    DebuggerLines.clear();
    void* watch = ::AddVectoredExceptionHandler(1, &WatchDebugOutput);
    {
        TLibrary library;
        ComPtr<IClassFactory> factory;
        ComPtr<IIEHKepUtils> utils;
        ASSERT_EQ(S_OK, library.GetClassObject(CLSID_IEHKepUtils, IID_PPV_ARGS(&factory)));
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&utils)));
        {
            TTestThread other([&] {
                for (int i = 0; i < 3; ++i)
                    utils->OpenLinks(malformed, 0);
            });
        }
        EXPECT_EQ(1u, countLines().size()) << "the thread's count, when it ended";
        for (int i = 0; i < 3; ++i)
            utils->OpenLinks(malformed, 0);
        EXPECT_EQ(1u, countLines().size()) << "this thread's count waits";
        utils.Reset();
        factory.Reset();
    }
    ::RemoveVectoredExceptionHandler(watch);
    for (const std::string& line : countLines())
        std::printf("%s", line.c_str());
    EXPECT_EQ(2u, countLines().size()) << "this thread's count, at the unload";
}

} // namespace
