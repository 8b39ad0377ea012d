// The test document object model: the COM objects (document, collections, elements, styles,
// selection, text ranges, frames and windows) served over a page tree of the HTML loader, with
// late binding by member name, injected failures, call records and the view drawing hook.
#include "support/TestDocumentUnit.h"

#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"
#include "support/HtmlLoaderUnit.h"
#include "support/EnvironmentUnit.h"

#include <oleidl.h>

#include <algorithm>
#include <iterator>

namespace zorbex::test {

using Microsoft::WRL::ComPtr;

namespace {

LONG LiveObjects = 0;

// Private interface identity that only the model's own objects answer (with their IUnknown).
const IID IID_TestDomObject = {0x5b1e7d3a, 0x4c2f, 0x4e8b, {0x9a, 0x61, 0x2d, 0x70, 0xc4, 0x13, 0x88, 0xe5}};

// ---------------------------------------------------------------------------------------------
// Members and their dispatch identifiers

enum class TMember {
    None,
    Url,
    All,
    Frames,
    Selection,
    Charset,
    Title,
    ParentWindow,
    Length,
    Item,
    Tags,
    TagName,
    Href,
    Src,
    InnerText,
    Alt,
    Id,
    ClassName,
    GetAttribute,
    ParentElement,
    ParentTextEdit,
    CreateTextRange,
    Style,
    Type,
    CreateRange,
    MoveToElementText,
    InRange,
    IsEqual,
    Document,
    Window,
    TextDecoration,
    FontWeight,
    Color,
    BackgroundColor,
    GetWindow, // IOleWindow
    Draw,      // IViewObject
    Count
};

constexpr std::wstring_view kMemberNames[] = {L"",
                                              L"URL",
                                              L"all",
                                              L"frames",
                                              L"selection",
                                              L"charset",
                                              L"title",
                                              L"parentWindow",
                                              L"length",
                                              L"item",
                                              L"tags",
                                              L"tagName",
                                              L"href",
                                              L"src",
                                              L"innerText",
                                              L"alt",
                                              L"id",
                                              L"className",
                                              L"getAttribute",
                                              L"parentElement",
                                              L"parentTextEdit",
                                              L"createTextRange",
                                              L"style",
                                              L"type",
                                              L"createRange",
                                              L"moveToElementText",
                                              L"inRange",
                                              L"isEqual",
                                              L"document",
                                              L"window",
                                              L"textDecoration",
                                              L"fontWeight",
                                              L"color",
                                              L"backgroundColor",
                                              L"GetWindow",
                                              L"Draw"};
static_assert(std::size(kMemberNames) == static_cast<std::size_t>(TMember::Count));

constexpr DISPID kFirstDispId = 1000;
// Identifiers are kFirstDispId + serial * kSerialStride + member: serial 0 for every object, or the
// object's own serial number when the objects answer identifiers of their own (TTestDom::DistinctDispIds).
constexpr DISPID kSerialStride = 64;
constexpr LONG kSerialLimit = 1 << 24;
// Late binding reaches these only; GetWindow and Draw are interface methods.
constexpr TMember kLastLateBound = TMember::BackgroundColor;
static_assert(static_cast<DISPID>(TMember::Count) < kSerialStride);

std::wstring_view MemberName(TMember member) {
    return kMemberNames[static_cast<std::size_t>(member)];
}

TMember MemberByName(std::wstring_view name) {
    for (std::size_t i = 1; i <= static_cast<std::size_t>(kLastLateBound); ++i)
        if (EqualsNoCase(kMemberNames[i], name))
            return static_cast<TMember>(i);
    return TMember::None;
}

// The member an identifier names on an object whose identifiers carry `serial`; None for an identifier
// of another object.
TMember MemberByDispId(DISPID id, LONG serial) {
    if (id <= kFirstDispId)
        return TMember::None;
    const DISPID relative = id - kFirstDispId;
    const DISPID member = relative % kSerialStride;
    if (relative / kSerialStride != serial || member > static_cast<DISPID>(kLastLateBound))
        return TMember::None;
    return static_cast<TMember>(member);
}

LONG NextSerial = 0;

[[noreturn]] void Fail(HRESULT code) {
    RaiseComError(code);
}

HRESULT CurrentCode() noexcept {
    HRESULT code = CurrentErrorInfo().Code;
    return FAILED(code) ? code : E_FAIL;
}

// Runs a COM method body: exceptions become the error's code (E_FAIL when it has none).
template <typename F> HRESULT Boundary(F&& work) noexcept {
    try {
        return work();
    } catch (...) {
        return CurrentCode();
    }
}

// ---------------------------------------------------------------------------------------------
// Arguments and results of Invoke

class TArgs {
public:
    explicit TArgs(DISPPARAMS* params) : Params(params) {}

    UINT Count() const { return Params ? Params->cArgs - Params->cNamedArgs : 0; }

    // Positional argument i, dereferenced when it is a variant passed by reference.
    const VARIANT& At(UINT i) const {
        const VARIANT& arg = Params->rgvarg[Params->cArgs - 1 - i];
        if (V_VT(&arg) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&arg))
            return *V_VARIANTREF(&arg);
        return arg;
    }

    bool Omitted(UINT i) const {
        return i >= Count() || (V_VT(&At(i)) == VT_ERROR && V_ERROR(&At(i)) == DISP_E_PARAMNOTFOUND);
    }

    // The value of a property put: the named DISPID_PROPERTYPUT argument, or the only argument.
    const VARIANT& PutValue() const {
        if (!Params || Params->cArgs == 0)
            Fail(DISP_E_PARAMNOTFOUND);
        const VARIANT& arg = Params->rgvarg[0];
        if (V_VT(&arg) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&arg))
            return *V_VARIANTREF(&arg);
        return arg;
    }

    void Expect(UINT minimum, UINT maximum) const {
        if (Count() < minimum || Count() > maximum)
            Fail(DISP_E_BADPARAMCOUNT);
    }

private:
    DISPPARAMS* Params;
};

std::wstring VariantString(const VARIANT& value) {
    if (V_VT(&value) == VT_BSTR)
        return V_BSTR(&value) ? std::wstring(V_BSTR(&value), ::SysStringLen(V_BSTR(&value))) : std::wstring();
    TVariant converted;
    if (FAILED(::VariantChangeType(converted.Ptr(), const_cast<VARIANT*>(&value), 0, VT_BSTR)))
        Fail(DISP_E_TYPEMISMATCH);
    BSTR text = V_BSTR(&converted.Get());
    return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
}

LONG VariantLong(const VARIANT& value) {
    if (V_VT(&value) == VT_I4)
        return V_I4(&value);
    TVariant converted;
    if (FAILED(::VariantChangeType(converted.Ptr(), const_cast<VARIANT*>(&value), 0, VT_I4)))
        Fail(DISP_E_TYPEMISMATCH);
    return V_I4(&converted.Get());
}

IUnknown* VariantObject(const VARIANT& value) {
    switch (V_VT(&value)) {
    case VT_DISPATCH:
        return V_DISPATCH(&value);
    case VT_UNKNOWN:
        return V_UNKNOWN(&value);
    case VT_BYREF | VT_DISPATCH:
        return V_DISPATCHREF(&value) ? *V_DISPATCHREF(&value) : nullptr;
    case VT_BYREF | VT_UNKNOWN:
        return V_UNKNOWNREF(&value) ? *V_UNKNOWNREF(&value) : nullptr;
    default:
        Fail(DISP_E_TYPEMISMATCH);
    }
}

bool IsNumber(const VARIANT& value) {
    switch (V_VT(&value) & ~VT_BYREF) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_DECIMAL:
        return true;
    default:
        return false;
    }
}

// An empty text is an empty BSTR, never a null one: the browser's object model returns "" too.
TBStr MakeBStr(std::wstring_view text) {
    TBStr value(text.empty() ? std::wstring_view(L"", 0) : text);
    if (!value.Get())
        Fail(E_OUTOFMEMORY);
    return value;
}

void ReturnString(VARIANT* result, std::wstring_view text) {
    if (!result)
        return;
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = MakeBStr(text).Release();
}

void ReturnObject(VARIANT* result, ComPtr<IDispatch> object) {
    if (!result)
        return;
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = object.Detach();
}

void ReturnLong(VARIANT* result, LONG value) {
    if (!result)
        return;
    V_VT(result) = VT_I4;
    V_I4(result) = value;
}

void ReturnBool(VARIANT* result, bool value) {
    if (!result)
        return;
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
}

HRESULT OutString(BSTR* out, std::wstring_view text) {
    if (!out)
        return E_POINTER;
    *out = MakeBStr(text).Release();
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// The page model behind the objects

class TElement;
class TStyle;
class TDocument;

enum TStyleProperty { kTextDecoration, kFontWeight, kColor, kBackgroundColor, kStylePropertyCount };

struct TElementState {
    bool StyleRead = false;
    std::wstring Style[kStylePropertyCount];
    TElement* Element = nullptr; // the live object of the element, if any (not a counted reference)
    TStyle* StyleObject = nullptr;
};

struct TPage {
    std::shared_ptr<TTestDom> Dom;
    std::wstring Url;
    std::wstring BaseUrl;
    std::wstring Charset;
    std::wstring Title;
    THtmlDocument Tree;
    std::vector<TElementState> States; // by element index
    std::vector<THtmlNode*> FrameElements;
    std::vector<std::shared_ptr<TPage>> FramePages; // by frame index, loaded on first use
    bool HasSelection = false;
    std::size_t SelectionStart = 0;
    std::size_t SelectionEnd = 0;
    TDocument* DocumentObject = nullptr; // the live document object, if any
};

std::shared_ptr<TPage> MakePage(const std::shared_ptr<TTestDom>& dom, const TTestPage& source) {
    auto page = std::make_shared<TPage>();
    page->Dom = dom;
    page->Url = source.Url;
    page->BaseUrl = source.Url;
    page->Tree = ParseHtml(source.Html, dom->Scripting);
    page->States.resize(page->Tree.Elements.size());
    bool baseSeen = false;
    bool titleSeen = false;
    for (THtmlNode* element : page->Tree.Elements) {
        const std::wstring& tag = element->Tag;
        if (tag == L"base" && !baseSeen) {
            if (const std::wstring* href = element->Attribute(L"href")) {
                page->BaseUrl = ResolveUrl(page->Url, *href);
                baseSeen = true;
            }
        } else if (tag == L"frame" || tag == L"iframe") {
            page->FrameElements.push_back(element);
        } else if (tag == L"title" && !titleSeen) {
            page->Title = InnerText(*element);
            titleSeen = true;
        } else if (tag == L"meta" && page->Charset.empty()) {
            if (const std::wstring* charset = element->Attribute(L"charset")) {
                page->Charset = AsciiLower(*charset);
            } else if (const std::wstring* content = element->Attribute(L"content")) {
                std::wstring lower = AsciiLower(*content);
                if (std::size_t at = lower.find(L"charset="); at != std::wstring::npos)
                    page->Charset = lower.substr(at + 8, lower.find_first_of(L"; \"'", at + 8) - (at + 8));
            }
        }
        if (!dom->SelectionAttribute.empty() && element->Attribute(dom->SelectionAttribute)) {
            if (!page->HasSelection)
                page->SelectionStart = element->Index;
            page->SelectionEnd = std::max(page->SelectionEnd, element->End);
            page->HasSelection = true;
        }
    }
    if (!dom->Charset.empty())
        page->Charset = dom->Charset;
    else if (page->Charset.empty())
        page->Charset = L"utf-8";
    page->FramePages.resize(page->FrameElements.size());
    return page;
}

template <std::size_t N> bool TagIn(const THtmlNode& node, const std::wstring_view (&tags)[N]) {
    return std::find(std::begin(tags), std::end(tags), node.Tag) != std::end(tags);
}

constexpr std::wstring_view kHrefTags[] = {L"a", L"area", L"link", L"base", L"img"};
constexpr std::wstring_view kSrcTags[] = {L"img",    L"input", L"script", L"frame", L"iframe", L"embed",
                                          L"source", L"track", L"audio",  L"video", L"bgsound"};
constexpr std::wstring_view kAltTags[] = {L"img", L"area", L"input", L"applet"};
constexpr std::wstring_view kTextEditTags[] = {L"body", L"button", L"input", L"textarea"};

std::wstring AttributeOr(const THtmlNode& node, std::wstring_view name) {
    const std::wstring* value = node.Attribute(name);
    return value ? *value : std::wstring();
}

// A URL attribute as the object model reports it: resolved against the page, "" when absent.
std::wstring ResolvedAttribute(const TPage& page, const THtmlNode& node, std::wstring_view name) {
    const std::wstring* value = node.Attribute(name);
    if (!value)
        return std::wstring();
    return ResolveUrl(node.Tag == L"base" ? page.Url : page.BaseUrl, *value);
}

// ---------------------------------------------------------------------------------------------
// The common base of every object of the model

bool IsGet(WORD flags) {
    return (flags & DISPATCH_PROPERTYGET) != 0;
}
bool IsPut(WORD flags) {
    return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
}
bool IsMethod(WORD flags) {
    return (flags & DISPATCH_METHOD) != 0;
}

// A read-only property: a get (a method call without arguments is taken as one, as MSHTML does).
void ExpectGet(WORD flags, const TArgs& args) {
    if (IsPut(flags) || !(IsGet(flags) || IsMethod(flags)))
        Fail(DISP_E_MEMBERNOTFOUND);
    args.Expect(0, 0);
}

void ExpectMethod(WORD flags, const TArgs& args, UINT minimum, UINT maximum) {
    if (!IsMethod(flags))
        Fail(DISP_E_MEMBERNOTFOUND);
    args.Expect(minimum, maximum);
}

class TDomObject {
public:
    explicit TDomObject(std::shared_ptr<TPage> page)
        : Page(std::move(page)), Serial(NextSerial % (kSerialLimit - 1) + 1) {
        ++NextSerial;
        ::InterlockedIncrement(&LiveObjects);
    }
    TDomObject(const TDomObject&) = delete;
    TDomObject& operator=(const TDomObject&) = delete;
    virtual ~TDomObject() { ::InterlockedDecrement(&LiveObjects); }

    const std::shared_ptr<TPage> Page;
    const LONG Serial; // 1 and up, different for objects made one after another

protected:
    TTestDom& Dom() const { return *Page->Dom; }
    // The serial number this object's identifiers carry.
    LONG IdSerial() const { return Dom().DistinctDispIds ? Serial : 0; }
    virtual std::wstring_view Kind() const = 0;
    virtual bool MatchesWhere(std::wstring_view where) const { return EqualsNoCase(where, Kind()); }

    // Raises the failure injected for `member` on this object, if any.
    void CheckFailure(TMember member) const {
        for (const TInjectedFailure& failure : Dom().Failures) {
            if (!EqualsNoCase(failure.Member, MemberName(member)))
                continue;
            if (!failure.PageUrl.empty() && !EqualsNoCase(failure.PageUrl, Page->Url))
                continue;
            if (!failure.Where.empty() && !MatchesWhere(failure.Where))
                continue;
            Fail(failure.Code);
        }
    }

    // A call through a typed interface: counted apart from late binding, failures injected alike.
    void Typed(TMember member) const {
        ++Dom().InterfaceCalls;
        CheckFailure(member);
    }
};

template <typename I> class TDomDispatch : public I, public TDomObject {
public:
    using TDomObject::TDomObject;

    IDispatch* Dispatch() { return static_cast<I*>(this); }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(I) || riid == IID_TestDomObject)
            *object = static_cast<I*>(this);
        else
            *object = QueryMore(riid);
        if (!*object)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++Refs; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG refs = --Refs;
        if (refs == 0)
            delete this;
        return refs;
    }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info)
            *info = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        ++Dom().GetIDsOfNamesCalls;
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        if (!names || !ids || count == 0)
            return E_INVALIDARG;
        TMember member = names[0] ? MemberByName(names[0]) : TMember::None;
        bool known = member != TMember::None && Has(member);
        ids[0] = known ? kFirstDispId + IdSerial() * kSerialStride + static_cast<DISPID>(member) : DISPID_UNKNOWN;
        for (UINT i = 1; i < count; ++i) // no member takes named arguments
            ids[i] = DISPID_UNKNOWN;
        return known && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT*) override {
        ++Dom().InvokeCalls;
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        TMember member = id == DISPID_VALUE ? DefaultMember() : MemberByDispId(id, IdSerial());
        if (member == TMember::None || !Has(member))
            return DISP_E_MEMBERNOTFOUND;
        ++Dom().InvokesByMember[std::wstring(MemberName(member))];
        return Boundary([&] {
            CheckFailure(member);
            TVariant value;
            Call(member, flags, TArgs(params), value.Ptr());
            if (result)
                *result = value.Release();
            return S_OK;
        });
    }

protected:
    virtual bool Has(TMember member) const = 0;
    virtual TMember DefaultMember() const { return TMember::None; }
    virtual void Call(TMember member, WORD flags, const TArgs& args, VARIANT* result) = 0;
    virtual void* QueryMore(REFIID) { return nullptr; }

private:
    ULONG Refs = 0;
};

// A new object with its first reference. (MinGW's ComPtr::Attach adds a reference of its own, so
// objects start at zero and the pointer's constructor takes the first one.)
template <typename T, typename... A> ComPtr<T> Make(A&&... arguments) {
    return ComPtr<T>(new T(std::forward<A>(arguments)...));
}

// The model object behind an interface pointer, or nullptr when it is not one of ours.
template <typename T> T* ModelObject(IUnknown* unknown) {
    if (!unknown)
        return nullptr;
    ComPtr<IUnknown> own;
    if (FAILED(unknown->QueryInterface(IID_TestDomObject, reinterpret_cast<void**>(own.GetAddressOf()))) ||
        !own)
        return nullptr;
    return dynamic_cast<T*>(own.Get()); // the caller's reference keeps the object alive
}

ComPtr<IDispatch> ElementObject(const std::shared_ptr<TPage>& page, THtmlNode* node);
ComPtr<IDispatch> DocumentObject(const std::shared_ptr<TPage>& page);

// ---------------------------------------------------------------------------------------------
// Text ranges and the selection

class TTextRange final : public TDomDispatch<IDispatch> {
public:
    TTextRange(std::shared_ptr<TPage> page, std::size_t start, std::size_t end)
        : TDomDispatch(std::move(page)), Start(start), End(end) {}

    std::size_t Start;
    std::size_t End;

protected:
    std::wstring_view Kind() const override { return L"range"; }
    bool Has(TMember member) const override {
        return member == TMember::MoveToElementText || member == TMember::InRange ||
               member == TMember::IsEqual;
    }
    void Call(TMember member, WORD flags, const TArgs& args, VARIANT* result) override {
        ExpectMethod(flags, args, 1, 1);
        if (member == TMember::MoveToElementText) {
            IUnknown* argument = VariantObject(args.At(0));
            const THtmlNode* node = ElementNode(argument);
            if (!node)
                Fail(E_INVALIDARG);
            Start = node->Index;
            End = node->End;
            return;
        }
        auto* other = ModelObject<TTextRange>(VariantObject(args.At(0)));
        if (!other)
            Fail(E_INVALIDARG);
        bool samePage = other->Page == Page;
        if (member == TMember::InRange)
            ReturnBool(result, samePage && Start <= other->Start && other->End <= End);
        else
            ReturnBool(result, samePage && Start == other->Start && End == other->End);
    }

private:
    const THtmlNode* ElementNode(IUnknown* argument) const;
};

class TSelection final : public TDomDispatch<IHTMLSelectionObject> {
public:
    using TDomDispatch::TDomDispatch;

    // IHTMLSelectionObject
    STDMETHODIMP createRange(IDispatch** range) override {
        return Boundary([&] {
            Typed(TMember::CreateRange);
            if (!range)
                return E_POINTER;
            *range = Range().Detach();
            return S_OK;
        });
    }
    STDMETHODIMP empty() override { return E_NOTIMPL; }
    STDMETHODIMP clear() override { return E_NOTIMPL; }
    STDMETHODIMP get_type(BSTR* type) override {
        return Boundary([&] {
            Typed(TMember::Type);
            return OutString(type, TypeText());
        });
    }

protected:
    std::wstring_view Kind() const override { return L"selection"; }
    bool Has(TMember member) const override {
        return member == TMember::Type || member == TMember::CreateRange;
    }
    void Call(TMember member, WORD flags, const TArgs& args, VARIANT* result) override {
        if (member == TMember::Type) {
            ExpectGet(flags, args);
            ReturnString(result, TypeText());
        } else {
            ExpectMethod(flags, args, 0, 0);
            ReturnObject(result, Range());
        }
    }

private:
    std::wstring_view TypeText() const { return Page->HasSelection ? L"Text" : L"None"; }

    ComPtr<IDispatch> Range() const {
        std::size_t start = Page->SelectionStart;
        std::size_t end = Page->SelectionEnd;
        if (!Page->HasSelection) { // a collapsed range at the start of the body
            start = Page->Tree.Body ? Page->Tree.Body->Index + 1 : 0;
            end = start;
        }
        return Make<TTextRange>(Page, start, end);
    }
};

// ---------------------------------------------------------------------------------------------
// Styles and elements

class TStyle final : public TDomDispatch<IDispatch> {
public:
    TStyle(std::shared_ptr<TPage> page, THtmlNode* node) : TDomDispatch(std::move(page)), Node(node) {
        TElementState& state = State();
        state.StyleObject = this;
        if (!state.StyleRead) {
            state.StyleRead = true;
            ReadInlineStyle(AttributeOr(*Node, L"style"), state);
        }
    }
    ~TStyle() override { State().StyleObject = nullptr; }

protected:
    std::wstring_view Kind() const override { return L"style"; }
    bool Has(TMember member) const override { return Property(member) != kStylePropertyCount; }
    void Call(TMember member, WORD flags, const TArgs& args, VARIANT* result) override {
        std::wstring& value = State().Style[Property(member)];
        if (IsPut(flags)) {
            value = VariantString(args.PutValue());
            Dom().StyleWrites.push_back({Page->Url, AsciiUpper(Node->Tag), Node->Index,
                                         AttributeOr(*Node, L"id"), std::wstring(MemberName(member)), value});
            return;
        }
        ExpectGet(flags, args);
        ReturnString(result, value);
    }

private:
    THtmlNode* Node;

    TElementState& State() const { return Page->States[Node->Index]; }

    static TStyleProperty Property(TMember member) {
        switch (member) {
        case TMember::TextDecoration:
            return kTextDecoration;
        case TMember::FontWeight:
            return kFontWeight;
        case TMember::Color:
            return kColor;
        case TMember::BackgroundColor:
            return kBackgroundColor;
        default:
            return kStylePropertyCount;
        }
    }

    static std::wstring Trim(std::wstring_view text) {
        std::size_t first = text.find_first_not_of(L" \t\r\n");
        std::size_t last = text.find_last_not_of(L" \t\r\n");
        return first == std::wstring_view::npos ? std::wstring()
                                                : std::wstring(text.substr(first, last - first + 1));
    }

    static void ReadInlineStyle(std::wstring_view style, TElementState& state) {
        constexpr std::wstring_view kCssNames[] = {L"text-decoration", L"font-weight", L"color",
                                                   L"background-color"};
        while (!style.empty()) {
            std::size_t semicolon = style.find(L';');
            std::wstring_view declaration = style.substr(0, semicolon);
            style = semicolon == std::wstring_view::npos ? std::wstring_view() : style.substr(semicolon + 1);
            std::size_t colon = declaration.find(L':');
            if (colon == std::wstring_view::npos)
                continue;
            std::wstring name = Trim(declaration.substr(0, colon));
            for (int k = 0; k < kStylePropertyCount; ++k)
                if (EqualsNoCase(name, kCssNames[k]))
                    state.Style[k] = Trim(declaration.substr(colon + 1));
        }
    }
};

class TElement final : public TDomDispatch<IDispatch> {
public:
    TElement(std::shared_ptr<TPage> page, THtmlNode* node) : TDomDispatch(std::move(page)), Node(node) {
        Page->States[Node->Index].Element = this;
    }
    ~TElement() override { Page->States[Node->Index].Element = nullptr; }

    THtmlNode* const Node;

protected:
    std::wstring_view Kind() const override { return L"element"; }
    bool MatchesWhere(std::wstring_view where) const override {
        if (where.starts_with(L'#')) {
            const std::wstring* id = Node->Attribute(L"id");
            return id && *id == where.substr(1);
        }
        return EqualsNoCase(where, Kind()) || EqualsNoCase(where, Node->Tag);
    }

    bool Has(TMember member) const override {
        switch (member) {
        case TMember::TagName:
        case TMember::InnerText:
        case TMember::Id:
        case TMember::ClassName:
        case TMember::GetAttribute:
        case TMember::ParentElement:
        case TMember::ParentTextEdit:
        case TMember::Style:
            return true;
        case TMember::Href:
            return TagIn(*Node, kHrefTags);
        case TMember::Src:
            return TagIn(*Node, kSrcTags);
        case TMember::Alt:
            return TagIn(*Node, kAltTags);
        case TMember::CreateTextRange:
            return TagIn(*Node, kTextEditTags);
        default:
            return false;
        }
    }

    void Call(TMember member, WORD flags, const TArgs& args, VARIANT* result) override {
        if (member == TMember::GetAttribute) {
            ExpectMethod(flags, args, 1, 2);
            if (const std::wstring* value = Node->Attribute(VariantString(args.At(0))))
                ReturnString(result, *value);
            else if (result)
                V_VT(result) = VT_NULL;
            return;
        }
        if (member == TMember::CreateTextRange) {
            ExpectMethod(flags, args, 0, 0);
            ReturnObject(result, Make<TTextRange>(Page, Node->Index, Node->End));
            return;
        }
        ExpectGet(flags, args);
        switch (member) {
        case TMember::TagName:
            ReturnString(result, AsciiUpper(Node->Tag));
            break;
        case TMember::InnerText:
            ReturnString(result, InnerText(*Node));
            break;
        case TMember::Id:
            ReturnString(result, AttributeOr(*Node, L"id"));
            break;
        case TMember::ClassName:
            ReturnString(result, AttributeOr(*Node, L"class"));
            break;
        case TMember::Alt:
            ReturnString(result, AttributeOr(*Node, L"alt"));
            break;
        case TMember::Href:
            ReturnString(result, ResolvedAttribute(*Page, *Node, Node->Tag == L"img" ? L"src" : L"href"));
            break;
        case TMember::Src:
            ReturnString(result, ResolvedAttribute(*Page, *Node, L"src"));
            break;
        case TMember::ParentElement:
            ReturnObject(result, Node->Parent && Node->Parent->IsElement() ? ElementObject(Page, Node->Parent)
                                                                           : ComPtr<IDispatch>());
            break;
        case TMember::ParentTextEdit: {
            THtmlNode* container = Node->Parent;
            while (container && container->IsElement() && !TagIn(*container, kTextEditTags))
                container = container->Parent;
            bool found = container && container->IsElement();
            ReturnObject(result, found ? ElementObject(Page, container) : ComPtr<IDispatch>());
            break;
        }
        case TMember::Style: {
            TStyle* style = Page->States[Node->Index].StyleObject;
            ReturnObject(result, style ? ComPtr<IDispatch>(style->Dispatch())
                                       : ComPtr<IDispatch>(Make<TStyle>(Page, Node)->Dispatch()));
            break;
        }
        default:
            Fail(DISP_E_MEMBERNOTFOUND);
        }
    }
};

const THtmlNode* TTextRange::ElementNode(IUnknown* argument) const {
    auto* element = ModelObject<TElement>(argument);
    return element && element->Page == Page ? element->Node : nullptr;
}

ComPtr<IDispatch> ElementObject(const std::shared_ptr<TPage>& page, THtmlNode* node) {
    if (TElement* element = page->States[node->Index].Element)
        return ComPtr<IDispatch>(element->Dispatch());
    return ComPtr<IDispatch>(Make<TElement>(page, node)->Dispatch());
}

// ---------------------------------------------------------------------------------------------
// Element collections

class TElementCollection final : public TDomDispatch<IHTMLElementCollection> {
public:
    TElementCollection(std::shared_ptr<TPage> page, std::vector<THtmlNode*> items)
        : TDomDispatch(std::move(page)), Items(std::move(items)) {}

    // IHTMLElementCollection
    STDMETHODIMP toString(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_length(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_length(LONG* length) override {
        return Boundary([&] {
            Typed(TMember::Length);
            if (!length)
                return E_POINTER;
            *length = static_cast<LONG>(Items.size());
            return S_OK;
        });
    }
    STDMETHODIMP get__newEnum(IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP item(VARIANT name, VARIANT index, IDispatch** result) override {
        return Boundary([&] {
            Typed(TMember::Item);
            if (!result)
                return E_POINTER;
            *result = ItemOf(name, V_VT(&index) == VT_ERROR || V_VT(&index) == VT_EMPTY ? nullptr : &index)
                          .Detach();
            return S_OK;
        });
    }
    STDMETHODIMP tags(VARIANT name, IDispatch** result) override {
        return Boundary([&] {
            Typed(TMember::Tags);
            if (!result)
                return E_POINTER;
            *result = Tags(VariantString(name)).Detach();
            return S_OK;
        });
    }

protected:
    std::wstring_view Kind() const override { return L"collection"; }
    bool Has(TMember member) const override {
        return member == TMember::Length || member == TMember::Item || member == TMember::Tags;
    }
    TMember DefaultMember() const override { return TMember::Item; }
    void Call(TMember member, WORD flags, const TArgs& args, VARIANT* result) override {
        switch (member) {
        case TMember::Length:
            ExpectGet(flags, args);
            ReturnLong(result, static_cast<LONG>(Items.size()));
            break;
        case TMember::Item: // the default member: a method call or a get with arguments
            if (IsPut(flags))
                Fail(DISP_E_MEMBERNOTFOUND);
            args.Expect(1, 2);
            ReturnObject(result, ItemOf(args.At(0), args.Omitted(1) ? nullptr : &args.At(1)));
            break;
        default:
            ExpectMethod(flags, args, 1, 1);
            ReturnObject(result, Tags(VariantString(args.At(0))));
            break;
        }
    }

private:
    std::vector<THtmlNode*> Items;

    // By position: the element, or a null object when the position is outside the collection. By
    // name (id or name attribute): the one element, a collection of several, or the index-th of them.
    ComPtr<IDispatch> ItemOf(const VARIANT& name, const VARIANT* index) const {
        if (V_VT(&name) != VT_BSTR && V_VT(&name) != (VT_BYREF | VT_BSTR)) {
            LONG position = VariantLong(name);
            if (position < 0 || static_cast<std::size_t>(position) >= Items.size())
                return nullptr;
            return ElementObject(Page, Items[static_cast<std::size_t>(position)]);
        }
        std::wstring wanted = VariantString(name);
        std::vector<THtmlNode*> found;
        for (THtmlNode* node : Items) {
            const std::wstring* id = node->Attribute(L"id");
            const std::wstring* nameAttribute = node->Attribute(L"name");
            if ((id && *id == wanted) || (nameAttribute && *nameAttribute == wanted))
                found.push_back(node);
        }
        if (index) {
            LONG position = VariantLong(*index);
            if (position < 0 || static_cast<std::size_t>(position) >= found.size())
                return nullptr;
            return ElementObject(Page, found[static_cast<std::size_t>(position)]);
        }
        if (found.empty())
            return nullptr;
        if (found.size() == 1)
            return ElementObject(Page, found.front());
        return ComPtr<IDispatch>(Make<TElementCollection>(Page, std::move(found))->Dispatch());
    }

    ComPtr<IDispatch> Tags(const std::wstring& tag) const {
        std::vector<THtmlNode*> found;
        for (THtmlNode* node : Items)
            if (EqualsNoCase(node->Tag, tag))
                found.push_back(node);
        return ComPtr<IDispatch>(Make<TElementCollection>(Page, std::move(found))->Dispatch());
    }
};

// ---------------------------------------------------------------------------------------------
// Windows and frames

std::shared_ptr<TPage> FramePage(const std::shared_ptr<TPage>& page, std::size_t frame) {
    const THtmlNode& element = *page->FrameElements[frame];
    std::wstring url = ResolvedAttribute(*page, element, L"src");
    if (url.empty())
        url = L"about:blank";
    const TTestDom& dom = *page->Dom;
    if (std::any_of(dom.RefusedFrames.begin(), dom.RefusedFrames.end(),
                    [&](const std::wstring& refused) { return EqualsNoCase(refused, url); }))
        Fail(E_ACCESSDENIED);
    std::shared_ptr<TPage>& framePage = page->FramePages[frame];
    if (!framePage) {
        auto source =
            std::find_if(dom.FramePages.begin(), dom.FramePages.end(),
                         [&](const TTestPage& candidate) { return EqualsNoCase(candidate.Url, url); });
        framePage = MakePage(page->Dom, source != dom.FramePages.end() ? *source : TTestPage{url, {}});
    }
    return framePage;
}

class TWindow final : public TDomDispatch<IDispatch> {
public:
    // frame < 0: the window of the page itself; otherwise the window of the page's frame.
    TWindow(std::shared_ptr<TPage> page, LONG frame) : TDomDispatch(std::move(page)), Frame(frame) {}

protected:
    std::wstring_view Kind() const override { return L"window"; }
    bool Has(TMember member) const override {
        return member == TMember::Document || member == TMember::Window;
    }
    void Call(TMember member, WORD flags, const TArgs& args, VARIANT* result) override {
        ExpectGet(flags, args);
        if (member == TMember::Window)
            ReturnObject(result, ComPtr<IDispatch>(Dispatch()));
        else
            ReturnObject(result,
                         DocumentObject(Frame < 0 ? Page : FramePage(Page, static_cast<std::size_t>(Frame))));
    }

private:
    LONG Frame;
};

class TFramesCollection final : public TDomDispatch<IHTMLFramesCollection2> {
public:
    using TDomDispatch::TDomDispatch;

    // IHTMLFramesCollection2
    STDMETHODIMP item(VARIANT* index, VARIANT* result) override {
        return Boundary([&] {
            Typed(TMember::Item);
            if (!index || !result)
                return E_POINTER;
            ReturnObject(result, Window(*index));
            return S_OK;
        });
    }
    STDMETHODIMP get_length(LONG* length) override {
        return Boundary([&] {
            Typed(TMember::Length);
            if (!length)
                return E_POINTER;
            *length = static_cast<LONG>(Page->FrameElements.size());
            return S_OK;
        });
    }

protected:
    std::wstring_view Kind() const override { return L"frames"; }
    bool Has(TMember member) const override { return member == TMember::Length || member == TMember::Item; }
    TMember DefaultMember() const override { return TMember::Item; }
    void Call(TMember member, WORD flags, const TArgs& args, VARIANT* result) override {
        if (member == TMember::Length) {
            ExpectGet(flags, args);
            ReturnLong(result, static_cast<LONG>(Page->FrameElements.size()));
            return;
        }
        if (IsPut(flags))
            Fail(DISP_E_MEMBERNOTFOUND);
        args.Expect(1, 1);
        ReturnObject(result, Window(args.At(0)));
    }

private:
    // The window of a frame by position or by its name or id; E_INVALIDARG for any other.
    ComPtr<IDispatch> Window(const VARIANT& index) const {
        const auto& frames = Page->FrameElements;
        if (V_VT(&index) == VT_BSTR || V_VT(&index) == (VT_BYREF | VT_BSTR)) {
            std::wstring name = VariantString(index);
            for (std::size_t i = 0; i < frames.size(); ++i)
                if (AttributeOr(*frames[i], L"name") == name || AttributeOr(*frames[i], L"id") == name)
                    return ComPtr<IDispatch>(Make<TWindow>(Page, static_cast<LONG>(i))->Dispatch());
            Fail(E_INVALIDARG);
        }
        if (!IsNumber(index))
            Fail(E_INVALIDARG);
        LONG position = VariantLong(index);
        if (position < 0 || static_cast<std::size_t>(position) >= frames.size())
            Fail(E_INVALIDARG);
        return ComPtr<IDispatch>(Make<TWindow>(Page, position)->Dispatch());
    }
};

// ---------------------------------------------------------------------------------------------
// The document

void PaintDefault(HDC dc, const RECT& bounds) {
    int width = bounds.right - bounds.left;
    int height = bounds.bottom - bounds.top;
    if (width <= 0 || height <= 0)
        return;
    const auto columns = static_cast<std::size_t>(width);
    std::vector<DWORD> bits(columns * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            COLORREF colour = DefaultViewPixel(x, y, width, height);
            bits[static_cast<std::size_t>(y) * columns + static_cast<std::size_t>(x)] =
                (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
        }
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    if (::SetDIBitsToDevice(dc, bounds.left, bounds.top, static_cast<DWORD>(width), static_cast<DWORD>(height), 0,
                            0, 0, static_cast<UINT>(height), bits.data(), &info, DIB_RGB_COLORS) == 0)
        Fail(E_FAIL);
}

class TDocument final : public TDomDispatch<IHTMLDocument2>, public IOleWindow, public IViewObject {
public:
    explicit TDocument(std::shared_ptr<TPage> page) : TDomDispatch(std::move(page)) {
        Page->DocumentObject = this;
    }
    ~TDocument() override { Page->DocumentObject = nullptr; }

    // IUnknown, one identity for all interfaces
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (object && riid != IID_IUnknown && riid != IID_IDispatch &&
            std::find(Dom().RefusedInterfaces.begin(), Dom().RefusedInterfaces.end(), riid) !=
                Dom().RefusedInterfaces.end()) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return TDomDispatch::QueryInterface(riid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return TDomDispatch::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return TDomDispatch::Release(); }

    // IHTMLDocument2: the members the page code reads
    STDMETHODIMP get_URL(BSTR* url) override {
        return Boundary([&] {
            Typed(TMember::Url);
            return OutString(url, Page->Url);
        });
    }
    STDMETHODIMP get_all(IHTMLElementCollection** all) override {
        return Boundary([&] {
            Typed(TMember::All);
            if (!all)
                return E_POINTER;
            *all = Make<TElementCollection>(Page, Page->Tree.Elements).Detach();
            return S_OK;
        });
    }
    STDMETHODIMP get_frames(IHTMLFramesCollection2** frames) override {
        return Boundary([&] {
            Typed(TMember::Frames);
            if (!frames)
                return E_POINTER;
            *frames = Make<TFramesCollection>(Page).Detach();
            return S_OK;
        });
    }
    STDMETHODIMP get_selection(IHTMLSelectionObject** selection) override {
        return Boundary([&] {
            Typed(TMember::Selection);
            if (!selection)
                return E_POINTER;
            *selection = Make<TSelection>(Page).Detach();
            return S_OK;
        });
    }
    STDMETHODIMP get_title(BSTR* title) override {
        return Boundary([&] {
            Typed(TMember::Title);
            return OutString(title, Page->Title);
        });
    }
    STDMETHODIMP get_charset(BSTR* charset) override {
        return Boundary([&] {
            Typed(TMember::Charset);
            return OutString(charset, Page->Charset);
        });
    }

    // IHTMLDocument2: not modelled
    STDMETHODIMP get_Script(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_body(IHTMLElement**) override { return E_NOTIMPL; }
    STDMETHODIMP get_activeElement(IHTMLElement**) override { return E_NOTIMPL; }
    STDMETHODIMP get_images(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP get_applets(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP get_links(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP get_forms(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP get_anchors(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP put_title(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_scripts(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP put_designMode(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_designMode(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_readyState(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_embeds(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP get_plugins(IHTMLElementCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP put_alinkColor(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_alinkColor(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_bgColor(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_bgColor(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_fgColor(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_fgColor(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_linkColor(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_linkColor(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_vlinkColor(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_vlinkColor(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP get_referrer(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_location(IHTMLLocation**) override { return E_NOTIMPL; }
    STDMETHODIMP get_lastModified(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_URL(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP put_domain(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_domain(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_cookie(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_cookie(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_expando(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_expando(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_charset(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP put_defaultCharset(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_defaultCharset(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_mimeType(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_fileSize(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_fileCreatedDate(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_fileModifiedDate(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_fileUpdatedDate(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_security(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_protocol(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_nameProp(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP write(SAFEARRAY*) override { return E_NOTIMPL; }
    STDMETHODIMP writeln(SAFEARRAY*) override { return E_NOTIMPL; }
    STDMETHODIMP open(BSTR, VARIANT, VARIANT, VARIANT, IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP close() override { return E_NOTIMPL; }
    STDMETHODIMP clear() override { return E_NOTIMPL; }
    STDMETHODIMP queryCommandSupported(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP queryCommandEnabled(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP queryCommandState(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP queryCommandIndeterm(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP queryCommandText(BSTR, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP queryCommandValue(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP execCommand(BSTR, VARIANT_BOOL, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP execCommandShowHelp(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP createElement(BSTR, IHTMLElement**) override { return E_NOTIMPL; }
    STDMETHODIMP put_onhelp(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onhelp(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onclick(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onclick(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_ondblclick(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_ondblclick(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onkeyup(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onkeyup(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onkeydown(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onkeydown(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onkeypress(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onkeypress(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onmouseup(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onmouseup(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onmousedown(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onmousedown(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onmousemove(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onmousemove(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onmouseout(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onmouseout(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onmouseover(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onmouseover(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onreadystatechange(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onreadystatechange(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onafterupdate(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onafterupdate(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onrowexit(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onrowexit(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onrowenter(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onrowenter(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_ondragstart(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_ondragstart(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onselectstart(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onselectstart(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP elementFromPoint(LONG, LONG, IHTMLElement**) override { return E_NOTIMPL; }
    STDMETHODIMP get_parentWindow(IHTMLWindow2**) override { return E_NOTIMPL; }
    STDMETHODIMP get_styleSheets(IHTMLStyleSheetsCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP put_onbeforeupdate(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onbeforeupdate(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP put_onerrorupdate(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_onerrorupdate(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP toString(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP createStyleSheet(BSTR, LONG, IHTMLStyleSheet**) override { return E_NOTIMPL; }

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* window) override {
        return Boundary([&] {
            Typed(TMember::GetWindow);
            if (!window)
                return E_POINTER;
            *window = Dom().Window;
            return Dom().Window ? S_OK : E_FAIL;
        });
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IViewObject
    STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectData, DVTARGETDEVICE* device, HDC targetDC,
                      HDC dc, LPCRECTL bounds, LPCRECTL windowBounds,
                      BOOL(STDMETHODCALLTYPE* proceed)(ULONG_PTR), ULONG_PTR) override {
        return Boundary([&] {
            TDrawCall call{aspect, index, aspectData != nullptr,   device != nullptr, targetDC,
                           dc,     {},    windowBounds != nullptr, proceed != nullptr};
            if (bounds)
                call.Bounds = {bounds->left, bounds->top, bounds->right, bounds->bottom};
            Dom().DrawCalls.push_back(call);
            Typed(TMember::Draw);
            if (!dc || !bounds)
                return E_INVALIDARG;
            if (Dom().Painter)
                return Dom().Painter(dc, call.Bounds);
            PaintDefault(dc, call.Bounds);
            return S_OK;
        });
    }
    STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unfreeze(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP SetAdvise(DWORD, DWORD, IAdviseSink*) override { return E_NOTIMPL; }
    STDMETHODIMP GetAdvise(DWORD*, DWORD*, IAdviseSink**) override { return E_NOTIMPL; }

protected:
    std::wstring_view Kind() const override { return L"document"; }
    bool Has(TMember member) const override {
        switch (member) {
        case TMember::Url:
        case TMember::All:
        case TMember::Frames:
        case TMember::Selection:
        case TMember::Charset:
        case TMember::Title:
        case TMember::ParentWindow:
            return true;
        default:
            return false;
        }
    }
    void Call(TMember member, WORD flags, const TArgs& args, VARIANT* result) override {
        ExpectGet(flags, args);
        switch (member) {
        case TMember::Url:
            ReturnString(result, Page->Url);
            break;
        case TMember::Charset:
            ReturnString(result, Page->Charset);
            break;
        case TMember::Title:
            ReturnString(result, Page->Title);
            break;
        case TMember::All:
            ReturnObject(result,
                         ComPtr<IDispatch>(Make<TElementCollection>(Page, Page->Tree.Elements)->Dispatch()));
            break;
        case TMember::Frames:
            ReturnObject(result, ComPtr<IDispatch>(Make<TFramesCollection>(Page)->Dispatch()));
            break;
        case TMember::Selection:
            ReturnObject(result, ComPtr<IDispatch>(Make<TSelection>(Page)->Dispatch()));
            break;
        default:
            ReturnObject(result, ComPtr<IDispatch>(Make<TWindow>(Page, -1)->Dispatch()));
            break;
        }
    }
    void* QueryMore(REFIID riid) override {
        if (riid == __uuidof(IHTMLDocument))
            return static_cast<IHTMLDocument2*>(this);
        if (riid == IID_IOleWindow)
            return static_cast<IOleWindow*>(this);
        if (riid == IID_IViewObject)
            return static_cast<IViewObject*>(this);
        return nullptr;
    }
};

ComPtr<IDispatch> DocumentObject(const std::shared_ptr<TPage>& page) {
    if (page->DocumentObject)
        return ComPtr<IDispatch>(page->DocumentObject->Dispatch());
    return ComPtr<IDispatch>(Make<TDocument>(page)->Dispatch());
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The test's side

TTestPage TTestPage::FromFile(const std::wstring& path, std::wstring url) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        RaiseComError(HRESULT_FROM_WIN32(::GetLastError()));
    TKernelHandle owner(file);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size))
        RaiseComError(HRESULT_FROM_WIN32(::GetLastError()));
    TTestPage page{std::move(url), std::string(static_cast<std::size_t>(size.QuadPart), '\0')};
    DWORD read = 0;
    if (!page.Html.empty() &&
        (!::ReadFile(file, page.Html.data(), static_cast<DWORD>(page.Html.size()), &read, nullptr) ||
         read != page.Html.size()))
        RaiseComError(E_FAIL);
    return page;
}

long TTestDom::Invokes(std::wstring_view member) const {
    for (const auto& [name, count] : InvokesByMember)
        if (EqualsNoCase(name, member))
            return count;
    return 0;
}

void TTestDom::ResetRecords() {
    GetIDsOfNamesCalls = InvokeCalls = InterfaceCalls = 0;
    InvokesByMember.clear();
    StyleWrites.clear();
    DrawCalls.clear();
}

COLORREF DefaultViewPixel(int x, int y, int width, int height) {
    int red = width > 1 ? x * 255 / (width - 1) : 0;
    int green = height > 1 ? y * 255 / (height - 1) : 0;
    int blue = ((x / 8 + y / 8) % 2) != 0 ? 192 : 64;
    return RGB(red, green, blue);
}

ComPtr<IHTMLDocument2> LoadTestDocument(std::shared_ptr<TTestDom> dom, const TTestPage& page) {
    if (!dom)
        dom = std::make_shared<TTestDom>();
    ComPtr<IHTMLDocument2> document;
    OleCheck(DocumentObject(MakePage(dom, page)).As(&document));
    return document;
}

ComPtr<IHTMLDocument2> LoadTestDocument(std::shared_ptr<TTestDom> dom, std::string html, std::wstring url) {
    return LoadTestDocument(std::move(dom), TTestPage{std::move(url), std::move(html)});
}

long LiveTestDomObjects() {
    return LiveObjects;
}

std::wstring FixturePagePath(std::wstring_view fileName) {
    return WindowsPath(std::string(ZORBEX_FIXTURE_DIR) + "/pages") + L"\\" + std::wstring(fileName);
}

} // namespace zorbex::test
