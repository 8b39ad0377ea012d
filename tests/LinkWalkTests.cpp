// Link walking: the URL filter and the case folding, the variant string array, GetLinks on the real
// fixture pages and on small pages with frames, image maps, selections and failing parts,
// GetElementLinkInfo on the element under the mouse, and GetImageSources with its own guarding.
#include <windows.h>
#include <mshtml.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

#include "com/ComSupportUnit.h"
#include "com/LateBindUnit.h"
#include "page/LinkWalkUnit.h"
#include "support/ExpectedLinksUnit.h"
#include "support/TestDocumentUnit.h"
#include "support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;

namespace {

std::vector<std::wstring> Items(const TWideStringList& list) {
    return {list.begin(), list.end()};
}

std::vector<TExpectedLink> Zip(const TWideStringList& urls, const TWideStringList& texts) {
    std::vector<TExpectedLink> links;
    for (size_t i = 0; i < urls.Count(); ++i)
        links.push_back({urls.Get(i), texts.Get(i)});
    return links;
}

// Cyrillic host and path, a CJK query: none of it is in a Western ANSI code page.
const std::wstring kForeignUrl =
    L"http://\u043F\u0440\u0438\u043C\u0435\u0440.\u0438\u0441\u043F\u044B\u0442\u0430\u043D\u0438\u0435/"
    L"\u043F\u0443\u0442\u044C/\u65E5\u672C\u8A9E.html?q=\u6F22\u5B57";

class LinkWalkTest : public TComTest {
protected:
    std::shared_ptr<TTestDom> Dom = std::make_shared<TTestDom>();

    TVariant Load(const std::string& html, const std::wstring& url = L"http://example.test/dir/page.html") {
        ComPtr<IHTMLDocument2> document = LoadTestDocument(Dom, html, url);
        return TVariant(static_cast<IDispatch*>(document.Get()));
    }

    void TearDown() override {
        Dom.reset();
        EXPECT_EQ(0, LiveTestDomObjects()) << "an object of the page was left behind";
        TComTest::TearDown();
    }
};

// --- URL filter, folding and the string array ----------------------------------------------------------

struct TFilterCase {
    const wchar_t* Url;
    bool Allowed;
    const wchar_t* Normalized;
};

TEST(LinkWalkFilter, SchemesAreRejectedIgnoringCaseAndFragmentsAreCut) {
    const TFilterCase cases[] = {
        {L"", true, L""},
        {L"http://a.test/x", true, L"http://a.test/x"},
        {L"http://a.test/x#part#more", true, L"http://a.test/x"},
        {L"#top", true, L""},
        {L"javascript:void(0)", false, L""},
        {L"JavaScript:alert(1)", false, L""},
        {L"JAVASCRIPT", false, L""},
        {L"javascriptish/page", false, L""}, // the letters, not the scheme, decide
        {L"javascrip", true, L"javascrip"},
        {L"mailto:someone@example.test", false, L""},
        {L"MailTo:x", false, L""},
        {L"mailtofoo", false, L""},
        {L"mail", true, L"mail"},
        {L" javascript:x", true, L" javascript:x"},
        {L"http://a.test/#javascript:x", true, L"http://a.test/"},
    };
    for (const TFilterCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "URL: " << Utf8(c.Url));
        EXPECT_EQ(c.Allowed, IsAllowedURL(c.Url));
        EXPECT_EQ(std::wstring(c.Normalized), NormalizeLinkURL(c.Url));
    }
}

TEST(LinkWalkFilter, CaseFoldingCoversTextOutsideAnyAnsiCodePage) {
    EXPECT_TRUE(SameURL(L"HTTP://A.test/Page", L"http://a.TEST/page"));
    EXPECT_TRUE(
        SameURL(L"http://x/\u041F\u0423\u0422\u042C", L"http://x/\u043F\u0443\u0442\u044C")); // ПУТЬ/путь
    EXPECT_TRUE(SameURL(L"http://x/\u00C9t\u00C9", L"http://x/\u00E9t\u00E9"));
    EXPECT_FALSE(SameURL(L"http://x/\u65E5", L"http://x/\u672C"));
    EXPECT_FALSE(SameURL(L"http://x/a", L"http://x/a/"));
    EXPECT_EQ(kForeignUrl.size(), FoldCase(kForeignUrl).size());

    TURLSeenSet seen;
    EXPECT_TRUE(seen.Insert(L"http://x/\u043F\u0443\u0442\u044C"));
    EXPECT_FALSE(seen.Insert(L"HTTP://X/\u041F\u0423\u0422\u042C"));
    EXPECT_TRUE(seen.Insert(L"http://x/\u043F\u0443\u0442\u044C/"));
    EXPECT_EQ(2u, seen.Count());
}

TEST(LinkWalkFilter, VariantStringArrayHasBoundsZeroToCountAndBstrVariants) {
    for (const std::vector<std::wstring>& strings :
         {std::vector<std::wstring>{}, std::vector<std::wstring>{L"one"},
          std::vector<std::wstring>{L"", kForeignUrl, L"three"}}) {
        TWideStringList list;
        for (const auto& s : strings)
            list.Add(s);
        TVariant array = MakeVariantStringArray(list);
        ASSERT_EQ(VT_ARRAY | VT_VARIANT, array.Type());
        SAFEARRAY* data = V_ARRAY(&array.Get());
        ASSERT_EQ(1u, ::SafeArrayGetDim(data));
        VARTYPE type = VT_EMPTY;
        ASSERT_HRESULT_SUCCEEDED(::SafeArrayGetVartype(data, &type));
        EXPECT_EQ(VT_VARIANT, type);
        LONG low = -1, high = -2;
        ASSERT_HRESULT_SUCCEEDED(::SafeArrayGetLBound(data, 1, &low));
        ASSERT_HRESULT_SUCCEEDED(::SafeArrayGetUBound(data, 1, &high));
        EXPECT_EQ(0, low);
        EXPECT_EQ(static_cast<LONG>(strings.size()) - 1, high);
        for (LONG i = 0; i < static_cast<LONG>(strings.size()); ++i) {
            TVariant element;
            ASSERT_HRESULT_SUCCEEDED(::SafeArrayGetElement(data, &i, element.Ptr()));
            ASSERT_EQ(VT_BSTR, element.Type());
            ASSERT_NE(nullptr, V_BSTR(&element.Get()));
            EXPECT_EQ(strings[static_cast<size_t>(i)],
                      std::wstring(V_BSTR(&element.Get()), ::SysStringLen(V_BSTR(&element.Get()))));
        }
    }
}

// --- GetLinks --------------------------------------------------------------------------------------------

class LinkWalkFixturePages : public LinkWalkTest, public testing::WithParamInterface<const wchar_t*> {};

TEST_P(LinkWalkFixturePages, GathersTheDistinctAllowedLinksInDocumentOrder) {
    const std::wstring url = std::wstring(L"https://docs.example.test/pages/") + GetParam();
    TTestPage page = TTestPage::FromFile(FixturePagePath(GetParam()), url);
    const std::vector<TExpectedLink> expected = ExpectedLinks({{page.Html, url}});
    ASSERT_FALSE(expected.empty());
    ComPtr<IHTMLDocument2> document = LoadTestDocument(Dom, page);
    TVariant documentVariant(static_cast<IDispatch*>(document.Get()));

    TWideStringList texts, urls;
    texts.Add(L"stale");
    ASSERT_TRUE(GetLinks(documentVariant.Get(), true, false, texts, urls));
    EXPECT_EQ(expected, Zip(urls, texts));
    for (const std::wstring& link : urls)
        EXPECT_EQ(std::wstring::npos, link.find(L'#')) << Utf8(link);

    // Nothing on these pages is selected.
    ASSERT_TRUE(GetLinks(documentVariant.Get(), true, true, texts, urls));
    EXPECT_EQ(0u, urls.Count());
    EXPECT_EQ(0u, texts.Count());
}

INSTANTIATE_TEST_SUITE_P(RealPages, LinkWalkFixturePages,
                         testing::Values(L"nodejs-fs.html", L"libxslt-xslt.html",
                                         L"valgrind-manual-core.html", L"rust-reference-inline-assembly.html",
                                         L"rustc-armv7r-none-eabi.html"));

const char kLinksPage[] = R"(<html><head><title>t</title></head><body>
<p><a id="first" href="Other.html#one">First text</a> <a href="OTHER.html#two">second text</a>
<a href="javascript:go(1);">script</a> <a href="MAILTO:me@example.test">mail</a> <a href="JavaScript:x">js</a>
<map name="m"><area href="map.html" alt="Map alt"><area href="other.html" alt="dup"></map>
<a href="map.html">Map as anchor</a> <a href="#local">Local</a></p>
<iframe src="frame1.html"></iframe><iframe src="refused.html"></iframe><iframe src="frame2.html"></iframe>
</body></html>)";
const char kFrame1[] = R"(<html><body><a href="http://example.test/dir/other.html">again</a>
<a href="f1.html">Frame one</a><iframe src="nested.html"></iframe><map><area href="f1area.html" alt="F1 area"></map>
</body></html>)";
const char kFrame2[] = R"(<html><body><a href="f2.html">Frame two</a></body></html>)";
const char kNested[] = R"(<html><body><a href="nested-link.html">nested</a></body></html>)";
const char kRefused[] = R"(<html><body><a href="refused-link.html">refused</a></body></html>)";

TEST_F(LinkWalkTest, AnchorsBeforeAreasTopDocumentBeforeFramesFirstOccurrenceWins) {
    Dom->FramePages = {{L"http://example.test/dir/frame1.html", kFrame1},
                       {L"http://example.test/dir/frame2.html", kFrame2},
                       {L"http://example.test/dir/nested.html", kNested},
                       {L"http://example.test/dir/refused.html", kRefused}};
    Dom->RefusedFrames = {L"http://example.test/dir/refused.html"};
    TVariant document = Load(kLinksPage);

    TWideStringList texts, urls;
    ASSERT_TRUE(GetLinks(document.Get(), true, false, texts, urls));
    const std::vector<TExpectedLink> expected = {
        {L"http://example.test/dir/Other.html", L"First text"},
        {L"http://example.test/dir/map.html", L"Map as anchor"},
        {L"http://example.test/dir/page.html", L"Local"},
        // the areas of the top document: map.html was met already as an anchor, other.html too
        {L"http://example.test/dir/f1.html", L"Frame one"},
        {L"http://example.test/dir/f1area.html", L"F1 area"},
        {L"http://example.test/dir/f2.html", L"Frame two"},
    };
    EXPECT_EQ(expected, Zip(urls, texts));

    // Without frames only the top document.
    ASSERT_TRUE(GetLinks(document.Get(), false, false, texts, urls));
    EXPECT_EQ(3u, urls.Count());
}

TEST_F(LinkWalkTest, AreaTextIsItsAltAndALinkWithoutTargetIsTheEmptyUrl) {
    TVariant document = Load(R"(<body><map><area href="a.html" alt="Area alt"></map>
        <a name="anchor-only">No target</a><a href="a.html">Anchor text</a></body>)");
    TWideStringList texts, urls;
    ASSERT_TRUE(GetLinks(document.Get(), true, false, texts, urls));
    // A before AREA: the anchor's text wins for a.html; the anchor without href yields the empty URL.
    EXPECT_EQ((std::vector<TExpectedLink>{{L"", L"No target"},
                                          {L"http://example.test/dir/a.html", L"Anchor text"}}),
              Zip(urls, texts));
}

TEST_F(LinkWalkTest, UrlsOutsideTheAnsiCodePageArriveUnchangedAndCompareIgnoringCase) {
    const std::wstring upperPath = L"http://x.test/\u041F\u0423\u0422\u042C";
    const std::wstring lowerPath = L"http://x.test/\u043F\u0443\u0442\u044C";
    TVariant document =
        Load(Utf8(L"<body><a href=\"" + kForeignUrl + L"#frag\">\u65E5\u672C</a><a href=\"" + upperPath +
                  L"\">upper</a><a href=\"" + lowerPath + L"\">lower</a></body>"));
    TWideStringList texts, urls;
    ASSERT_TRUE(GetLinks(document.Get(), true, false, texts, urls));
    EXPECT_EQ((std::vector<TExpectedLink>{{kForeignUrl, L"\u65E5\u672C"}, {upperPath, L"upper"}}),
              Zip(urls, texts));
}

TEST_F(LinkWalkTest, SelectionOnlyTakesTheLinksInsideEachDocumentsOwnSelection) {
    Dom->FramePages = {
        {L"http://example.test/dir/frame1.html",
         R"(<body><a href="f-out.html">out</a><div data-selected><a href="f-in.html">in</a></div></body>)"},
        {L"http://example.test/dir/frame2.html", R"(<body><a href="f2.html">none selected</a></body>)"}};
    TVariant document = Load(R"(<body><a href="before.html">before</a>
        <div data-selected><a href="in1.html">in one</a><p><a href="in2.html">in two</a></p>
        <map><area href="in-area.html" alt="area in"></map></div><a href="after.html">after</a>
        <iframe src="frame1.html"></iframe><iframe src="frame2.html"></iframe></body>)");
    TWideStringList texts, urls;
    ASSERT_TRUE(GetLinks(document.Get(), true, true, texts, urls));
    EXPECT_EQ((std::vector<std::wstring>{
                  L"http://example.test/dir/in1.html", L"http://example.test/dir/in2.html",
                  L"http://example.test/dir/in-area.html", L"http://example.test/dir/f-in.html"}),
              Items(urls));
}

// Failures injected into the page and what the walk still gathers.
struct TWalkFailureCase {
    const char* Name;
    std::vector<TInjectedFailure> Failures;
    bool SelectionOnly;
    bool Result;
    std::vector<TExpectedLink> Links;
};

TEST_F(LinkWalkTest, FailingElementsCollectionsAndFramesAreSkipped) {
    const std::wstring top = L"http://example.test/dir/page.html";
    const std::wstring frame = L"http://example.test/dir/frame1.html";
    const char* page =
        R"(<body><div data-selected><a id="bad" href="bad.html">bad</a><a id="mute" href="mute.html">mute</a>
        <a href="ok.html">ok</a><map><area href="area.html" alt="area"></map></div>
        <iframe src="frame1.html"></iframe></body>)";
    const std::vector<TExpectedLink> all = {{L"http://example.test/dir/bad.html", L"bad"},
                                            {L"http://example.test/dir/mute.html", L"mute"},
                                            {L"http://example.test/dir/ok.html", L"ok"},
                                            {L"http://example.test/dir/area.html", L"area"},
                                            {L"http://example.test/dir/f.html", L"f"}};
    const TExpectedLink bad = all[0], mute = all[1], ok = all[2], area = all[3], inFrame = all[4];
    const std::vector<TWalkFailureCase> cases = {
        {"nothing fails", {}, false, true, all},
        {"one element's href", {{L"href", E_FAIL, L"#bad"}}, false, true, {mute, ok, area, inFrame}},
        {"one element's text: the link stays without it",
         {{L"innerText", E_FAIL, L"#mute"}},
         false,
         true,
         {bad, {mute.Url, L""}, ok, area, inFrame}},
        {"the tag collections of the top document",
         {{L"tags", E_FAIL, L"collection", top}},
         false,
         true,
         {inFrame}},
        {"every item of the top document", {{L"item", E_FAIL, L"collection", top}}, false, true, {inFrame}},
        {"the frame's document refused",
         {{L"document", E_ACCESSDENIED, L"window"}},
         false,
         true,
         {bad, mute, ok, area}},
        {"the frames collection", {{L"frames", E_FAIL}}, false, true, {bad, mute, ok, area}},
        {"the top document's all, full scan: the walk ends",
         {{L"all", E_FAIL, L"document", top}},
         false,
         false,
         {}},
        {"the top document's all, selection: the frames are still read",
         {{L"all", E_FAIL, L"document", top}},
         true,
         true,
         {inFrame}},
        {"the selection of the top document",
         {{L"selection", E_FAIL, L"document", top}},
         true,
         true,
         {inFrame}},
        {"the range test of one element",
         {{L"parentTextEdit", E_FAIL, L"#bad"}},
         true,
         true,
         {mute, ok, area, inFrame}},
        {"nothing fails, selection", {}, true, true, all},
    };
    for (const TWalkFailureCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Dom = std::make_shared<TTestDom>();
        Dom->FramePages = {{frame, c.SelectionOnly ? R"(<body data-selected><a href="f.html">f</a></body>)"
                                                   : R"(<body><a href="f.html">f</a></body>)"}};
        Dom->Failures = c.Failures;
        TVariant document = Load(page, top);
        TWideStringList texts, urls;
        urls.Add(L"untouched");
        const bool result = GetLinks(document.Get(), true, c.SelectionOnly, texts, urls);
        EXPECT_EQ(c.Result, result);
        if (!c.Result) {
            EXPECT_EQ(std::vector<std::wstring>{L"untouched"}, Items(urls));
            continue;
        }
        EXPECT_EQ(c.Links, Zip(urls, texts));
    }
}

// A page of `links` anchors (every fourth repeating an earlier target) and as many image-map areas
// and images, in the top document and in a frame.
std::string ManyLinks(int links) {
    std::string html = "<body>";
    for (int i = 0; i < links; ++i) {
        const std::string target = "p" + std::to_string(i % 4 == 3 ? i - 1 : i) + ".html";
        html += "<a href=\"" + target + "#f\">link " + std::to_string(i) + "</a><img src=\"i" +
                std::to_string(i) + ".png\"><map><area href=\"m" + std::to_string(i) + ".html\" alt=\"m\"></map>";
    }
    return html + "<iframe src=\"frame.html\"></iframe></body>";
}

// Names are looked up once per kind of object, not per element: the lookups of a walk do not grow with
// the page. Objects that answer identifiers of their own are read just the same, through the lookup
// that a refused identifier brings.
TEST_F(LinkWalkTest, NamesAreLookedUpOncePerKindOfObjectAndDistinctIdentifiersStillRead) {
    struct TRun {
        std::vector<TExpectedLink> Links;
        std::vector<std::wstring> Images;
        long Lookups = 0;
        long Invokes = 0;
    };
    auto walk = [&](int links, bool distinct, bool selection) {
        Dom = std::make_shared<TTestDom>();
        Dom->DistinctDispIds = distinct;
        Dom->FramePages = {{L"http://example.test/dir/frame.html", ManyLinks(links)}};
        TVariant document = Load(ManyLinks(links));
        Dom->ResetRecords();
        TRun run;
        TWideStringList texts, urls, images;
        EXPECT_TRUE(GetLinks(document.Get(), true, selection, texts, urls));
        EXPECT_TRUE(GetImageSources(document.Get(), true, selection, images));
        run.Links = Zip(urls, texts);
        run.Images = Items(images);
        run.Lookups = Dom->GetIDsOfNamesCalls;
        run.Invokes = Dom->InvokeCalls;
        return run;
    };
    for (bool selection : {false, true}) {
        SCOPED_TRACE(selection ? "selection" : "all");
        const TRun small = walk(10, false, selection), large = walk(80, false, selection);
        EXPECT_EQ(small.Lookups, large.Lookups);
        EXPECT_LT(large.Lookups, 40);
        const TRun distinct = walk(80, true, selection);
        EXPECT_EQ(large.Links, distinct.Links);
        EXPECT_EQ(large.Images, distinct.Images);
        EXPECT_EQ(large.Invokes, distinct.Invokes - distinct.Lookups + large.Lookups) << "one refused call per lookup";
        if (!selection) { // distinct anchors and areas; the frame repeats the page's targets
            EXPECT_EQ(static_cast<size_t>(80 - 80 / 4 + 80), large.Links.size());
        }
    }
}

TEST_F(LinkWalkTest, ANullOrForeignDocumentEndsTheFullWalk) {
    TWideStringList texts, urls;
    TVariant empty;
    EXPECT_FALSE(GetLinks(empty.Get(), true, false, texts, urls));
    TVariant number(42L);
    EXPECT_FALSE(GetLinks(number.Get(), true, false, texts, urls));
    TWideStringList sources;
    EXPECT_FALSE(GetImageSources(empty.Get(), true, false, sources));
}

// --- GetElementLinkInfo ---------------------------------------------------------------------------------

struct TElementCase {
    const char* Name;
    const wchar_t* Id;
    bool Result;
    const wchar_t* Url;
    const wchar_t* Text;
};

TEST_F(LinkWalkTest, ElementUnderTheMouseYieldsItsLink) {
    TVariant document = Load(R"(<body>
        <a id="anchor" href="target.html#frag">Anchor <b id="bold">bold <i id="italic">text</i></b> end</a>
        <a href="pic.html" title="t"><img id="inner-image" src="pic.png" alt="Picture alt"></a>
        <img id="free-image" src="free.png" alt="Free alt">
        <map><area id="area" href="area.html" alt="Area alt"></map>
        <a id="mail" href="mailto:me@example.test">Mail me</a>
        <a href="mailto:you@example.test"><span id="in-mail">you</span></a>
        <a id="script" href="javascript:void(0);">Script</a>
        <p id="plain">No link</p><a id="no-target">No target</a></body>)");
    const TElementCase cases[] = {
        {"anchor (fragment kept)", L"anchor", true, L"http://example.test/dir/target.html#frag",
         L"Anchor bold text end"},
        {"text inside an anchor: the anchor's whole text", L"italic", true,
         L"http://example.test/dir/target.html#frag", L"Anchor bold text end"},
        {"image inside an anchor: the image's alt", L"inner-image", true, L"http://example.test/dir/pic.html",
         L"Picture alt"},
        {"image outside an anchor: its own href", L"free-image", true, L"http://example.test/dir/free.png",
         L"Free alt"},
        {"area", L"area", true, L"http://example.test/dir/area.html", L"Area alt"},
        {"mailto anchor: URL set, result false", L"mail", false, L"mailto:me@example.test", L"Mail me"},
        {"text in a mailto anchor", L"in-mail", false, L"mailto:you@example.test", L"you"},
        {"javascript anchor", L"script", false, L"javascript:void(0);", L"Script"},
        {"no anchor above: its href cannot be read", L"plain", false, L"", L""},
        {"anchor without target", L"no-target", false, L"", L"No target"},
    };
    ComPtr<IDispatch> documentObject = AsDispatch(document.Get());
    ComPtr<IDispatch> all = GetObjectProperty(documentObject.Get(), L"all");
    for (const TElementCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TVariant id{std::wstring_view(c.Id)};
        TVariant element = CallMethod(all.Get(), L"item", {&id.Get()});
        std::wstring text = L"stale", url = L"stale";
        EXPECT_EQ(c.Result, GetElementLinkInfo(element.Get(), text, url));
        EXPECT_EQ(std::wstring(c.Url), url);
        EXPECT_EQ(std::wstring(c.Text), text);
    }
    std::wstring text = L"stale", url = L"stale";
    TVariant nothing;
    EXPECT_FALSE(GetElementLinkInfo(nothing.Get(), text, url));
    EXPECT_EQ(L"", url);
    EXPECT_EQ(L"", text);
}

// --- GetImageSources ------------------------------------------------------------------------------------

struct TImageCase {
    const char* Name;
    std::vector<TInjectedFailure> Failures;
    bool Result;
    std::vector<std::wstring> Sources;
};

TEST_F(LinkWalkTest, ImageSourcesAreDistinctAndGuardedOnlyAroundEachSource) {
    const std::wstring top = L"http://example.test/dir/page.html";
    const char* page =
        R"(<body data-selected><img id="one" src="a.png"><img src="A.PNG"><img id="two" src="b.png">
        <a href="x.html"><img src="javascript-not-filtered.png#frag"></a><img src="a.png">
        <iframe src="frame1.html"></iframe><iframe src="frame2.html"></iframe></body>)";
    const std::wstring a = L"http://example.test/dir/a.png", b = L"http://example.test/dir/b.png",
                       c = L"http://example.test/dir/javascript-not-filtered.png#frag",
                       f1 = L"http://example.test/dir/f1.png", f2 = L"http://example.test/dir/f2.png";
    const std::vector<TImageCase> cases = {
        {"nothing fails", {}, true, {a, b, c, f1, f2}},
        {"one src: the same image in other case takes its place",
         {{L"src", E_FAIL, L"#one"}},
         true,
         {L"http://example.test/dir/A.PNG", b, c, f1, f2}},
        {"an item of the top document", {{L"item", E_FAIL, L"collection", top}}, false, {}},
        {"the top document's selection", {{L"selection", E_FAIL, L"document", top}}, false, {}},
        {"the frames collection", {{L"frames", E_FAIL}}, false, {}},
        {"one frame's images",
         {{L"tags", E_FAIL, L"collection", L"http://example.test/dir/frame1.html"}},
         true,
         {a, b, c, f2}},
    };
    for (const TImageCase& imageCase : cases) {
        SCOPED_TRACE(imageCase.Name);
        Dom = std::make_shared<TTestDom>();
        Dom->FramePages = {
            {L"http://example.test/dir/frame1.html", R"(<body data-selected><img src="f1.png"></body>)"},
            {L"http://example.test/dir/frame2.html",
             R"(<body data-selected><img src="f2.png"><img src="a.png"></body>)"}};
        Dom->Failures = imageCase.Failures;
        TVariant document = Load(page, top);
        TWideStringList sources;
        sources.Add(L"untouched");
        EXPECT_EQ(imageCase.Result, GetImageSources(document.Get(), true, true, sources));
        EXPECT_EQ(imageCase.Result ? imageCase.Sources : std::vector<std::wstring>{L"untouched"},
                  Items(sources));
    }
}

TEST_F(LinkWalkTest, ImageSourcesOfARealPageMatchItsImages) {
    const std::wstring url = L"https://docs.example.test/libxslt-xslt.html";
    TTestPage page = TTestPage::FromFile(FixturePagePath(L"libxslt-xslt.html"), url);
    const std::vector<std::wstring> expected = ExpectedImageSources({{page.Html, url}});
    ASSERT_FALSE(expected.empty());
    ComPtr<IHTMLDocument2> document = LoadTestDocument(Dom, page);
    TVariant documentVariant(static_cast<IDispatch*>(document.Get()));
    TWideStringList sources;
    ASSERT_TRUE(GetImageSources(documentVariant.Get(), true, false, sources));
    EXPECT_EQ(expected, Items(sources));
}

TEST(LinkWalkHost, TheTestProgramIsNotTheBrowser) {
    EXPECT_FALSE(IsHostBrowserProcess());
}

} // namespace
