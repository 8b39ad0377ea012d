// The reference Keptor server: its answers from the seeded archive, its connection point, failure
// injection, and the same server as KeptorServer.exe reached from this process through COM.
#include <windows.h>
#include <olectl.h>
#include <wrl/client.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "KeptorServerUnit.h"
#include "com/ComObjectUnit.h"
#include "com/ComSupportUnit.h"
#include "support/KeptorProcessUnit.h"
#include "support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::keptor;

namespace {

const wchar_t kSettingsKey[] = L"Software\\Calverin\\Trovella\\Settings";

// --- helpers

TBStr B(const wchar_t* text) {
    return TBStr(text);
}

// A VT_ARRAY | VT_VARIANT of the items, each made a TVariant.
template <typename T> TVariant VariantArray(std::initializer_list<T> items) {
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
    LONG i = 0;
    for (T item : items) {
        TVariant element{item};
        ::SafeArrayPutElement(array, &i, element.Ptr());
        ++i;
    }
    TVariant result;
    V_VT(result.Ptr()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(result.Ptr()) = array;
    return result;
}

TVariant Strings(std::initializer_list<std::wstring_view> items) {
    return VariantArray(items);
}

TVariant Integers(std::initializer_list<long> items) {
    return VariantArray(items);
}

std::vector<BYTE> Bytes(const VARIANT& value) {
    std::vector<BYTE> bytes;
    if (V_VT(&value) != (VT_ARRAY | VT_UI1))
        return bytes;
    TSafeArrayAccess<BYTE> access(V_ARRAY(&value));
    bytes.assign(access.Get(), access.Get() + SafeArrayLength(V_ARRAY(&value)));
    return bytes;
}

std::vector<long> Longs(const VARIANT& value) {
    std::vector<long> result;
    for (const auto& text : VariantStrings(value))
        result.push_back(std::stol(text));
    return result;
}

bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds = 10000) {
    const DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > milliseconds)
            return false;
        test::PumpMessages(20);
    }
    return true;
}

// An event sink that records every call it receives, as the server sent it.
struct TEventCall {
    DISPID Dispid = 0;
    WORD Flags = 0;
    std::vector<TVariant> Args; // rgvarg order: last argument first
    std::vector<DISPID> Named;
    DWORD Thread = 0;
};

class TRecordingSink final : public TComObject<IDispatch> {
public:
    static ComPtr<TRecordingSink> Create() { return ComPtr<TRecordingSink>(new TRecordingSink); }

    std::vector<TEventCall> Calls;
    HRESULT Answer = S_OK;

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        TEventCall call;
        call.Dispid = id;
        call.Flags = flags;
        call.Thread = ::GetCurrentThreadId();
        for (UINT i = 0; params && i < params->cArgs; ++i)
            call.Args.emplace_back(params->rgvarg[i]);
        for (UINT i = 0; params && i < params->cNamedArgs; ++i)
            call.Named.push_back(params->rgdispidNamedArgs[i]);
        Calls.push_back(std::move(call));
        return Answer;
    }

private:
    TRecordingSink();
};

const TInterfaceEntry kRecordingSinkInterfaces[] = {
    InterfaceEntry<TRecordingSink, IDispatch>(IID_IDispatch),
    InterfaceEntry<TRecordingSink, IDispatch>(DIID_IGUIServerEvents),
};

TRecordingSink::TRecordingSink() : TComObject(TModuleCount::None, kRecordingSinkInterfaces, nullptr) {}

ComPtr<IConnectionPoint> EventsPoint(IUnknown* server) {
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(server->QueryInterface(IID_PPV_ARGS(&container))))
        container->FindConnectionPoint(DIID_IGUIServerEvents, &point);
    return point;
}

void ExpectDocumentDataChange(const TEventCall& call, long id, bool present, const wchar_t* comments,
                              long status, long rating) {
    EXPECT_EQ(203, call.Dispid);
    EXPECT_EQ(DISPATCH_METHOD, call.Flags);
    ASSERT_EQ(5u, call.Args.size());
    EXPECT_TRUE(call.Named.empty());
    EXPECT_EQ(VT_I4, call.Args[4].Type());
    EXPECT_EQ(id, V_I4(&call.Args[4].Get()));
    EXPECT_EQ(VT_BOOL, call.Args[3].Type());
    EXPECT_EQ(present ? VARIANT_TRUE : VARIANT_FALSE, V_BOOL(&call.Args[3].Get()));
    EXPECT_EQ(VT_BSTR, call.Args[2].Type());
    EXPECT_STREQ(comments, V_BSTR(&call.Args[2].Get()));
    EXPECT_EQ(VT_I4, call.Args[1].Type());
    EXPECT_EQ(status, V_I4(&call.Args[1].Get()));
    EXPECT_EQ(VT_I4, call.Args[0].Type());
    EXPECT_EQ(rating, V_I4(&call.Args[0].Get()));
}

// --- the server in this process

class KeptorServerTest : public test::TComTest {
protected:
    IGUIServer* Gui() { return static_cast<IGUIServer*>(Server.Get()); }
    // Through a reference: the server is always there, and the conversion needs no null check.
    IKeptorControl* Control() { return &static_cast<IKeptorControl&>(*Server.Get()); }

    ComPtr<TKeptorServer> Server = TKeptorServer::Create(test::KeptorTypeLib());
};

TEST_F(KeptorServerTest, DocumentsAreAnsweredFromTheArchiveAndEveryCallIsLogged) {
    ASSERT_EQ(S_OK, Control()->SetDocument(B(L"http://a.test/").Get(), 42, B(L"note").Get(), 2, 3));
    LONG id = 0, status = 0, rating = 0;
    TBStr comments;
    ASSERT_EQ(S_OK,
              Gui()->GetDocumentInfo(B(L"http://a.test/").Get(), &id, comments.Receive(), &status, &rating));
    EXPECT_EQ(42, id);
    EXPECT_EQ(L"note", comments.Str());
    EXPECT_EQ(2, status);
    EXPECT_EQ(3, rating);
    ASSERT_EQ(S_OK,
              Gui()->GetDocumentInfo(B(L"http://b.test/").Get(), &id, comments.Receive(), &status, &rating));
    EXPECT_EQ(-1, id);
    EXPECT_EQ(L"", comments.Str());
    EXPECT_EQ(0, status);
    EXPECT_EQ(0, rating);

    EXPECT_EQ(S_OK, Gui()->GetDocumentId(B(L"http://a.test/").Get(), &id));
    EXPECT_EQ(42, id);
    ASSERT_EQ(S_OK, Control()->RemoveDocument(B(L"http://a.test/").Get()));
    EXPECT_EQ(S_OK, Gui()->GetDocumentId(B(L"http://a.test/").Get(), &id));
    EXPECT_EQ(-1, id);

    TVariant log;
    ASSERT_EQ(S_OK, Control()->GetCallLog(log.Receive()));
    EXPECT_EQ(VT_ARRAY | VT_BSTR, log.Type());
    EXPECT_EQ((std::vector<std::wstring>{
                  L"47 GetDocumentInfo(\"http://a.test/\")", L"47 GetDocumentInfo(\"http://b.test/\")",
                  L"45 GetDocumentId(\"http://a.test/\")", L"45 GetDocumentId(\"http://a.test/\")"}),
              VariantStrings(log.Get()));
    ASSERT_EQ(S_OK, Control()->ClearCallLog());
    EXPECT_TRUE(Server->CallLog().empty());
}

TEST_F(KeptorServerTest, SettingSlotsAnswerTheSeededValues) {
    ASSERT_EQ(S_OK, Control()->SetRatingCount(4));
    ASSERT_EQ(S_OK, Control()->SetRatingColors(2, 0x112233, 0x445566));
    ASSERT_EQ(S_OK, Control()->SetCommentColors(1, 2, 3, 4));
    ASSERT_EQ(S_OK, Control()->SetCurrentRubricName(B(L"Rubric").Get()));
    ASSERT_EQ(S_OK, Control()->SetHintSettings(0x1C8, 300, 2000));
    ASSERT_EQ(S_OK, Control()->SetHighlightSettings(VARIANT_TRUE, VARIANT_FALSE, VARIANT_TRUE, 0x0000FF,
                                                    VARIANT_FALSE, 0x00FF00, VARIANT_TRUE, 2));
    ASSERT_EQ(S_OK, Control()->SetScreenShotSettings(VARIANT_TRUE, 100, 6, VARIANT_TRUE, 25, 3));

    LONG count = 0, text = 0, back = 0;
    EXPECT_EQ(S_OK, Gui()->GetRatingCount(&count));
    EXPECT_EQ(4, count);
    EXPECT_EQ(S_OK, Gui()->GetRatingColors(2, &text, &back));
    EXPECT_EQ(0x112233, text);
    EXPECT_EQ(0x445566, back);
    EXPECT_EQ(S_OK, Gui()->GetRatingColors(3, &text, &back)) << "an unseeded rating has default colours";

    LONG colors[4] = {};
    EXPECT_EQ(S_OK, Gui()->GetCommentColors(&colors[0], &colors[1], &colors[2], &colors[3]));
    EXPECT_EQ((std::vector<LONG>{1, 2, 3, 4}), std::vector<LONG>(colors, colors + 4));

    TBStr name;
    EXPECT_EQ(S_OK, Gui()->GetCurrentRubricName(name.Receive()));
    EXPECT_EQ(L"Rubric", name.Str());

    LONG alpha = 0, show = 0, hide = 0;
    EXPECT_EQ(S_OK, Gui()->GetHintSettings(&alpha, &show, &hide));
    EXPECT_EQ(0x1C8, alpha);
    EXPECT_EQ(300, show);
    EXPECT_EQ(2000, hide);

    VARIANT_BOOL enabled = 0, markSaved = -1, defaultBack = 0, defaultText = -1, bold = 0;
    LONG backColor = 0, textColor = 0, decoration = 0;
    EXPECT_EQ(S_OK, Gui()->GetHighlightSettings(77, &enabled, &markSaved, &defaultBack, &backColor,
                                                &defaultText, &textColor, &bold, &decoration));
    EXPECT_EQ((std::vector<LONG>{VARIANT_TRUE, VARIANT_FALSE, VARIANT_TRUE, 0x0000FF, VARIANT_FALSE, 0x00FF00,
                                 VARIANT_TRUE, 2}),
              (std::vector<LONG>{enabled, markSaved, defaultBack, backColor, defaultText, textColor, bold,
                                 decoration}));
    EXPECT_EQ(L"16 GetHighlightSettings(77)", Server->CallLog().back());

    VARIANT_BOOL takeFirst = 0, takeSecond = 0;
    LONG firstScale = 0, firstFormat = 0, secondScale = 0, secondFormat = 0;
    EXPECT_EQ(S_OK,
              Gui()->GetScreenShotSettings(B(L"http://a.test/").Get(), VARIANT_TRUE, &takeFirst, &firstScale,
                                           &firstFormat, &takeSecond, &secondScale, &secondFormat));
    EXPECT_EQ((std::vector<LONG>{VARIANT_TRUE, 100, 6, VARIANT_TRUE, 25, 3}),
              (std::vector<LONG>{takeFirst, firstScale, firstFormat, takeSecond, secondScale, secondFormat}));
    EXPECT_EQ(L"48 GetScreenShotSettings(\"http://a.test/\", true)", Server->CallLog().back());
}

TEST_F(KeptorServerTest, QuickGroupsAndLinksAnswerByIndexAndRefuseOthers) {
    LONG index = -1;
    ASSERT_EQ(S_OK, Control()->AddQuickGroup(B(L"News").Get(), VARIANT_TRUE, &index));
    EXPECT_EQ(0, index);
    ASSERT_EQ(S_OK, Control()->AddQuickGroup(B(L"Hidden").Get(), VARIANT_FALSE, &index));
    EXPECT_EQ(1, index);
    ASSERT_EQ(S_OK, Control()->AddQuickLink(0, B(L"One").Get(), B(L"http://one.test/").Get()));
    ASSERT_EQ(S_OK, Control()->AddQuickLink(0, B(L"Two").Get(), B(L"http://two.test/").Get()));
    EXPECT_EQ(E_INVALIDARG, Control()->AddQuickLink(5, B(L"x").Get(), B(L"y").Get()));

    LONG count = 0;
    EXPECT_EQ(S_OK, Gui()->GetQuickGroupCount(&count));
    EXPECT_EQ(2, count);
    const struct {
        LONG Index;
        VARIANT_BOOL Shown;
        const wchar_t* Name;
        LONG Links;
        VARIANT_BOOL Result;
    } groups[] = {{0, VARIANT_TRUE, L"News", 2, VARIANT_TRUE},
                  {1, VARIANT_FALSE, L"Hidden", 0, VARIANT_TRUE},
                  {2, VARIANT_FALSE, L"", 0, VARIANT_FALSE},
                  {-1, VARIANT_FALSE, L"", 0, VARIANT_FALSE}};
    for (const auto& row : groups) {
        VARIANT_BOOL shown = 1, result = 1;
        TBStr name;
        LONG links = -1;
        EXPECT_EQ(S_OK, Gui()->GetQuickGroup(row.Index, &shown, name.Receive(), &links, &result));
        EXPECT_EQ(row.Shown, shown) << row.Index;
        EXPECT_EQ(row.Name, name.Str()) << row.Index;
        EXPECT_EQ(row.Links, links) << row.Index;
        EXPECT_EQ(row.Result, result) << row.Index;
    }
    const struct {
        LONG Group, Link;
        const wchar_t *Caption, *Url;
        VARIANT_BOOL Result;
    } links[] = {{0, 1, L"Two", L"http://two.test/", VARIANT_TRUE},
                 {0, 2, L"", L"", VARIANT_FALSE},
                 {1, 0, L"", L"", VARIANT_FALSE},
                 {3, 0, L"", L"", VARIANT_FALSE}};
    for (const auto& row : links) {
        TBStr caption, url;
        VARIANT_BOOL result = 1;
        EXPECT_EQ(S_OK, Gui()->GetQuickLink(row.Group, row.Link, caption.Receive(), url.Receive(), &result));
        EXPECT_EQ(row.Caption, caption.Str());
        EXPECT_EQ(row.Url, url.Str());
        EXPECT_EQ(row.Result, result);
    }
}

TEST_F(KeptorServerTest, QuickGroupsCanHaveUnreadableLinksAndLyingCounts) {
    LONG index = -1;
    ASSERT_EQ(S_OK, Control()->AddQuickGroup(B(L"News").Get(), VARIANT_TRUE, &index));
    for (const wchar_t* caption : {L"One", L"Two", L"Three"})
        ASSERT_EQ(S_OK, Control()->AddQuickLink(0, B(caption).Get(), B(L"http://q.test/").Get()));
    EXPECT_EQ(S_OK, Control()->SetQuickLinkReadable(0, 1, VARIANT_FALSE));
    EXPECT_EQ(E_INVALIDARG, Control()->SetQuickLinkReadable(0, 3, VARIANT_FALSE));
    EXPECT_EQ(E_INVALIDARG, Control()->SetQuickLinkReadable(1, 0, VARIANT_FALSE));
    const struct {
        LONG Link;
        const wchar_t* Caption;
        VARIANT_BOOL Result;
    } links[] = {{0, L"One", VARIANT_TRUE}, {1, L"", VARIANT_FALSE}, {2, L"Three", VARIANT_TRUE}};
    for (const auto& row : links) {
        TBStr caption, url;
        VARIANT_BOOL result = 1;
        EXPECT_EQ(S_OK, Gui()->GetQuickLink(0, row.Link, caption.Receive(), url.Receive(), &result));
        EXPECT_EQ(row.Caption, caption.Str()) << row.Link;
        EXPECT_EQ(row.Result, result) << row.Link;
    }

    LONG count = 0;
    ASSERT_EQ(S_OK, Control()->SetQuickGroupCountAnswer(1000000));
    EXPECT_EQ(S_OK, Gui()->GetQuickGroupCount(&count));
    EXPECT_EQ(1000000, count);
    ASSERT_EQ(S_OK, Control()->SetQuickGroupCountAnswer(-1));
    EXPECT_EQ(S_OK, Gui()->GetQuickGroupCount(&count));
    EXPECT_EQ(1, count) << "a negative answer is the truth again";

    ASSERT_EQ(S_OK, Control()->SetQuickLinkCountAnswer(0, 99));
    EXPECT_EQ(E_INVALIDARG, Control()->SetQuickLinkCountAnswer(1, 99));
    VARIANT_BOOL shown = 0, result = 0;
    TBStr name;
    LONG linkCount = 0;
    EXPECT_EQ(S_OK, Gui()->GetQuickGroup(0, &shown, name.Receive(), &linkCount, &result));
    EXPECT_EQ(99, linkCount);
    EXPECT_EQ(VARIANT_TRUE, result);
}

TEST_F(KeptorServerTest, DomainLinksAreLittleEndianIdsOfThePageHostUnlessAnAnswerIsSeeded) {
    ASSERT_EQ(S_OK, Control()->AddDomainLink(0x01020304, B(L"http://Example.test/a").Get()));
    ASSERT_EQ(S_OK, Control()->AddDomainLink(7, B(L"http://example.test/b").Get()));
    ASSERT_EQ(S_OK, Control()->AddDomainLink(9, B(L"http://other.test/").Get()));

    TVariant links;
    ASSERT_EQ(S_OK, Gui()->GetDomainLinks(B(L"http://example.test/page#x").Get(), links.Receive()));
    EXPECT_EQ(VT_ARRAY | VT_UI1, links.Type());
    EXPECT_EQ((std::vector<BYTE>{7, 0, 0, 0, 4, 3, 2, 1}), Bytes(links.Get()));
    LONG count = 0;
    EXPECT_EQ(S_OK, Gui()->GetDomainLinkCount(B(L"http://example.test/").Get(), &count));
    EXPECT_EQ(2, count);
    ASSERT_EQ(S_OK, Gui()->GetDomainLinks(B(L"about:blank").Get(), links.Receive()));
    EXPECT_TRUE(Bytes(links.Get()).empty());

    TBStr url;
    EXPECT_EQ(S_OK, Gui()->GetLinkUrl(7, url.Receive()));
    EXPECT_EQ(L"http://example.test/b", url.Str());
    EXPECT_EQ(S_OK, Gui()->GetLinkUrl(8, url.Receive()));
    EXPECT_EQ(L"", url.Str());

    // A seeded answer goes out as it stands: ten bytes, or no array at all.
    TVariant tenBytes = MakeByteArray({1, 0, 0, 0, 2, 0, 0, 0, 3, 0});
    ASSERT_EQ(S_OK, Control()->SetDomainLinksAnswer(tenBytes.Get()));
    ASSERT_EQ(S_OK, Gui()->GetDomainLinks(B(L"http://example.test/").Get(), links.Receive()));
    EXPECT_EQ(10u, Bytes(links.Get()).size());
    EXPECT_EQ(S_OK, Gui()->GetDomainLinkCount(B(L"http://example.test/").Get(), &count));
    EXPECT_EQ(2, count);
    ASSERT_EQ(S_OK, Control()->SetDomainLinksAnswer(TVariant(5L).Get()));
    ASSERT_EQ(S_OK, Gui()->GetDomainLinks(B(L"http://example.test/").Get(), links.Receive()));
    EXPECT_EQ(VT_I4, links.Type());
}

TEST_F(KeptorServerTest, LinkStatesDefaultToMinusOneAndFillTheCallersArray) {
    ASSERT_EQ(S_OK, Control()->SetLinkState(B(L"http://a.test/").Get(), 0));
    ASSERT_EQ(S_OK, Control()->SetLinkState(B(L"http://c.test/").Get(), 5));
    TVariant urls = Strings({L"http://a.test/", L"http://b.test/", L"http://c.test/"});

    TVariant states = Integers({9, 9, 9}); // a variant array of the same bounds, filled in place
    SAFEARRAY* original = V_ARRAY(&states.Get());
    ASSERT_EQ(S_OK, Gui()->GetLinkStates(urls.Get(), states.Ptr()));
    EXPECT_EQ(original, V_ARRAY(&states.Get()));
    EXPECT_EQ((std::vector<long>{0, -1, 5}), Longs(states.Get()));

    TVariant none; // no array: a new variant array is answered
    ASSERT_EQ(S_OK, Gui()->GetLinkStates(urls.Get(), none.Ptr()));
    EXPECT_EQ(VT_ARRAY | VT_VARIANT, none.Type());
    EXPECT_EQ((std::vector<long>{0, -1, 5}), Longs(none.Get()));

    TVariant empty = Strings({});
    TVariant emptyStates = Integers({});
    ASSERT_EQ(S_OK, Gui()->GetLinkStates(empty.Get(), emptyStates.Ptr()));
    EXPECT_TRUE(Longs(emptyStates.Get()).empty());
}

TEST_F(KeptorServerTest, LinkImagesAreBitmapFilesInByteArrays) {
    ASSERT_EQ(S_OK, Control()->SetLinkPicture(B(L"http://a.test/").Get(), -1, 3, 2, RGB(0xFF, 0x20, 0x10)));
    VARIANT_BOOL found = 0;
    TVariant data;
    ASSERT_EQ(S_OK,
              Gui()->GetLinkImage(B(L"http://a.test/").Get(), -1, &found, data.Receive(), VARIANT_FALSE));
    EXPECT_EQ(VARIANT_TRUE, found);
    std::vector<BYTE> bytes = Bytes(data.Get());
    ASSERT_EQ(14u + 40u + 2u * 12u, bytes.size()) << "file header, info header, two rows padded to 12 bytes";
    BITMAPFILEHEADER file;
    std::memcpy(&file, bytes.data(), sizeof(file));
    EXPECT_EQ(0x4D42, file.bfType);
    EXPECT_EQ(bytes.size(), file.bfSize);
    EXPECT_EQ((std::vector<BYTE>{0x10, 0x20, 0xFF}),
              std::vector<BYTE>(bytes.begin() + 54, bytes.begin() + 57));
    EXPECT_EQ(L"14 GetLinkImage(\"http://a.test/\", -1, false)", Server->CallLog().back());

    // The picture a device context can load from those bytes.
    TMemoryDC dc(::CreateCompatibleDC(nullptr));
    BITMAPINFOHEADER info;
    std::memcpy(&info, bytes.data() + 14, sizeof(info));
    TBitmapHandle bitmap(::CreateDIBitmap(dc.Get(), &info, CBM_INIT, bytes.data() + file.bfOffBits,
                                          reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS));
    EXPECT_TRUE(bitmap);

    ASSERT_EQ(S_OK, Gui()->GetLinkImage(B(L"").Get(), 3, &found, data.Receive(), VARIANT_TRUE));
    EXPECT_EQ(VARIANT_FALSE, found);
    EXPECT_EQ(VT_EMPTY, data.Type());

    ASSERT_EQ(S_OK, Control()->SetLinkImage(B(L"").Get(), 3, VARIANT_FALSE, TVariant(1L).Get()));
    ASSERT_EQ(S_OK, Gui()->GetLinkImage(B(L"").Get(), 3, &found, data.Receive(), VARIANT_TRUE));
    EXPECT_EQ(VARIANT_FALSE, found) << "not found although data is given";
    EXPECT_EQ(VT_I4, data.Type());
}

TEST_F(KeptorServerTest, SwitchesAreStoredInTheSettingsKey) {
    using TSetter = HRESULT (STDMETHODCALLTYPE IGUIServer::*)(VARIANT_BOOL);
    const struct {
        TSetter Setter;
        const wchar_t* Value;
    } switches[] = {{&IGUIServer::SetToolbarEnabled, L"Enabled"},
                    {&IGUIServer::SetHighlightEnabled, L"Highlight enabled"},
                    {&IGUIServer::SetPopupKillerEnabled, L"Popup killer enabled"},
                    {&IGUIServer::SetBannerKillerEnabled, L"Banner killer enabled"},
                    {&IGUIServer::SetLinkHintEnabled, L"Link hint enabled"}};
    TRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0,
                                               KEY_READ | KEY_WRITE, nullptr, key.Receive(), nullptr));
    for (const auto& row : switches) {
        DWORD saved = 0, size = sizeof(saved), type = 0;
        const bool existed = ::RegQueryValueExW(key.Get(), row.Value, nullptr, &type,
                                                reinterpret_cast<BYTE*>(&saved), &size) == ERROR_SUCCESS;
        for (VARIANT_BOOL flag : {VARIANT_FALSE, VARIANT_TRUE}) {
            ASSERT_EQ(S_OK, (Gui()->*row.Setter)(flag)) << row.Value;
            DWORD value = 7;
            size = sizeof(value);
            ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(key.Get(), row.Value, nullptr, &type,
                                                        reinterpret_cast<BYTE*>(&value), &size));
            EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
            EXPECT_EQ(flag ? 1u : 0u, value) << row.Value;
            LONG stored = 0;
            EXPECT_EQ(S_OK, Control()->GetSetting(B(row.Value).Get(), &stored));
            EXPECT_EQ(flag ? 1 : 0, stored);
        }
        if (existed)
            ::RegSetValueExW(key.Get(), row.Value, 0, type, reinterpret_cast<const BYTE*>(&saved),
                             sizeof(saved));
        else
            ::RegDeleteValueW(key.Get(), row.Value);
    }
}

TEST_F(KeptorServerTest, LinkListsAreRecorded) {
    TVariant urls = Strings({L"http://a.test/", L"http://b.test/"});
    TVariant texts = Strings({L"A", L"B"});
    ASSERT_EQ(S_OK,
              Gui()->AddLinkList(urls.Get(), texts.Get(), B(L"http://page.test/").Get(), B(L"utf-8").Get()));
    ASSERT_EQ(S_OK, Gui()->OpenLinkList(urls.Get(), texts.Get(), B(L"").Get(), VARIANT_TRUE));
    TVariant sources = Strings({L"http://a.test/banner.gif"});
    ASSERT_EQ(S_OK, Gui()->AddBannerList(sources.Get()));

    const auto& lists = Server->Lists();
    ASSERT_EQ(3u, lists.size());
    EXPECT_EQ(L"AddLinkList", lists[0].Kind);
    EXPECT_EQ((std::vector<std::wstring>{L"http://a.test/", L"http://b.test/"}), lists[0].Urls);
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"B"}), lists[0].Texts);
    EXPECT_EQ(L"http://page.test/", lists[0].Extra1);
    EXPECT_EQ(L"utf-8", lists[0].Extra2);
    EXPECT_EQ(L"OpenLinkList", lists[1].Kind);
    EXPECT_TRUE(lists[1].Flag);
    EXPECT_EQ(L"AddBannerList", lists[2].Kind);
    EXPECT_EQ((std::vector<std::wstring>{L"http://a.test/banner.gif"}), lists[2].Urls);
    EXPECT_EQ(
        L"9 AddLinkList([\"http://a.test/\", \"http://b.test/\"], [\"A\", \"B\"], \"http://page.test/\", "
        L"\"utf-8\")",
        Server->CallLog()[0]);

    // The same through the control surface.
    TBStr kind, extra1, extra2;
    TVariant readUrls, readTexts;
    VARIANT_BOOL flag = 0;
    ASSERT_EQ(S_OK, Control()->GetList(1, kind.Receive(), readUrls.Receive(), readTexts.Receive(),
                                       extra1.Receive(), extra2.Receive(), &flag));
    EXPECT_EQ(L"OpenLinkList", kind.Str());
    EXPECT_EQ(lists[1].Texts, VariantStrings(readTexts.Get()));
    EXPECT_EQ(VARIANT_TRUE, flag);
    EXPECT_EQ(E_INVALIDARG, Control()->GetList(3, kind.Receive(), readUrls.Receive(), readTexts.Receive(),
                                               extra1.Receive(), extra2.Receive(), &flag));
}

TEST_F(KeptorServerTest, ScreenShotsAreKeptAndImagesWrittenToTheDirectory) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring directory =
        std::wstring(temp) + L"keptor-shots-" + std::to_wstring(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryW(directory.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_EQ(S_OK, Control()->SetScreenShotDirectory(TBStr(directory).Get()));

    const std::vector<BYTE> gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'};
    ASSERT_EQ(S_OK, Gui()->StoreScreenShot(B(L"http://a.test/").Get(), MakeByteArray(gif).Get()));
    ASSERT_EQ(S_OK, Gui()->StoreSecondScreenShot(B(L"http://a.test/").Get(), TVariant(0L).Get()));

    const auto& shots = Server->ScreenShots();
    ASSERT_EQ(2u, shots.size());
    EXPECT_EQ(1, shots[0].Which);
    EXPECT_TRUE(shots[0].IsImage);
    EXPECT_EQ(gif, shots[0].Data);
    EXPECT_EQ(2, shots[1].Which);
    EXPECT_FALSE(shots[1].IsImage);
    EXPECT_TRUE(shots[1].FileName.empty()) << "the integer 0 is not written";
    EXPECT_EQ(L"50 StoreSecondScreenShot(\"http://a.test/\", 0)", Server->CallLog().back());

    TKernelHandle file(
        ::CreateFileW(shots[0].FileName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(INVALID_HANDLE_VALUE, file.Get());
    std::vector<BYTE> written(64);
    DWORD read = 0;
    ::ReadFile(file.Get(), written.data(), static_cast<DWORD>(written.size()), &read, nullptr);
    written.resize(read);
    file.Reset();
    EXPECT_EQ(gif, written);

    TBStr url;
    LONG which = 0;
    TVariant data;
    ASSERT_EQ(S_OK, Control()->GetScreenShot(0, url.Receive(), &which, data.Receive()));
    EXPECT_EQ(gif, Bytes(data.Get()));
    ASSERT_EQ(S_OK, Control()->GetScreenShot(1, url.Receive(), &which, data.Receive()));
    EXPECT_EQ(VT_I4, data.Type());

    ::DeleteFileW(shots[0].FileName.c_str());
    EXPECT_TRUE(::RemoveDirectoryW(directory.c_str()));
}

TEST_F(KeptorServerTest, InternalBrowserIsNilUntilSeeded) {
    ComPtr<IDispatch> browser;
    EXPECT_EQ(S_OK, Gui()->GetInternalBrowser(&browser, VARIANT_TRUE));
    EXPECT_EQ(nullptr, browser.Get());
    ComPtr<TRecordingSink> object = TRecordingSink::Create();
    ASSERT_EQ(S_OK, Control()->SetInternalBrowser(object.Get()));
    EXPECT_EQ(S_OK, Gui()->GetInternalBrowser(&browser, VARIANT_TRUE));
    EXPECT_EQ(static_cast<IDispatch*>(object.Get()), browser.Get());
    EXPECT_EQ(L"11 GetInternalBrowser(true)", Server->CallLog().back());
    ASSERT_EQ(S_OK, Control()->SetInternalBrowser(nullptr));
}

TEST_F(KeptorServerTest, IDispatchIsServedFromTheTypeLibrary) {
    ASSERT_EQ(S_OK, Control()->SetDocument(B(L"http://a.test/").Get(), 42, B(L"").Get(), 0, 0));
    LPOLESTR name = const_cast<LPOLESTR>(L"GetDocumentId");
    DISPID dispid = 0;
    ASSERT_EQ(S_OK, Gui()->GetIDsOfNames(IID_NULL, &name, 1, 0, &dispid));
    EXPECT_EQ(39, dispid);
    LONG id = 0;
    VARIANT args[2];
    V_VT(&args[0]) = VT_BYREF | VT_I4;
    V_I4REF(&args[0]) = &id;
    TBStr url(L"http://a.test/");
    V_VT(&args[1]) = VT_BSTR;
    V_BSTR(&args[1]) = url.Get();
    DISPPARAMS params{args, nullptr, 2, 0};
    EXPECT_EQ(S_OK, Gui()->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    EXPECT_EQ(42, id);
}

TEST_F(KeptorServerTest, SinksHoldSlotCookiesAndReceiveEventsAsSent) {
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, Server.As(&container));
    ComPtr<IConnectionPoint> wrong;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, &wrong));
    ComPtr<IConnectionPoint> point = EventsPoint(Gui());
    ASSERT_TRUE(point);
    IID iid{};
    EXPECT_EQ(S_OK, point->GetConnectionInterface(&iid));
    EXPECT_EQ(DIID_IGUIServerEvents, iid);

    ComPtr<TRecordingSink> first = TRecordingSink::Create(), second = TRecordingSink::Create(),
                           third = TRecordingSink::Create();
    DWORD cookie1 = 0, cookie2 = 0, cookie3 = 0;
    ASSERT_EQ(S_OK, point->Advise(first.Get(), &cookie1));
    ASSERT_EQ(S_OK, point->Advise(second.Get(), &cookie2));
    EXPECT_EQ(1u, cookie1);
    EXPECT_EQ(2u, cookie2);
    ASSERT_EQ(S_OK, point->Unadvise(cookie1));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie1));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(9));
    ASSERT_EQ(S_OK, point->Advise(third.Get(), &cookie3));
    EXPECT_EQ(1u, cookie3) << "a free slot is taken again";
    EXPECT_EQ(2, Server->SinkCount());

    LONG result = -1;
    ASSERT_EQ(S_OK, Control()->FireDocumentDataChange(42, VARIANT_TRUE, B(L"x").Get(), 1, 3, VARIANT_FALSE,
                                                      &result));
    EXPECT_EQ(S_OK, result);
    EXPECT_TRUE(first->Calls.empty());
    for (auto* sink : {second.Get(), third.Get()}) {
        ASSERT_EQ(1u, sink->Calls.size());
        ExpectDocumentDataChange(sink->Calls[0], 42, true, L"x", 1, 3);
    }

    // FireEvent takes the arguments in their natural order; FireRaw sends them as given.
    ASSERT_EQ(S_OK, Control()->FireEvent(206, Strings({L"first", L"second"}).Get(), VARIANT_FALSE, &result));
    ASSERT_EQ(2u, third->Calls.size());
    EXPECT_EQ(206, third->Calls[1].Dispid);
    EXPECT_STREQ(L"second", V_BSTR(&third->Calls[1].Args[0].Get()));

    third->Answer = DISP_E_MEMBERNOTFOUND;
    ASSERT_EQ(S_OK, Control()->FireRaw(203, Strings({L"a", L"b", L"c"}).Get(), Integers({2, 0}).Get(),
                                       DISPATCH_PROPERTYGET, VARIANT_FALSE, &result));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, result) << "the first failure of a sink";
    const TEventCall& raw = third->Calls[2];
    EXPECT_EQ(DISPATCH_PROPERTYGET, raw.Flags);
    ASSERT_EQ(3u, raw.Args.size());
    EXPECT_STREQ(L"a", V_BSTR(&raw.Args[0].Get()));
    EXPECT_EQ((std::vector<DISPID>{2, 0}), raw.Named);

    ASSERT_EQ(S_OK, point->Unadvise(cookie2));
    ASSERT_EQ(S_OK, point->Unadvise(cookie3));
    EXPECT_EQ(S_FALSE, Server->Fire(204, {})) << "no sink left";
}

TEST_F(KeptorServerTest, PostedEventsArriveOnlyWhenMessagesArePumped) {
    ComPtr<IConnectionPoint> point = EventsPoint(Gui());
    ComPtr<TRecordingSink> sink = TRecordingSink::Create();
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(sink.Get(), &cookie));
    LONG result = -1;
    ASSERT_EQ(S_OK,
              Control()->FireDocumentDataChange(7, VARIANT_FALSE, B(L"").Get(), 0, 1, VARIANT_TRUE, &result));
    EXPECT_TRUE(sink->Calls.empty());
    EXPECT_TRUE(PumpUntil([&] { return !sink->Calls.empty(); }));
    ASSERT_EQ(1u, sink->Calls.size());
    ExpectDocumentDataChange(sink->Calls[0], 7, false, L"", 0, 1);
    ASSERT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(KeptorServerTest, AutomaticEventsFollowArchiveChanges) {
    ComPtr<IConnectionPoint> point = EventsPoint(Gui());
    ComPtr<TRecordingSink> sink = TRecordingSink::Create();
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(sink.Get(), &cookie));
    ASSERT_EQ(S_OK, Control()->SetAutoEvents(VARIANT_TRUE));
    ASSERT_EQ(S_OK, Control()->SetCurrentRubricName(B(L"Inbox").Get()));
    TBStr answer;
    ASSERT_EQ(S_OK, Gui()->AddDocumentToRubric(B(L"Title").Get(), B(L"http://new.test/").Get(), B(L"").Get(),
                                               B(L"").Get(), answer.Receive(), VARIANT_FALSE));
    EXPECT_EQ(L"Inbox", answer.Str());
    LONG id = -1;
    ASSERT_EQ(S_OK, Gui()->GetDocumentId(B(L"http://new.test/").Get(), &id));
    EXPECT_GE(id, 0);
    ASSERT_TRUE(PumpUntil([&] { return !sink->Calls.empty(); }));
    ExpectDocumentDataChange(sink->Calls[0], id, true, L"", 0, 0);
    ASSERT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(KeptorServerTest, FailuresAreInjectedOnceOrAlwaysPerSlotOrForEverySlot) {
    LONG id = 0, count = 0;
    ASSERT_EQ(S_OK, Control()->FailNext(45, E_FAIL));
    EXPECT_EQ(E_FAIL, Gui()->GetDocumentId(B(L"http://a.test/").Get(), &id));
    EXPECT_EQ(S_OK, Gui()->GetDocumentId(B(L"http://a.test/").Get(), &id)) << "only the next call fails";

    ASSERT_EQ(S_OK, Control()->FailAlways(kAnySlot, RPC_E_DISCONNECTED));
    ASSERT_EQ(S_OK, Control()->FailNext(41, E_OUTOFMEMORY));
    EXPECT_EQ(E_OUTOFMEMORY, Gui()->GetRatingCount(&count)) << "a pending single failure comes first";
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(RPC_E_DISCONNECTED, Gui()->GetRatingCount(&count));
        EXPECT_EQ(RPC_E_DISCONNECTED, Gui()->ShowSettings());
    }
    ASSERT_EQ(S_OK, Control()->ClearFailures());
    EXPECT_EQ(S_OK, Gui()->GetRatingCount(&count));
    EXPECT_EQ(L"24 ShowSettings()", Server->CallLog()[Server->CallLog().size() - 2])
        << "failed calls are logged";
}

TEST_F(KeptorServerTest, StartMessageIsPostedToTheThread) {
    ASSERT_EQ(S_OK, Control()->PostStartMessage(static_cast<LONG>(::GetCurrentThreadId())));
    MSG message;
    EXPECT_TRUE(::PeekMessageW(&message, nullptr, kStartMessage, kStartMessage, PM_REMOVE));
    EXPECT_EQ(nullptr, message.hwnd);
}

// The running object table is shared by every process of the prefix: these tests hold its lock.
TEST_F(KeptorServerTest, RunningServerIsFoundByClassAndProgramIdAndQuitFiresOnQuit) {
    ASSERT_EQ(S_OK, Server->RegisterRunning());
    ComPtr<IUnknown> running, byProgId;
    ASSERT_EQ(S_OK, ::GetActiveObject(CLSID_TrovellaServer, nullptr, &running));
    ComPtr<IUnknown> identity;
    Server.As(&identity);
    EXPECT_EQ(identity.Get(), running.Get());
    CLSID clsid{};
    ASSERT_EQ(S_OK, ::CLSIDFromProgID(kProgID, &clsid));
    EXPECT_EQ(CLSID_TrovellaServer, clsid);
    EXPECT_EQ(S_OK, ::GetActiveObject(clsid, nullptr, &byProgId));
    running.Reset();
    byProgId.Reset();

    ComPtr<IConnectionPoint> point = EventsPoint(Gui());
    ComPtr<TRecordingSink> sink = TRecordingSink::Create();
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(sink.Get(), &cookie));
    ASSERT_EQ(S_OK, Control()->Quit(VARIANT_FALSE));
    ASSERT_EQ(1u, sink->Calls.size());
    EXPECT_EQ(201, sink->Calls[0].Dispid);
    EXPECT_TRUE(sink->Calls[0].Args.empty());
    EXPECT_FALSE(Server->IsRunning());
    EXPECT_TRUE(FAILED(::GetActiveObject(CLSID_TrovellaServer, nullptr, &running)));
    ASSERT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(KeptorServerTest, DieLeavesTheTableWithoutOnQuitAndFailsLaterCalls) {
    ASSERT_EQ(S_OK, Server->RegisterRunning());
    ComPtr<IConnectionPoint> point = EventsPoint(Gui());
    ComPtr<TRecordingSink> sink = TRecordingSink::Create();
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(sink.Get(), &cookie));
    ASSERT_EQ(S_OK, Control()->Die(0));
    EXPECT_TRUE(PumpUntil([&] { return !Server->IsRunning(); }));
    EXPECT_TRUE(sink->Calls.empty());
    LONG count = 0;
    EXPECT_EQ(RPC_E_DISCONNECTED, Gui()->GetRatingCount(&count));
    ComPtr<IUnknown> running;
    EXPECT_TRUE(FAILED(::GetActiveObject(CLSID_TrovellaServer, nullptr, &running)));
    ASSERT_EQ(S_OK, point->Unadvise(cookie));
}

// --- KeptorServer.exe in its own process

class KeptorProcessTest : public test::TComTest {};

TEST_F(KeptorProcessTest, ServerAnswersThroughTheRunningObjectTable) {
    test::TKeptorProcess process;
    ASSERT_TRUE(process.Started());
    IKeptorControl* control = process.Control();
    ASSERT_EQ(S_OK, control->SetDocument(B(L"http://a.test/").Get(), 42, B(L"note").Get(), 2, 3));
    ASSERT_EQ(S_OK, control->SetLinkPicture(B(L"").Get(), 11, 4, 4, RGB(0, 0, 0xFF)));
    ASSERT_EQ(S_OK, control->SetLinkState(B(L"http://b.test/").Get(), 0));

    ComPtr<IGUIServer> server = process.Server();
    ASSERT_TRUE(server);
    LONG id = 0, status = 0, rating = 0;
    TBStr comments;
    ASSERT_EQ(S_OK,
              server->GetDocumentInfo(B(L"http://a.test/").Get(), &id, comments.Receive(), &status, &rating));
    EXPECT_EQ(42, id);
    EXPECT_EQ(L"note", comments.Str());
    EXPECT_EQ(2, status);
    EXPECT_EQ(3, rating);

    CLSID clsid{};
    ComPtr<IUnknown> byProgId;
    ComPtr<IGUIServer> serverByProgId;
    ASSERT_EQ(S_OK, ::CLSIDFromProgID(kProgID, &clsid));
    ASSERT_EQ(S_OK, ::GetActiveObject(clsid, nullptr, &byProgId));
    ASSERT_EQ(S_OK, byProgId.As(&serverByProgId));

    VARIANT_BOOL found = 0;
    TVariant picture;
    ASSERT_EQ(S_OK, serverByProgId->GetLinkImage(B(L"").Get(), 11, &found, picture.Receive(), VARIANT_TRUE));
    EXPECT_EQ(VARIANT_TRUE, found);
    EXPECT_EQ(14u + 40u + 4u * 12u, Bytes(picture.Get()).size());

    TVariant urls = Strings({L"http://a.test/", L"http://b.test/"});
    TVariant states = Integers({9, 9});
    ASSERT_EQ(S_OK, server->GetLinkStates(urls.Get(), states.Ptr()));
    EXPECT_EQ((std::vector<long>{-1, 0}), Longs(states.Get()));

    const std::vector<BYTE> gif = {'G', 'I', 'F', '8', '9', 'a'};
    ASSERT_EQ(S_OK, server->StoreScreenShot(B(L"http://a.test/").Get(), MakeByteArray(gif).Get()));
    TBStr url;
    LONG which = 0;
    TVariant data;
    ASSERT_EQ(S_OK, control->GetScreenShot(0, url.Receive(), &which, data.Receive()));
    EXPECT_EQ(gif, Bytes(data.Get()));

    TVariant log;
    ASSERT_EQ(S_OK, control->GetCallLog(log.Receive()));
    std::vector<std::wstring> entries = VariantStrings(log.Get());
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(L"47 GetDocumentInfo(\"http://a.test/\")", entries[0]);
}

TEST_F(KeptorProcessTest, EventsArriveOnTheTestThreadWhileItPumps) {
    test::TKeptorProcess process;
    ASSERT_TRUE(process.Started());
    ComPtr<IGUIServer> server = process.Server();
    ComPtr<IConnectionPoint> point = EventsPoint(server.Get());
    ASSERT_TRUE(point);
    ComPtr<TRecordingSink> sink = TRecordingSink::Create();
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(sink.Get(), &cookie));
    LONG sinks = 0;
    ASSERT_EQ(S_OK, process.Control()->GetSinkCount(&sinks));
    EXPECT_EQ(1, sinks);

    LONG result = -1;
    ASSERT_EQ(S_OK, process.Control()->FireDocumentDataChange(42, VARIANT_TRUE, B(L"x").Get(), 1, 3,
                                                              VARIANT_TRUE, &result));
    ASSERT_TRUE(PumpUntil([&] { return !sink->Calls.empty(); }));
    ASSERT_EQ(1u, sink->Calls.size());
    EXPECT_EQ(::GetCurrentThreadId(), sink->Calls[0].Thread);
    ExpectDocumentDataChange(sink->Calls[0], 42, true, L"x", 1, 3);

    // Malformed calls travel too: named arguments and a property get.
    ASSERT_EQ(S_OK, process.Control()->FireRaw(203, Integers({5, 6}).Get(), Integers({1}).Get(),
                                               DISPATCH_PROPERTYGET, VARIANT_FALSE, &result));
    ASSERT_EQ(2u, sink->Calls.size());
    EXPECT_EQ(DISPATCH_PROPERTYGET, sink->Calls[1].Flags);
    EXPECT_EQ((std::vector<DISPID>{1}), sink->Calls[1].Named);
    ASSERT_EQ(2u, sink->Calls[1].Args.size());
    EXPECT_EQ(5, V_I4(&sink->Calls[1].Args[0].Get()));

    ASSERT_EQ(S_OK, point->Unadvise(cookie));
}

TEST_F(KeptorProcessTest, QuitFiresOnQuitBeforeTheProcessEnds) {
    test::TKeptorProcess process;
    ASSERT_TRUE(process.Started());
    ComPtr<IGUIServer> server = process.Server();
    ComPtr<IConnectionPoint> point = EventsPoint(server.Get());
    ComPtr<TRecordingSink> sink = TRecordingSink::Create();
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(sink.Get(), &cookie));
    ASSERT_EQ(S_OK, process.Control()->Quit(VARIANT_TRUE));
    ASSERT_TRUE(process.WaitForExit(10000));
    EXPECT_EQ(0u, process.ExitCode());
    ASSERT_EQ(1u, sink->Calls.size());
    EXPECT_EQ(201, sink->Calls[0].Dispid);
    ComPtr<IUnknown> running;
    EXPECT_TRUE(FAILED(::GetActiveObject(CLSID_TrovellaServer, nullptr, &running)));
}

TEST_F(KeptorProcessTest, DieMakesTheNextCallFailWithAnRpcError) {
    ComPtr<IGUIServer> server;
    ComPtr<TRecordingSink> sink = TRecordingSink::Create();
    {
        test::TKeptorProcess process;
        ASSERT_TRUE(process.Started());
        server = process.Server();
        ComPtr<IConnectionPoint> point = EventsPoint(server.Get());
        DWORD cookie = 0;
        ASSERT_EQ(S_OK, point->Advise(sink.Get(), &cookie));
        ASSERT_EQ(S_OK, process.Control()->Die(7));
        ASSERT_TRUE(process.WaitForExit(10000));
        EXPECT_EQ(7u, process.ExitCode());
    }
    EXPECT_TRUE(sink->Calls.empty()) << "no OnQuit";
    LONG count = 0;
    HRESULT hr = server->GetRatingCount(&count);
    EXPECT_TRUE(hr == RPC_E_DISCONNECTED || hr == RPC_E_SERVER_DIED || hr == RPC_E_SERVER_DIED_DNE ||
                hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) ||
                hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED))
        << std::hex << hr;

    // A new server registers in its place.
    test::TKeptorProcess next;
    ASSERT_TRUE(next.Started());
    ComPtr<IGUIServer> nextServer = next.Server();
    ASSERT_TRUE(nextServer);
    EXPECT_EQ(S_OK, nextServer->GetRatingCount(&count));
}

TEST_F(KeptorProcessTest, ServerEndsWithItsParentProcess) {
    test::TKeptorProcess parent;
    ASSERT_TRUE(parent.Started());
    LONG parentId = 0;
    ASSERT_EQ(S_OK, parent.Control()->GetProcessId(&parentId));
    test::TKeptorProcess child(L"--parent " + std::to_wstring(parentId)); // the later --parent wins
    ASSERT_TRUE(child.Process());
    EXPECT_EQ(STILL_ACTIVE, child.ExitCode());
    ASSERT_EQ(S_OK, parent.Control()->Quit(VARIANT_TRUE));
    ASSERT_TRUE(parent.WaitForExit(10000));
    EXPECT_TRUE(child.WaitForExit(10000));
    EXPECT_EQ(0u, child.ExitCode());
}

} // namespace
