// Tests of the test document object model: the HTML loader on tricky markup and on the real fixture
// pages, URL resolution, late binding, selection ranges, frames, injected failures, styles, the view
// and window of the document, and that every object is gone when the test ends.
#include "support/HtmlLoaderUnit.h"
#include "support/TestDocumentUnit.h"
#include "support/TestSupport.h"

#include "com/ComSupportUnit.h"

#include <oleidl.h>

#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace zorbex::test {
namespace {

// Minimal late binding for the tests, independent of the library's own layer.
HRESULT TryInvoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<TVariant>* args,
                  VARIANT* result) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    std::vector<VARIANT> reversed;
    if (args)
        for (auto it = args->rbegin(); it != args->rend(); ++it)
            reversed.push_back(it->Get());
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags == DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
}

TVariant Get(IDispatch* object, const wchar_t* name) {
    TVariant result;
    HRESULT hr = TryInvoke(object, name, DISPATCH_PROPERTYGET, nullptr, result.Receive());
    EXPECT_EQ(S_OK, hr) << "reading " << testing::PrintToString(std::wstring(name));
    return result;
}

template <typename... A> TVariant Call(IDispatch* object, const wchar_t* name, A&&... arguments) {
    std::vector<TVariant> args;
    (args.push_back(std::forward<A>(arguments)), ...);
    TVariant result;
    HRESULT hr = TryInvoke(object, name, DISPATCH_METHOD, &args, result.Receive());
    EXPECT_EQ(S_OK, hr) << "calling " << testing::PrintToString(std::wstring(name));
    return result;
}

HRESULT TryGet(IDispatch* object, const wchar_t* name) {
    TVariant result;
    return TryInvoke(object, name, DISPATCH_PROPERTYGET, nullptr, result.Receive());
}

std::wstring Text(const TVariant& value) {
    return V_VT(&value.Get()) == VT_BSTR && V_BSTR(&value.Get()) ? std::wstring(V_BSTR(&value.Get()))
                                                                 : L"<not text>";
}

IDispatch* Object(const TVariant& value) {
    return V_VT(&value.Get()) == VT_DISPATCH ? V_DISPATCH(&value.Get()) : nullptr;
}

LONG Number(const TVariant& value) {
    return V_VT(&value.Get()) == VT_I4 ? V_I4(&value.Get()) : -999;
}

// The element with an id, through all.item(id).
TVariant ById(IDispatch* document, const wchar_t* id) {
    TVariant all = Get(document, L"all");
    return Call(Object(all), L"item", TVariant(std::wstring_view(id)), TVariant::Omitted());
}

// Every test ends with every object of the model released.
class TDocumentTest : public TComTest {
protected:
    std::shared_ptr<TTestDom> Dom = std::make_shared<TTestDom>();

    ComPtr<IDispatch> Load(std::string html, std::wstring url = L"http://example.test/dir/page.html") {
        ComPtr<IDispatch> document;
        EXPECT_EQ(S_OK, LoadTestDocument(Dom, std::move(html), std::move(url)).As(&document));
        return document;
    }

    void TearDown() override {
        EXPECT_EQ(0, LiveTestDomObjects()) << "an object of the test document model was left behind";
        TComTest::TearDown();
    }
};

// Element structure as "tag(child,child)" for the body's content.
std::wstring Outline(const THtmlNode& node) {
    std::wstring text = node.Tag;
    std::wstring children;
    for (const auto& child : node.Children) {
        if (!child->IsElement())
            continue;
        children += (children.empty() ? L"" : L",") + Outline(*child);
    }
    return children.empty() ? text : text + L"(" + children + L")";
}

TEST(HtmlLoaderTest, BuildsTheTreeABrowserWouldForTrickyMarkup) {
    struct TCase {
        const char* Html;
        const wchar_t* Body;     // outline of the body
        const wchar_t* BodyText; // innerText of the body
    };
    const TCase cases[] = {
        {"<p>one<p>two", L"body(p,p)", L"one\r\ntwo"},
        {"<ul><li>a<li>b</ul><p>c", L"body(ul(li,li),p)", L"a\r\nb\r\nc"},
        {"<table><tr><td>1<td>2<tr><td>3</table>", L"body(table(tbody(tr(td,td),tr(td))))", L"1 2\r\n3"},
        {"<select><option>a<option>b</select>", L"body(select(option,option))", L"a\r\nb"},
        {"x<br>y<img src=a.png><input>z<hr>w", L"body(br,img,input,hr)", L"x\r\nyz\r\nw"},
        {"<a href=x>1<a href=y>2</a>", L"body(a,a)", L"12"},
        {"<!DOCTYPE html><!-- <a href=x>c</a> --><p>t</p>", L"body(p)", L"t"},
        {"<script>if (a<b) document.write('<a href=x>')</script><a href=y>k</a>", L"body(a)", L"k"},
        {"<div><span>open", L"body(div(span))", L"open"},
        {"</span><p>x</div></p>y", L"body(p)", L"x\r\ny"},
        {"<svg><path d='M0'/><circle/></svg><b>s</b>", L"body(svg(path,circle),b)", L"s"},
        {"<h1>a<h2>b</h2>", L"body(h1,h2)", L"a\r\nb"},
        {"<DIV CLASS=x><A HREF=y>Big</A></DIV>", L"body(div(a))", L"Big"},
        {"<p>  lots \n\t of   space  </p>", L"body(p)", L"lots of space"},
        {"<pre>a\n  b</pre>", L"body(pre)", L"a\r\n  b"},
        {"<dl><dt>t<dd>d</dl>", L"body(dl(dt,dd))", L"t\r\nd"},
        {"<p>x</p><noscript><a href=n>no</a></noscript><a href=s>yes</a>", L"body(p,noscript,a)",
         L"x\r\nyes"},
        {"<p>&amp;&lt;&gt;&quot;&apos;&copy;&#65;&#x42;&#128512;&bogus;&amp x&euro;</p>", L"body(p)",
         L"&<>\"'\u00a9AB\U0001F600&bogus;& x\u20ac"},
        {"<p>\xC3\xA9t\xE9</p>", L"body(p)", L"\u00e9t\u00e9"},
        {"", L"body", L""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Html);
        THtmlDocument document = ParseHtml(c.Html);
        ASSERT_NE(nullptr, document.Body);
        EXPECT_EQ(c.Body, Outline(*document.Body));
        EXPECT_EQ(c.BodyText, InnerText(*document.Body));
        EXPECT_EQ(L"html", document.Elements.front()->Tag);
        EXPECT_EQ(document.Elements.size(), document.Elements.front()->End);
    }

    THtmlDocument document =
        ParseHtml("<title>a &amp; <b></title><a href='q' data-x=1 title=\"t &lt;\" hidden "
                  "HREF=dup>x</a>");
    EXPECT_EQ(L"html(head(title),body(a))", Outline(*document.Elements.front()));
    const THtmlNode& anchor = *document.Body->Children.front();
    ASSERT_EQ(4u, anchor.Attributes.size()); // the second href is dropped
    EXPECT_EQ(L"q", *anchor.Attribute(L"HREF"));
    EXPECT_EQ(L"1", *anchor.Attribute(L"data-x"));
    EXPECT_EQ(L"t <", *anchor.Attribute(L"title"));
    EXPECT_EQ(L"", *anchor.Attribute(L"hidden"));
    EXPECT_EQ(L"a & <b>", InnerText(*document.Head->Children.front()));
}

TEST_F(TDocumentTest, LoadsEveryFixturePage) {
    struct TCase {
        const wchar_t* File;
        LONG Anchors, Areas, Images, Frames;
    };
    const TCase cases[] = {
        {L"nodejs-fs.html", 3025, 0, 0, 0},
        {L"libxslt-xslt.html", 226, 0, 7, 0},
        {L"valgrind-manual-core.html", 168, 0, 5, 0},
        {L"rust-reference-inline-assembly.html", 271, 0, 0, 0}, // its iframe is inside NOSCRIPT
        {L"rustc-armv7r-none-eabi.html", 21, 0, 0, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.File)));
        std::wstring url = std::wstring(L"https://docs.example.test/") + c.File;
        ComPtr<IHTMLDocument2> document;
        ASSERT_NO_THROW(document = LoadTestDocument(Dom, TTestPage::FromFile(FixturePagePath(c.File), url)));
        ComPtr<IHTMLElementCollection> all;
        ASSERT_EQ(S_OK, document->get_all(&all));
        const std::pair<const wchar_t*, LONG> counts[] = {
            {L"A", c.Anchors}, {L"area", c.Areas}, {L"IMG", c.Images}};
        for (auto [tag, expected] : counts) {
            TVariant links = Call(all.Get(), L"tags", TVariant(std::wstring_view(tag)));
            EXPECT_EQ(expected, Number(Get(Object(links), L"length")))
                << testing::PrintToString(std::wstring(tag));
        }
        ComPtr<IHTMLFramesCollection2> frames;
        ASSERT_EQ(S_OK, document->get_frames(&frames));
        LONG frameCount = -1;
        EXPECT_EQ(S_OK, frames->get_length(&frameCount));
        EXPECT_EQ(c.Frames, frameCount);
        TBStr title;
        EXPECT_EQ(S_OK, document->get_title(title.Receive()));
        EXPECT_FALSE(title.Str().empty());
        TBStr charset;
        EXPECT_EQ(S_OK, document->get_charset(charset.Receive()));
        EXPECT_EQ(L"utf-8", charset.Str());
    }

    // Every link of the Rust page is absolute, but its javascript: link (as written) and its anchors
    // without a target (empty).
    ComPtr<IHTMLDocument2> rust =
        LoadTestDocument(Dom, TTestPage::FromFile(FixturePagePath(L"rust-reference-inline-assembly.html"),
                                                  L"https://r.test/a/b.html"));
    TVariant anchors =
        Call(Get(rust.Get(), L"all").Get().pdispVal, L"tags", TVariant(std::wstring_view(L"A")));
    bool javascriptSeen = false;
    for (LONG i = 0; i < Number(Get(Object(anchors), L"length")); ++i) {
        TVariant anchor = Call(Object(anchors), L"item", TVariant(i), TVariant::Omitted());
        std::wstring href = Text(Get(Object(anchor), L"href"));
        javascriptSeen = javascriptSeen || href == L"javascript:void(0)";
        EXPECT_TRUE(href.empty() || href.starts_with(L"https://") || href.starts_with(L"http://") ||
                    href == L"javascript:void(0)")
            << testing::PrintToString(href);
    }
    EXPECT_TRUE(javascriptSeen);
}

TEST_F(TDocumentTest, ResolvesHrefAndSrcAgainstThePage) {
    struct TCase {
        const char* Markup;
        const wchar_t* Member;
        const wchar_t* Expected;
    };
    const TCase cases[] = {
        {"<a id=t href='other.html'>", L"href", L"http://example.test/dir/other.html"},
        {"<a id=t href='/root.html'>", L"href", L"http://example.test/root.html"},
        {"<a id=t href='//cdn.test/lib.js'>", L"href", L"http://cdn.test/lib.js"},
        {"<a id=t href='../up.html'>", L"href", L"http://example.test/up.html"},
        {"<a id=t href='../../../up.html'>", L"href", L"http://example.test/up.html"},
        {"<a id=t href='./same/./x/../y.html'>", L"href", L"http://example.test/dir/same/y.html"},
        {"<a id=t href='?q=2'>", L"href", L"http://example.test/dir/page.html?q=2"},
        {"<a id=t href='#frag'>", L"href", L"http://example.test/dir/page.html?x=1#frag"},
        {"<a id=t href=''>", L"href", L"http://example.test/dir/page.html?x=1"},
        {"<a id=t href='  spaced.html\n'>", L"href", L"http://example.test/dir/spaced.html"},
        {"<a id=t href='javascript:go(\"../x\")'>", L"href", L"javascript:go(\"../x\")"},
        {"<a id=t href='MailTo:someone@example.test'>", L"href", L"MailTo:someone@example.test"},
        {"<a id=t href='HTTPS://Other.test/a/./b/../c?d#e'>", L"href", L"HTTPS://Other.test/a/c?d#e"},
        {"<a id=t href='http://host.test'>", L"href", L"http://host.test/"},
        {"<a id=t name=anchor>", L"href", L""},
        {"<map><area id=t href='map.html' alt=m></map>", L"href", L"http://example.test/dir/map.html"},
        {"<img id=t src='../img/p.png'>", L"src", L"http://example.test/img/p.png"},
        {"<img id=t src='p.png'>", L"href", L"http://example.test/dir/p.png"},
        {"<iframe id=t src='f.html'></iframe>", L"src", L"http://example.test/dir/f.html"},
        {"<base href='http://base.test/b/'><a id=t href='c.html'>", L"href", L"http://base.test/b/c.html"},
        {"<base href='../'><img id=t src='c.png'>", L"src", L"http://example.test/c.png"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Markup);
        ComPtr<IDispatch> document = Load(c.Markup, L"http://example.test/dir/page.html?x=1#top");
        TVariant element = ById(document.Get(), L"t");
        ASSERT_NE(nullptr, Object(element));
        EXPECT_EQ(c.Expected, Text(Get(Object(element), c.Member)));
    }
    EXPECT_EQ(L"http://h.test/", ResolveUrl(L"http://h.test", L""));
    EXPECT_EQ(L"x.html", ResolveUrl(L"about:blank", L"x.html"));
}

TEST_F(TDocumentTest, LateBindingMatchesNamesWithoutCaseAndMembersByElementKind) {
    ComPtr<IDispatch> document =
        Load("<title> The  page </title><body><div id=d><a id=a href=x>Link <b id=b>text</b></a>"
             "<img id=i src=p.png alt='Pic'><map><area id=r href=m alt=Area></map><button id=n><span id=s>"
             "</span></button></div></body>");
    // Names of the document and elements, in the spellings a caller may use.
    EXPECT_EQ(L"http://example.test/dir/page.html", Text(Get(document.Get(), L"Url")));
    EXPECT_EQ(L"http://example.test/dir/page.html", Text(Get(document.Get(), L"url")));
    EXPECT_EQ(L"The page", Text(Get(document.Get(), L"TITLE")));
    EXPECT_EQ(L"utf-8", Text(Get(document.Get(), L"Charset")));
    TVariant image = ById(document.Get(), L"i");
    EXPECT_EQ(L"Pic", Text(Get(Object(image), L"Alt")));
    EXPECT_EQ(L"Pic", Text(Get(Object(image), L"alt")));
    EXPECT_EQ(L"IMG", Text(Get(Object(image), L"TagName")));
    TVariant anchor = ById(document.Get(), L"a");
    EXPECT_EQ(L"Link text", Text(Get(Object(anchor), L"INNERTEXT")));
    EXPECT_EQ(L"Area", Text(Get(Object(ById(document.Get(), L"r")), L"Alt")));

    // Members an element lacks fail by name and by identifier, as MSHTML's do.
    struct TMissing {
        const wchar_t* Id;
        const wchar_t* Member;
    };
    const TMissing missing[] = {{L"d", L"href"},    {L"d", L"src"}, {L"a", L"src"},
                                {L"a", L"alt"},     {L"d", L"alt"}, {L"a", L"createTextRange"},
                                {L"a", L"nonsense"}};
    for (const TMissing& m : missing) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(m.Id) + L"." + m.Member));
        TVariant element = ById(document.Get(), m.Id);
        EXPECT_EQ(DISP_E_UNKNOWNNAME, TryGet(Object(element), m.Member));
    }
    DISPID hrefId = DISPID_UNKNOWN;
    LPOLESTR href[] = {const_cast<LPOLESTR>(L"href")};
    ASSERT_EQ(S_OK, Object(anchor)->GetIDsOfNames(IID_NULL, href, 1, 0, &hrefId));
    DISPPARAMS none{};
    TVariant result;
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Object(ById(document.Get(), L"d"))
                                         ->Invoke(hrefId, IID_NULL, 0, DISPATCH_PROPERTYGET, &none,
                                                  result.Receive(), nullptr, nullptr));

    // Parents: the chain ends with a null object above HTML; parentTextEdit is the nearest BODY/BUTTON.
    EXPECT_EQ(L"A", Text(Get(Object(Get(Object(ById(document.Get(), L"b")), L"parentElement")), L"tagName")));
    EXPECT_EQ(L"BODY", Text(Get(Object(Get(Object(anchor), L"parentTextEdit")), L"tagName")));
    EXPECT_EQ(L"BUTTON",
              Text(Get(Object(Get(Object(ById(document.Get(), L"s")), L"parentTextEdit")), L"tagName")));
    TVariant html = Call(Object(Get(document.Get(), L"all")), L"item", TVariant(0L), TVariant::Omitted());
    EXPECT_EQ(L"HTML", Text(Get(Object(html), L"tagName")));
    TVariant top = Get(Object(html), L"parentElement");
    EXPECT_EQ(VT_DISPATCH, top.Type());
    EXPECT_EQ(nullptr, Object(top));
    EXPECT_EQ(nullptr, Object(Get(Object(html), L"parentTextEdit")));

    // Collections: tags without case, item by position (outside: a null object), by id, as default member.
    TVariant all = Get(document.Get(), L"all");
    TVariant anchors = Call(Object(all), L"tags", TVariant(std::wstring_view(L"a")));
    EXPECT_EQ(1, Number(Get(Object(anchors), L"length")));
    TVariant first = Call(Object(anchors), L"item", TVariant(0L), TVariant::Omitted());
    EXPECT_EQ(Object(anchor), Object(first)); // one object per element
    EXPECT_EQ(nullptr, Object(Call(Object(anchors), L"item", TVariant(1L), TVariant::Omitted())));
    DISPPARAMS byIndex{};
    TVariant zero(0L);
    byIndex.rgvarg = const_cast<VARIANT*>(&zero.Get());
    byIndex.cArgs = 1;
    TVariant byDefault;
    EXPECT_EQ(S_OK, Object(anchors)->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                            &byIndex, byDefault.Receive(), nullptr, nullptr));
    EXPECT_EQ(Object(anchor), Object(byDefault));
    ComPtr<IHTMLElementCollection> typed;
    ASSERT_EQ(S_OK, Object(anchors)->QueryInterface(IID_PPV_ARGS(&typed)));
    ComPtr<IDispatch> typedItem;
    TVariant omitted = TVariant::Omitted();
    EXPECT_EQ(S_OK, typed->item(zero.Get(), omitted.Get(), &typedItem));
    EXPECT_EQ(Object(anchor), typedItem.Get());

    // Every late-bound call is counted: one name lookup and one invoke per read.
    Dom->ResetRecords();
    Get(Object(anchor), L"href");
    Get(Object(anchor), L"innerText");
    EXPECT_EQ(2, Dom->GetIDsOfNamesCalls);
    EXPECT_EQ(2, Dom->InvokeCalls);
    EXPECT_EQ(4, Dom->LateBoundCalls());
    EXPECT_EQ(1, Dom->Invokes(L"HREF"));
}

// With DistinctDispIds every object answers its own identifier for a name and refuses another's.
TEST_F(TDocumentTest, DistinctIdentifiersArePerObjectAndRefusedByOtherObjects) {
    for (bool distinct : {false, true}) {
        SCOPED_TRACE(distinct ? "distinct" : "shared");
        Dom = std::make_shared<TTestDom>();
        Dom->DistinctDispIds = distinct;
        ComPtr<IDispatch> document = Load("<body><a id=a href=x>one</a><a id=b href=y>two</a></body>");
        TVariant first = ById(document.Get(), L"a"), second = ById(document.Get(), L"b");
        DISPID ids[2] = {DISPID_UNKNOWN, DISPID_UNKNOWN};
        LPOLESTR href[] = {const_cast<LPOLESTR>(L"href")};
        ASSERT_EQ(S_OK, Object(first)->GetIDsOfNames(IID_NULL, href, 1, 0, &ids[0]));
        ASSERT_EQ(S_OK, Object(second)->GetIDsOfNames(IID_NULL, href, 1, 0, &ids[1]));
        EXPECT_EQ(distinct, ids[0] != ids[1]);
        DISPPARAMS none{};
        TVariant result;
        EXPECT_EQ(distinct ? DISP_E_MEMBERNOTFOUND : S_OK,
                  Object(second)->Invoke(ids[0], IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.Receive(), nullptr,
                                         nullptr));
        TVariant own;
        EXPECT_EQ(S_OK, Object(second)->Invoke(ids[1], IID_NULL, 0, DISPATCH_PROPERTYGET, &none, own.Receive(),
                                               nullptr, nullptr));
        EXPECT_EQ(L"http://example.test/dir/y", Text(own));
    }
}

TEST_F(TDocumentTest, SelectionRangesContainTheMarkedElements) {
    const char* page =
        "<a id=before href=1>1</a><div data-selected><p><a id=in1 href=2>2</a></p>"
        "<a id=in2 href=3>3</a></div><a id=after href=4>4</a><a id=x2 data-selected href=5>5</a>"
        "<a id=last href=6>6</a>";
    struct TCase {
        const char* Html;
        const wchar_t* Type;
        std::vector<std::pair<const wchar_t*, bool>> Links;
    };
    const TCase cases[] = {
        {page,
         L"Text",
         {{L"before", false},
          {L"in1", true},
          {L"in2", true},
          {L"after", true},
          {L"x2", true},
          {L"last", false}}},
        {"<a id=one href=1>1</a><a id=two href=2>2</a>", L"None", {{L"one", false}, {L"two", false}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Html);
        ComPtr<IDispatch> document = Load(c.Html);
        TVariant selection = Get(document.Get(), L"selection");
        EXPECT_EQ(c.Type, Text(Get(Object(selection), L"type")));
        TVariant selected = Call(Object(selection), L"createRange");
        for (auto [id, inside] : c.Links) {
            SCOPED_TRACE(testing::PrintToString(std::wstring(id)));
            TVariant link = ById(document.Get(), id);
            TVariant container = Get(Object(link), L"parentTextEdit");
            TVariant range = Call(Object(container), L"createTextRange");
            Call(Object(range), L"moveToElementText", TVariant(Object(link)));
            TVariant verdict = Call(Object(selected), L"inRange", TVariant(Object(range)));
            ASSERT_EQ(VT_BOOL, verdict.Type());
            EXPECT_EQ(inside ? VARIANT_TRUE : VARIANT_FALSE, V_BOOL(&verdict.Get()));
        }
        ComPtr<IHTMLDocument2> typed;
        ASSERT_EQ(S_OK, document.As(&typed));
        ComPtr<IHTMLSelectionObject> typedSelection;
        ASSERT_EQ(S_OK, typed->get_selection(&typedSelection));
        TBStr type;
        EXPECT_EQ(S_OK, typedSelection->get_type(type.Receive()));
        EXPECT_EQ(c.Type, type.Str());
    }
    // A range moves only to an element of its own page.
    ComPtr<IDispatch> document = Load(page);
    ComPtr<IDispatch> other = Load(page);
    TVariant range =
        Call(Object(Get(Object(ById(document.Get(), L"in1")), L"parentTextEdit")), L"createTextRange");
    std::vector<TVariant> args;
    args.emplace_back(Object(ById(other.Get(), L"in1")));
    TVariant result;
    EXPECT_EQ(E_INVALIDARG,
              TryInvoke(Object(range), L"moveToElementText", DISPATCH_METHOD, &args, result.Receive()));
}

TEST_F(TDocumentTest, FramesLeadToTheirDocumentsUnlessRefused) {
    Dom->FramePages.push_back(
        {L"http://example.test/dir/frame1.html", "<a href='f1.html'>F1</a><a href=x>X</a>"});
    Dom->RefusedFrames.push_back(L"http://other.test/foreign.html");
    ComPtr<IDispatch> document =
        Load("<a href=top.html>T</a><iframe src='frame1.html'></iframe>"
             "<iframe name=far src='http://other.test/foreign.html'></iframe><iframe "
             "src='missing.html'></iframe>");
    struct TCase {
        LONG Index;
        HRESULT DocumentResult;
        const wchar_t* Url;
        LONG Anchors;
    };
    const TCase cases[] = {
        {0, S_OK, L"http://example.test/dir/frame1.html", 2},
        {1, E_ACCESSDENIED, nullptr, 0},
        {2, S_OK, L"http://example.test/dir/missing.html", 0},
    };
    TVariant frames = Get(document.Get(), L"frames");
    EXPECT_EQ(3, Number(Get(Object(frames), L"length")));
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Index);
        TVariant frame = Call(Object(frames), L"item", TVariant(c.Index));
        TVariant window = Get(Object(frame), L"window");
        EXPECT_EQ(Object(frame), Object(window));
        EXPECT_EQ(c.DocumentResult, TryGet(Object(window), L"document"));
        if (FAILED(c.DocumentResult))
            continue;
        TVariant frameDocument = Get(Object(window), L"document");
        EXPECT_EQ(c.Url, Text(Get(Object(frameDocument), L"URL")));
        TVariant anchors =
            Call(Object(Get(Object(frameDocument), L"all")), L"tags", TVariant(std::wstring_view(L"A")));
        EXPECT_EQ(c.Anchors, Number(Get(Object(anchors), L"length")));
        if (c.Anchors > 0) {
            TVariant link = Call(Object(anchors), L"item", TVariant(0L), TVariant::Omitted());
            EXPECT_EQ(L"http://example.test/dir/f1.html", Text(Get(Object(link), L"href")));
        }
        EXPECT_EQ(Object(frameDocument), Object(Get(Object(window), L"document"))); // one document per frame
    }
    std::vector<TVariant> outside;
    outside.emplace_back(3L);
    TVariant result;
    EXPECT_EQ(E_INVALIDARG, TryInvoke(Object(frames), L"item", DISPATCH_METHOD, &outside, result.Receive()));

    // The typed frames collection gives the same windows; by name as well.
    ComPtr<IHTMLDocument2> typed;
    ASSERT_EQ(S_OK, document.As(&typed));
    ComPtr<IHTMLFramesCollection2> typedFrames;
    ASSERT_EQ(S_OK, typed->get_frames(&typedFrames));
    TVariant name(std::wstring_view(L"far"));
    TVariant named;
    ASSERT_EQ(S_OK, typedFrames->item(const_cast<VARIANT*>(&name.Get()), named.Receive()));
    EXPECT_EQ(E_ACCESSDENIED, TryGet(Object(named), L"document"));
    TVariant self = Get(Object(Get(document.Get(), L"parentWindow")), L"document");
    EXPECT_EQ(document.Get(), Object(self));
}

TEST_F(TDocumentTest, InjectedFailuresHitTheNamedMemberWhereTheyAreAimed) {
    const char* page = "<a id=good href=g>G</a><a id=bad href=b>B</a><span id=s>S</span><img id=i src=p.png>"
                       "<iframe src=f.html></iframe>";
    struct TProbe {
        const wchar_t* Id; // nullptr: the document itself
        const wchar_t* Member;
        HRESULT Expected;
    };
    struct TCase {
        TInjectedFailure Failure;
        std::vector<TProbe> Probes;
    };
    const TCase cases[] = {
        {{L"href", E_ACCESSDENIED, L"#bad"},
         {{L"bad", L"href", E_ACCESSDENIED}, {L"good", L"href", S_OK}, {L"bad", L"innerText", S_OK}}},
        {{L"InnerText", E_FAIL, L"a"}, {{L"good", L"innerText", E_FAIL}, {L"s", L"innerText", S_OK}}},
        {{L"src", E_OUTOFMEMORY, L""}, {{L"i", L"src", E_OUTOFMEMORY}, {L"i", L"alt", S_OK}}},
        {{L"url", E_UNEXPECTED, L"document"}, {{nullptr, L"URL", E_UNEXPECTED}, {nullptr, L"title", S_OK}}},
        {{L"all", E_FAIL, L"document", L"http://elsewhere.test/"}, {{nullptr, L"all", S_OK}}},
        {{L"style", E_ACCESSDENIED, L"element"},
         {{L"s", L"style", E_ACCESSDENIED}, {nullptr, L"frames", S_OK}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Failure.Member + L" at " + c.Failure.Where));
        Dom->Failures = {c.Failure};
        ComPtr<IDispatch> document = Load(page);
        for (const TProbe& probe : c.Probes) {
            SCOPED_TRACE(testing::PrintToString(std::wstring(probe.Id ? probe.Id : L"document") + L"." +
                                                probe.Member));
            TVariant element;
            IDispatch* target = document.Get();
            if (probe.Id) {
                element = ById(document.Get(), probe.Id);
                target = Object(element);
            }
            EXPECT_EQ(probe.Expected, TryGet(target, probe.Member));
        }
    }
    // The document interface fails alike, and so do the collections' and frames' members.
    Dom->Failures = {{L"URL", E_ACCESSDENIED, L"document"},
                     {L"length", E_FAIL, L"collection"},
                     {L"document", E_ACCESSDENIED, L"window"}};
    ComPtr<IDispatch> document = Load(page);
    ComPtr<IHTMLDocument2> typed;
    ASSERT_EQ(S_OK, document.As(&typed));
    TBStr url;
    EXPECT_EQ(E_ACCESSDENIED, typed->get_URL(url.Receive()));
    ComPtr<IHTMLElementCollection> all;
    ASSERT_EQ(S_OK, typed->get_all(&all));
    LONG length = 0;
    EXPECT_EQ(E_FAIL, all->get_length(&length));
    EXPECT_EQ(E_FAIL, TryGet(all.Get(), L"length"));
    TVariant frame = Call(Object(Get(document.Get(), L"frames")), L"item", TVariant(0L));
    EXPECT_EQ(E_ACCESSDENIED, TryGet(Object(frame), L"document"));
}

TEST_F(TDocumentTest, StylesStartFromTheInlineStyleAndRecordWrites) {
    ComPtr<IDispatch> document =
        Load("<a id=a href=x style='color: Red; TEXT-DECORATION:underline;font-weight : bold'>A</a><a id=b "
             "href=y>B</a>");
    TVariant a = ById(document.Get(), L"a");
    TVariant style = Get(Object(a), L"style");
    const std::pair<const wchar_t*, const wchar_t*> initial[] = {{L"textDecoration", L"underline"},
                                                                 {L"fontWeight", L"bold"},
                                                                 {L"color", L"Red"},
                                                                 {L"backgroundColor", L""}};
    for (auto [member, value] : initial)
        EXPECT_EQ(value, Text(Get(Object(style), member))) << testing::PrintToString(std::wstring(member));

    std::vector<TVariant> value;
    value.emplace_back(std::wstring_view(L"FF0000"));
    EXPECT_EQ(S_OK, TryInvoke(Object(style), L"Color", DISPATCH_PROPERTYPUT, &value, nullptr));
    EXPECT_EQ(L"FF0000", Text(Get(Object(Get(Object(a), L"style")), L"color"))); // kept on the element
    EXPECT_EQ(Object(style), Object(Get(Object(a), L"style")));
    ASSERT_EQ(1u, Dom->StyleWrites.size());
    const TStyleWrite& write = Dom->StyleWrites.front();
    EXPECT_EQ(L"A", write.Tag);
    EXPECT_EQ(L"a", write.Id);
    EXPECT_EQ(L"color", write.Member);
    EXPECT_EQ(L"FF0000", write.Value);
    EXPECT_EQ(L"", Text(Get(Object(Get(Object(ById(document.Get(), L"b")), L"style")), L"textDecoration")));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, TryGet(Object(style), L"fontSize"));
}

TEST_F(TDocumentTest, ViewDrawsIntoTheGivenDeviceContextAndWindowIsTheTestsChoice) {
    ComPtr<IHTMLDocument2> document = LoadTestDocument(Dom, "<p>view</p>");
    ComPtr<IOleWindow> oleWindow;
    ASSERT_EQ(S_OK, document.As(&oleWindow));
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(E_FAIL, oleWindow->GetWindow(&window));
    EXPECT_EQ(nullptr, window);
    Dom->Window = ::GetDesktopWindow();
    EXPECT_EQ(S_OK, oleWindow->GetWindow(&window));
    EXPECT_EQ(::GetDesktopWindow(), window);

    ComPtr<IViewObject> view;
    ASSERT_EQ(S_OK, document.As(&view));
    TMemoryDC dc(::CreateCompatibleDC(nullptr));
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 40, -30, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    TBitmapHandle bitmap(::CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_TRUE(bitmap);
    TSelectGuard select(dc.Get(), bitmap.Get());
    RECTL bounds{0, 0, 40, 30};
    EXPECT_EQ(S_OK, view->Draw(DVASPECT_CONTENT, 1, nullptr, nullptr, nullptr, dc.Get(), &bounds, nullptr,
                               nullptr, 0));
    ::GdiFlush();
    const POINT samples[] = {{0, 0}, {39, 0}, {0, 29}, {39, 29}, {17, 9}, {8, 8}};
    for (POINT p : samples)
        EXPECT_EQ(DefaultViewPixel(p.x, p.y, 40, 30), ::GetPixel(dc.Get(), p.x, p.y)) << p.x << "," << p.y;
    ASSERT_EQ(1u, Dom->DrawCalls.size());
    EXPECT_EQ(static_cast<DWORD>(DVASPECT_CONTENT), Dom->DrawCalls[0].Aspect);
    EXPECT_EQ(1, Dom->DrawCalls[0].Index);
    EXPECT_EQ(dc.Get(), Dom->DrawCalls[0].DrawDC);
    EXPECT_EQ(30, Dom->DrawCalls[0].Bounds.bottom);

    // The test chooses the picture, or a failure.
    Dom->Painter = [](HDC target, const RECT& area) {
        TGdiObject brush(::CreateSolidBrush(RGB(1, 2, 3)));
        ::FillRect(target, &area, static_cast<HBRUSH>(brush.Get()));
        return S_OK;
    };
    EXPECT_EQ(S_OK, view->Draw(DVASPECT_CONTENT, 1, nullptr, nullptr, nullptr, dc.Get(), &bounds, nullptr,
                               nullptr, 0));
    ::GdiFlush();
    EXPECT_EQ(RGB(1, 2, 3), ::GetPixel(dc.Get(), 20, 20));
    Dom->Painter = [](HDC, const RECT&) { return E_OUTOFMEMORY; };
    EXPECT_EQ(E_OUTOFMEMORY, view->Draw(DVASPECT_CONTENT, 1, nullptr, nullptr, nullptr, dc.Get(), &bounds,
                                        nullptr, nullptr, 0));
    Dom->Failures = {{L"GetWindow", E_ACCESSDENIED}, {L"Draw", E_UNEXPECTED}};
    EXPECT_EQ(E_ACCESSDENIED, oleWindow->GetWindow(&window));
    EXPECT_EQ(E_UNEXPECTED, view->Draw(DVASPECT_CONTENT, 1, nullptr, nullptr, nullptr, dc.Get(), &bounds,
                                       nullptr, nullptr, 0));
}

TEST_F(TDocumentTest, ObjectsLiveExactlyAsLongAsTheirReferences) {
    EXPECT_EQ(0, LiveTestDomObjects());
    {
        Dom->FramePages.push_back({L"http://example.test/dir/f.html", "<a href=1>1</a>"});
        ComPtr<IDispatch> document = Load("<a id=a href=x>x</a><iframe src=f.html></iframe>");
        ComPtr<IUnknown> identity;
        ASSERT_EQ(S_OK, document.As(&identity));
        ComPtr<IViewObject> view;
        ASSERT_EQ(S_OK, document.As(&view));
        ComPtr<IUnknown> viewIdentity;
        ASSERT_EQ(S_OK, view.As(&viewIdentity));
        EXPECT_EQ(identity.Get(), viewIdentity.Get());
        TVariant anchor = ById(document.Get(), L"a");
        TVariant style = Get(Object(anchor), L"style");
        TVariant range = Call(Object(Get(Object(anchor), L"parentTextEdit")), L"createTextRange");
        TVariant frame = Call(Object(Get(document.Get(), L"frames")), L"item", TVariant(0L));
        TVariant frameDocument = Get(Object(frame), L"document");
        // document, anchor, style, range, frame window, frame document; collections and BODY are gone
        EXPECT_EQ(6, LiveTestDomObjects());
    }
    EXPECT_EQ(0, LiveTestDomObjects());
}

} // namespace
} // namespace zorbex::test
