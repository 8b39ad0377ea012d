// The library's errors and its boundary guards: what an error says (what() included, for whoever
// reports a std::exception), and what each guard makes of every kind of error a body may raise.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"
#include "support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;

namespace {

TEST(ErrorTest, WhatGivesTheMessageInUtf8) {
    const TError plain(L"Path not found");
    EXPECT_STREQ("Path not found", plain.what());
    const TComError com(E_ACCESSDENIED, L"Gr\u00f6\u00dfe \u20ac \U0001F600");
    EXPECT_STREQ("Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80", com.what());
    EXPECT_EQ(E_ACCESSDENIED, com.Code());
    EXPECT_EQ(S_OK, plain.Code()) << "not a COM error";
    const std::exception& asStd = com;
    EXPECT_STREQ(com.what(), asStd.what());
}

// One kind of error a guarded body may raise.
struct TRaised {
    const char* Name;
    std::function<void()> Raise;
    HRESULT OwnCode;      // the code the guards that keep the error's own code give (with fallback E_FAIL)
    const wchar_t* Message;
};

const TRaised kRaised[] = {
    {"COM error", [] { throw TComError(E_ACCESSDENIED, L"No entry"); }, E_ACCESSDENIED, L"No entry"},
    {"plain error", [] { RaiseError(L"Bad page"); }, E_FAIL, L"Bad page"},
    {"COM error with a success code", [] { throw TComError(S_FALSE, L"Odd"); }, E_FAIL, L"Odd"},
    {"out of memory", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY, L"Out of memory"},
    {"other exception", [] { throw std::runtime_error("broken"); }, E_FAIL, L"broken"},
    {"anything else", [] { throw 42; }, E_FAIL, L"Unexpected error"},
};

std::wstring Reported;
void Report(const std::wstring& message) {
    Reported = message;
}

TEST(GuardTest, EachGuardTurnsEveryErrorIntoItsResult) {
    for (const TRaised& raised : kRaised) {
        SCOPED_TRACE(raised.Name);
        Reported.clear();
        EXPECT_EQ(E_NOTIMPL, ResultOr(E_NOTIMPL, raised.Raise, &Report));
        EXPECT_EQ(raised.Message, Reported);
        EXPECT_EQ(raised.OwnCode, ErrorCodeOr(E_FAIL, raised.Raise));
        EXPECT_FALSE(Guarded(raised.Raise));

        // Automation: the error's own code (else E_UNEXPECTED) and the thread's error object.
        ::SetErrorInfo(0, nullptr);
        const HRESULT automation = AutomationResult(L"ZorbexGUI.Sample", IID_IDispatch, raised.Raise);
        EXPECT_EQ(raised.OwnCode == E_FAIL ? E_UNEXPECTED : raised.OwnCode, automation);
        ComPtr<IErrorInfo> info;
        ASSERT_EQ(S_OK, ::GetErrorInfo(0, &info));
        TBStr description, source;
        info->GetDescription(description.Receive());
        info->GetSource(source.Receive());
        EXPECT_EQ(raised.Message, description.Str());
        EXPECT_EQ(L"ZorbexGUI.Sample", source.Str());

        // Event sinks: DISP_E_EXCEPTION with the caller's EXCEPINFO filled, else the sink's failure.
        EXPECT_EQ(E_UNEXPECTED, DispatchResult(E_UNEXPECTED, nullptr, raised.Raise));
        EXCEPINFO exception{};
        EXPECT_EQ(DISP_E_EXCEPTION, DispatchResult(E_UNEXPECTED, &exception, raised.Raise));
        EXPECT_EQ(raised.OwnCode == E_FAIL ? E_UNEXPECTED : raised.OwnCode, exception.scode);
        EXPECT_STREQ(raised.Message, exception.bstrDescription);
        ::SysFreeString(exception.bstrDescription);
    }
}

TEST(GuardTest, ABodyThatRaisesNothingGivesItsOwnResult) {
    auto none = [] {};
    auto own = [] { return S_FALSE; };
    EXCEPINFO exception{};
    EXPECT_EQ(S_OK, ResultOr(E_FAIL, none));
    EXPECT_EQ(S_FALSE, ResultOr(E_FAIL, own));
    EXPECT_EQ(S_FALSE, ErrorCodeOr(E_FAIL, own));
    EXPECT_EQ(S_FALSE, AutomationResult(L"", IID_IDispatch, own));
    EXPECT_EQ(S_FALSE, DispatchResult(E_FAIL, &exception, own));
    EXPECT_EQ(nullptr, exception.bstrDescription) << "untouched";
    EXPECT_TRUE(Guarded(none));
    // A report that itself fails is not the caller's problem.
    EXPECT_EQ(E_FAIL, ResultOr(E_FAIL, [] { RaiseError(L"x"); }, [](const std::wstring&) { throw 1; }));
}

} // namespace
