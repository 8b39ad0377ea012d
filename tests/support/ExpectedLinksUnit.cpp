// Expected link lists of test pages, from the HTML loader's tree. Written apart from the library's walk
// (its own scheme test and fragment cut) so that a fault in the library's filter cannot hide itself.
#include "support/ExpectedLinksUnit.h"

#include <windows.h>

#include <algorithm>

namespace zorbex::test {

std::wstring PageBaseUrl(const THtmlDocument& document, const std::wstring& url) {
    for (const THtmlNode* element : document.Elements)
        if (element->Tag == L"base")
            if (const std::wstring* href = element->Attribute(L"href"))
                return ResolveUrl(url, *href);
    return url;
}

std::wstring ElementHref(const THtmlDocument& document, const std::wstring& pageUrl,
                         const THtmlNode& element) {
    const std::wstring* href = element.Attribute(L"href");
    return href ? ResolveUrl(PageBaseUrl(document, pageUrl), *href) : std::wstring();
}

bool HasExcludedScheme(const std::wstring& url) {
    const std::wstring lower = AsciiLower(url);
    return lower.rfind(L"javascript", 0) == 0 || lower.rfind(L"mailto", 0) == 0;
}

bool SameTextNoCase(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::vector<TExpectedLink> ExpectedLinks(const std::vector<TExpectedPage>& pages) {
    std::vector<TExpectedLink> links;
    for (const TExpectedPage& page : pages) {
        const THtmlDocument document = ParseHtml(page.Html);
        for (const wchar_t* tag : {L"a", L"area"}) {
            for (const THtmlNode* element : document.Elements) {
                if (element->Tag != tag)
                    continue;
                std::wstring url = ElementHref(document, page.Url, *element);
                url = url.substr(0, url.find(L'#'));
                if (HasExcludedScheme(url))
                    continue;
                if (std::any_of(links.begin(), links.end(),
                                [&](const TExpectedLink& seen) { return SameTextNoCase(seen.Url, url); }))
                    continue;
                const std::wstring* alt = element->Attribute(L"alt");
                links.push_back({url, tag == std::wstring(L"a") ? InnerText(*element) : (alt ? *alt : L"")});
            }
        }
    }
    return links;
}

std::vector<std::wstring> ExpectedImageSources(const std::vector<TExpectedPage>& pages) {
    std::vector<std::wstring> sources;
    for (const TExpectedPage& page : pages) {
        const THtmlDocument document = ParseHtml(page.Html);
        for (const THtmlNode* element : document.Elements) {
            if (element->Tag != L"img")
                continue;
            const std::wstring* src = element->Attribute(L"src");
            std::wstring url = src ? ResolveUrl(PageBaseUrl(document, page.Url), *src) : std::wstring();
            if (std::none_of(sources.begin(), sources.end(),
                             [&](const std::wstring& seen) { return SameTextNoCase(seen, url); }))
                sources.push_back(url);
        }
    }
    return sources;
}

} // namespace zorbex::test
