// Link walking: collects the link targets of a page (A and AREA elements of the document and of its
// frames, one level deep), the link of one element, and the image sources of a page; the URL filter
// shared with link highlighting; the wide-string list and the variant string array in which the
// gathered lists travel to the Keptor application.
//
// URLs stay wide strings from the page to the application. Two URLs are the same "ignoring case"
// when their invariant upper-case forms (LCMapStringEx, LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE: the
// simple one-to-one case mapping of Unicode, the same on every system locale) are equal code unit by
// code unit. The same folding decides the excluded schemes and the host-process test.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "com/ComSupportUnit.h"
#include "com/LateBindUnit.h"

namespace zorbex {

// An ordered list of wide strings.
class TWideStringList {
public:
    void Add(std::wstring text) { Items.push_back(std::move(text)); }
    const std::wstring& Get(std::size_t index) const { return Items.at(index); }
    std::size_t Count() const { return Items.size(); }
    bool Empty() const { return Items.empty(); }
    void Clear() { Items.clear(); }

    std::vector<std::wstring>::const_iterator begin() const { return Items.begin(); }
    std::vector<std::wstring>::const_iterator end() const { return Items.end(); }

private:
    std::vector<std::wstring> Items;
};

// The variant string array of a list: VT_ARRAY | VT_VARIANT, one dimension, bounds 0 to N-1, each element
// a VT_BSTR variant; an empty list gives an empty array of the same shape.
TVariant MakeVariantStringArray(const TWideStringList& list);

// The invariant upper-case form of a text (a URL, a path), the key of every comparison ignoring case.
std::wstring FoldCase(std::wstring_view text);
// Whether two URLs are equal ignoring case.
bool SameURL(std::wstring_view a, std::wstring_view b);

// The URLs met so far in one walk, compared ignoring case; the first occurrence wins. A sorted set of the
// folded forms: O(log n) a test, whatever the URLs.
class TURLSeenSet {
public:
    // True when the URL was not there yet (it is added); false for a repeat.
    bool Insert(std::wstring_view url) { return Folded.insert(FoldCase(url)).second; }
    std::size_t Count() const { return Folded.size(); }

private:
    std::set<std::wstring> Folded;
};

// False when the URL begins, ignoring case, with "javascript" or "mailto" (with or without the colon);
// true otherwise, also for the empty string.
bool IsAllowedURL(std::wstring_view url);
// The link filter of every gathering and of highlighting: the URL cut before its first "#" into
// `normalized`, and whether the cut URL is allowed (normalized is then empty when it is not).
bool NormalizeLinkURL(std::wstring_view url, std::wstring& normalized);
// The same as a value: the empty string when the cut URL is not allowed.
std::wstring NormalizeLinkURL(std::wstring_view url);

// Every distinct allowed link target of the document's A elements (their innerText as text), then of
// its AREA elements (their alt), then the same for each frame of the document when includeFrames is set;
// only the links inside the user's selection when selectionOnly is set. texts and urls are cleared and
// filled with entries of the same index belonging together. False when an error outside the guarded
// parts of the walk ended it (the lists are left as they were then).
bool GetLinks(const VARIANT& document, bool includeFrames, bool selectionOnly, TWideStringList& texts,
              TWideStringList& urls);

// The link the element belongs to (an anchor or area, the anchor around an image or text). True when a
// URL was found and it is allowed; the out values keep whatever was read, also on false.
bool GetElementLinkInfo(const VARIANT& element, std::wstring& text, std::wstring& url);

// The distinct src values of the IMG elements of the document (and its frames), in discovery order.
// False when an error outside the guarded parts ended the walk (the list is left as it was then).
bool GetImageSources(const VARIANT& document, bool includeFrames, bool selectionOnly,
                     TWideStringList& sources);

// The member identifiers one pass over a page keeps, a cache for each kind of object it reads (see
// TMemberIds): the name lookups of a pass stay a handful whatever the number of links.
struct TPageMembers {
    TMemberIds Documents;
    TMemberIds Collections; // element collections (all, tags(...))
    TMemberIds Frames;      // frames collections
    TMemberIds Windows;
    TMemberIds Selections;
    TMemberIds Ranges;
    TMemberIds Styles;
    TMemberIds Anchors;  // A elements
    TMemberIds Areas;    // AREA elements
    TMemberIds Images;   // IMG elements
    TMemberIds Elements; // other elements: text containers, parents
};

// Page object-model helpers shared with link highlighting (late-bound; they raise on failure).
// The element collection of one tag: `tags(tag)` on a document's `all`.
Microsoft::WRL::ComPtr<IDispatch> GetTagCollection(TPageMembers& members, IDispatch* all, const wchar_t* tag);
// One element of a collection by position: `item(index, <omitted>)`; null past the end.
Microsoft::WRL::ComPtr<IDispatch> GetCollectionItem(TPageMembers& members, IDispatch* collection, long index);
// The document shown in frame `index` of a frames collection: `item(index).window.document`.
Microsoft::WRL::ComPtr<IDispatch> GetFrameDocument(TPageMembers& members, IDispatch* frames, long index);
// The one frame walk (one level deep, as the browser helper has always gone): calls visit(document)
// for the document of each frame of `top`, each frame in a guarded block of its own, so that a frame
// whose document cannot be reached (another site's page) is skipped. Reading the frames collection and
// its length is not guarded: the caller decides what an unreadable collection means.
void ForEachFrameDocument(TPageMembers& members, IDispatch* top,
                          const std::function<void(IDispatch* document)>& visit);

// Whether the host process is the browser (its executable's path contains "IExplore.exe").
bool IsHostBrowserProcess();

} // namespace zorbex
