// A small, tolerant HTML loader for the test document model: turns page text into an element tree
// the way a browser would for ordinary pages (implied html/head/body, void elements, implicitly
// closed paragraphs, list items and table cells, raw-text script and style, character references),
// plus the URL resolution and text extraction that the browser's object model reports.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorbex::test {

struct THtmlAttribute {
    std::wstring Name; // lower case
    std::wstring Value;
};

// An element (Tag not empty, lower case) or a text node (Tag empty).
struct THtmlNode {
    std::wstring Tag;
    std::wstring Text; // text nodes: the decoded text
    std::vector<THtmlAttribute> Attributes;
    THtmlNode* Parent = nullptr;
    std::vector<std::unique_ptr<THtmlNode>> Children;
    std::size_t Index = 0; // elements: position in document order (the order of `all`)
    std::size_t End = 0;   // elements: one past the Index of the last element inside

    bool IsElement() const { return !Tag.empty(); }
    // The attribute's value (name compared without regard to case), or nullptr when it is absent.
    const std::wstring* Attribute(std::wstring_view name) const;
};

struct THtmlDocument {
    std::unique_ptr<THtmlNode> Root;  // the document node (no tag): holds the HTML element
    std::vector<THtmlNode*> Elements; // every element in document order
    THtmlNode* Html = nullptr;
    THtmlNode* Head = nullptr;
    THtmlNode* Body = nullptr; // BODY, or nullptr in a frameset document
};

// Parses page bytes: UTF-8, with any byte that is not part of a valid sequence read as Latin-1.
// With scripting on (a browser running scripts) NOSCRIPT content is raw text, not markup.
THtmlDocument ParseHtml(std::string_view bytes, bool scripting = true);
THtmlDocument ParseHtmlText(std::wstring_view text, bool scripting = true);

// Decodes character references (&amp; &#65; &#x41; ...) in a piece of text.
std::wstring DecodeEntities(std::wstring_view text);

// The absolute URL of `reference` against `base`, as a browser reports `href` and `src`: relative,
// root-relative, protocol-relative, dot segments, query-only, fragment-only and empty references are
// resolved; references with a scheme of their own are returned as written (dot segments of http,
// https, ftp and file URLs removed and an empty path made "/").
std::wstring ResolveUrl(std::wstring_view base, std::wstring_view reference);

// The text content of an element as innerText reports it: whitespace runs collapsed to one space,
// BR and block boundaries as line breaks (CR LF), PRE kept as written, script and style left out.
std::wstring InnerText(const THtmlNode& element);

// Lower case for ASCII letters.
std::wstring AsciiLower(std::wstring_view text);
std::wstring AsciiUpper(std::wstring_view text);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);

} // namespace zorbex::test
