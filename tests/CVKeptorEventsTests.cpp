// The Keptor application's event sink: subscription, argument mapping and malformed calls, and a
// seeded run of random calls that checks what each call may reach.
#include <windows.h>
#include <wrl/client.h>

#include <random>
#include <string>
#include <vector>

#include "KeptorServerUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"
#include "server/CVKeptorEvents.h"
#include "support/ClassProbes.h"
#include "support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;

namespace {

struct TReceived {
    int Calls = 0;
    LONG Id = 0;
    VARIANT_BOOL Present = 0;
    std::wstring Comments;
    LONG Status = 0;
    LONG Rating = 0;
};

class EventSinkTest : public test::TComTest {
protected:
    void SetUp() override {
        Sink->OnDocumentDataChange = [this](IUnknown* sender, LONG id, VARIANT_BOOL present,
                                           const std::wstring& comments, LONG status, LONG rating) {
            EXPECT_EQ(static_cast<IDispatch*>(Sink.Get()), sender);
            Received = {Received.Calls + 1, id, present, comments, status, rating};
        };
    }
    void TearDown() override {
        Sink.Reset();
        TComTest::TearDown();
    }

    // Calls the sink as a dispatch caller does: positional arguments given first to last.
    HRESULT Call(DISPID id, std::vector<TVariant>& argsFirstToLast, std::vector<DISPID> named = {},
                 WORD flags = DISPATCH_METHOD) {
        std::vector<VARIANT> rgvarg;
        for (auto it = argsFirstToLast.rbegin(); it != argsFirstToLast.rend(); ++it)
            rgvarg.push_back(it->Get());
        DISPPARAMS params{rgvarg.data(), named.data(), static_cast<UINT>(rgvarg.size()),
                          static_cast<UINT>(named.size())};
        return Sink->Invoke(id, IID_NULL, 0, flags, &params, nullptr, nullptr, nullptr);
    }

    static std::vector<TVariant> Args(std::vector<TVariant>&& values) { return std::move(values); }

    static TVariant Bool(bool value) {
        TVariant v;
        V_VT(v.Ptr()) = VT_BOOL;
        V_BOOL(v.Ptr()) = value ? VARIANT_TRUE : VARIANT_FALSE;
        return v;
    }
    static TVariant Typed(VARTYPE type, LONG value) {
        TVariant v(static_cast<long>(value));
        ::VariantChangeType(v.Ptr(), v.Ptr(), 0, type);
        return v;
    }

    ComPtr<TCVKeptorIGUIServerEvents> Sink = TCVKeptorIGUIServerEvents::Create();
    TReceived Received;
};

std::vector<TVariant> GoodArgs() {
    std::vector<TVariant> args;
    args.emplace_back(42L);
    TVariant present;
    V_VT(present.Ptr()) = VT_BOOL;
    V_BOOL(present.Ptr()) = VARIANT_TRUE;
    args.push_back(std::move(present));
    args.emplace_back(std::wstring_view(L"x"));
    args.emplace_back(1L);
    args.emplace_back(3L);
    return args;
}

TEST_F(EventSinkTest, PositionalArgumentsReachTheHandlerInOrder) {
    auto args = GoodArgs();
    EXPECT_EQ(S_OK, Call(203, args));
    EXPECT_EQ(1, Received.Calls);
    EXPECT_EQ(42, Received.Id);
    EXPECT_EQ(VARIANT_TRUE, Received.Present);
    EXPECT_EQ(L"x", Received.Comments);
    EXPECT_EQ(1, Received.Status);
    EXPECT_EQ(3, Received.Rating);
}

TEST_F(EventSinkTest, NamedArgumentsInAnyOrderGiveTheSameResult) {
    // Named arguments: rgvarg[j] is the argument whose DISPID is named[j].
    const std::vector<std::vector<DISPID>> orders = {{0, 1, 2, 3, 4}, {4, 3, 2, 1, 0}, {2, 0, 4, 1, 3}};
    for (const auto& order : orders) {
        auto good = GoodArgs();
        std::vector<TVariant> rgvarg;
        for (DISPID position : order)
            rgvarg.emplace_back(good[static_cast<size_t>(position)].Get());
        std::vector<VARIANT> raw;
        for (auto& v : rgvarg)
            raw.push_back(v.Get());
        std::vector<DISPID> named = order;
        DISPPARAMS params{raw.data(), named.data(), 5, 5};
        Received = {};
        EXPECT_EQ(S_OK, Sink->Invoke(203, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
        EXPECT_EQ(42, Received.Id);
        EXPECT_EQ(VARIANT_TRUE, Received.Present);
        EXPECT_EQ(L"x", Received.Comments);
        EXPECT_EQ(1, Received.Status);
        EXPECT_EQ(3, Received.Rating);
    }
}

TEST_F(EventSinkTest, MalformedDocumentDataChangeReachesNoHandler) {
    struct TCase {
        const char* Name;
        size_t Position; // which argument to replace
        std::function<TVariant()> Value;
        HRESULT Expected;
    };
    const TCase cases[] = {
        {"AID as string", 0, [] { return TVariant(std::wstring_view(L"42")); }, DISP_E_TYPEMISMATCH},
        {"AID as double", 0, [] { return Typed(VT_R8, 42); }, DISP_E_TYPEMISMATCH},
        {"AID empty", 0, [] { return TVariant(); }, DISP_E_TYPEMISMATCH},
        {"APresent as integer", 1, [] { return TVariant(1L); }, DISP_E_TYPEMISMATCH},
        {"AComments as integer", 2, [] { return TVariant(7L); }, DISP_E_TYPEMISMATCH},
        {"AComments as object", 2, [] { return TVariant(static_cast<IDispatch*>(nullptr)); }, DISP_E_TYPEMISMATCH},
        {"ARating as string", 4, [] { return TVariant(std::wstring_view(L"3")); }, DISP_E_TYPEMISMATCH},
        {"AStatus as 16-bit", 3, [] { return Typed(VT_I2, 1); }, S_OK},
        {"ARating as byte", 4, [] { return Typed(VT_UI1, 3); }, S_OK},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.Name);
        auto args = GoodArgs();
        args[testCase.Position] = testCase.Value();
        Received = {};
        EXPECT_EQ(testCase.Expected, Call(203, args));
        EXPECT_EQ(testCase.Expected == S_OK ? 1 : 0, Received.Calls);
        if (testCase.Expected == S_OK) {
            EXPECT_EQ(1, Received.Status);
            EXPECT_EQ(3, Received.Rating);
        }
    }
    for (size_t count = 0; count < 5; ++count) {
        auto args = GoodArgs();
        args.resize(count);
        Received = {};
        EXPECT_EQ(DISP_E_BADPARAMCOUNT, Call(203, args)) << count << " arguments";
        EXPECT_EQ(0, Received.Calls);
    }
}

TEST_F(EventSinkTest, ByReferenceArgumentsAndANullStringAreRead) {
    LONG id = 42, status = 1, rating = 3;
    VARIANT_BOOL present = VARIANT_TRUE;
    std::vector<TVariant> args(5);
    V_VT(args[0].Ptr()) = VT_I4 | VT_BYREF;
    V_I4REF(args[0].Ptr()) = &id;
    V_VT(args[1].Ptr()) = VT_BOOL | VT_BYREF;
    V_BOOLREF(args[1].Ptr()) = &present;
    V_VT(args[2].Ptr()) = VT_BSTR; // a null BSTR is the empty string
    V_VT(args[3].Ptr()) = VT_I4 | VT_BYREF;
    V_I4REF(args[3].Ptr()) = &status;
    V_VT(args[4].Ptr()) = VT_I4 | VT_BYREF;
    V_I4REF(args[4].Ptr()) = &rating;
    std::vector<VARIANT> rgvarg;
    for (auto it = args.rbegin(); it != args.rend(); ++it)
        rgvarg.push_back(it->Get());
    for (auto& arg : args)
        (void)arg.Release(); // the values belong to this frame
    DISPPARAMS params{rgvarg.data(), nullptr, 5, 0};
    EXPECT_EQ(S_OK, Sink->Invoke(203, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    EXPECT_EQ(42, Received.Id);
    EXPECT_EQ(L"", Received.Comments);
    EXPECT_EQ(3, Received.Rating);
}

TEST_F(EventSinkTest, DispatchRulesOfTheSink) {
    std::vector<TVariant> none;
    EXPECT_EQ(S_OK, Call(202, none)) << "OnRefreshHighlight without a handler";
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Call(207, none));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Call(200, none));
    EXPECT_TRUE(FAILED(Call(201, none, {}, DISPATCH_PROPERTYGET))) << "only method calls are sunk";

    int quits = 0;
    Sink->OnQuit = [&](IUnknown*) { ++quits; };
    EXPECT_EQ(S_OK, Call(201, none));
    EXPECT_EQ(1, quits);
    Sink->OnSettingsChange = [](IUnknown*) { RaiseError(L"handler failed"); };
    EXPECT_EQ(E_UNEXPECTED, Call(204, none)) << "a handler's error does not leave the sink";

    ComPtr<IUnknown> asEvents, asDispatch;
    EXPECT_EQ(S_OK, Sink->QueryInterface(DIID_IGUIServerEvents, &asEvents));
    EXPECT_EQ(S_OK, Sink->QueryInterface(IID_IDispatch, &asDispatch));
    EXPECT_EQ(asEvents.Get(), asDispatch.Get());
    ComPtr<IUnknown> other;
    EXPECT_EQ(E_NOINTERFACE, Sink->QueryInterface(IID_IConnectionPoint, &other));
    EXPECT_EQ(nullptr, other.Get());

    UINT count = 7;
    EXPECT_EQ(E_NOTIMPL, Sink->GetTypeInfoCount(&count));
    EXPECT_EQ(0u, count);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(E_NOTIMPL, Sink->GetTypeInfo(0, 0, &info));
    EXPECT_EQ(nullptr, info);
}

TEST_F(EventSinkTest, ConnectToSubscribesAndASecondConnectUnadvisesTheFirst) {
    ComPtr<keptor::TKeptorServer> server = keptor::TKeptorServer::Create();
    Sink->ConnectTo(static_cast<IGUIServer*>(server.Get()));
    EXPECT_TRUE(TEventSinkProbe::Connected(*Sink.Get()));
    EXPECT_EQ(1, server->SinkCount());
    Sink->ConnectTo(static_cast<IGUIServer*>(server.Get()));
    EXPECT_EQ(1, server->SinkCount());

    std::vector<TVariant> args = GoodArgs();
    std::vector<TVariant> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it)
        reversed.emplace_back(it->Get());
    EXPECT_EQ(S_OK, server->Fire(203, std::move(reversed)));
    EXPECT_EQ(1, Received.Calls);
    EXPECT_EQ(L"x", Received.Comments);

    Sink->DisconnectFrom();
    EXPECT_FALSE(TEventSinkProbe::Connected(*Sink.Get()));
    EXPECT_EQ(0, server->SinkCount());
    Sink->DisconnectFrom(); // harmless when not connected
}

TEST_F(EventSinkTest, ASourceWithoutConnectionPointRaisesUnableToConnect) {
    ComPtr<IStream> notASource;
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, &notASource));
    try {
        Sink->ConnectTo(notASource.Get());
        ADD_FAILURE() << "no error";
    } catch (const TError& error) {
        EXPECT_EQ(0u, error.Text().find(L"Unable to connect .\r")) << std::string(error.Text().begin(), error.Text().end());
    }
    EXPECT_FALSE(TEventSinkProbe::Connected(*Sink.Get()));
}

TEST_F(EventSinkTest, RandomCallsReachOnlyTheHandlerOfAWellFormedEvent) {
    std::vector<DISPID> heard; // the events whose handler ran, in the current call
    auto record = [&heard](DISPID id) { return [&heard, id](IUnknown*) { heard.push_back(id); }; };
    Sink->OnQuit = record(201);
    Sink->OnSettingsChange = record(204);
    Sink->OnFunctionalityChange = record(205);
    Sink->OnQuickGroupChange = record(206);
    Sink->OnDocumentDataChange = [&heard](IUnknown*, LONG, VARIANT_BOOL, const std::wstring&, LONG, LONG) {
        heard.push_back(203);
    };
    size_t handled = 0;
    std::mt19937 random(20261210);
    const VARTYPE types[] = {VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_BSTR, VT_BOOL, VT_ERROR,
                             VT_DISPATCH, VT_UNKNOWN, VT_I1, VT_UI1, VT_UI4, VT_I8, VT_DATE};
    for (int round = 0; round < 3000; ++round) {
        const UINT count = random() % 8;
        std::vector<TVariant> args(count);
        for (auto& arg : args) {
            VARTYPE type = types[random() % std::size(types)];
            if (type == VT_BSTR)
                arg = TVariant(std::wstring(random() % 5, L'a'));
            else if (type == VT_DISPATCH || type == VT_UNKNOWN) {
                V_VT(arg.Ptr()) = type;
                V_UNKNOWN(arg.Ptr()) = nullptr;
            } else {
                arg = TVariant(static_cast<long>(random()));
                ::VariantChangeType(arg.Ptr(), arg.Ptr(), 0, type);
            }
        }
        std::vector<DISPID> named;
        const UINT namedCount = count ? random() % (count + 1) : 0;
        for (UINT j = 0; j < namedCount; ++j)
            named.push_back(static_cast<DISPID>(random() % 9) - 2);
        const DISPID id = 199 + static_cast<DISPID>(random() % 10);
        const WORD flags = static_cast<WORD>(1 + random() % 8);
        heard.clear();
        const HRESULT result = Call(id, args, named, flags);
        SCOPED_TRACE(testing::Message() << "round " << round << " DISPID " << id << " flags " << flags << " count "
                                        << count << " named " << named.size());
        if (!(flags & DISPATCH_METHOD)) {
            EXPECT_TRUE(FAILED(result)) << "only method calls are events";
            EXPECT_TRUE(heard.empty());
        } else if (id < 201 || id > 206) {
            EXPECT_EQ(DISP_E_MEMBERNOTFOUND, result);
            EXPECT_TRUE(heard.empty());
        } else if (id != 203) {
            EXPECT_EQ(S_OK, result) << "events without arguments take any arguments";
            EXPECT_EQ(id == 202 ? std::vector<DISPID>{} : std::vector<DISPID>{id}, heard);
        } else {
            EXPECT_TRUE(result == S_OK || result == DISP_E_BADPARAMCOUNT || result == DISP_E_TYPEMISMATCH) << result;
            if (count < 5) {
                EXPECT_EQ(DISP_E_BADPARAMCOUNT, result);
            }
            EXPECT_EQ(result == S_OK ? std::vector<DISPID>{203} : std::vector<DISPID>{}, heard);
        }
        handled += heard.size();
    }
    EXPECT_GT(handled, 0u) << "some random calls are events";
}

} // namespace
