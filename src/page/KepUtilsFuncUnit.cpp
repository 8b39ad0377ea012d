// Page operations: link and banner lists for the Keptor application, and link highlighting. Everything
// that reads the page goes through the shared walks of LinkWalkUnit (frames, link filter) and late binding,
// since the page's objects are the browser's and answer IDispatch only; the server is asked once per
// operation (one list, one GetLinkStates for the whole page and its frames).
#include "page/KepUtilsFuncUnit.h"

#include "com/ErrorsUnit.h"
#include "com/FormatUnit.h"
#include "com/LateBindUnit.h"
#include "page/LinkWalkUnit.h"
#include "server/ServerWrapperUnit.h"

#include <mshtml.h>
#include <wrl/client.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cwchar>
#include <iterator>
#include <optional>

using Microsoft::WRL::ComPtr;

namespace zorbex {
namespace {

constexpr wchar_t kNoSelection[] = L"None";

// The `type` of the document's selection ("None" when nothing is selected).
std::wstring SelectionType(const VARIANT& document) {
    ComPtr<IDispatch> selection = GetObjectProperty(AsDispatch(document).Get(), L"selection");
    return GetStringProperty(selection.Get(), L"type");
}

// --- Link states ---------------------------------------------------------------------------------------

// The integer a variant holds, when it holds one exactly.
std::optional<LONG> ExactInteger(const VARIANT& value) {
    const VARIANT* source = &value;
    TVariant direct;
    if (V_VT(source) & VT_BYREF) {
        if (FAILED(::VariantCopyInd(direct.Ptr(), const_cast<VARIANT*>(source))))
            return std::nullopt;
        source = &direct.Get();
    }
    switch (V_VT(source)) {
    case VT_I1:
        return V_I1(source);
    case VT_UI1:
        return V_UI1(source);
    case VT_I2:
        return V_I2(source);
    case VT_UI2:
        return V_UI2(source);
    case VT_I4:
        return V_I4(source);
    case VT_INT:
        return V_INT(source);
    case VT_UI4:
        return V_UI4(source) <= static_cast<ULONG>(LONG_MAX) ? std::optional<LONG>(V_UI4(source))
                                                             : std::nullopt;
    case VT_UINT:
        return V_UINT(source) <= static_cast<UINT>(LONG_MAX) ? std::optional<LONG>(V_UINT(source))
                                                             : std::nullopt;
    case VT_I8:
        return V_I8(source) >= LONG_MIN && V_I8(source) <= LONG_MAX ? std::optional<LONG>(V_I8(source))
                                                                    : std::nullopt;
    case VT_UI8:
        return V_UI8(source) <= static_cast<ULONGLONG>(LONG_MAX) ? std::optional<LONG>(V_UI8(source))
                                                                 : std::nullopt;
    case VT_R4:
    case VT_R8: {
        const double number = V_VT(source) == VT_R4 ? V_R4(source) : V_R8(source);
        if (!std::isfinite(number) || number != std::trunc(number) || number < LONG_MIN || number > LONG_MAX)
            return std::nullopt;
        return static_cast<LONG>(number);
    }
    default:
        return std::nullopt;
    }
}

// A variant array of `count` empty variants, bounds 0 to count-1: the state array GetLinkStates fills.
TVariant MakeStateArray(std::size_t count) {
    TSafeArray array(::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count)));
    if (!array.Get())
        RaiseComError(E_OUTOFMEMORY);
    TVariant result;
    V_VT(result.Ptr()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(result.Ptr()) = array.Release();
    return result;
}

// --- Styles --------------------------------------------------------------------------------------------

// A style property as text; an empty or null value reads as the empty string.
std::wstring StyleText(TMemberIds& styles, IDispatch* style, const wchar_t* name) {
    TVariant value = styles.Get(style, name);
    if (value.Type() == VT_EMPTY || value.Type() == VT_NULL)
        return std::wstring();
    return AsString(value.Get());
}

void PutStyleText(TMemberIds& styles, IDispatch* style, const wchar_t* name, const std::wstring& text) {
    TVariant value{std::wstring_view(text)};
    styles.Put(style, name, value.Get());
}

// A colour as the page takes it: RRGGBB in upper-case hexadecimal without "#"; empty for -1.
std::wstring StyleColor(LONG color) {
    if (color == -1)
        return std::wstring();
    return HexText(static_cast<unsigned long>(color) & 0xFFFFFFUL, 6);
}

// What a pass reads and writes: the colour and background are written whatever they were (the page may
// have changed them since the last pass), decoration and weight only when they differ.
void ApplyHighlight(TMemberIds& styles, IDispatch* style, const THighlightStyle& highlight) {
    if (StyleText(styles, style, L"textDecoration") != highlight.Decoration)
        PutStyleText(styles, style, L"textDecoration", highlight.Decoration);
    if (StyleText(styles, style, L"fontWeight") != highlight.Weight)
        PutStyleText(styles, style, L"fontWeight", highlight.Weight);
    PutStyleText(styles, style, L"color", StyleColor(highlight.TextColor));
    PutStyleText(styles, style, L"backgroundColor", StyleColor(highlight.BackColor));
}

void RemoveHighlight(TMemberIds& styles, IDispatch* style) {
    for (const wchar_t* name : {L"textDecoration", L"fontWeight", L"color", L"backgroundColor"})
        if (!StyleText(styles, style, name).empty())
            PutStyleText(styles, style, name, std::wstring());
}

// Adds an item for every A element of a document's `all` with a non-empty normalized URL; with
// pageURL, links to the page itself are left out.
void CollectAnchors(TPageMembers& members, IDispatch* all, const std::wstring* pageURL, TDocItems& items) {
    ComPtr<IDispatch> anchors = GetTagCollection(members, all, L"A");
    const long length = members.Collections.GetInteger(anchors.Get(), L"length");
    for (long index = 0; index < length; ++index) {
        ComPtr<IDispatch> element = GetCollectionItem(members, anchors.Get(), index);
        std::wstring url = NormalizeLinkURL(members.Anchors.GetString(element.Get(), L"href"));
        if (url.empty() || (pageURL && SameURL(url, *pageURL)))
            continue;
        TDocItem& item = items.emplace_back();
        TVariant elementValue(element.Get());
        item.SetElement(elementValue.Get());
        item.SetURL(std::move(url));
    }
}

} // namespace

TVariant ArgumentCopy(const VARIANT& argument) {
    TVariant copy;
    OleCheck(::VariantCopyInd(copy.Ptr(), const_cast<VARIANT*>(&argument)));
    return copy;
}

// --- Link gathering ------------------------------------------------------------------------------------

void OpenLinks(const VARIANT& ADocument, LONG AOnlySel) {
    TWideStringList texts, urls;
    if (!GetLinks(ADocument, true, AOnlySel > 0, texts, urls) || urls.Empty())
        return;
    TVariant urlArray = MakeVariantStringArray(urls);
    TVariant textArray = MakeVariantStringArray(texts);
    ComPtr<IGUIServer> server = GetRunningServer();
    if (!server)
        return;
    TBStr reserved{std::wstring_view(L"")};
    OleCheck(server->OpenLinkList(urlArray.Get(), textArray.Get(), reserved.Get(),
                                  IsHostBrowserProcess() ? VARIANT_FALSE : VARIANT_TRUE));
}

void AddLinks(const VARIANT& ADocument, VARIANT_BOOL ASelected, const VARIANT& AElement) {
    TWideStringList texts, urls;
    if (ASelected == VARIANT_FALSE) {
        if (!GetLinks(ADocument, true, false, texts, urls))
            return;
    } else if (SelectionType(ADocument) != kNoSelection) {
        if (!GetLinks(ADocument, true, true, texts, urls))
            return;
    } else {
        std::wstring text, url;
        if (!GetElementLinkInfo(AElement, text, url) || url.empty())
            return;
        texts.Add(std::move(text));
        urls.Add(std::move(url));
    }
    if (urls.Empty())
        return;
    TVariant urlArray = MakeVariantStringArray(urls);
    TVariant textArray = MakeVariantStringArray(texts);
    ComPtr<IDispatch> document = AsDispatch(ADocument);
    TBStr documentURL{GetStringProperty(document.Get(), L"Url")};
    TBStr charset{GetStringProperty(document.Get(), L"charset")};
    ComPtr<IGUIServer> server = GetRunningServer();
    if (!server)
        return;
    OleCheck(server->AddLinkList(urlArray.Get(), textArray.Get(), documentURL.Get(), charset.Get()));
}

void AddBanners(const VARIANT& ADocument, const VARIANT& AElement) {
    TWideStringList sources;
    if (SelectionType(ADocument) != kNoSelection) {
        if (!GetImageSources(ADocument, true, true, sources))
            return;
    } else {
        std::wstring source;
        if (!Guarded([&] { source = GetStringProperty(AsDispatch(AElement).Get(), L"src"); }))
            return;
        sources.Add(std::move(source));
    }
    if (sources.Empty())
        return;
    TVariant sourceArray = MakeVariantStringArray(sources);
    ComPtr<IGUIServer> server = GetRunningServer();
    if (!server)
        return;
    OleCheck(server->AddBannerList(sourceArray.Get()));
}

// --- Link highlighting ---------------------------------------------------------------------------------

LONG SwapRedBlue(LONG color) {
    const COLORREF rgb = color < 0 ? ::GetSysColor(color & 0xFF) : static_cast<COLORREF>(color);
    return static_cast<LONG>(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
}

void GetHighlightStyle(ULONG browserId, IGUIServer* server, THighlightStyle& style) {
    if (!server)
        RaiseComError(E_POINTER);
    VARIANT_BOOL enabled = VARIANT_FALSE, markSaved = VARIANT_FALSE, defaultBack = VARIANT_FALSE,
                 defaultText = VARIANT_FALSE, bold = VARIANT_FALSE;
    LONG backColor = 0, textColor = 0, decoration = -1;
    OleCheck(server->GetHighlightSettings(static_cast<LONG>(browserId), &enabled, &markSaved, &defaultBack,
                                          &backColor, &defaultText, &textColor, &bold, &decoration));
    style.Enabled = enabled != VARIANT_FALSE;
    if (!style.Enabled)
        return;
    style.MarkSaved = markSaved != VARIANT_FALSE;
    style.BackColor = defaultBack != VARIANT_FALSE ? -1 : SwapRedBlue(backColor);
    style.TextColor = defaultText != VARIANT_FALSE ? -1 : SwapRedBlue(textColor);
    style.Weight = bold != VARIANT_FALSE ? L"bold" : L"";
    static constexpr const wchar_t* kDecorations[] = {L"none", L"overline", L"line-through", L"underline"};
    if (decoration >= 0 && decoration < static_cast<LONG>(std::size(kDecorations)))
        style.Decoration = kDecorations[decoration];
}

TLinkStateArray::TLinkStateArray(const VARIANT& answer, std::size_t expected) {
    const VARIANT* value = &answer;
    if (V_VT(value) == (VT_BYREF | VT_VARIANT)) {
        value = V_VARIANTREF(value);
        if (!value)
            return;
    }
    const VARTYPE type = V_VT(value);
    if (!(type & VT_ARRAY))
        return;
    SAFEARRAY* array =
        (type & VT_BYREF) ? (V_ARRAYREF(value) ? *V_ARRAYREF(value) : nullptr) : V_ARRAY(value);
    VARTYPE elementType = VT_EMPTY;
    if (!array || ::SafeArrayGetDim(array) != 1 || FAILED(::SafeArrayGetVartype(array, &elementType)) ||
        elementType != (type & VT_TYPEMASK))
        return;
    const std::size_t count = std::min<std::size_t>(SafeArrayLength(array), expected);
    if (count == 0)
        return;
    if (elementType == VT_I4 && ::SafeArrayGetElemsize(array) == sizeof(LONG)) {
        TSafeArrayAccess<LONG> data(array);
        if (!data)
            return;
        States.assign(data.Get(), data.Get() + count);
    } else if (elementType == VT_VARIANT && ::SafeArrayGetElemsize(array) == sizeof(VARIANT)) {
        TSafeArrayAccess<VARIANT> data(array);
        if (!data)
            return;
        States.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            States.push_back(ExactInteger(data.Get()[i]));
    }
}

void HighlightDocument(ULONG WB_ID, IUnknown* Unk, IUnknown* Srv) {
    ComPtr<IGUIServer> server;
    if (Srv)
        OleCheck(Srv->QueryInterface(IID_PPV_ARGS(&server)));
    ComPtr<IHTMLDocument2> document;
    if (Unk)
        OleCheck(Unk->QueryInterface(IID_PPV_ARGS(&document)));
    if (!document)
        return;

    THighlightStyle style;
    if (server) {
        GetHighlightStyle(WB_ID, server.Get(), style);
        if (!style.Enabled)
            server.Reset();
    }

    std::wstring pageURL;
    {
        TBStr url;
        if (SUCCEEDED(document->get_URL(url.Receive())))
            pageURL = url.Str();
    }
    pageURL = NormalizeLinkURL(pageURL);

    TDocItems items;
    TPageMembers members;
    ComPtr<IHTMLElementCollection> all;
    OleCheck(document->get_all(&all));
    CollectAnchors(members, all.Get(), &pageURL, items);

    // A frame whose document cannot be reached (another site's page) keeps its links as they are.
    ForEachFrameDocument(members, document.Get(), [&](IDispatch* frameDocument) {
        CollectAnchors(members, members.Documents.GetObject(frameDocument, L"all").Get(), nullptr, items);
    });

    TLinkStateArray states;
    if (server) {
        TWideStringList urls;
        for (const TDocItem& item : items)
            urls.Add(item.URL());
        TVariant urlArray = MakeVariantStringArray(urls);
        TVariant stateArray = MakeStateArray(items.size());
        OleCheck(server->GetLinkStates(urlArray.Get(), stateArray.Ptr()));
        states = TLinkStateArray(stateArray.Get(), items.size());
    }

    for (std::size_t i = 0; i < items.size(); ++i) {
        TVariant element = items[i].TakeElement();
        ComPtr<IDispatch> styleObject = members.Anchors.GetObject(AsDispatch(element.Get()).Get(), L"style");
        bool apply = false;
        if (server) {
            // A missing or unreadable state is neither "held" nor "not held".
            const std::optional<LONG> state = states.State(i);
            apply = state && ((*state == -1 && !style.MarkSaved) || (*state >= 0 && style.MarkSaved));
        }
        if (apply)
            ApplyHighlight(members.Styles, styleObject.Get(), style);
        else
            RemoveHighlight(members.Styles, styleObject.Get());
    }
}

} // namespace zorbex
