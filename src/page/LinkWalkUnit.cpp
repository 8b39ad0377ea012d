// Link walking: the gathering routines over the page's object model (all by late-bound name), the
// URL filter and the variant string array. Each walk guards the parts a broken page element may fail in
// (one element, one tag collection, one frame) so that one bad part costs only itself, and gathers into
// an ordered list with a seen set, so that the first occurrence wins in O(n log n).
#include "page/LinkWalkUnit.h"

#include "com/ErrorsUnit.h"
#include "com/LateBindUnit.h"

#include <wrl/client.h>

#include <climits>
#include <cwchar>
#include <iterator>
#include <new>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace zorbex {
namespace {

// The tags whose elements carry links; the position decides where the link text comes from.
constexpr const wchar_t* kLinkTags[] = {L"A", L"AREA"};
constexpr const wchar_t* kLinkTextMembers[] = {L"innerText", L"alt"};
// Schemes whose links are never collected, in their folded (upper-case) form.
constexpr std::wstring_view kExcludedSchemes[] = {L"JAVASCRIPT", L"MAILTO"};

std::wstring AsciiUpper(std::wstring_view text) {
    std::wstring result(text);
    for (wchar_t& c : result)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    return result;
}

// The user's selection in a document as a text range.
ComPtr<IDispatch> SelectionRange(TPageMembers& members, IDispatch* document) {
    ComPtr<IDispatch> selection = members.Documents.GetObject(document, L"selection");
    return AsDispatch(members.Selections.Call(selection.Get(), L"createRange").Get());
}

// Whether the element (read through `elements`, the cache of its kind) lies inside the selection range;
// false for an element outside any text container.
bool InSelection(TPageMembers& members, TMemberIds& elements, IDispatch* selectionRange, IDispatch* element) {
    ComPtr<IDispatch> textEdit = elements.GetObject(element, L"parentTextEdit");
    if (!textEdit)
        return false;
    ComPtr<IDispatch> elementRange = AsDispatch(members.Elements.Call(textEdit.Get(), L"createTextRange").Get());
    TVariant elementArg(element);
    members.Ranges.Call(elementRange.Get(), L"moveToElementText", {&elementArg.Get()});
    TVariant rangeArg(elementRange.Get());
    return AsBoolean(members.Ranges.Call(selectionRange, L"inRange", {&rangeArg.Get()}).Get());
}

// --- Links ---------------------------------------------------------------------------------------------

struct TLinkEntry {
    std::wstring URL;
    std::wstring Text;
};

class TLinkWalk {
public:
    std::vector<TLinkEntry> Results; // in discovery order
    TURLSeenSet Seen;
    TPageMembers Members;

    // Collects the links of one document: its A elements, then its AREA elements. selectionOnly: only
    // those inside the document's own selection. The per-tag and per-element parts are guarded; reading
    // the selection and `all` is not (the caller decides).
    void ScanDocument(IDispatch* document, bool selectionOnly) {
        ComPtr<IDispatch> range;
        if (selectionOnly)
            range = SelectionRange(Members, document);
        ComPtr<IDispatch> all = Members.Documents.GetObject(document, L"all");
        for (std::size_t position = 0; position < std::size(kLinkTags); ++position) {
            TMemberIds& elements = position == 0 ? Members.Anchors : Members.Areas;
            Guarded([&] {
                ComPtr<IDispatch> collection = GetTagCollection(Members, all.Get(), kLinkTags[position]);
                const long length = Members.Collections.GetInteger(collection.Get(), L"length");
                for (long index = 0; index < length; ++index) {
                    Guarded([&] {
                        ComPtr<IDispatch> element = GetCollectionItem(Members, collection.Get(), index);
                        if (selectionOnly && !InSelection(Members, elements, range.Get(), element.Get()))
                            return;
                        Accept(elements, element.Get(), position);
                    });
                }
            });
        }
    }

private:
    void Accept(TMemberIds& elements, IDispatch* element, std::size_t position) {
        std::wstring url;
        if (!NormalizeLinkURL(elements.GetString(element, L"href"), url) || !Seen.Insert(url))
            return;
        Results.push_back({std::move(url), {}});
        // The entry stays even when its text cannot be read: the link itself was readable.
        Results.back().Text = elements.GetString(element, kLinkTextMembers[position]);
    }
};

// --- Images --------------------------------------------------------------------------------------------

class TImageWalk {
public:
    std::vector<std::wstring> Results;
    TURLSeenSet Seen;
    TPageMembers Members;

    // Collects the image sources of one document. Only reading an element's src and the list update are
    // guarded; any other error ends the scan (and, in the top document, the walk).
    void ScanDocument(IDispatch* document, bool selectionOnly) {
        ComPtr<IDispatch> range;
        if (selectionOnly)
            range = SelectionRange(Members, document);
        ComPtr<IDispatch> all = Members.Documents.GetObject(document, L"all");
        ComPtr<IDispatch> collection = GetTagCollection(Members, all.Get(), L"IMG");
        const long length = Members.Collections.GetInteger(collection.Get(), L"length");
        for (long index = 0; index < length; ++index) {
            ComPtr<IDispatch> element = GetCollectionItem(Members, collection.Get(), index);
            if (selectionOnly && !InSelection(Members, Members.Images, range.Get(), element.Get()))
                continue;
            Guarded([&] {
                std::wstring source = Members.Images.GetString(element.Get(), L"src");
                if (Seen.Insert(source))
                    Results.push_back(std::move(source));
            });
        }
    }
};

} // namespace

// --- Object-model helpers ------------------------------------------------------------------------------

ComPtr<IDispatch> GetCollectionItem(TPageMembers& members, IDispatch* collection, long index) {
    TVariant position(index);
    TVariant omitted = TVariant::Omitted();
    return AsDispatch(members.Collections.Call(collection, L"item", {&position.Get(), &omitted.Get()}).Get());
}

ComPtr<IDispatch> GetTagCollection(TPageMembers& members, IDispatch* all, const wchar_t* tag) {
    TVariant name{std::wstring_view(tag)};
    return AsDispatch(members.Collections.Call(all, L"tags", {&name.Get()}).Get());
}

ComPtr<IDispatch> GetFrameDocument(TPageMembers& members, IDispatch* frames, long index) {
    TVariant position(index);
    ComPtr<IDispatch> frame = AsDispatch(members.Frames.Call(frames, L"item", {&position.Get()}).Get());
    ComPtr<IDispatch> window = members.Windows.GetObject(frame.Get(), L"window");
    return members.Windows.GetObject(window.Get(), L"document");
}

void ForEachFrameDocument(TPageMembers& members, IDispatch* top,
                          const std::function<void(IDispatch* document)>& visit) {
    ComPtr<IDispatch> frames = members.Documents.GetObject(top, L"frames");
    const long count = members.Frames.GetInteger(frames.Get(), L"length");
    for (long index = 0; index < count; ++index)
        Guarded([&] { visit(GetFrameDocument(members, frames.Get(), index).Get()); });
}

namespace {

template <typename TWalk> void ScanFrames(IDispatch* top, bool selectionOnly, TWalk& walk) {
    ForEachFrameDocument(walk.Members, top,
                         [&](IDispatch* document) { walk.ScanDocument(document, selectionOnly); });
}

} // namespace

// --- Strings -------------------------------------------------------------------------------------------

std::wstring FoldCase(std::wstring_view text) {
    if (text.empty())
        return std::wstring();
    if (text.size() > static_cast<std::size_t>(INT_MAX))
        throw std::bad_alloc();
    const int length = static_cast<int>(text.size());
    // The simple case mapping keeps the length; ask for the size anyway should it ever differ.
    std::wstring result(text.size(), L'\0');
    int written = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), length, result.data(),
                                  length, nullptr, nullptr, 0);
    if (written <= 0) {
        const int needed = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), length,
                                           nullptr, 0, nullptr, nullptr, 0);
        if (needed <= 0)
            return AsciiUpper(text); // the system cannot map: ASCII letters at least compare as intended
        result.assign(static_cast<std::size_t>(needed), L'\0');
        written = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), length, result.data(),
                                  needed, nullptr, nullptr, 0);
        if (written <= 0)
            return AsciiUpper(text);
    }
    result.resize(static_cast<std::size_t>(written));
    return result;
}

bool SameURL(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && FoldCase(a) == FoldCase(b);
}

bool IsAllowedURL(std::wstring_view url) {
    for (std::wstring_view scheme : kExcludedSchemes)
        if (url.size() >= scheme.size() && FoldCase(url.substr(0, scheme.size())) == scheme)
            return false;
    return true;
}

bool NormalizeLinkURL(std::wstring_view url, std::wstring& normalized) {
    url = url.substr(0, url.find(L'#'));
    const bool allowed = IsAllowedURL(url);
    normalized.assign(allowed ? url : std::wstring_view());
    return allowed;
}

std::wstring NormalizeLinkURL(std::wstring_view url) {
    std::wstring normalized;
    NormalizeLinkURL(url, normalized);
    return normalized;
}

TVariant MakeVariantStringArray(const TWideStringList& list) {
    if (list.Count() > static_cast<std::size_t>(LONG_MAX))
        throw std::bad_alloc();
    TSafeArray array(::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(list.Count())));
    if (!array.Get())
        RaiseComError(E_OUTOFMEMORY);
    if (!list.Empty()) {
        TSafeArrayAccess<VARIANT> data(array.Get());
        if (!data)
            RaiseComError(E_UNEXPECTED);
        for (std::size_t i = 0; i < list.Count(); ++i) {
            TBStr text{std::wstring_view(list.Get(i))};
            if (!text.Get())
                throw std::bad_alloc();
            V_VT(&data.Get()[i]) = VT_BSTR; // the array owns it from here on
            V_BSTR(&data.Get()[i]) = text.Release();
        }
    }
    TVariant result;
    V_VT(result.Ptr()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(result.Ptr()) = array.Release();
    return result;
}

// --- Gathering -----------------------------------------------------------------------------------------

bool GetLinks(const VARIANT& document, bool includeFrames, bool selectionOnly, TWideStringList& texts,
              TWideStringList& urls) {
    return Guarded([&] {
        TLinkWalk walk;
        ComPtr<IDispatch> top = AsDispatch(document);
        // With a selection the top document is guarded as a whole, so that its frames are still scanned;
        // without one an unreadable top document ends the walk.
        if (selectionOnly)
            Guarded([&] { walk.ScanDocument(top.Get(), true); });
        else
            walk.ScanDocument(top.Get(), false);
        if (includeFrames)
            Guarded([&] { ScanFrames(top.Get(), selectionOnly, walk); });
        texts.Clear();
        urls.Clear();
        for (TLinkEntry& entry : walk.Results) {
            urls.Add(std::move(entry.URL));
            texts.Add(std::move(entry.Text));
        }
    });
}

bool GetImageSources(const VARIANT& document, bool includeFrames, bool selectionOnly,
                     TWideStringList& sources) {
    return Guarded([&] {
        TImageWalk walk;
        ComPtr<IDispatch> top = AsDispatch(document);
        walk.ScanDocument(top.Get(), selectionOnly);
        if (includeFrames)
            ScanFrames(top.Get(), selectionOnly, walk); // unreadable frames: an error, unlike GetLinks
        sources.Clear();
        for (std::wstring& source : walk.Results)
            sources.Add(std::move(source));
    });
}

bool GetElementLinkInfo(const VARIANT& element, std::wstring& text, std::wstring& url) {
    text.clear();
    url.clear();
    Guarded([&] {
        // One element and its ancestors: a cache for elements of any kind.
        TMemberIds elements;
        ComPtr<IDispatch> self = AsDispatch(element);
        const std::wstring tag = elements.GetString(self.Get(), L"tagName");
        if (tag == L"AREA") {
            url = elements.GetString(self.Get(), L"href");
            text = elements.GetString(self.Get(), L"Alt");
            return;
        }
        if (tag == L"A") {
            url = elements.GetString(self.Get(), L"href");
            text = elements.GetString(self.Get(), L"innerText");
            return;
        }
        // The nearest anchor at or above the element, or none.
        ComPtr<IDispatch> anchor = self;
        while (anchor && elements.GetString(anchor.Get(), L"tagName") != L"A")
            anchor = elements.GetObject(anchor.Get(), L"parentElement");
        const bool image = tag == L"IMG";
        IDispatch* source = anchor ? anchor.Get() : self.Get();
        url = elements.GetString(source, L"href");
        text = image ? elements.GetString(self.Get(), L"Alt") : elements.GetString(source, L"innerText");
    });
    return !url.empty() && IsAllowedURL(url);
}

bool IsHostBrowserProcess() {
    wchar_t path[MAX_PATH] = {};
    // A longer path comes back cut; a failure leaves the buffer empty.
    const std::wstring_view name(
        path, ::GetModuleFileNameW(nullptr, path, MAX_PATH) ? ::wcsnlen(path, MAX_PATH) : 0);
    return FoldCase(name).find(FoldCase(L"IExplore.exe")) != std::wstring::npos;
}

} // namespace zorbex
