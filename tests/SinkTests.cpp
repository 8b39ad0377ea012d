// The browser event sink driven through the test browser's DWebBrowserEvents2 connection point:
// argument order, events it ignores or refuses, subscription, interface rules and lifetime; and a
// seeded run of random event calls. What a call must look like is taken from the published event
// signatures (kPublishedEvents), written here from the interface and not from the sink's code: a sink
// that counted an event's arguments wrongly fails against it.
#include <windows.h>
#include <exdisp.h>
#include <exdispid.h>
#include <wrl/client.h>

#include <random>
#include <string>
#include <vector>

#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"
#include "server/SinkUnit.h"
#include "support/BrowserHostUnit.h"
#include "support/ClassProbes.h"
#include "support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;

namespace {

// The DWebBrowserEvents2 events the sink handles, with their published argument counts.
struct TPublishedEvent {
    DISPID Id;
    size_t Arguments;
};
const TPublishedEvent kPublishedEvents[] = {
    {DISPID_BEFORENAVIGATE2, 7}, {DISPID_NAVIGATECOMPLETE2, 2}, {DISPID_DOCUMENTCOMPLETE, 2},
    {DISPID_ONQUIT, 0},          {DISPID_DOWNLOADBEGIN, 0},     {DISPID_DOWNLOADCOMPLETE, 0},
};

// The published argument count of an event, or -1 for an event the sink does not handle.
int PublishedArguments(DISPID id) {
    for (const auto& event : kPublishedEvents)
        if (event.Id == id)
            return static_cast<int>(event.Arguments);
    return -1;
}

// A sink that counts its destructions.
class TCountingSink : public TWebBrowserEventHandler {
public:
    static ComPtr<TCountingSink> Create(int& destroyed) { return ComPtr<TCountingSink>(new TCountingSink(destroyed)); }

protected:
    ~TCountingSink() override { ++Destroyed; }

private:
    explicit TCountingSink(int& destroyed) : Destroyed(destroyed) {}
    int& Destroyed;
};

// What the handlers saw.
struct TCall {
    std::string Event;
    TWebBrowserEventHandler* Sender = nullptr;
    IDispatch* PDisp = nullptr;
    std::vector<VARIANT*> Variants;
    VARIANT_BOOL* Cancel = nullptr;
};

// Sets every handler of `sink` to record its call into `calls`.
void RecordAll(TWebBrowserEventHandler& sink, std::vector<TCall>& calls) {
    sink.OnBeforeNavigate2([&calls](TWebBrowserEventHandler* sender, IDispatch* pDisp, VARIANT* url,
                                    VARIANT* flags, VARIANT* frame, VARIANT* postData, VARIANT* headers,
                                    VARIANT_BOOL* cancel) {
        calls.push_back({"BeforeNavigate2", sender, pDisp, {url, flags, frame, postData, headers}, cancel});
    });
    sink.OnNavigateComplete2([&calls](TWebBrowserEventHandler* sender, IDispatch* pDisp, VARIANT* url) {
        calls.push_back({"NavigateComplete2", sender, pDisp, {url}, nullptr});
    });
    sink.OnDocumentComplete([&calls](TWebBrowserEventHandler* sender, IDispatch* pDisp, VARIANT* url) {
        calls.push_back({"DocumentComplete", sender, pDisp, {url}, nullptr});
    });
    sink.OnQuit([&calls](TWebBrowserEventHandler* sender) {
        calls.push_back({"OnQuit", sender, nullptr, {}, nullptr});
    });
}

// An argument as the browser sends it: a pointer the VARIANT does not own, tagged with its type.
VARIANT Pointing(VARTYPE type, void* pointer) {
    VARIANT arg;
    ::VariantInit(&arg);
    V_VT(&arg) = type;
    V_BYREF(&arg) = pointer; // shares its place with V_DISPATCH
    return arg;
}

VARIANT ByRef(VARIANT* target) {
    return Pointing(VT_BYREF | VT_VARIANT, target);
}

VARIANT ByRef(VARIANT_BOOL* target) {
    return Pointing(VT_BYREF | VT_BOOL, target);
}

VARIANT Dispatch(IDispatch* object) {
    return Pointing(VT_DISPATCH, object); // the browser keeps its reference
}

class SinkTest : public TComTest {
protected:
    void SetUp() override {
        Browser = TTestBrowser::Create();
        Sink = TWebBrowserEventHandler::Create();
        RecordAll(*Sink.Get(), Calls);
    }
    void TearDown() override {
        if (Sink)
            Sink->DisconnectFrom();
        Sink.Reset();
        EXPECT_EQ(0u, Browser->SinkCount());
        Browser.Reset();
        TComTest::TearDown();
    }
    IDispatch* BrowserDispatch() const { return static_cast<IWebBrowser2*>(Browser.Get()); }
    void Connect() { ASSERT_TRUE(Sink->ConnectTo(BrowserDispatch(), DIID_DWebBrowserEvents2, false)); }

    // The seven arguments of BeforeNavigate2 as the browser sends them (VARIANTs by reference).
    struct TNavigation {
        TVariant Url{std::wstring_view(L"http://example.test/page")};
        TVariant Flags{64L};
        TVariant Frame{std::wstring_view(L"_self")};
        TVariant PostData;
        TVariant Headers{std::wstring_view(L"X-Test: 1\r\n")};
        VARIANT_BOOL Cancel = VARIANT_FALSE;
    };
    std::vector<VARIANT> BeforeNavigate2Args(TNavigation& n) {
        return {
            Dispatch(BrowserDispatch()), ByRef(n.Url.Ptr()),     ByRef(n.Flags.Ptr()), ByRef(n.Frame.Ptr()),
            ByRef(n.PostData.Ptr()),     ByRef(n.Headers.Ptr()), ByRef(&n.Cancel)};
    }

    ComPtr<TTestBrowser> Browser;
    ComPtr<TWebBrowserEventHandler> Sink;
    std::vector<TCall> Calls;
};

TEST_F(SinkTest, BeforeNavigate2ReachesTheHandlerWithTheSevenArgumentsInPublishedOrder) {
    Connect();
    TNavigation n;
    Sink->OnBeforeNavigate2([&](TWebBrowserEventHandler* sender, IDispatch* pDisp, VARIANT* url,
                                VARIANT* flags, VARIANT* frame, VARIANT* postData, VARIANT* headers,
                                VARIANT_BOOL* cancel) {
        Calls.push_back({"BeforeNavigate2", sender, pDisp, {url, flags, frame, postData, headers}, cancel});
        *cancel = VARIANT_TRUE; // the handler may cancel the navigation
    });
    EXPECT_EQ(S_OK, Browser->Fire(DISPID_BEFORENAVIGATE2, BeforeNavigate2Args(n)));

    ASSERT_EQ(1u, Calls.size());
    const TCall& call = Calls[0];
    EXPECT_EQ(Sink.Get(), call.Sender) << "the sender is the sink";
    EXPECT_EQ(BrowserDispatch(), call.PDisp);
    // Passed through as sent: the handler gets the browser's own VARIANTs.
    const std::vector<VARIANT*> expected = {n.Url.Ptr(), n.Flags.Ptr(), n.Frame.Ptr(), n.PostData.Ptr(),
                                            n.Headers.Ptr()};
    EXPECT_EQ(expected, call.Variants);
    EXPECT_EQ(&n.Cancel, call.Cancel);
    EXPECT_EQ(VARIANT_TRUE, n.Cancel);
    EXPECT_EQ(std::wstring(L"http://example.test/page"), V_BSTR(call.Variants[0]));
}

TEST_F(SinkTest, NavigateComplete2AndDocumentCompleteReachTheirOwnHandlers) {
    Connect();
    struct TRow {
        DISPID Id;
        const char* Event;
    };
    for (const TRow& row : {TRow{DISPID_NAVIGATECOMPLETE2, "NavigateComplete2"},
                            TRow{DISPID_DOCUMENTCOMPLETE, "DocumentComplete"}}) {
        SCOPED_TRACE(row.Event);
        Calls.clear();
        TVariant url(std::wstring_view(L"http://example.test/"));
        EXPECT_EQ(S_OK, Browser->Fire(row.Id, {Dispatch(BrowserDispatch()), ByRef(url.Ptr())}));
        ASSERT_EQ(1u, Calls.size());
        EXPECT_EQ(row.Event, Calls[0].Event);
        EXPECT_EQ(Sink.Get(), Calls[0].Sender);
        EXPECT_EQ(BrowserDispatch(), Calls[0].PDisp);
        EXPECT_EQ(std::vector<VARIANT*>{url.Ptr()}, Calls[0].Variants);
    }
}

TEST_F(SinkTest, ArgumentsSentByValueArePassedOnAsTheyAre) {
    Connect();
    TVariant url(std::wstring_view(L"http://example.test/by-value"));
    VARIANT pDisp;
    ::VariantInit(&pDisp);
    IDispatch* browser = BrowserDispatch();
    V_VT(&pDisp) = VT_BYREF | VT_DISPATCH;
    V_DISPATCHREF(&pDisp) = &browser;
    // The handler sees the argument itself: look at it during the call.
    IDispatch* seenPDisp = nullptr;
    VARTYPE seenType = VT_EMPTY;
    std::wstring seenUrl;
    Sink->OnDocumentComplete([&](TWebBrowserEventHandler*, IDispatch* aPDisp, VARIANT* aUrl) {
        seenPDisp = aPDisp;
        seenType = V_VT(aUrl);
        if (seenType == VT_BSTR)
            seenUrl = V_BSTR(aUrl);
    });
    EXPECT_EQ(S_OK, Browser->Fire(DISPID_DOCUMENTCOMPLETE, {pDisp, url.Get()}));
    EXPECT_EQ(BrowserDispatch(), seenPDisp);
    EXPECT_EQ(VT_BSTR, seenType);
    EXPECT_EQ(L"http://example.test/by-value", seenUrl);
}

TEST_F(SinkTest, EventsWithoutHandlersReturnSOkAndCallNothing) {
    Connect();
    EXPECT_EQ(S_OK, Browser->Fire(DISPID_DOWNLOADBEGIN, {}));
    EXPECT_EQ(S_OK, Browser->Fire(DISPID_DOWNLOADCOMPLETE, {}));
    EXPECT_TRUE(Calls.empty());

    // Handlers left empty: the events are still answered with S_OK.
    auto bare = TWebBrowserEventHandler::Create();
    TNavigation n;
    TVariant url(std::wstring_view(L"http://example.test/"));
    ASSERT_TRUE(bare->ConnectTo(BrowserDispatch(), DIID_DWebBrowserEvents2, false));
    Sink->DisconnectFrom();
    EXPECT_EQ(S_OK, Browser->Fire(DISPID_BEFORENAVIGATE2, BeforeNavigate2Args(n)));
    EXPECT_EQ(S_OK, Browser->Fire(DISPID_NAVIGATECOMPLETE2, {Dispatch(BrowserDispatch()), ByRef(url.Ptr())}));
    EXPECT_EQ(S_OK, Browser->Fire(DISPID_DOCUMENTCOMPLETE, {Dispatch(BrowserDispatch()), ByRef(url.Ptr())}));
    EXPECT_EQ(S_OK, Browser->Fire(DISPID_ONQUIT, {}));
    bare->DisconnectFrom();
    EXPECT_TRUE(Calls.empty());
}

TEST_F(SinkTest, OtherEventsAreNotImplemented) {
    Connect();
    TVariant text(std::wstring_view(L"Done"));
    for (DISPID id : {DISPID_STATUSTEXTCHANGE, DISPID_NEWWINDOW2, DISPID_TITLECHANGE, 0, -1, 0x7FFFFFFF}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(E_NOTIMPL, Browser->Fire(id, {text.Get()}));
        EXPECT_EQ(E_NOTIMPL, Browser->Fire(id, {}));
    }
    EXPECT_TRUE(Calls.empty());
}

TEST_F(SinkTest, AnEventWithOtherThanItsPublishedArgumentCountReachesNoHandler) {
    Connect();
    TNavigation n;
    const std::vector<VARIANT> all = BeforeNavigate2Args(n);
    for (const TPublishedEvent& row : kPublishedEvents) {
        for (size_t count = 0; count <= all.size(); ++count) {
            if (count == row.Arguments)
                continue;
            SCOPED_TRACE(testing::Message() << "DISPID " << row.Id << " with " << count << " arguments");
            std::vector<VARIANT> args(all.begin(), all.begin() + static_cast<ptrdiff_t>(count));
            EXPECT_EQ(DISP_E_BADPARAMCOUNT, Browser->Fire(row.Id, args));
        }
    }
    EXPECT_TRUE(Calls.empty());
    EXPECT_EQ(VARIANT_FALSE, n.Cancel);
}

// Calls the sink's IDispatch::Invoke directly.
HRESULT InvokeSink(IDispatch* sink, DISPID id, DISPPARAMS* params) {
    return sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr, nullptr,
                        nullptr);
}

TEST_F(SinkTest, NamedArgumentsAndMalformedParametersAreRefused) {
    TNavigation n;
    std::vector<VARIANT> args = BeforeNavigate2Args(n);
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID names[] = {0, 1};
    DISPPARAMS named{reversed.data(), names, 7, 2};
    EXPECT_EQ(DISP_E_NONAMEDARGS, InvokeSink(Sink.Get(), DISPID_BEFORENAVIGATE2, &named));
    DISPPARAMS noArray{nullptr, nullptr, 7, 0};
    EXPECT_EQ(E_INVALIDARG, InvokeSink(Sink.Get(), DISPID_BEFORENAVIGATE2, &noArray));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, InvokeSink(Sink.Get(), DISPID_BEFORENAVIGATE2, nullptr));
    EXPECT_EQ(S_OK, InvokeSink(Sink.Get(), DISPID_ONQUIT, nullptr)) << "no parameters: no arguments";
    ASSERT_EQ(1u, Calls.size());
    EXPECT_EQ("OnQuit", Calls[0].Event);
}

TEST_F(SinkTest, ArgumentsOfTheWrongKindReachNoHandler) {
    Connect();
    TNavigation n;
    VARIANT number;
    ::VariantInit(&number);
    V_VT(&number) = VT_I4;
    V_I4(&number) = 5;
    struct TRow {
        const char* Name;
        size_t Index; // first to last
        VARIANT Replacement;
    };
    const TRow rows[] = {
        {"pDisp is a number", 0, number},
        {"pDisp is a null reference", 0, ByRef(static_cast<VARIANT*>(nullptr))},
        {"URL is a null reference", 1, ByRef(static_cast<VARIANT*>(nullptr))},
        {"Headers is a null reference", 5, ByRef(static_cast<VARIANT*>(nullptr))},
        {"Cancel is a null reference", 6, ByRef(static_cast<VARIANT_BOOL*>(nullptr))},
        {"Cancel is a number", 6, number},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        std::vector<VARIANT> args = BeforeNavigate2Args(n);
        args[row.Index] = row.Replacement;
        EXPECT_EQ(DISP_E_TYPEMISMATCH, Browser->Fire(DISPID_BEFORENAVIGATE2, args));
    }
    EXPECT_TRUE(Calls.empty());
}

TEST_F(SinkTest, AHandlerThatRaisesMakesTheCallFailWithoutEscaping) {
    Connect();
    Sink->OnQuit([](TWebBrowserEventHandler*) { RaiseError(L"handler failed"); });
    EXPECT_EQ(E_FAIL, Browser->Fire(DISPID_ONQUIT, {}));
    Sink->OnQuit([](TWebBrowserEventHandler*) { throw 42; });
    EXPECT_EQ(E_FAIL, Browser->Fire(DISPID_ONQUIT, {}));
}

// The form's side: handlers are (object, method) pairs.
class TFormDouble {
public:
    void BrowserQuit(TWebBrowserEventHandler* sender) {
        ++Quits;
        sender->DisconnectFrom(); // what the main toolbar does on OnQuit
    }
    void BrowserNavigateComplete2(TWebBrowserEventHandler*, IDispatch*, VARIANT* url) {
        LastUrl = V_BSTR(url);
    }
    int Quits = 0;
    std::wstring LastUrl;
};

TEST_F(SinkTest, HandlersAreObjectMethodPairsAndTheQuitHandlerMayDisconnect) {
    TFormDouble form;
    Sink->OnQuit(MethodHandler(&form, &TFormDouble::BrowserQuit));
    Sink->OnNavigateComplete2(MethodHandler(&form, &TFormDouble::BrowserNavigateComplete2));
    Connect();
    TVariant url(std::wstring_view(L"http://example.test/done"));
    EXPECT_EQ(S_OK, Browser->Fire(DISPID_NAVIGATECOMPLETE2, {Dispatch(BrowserDispatch()), ByRef(url.Ptr())}));
    EXPECT_EQ(L"http://example.test/done", form.LastUrl);
    EXPECT_EQ(S_OK, Browser->Fire(DISPID_ONQUIT, {}));
    EXPECT_EQ(1, form.Quits);
    EXPECT_EQ(0u, Browser->SinkCount());
    EXPECT_EQ(nullptr, TEventSinkProbe::Source(*Sink.Get()));
    EXPECT_EQ(0u, TEventSinkProbe::Cookie(*Sink.Get()));
    EXPECT_EQ(S_OK, Browser->Fire(DISPID_ONQUIT, {}));
    EXPECT_EQ(1, form.Quits) << "no longer subscribed";
}

TEST_F(SinkTest, ConnectToReportsEveryFailureThroughItsResult) {
    // Nil source.
    EXPECT_FALSE(Sink->ConnectTo(nullptr, DIID_DWebBrowserEvents2, false));
    EXPECT_EQ(nullptr, TEventSinkProbe::Source(*Sink.Get()));
    // No connection point for the interface.
    Browser->RefuseConnectionPoint = true;
    EXPECT_FALSE(Sink->ConnectTo(BrowserDispatch(), DIID_DWebBrowserEvents2, false));
    EXPECT_EQ(0u, TEventSinkProbe::Cookie(*Sink.Get()));
    Browser->RefuseConnectionPoint = false;
    EXPECT_FALSE(Sink->ConnectTo(BrowserDispatch(), IID_IPropertyNotifySink, false));
    // Advise refused.
    Browser->RefuseAdvise = true;
    EXPECT_FALSE(Sink->ConnectTo(BrowserDispatch(), DIID_DWebBrowserEvents2, false));
    EXPECT_EQ(0u, TEventSinkProbe::Cookie(*Sink.Get()));
    EXPECT_EQ(0u, Browser->SinkCount());
    Sink->DisconnectFrom();
    EXPECT_EQ(nullptr, TEventSinkProbe::Source(*Sink.Get()));
    // Accepted.
    Browser->RefuseAdvise = false;
    EXPECT_TRUE(Sink->ConnectTo(BrowserDispatch(), DIID_DWebBrowserEvents2, false));
    EXPECT_NE(0u, TEventSinkProbe::Cookie(*Sink.Get()));
    EXPECT_EQ(1u, Browser->SinkCount());
    ComPtr<IUnknown> sourceIdentity, browserIdentity;
    ASSERT_EQ(S_OK, TEventSinkProbe::Source(*Sink.Get())->QueryInterface(IID_PPV_ARGS(&sourceIdentity)));
    ASSERT_EQ(S_OK, BrowserDispatch()->QueryInterface(IID_PPV_ARGS(&browserIdentity)));
    EXPECT_EQ(browserIdentity, sourceIdentity);
    // Connecting again first leaves the old subscription.
    EXPECT_TRUE(Sink->ConnectTo(BrowserDispatch(), DIID_DWebBrowserEvents2, false));
    EXPECT_EQ(1u, Browser->SinkCount());
}

TEST_F(SinkTest, ASourceWithoutConnectionPointsIsAnError) {
    auto other = TWebBrowserEventHandler::Create();
    try {
        Sink->ConnectTo(other.Get(), DIID_DWebBrowserEvents2, false);
        ADD_FAILURE() << "ConnectTo returned";
    } catch (const TError& error) {
        EXPECT_EQ(L"Interface not supported", error.Text());
    }
    Sink->DisconnectFrom();
    EXPECT_EQ(nullptr, TEventSinkProbe::Source(*Sink.Get()));
}

TEST_F(SinkTest, DisconnectFromANeverConnectedSinkIsHarmless) {
    Sink->DisconnectFrom();
    Sink->DisconnectFrom();
    EXPECT_EQ(nullptr, TEventSinkProbe::Source(*Sink.Get()));
    EXPECT_EQ(0u, TEventSinkProbe::Cookie(*Sink.Get()));
    // It can still connect afterwards.
    Connect();
    Sink->DisconnectFrom();
    EXPECT_EQ(nullptr, TEventSinkProbe::Source(*Sink.Get()));
    EXPECT_EQ(0u, Browser->SinkCount());
}

TEST_F(SinkTest, QueryInterfaceAnswersTheEventInterfaceOnlyWhenRemembered) {
    EXPECT_EQ(IID_IDispatch, TEventSinkProbe::EventId(*Sink.Get()));
    ComPtr<IUnknown> unknown;
    ComPtr<IDispatch> dispatch, events;
    EXPECT_EQ(S_OK, Sink->QueryInterface(IID_PPV_ARGS(&unknown)));
    EXPECT_EQ(S_OK, Sink->QueryInterface(IID_PPV_ARGS(&dispatch)));
    // One object: IUnknown asked of its IDispatch is its identity.
    ComPtr<IUnknown> identity;
    ASSERT_EQ(S_OK, dispatch.As(&identity));
    EXPECT_EQ(unknown.Get(), identity.Get());
    EXPECT_EQ(E_POINTER, Sink->QueryInterface(IID_IDispatch, nullptr));
    void* none = reinterpret_cast<void*>(1);
    for (const IID* iid : {&IID_IConnectionPoint, &IID_IWebBrowser2, &IID_IPropertyNotifySink}) {
        EXPECT_EQ(E_NOINTERFACE, Sink->QueryInterface(*iid, &none));
        EXPECT_EQ(nullptr, none);
    }

    // Not remembered: the browser's Advise gets the sink through IDispatch.
    Connect();
    EXPECT_EQ(E_NOINTERFACE,
              Sink->QueryInterface(DIID_DWebBrowserEvents2, reinterpret_cast<void**>(events.GetAddressOf())));
    EXPECT_EQ(IID_IDispatch, TEventSinkProbe::EventId(*Sink.Get()));
    Sink->DisconnectFrom();

    // Remembered: the event interface is answered with the sink's IDispatch.
    ASSERT_TRUE(Sink->ConnectTo(BrowserDispatch(), DIID_DWebBrowserEvents2, true));
    EXPECT_EQ(DIID_DWebBrowserEvents2, TEventSinkProbe::EventId(*Sink.Get()));
    ASSERT_EQ(S_OK,
              Sink->QueryInterface(DIID_DWebBrowserEvents2, reinterpret_cast<void**>(events.GetAddressOf())));
    EXPECT_EQ(dispatch.Get(), events.Get());

    // Remembered even when there is nothing to connect to.
    auto other = TWebBrowserEventHandler::Create();
    EXPECT_FALSE(other->ConnectTo(nullptr, IID_IPropertyNotifySink, true));
    EXPECT_EQ(IID_IPropertyNotifySink, TEventSinkProbe::EventId(*other.Get()));
}

TEST_F(SinkTest, TypeInformationIsNotImplemented) {
    UINT count = 7;
    EXPECT_EQ(E_NOTIMPL, Sink->GetTypeInfoCount(&count));
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(E_NOTIMPL, Sink->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    EXPECT_EQ(nullptr, info);
    LPOLESTR name = const_cast<LPOLESTR>(L"BeforeNavigate2");
    DISPID id = 0;
    EXPECT_EQ(E_NOTIMPL, Sink->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
}

TEST_F(SinkTest, TheSinkIsDestroyedOnceWhenTheLastReferenceGoes) {
    // As the form uses it: a new sink has the one reference its creator holds.
    int destroyed = 0;
    ComPtr<TCountingSink> sink = TCountingSink::Create(destroyed);
    EXPECT_EQ(2u, sink->AddRef());
    EXPECT_EQ(1u, sink->Release());
    ASSERT_TRUE(sink->ConnectTo(BrowserDispatch(), DIID_DWebBrowserEvents2, false));
    sink->DisconnectFrom();
    EXPECT_EQ(0, destroyed);
    sink.Reset();
    EXPECT_EQ(1, destroyed);

    // The owner lets go first; the browser's reference keeps the sink until Unadvise.
    destroyed = 0;
    sink = TCountingSink::Create(destroyed);
    ASSERT_TRUE(sink->ConnectTo(BrowserDispatch(), DIID_DWebBrowserEvents2, false));
    const DWORD cookie = TEventSinkProbe::Cookie(*sink.Get());
    sink.Reset();
    EXPECT_EQ(0, destroyed);
    EXPECT_EQ(S_OK, Browser->Unadvise(cookie));
    EXPECT_EQ(1, destroyed);

    // The owner drops its last reference inside a handler: the sink lives until the call returns.
    destroyed = 0;
    sink = TCountingSink::Create(destroyed);
    int destroyedDuringCall = -1;
    sink->OnQuit([&](TWebBrowserEventHandler* sender) {
        sender->DisconnectFrom();
        sink.Reset();
        destroyedDuringCall = destroyed;
    });
    ASSERT_TRUE(sink->ConnectTo(BrowserDispatch(), DIID_DWebBrowserEvents2, false));
    EXPECT_EQ(S_OK, Browser->Fire(DISPID_ONQUIT, {}));
    EXPECT_EQ(0, destroyedDuringCall);
    EXPECT_EQ(1, destroyed);
}

// Random event calls: counts, types, references (valid or null), named arguments and missing
// parameter blocks. Nothing may crash, every pointer a handler gets must be usable, and a handler runs
// only for a well-formed call.
TEST_F(SinkTest, RandomEventCallsNeverCrash) {
    std::mt19937 random(20240611);
    const DISPID ids[] = {DISPID_BEFORENAVIGATE2,
                          DISPID_NAVIGATECOMPLETE2,
                          DISPID_DOCUMENTCOMPLETE,
                          DISPID_ONQUIT,
                          DISPID_DOWNLOADBEGIN,
                          DISPID_DOWNLOADCOMPLETE,
                          DISPID_STATUSTEXTCHANGE,
                          251,
                          0,
                          -5};
    int handled = 0;
    auto touch = [&](IDispatch* pDisp, std::initializer_list<VARIANT*> variants, VARIANT_BOOL* cancel) {
        if (pDisp) {
            pDisp->AddRef();
            pDisp->Release();
        }
        for (VARIANT* v : variants) {
            volatile VARTYPE type = V_VT(v);
            (void)type;
        }
        if (cancel)
            *cancel = VARIANT_TRUE;
        ++handled;
    };
    Sink->OnBeforeNavigate2([&](TWebBrowserEventHandler*, IDispatch* d, VARIANT* a, VARIANT* b, VARIANT* c,
                                VARIANT* e, VARIANT* f, VARIANT_BOOL* cancel) {
        touch(d, {a, b, c, e, f}, cancel);
    });
    Sink->OnNavigateComplete2(
        [&](TWebBrowserEventHandler*, IDispatch* d, VARIANT* a) { touch(d, {a}, nullptr); });
    Sink->OnDocumentComplete(
        [&](TWebBrowserEventHandler*, IDispatch* d, VARIANT* a) { touch(d, {a}, nullptr); });
    Sink->OnQuit([&](TWebBrowserEventHandler*) { touch(nullptr, {}, nullptr); });

    TVariant text(std::wstring_view(L"text"));
    TVariant targets[4] = {TVariant(std::wstring_view(L"a")), TVariant(3L), TVariant(BrowserDispatch()),
                           TVariant()};
    VARIANT_BOOL flag = VARIANT_FALSE;
    IDispatch* browser = BrowserDispatch();
    BSTR bstrTarget = text.Get().bstrVal;

    for (int i = 0; i < 2000; ++i) {
        const DISPID id = ids[random() % std::size(ids)];
        const UINT count = random() % 10;
        std::vector<VARIANT> args(count);
        for (VARIANT& arg : args) {
            ::VariantInit(&arg);
            const bool null = random() % 4 == 0;
            switch (random() % 10) {
            case 0:
                break; // VT_EMPTY
            case 1:
                V_VT(&arg) = VT_I4;
                V_I4(&arg) = static_cast<LONG>(random());
                break;
            case 2:
                arg = text.Get(); // shallow: the BSTR stays owned by `text`
                break;
            case 3:
                V_VT(&arg) = VT_DISPATCH;
                V_DISPATCH(&arg) = null ? nullptr : browser;
                break;
            case 4:
                V_VT(&arg) = VT_BYREF | VT_VARIANT;
                V_VARIANTREF(&arg) = null ? nullptr : targets[random() % 4].Ptr();
                break;
            case 5:
                V_VT(&arg) = VT_BYREF | VT_BOOL;
                V_BOOLREF(&arg) = null ? nullptr : &flag;
                break;
            case 6:
                V_VT(&arg) = VT_BOOL;
                V_BOOL(&arg) = VARIANT_TRUE;
                break;
            case 7:
                V_VT(&arg) = VT_BYREF | VT_DISPATCH;
                V_DISPATCHREF(&arg) = null ? nullptr : &browser;
                break;
            case 8:
                V_VT(&arg) = VT_BYREF | VT_BSTR;
                V_BSTRREF(&arg) = null ? nullptr : &bstrTarget;
                break;
            default:
                V_VT(&arg) = static_cast<VARTYPE>(random() % 80); // a type tag without a meaningful value
                if (V_VT(&arg) == VT_DISPATCH || V_VT(&arg) == VT_UNKNOWN)
                    V_DISPATCH(&arg) = nullptr;
                break;
            }
        }
        DISPID names[2] = {0, DISPID_PROPERTYPUT};
        DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, count, 0};
        switch (random() % 8) {
        case 0:
            params.cNamedArgs = 1 + random() % 2;
            params.rgdispidNamedArgs = names;
            break;
        case 1:
            params.rgvarg = nullptr;
            break;
        default:
            break;
        }
        const bool noParams = random() % 20 == 0;
        const int before = handled;
        const HRESULT result = InvokeSink(Sink.Get(), id, noParams ? nullptr : &params);
        const bool called = handled != before;
        SCOPED_TRACE(testing::Message() << "case " << i << " DISPID " << id << " count " << count);
        const UINT effectiveCount = noParams ? 0 : params.cArgs;
        if (PublishedArguments(id) < 0) {
            EXPECT_EQ(E_NOTIMPL, result);
        } else if (!noParams && params.cNamedArgs != 0) {
            EXPECT_EQ(DISP_E_NONAMEDARGS, result);
        } else if (effectiveCount != static_cast<UINT>(PublishedArguments(id))) {
            EXPECT_EQ(DISP_E_BADPARAMCOUNT, result);
        } else {
            EXPECT_TRUE(result == S_OK || result == DISP_E_TYPEMISMATCH || result == E_INVALIDARG) << result;
        }
        if (called) {
            EXPECT_EQ(S_OK, result);
        }
        if (result == S_OK && (id == DISPID_BEFORENAVIGATE2 || id == DISPID_NAVIGATECOMPLETE2 ||
                               id == DISPID_DOCUMENTCOMPLETE || id == DISPID_ONQUIT)) {
            EXPECT_TRUE(called);
        }
    }
    EXPECT_GT(handled, 0) << "some random calls are well formed";
}

} // namespace
