// Page operations of the page-utilities object: sending a page's links (all, selected, or the one under
// the mouse) and its images to the Keptor application, and highlighting the page's links by the
// archive state the application reports for their targets.
//
// Every operation raises on an error outside its guarded parts (the automation object turns that into
// its failure result) and keeps nothing between calls.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "com/ComSupportUnit.h"
#include "com/ZorbexGUI_TLB.h"

namespace zorbex {

// An automation method's own copy of a variant argument, references resolved, so that a page operation may
// keep or change it without touching what the caller passed.
TVariant ArgumentCopy(const VARIANT& argument);

// --- Link gathering ------------------------------------------------------------------------------------

// The page's links (AOnlySel > 0: those in the selection) opened by the application (OpenLinkList).
void OpenLinks(const VARIANT& ADocument, LONG AOnlySel);
// The page's links, the selected ones, or, without a selection, the link of AElement, added to the
// application's archive (AddLinkList) with the page's URL and character set.
void AddLinks(const VARIANT& ADocument, VARIANT_BOOL ASelected, const VARIANT& AElement);
// The selection's image sources, or, without a selection, the src of AElement, sent as banners
// (AddBannerList).
void AddBanners(const VARIANT& ADocument, const VARIANT& AElement);

// --- Link highlighting ---------------------------------------------------------------------------------

// One link of a highlighting pass: its normalized URL and its A element.
class TDocItem {
public:
    const std::wstring& URL() const { return LinkURL; }
    void SetURL(std::wstring url) { LinkURL = std::move(url); }
    void SetElement(const VARIANT& element) { LinkElement = TVariant(element); }
    // Hands the element over, leaving the item without it.
    TVariant TakeElement() { return std::move(LinkElement); }

private:
    std::wstring LinkURL;
    TVariant LinkElement;
};
using TDocItems = std::vector<TDocItem>;

// How the links of one kind are styled.
struct THighlightStyle {
    bool Enabled = false;
    bool MarkSaved = false;  // true: style the links the archive holds; false: those it does not hold
    std::wstring Decoration; // "none", "overline", "line-through", "underline" or empty
    std::wstring Weight;     // "bold" or empty
    LONG TextColor = -1;     // 0x00RRGGBB, or -1: the page's own colour
    LONG BackColor = -1;
};

// Reads the highlight settings of browser `browserId` from the server. When they say highlighting is off,
// only style.Enabled is changed.
void GetHighlightStyle(ULONG browserId, IGUIServer* server, THighlightStyle& style);

// A Windows colour (0x00BBGGRR, or a system colour code with the top bit set) as 0x00RRGGBB; system colours
// are resolved to their current value.
LONG SwapRedBlue(LONG color);

// The state array the application answers to GetLinkStates, read defensively: it comes from another
// process and may be of any shape. A one-dimensional array of VT_I4, or of variants holding integers
// (converted only when the value is kept exactly), directly or by reference; anything else, an element
// of another kind and every index past the answer's end read as "no state".
class TLinkStateArray {
public:
    TLinkStateArray() = default;
    // Reads at most `expected` states.
    TLinkStateArray(const VARIANT& answer, std::size_t expected);

    std::optional<LONG> State(std::size_t index) const {
        return index < States.size() ? States[index] : std::nullopt;
    }
    std::size_t Count() const { return States.size(); }

private:
    std::vector<std::optional<LONG>> States;
};

// Styles the links of the document (IHTMLDocument2 in Unk) and of its frames by the states the server
// (IGUIServer in Srv) reports for their URLs; without a server, or with highlighting switched off, every
// link loses its highlight. Links of the top document to the page itself are left alone.
void HighlightDocument(ULONG WB_ID, IUnknown* Unk, IUnknown* Srv);

} // namespace zorbex
