// The test document object model: an HTML page loaded with the tolerant loader and served as the
// browser's document would serve it. The document answers IHTMLDocument2 (URL, all, frames,
// selection, title, charset), IOleWindow and IViewObject; everything below it answers late binding
// by member name only (IDispatch, names matched without regard to case):
//
//   document    URL, all, frames, selection, charset, title, parentWindow
//   collection  length, item(index or name [, index]), tags(name); item is the default member
//   element     tagName (upper case), innerText, id, className, getAttribute(name),
//               parentElement, parentTextEdit (nearest BODY/BUTTON/TEXTAREA above), style;
//               href (A, AREA, LINK, BASE, IMG; resolved against the page), src (IMG, INPUT,
//               SCRIPT, FRAME, IFRAME, EMBED, SOURCE, TRACK, AUDIO, VIDEO, BGSOUND; resolved),
//               alt (IMG, AREA, INPUT, APPLET), createTextRange() (BODY, BUTTON, INPUT, TEXTAREA).
//               A member the element lacks fails in GetIDsOfNames with DISP_E_UNKNOWNNAME and in
//               Invoke with DISP_E_MEMBERNOTFOUND. Identifiers name the same member on every
//               object, unless TTestDom::DistinctDispIds gives each object its own.
//   style       textDecoration, fontWeight, color, backgroundColor (read from the inline style
//               attribute, writes kept verbatim and recorded in TTestDom::StyleWrites)
//   selection   type ("None" or "Text"), createRange()
//   text range  moveToElementText(element), inRange(range), isEqual(range)
//   frames      length, item(index) -> window
//   window      document, window (itself)
//
// The selection: every element carrying the attribute TTestDom::SelectionAttribute
// ("data-selected") is selected; the selection range runs from the first such element's start to
// the last one's end, in document order. A page without such an element has the selection type
// "None" and a collapsed selection range.
#pragma once

#include <windows.h>
#include <mshtml.h>
#include <wrl/client.h>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorbex::test {

// One page of the test model: its text (UTF-8) and the URL it was loaded from.
struct TTestPage {
    std::wstring Url;
    std::string Html;

    // Reads a page file (Windows path); an unreadable file raises a TComError.
    static TTestPage FromFile(const std::wstring& path, std::wstring url);
};

// A failure injected into the model: every call of Member (late-bound, and the document
// interface's method of the same name: get_URL for "URL", GetWindow, Draw ...) on the objects
// that Where names fails with Code.
struct TInjectedFailure {
    TInjectedFailure(std::wstring member, HRESULT code = E_FAIL, std::wstring where = {},
                     std::wstring pageUrl = {})
        : Member(std::move(member)), Code(code), Where(std::move(where)), PageUrl(std::move(pageUrl)) {}

    std::wstring Member; // without regard to case
    HRESULT Code = E_FAIL;
    // Empty: every object. "#id": the element with that id. A tag name ("A", "img"): every element
    // with that tag. An object kind: "document", "collection", "frames", "window", "element",
    // "style", "selection", "range".
    std::wstring Where;
    std::wstring PageUrl; // empty: objects of every page; otherwise only of the page with this URL
};

struct TStyleWrite {
    std::wstring PageUrl;
    std::wstring Tag;             // upper case
    std::size_t ElementIndex = 0; // position of the element in its page's `all`
    std::wstring Id;
    std::wstring Member; // textDecoration, fontWeight, color, backgroundColor
    std::wstring Value;
};

struct TDrawCall {
    DWORD Aspect = 0;
    LONG Index = 0;
    bool HasAspectData = false;
    bool HasTargetDevice = false;
    HDC TargetDC = nullptr;
    HDC DrawDC = nullptr;
    RECT Bounds{};
    bool HasWindowBounds = false;
    bool HasContinue = false;
};

// Knobs and records shared by a test document and the documents of its frames; one per test.
class TTestDom {
public:
    // Frame pages by absolute URL (the FRAME/IFRAME src resolved against its page); a frame whose
    // URL is not here shows an empty page.
    std::vector<TTestPage> FramePages;
    // Frame URLs whose `document` read fails with E_ACCESSDENIED (a page from another site).
    std::vector<std::wstring> RefusedFrames;
    std::vector<TInjectedFailure> Failures;
    std::wstring Charset; // empty: the page's meta charset, else "utf-8"
    std::wstring SelectionAttribute = L"data-selected";
    bool Scripting = true; // false: NOSCRIPT content is parsed as markup
    HWND Window = nullptr; // IOleWindow::GetWindow; nullptr: E_FAIL
    // IViewObject::Draw paints with this into the DC and bounds; empty: DefaultViewPixel pattern.
    std::function<HRESULT(HDC, const RECT&)> Painter;
    // Every object answers identifiers of its own for the same member name, and refuses another
    // object's identifier with DISP_E_MEMBERNOTFOUND (as objects whose members are added at run time
    // may); false: an identifier names the same member on every object, as MSHTML's elements do.
    bool DistinctDispIds = false;
    // Interfaces the documents refuse with E_NOINTERFACE: IID_IViewObject, IID_IOleWindow, or
    // IID_IHTMLDocument and IID_IHTMLDocument2 for a document that is not HTML. IUnknown and
    // IDispatch are always answered.
    std::vector<IID> RefusedInterfaces;

    // Records.
    long GetIDsOfNamesCalls = 0;
    long InvokeCalls = 0;
    long InterfaceCalls = 0; // calls through IHTMLDocument2 and the typed collection interfaces
    std::map<std::wstring, long> InvokesByMember; // keyed by the member's own spelling ("innerText")
    std::vector<TStyleWrite> StyleWrites;
    std::vector<TDrawCall> DrawCalls;

    long LateBoundCalls() const { return GetIDsOfNamesCalls + InvokeCalls; }
    long Invokes(std::wstring_view member) const;
    void ResetRecords();
};

// The colour the default painter gives the pixel (x, y) of bounds of width × height: red grows
// from left to right, green from top to bottom, blue alternates in 8-pixel squares.
COLORREF DefaultViewPixel(int x, int y, int width, int height);

// Loads `page` into a new document of the test model.
Microsoft::WRL::ComPtr<IHTMLDocument2> LoadTestDocument(std::shared_ptr<TTestDom> dom, const TTestPage& page);
// The same with text and URL given directly.
Microsoft::WRL::ComPtr<IHTMLDocument2>
LoadTestDocument(std::shared_ptr<TTestDom> dom, std::string html,
                 std::wstring url = L"http://example.test/dir/page.html");

// Live objects of the test model (documents, collections, elements, styles, ranges, windows).
long LiveTestDomObjects();

// Windows path of a page in the fixture directory (pages/ of ZORBEX_FIXTURE_DIR, which CMake defines).
std::wstring FixturePagePath(std::wstring_view fileName);

} // namespace zorbex::test
