// Page operations: the lists OpenLinks, AddLinks and AddBanners send to the running Keptor application
// (real fixture pages, selections, the element under the mouse, URLs outside any ANSI code page), link
// highlighting (every rule of a pass, table-driven, on a framed page and a real page, and state answers
// of any shape), and the same operations through the page-utilities automation object, by vtable and
// late-bound, with their failure results.
#include <windows.h>
#include <mshtml.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "com/ComSupportUnit.h"
#include "com/LateBindUnit.h"
#include "keptor/KeptorServerUnit.h"
#include "page/KepUtilsFuncUnit.h"
#include "page/LinkWalkUnit.h"
#include "library/IEHKepUtilsUnit.h"
#include "com/ZorbexGUI_TLB.h"
#include "support/ExpectedLinksUnit.h"
#include "support/KeptorProcessUnit.h"
#include "support/TestDocumentUnit.h"
#include "support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;

namespace {

// Whether every GetLinkStates call arrived with both arrays in the form of a list of the same bounds.
bool AllWellFormed(const std::vector<keptor::TKeptorStateRequest>& requests) {
    for (const auto& request : requests)
        if (!request.WellFormed)
            return false;
    return true;
}

// Puts a server into the running object table for the life of the object.
class TRunningServer {
public:
    explicit TRunningServer(IUnknown* server) {
        EXPECT_HRESULT_SUCCEEDED(
            ::RegisterActiveObject(server, CLSID_TrovellaServer, ACTIVEOBJECT_STRONG, &Cookie));
    }
    TRunningServer(const TRunningServer&) = delete;
    TRunningServer& operator=(const TRunningServer&) = delete;
    ~TRunningServer() {
        if (Cookie)
            ::RevokeActiveObject(Cookie, nullptr);
    }

private:
    DWORD Cookie = 0;
};

const wchar_t kPageUrl[] = L"http://example.test/dir/page.html";
const wchar_t kDir[] = L"http://example.test/dir/";

std::vector<std::wstring> UrlsOf(const std::vector<TExpectedLink>& links) {
    std::vector<std::wstring> urls;
    for (const auto& link : links)
        urls.push_back(link.Url);
    return urls;
}
std::vector<std::wstring> TextsOf(const std::vector<TExpectedLink>& links) {
    std::vector<std::wstring> texts;
    for (const auto& link : links)
        texts.push_back(link.Text);
    return texts;
}

class KepUtilsFuncTest : public TComTest {
protected:
    std::shared_ptr<TTestDom> Dom = std::make_shared<TTestDom>();
    ComPtr<keptor::TKeptorServer> Server = keptor::TKeptorServer::Create();
    std::unique_ptr<TRunningServer> Running;

    void SetUp() override { Running = std::make_unique<TRunningServer>(static_cast<IGUIServer*>(Server.Get())); }
    void TearDown() override {
        Running.reset();
        Server.Reset();
        Dom.reset();
        EXPECT_EQ(0, LiveTestDomObjects()) << "an object of the page was left behind";
        TComTest::TearDown();
    }

    ComPtr<IHTMLDocument2> Load(const std::string& html, const std::wstring& url = kPageUrl) {
        return LoadTestDocument(Dom, html, url);
    }
    static TVariant AsVariant(const ComPtr<IHTMLDocument2>& document) {
        return TVariant(static_cast<IDispatch*>(document.Get()));
    }
    // The element with this id, as the browser helper object passes it.
    static TVariant ElementById(const ComPtr<IHTMLDocument2>& document, const wchar_t* id) {
        ComPtr<IDispatch> all = GetObjectProperty(static_cast<IDispatch*>(document.Get()), L"all");
        TVariant name{std::wstring_view(id)};
        return CallMethod(all.Get(), L"item", {&name.Get()});
    }
};

// --- Gathering operations ------------------------------------------------------------------------------

class KepUtilsFixturePages : public KepUtilsFuncTest, public testing::WithParamInterface<const wchar_t*> {};

TEST_P(KepUtilsFixturePages, AddLinksAndOpenLinksSendThePagesDistinctLinks) {
    const std::wstring url = std::wstring(L"https://docs.example.test/pages/") + GetParam();
    TTestPage page = TTestPage::FromFile(FixturePagePath(GetParam()), url);
    const std::vector<TExpectedLink> expected = ExpectedLinks({{page.Html, url}});
    Dom->Charset = L"windows-1251";
    ComPtr<IHTMLDocument2> document = LoadTestDocument(Dom, page);
    TVariant documentVariant = AsVariant(document);
    TVariant noElement;

    AddLinks(documentVariant.Get(), VARIANT_FALSE, noElement.Get());
    OpenLinks(documentVariant.Get(), 0);
    ASSERT_EQ(2u, Server->Lists().size());
    for (const keptor::TKeptorList& call : Server->Lists()) {
        SCOPED_TRACE(Utf8(call.Kind));
        EXPECT_TRUE(call.WellFormed);
        EXPECT_EQ(UrlsOf(expected), call.Urls);
        EXPECT_EQ(TextsOf(expected), call.Texts);
    }
    EXPECT_EQ(L"AddLinkList", Server->Lists()[0].Kind);
    EXPECT_EQ(url, Server->Lists()[0].Extra1);
    EXPECT_EQ(L"windows-1251", Server->Lists()[0].Extra2);
    EXPECT_EQ(L"OpenLinkList", Server->Lists()[1].Kind);
    EXPECT_EQ(L"", Server->Lists()[1].Extra1);
    EXPECT_TRUE(Server->Lists()[1].Flag); // the test program is not the browser
}

INSTANTIATE_TEST_SUITE_P(RealPages, KepUtilsFixturePages,
                         testing::Values(L"nodejs-fs.html", L"libxslt-xslt.html",
                                         L"valgrind-manual-core.html", L"rust-reference-inline-assembly.html",
                                         L"rustc-armv7r-none-eabi.html"));

const char kSelectionPage[] = R"(<body><a href="out1.html">out one</a>
<div data-selected><a href="in1.html">in one</a><a href="in2.html#x">in two</a><img src="banner.png"></div>
<a id="pic-link" href="pic.html"><img id="pic" src="pic.png" alt="Pic alt"></a><iframe src="frame.html"></iframe>
</body>)";
const char kSelectionFrame[] =
    R"(<body><a href="f-out.html">f out</a><p data-selected><a href="f-in.html">f in</a>
<img src="f-banner.png"><img src="BANNER.png"></p></body>)";

TEST_F(KepUtilsFuncTest, OpenLinksTakesTheSelectionOnlyForAPositiveFlag) {
    Dom->FramePages = {{L"http://example.test/dir/frame.html", kSelectionFrame}};
    ComPtr<IHTMLDocument2> document = Load(kSelectionPage);
    TVariant documentVariant = AsVariant(document);
    const std::vector<std::wstring> all = {
        L"http://example.test/dir/out1.html",  L"http://example.test/dir/in1.html",
        L"http://example.test/dir/in2.html",   L"http://example.test/dir/pic.html",
        L"http://example.test/dir/f-out.html", L"http://example.test/dir/f-in.html"};
    const std::vector<std::wstring> selected = {all[1], all[2], all[5]};
    const std::pair<LONG, std::vector<std::wstring>> cases[] = {
        {-5, all}, {0, all}, {1, selected}, {7, selected}};
    for (const auto& [onlySel, urls] : cases) {
        SCOPED_TRACE(onlySel);
        Server->ClearLists();
        OpenLinks(documentVariant.Get(), onlySel);
        ASSERT_EQ(1u, Server->Lists().size());
        EXPECT_EQ(urls, Server->Lists()[0].Urls);
        EXPECT_TRUE(Server->Lists()[0].WellFormed);
    }
}

TEST_F(KepUtilsFuncTest, AddLinksWithASelectionTakesTheSelectedLinks) {
    Dom->FramePages = {{L"http://example.test/dir/frame.html", kSelectionFrame}};
    ComPtr<IHTMLDocument2> document = Load(kSelectionPage);
    TVariant documentVariant = AsVariant(document);
    TVariant element = ElementById(document, L"pic"); // ignored while there is a selection
    AddLinks(documentVariant.Get(), VARIANT_TRUE, element.Get());
    ASSERT_EQ(1u, Server->Lists().size());
    EXPECT_EQ(
        (std::vector<std::wstring>{L"http://example.test/dir/in1.html", L"http://example.test/dir/in2.html",
                                   L"http://example.test/dir/f-in.html"}),
        Server->Lists()[0].Urls);
    EXPECT_EQ((std::vector<std::wstring>{L"in one", L"in two", L"f in"}), Server->Lists()[0].Texts);
}

struct TMouseCase {
    const char* Name;
    const wchar_t* Id; // nullptr: no element
    bool Sent;
    const wchar_t* Url;
    const wchar_t* Text;
};

TEST_F(KepUtilsFuncTest, AddLinksWithoutASelectionTakesTheLinkOfTheElementUnderTheMouse) {
    ComPtr<IHTMLDocument2> document = Load(R"(<body><a href="other.html">other</a>
        <a href="pic.html#part"><img id="pic" src="pic.png" alt="Pic alt"></a>
        <a href="text.html">Link <b id="bold">with bold</b> text</a>
        <a id="mail" href="mailto:me@example.test">Mail</a><p id="plain">plain</p></body>)");
    TVariant documentVariant = AsVariant(document);
    const TMouseCase cases[] = {
        {"image in an anchor", L"pic", true, L"http://example.test/dir/pic.html#part", L"Pic alt"},
        {"text in an anchor", L"bold", true, L"http://example.test/dir/text.html", L"Link with bold text"},
        {"mailto anchor", L"mail", false, nullptr, nullptr},
        {"no link", L"plain", false, nullptr, nullptr},
        {"no element", nullptr, false, nullptr, nullptr},
    };
    for (const TMouseCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Server->ClearLists();
        TVariant element = c.Id ? ElementById(document, c.Id) : TVariant();
        AddLinks(documentVariant.Get(), VARIANT_TRUE, element.Get());
        ASSERT_EQ(c.Sent ? 1u : 0u, Server->Lists().size());
        if (!c.Sent)
            continue;
        EXPECT_TRUE(Server->Lists()[0].WellFormed);
        EXPECT_EQ(std::vector<std::wstring>{c.Url}, Server->Lists()[0].Urls);
        EXPECT_EQ(std::vector<std::wstring>{c.Text}, Server->Lists()[0].Texts);
        EXPECT_EQ(kPageUrl, Server->Lists()[0].Extra1);
        EXPECT_EQ(L"utf-8", Server->Lists()[0].Extra2);
    }
}

TEST_F(KepUtilsFuncTest, UrlsOutsideTheAnsiCodePageArriveUnchanged) {
    const std::wstring foreign =
        L"http://\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444/\u043F\u0443\u0442\u044C/"
        L"\u65E5\u672C\u8A9E.html?q=\uD55C\uAD6D\uC5B4";
    const std::wstring text = L"\u0421\u0441\u044B\u043B\u043A\u0430 \u65E5\u672C";
    const std::wstring page = L"http://\u4F8B\u3048.test/\u30DA\u30FC\u30B8.html";
    ComPtr<IHTMLDocument2> document =
        Load(Utf8(L"<body><a href=\"" + foreign + L"#\u7247\">" + text + L"</a><a id=\"one\" href=\"" +
                  foreign + L"\">" + text + L"</a></body>"),
             page);
    TVariant documentVariant = AsVariant(document);
    TVariant noElement;
    AddLinks(documentVariant.Get(), VARIANT_FALSE, noElement.Get());
    TVariant element = ElementById(document, L"one");
    AddLinks(documentVariant.Get(), VARIANT_TRUE, element.Get()); // no selection: the element's link
    ASSERT_EQ(2u, Server->Lists().size());
    for (const keptor::TKeptorList& call : Server->Lists()) {
        EXPECT_EQ(std::vector<std::wstring>{foreign}, call.Urls);
        EXPECT_EQ(std::vector<std::wstring>{text}, call.Texts);
        EXPECT_EQ(page, call.Extra1);
    }
}

TEST_F(KepUtilsFuncTest, AddBannersSendsTheSelectedImagesOrTheElementsSource) {
    Dom->FramePages = {{L"http://example.test/dir/frame.html", kSelectionFrame}};
    ComPtr<IHTMLDocument2> selected = Load(kSelectionPage);
    TVariant selectedVariant = AsVariant(selected);
    TVariant picture = ElementById(selected, L"pic");
    AddBanners(selectedVariant.Get(), picture.Get());
    ASSERT_EQ(1u, Server->Lists().size());
    EXPECT_EQ(L"AddBannerList", Server->Lists()[0].Kind);
    EXPECT_TRUE(Server->Lists()[0].WellFormed);
    EXPECT_EQ((std::vector<std::wstring>{L"http://example.test/dir/banner.png",
                                         L"http://example.test/dir/f-banner.png"}),
              Server->Lists()[0].Urls); // BANNER.png repeats banner.png ignoring case

    Server->ClearLists();
    ComPtr<IHTMLDocument2> plain = Load(R"(<body><img id="pic" src="pic.png#x"><p id="text">t</p></body>)");
    TVariant plainVariant = AsVariant(plain);
    TVariant image = ElementById(plain, L"pic");
    AddBanners(plainVariant.Get(), image.Get());
    AddBanners(plainVariant.Get(), image.Get()); // sent again: no duplicate test across calls
    TVariant text = ElementById(plain, L"text");
    AddBanners(plainVariant.Get(), text.Get()); // no src: nothing
    TVariant nothing;
    AddBanners(plainVariant.Get(), nothing.Get());
    ASSERT_EQ(2u, Server->Lists().size());
    for (const keptor::TKeptorList& call : Server->Lists())
        EXPECT_EQ(std::vector<std::wstring>{L"http://example.test/dir/pic.png#x"}, call.Urls);
}

TEST_F(KepUtilsFuncTest, NothingGatheredMeansNoServerCall) {
    ComPtr<IHTMLDocument2> document =
        Load(R"(<body><a href="javascript:x">s</a><a href="mailto:a@b">m</a></body>)");
    TVariant documentVariant = AsVariant(document);
    TVariant nothing;
    OpenLinks(documentVariant.Get(), 0);
    AddLinks(documentVariant.Get(), VARIANT_FALSE, nothing.Get());
    AddBanners(documentVariant.Get(), nothing.Get());
    EXPECT_TRUE(Server->Lists().empty());
}

// --- Link highlighting ---------------------------------------------------------------------------------

const char kHighlightPage[] = R"(<html><body>
<a id="held" href="held.html" style="font-weight: bold; text-decoration: underline">held</a>
<a id="free" href="free.html" style="text-decoration: overline; color: red">free</a>
<a id="low" href="low.html">below -1</a>
<a id="self" href="PAGE.html#top" style="color: green">the page itself</a>
<a id="script" href="javascript:go(1);" style="color: blue">script</a>
<a id="dupe" href="HELD.html">held again, other case</a>
<a id="none" style="color: gray">no target</a>
<iframe src="frame.html"></iframe><iframe src="refused.html"></iframe>
</body></html>)";
const char kHighlightFrame[] = R"(<body><a id="frame-self" href="page.html">page in a frame</a>
<a id="frame-free" href="free.html" style="background-color: yellow">free in a frame</a></body>)";
const char kRefusedFrame[] =
    R"(<body><a id="refused" href="free.html" style="color: red">refused</a></body>)";

// The inline values (textDecoration, fontWeight, color, backgroundColor) each link starts with.
const std::map<std::wstring, std::vector<std::wstring>> kInitialStyles = {
    {L"held", {L"underline", L"bold", L"", L""}},
    {L"free", {L"overline", L"", L"red", L""}},
    {L"low", {L"", L"", L"", L""}},
    {L"self", {L"", L"", L"green", L""}},
    {L"script", {L"", L"", L"blue", L""}},
    {L"dupe", {L"", L"", L"", L""}},
    {L"none", {L"", L"", L"gray", L""}},
    {L"frame-self", {L"", L"", L"", L""}},
    {L"frame-free", {L"", L"", L"", L"yellow"}},
    {L"refused", {L"", L"", L"red", L""}},
};
const wchar_t* const kStyleMembers[] = {L"textDecoration", L"fontWeight", L"color", L"backgroundColor"};

enum class TDecision { Apply, Remove, Untouched };

struct THighlightCase {
    const char* Name;
    keptor::TKeptorHighlight Settings;
    bool WithServer;
    const wchar_t* Decoration; // what an applied highlight writes
    const wchar_t* Weight;
    std::wstring Color;
    std::wstring Back;
    std::map<std::wstring, TDecision> Decisions; // ids not named: untouched
};

// The writes a decision makes on a link with these inline values.
std::vector<std::pair<std::wstring, std::wstring>> WritesFor(const std::vector<std::wstring>& initial,
                                                             TDecision decision, const THighlightCase& c) {
    std::vector<std::pair<std::wstring, std::wstring>> writes;
    if (decision == TDecision::Apply) {
        if (initial[0] != c.Decoration)
            writes.push_back({kStyleMembers[0], c.Decoration});
        if (initial[1] != c.Weight)
            writes.push_back({kStyleMembers[1], c.Weight});
        writes.push_back({kStyleMembers[2], c.Color});
        writes.push_back({kStyleMembers[3], c.Back});
    } else if (decision == TDecision::Remove) {
        for (size_t k = 0; k < 4; ++k)
            if (!initial[k].empty())
                writes.push_back({kStyleMembers[k], L""});
    }
    return writes;
}

// RRGGBB of a system colour, read here from GetSysColor.
std::wstring SysColorText(int index) {
    const COLORREF color = ::GetSysColor(index);
    wchar_t text[8];
    std::swprintf(text, 8, L"%02X%02X%02X", GetRValue(color), GetGValue(color), GetBValue(color));
    return text;
}

keptor::TKeptorHighlight Settings(bool enabled, bool markSaved, bool defaultBack, long back, bool defaultText,
                                  long text, bool bold, long decoration) {
    return {enabled, markSaved, defaultBack, back, defaultText, text, bold, decoration};
}

TEST_F(KepUtilsFuncTest, HighlightDocumentAppliesAndRemovesByStateAndSettings) {
    using enum TDecision;
    // States: held.html 3, HELD.html 0 (the server compares exactly), low.html -2; the rest not held (-1).
    const std::map<std::wstring, TDecision> markHeld = {{L"held", Apply},        {L"free", Remove},
                                                        {L"low", Remove},        {L"dupe", Apply},
                                                        {L"frame-self", Remove}, {L"frame-free", Remove}};
    const std::map<std::wstring, TDecision> markFree = {{L"held", Remove},      {L"free", Apply},
                                                        {L"low", Remove},       {L"dupe", Remove},
                                                        {L"frame-self", Apply}, {L"frame-free", Apply}};
    const std::map<std::wstring, TDecision> removeAll = {{L"held", Remove},       {L"free", Remove},
                                                         {L"low", Remove},        {L"dupe", Remove},
                                                         {L"frame-self", Remove}, {L"frame-free", Remove}};
    // Windows colours are 0x00BBGGRR: 0x000000FF is red, 0x00FF8000 a blue.
    const std::vector<THighlightCase> cases = {
        {"switched off", Settings(false, true, false, 0xFF, false, 0xFF8000, true, 3), true, L"", L"", L"",
         L"", removeAll},
        {"mark held", Settings(true, true, false, 0xFF, false, 0xFF8000, true, 3), true, L"underline",
         L"bold", L"0080FF", L"FF0000", markHeld},
        {"mark not held", Settings(true, false, false, 0xFF, false, 0xFF8000, true, 3), true, L"underline",
         L"bold", L"0080FF", L"FF0000", markFree},
        {"default colours", Settings(true, true, true, 0xFF, true, 0xFF8000, true, 0), true, L"none", L"bold",
         L"", L"", markHeld},
        {"decoration code 2, not bold", Settings(true, false, false, 0x00123456, false, 0, false, 2), true,
         L"line-through", L"", L"000000", L"563412", markFree},
        {"decoration code outside 0 to 3", Settings(true, true, false, 0xFFFFFF, false, 0xFF, true, 9), true,
         L"", L"bold", L"FF0000", L"FFFFFF", markHeld},
        {"system colours",
         Settings(true, false, false, static_cast<long>(0x80000000u | COLOR_HIGHLIGHT), false,
                  static_cast<long>(0x80000000u | COLOR_WINDOWTEXT), true, 1),
         true, L"overline", L"bold", SysColorText(COLOR_WINDOWTEXT), SysColorText(COLOR_HIGHLIGHT), markFree},
        {"no server", Settings(true, true, false, 0xFF, false, 0xFF, true, 3), false, L"", L"", L"", L"",
         removeAll},
    };
    for (const THighlightCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Dom = std::make_shared<TTestDom>();
        Dom->FramePages = {{L"http://example.test/dir/frame.html", kHighlightFrame},
                           {L"http://example.test/dir/refused.html", kRefusedFrame}};
        Dom->RefusedFrames = {L"http://example.test/dir/refused.html"};
        Server->Archive().Highlight = c.Settings;
        Server->Archive().LinkStates = {{L"http://example.test/dir/held.html", 3},
                          {L"http://example.test/dir/HELD.html", 0},
                          {L"http://example.test/dir/low.html", -2}};
        Server->ClearLists();
        ComPtr<IHTMLDocument2> document = Load(kHighlightPage);

        HighlightDocument(77, document.Get(),
                          c.WithServer ? static_cast<IGUIServer*>(Server.Get()) : nullptr);

        if (!c.WithServer || !c.Settings.Enabled) {
            EXPECT_TRUE(Server->StateRequests().empty());
        } else {
            ASSERT_EQ(1u, Server->StateRequests().size());
            EXPECT_TRUE(AllWellFormed(Server->StateRequests()));
            EXPECT_EQ((std::vector<std::wstring>{
                          L"http://example.test/dir/held.html", L"http://example.test/dir/free.html",
                          L"http://example.test/dir/low.html", L"http://example.test/dir/HELD.html",
                          L"http://example.test/dir/page.html", L"http://example.test/dir/free.html"}),
                      Server->StateRequests()[0].Urls);
        }
        size_t expectedTotal = 0;
        for (const auto& [id, initial] : kInitialStyles) {
            SCOPED_TRACE(Utf8(id));
            auto decision = c.Decisions.find(id);
            const auto expected =
                WritesFor(initial, decision == c.Decisions.end() ? Untouched : decision->second, c);
            std::vector<std::pair<std::wstring, std::wstring>> actual;
            for (const TStyleWrite& write : Dom->StyleWrites)
                if (write.Id == id)
                    actual.push_back({write.Member, write.Value});
            EXPECT_EQ(expected, actual);
            expectedTotal += expected.size();
        }
        EXPECT_EQ(expectedTotal, Dom->StyleWrites.size());
    }
}

// A highlighting pass looks each name up once per kind of object; on a page whose objects answer
// identifiers of their own it makes the same writes, through the lookups the refused identifiers bring.
TEST_F(KepUtilsFuncTest, HighlightLooksNamesUpOncePerKindAndReadsDistinctIdentifiersAlike) {
    struct TPass {
        std::vector<std::pair<std::wstring, std::wstring>> Writes;
        long Lookups = 0;
        long Invokes = 0;
    };
    auto pass = [&](int links, bool distinct) {
        std::string html = "<body>";
        for (int i = 0; i < links; ++i)
            html += "<a id=\"l" + std::to_string(i) + "\" href=\"t" + std::to_string(i) + ".html\"" +
                    (i % 3 == 0 ? " style=\"color: red\"" : "") + ">" + std::to_string(i) + "</a>";
        html += "<iframe src=\"frame.html\"></iframe></body>";
        Dom = std::make_shared<TTestDom>();
        Dom->DistinctDispIds = distinct;
        Dom->FramePages = {{L"http://example.test/dir/frame.html", html}};
        Server->Archive().LinkStates.clear();
        for (int i = 0; i < links; i += 2)
            Server->Archive().LinkStates[L"http://example.test/dir/t" + std::to_wstring(i) + L".html"] = 1;
        ComPtr<IHTMLDocument2> document = Load(html);
        Dom->ResetRecords();
        HighlightDocument(1, document.Get(), static_cast<IGUIServer*>(Server.Get()));
        TPass result;
        for (const TStyleWrite& write : Dom->StyleWrites)
            result.Writes.push_back({write.Id, write.Member + L"=" + write.Value});
        result.Lookups = Dom->GetIDsOfNamesCalls;
        result.Invokes = Dom->InvokeCalls;
        return result;
    };
    const TPass small = pass(6, false), large = pass(60, false), distinct = pass(60, true);
    EXPECT_EQ(small.Lookups, large.Lookups);
    EXPECT_LT(large.Lookups, 30);
    EXPECT_EQ(large.Writes, distinct.Writes);
    EXPECT_GT(large.Writes.size(), 120u);
    EXPECT_EQ(large.Invokes, distinct.Invokes - distinct.Lookups + large.Lookups) << "one refused call per lookup";
}

TEST_F(KepUtilsFuncTest, APageWithoutLinksStillAsksForStatesOnce) {
    ComPtr<IHTMLDocument2> document = Load(R"(<body><p>no links <a href="#self">self</a></p></body>)");
    HighlightDocument(1, document.Get(), static_cast<IGUIServer*>(Server.Get()));
    ASSERT_EQ(1u, Server->StateRequests().size());
    EXPECT_TRUE(Server->StateRequests()[0].Urls.empty());
    EXPECT_TRUE(AllWellFormed(Server->StateRequests()));
    EXPECT_TRUE(Dom->StyleWrites.empty());
}

// A state answer of some shape for three links, given to the server as it stands or by reference.
struct TStateAnswerCase {
    const char* Name;
    std::function<void(VARIANT*)> Answer;
    std::vector<bool> Applied; // per link; mark held: states 0 or more are styled
    long Form = keptor::kStatesAnswer;
};

SAFEARRAY* MakeArray(VARTYPE type, LONG low, std::vector<LONG> bounds = {}) {
    SAFEARRAYBOUND bound[2] = {{bounds.empty() ? 3u : static_cast<ULONG>(bounds[0]), low}, {2, 0}};
    return ::SafeArrayCreate(type, bounds.size() == 2 ? 2 : 1, bound);
}

void PutVariant(SAFEARRAY* array, LONG index, TVariant value) {
    ::SafeArrayPutElement(array, &index, value.Ptr());
}

std::function<void(VARIANT*)> VariantStates(std::vector<std::function<TVariant()>> values, LONG low = 0) {
    return [values, low](VARIANT* states) {
        SAFEARRAYBOUND bound{static_cast<ULONG>(values.size()), low};
        SAFEARRAY* array = ::SafeArrayCreate(VT_VARIANT, 1, &bound);
        for (size_t i = 0; i < values.size(); ++i)
            PutVariant(array, low + static_cast<LONG>(i), values[i]());
        V_VT(states) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(states) = array;
    };
}

TVariant Number(long value) {
    return TVariant(value);
}
TVariant Real(double value) {
    TVariant result;
    V_VT(result.Ptr()) = VT_R8;
    V_R8(result.Ptr()) = value;
    return result;
}

TEST_F(KepUtilsFuncTest, StateAnswersOfAnyShapeAreReadWithinTheirBounds) {
    const std::vector<TStateAnswerCase> cases = {
        {"not an array",
         [](VARIANT* s) {
             V_VT(s) = VT_I4;
             V_I4(s) = 0;
         },
         {false, false, false}},
        {"empty", [](VARIANT*) {}, {false, false, false}},
        {"one element for three links", VariantStates({[] { return Number(0); }}), {true, false, false}},
        {"longer than asked",
         VariantStates({[] { return Number(0); }, [] { return Number(-1); }, [] { return Number(1); },
                        [] { return Number(2); }}),
         {true, false, true}},
        {"integers as other types",
         VariantStates({[] { return Real(2.0); }, [] { return Real(2.5); },
                        [] { return TVariant(std::wstring_view(L"0")); }}),
         {true, false, false}},
        {"lower bound 5",
         VariantStates({[] { return Number(1); }, [] { return Number(-1); }, [] { return Number(0); }}, 5),
         {true, false, true}},
        {"array of VT_I4",
         [](VARIANT* s) {
             SAFEARRAY* array = MakeArray(VT_I4, 0);
             for (LONG i = 0; i < 3; ++i) {
                 LONG value = i == 1 ? 4 : -1;
                 ::SafeArrayPutElement(array, &i, &value);
             }
             V_VT(s) = VT_ARRAY | VT_I4;
             V_ARRAY(s) = array;
         },
         {false, true, false}},
        {"array of VT_BSTR",
         [](VARIANT* s) {
             SAFEARRAY* array = MakeArray(VT_BSTR, 0);
             V_VT(s) = VT_ARRAY | VT_BSTR;
             V_ARRAY(s) = array;
         },
         {false, false, false}},
        {"two dimensions",
         [](VARIANT* s) {
             SAFEARRAY* array = MakeArray(VT_VARIANT, 0, {3, 2});
             V_VT(s) = VT_ARRAY | VT_VARIANT;
             V_ARRAY(s) = array;
         },
         {false, false, false}},
        {"declared type disagrees with the array",
         [](VARIANT* s) {
             SAFEARRAY* array = MakeArray(VT_BSTR, 0);
             V_VT(s) = VT_ARRAY | VT_I4;
             V_ARRAY(s) = array;
         },
         {false, false, false}},
        {"by reference to an array of VT_I4",
         [](VARIANT* s) {
             SAFEARRAY* array = MakeArray(VT_I4, 0);
             for (LONG i = 0; i < 3; ++i) {
                 LONG value = i == 0 ? 0 : i == 1 ? -1 : 5;
                 ::SafeArrayPutElement(array, &i, &value);
             }
             V_VT(s) = VT_ARRAY | VT_I4;
             V_ARRAY(s) = array;
         },
         {true, false, true},
         keptor::kStatesArrayRef},
        {"by reference to a variant holding the array",
         VariantStates({[] { return Number(-1); }, [] { return Number(0); }, [] { return Number(-3); }}),
         {false, true, false},
         keptor::kStatesVariantRef},
    };
    for (const TStateAnswerCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Dom = std::make_shared<TTestDom>();
        Server->Archive().Highlight = Settings(true, true, false, 0xFF, false, 0xFF, true, 3);
        TVariant answer;
        c.Answer(answer.Ptr());
        ASSERT_EQ(S_OK, Server->SetLinkStatesAnswer(c.Form, answer.Get()));
        ComPtr<IHTMLDocument2> document = Load(
            R"(<body><a id="l0" href="a.html">a</a><a id="l1" href="b.html">b</a><a id="l2" href="c.html">c</a></body>)");
        HighlightDocument(1, document.Get(), static_cast<IGUIServer*>(Server.Get()));
        for (size_t i = 0; i < 3; ++i) {
            const std::wstring id = L"l" + std::to_wstring(i);
            bool colored = false;
            for (const TStyleWrite& write : Dom->StyleWrites)
                colored = colored || (write.Id == id && write.Member == L"color");
            EXPECT_EQ(c.Applied[i], colored) << "link " << i;
        }
    }
    EXPECT_EQ(S_OK, Server->SetLinkStatesAnswer(keptor::kStatesFromArchive, TVariant().Get()));
}

TEST_F(KepUtilsFuncTest, HighlightingARealPageStylesItsHeldLinksAndLeavesItsOwnLinksAlone) {
    const std::wstring url = L"https://nodejs.example.test/api/fs.html";
    TTestPage page = TTestPage::FromFile(FixturePagePath(L"nodejs-fs.html"), url);
    ComPtr<keptor::TKeptorServer> reference = keptor::TKeptorServer::Create();
    // Every third distinct link target is held.
    const std::vector<TExpectedLink> links = ExpectedLinks({{page.Html, url}});
    std::set<std::wstring> held;
    for (size_t i = 0; i < links.size(); i += 3)
        held.insert(links[i].Url);
    for (const std::wstring& link : held)
        reference->Archive().LinkStates[link] = 1;
    ComPtr<IHTMLDocument2> document = LoadTestDocument(Dom, page);

    HighlightDocument(5, document.Get(), static_cast<IGUIServer*>(reference.Get()));

    // The reference server's defaults: underline, bold, page text colour, background 0x00C0FFFF.
    const std::vector<std::pair<std::wstring, std::wstring>> applied = {{L"textDecoration", L"underline"},
                                                                        {L"fontWeight", L"bold"},
                                                                        {L"color", L""},
                                                                        {L"backgroundColor", L"FFFFC0"}};
    std::map<size_t, std::vector<std::pair<std::wstring, std::wstring>>> writes;
    for (const TStyleWrite& write : Dom->StyleWrites) {
        EXPECT_EQ(L"A", write.Tag);
        writes[write.ElementIndex].push_back({write.Member, write.Value});
    }
    const THtmlDocument tree = ParseHtml(page.Html);
    size_t styled = 0, own = 0;
    for (const THtmlNode* element : tree.Elements) {
        if (element->Tag != L"a")
            continue;
        std::wstring target = ElementHref(tree, url, *element);
        target = target.substr(0, target.find(L'#'));
        const bool ownPage = SameTextNoCase(target, url);
        own += ownPage ? 1 : 0;
        const bool expectStyled =
            !target.empty() && !HasExcludedScheme(target) && !ownPage && held.count(target);
        styled += expectStyled ? 1 : 0;
        auto found = writes.find(element->Index);
        if (expectStyled)
            EXPECT_TRUE(found != writes.end() && found->second == applied) << Utf8(target);
        else
            EXPECT_TRUE(found == writes.end()) << Utf8(target);
    }
    EXPECT_GT(styled, 10u);
    EXPECT_GT(own, 100u); // the page's many fragment links to itself
    long stateCalls = 0;
    for (const std::wstring& entry : reference->CallLog())
        stateCalls += entry.rfind(L"17 GetLinkStates(", 0) == 0 ? 1 : 0;
    EXPECT_EQ(1, stateCalls);
}

struct THighlightFailureCase {
    const char* Name;
    std::vector<TInjectedFailure> Failures;
    HRESULT SettingsResult;
    HRESULT Expected;
};

TEST_F(KepUtilsFuncTest, HighlightFailuresEndThePassWithTheirCode) {
    const std::vector<THighlightFailureCase> cases = {
        {"settings", {}, RPC_E_DISCONNECTED, RPC_E_DISCONNECTED},
        {"a link's href", {{L"href", E_ACCESSDENIED, L"A"}}, S_OK, E_ACCESSDENIED},
        {"a style write",
         {{L"color", static_cast<HRESULT>(0x80045678), L"style"}},
         S_OK,
         static_cast<HRESULT>(0x80045678)},
        {"the frames collection", {{L"frames", E_OUTOFMEMORY}}, S_OK, E_OUTOFMEMORY},
    };
    for (const THighlightFailureCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Dom = std::make_shared<TTestDom>();
        Dom->Failures = c.Failures;
        Server->ClearFailures();
        if (FAILED(c.SettingsResult))
            Server->FailAlways(16, c.SettingsResult); // GetHighlightSettings
        ComPtr<IHTMLDocument2> document = Load(R"(<body><a href="a.html">a</a></body>)");
        HRESULT code = S_OK;
        try {
            HighlightDocument(1, document.Get(), static_cast<IGUIServer*>(Server.Get()));
        } catch (const TError& error) {
            code = error.Code();
        }
        EXPECT_EQ(c.Expected, code);
    }
    Server->ClearFailures();
    // Nothing to highlight: no effect at all.
    EXPECT_NO_THROW(HighlightDocument(1, nullptr, static_cast<IGUIServer*>(Server.Get())));
}

TEST(KepUtilsColors, SwapRedBlueResolvesSystemColours) {
    EXPECT_EQ(0x00563412, SwapRedBlue(0x00123456));
    EXPECT_EQ(0x00FF0000, SwapRedBlue(0x000000FF));
    const COLORREF window = ::GetSysColor(COLOR_WINDOW);
    EXPECT_EQ(static_cast<LONG>((GetRValue(window) << 16) | (GetGValue(window) << 8) | GetBValue(window)),
              SwapRedBlue(static_cast<LONG>(0x80000000u | COLOR_WINDOW)));
}

// --- Through the automation object ---------------------------------------------------------------------

class KepUtilsObjectTest : public KepUtilsFuncTest {
protected:
    ComPtr<IIEHKepUtils> Utils;
    void SetUp() override {
        KepUtilsFuncTest::SetUp();
        Utils = TakeCreated<IIEHKepUtils>(TIEHKepUtils::CreateObject());
        ASSERT_TRUE(Utils);
    }
    void TearDown() override {
        Utils.Reset();
        KepUtilsFuncTest::TearDown();
    }

    HRESULT InvokeByName(const wchar_t* name, DISPID expectedId, std::vector<VARIANT> reversedArgs) {
        LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_HRESULT_SUCCEEDED(Utils->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
        EXPECT_EQ(expectedId, id);
        DISPPARAMS params{reversedArgs.data(), nullptr, static_cast<UINT>(reversedArgs.size()), 0};
        TVariant result;
        EXCEPINFO exception{};
        UINT argError = 0;
        HRESULT hr = Utils->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Ptr(),
                                   &exception, &argError);
        TBStr source, description, help;
        source.Reset(exception.bstrSource);
        description.Reset(exception.bstrDescription);
        help.Reset(exception.bstrHelpFile);
        return hr;
    }
};

TEST_F(KepUtilsObjectTest, LateBoundCallsReachTheOperationsWithTheirArgumentsInOrder) {
    ComPtr<IHTMLDocument2> document =
        Load(R"(<body><a id="pic-link" href="x.html"><img id="pic" src="p.png" alt="P"></a>
        <a href="y.html">y</a></body>)");
    TVariant documentVariant = AsVariant(document);
    TVariant element = ElementById(document, L"pic");
    VARIANT selected;
    V_VT(&selected) = VT_BOOL;
    V_BOOL(&selected) = VARIANT_TRUE;
    // AddLinks (205): document, selected, element; no selection on the page: the element's link.
    EXPECT_EQ(S_OK, InvokeByName(L"AddLinks", 205, {element.Get(), selected, documentVariant.Get()}));
    // OpenLinks (204): document, only-selected.
    TVariant zero(0L);
    EXPECT_EQ(S_OK, InvokeByName(L"openlinks", 204, {zero.Get(), documentVariant.Get()}));
    // AddBanners (206): document, element.
    EXPECT_EQ(S_OK, InvokeByName(L"AddBanners", 206, {element.Get(), documentVariant.Get()}));
    ASSERT_EQ(3u, Server->Lists().size());
    EXPECT_EQ(L"AddLinkList", Server->Lists()[0].Kind);
    EXPECT_EQ(std::vector<std::wstring>{L"http://example.test/dir/x.html"}, Server->Lists()[0].Urls);
    EXPECT_EQ(std::vector<std::wstring>{L"P"}, Server->Lists()[0].Texts);
    EXPECT_EQ(L"OpenLinkList", Server->Lists()[1].Kind);
    EXPECT_EQ(
        (std::vector<std::wstring>{L"http://example.test/dir/x.html", L"http://example.test/dir/y.html"}),
        Server->Lists()[1].Urls);
    EXPECT_EQ(L"AddBannerList", Server->Lists()[2].Kind);
    EXPECT_EQ(std::vector<std::wstring>{L"http://example.test/dir/p.png"}, Server->Lists()[2].Urls);

    // HighlightDocument (203): browser id, document, server.
    Dom->ResetRecords();
    VARIANT browserId, unk, srv;
    V_VT(&browserId) = VT_UI4;
    V_UI4(&browserId) = 9;
    V_VT(&unk) = VT_UNKNOWN;
    V_UNKNOWN(&unk) = document.Get();
    V_VT(&srv) = VT_UNKNOWN;
    V_UNKNOWN(&srv) = static_cast<IGUIServer*>(Server.Get());
    Server->Archive().LinkStates = {{L"http://example.test/dir/y.html", 0}};
    EXPECT_EQ(S_OK, InvokeByName(L"HighlightDocument", 203, {srv, unk, browserId}));
    ASSERT_EQ(1u, Server->StateRequests().size());
    EXPECT_FALSE(Dom->StyleWrites.empty());
}

TEST_F(KepUtilsObjectTest, VtableCallsWorkOnTheReferenceServerFromTheRunningObjectTable) {
    Running.reset(); // the fixture's server leaves the table for one registered the server's own way
    ComPtr<keptor::TKeptorServer> reference = keptor::TKeptorServer::Create();
    ASSERT_HRESULT_SUCCEEDED(reference->RegisterRunning());
    ComPtr<IHTMLDocument2> document = Load(R"(<body><a href="one.html#x">One</a><a href="ONE.html">dup</a>
        <img id="pic" src="banner.gif"></body>)");
    TVariant documentVariant = AsVariant(document);
    TVariant element = ElementById(document, L"pic");
    EXPECT_EQ(S_OK, Utils->AddLinks(documentVariant.Get(), VARIANT_FALSE, element.Get()));
    EXPECT_EQ(S_OK, Utils->OpenLinks(documentVariant.Get(), 1)); // nothing selected: no call
    EXPECT_EQ(S_OK, Utils->AddBanners(documentVariant.Get(), element.Get()));
    reference->RevokeRunning();
    const auto& lists = reference->Lists();
    ASSERT_EQ(2u, lists.size());
    EXPECT_EQ(L"AddLinkList", lists[0].Kind);
    EXPECT_EQ(std::vector<std::wstring>{L"http://example.test/dir/one.html"}, lists[0].Urls);
    EXPECT_EQ(std::vector<std::wstring>{L"One"}, lists[0].Texts);
    EXPECT_EQ(kPageUrl, lists[0].Extra1);
    EXPECT_EQ(L"utf-8", lists[0].Extra2);
    EXPECT_EQ(L"AddBannerList", lists[1].Kind);
    EXPECT_EQ(std::vector<std::wstring>{L"http://example.test/dir/banner.gif"}, lists[1].Urls);
}

// The same server in its own process: the page operations reach it through the running object table,
// and what it received and answers is read and shaped through its control surface.
TEST_F(KepUtilsFuncTest, PageOperationsReachTheServerInItsOwnProcess) {
    Running.reset();
    test::TKeptorProcess keptor;
    ASSERT_TRUE(keptor.Started());
    IKeptorControl* control = keptor.Control();
    ComPtr<IHTMLDocument2> document = Load(R"(<body><a id="l0" href="a.html#x">a</a><a href="b.html">b</a></body>)");
    TVariant documentVariant = AsVariant(document);
    TVariant noElement;
    AddLinks(documentVariant.Get(), VARIANT_FALSE, noElement.Get());
    LONG lists = 0;
    ASSERT_EQ(S_OK, control->GetListCount(&lists));
    ASSERT_EQ(1, lists);
    TBStr kind, extra1, extra2;
    TVariant urls, texts;
    VARIANT_BOOL flag = VARIANT_FALSE, wellFormed = VARIANT_FALSE;
    ASSERT_EQ(S_OK, control->GetList(0, kind.Receive(), urls.Receive(), texts.Receive(), extra1.Receive(),
                                     extra2.Receive(), &flag));
    EXPECT_EQ(L"AddLinkList", kind.Str());
    EXPECT_EQ((std::vector<std::wstring>{L"http://example.test/dir/a.html", L"http://example.test/dir/b.html"}),
              keptor::VariantStrings(urls.Get()));
    ASSERT_EQ(S_OK, control->GetListWellFormed(0, &wellFormed));
    EXPECT_EQ(VARIANT_TRUE, wellFormed);

    // A state answer of another shape set across the process boundary: the second link only is held.
    TVariant answer = TVariant(0L);
    SAFEARRAYBOUND bound{2, 0};
    SAFEARRAY* array = ::SafeArrayCreate(VT_I4, 1, &bound);
    LONG states[2] = {-1, 4};
    for (LONG i = 0; i < 2; ++i)
        ::SafeArrayPutElement(array, &i, &states[i]);
    V_VT(answer.Ptr()) = VT_ARRAY | VT_I4;
    V_ARRAY(answer.Ptr()) = array;
    ASSERT_EQ(S_OK, control->SetLinkStatesAnswer(keptor::kStatesAnswer, answer.Get()));
    ComPtr<IGUIServer> server = keptor.Server();
    ASSERT_TRUE(server);
    HighlightDocument(3, document.Get(), server.Get());
    LONG requests = 0;
    ASSERT_EQ(S_OK, control->GetStateRequestCount(&requests));
    ASSERT_EQ(1, requests);
    TVariant asked;
    ASSERT_EQ(S_OK, control->GetStateRequest(0, asked.Receive(), &wellFormed));
    EXPECT_EQ(VARIANT_TRUE, wellFormed);
    EXPECT_EQ(keptor::VariantStrings(urls.Get()), keptor::VariantStrings(asked.Get()));
    std::set<std::wstring> styled;
    for (const TStyleWrite& write : Dom->StyleWrites)
        styled.insert(write.Id.empty() ? L"b" : write.Id);
    EXPECT_EQ(std::set<std::wstring>{L"b"}, styled);
}

TEST_F(KepUtilsObjectTest, WithoutTheApplicationEveryOperationCompletesWithoutEffect) {
    Running.reset();
    ComPtr<IHTMLDocument2> document = Load(kSelectionPage);
    TVariant documentVariant = AsVariant(document);
    TVariant element = ElementById(document, L"pic");
    EXPECT_EQ(S_OK, Utils->OpenLinks(documentVariant.Get(), 0));
    EXPECT_EQ(S_OK, Utils->OpenLinks(documentVariant.Get(), 1));
    EXPECT_EQ(S_OK, Utils->AddLinks(documentVariant.Get(), VARIANT_FALSE, element.Get()));
    EXPECT_EQ(S_OK, Utils->AddLinks(documentVariant.Get(), VARIANT_TRUE, element.Get()));
    EXPECT_EQ(S_OK, Utils->AddBanners(documentVariant.Get(), element.Get()));
    EXPECT_TRUE(Server->Lists().empty());
    EXPECT_TRUE(Dom->StyleWrites.empty());
}

struct TObjectFailureCase {
    const char* Name;
    std::function<HRESULT(IIEHKepUtils*, VARIANT, VARIANT)> Call; // document, element
    std::vector<TInjectedFailure> Failures;
    HRESULT ListResult;
    HRESULT Expected;
};

TEST_F(KepUtilsObjectTest, ErrorsBecomeFailureResultsWithADescriptionAndLeaveTheArgumentsAlone) {
    const std::vector<TObjectFailureCase> cases = {
        {"AddLinks: the selection cannot be read",
         [](IIEHKepUtils* u, VARIANT d, VARIANT e) { return u->AddLinks(d, VARIANT_TRUE, e); },
         {{L"selection", E_ACCESSDENIED}},
         S_OK,
         E_ACCESSDENIED},
        {"AddLinks: the document's charset cannot be read",
         [](IIEHKepUtils* u, VARIANT d, VARIANT e) { return u->AddLinks(d, VARIANT_FALSE, e); },
         {{L"charset", E_OUTOFMEMORY}},
         S_OK,
         E_OUTOFMEMORY},
        {"AddLinks: the application fails",
         [](IIEHKepUtils* u, VARIANT d, VARIANT e) { return u->AddLinks(d, VARIANT_FALSE, e); },
         {},
         RPC_E_DISCONNECTED,
         RPC_E_DISCONNECTED},
        {"OpenLinks: the application fails",
         [](IIEHKepUtils* u, VARIANT d, VARIANT) { return u->OpenLinks(d, 0); },
         {},
         RPC_E_SERVERFAULT,
         RPC_E_SERVERFAULT},
        {"AddBanners: the selection type cannot be read",
         [](IIEHKepUtils* u, VARIANT d, VARIANT e) { return u->AddBanners(d, e); },
         {{L"type", E_FAIL, L"selection"}},
         S_OK,
         E_FAIL},
        {"HighlightDocument: the document is not a document",
         [](IIEHKepUtils* u, VARIANT, VARIANT e) {
             return u->HighlightDocument(1, V_DISPATCH(V_VARIANTREF(&e)), nullptr);
         },
         {},
         S_OK,
         E_NOINTERFACE},
    };
    for (const TObjectFailureCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Dom = std::make_shared<TTestDom>();
        Dom->Failures = c.Failures;
        Server->ClearFailures();
        if (FAILED(c.ListResult))
            for (LONG slot : {9L, 10L, 35L}) // AddLinkList, OpenLinkList, AddBannerList
                Server->FailAlways(slot, c.ListResult);
        ComPtr<IHTMLDocument2> document =
            Load(R"(<body><a id="a" href="a.html">a</a><img src="i.png"></body>)");
        TVariant documentVariant = AsVariant(document);
        // The element travels by reference, as a script engine passes it.
        TVariant element = ElementById(document, L"a");
        VARIANT elementRef;
        V_VT(&elementRef) = VT_VARIANT | VT_BYREF;
        V_VARIANTREF(&elementRef) = element.Ptr();
        IDispatch* const elementObject = V_DISPATCH(&element.Get());
        ::SetErrorInfo(0, nullptr);

        EXPECT_EQ(c.Expected, c.Call(Utils.Get(), documentVariant.Get(), elementRef));

        ComPtr<IErrorInfo> error;
        ASSERT_EQ(S_OK, ::GetErrorInfo(0, &error));
        TBStr description, source;
        GUID guid{};
        error->GetDescription(description.Receive());
        error->GetSource(source.Receive());
        error->GetGUID(&guid);
        EXPECT_GT(description.Length(), 0u);
        EXPECT_NE(std::wstring::npos, source.Str().find(L"IEHKepUtils")) << Utf8(source.Str());
        EXPECT_EQ(IID_IIEHKepUtils, guid);
        EXPECT_EQ(VT_DISPATCH, documentVariant.Type());
        EXPECT_EQ(static_cast<IDispatch*>(document.Get()), V_DISPATCH(&documentVariant.Get()));
        EXPECT_EQ(VT_VARIANT | VT_BYREF, V_VT(&elementRef));
        EXPECT_EQ(element.Ptr(), V_VARIANTREF(&elementRef));
        EXPECT_EQ(VT_DISPATCH, element.Type());
        EXPECT_EQ(elementObject, V_DISPATCH(&element.Get()));
    }
    Server->ClearFailures();
}

} // namespace
