// The tolerant HTML loader of the test document model: tokenizer, tree building with the implied
// elements and implicit closes of ordinary pages, character references, URL resolution and innerText.
#include "support/HtmlLoaderUnit.h"

#include <algorithm>
#include <iterator>
#include <cwctype>

namespace zorbex::test {
namespace {

constexpr std::size_t kMaxDepth = 400; // deeper start tags become leaves, as browsers cap nesting

bool IsSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f';
}
bool IsAsciiAlpha(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}
bool IsAsciiDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}
wchar_t LowerChar(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c;
}

template <std::size_t N> bool OneOf(std::wstring_view tag, const std::wstring_view (&set)[N]) {
    return std::find(std::begin(set), std::end(set), tag) != std::end(set);
}

constexpr std::wstring_view kVoidTags[] = {L"area",  L"base",   L"br",    L"col",  L"embed",
                                           L"hr",    L"img",    L"input", L"link", L"meta",
                                           L"param", L"source", L"track", L"wbr",  L"keygen"};
constexpr std::wstring_view kRawTextTags[] = {L"script",  L"style",    L"xmp",     L"iframe",
                                              L"noembed", L"noframes", L"noscript"};
constexpr std::wstring_view kEscapableRawTextTags[] = {L"textarea", L"title"};
constexpr std::wstring_view kHeadTags[] = {L"title", L"meta", L"link",     L"script",
                                           L"style", L"base", L"noscript", L"template"};
constexpr std::wstring_view kClosesParagraph[] = {
    L"address", L"article", L"aside", L"blockquote", L"center",     L"details", L"dialog",  L"dir",  L"div",
    L"dl",      L"dd",      L"dt",    L"fieldset",   L"figcaption", L"figure",  L"footer",  L"form", L"h1",
    L"h2",      L"h3",      L"h4",    L"h5",         L"h6",         L"header",  L"hgroup",  L"hr",   L"li",
    L"main",    L"menu",    L"nav",   L"ol",         L"p",          L"pre",     L"section", L"table"};
constexpr std::wstring_view kAlsoClosesParagraph[] = {L"ul"};
constexpr std::wstring_view kRowGroups[] = {L"tbody", L"thead", L"tfoot"};
constexpr std::wstring_view kHeadings[] = {L"h1", L"h2", L"h3", L"h4", L"h5", L"h6"};
constexpr std::wstring_view kParagraphScope[] = {L"table", L"td",      L"th",     L"caption", L"button",
                                                 L"html",  L"marquee", L"object", L"template"};

struct TNamedEntity {
    std::wstring_view Name;
    char32_t Code;
};
// Common named references; the first seven are also recognised without the closing semicolon.
constexpr TNamedEntity kEntities[] = {
    {L"amp", 38},      {L"lt", 60},       {L"gt", 62},      {L"quot", 34},     {L"nbsp", 160},
    {L"copy", 169},    {L"reg", 174},     {L"apos", 39},    {L"trade", 8482},  {L"hellip", 8230},
    {L"mdash", 8212},  {L"ndash", 8211},  {L"lsquo", 8216}, {L"rsquo", 8217},  {L"ldquo", 8220},
    {L"rdquo", 8221},  {L"sbquo", 8218},  {L"bdquo", 8222}, {L"laquo", 171},   {L"raquo", 187},
    {L"lsaquo", 8249}, {L"rsaquo", 8250}, {L"bull", 8226},  {L"middot", 183},  {L"times", 215},
    {L"divide", 247},  {L"deg", 176},     {L"plusmn", 177}, {L"para", 182},    {L"sect", 167},
    {L"euro", 8364},   {L"pound", 163},   {L"yen", 165},    {L"cent", 162},    {L"shy", 173},
    {L"zwj", 8205},    {L"zwnj", 8204},   {L"zwsp", 8203},  {L"larr", 8592},   {L"rarr", 8594},
    {L"uarr", 8593},   {L"darr", 8595},   {L"harr", 8596},  {L"rArr", 8658},   {L"lArr", 8656},
    {L"le", 8804},     {L"ge", 8805},     {L"ne", 8800},    {L"minus", 8722},  {L"infin", 8734},
    {L"dagger", 8224}, {L"Dagger", 8225}, {L"prime", 8242}, {L"iexcl", 161},   {L"iquest", 191},
    {L"auml", 228},    {L"ouml", 246},    {L"uuml", 252},   {L"Auml", 196},    {L"Ouml", 214},
    {L"Uuml", 220},    {L"szlig", 223},   {L"eacute", 233}, {L"egrave", 232},  {L"Eacute", 201},
    {L"aacute", 225},  {L"agrave", 224},  {L"ccedil", 231}, {L"ntilde", 241},  {L"oacute", 243},
    {L"uacute", 250},  {L"iacute", 237},  {L"ecirc", 234},  {L"acirc", 226},   {L"ocirc", 244},
    {L"thinsp", 8201}, {L"ensp", 8194},   {L"emsp", 8195},  {L"check", 10003}, {L"hearts", 9829},
    {L"larrhk", 8617}, {L"crarr", 8629},  {L"lambda", 955}, {L"alpha", 945},   {L"beta", 946},
    {L"mu", 956},      {L"pi", 960},      {L"sum", 8721},   {L"micro", 181},   {L"frac12", 189},
};
constexpr std::size_t kLegacyEntityCount = 7;

// Windows-1252 meanings of the C1 range in numeric references.
constexpr char16_t kC1Replacements[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                          0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

void AppendCodePoint(std::wstring& out, char32_t code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    if (code >= 0x80 && code <= 0x9F)
        code = kC1Replacements[code - 0x80];
    if (code >= 0x10000) {
        code -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (code >> 10));
        out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    } else {
        out += static_cast<wchar_t>(code);
    }
}

// Decodes one reference starting at text[i] == '&'; returns the characters consumed (0: not one).
std::size_t DecodeReference(std::wstring_view text, std::size_t i, std::wstring& out) {
    std::size_t p = i + 1;
    if (p < text.size() && text[p] == L'#') {
        ++p;
        bool hex = p < text.size() && (text[p] == L'x' || text[p] == L'X');
        if (hex)
            ++p;
        std::size_t digitsStart = p;
        char32_t code = 0;
        while (p < text.size() && (hex ? std::iswxdigit(text[p]) != 0 : IsAsciiDigit(text[p]))) {
            wchar_t c = text[p];
            unsigned digit = IsAsciiDigit(c) ? c - L'0' : (LowerChar(c) - L'a' + 10);
            if (code <= 0x10FFFF)
                code = code * (hex ? 16 : 10) + digit;
            ++p;
        }
        if (p == digitsStart)
            return 0;
        if (p < text.size() && text[p] == L';')
            ++p;
        AppendCodePoint(out, code);
        return p - i;
    }
    std::size_t nameEnd = p;
    while (nameEnd < text.size() && nameEnd - p < 32 &&
           (IsAsciiAlpha(text[nameEnd]) || IsAsciiDigit(text[nameEnd])))
        ++nameEnd;
    if (nameEnd == p)
        return 0;
    std::wstring_view name = text.substr(p, nameEnd - p);
    bool semicolon = nameEnd < text.size() && text[nameEnd] == L';';
    for (std::size_t k = 0; k < std::size(kEntities); ++k) {
        if (semicolon && kEntities[k].Name == name) {
            AppendCodePoint(out, kEntities[k].Code);
            return nameEnd + 1 - i;
        }
    }
    // Legacy references without the semicolon ("&copy 2024"), but not before '=' ("?a=1&copy=2").
    bool equalsFollows = nameEnd < text.size() && text[nameEnd] == L'=';
    for (std::size_t k = 0; k < kLegacyEntityCount && !semicolon && !equalsFollows; ++k) {
        if (kEntities[k].Name == name) {
            AppendCodePoint(out, kEntities[k].Code);
            return 1 + name.size();
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Tree building

class TTreeBuilder {
public:
    TTreeBuilder(std::wstring_view text, bool scripting) : Text(text), Scripting(scripting) {
        Doc.Root = std::make_unique<THtmlNode>();
    }

    THtmlDocument Build() {
        while (Pos < Text.size()) {
            if (Text[Pos] == L'<' && Markup())
                continue;
            std::size_t next = Text.find(L'<', Pos + 1);
            if (next == std::wstring_view::npos)
                next = Text.size();
            AddText(DecodeEntities(Text.substr(Pos, next - Pos)));
            Pos = next;
        }
        Finish();
        return std::move(Doc);
    }

private:
    std::wstring_view Text;
    bool Scripting;
    std::size_t Pos = 0;
    THtmlDocument Doc;
    std::vector<THtmlNode*> Open; // the stack of open elements
    std::size_t ForeignDepth = 0; // open svg/math elements: self-closing tags are honoured inside
    bool BodyStarted = false;     // BODY or FRAMESET exists

    THtmlNode* Current() const { return Open.empty() ? Doc.Root.get() : Open.back(); }

    static THtmlNode* Append(THtmlNode* parent, std::unique_ptr<THtmlNode> node) {
        node->Parent = parent;
        parent->Children.push_back(std::move(node));
        return parent->Children.back().get();
    }

    THtmlNode* NewElement(THtmlNode* parent, std::wstring tag, std::vector<THtmlAttribute> attributes = {}) {
        auto node = std::make_unique<THtmlNode>();
        node->Tag = std::move(tag);
        node->Attributes = std::move(attributes);
        return Append(parent, std::move(node));
    }

    void Push(THtmlNode* node) {
        Open.push_back(node);
        if (node->Tag == L"svg" || node->Tag == L"math")
            ++ForeignDepth;
    }

    void Pop() {
        if (Open.back()->Tag == L"svg" || Open.back()->Tag == L"math")
            --ForeignDepth;
        Open.pop_back();
    }

    void PopTo(const THtmlNode* node) {
        while (!Open.empty()) {
            bool done = Open.back() == node;
            Pop();
            if (done)
                break;
        }
    }

    void CloseOpen(std::initializer_list<std::wstring_view> tags,
                   std::initializer_list<std::wstring_view> stops) {
        for (auto it = Open.rbegin(); it != Open.rend(); ++it) {
            if (std::find(tags.begin(), tags.end(), (*it)->Tag) != tags.end()) {
                PopTo(*it);
                return;
            }
            if (std::find(stops.begin(), stops.end(), (*it)->Tag) != stops.end() || (*it)->Tag == L"html")
                return;
        }
    }

    void EnsureHtml() {
        if (Doc.Html)
            return;
        Doc.Html = NewElement(Doc.Root.get(), L"html");
        Push(Doc.Html);
    }

    void EnsureHead() {
        EnsureHtml();
        if (Doc.Head)
            return;
        Doc.Head = NewElement(Doc.Html, L"head");
        Push(Doc.Head);
    }

    void CloseHead() {
        if (Doc.Head && std::find(Open.begin(), Open.end(), Doc.Head) != Open.end())
            PopTo(Doc.Head);
    }

    void StartBody(const std::wstring& tag, std::vector<THtmlAttribute> attributes) {
        EnsureHtml();
        CloseHead();
        if (!Doc.Head) // a browser always has a HEAD before the BODY
            Doc.Head = NewElement(Doc.Html, L"head");
        PopTo(Doc.Html);
        Push(Doc.Html);
        THtmlNode* body = NewElement(Doc.Html, tag, std::move(attributes));
        Push(body);
        if (tag == L"body")
            Doc.Body = body;
        BodyStarted = true;
    }

    static void MergeAttributes(THtmlNode* node, std::vector<THtmlAttribute> attributes) {
        for (auto& attribute : attributes)
            if (!node->Attribute(attribute.Name))
                node->Attributes.push_back(std::move(attribute));
    }

    void AddText(std::wstring text) {
        if (text.empty())
            return;
        if (!BodyStarted) {
            if (std::all_of(text.begin(), text.end(), IsSpace))
                return;
            StartBody(L"body", {});
        }
        THtmlNode* parent = Current();
        if (!parent->Children.empty() && !parent->Children.back()->IsElement()) {
            parent->Children.back()->Text += text;
            return;
        }
        auto node = std::make_unique<THtmlNode>();
        node->Text = std::move(text);
        Append(parent, std::move(node));
    }

    // Handles markup at Pos; false when the '<' is plain text.
    bool Markup() {
        std::wstring_view rest = Text.substr(Pos);
        if (rest.starts_with(L"<!--")) {
            std::size_t end = Text.find(L"-->", Pos + 4);
            Pos = end == std::wstring_view::npos ? Text.size() : end + 3;
            return true;
        }
        if (rest.size() > 1 &&
            (rest[1] == L'!' || rest[1] == L'?')) { // doctype, CDATA, processing instruction
            std::size_t end = Text.find(L'>', Pos);
            Pos = end == std::wstring_view::npos ? Text.size() : end + 1;
            return true;
        }
        if (rest.size() > 2 && rest[1] == L'/' && IsAsciiAlpha(rest[2])) {
            std::size_t p = Pos + 2;
            std::wstring name = ReadName(p);
            std::size_t end = Text.find(L'>', p);
            Pos = end == std::wstring_view::npos ? Text.size() : end + 1;
            EndTag(name);
            return true;
        }
        if (rest.size() > 1 && IsAsciiAlpha(rest[1])) {
            std::size_t p = Pos + 1;
            std::wstring name = ReadName(p);
            bool selfClosing = false;
            std::vector<THtmlAttribute> attributes = ReadAttributes(p, selfClosing);
            Pos = p;
            StartTag(std::move(name), std::move(attributes), selfClosing);
            return true;
        }
        return false;
    }

    std::wstring ReadName(std::size_t& p) const {
        std::wstring name;
        while (p < Text.size() && !IsSpace(Text[p]) && Text[p] != L'/' && Text[p] != L'>')
            name += LowerChar(Text[p++]);
        return name;
    }

    std::vector<THtmlAttribute> ReadAttributes(std::size_t& p, bool& selfClosing) const {
        std::vector<THtmlAttribute> attributes;
        while (p < Text.size()) {
            wchar_t c = Text[p];
            if (c == L'>') {
                ++p;
                return attributes;
            }
            if (IsSpace(c)) {
                ++p;
                continue;
            }
            if (c == L'/') {
                ++p;
                selfClosing = p < Text.size() && Text[p] == L'>';
                continue;
            }
            selfClosing = false;
            std::wstring name;
            do
                name += LowerChar(Text[p++]);
            while (p < Text.size() && !IsSpace(Text[p]) && Text[p] != L'/' && Text[p] != L'>' &&
                   Text[p] != L'=');
            std::size_t q = p;
            while (q < Text.size() && IsSpace(Text[q]))
                ++q;
            std::wstring value;
            if (q < Text.size() && Text[q] == L'=') {
                ++q;
                while (q < Text.size() && IsSpace(Text[q]))
                    ++q;
                if (q < Text.size() && (Text[q] == L'"' || Text[q] == L'\'')) {
                    std::size_t close = Text.find(Text[q], q + 1);
                    if (close == std::wstring_view::npos)
                        close = Text.size();
                    value = DecodeEntities(Text.substr(q + 1, close - q - 1));
                    q = std::min(close + 1, Text.size());
                } else {
                    std::size_t start = q;
                    while (q < Text.size() && !IsSpace(Text[q]) && Text[q] != L'>')
                        ++q;
                    value = DecodeEntities(Text.substr(start, q - start));
                }
                p = q;
            }
            if (std::none_of(attributes.begin(), attributes.end(),
                             [&](const THtmlAttribute& a) { return a.Name == name; }))
                attributes.push_back({std::move(name), std::move(value)});
        }
        return attributes;
    }

    // The content of a raw-text element up to its end tag; Pos moves past the end tag.
    std::wstring_view RawText(const std::wstring& tag) {
        std::size_t search = Pos;
        while (true) {
            std::size_t lt = Text.find(L"</", search);
            if (lt == std::wstring_view::npos) {
                std::wstring_view content = Text.substr(Pos);
                Pos = Text.size();
                return content;
            }
            std::size_t p = lt + 2;
            if (EqualsNoCase(Text.substr(p, tag.size()), tag) &&
                (p + tag.size() == Text.size() || IsSpace(Text[p + tag.size()]) ||
                 Text[p + tag.size()] == L'>' || Text[p + tag.size()] == L'/')) {
                std::wstring_view content = Text.substr(Pos, lt - Pos);
                std::size_t end = Text.find(L'>', p);
                Pos = end == std::wstring_view::npos ? Text.size() : end + 1;
                return content;
            }
            search = lt + 2;
        }
    }

    void StartTag(std::wstring tag, std::vector<THtmlAttribute> attributes, bool selfClosing) {
        if (tag == L"html") {
            EnsureHtml();
            MergeAttributes(Doc.Html, std::move(attributes));
            return;
        }
        THtmlNode* parent = nullptr;
        if (!BodyStarted) {
            if (tag == L"head") {
                if (!Doc.Head)
                    EnsureHead();
                return;
            }
            if (tag == L"body" || tag == L"frameset") {
                StartBody(tag, std::move(attributes));
                return;
            }
            if (OneOf(tag, kHeadTags)) {
                EnsureHead();
                parent = Doc.Head;
            } else {
                StartBody(L"body", {});
            }
        } else if (tag == L"body") {
            if (Doc.Body)
                MergeAttributes(Doc.Body, std::move(attributes));
            return;
        } else if (tag == L"head" || tag == L"frameset") {
            return;
        }
        if (!parent) {
            ImplicitCloses(tag);
            parent = Current();
        }
        THtmlNode* element = NewElement(parent, tag, std::move(attributes));
        if (OneOf(tag, kVoidTags))
            return;
        bool rawText = OneOf(tag, kRawTextTags) && (Scripting || tag != L"noscript");
        if (rawText || OneOf(tag, kEscapableRawTextTags)) {
            std::wstring_view content = RawText(tag);
            if (!content.empty()) {
                auto text = std::make_unique<THtmlNode>();
                text->Text = rawText ? std::wstring(content) : DecodeEntities(content);
                Append(element, std::move(text));
            }
            return;
        }
        if (selfClosing && ForeignDepth > 0)
            return;
        if (parent == Current() && Open.size() < kMaxDepth)
            Push(element);
    }

    void ImplicitCloses(const std::wstring& tag) {
        if (OneOf(tag, kClosesParagraph) || OneOf(tag, kAlsoClosesParagraph)) {
            for (auto it = Open.rbegin(); it != Open.rend() && !OneOf((*it)->Tag, kParagraphScope); ++it) {
                if ((*it)->Tag == L"p") {
                    PopTo(*it);
                    break;
                }
            }
        }
        if (tag == L"li")
            CloseOpen({L"li"}, {L"ul", L"ol", L"menu", L"table"});
        else if (tag == L"dd" || tag == L"dt")
            CloseOpen({L"dd", L"dt"}, {L"dl", L"table"});
        else if (tag == L"tr")
            CloseOpen({L"tr"}, {L"table"});
        else if (tag == L"td" || tag == L"th")
            CloseOpen({L"td", L"th"}, {L"tr", L"table"});
        // Rows live in a row group and cells in a row, implied when the page leaves them out.
        if ((tag == L"tr" || tag == L"td" || tag == L"th") && Current()->Tag == L"table")
            ImpliedChild(L"tbody");
        if ((tag == L"td" || tag == L"th") && OneOf(Current()->Tag, kRowGroups))
            ImpliedChild(L"tr");
        else if (tag == L"thead" || tag == L"tbody" || tag == L"tfoot")
            CloseOpen({L"thead", L"tbody", L"tfoot"}, {L"table"});
        else if (tag == L"option")
            CloseOpen({L"option"}, {L"select", L"datalist", L"optgroup"});
        else if (tag == L"optgroup")
            CloseOpen({L"option", L"optgroup"}, {L"select"});
        else if (tag == L"a")
            CloseOpen({L"a"}, {});
        else if (tag == L"button")
            CloseOpen({L"button"}, {});
        else if (OneOf(tag, kHeadings) && OneOf(Current()->Tag, kHeadings))
            Pop();
    }

    void ImpliedChild(const wchar_t* tag) {
        THtmlNode* element = NewElement(Current(), tag);
        if (Open.size() < kMaxDepth)
            Push(element);
    }

    void EndTag(const std::wstring& tag) {
        if (tag == L"html" || tag == L"body")
            return; // later content still goes into the body, as in a browser
        if (tag == L"head") {
            CloseHead();
            return;
        }
        if (tag == L"br") { // "</br>" is read as "<br>"
            StartTag(L"br", {}, false);
            return;
        }
        if (tag == L"li")
            CloseOpen({L"li"}, {L"ul", L"ol", L"menu"});
        else if (tag == L"td" || tag == L"th" || tag == L"tr")
            CloseOpen({tag}, {L"table"});
        else
            CloseOpen({tag}, {});
    }

    void Finish() {
        if (!BodyStarted)
            StartBody(L"body", {});
        // Number the elements in document order; End is one past the last element inside.
        std::vector<std::pair<THtmlNode*, std::size_t>> stack{{Doc.Root.get(), 0}};
        while (!stack.empty()) {
            auto& [node, child] = stack.back();
            if (child == 0 && node->IsElement()) {
                node->Index = Doc.Elements.size();
                Doc.Elements.push_back(node);
            }
            if (child < node->Children.size()) {
                THtmlNode* next = node->Children[child++].get();
                stack.push_back({next, 0});
                continue;
            }
            if (node->IsElement())
                node->End = Doc.Elements.size();
            stack.pop_back();
        }
    }
};

std::wstring DecodeUtf8(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    if (bytes.starts_with("\xEF\xBB\xBF"))
        i = 3;
    while (i < bytes.size()) {
        auto b = static_cast<unsigned char>(bytes[i]);
        std::size_t length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        char32_t code = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
        bool valid = length != 0 && i + length <= bytes.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            auto c = static_cast<unsigned char>(bytes[i + k]);
            valid = (c & 0xC0) == 0x80;
            code = (code << 6) | (c & 0x3F);
        }
        if (valid && length > 1 &&
            (code < (length == 2   ? 0x80u
                     : length == 3 ? 0x800u
                                   : 0x10000u) ||
             code > 0x10FFFF))
            valid = false;
        if (!valid) { // a stray byte: read it as Latin-1
            out += static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (code >> 10));
            out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<wchar_t>(code);
        }
        i += length;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// URLs

struct TUrlParts {
    std::wstring Scheme; // without ':'
    bool HasAuthority = false;
    std::wstring Authority;
    std::wstring Path;
    std::wstring Query;    // with '?'
    std::wstring Fragment; // with '#'
};

std::size_t SchemeEnd(std::wstring_view url) {
    if (url.empty() || !IsAsciiAlpha(url[0]))
        return std::wstring_view::npos;
    for (std::size_t i = 1; i < url.size(); ++i) {
        wchar_t c = url[i];
        if (c == L':')
            return i;
        if (!IsAsciiAlpha(c) && !IsAsciiDigit(c) && c != L'+' && c != L'-' && c != L'.')
            return std::wstring_view::npos;
    }
    return std::wstring_view::npos;
}

TUrlParts SplitUrl(std::wstring_view url) {
    TUrlParts parts;
    std::size_t schemeEnd = SchemeEnd(url);
    if (schemeEnd != std::wstring_view::npos) {
        parts.Scheme = url.substr(0, schemeEnd);
        url.remove_prefix(schemeEnd + 1);
    }
    if (std::size_t hash = url.find(L'#'); hash != std::wstring_view::npos) {
        parts.Fragment = url.substr(hash);
        url = url.substr(0, hash);
    }
    if (std::size_t question = url.find(L'?'); question != std::wstring_view::npos) {
        parts.Query = url.substr(question);
        url = url.substr(0, question);
    }
    if (url.starts_with(L"//")) {
        parts.HasAuthority = true;
        std::size_t slash = url.find(L'/', 2);
        parts.Authority =
            url.substr(2, slash == std::wstring_view::npos ? std::wstring_view::npos : slash - 2);
        url = slash == std::wstring_view::npos ? std::wstring_view() : url.substr(slash);
    }
    parts.Path = url;
    return parts;
}

std::wstring RemoveDotSegments(std::wstring_view path) {
    std::vector<std::wstring_view> segments;
    bool absolute = path.starts_with(L'/');
    std::size_t start = absolute ? 1 : 0;
    bool trailingSlash = false;
    while (start <= path.size()) {
        std::size_t slash = path.find(L'/', start);
        std::wstring_view segment =
            path.substr(start, slash == std::wstring_view::npos ? std::wstring_view::npos : slash - start);
        bool last = slash == std::wstring_view::npos;
        trailingSlash = false;
        if (segment == L"..") {
            if (!segments.empty())
                segments.pop_back();
            trailingSlash = true;
        } else if (segment == L".") {
            trailingSlash = true;
        } else {
            segments.push_back(segment);
        }
        if (last)
            break;
        start = slash + 1;
    }
    std::wstring result = absolute ? L"/" : L"";
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (i > 0)
            result += L'/';
        result += segments[i];
    }
    if (trailingSlash && !result.empty() && result.back() != L'/')
        result += L'/';
    return result;
}

bool IsSpecialScheme(std::wstring_view scheme) {
    std::wstring lower = AsciiLower(scheme);
    return lower == L"http" || lower == L"https" || lower == L"ftp" || lower == L"file";
}

std::wstring JoinUrl(const TUrlParts& parts) {
    std::wstring url = parts.Scheme + L':';
    if (parts.HasAuthority)
        url += L"//" + parts.Authority;
    url += parts.Path.empty() && parts.HasAuthority && IsSpecialScheme(parts.Scheme) ? L"/" : parts.Path;
    return url + parts.Query + parts.Fragment;
}

// ---------------------------------------------------------------------------------------------
// innerText

constexpr std::wstring_view kBlockTags[] = {
    L"option",     L"address", L"article", L"aside",   L"blockquote", L"body", L"caption", L"center",
    L"dd",         L"details", L"dialog",  L"dir",     L"div",        L"dl",   L"dt",      L"fieldset",
    L"figcaption", L"figure",  L"footer",  L"form",    L"h1",         L"h2",   L"h3",      L"h4",
    L"h5",         L"h6",      L"header",  L"hr",      L"li",         L"main", L"menu",    L"nav",
    L"ol",         L"p",       L"pre",     L"section", L"table",      L"tr",   L"ul"};
constexpr std::wstring_view kHiddenTextTags[] = {L"script", L"style", L"noscript", L"template", L"head"};

class TTextCollector {
public:
    std::wstring Out;

    void Visit(const THtmlNode& node, bool pre) {
        for (const auto& child : node.Children) {
            if (!child->IsElement()) {
                Add(child->Text, pre);
                continue;
            }
            const std::wstring& tag = child->Tag;
            if (OneOf(tag, kHiddenTextTags))
                continue;
            if (tag == L"br") {
                Break();
                continue;
            }
            bool block = OneOf(tag, kBlockTags);
            if (block)
                Break();
            else if (tag == L"td" || tag == L"th")
                PendingSpace = true;
            Visit(*child, pre || tag == L"pre" || tag == L"textarea");
            if (block)
                Break();
        }
    }

private:
    bool PendingSpace = false;
    bool PendingBreak = false;

    void Break() { PendingBreak = true; }

    void Add(const std::wstring& text, bool pre) {
        for (wchar_t c : text) {
            if (!pre && IsSpace(c)) {
                PendingSpace = true;
                continue;
            }
            if (pre && (c == L'\n' || c == L'\r')) {
                if (c == L'\n')
                    Out += L"\r\n";
                PendingSpace = PendingBreak = false;
                continue;
            }
            if (!Out.empty() && (PendingBreak || PendingSpace) && Out.back() != L'\n')
                Out += PendingBreak ? L"\r\n" : L" ";
            PendingSpace = PendingBreak = false;
            Out += c;
        }
    }
};

} // namespace

const std::wstring* THtmlNode::Attribute(std::wstring_view name) const {
    for (const auto& attribute : Attributes)
        if (EqualsNoCase(attribute.Name, name))
            return &attribute.Value;
    return nullptr;
}

std::wstring AsciiLower(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out)
        c = LowerChar(c);
    return out;
}

std::wstring AsciiUpper(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - 32);
    return out;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerChar(a[i]) != LowerChar(b[i]))
            return false;
    return true;
}

std::wstring DecodeEntities(std::wstring_view text) {
    std::size_t amp = text.find(L'&');
    if (amp == std::wstring_view::npos)
        return std::wstring(text);
    std::wstring out(text.substr(0, amp));
    for (std::size_t i = amp; i < text.size();) {
        if (text[i] == L'&') {
            if (std::size_t used = DecodeReference(text, i, out)) {
                i += used;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

THtmlDocument ParseHtmlText(std::wstring_view text, bool scripting) {
    return TTreeBuilder(text, scripting).Build();
}

THtmlDocument ParseHtml(std::string_view bytes, bool scripting) {
    std::wstring text = DecodeUtf8(bytes);
    return ParseHtmlText(text, scripting);
}

std::wstring ResolveUrl(std::wstring_view base, std::wstring_view reference) {
    // Browsers strip surrounding spaces and drop tabs and line breaks inside.
    std::wstring ref;
    for (wchar_t c : reference)
        if (c != L'\t' && c != L'\n' && c != L'\r')
            ref += c;
    std::size_t first = ref.find_first_not_of(L" \f");
    std::size_t last = ref.find_last_not_of(L" \f");
    ref = first == std::wstring::npos ? std::wstring() : ref.substr(first, last - first + 1);

    if (SchemeEnd(ref) != std::wstring::npos) {
        TUrlParts parts = SplitUrl(ref);
        if (!IsSpecialScheme(parts.Scheme) || !parts.HasAuthority)
            return ref; // javascript:, mailto:, data:, about: ... as written
        parts.Path = RemoveDotSegments(parts.Path);
        return JoinUrl(parts);
    }
    TUrlParts target = SplitUrl(base);
    if (target.Scheme.empty() || (!target.HasAuthority && !target.Path.starts_with(L'/')))
        return ref; // no hierarchical base to resolve against
    if (ref.starts_with(L"//"))
        return ResolveUrl(base, target.Scheme + L':' + ref);
    TUrlParts relative = SplitUrl(ref);
    target.Fragment = relative.Fragment;
    if (relative.Path.empty()) {
        if (!ref.empty() && ref[0] != L'#')
            target.Query = relative.Query;
        else if (ref.empty())
            target.Fragment.clear();
    } else {
        target.Query = relative.Query;
        if (relative.Path.starts_with(L'/')) {
            target.Path = RemoveDotSegments(relative.Path);
        } else {
            std::wstring merged = target.HasAuthority && target.Path.empty()
                                      ? L"/" + relative.Path
                                      : target.Path.substr(0, target.Path.rfind(L'/') + 1) + relative.Path;
            target.Path = RemoveDotSegments(merged);
        }
    }
    return JoinUrl(target);
}

std::wstring InnerText(const THtmlNode& element) {
    TTextCollector collector;
    collector.Visit(element, element.Tag == L"pre" || element.Tag == L"textarea");
    return collector.Out;
}

} // namespace zorbex::test
