// What a page's links should gather to, worked out from the HTML loader's tree on its own (not with the
// library's walking code): the distinct allowed link targets of A elements, then AREA elements, page after
// page, the first occurrence (ignoring case) winning, fragments cut.
#pragma once

#include <string>
#include <vector>

#include "support/HtmlLoaderUnit.h"

namespace zorbex::test {

struct TExpectedLink {
    std::wstring Url;
    std::wstring Text;
    bool operator==(const TExpectedLink&) const = default;
};

// One page: its text (UTF-8) and the URL it was loaded from.
struct TExpectedPage {
    std::string Html;
    std::wstring Url;
};

// The base URL the page resolves its links against: the first BASE element with an href, or its URL.
std::wstring PageBaseUrl(const THtmlDocument& document, const std::wstring& url);
// The href of an element as the page's object model reports it ("" when it has none).
std::wstring ElementHref(const THtmlDocument& document, const std::wstring& pageUrl,
                         const THtmlNode& element);
// javascript: and mailto: links (the scheme letters compared without regard to ASCII case).
bool HasExcludedScheme(const std::wstring& url);
// Equal ignoring case (CompareStringOrdinal).
bool SameTextNoCase(const std::wstring& a, const std::wstring& b);
// The links of the pages in order; a link met again on a later page keeps its first place.
std::vector<TExpectedLink> ExpectedLinks(const std::vector<TExpectedPage>& pages);
// The distinct src values of the IMG elements, in document order.
std::vector<std::wstring> ExpectedImageSources(const std::vector<TExpectedPage>& pages);

} // namespace zorbex::test
