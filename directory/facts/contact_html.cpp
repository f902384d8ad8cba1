#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <unordered_map>

#include "directory/core/query.h"
#include "directory/facts/contact_text.h"
#include "directory/facts/contacts.h"
#include "directory/facts/domains.h"
#include "directory/facts/html_tokens.h"
#include "directory/facts/parse_guard.h"
#include "directory/facts/phone_text.h"
#include "directory/facts/url.h"
#include "text/text.h"

namespace kelvora::directory::facts {

namespace {

// Link text read per anchor to tell a contact link; longer text says no more.
constexpr std::size_t kMaxLinkText = 200;
// Candidate pages gathered before the best kMaxContactPages are chosen.
constexpr std::size_t kMaxPageCandidates = 100;
// Structured data read per script; larger blocks are left unread.
constexpr std::size_t kMaxJsonLdSize = 1 << 20;
// JSON values visited per script, which bounds the walk on any input.
constexpr std::size_t kMaxJsonValues = 100'000;
// Microdata and RDFa values read per page.
constexpr std::size_t kMaxMarkedValues = 64;
// Nodes of a form looked through for its fields.
constexpr std::size_t kMaxFormNodes = 10'000;

// ------------------------------------------------------------ elements

using Attributes = std::vector<std::pair<std::string, std::string>>;

bool Is(std::string_view a, std::string_view b);

const std::string *FindAttribute(const Attributes &attributes, std::string_view name)
{
    for (const auto &[key, value] : attributes) {
        if (Is(key, name))
            return &value;
    }
    return nullptr;
}

std::string LowerAttribute(const Attributes &attributes, std::string_view name)
{
    const std::string *value = FindAttribute(attributes, name);
    return value ? LowerCase(*value) : std::string();
}

// Tag and attribute names are short: compared here without a call.
bool Is(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

bool IsOneOf(std::string_view name, std::initializer_list<std::string_view> names)
{
    return std::any_of(names.begin(), names.end(), [name](std::string_view one) { return Is(name, one); });
}

// What the element model needs to know of a tag name.
enum TagFlag : unsigned {
    kInline = 1u << 0,
    kHidesText = 1u << 1,        // its text is no visitor's
    kVoid = 1u << 2,
    kBelongsInHead = 1u << 3,    // may stand in the head; anything else starts the body
    kClosesParagraph = 1u << 4,  // its start tag ends an open paragraph
    kScopeBoundary = 1u << 5,    // an end tag of another name does not reach past it
    kSpecial = 1u << 6,          // an end tag of an ordinary element does not close it
    kLeavesForeign = 1u << 7,    // its start tag leaves svg or math content
    kFormatting = 1u << 8,
    kTablePart = 1u << 9,
    kHeading = 1u << 10,
    kMarker = 1u << 11,          // formatting elements opened before it stay outside it
    kRawText = 1u << 12,         // its content is text up to its end tag
    kNoReconstruct = 1u << 13,   // its start tag re-opens no formatting element
};

unsigned TagFlags(std::string_view name)
{
    static const std::unordered_map<std::string_view, unsigned> kFlags = [] {
        std::unordered_map<std::string_view, unsigned> flags;
        const auto mark = [&flags](unsigned flag, std::initializer_list<std::string_view> names) {
            for (const std::string_view tag : names)
                flags[tag] |= flag;
        };
        mark(kInline, {"a", "abbr", "b", "bdi", "bdo", "cite", "code", "data", "dfn", "em", "font", "i", "kbd",
                       "mark", "q", "s", "samp", "small", "span", "strong", "sub", "sup", "time", "u", "var", "big",
                       "tt", "nobr"});
        mark(kHidesText, {"script", "style", "template", "head", "textarea", "select"});
        mark(kVoid, {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param", "source",
                     "track", "wbr", "keygen", "frame", "basefont", "bgsound"});
        mark(kBelongsInHead, {"base", "basefont", "bgsound", "link", "meta", "title", "noscript", "noframes",
                              "style", "script", "template"});
        mark(kClosesParagraph, {"address", "article", "aside", "blockquote", "center", "details", "dialog", "dir",
                                "div", "dl", "fieldset", "figcaption", "figure", "footer", "header", "hgroup",
                                "main", "menu", "nav", "ol", "p", "search", "section", "summary", "ul", "h1", "h2",
                                "h3", "h4", "h5", "h6", "pre", "listing", "form", "plaintext", "hr", "xmp", "li",
                                "dd", "dt"});
        mark(kScopeBoundary, {"applet", "caption", "html", "table", "td", "th", "marquee", "object", "template"});
        mark(kLeavesForeign, {"b", "big", "blockquote", "body", "br", "center", "code", "dd", "div", "dl", "dt",
                              "em", "embed", "h1", "h2", "h3", "h4", "h5", "h6", "head", "hr", "i", "img", "li",
                              "listing", "menu", "meta", "nobr", "ol", "p", "pre", "ruby", "s", "small", "span",
                              "strong", "strike", "sub", "sup", "table", "tt", "u", "ul", "var"});
        mark(kFormatting, {"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike", "strong",
                           "tt", "u"});
        mark(kTablePart, {"table", "caption", "tbody", "thead", "tfoot", "tr", "td", "th"});
        mark(kHeading, {"h1", "h2", "h3", "h4", "h5", "h6"});
        mark(kMarker, {"td", "th", "caption", "template", "applet", "object", "marquee"});
        mark(kRawText, {"script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes", "plaintext"});
        mark(kNoReconstruct, {"hr", "textarea", "iframe", "noembed", "param", "source", "track", "frameset", "col",
                              "colgroup", "rb", "rp", "rt", "rtc", "html", "body", "head"});
        mark(kSpecial, {"address", "applet", "area", "article", "aside", "base", "basefont", "bgsound",
                        "blockquote", "body", "br", "button", "caption", "center", "col", "colgroup", "dd",
                        "details", "dir", "div", "dl", "dt", "embed", "fieldset", "figcaption", "figure", "footer",
                        "form", "frame", "frameset", "h1", "h2", "h3", "h4", "h5", "h6", "head", "header", "hgroup",
                        "hr", "html", "iframe", "img", "input", "keygen", "li", "link", "listing", "main", "marquee",
                        "menu", "meta", "nav", "noembed", "noframes", "noscript", "object", "ol", "p", "param",
                        "plaintext", "pre", "script", "search", "section", "select", "source", "style", "summary",
                        "table", "tbody", "td", "template", "textarea", "tfoot", "th", "thead", "title", "tr",
                        "track", "ul", "wbr", "xmp"});
        return flags;
    }();
    // Looked up for every tag of a page: an open-addressed table with a
    // cheap hash is several times faster than the map.
    struct Slot {
        std::string_view name;
        unsigned flags = 0;
    };
    constexpr std::size_t kSlots = 1024;
    const auto hash = [](std::string_view text) {
        std::size_t value = text.size();
        for (const char c : text)
            value = value * 31 + static_cast<unsigned char>(c);
        return value;
    };
    static const std::array<Slot, kSlots> kTable = [&hash] {
        std::array<Slot, kSlots> table{};
        for (const auto &[tag, flag] : kFlags) {
            std::size_t at = hash(tag) % kSlots;
            while (!table[at].name.empty())
                at = (at + 1) % kSlots;
            table[at] = {tag, flag};
        }
        return table;
    }();
    for (std::size_t at = hash(name) % kSlots; !kTable[at].name.empty(); at = (at + 1) % kSlots) {
        if (Is(kTable[at].name, name))
            return kTable[at].flags;
    }
    return 0;
}

bool IsWhitespace(std::string_view text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; });
}

// Text a script unscrambles on the page: what it holds is not what the
// visitor reads.
bool IsRot13Scrambled(const Attributes &attributes)
{
    for (const std::string_view name : {"class", "id"}) {
        const std::string *value = FindAttribute(attributes, name);
        if (value == nullptr)
            continue;
        for (const std::string_view marker : {"rot13", "rot-13", "rot_13"}) {
            const std::string_view text(*value);
            for (std::size_t at = 0; at + marker.size() <= text.size(); ++at) {
                if (EqualsIgnoreCase(text.substr(at, marker.size()), marker))
                    return true;
            }
        }
    }
    return false;
}

enum class MarkedKind { None, Mail, Phone };

// An itemprop or property value naming a telephone number or an address:
// "telephone", "schema:telephone", "http://schema.org/email", "vcard:tel".
MarkedKind MarkedValueKind(std::string_view names)
{
    std::size_t start = 0;
    while (start < names.size()) {
        std::size_t end = names.find_first_of(" \t\r\n\f", start);
        if (end == std::string_view::npos)
            end = names.size();
        const std::string_view name = names.substr(start, end - start);
        start = end + 1;
        const std::size_t cut = name.find_last_of(":/#");
        const std::string_view term = cut == std::string_view::npos ? name : name.substr(cut + 1);
        if (term == "telephone" || (term == "tel" && cut != std::string_view::npos))
            return MarkedKind::Phone;
        if (term == "email")
            return MarkedKind::Mail;
    }
    return MarkedKind::None;
}

// Words in a form's action, id, class or name that make it something other
// than a contact form, however many fields it has.
bool NamesOtherForm(std::string_view lower)
{
    for (std::string_view word : {"newsletter", "subscribe", "list-manage", "mailchimp", "review", "comment",
                                  "login", "log-in", "cart"}) {
        if (lower.find(word) != std::string_view::npos)
            return true;
    }
    for (std::size_t at = lower.find("search"); at != std::string_view::npos; at = lower.find("search", at + 1)) {
        if (at < 2 || lower.substr(at - 2, 2) != "re")   // not "research"
            return true;
    }
    // "abo", "newsletter-abo", "abonnieren", "s'abonner"; never "about".
    for (std::size_t at = lower.find("abo"); at != std::string_view::npos; at = lower.find("abo", at + 1)) {
        const std::size_t end = at + 3;
        if (end == lower.size() || !std::isalpha(static_cast<unsigned char>(lower[end])) ||
            lower.substr(end, 2) == "nn")
            return true;
    }
    return false;
}

// A field for the sender's address or number, by its type or its name.
bool IsReplyField(const Attributes &input)
{
    const std::string type = LowerAttribute(input, "type");
    if (type == "email" || type == "tel")
        return true;
    if (!type.empty() && type != "text")
        return false;
    for (const char *name : {"name", "id", "autocomplete"}) {
        const std::string value = LowerAttribute(input, name);
        for (std::string_view word : {"mail", "phone", "telef", "tel"}) {
            const std::size_t at = value.find(word);
            if (at == std::string::npos)
                continue;
            const std::size_t end = at + word.size();
            // "tel" alone as a word: not "hotel", "title".
            if (word != "tel" || ((at == 0 || !std::isalpha(static_cast<unsigned char>(value[at - 1]))) &&
                                  (end == value.size() || !std::isalpha(static_cast<unsigned char>(value[end])))))
                return true;
        }
    }
    return false;
}

// Two addresses of one page: the same but for a trailing slash (the
// fragment is already gone).
std::string PageKey(std::string_view url)
{
    const std::size_t query = std::min(url.find('?'), url.size());
    std::string key(url.substr(0, query));
    if (!key.empty() && key.back() == '/')
        key.pop_back();
    key += url.substr(query);
    return key;
}

// Whether an address or link text could make ContactPagePriority say yes,
// once resolved and lower-cased: it holds one of its words in any case, or a
// "%" or a blank that resolving could turn into one.
bool MayNameContactPage(std::string_view text)
{
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '%' || c == '\t' || c == '\n' || c == '\r')
            return true;
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != 'c' && lower != 'k' && lower != 'i' && lower != 'a')
            continue;
        for (const std::string_view word : {"contact", "kontakt", "impressum", "imprint", "about"}) {
            if (word[0] == lower && at + word.size() <= text.size() &&
                EqualsIgnoreCase(text.substr(at, word.size()), word))
                return true;
        }
    }
    return false;
}

// Where a link leads among the pages worth reading for contact data: 0 for
// a contact or imprint page, 1 for an about page, -1 for any other.
int ContactPagePriority(std::string_view lowerText)
{
    for (std::string_view word : {"contact", "kontakt", "impressum", "imprint"}) {
        if (lowerText.find(word) != std::string_view::npos)
            return 0;
    }
    return lowerText.find("about") != std::string_view::npos ? 1 : -1;
}

bool IsDocumentFile(std::string_view lowerPath)
{
    lowerPath = lowerPath.substr(0, lowerPath.find('?'));
    for (std::string_view extension : {".pdf", ".jpg", ".jpeg", ".png", ".gif", ".svg", ".webp", ".zip",
                                       ".doc", ".docx", ".mp3", ".mp4", ".vcf"}) {
        if (lowerPath.size() >= extension.size() &&
            lowerPath.compare(lowerPath.size() - extension.size(), extension.size(), extension) == 0)
            return true;
    }
    return false;
}

struct PageCandidate {
    int priority = 0;
    std::string url;
};

// An element the finder acts on, with what it needs of the element's
// content gathered while the page streams past. The elements are acted on
// in page order once the page is read, so that items come in the order a
// walk of the page's tree would find them.
struct ElementRecord {
    std::string name;
    Attributes attributes;
    std::size_t hidden = 0;   // open elements whose text is not read, when it opened
    bool scrambled = false;
    bool marked = false;      // one of the page's first marked values
    // Its subtree as it streams past, the element itself the first node.
    std::size_t nodes = 1;
    bool wantsVisibleText = false;
    bool wantsLinkText = false;
    bool wantsFields = false;
    bool wantsScript = false;
    std::string visibleText;   // what a visitor reads of it (no image descriptions)
    std::string linkText;      // its text with image descriptions
    bool message = false;
    bool reply = false;
    bool password = false;
    std::string script;
};

struct OpenElement {
    std::string name;
    unsigned flags = 0;   // TagFlags of its name
    bool hides = false;
    bool foreign = false;
    std::size_t record = kNoRecord;
    std::size_t closingBreaks = 0;   // line breaks of elements taken off the stack inside it
    std::size_t serial = 0;          // tells clones of one formatting element apart

    static constexpr std::size_t kNoRecord = static_cast<std::size_t>(-1);
};

enum class FormKind { NotForVisitors, ForVisitors };

// A contact form: a text area for the message and a field for the way to
// reply, no password field (log-in and sign-up forms have one), and nothing
// in its names saying newsletter, review, comment, search, log-in or cart.
FormKind ClassifyForm(const ElementRecord &form)
{
    for (const char *name : {"action", "id", "class", "name"}) {
        if (NamesOtherForm(LowerAttribute(form.attributes, name)))
            return FormKind::NotForVisitors;
    }
    return form.message && form.reply && !form.password ? FormKind::ForVisitors : FormKind::NotForVisitors;
}

enum class Phase { BeforeHead, InHead, AfterHead, InBody };

bool Nowhere(const OpenElement &)
{
    return false;
}

bool ScopeBoundary(const OpenElement &open)
{
    return (open.flags & kScopeBoundary) != 0;
}

bool ButtonScopeBoundary(const OpenElement &open)
{
    return (open.flags & kScopeBoundary) || Is(open.name, "button");
}

class PageReader final {
public:
    explicit PageReader(std::string pageUrl)
        : m_pageUrl(std::move(pageUrl))
        , m_baseUrl(m_pageUrl)
        , m_pageHost(UrlHost(m_pageUrl))
        , m_region(PhoneRegion("", m_pageHost))
    {
    }

    // One pass over the tokens keeps a light model of the open elements:
    // enough to tell visible text from hidden, where an element's content
    // ends and where block elements break the text.
    void Read(std::string_view html)
    {
        HtmlTokenizer tokenizer(html);
        m_tokenizer = &tokenizer;
        m_records.reserve(html.size() / 256);
        ElementRecord root;
        root.name = "html";
        root.wantsVisibleText = true;
        m_records.push_back(std::move(root));
        m_active.push_back(0);
        m_open.push_back({"html", TagFlags("html"), false, false, 0});
        m_text += '\n';
        HtmlToken token;
        for (tokenizer.Next(token); token.kind != HtmlTokenKind::End; tokenizer.Next(token)) {
            switch (token.kind) {
            case HtmlTokenKind::Text: Text(token.text); break;
            case HtmlTokenKind::StartTag: Start(token); break;
            case HtmlTokenKind::EndTag: End(token.name); break;
            case HtmlTokenKind::Comment:
                SeeNode(nullptr, nullptr, nullptr);
                m_pendingText = m_text.size();
                break;
            case HtmlTokenKind::End: break;
            }
        }
        CloseTo(0);
        m_tokenizer = nullptr;
        for (ElementRecord &record : m_records)
            Act(record);
        for (const std::string &address : FindMailAddresses(m_text))
            Add(ContactKind::Mail, address);
        for (const FoundPhone &phone : FindLabelledPhoneNumbers(m_text, m_region))
            Add(ContactKind::Phone, phone.number, phone.e164);
    }

    PageContacts Result()
    {
        PageContacts result;
        for (ContactKind kind : {ContactKind::Mail, ContactKind::Phone, ContactKind::Form}) {
            for (ContactItem &item : m_items) {
                if (item.kind == kind && result.items.size() < kMaxContactItems)
                    result.items.push_back(std::move(item));
            }
        }
        std::stable_sort(m_candidates.begin(), m_candidates.end(),
                         [](const PageCandidate &a, const PageCandidate &b) { return a.priority < b.priority; });
        for (PageCandidate &candidate : m_candidates) {
            if (result.pages.size() == kMaxContactPages)
                break;
            const std::string key = PageKey(candidate.url);
            if (std::none_of(result.pages.begin(), result.pages.end(),
                             [&key](const std::string &page) { return PageKey(page) == key; }))
                result.pages.push_back(std::move(candidate.url));
        }
        return result;
    }

private:
    // ------------------------------------------------ the element model

    void Start(HtmlToken &token)
    {
        std::string name = Is(token.name, "image") ? std::string("img") : std::move(token.name);
        const unsigned flags = TagFlags(name);
        if (Is(name, "html")) {
            // Its attributes join those of the page's root.
            Attributes &root = m_records.front().attributes;
            for (auto &attribute : token.attributes) {
                if (!FindAttribute(root, attribute.first))
                    root.push_back(std::move(attribute));
            }
            return;
        }
        if (m_foreignDepth > 0) {
            if (!(flags & kLeavesForeign)) {
                Open(std::move(name), std::move(token.attributes), token.selfClosing, Hidden::AsIs, true);
                return;
            }
            while (m_open.size() > 1 && m_open.back().foreign)
                CloseTo(m_open.size() - 1);
        }
        if (m_phase != Phase::InBody && m_templateDepth == 0) {
            if (Is(name, "head")) {
                if (m_phase == Phase::BeforeHead)
                    OpenHead(std::move(token.attributes));
                return;
            }
            if (flags & kBelongsInHead) {
                if (m_phase == Phase::BeforeHead)
                    OpenHead({});
                // After the head, the parser still puts these into it.
                const Hidden hidden = m_phase == Phase::AfterHead ? Hidden::InHead : Hidden::AsIs;
                Open(std::move(name), std::move(token.attributes), token.selfClosing, hidden, false);
                return;
            }
            StartBody();
            if (Is(name, "body")) {
                Open(std::move(name), std::move(token.attributes), false, Hidden::AsIs, false);
                return;
            }
            Open("body", {}, false, Hidden::AsIs, false);
        } else if (Is(name, "body") || Is(name, "head")) {
            return;
        }
        StartInBody(std::move(name), std::move(token.attributes), token.selfClosing);
    }

    void StartInBody(std::string name, Attributes attributes, bool selfClosing)
    {
        if (m_selectDepth > 0) {
            if (Is(name, "select") || Is(name, "input") || Is(name, "keygen") || Is(name, "textarea")) {
                CloseNearest({"select"}, Nowhere);
                if (Is(name, "select"))
                    return;
            } else if (Is(name, "option") || Is(name, "optgroup")) {
                if (Is(m_open.back().name, "option"))
                    CloseTo(m_open.size() - 1);
                if (Is(name, "optgroup") && Is(m_open.back().name, "optgroup"))
                    CloseTo(m_open.size() - 1);
                Open(std::move(name), std::move(attributes), false, Hidden::AsIs, false);
                return;
            } else if (!Is(name, "script") && !Is(name, "template") && !Is(name, "style")) {
                return;   // the parser drops other tags in a list box
            }
        }
        const unsigned flags = TagFlags(name);
        const auto nonListBlock = [](const OpenElement &open) {
            return (open.flags & kScopeBoundary) ||
                   ((open.flags & kSpecial) && !Is(open.name, "address") && !Is(open.name, "div") && !Is(open.name, "p"));
        };
        if (Is(name, "li"))
            CloseNearest({"li"}, nonListBlock);
        else if (Is(name, "dd") || Is(name, "dt"))
            CloseNearest({"dd", "dt"}, nonListBlock);
        if (flags & kClosesParagraph)
            CloseNearest({"p"}, ButtonScopeBoundary);
        if ((flags & kHeading) && (m_open.back().flags & kHeading))
            CloseTo(m_open.size() - 1);
        const auto table = [](const OpenElement &open) { return Is(open.name, "table") || Is(open.name, "template"); };
        if ((flags & kTablePart) && !Is(name, "table") && m_tableDepth == 0)
            return;   // table parts outside a table are dropped
        if (Is(name, "button") || Is(name, "nobr")) {
            const std::string_view same = name;
            CloseNearest({same}, ScopeBoundary);
        } else if (Is(name, "form")) {
            if (m_formDepth > 0 && m_templateDepth == 0)
                return;   // forms do not nest
        } else if (Is(name, "option") || Is(name, "optgroup")) {
            if (Is(m_open.back().name, "option"))
                CloseTo(m_open.size() - 1);
        } else if (Is(name, "td") || Is(name, "th")) {
            CloseNearest({"td", "th"}, table);
        } else if (Is(name, "tr")) {
            CloseNearest({"tr"}, table);
        } else if (Is(name, "tbody") || Is(name, "thead") || Is(name, "tfoot")) {
            CloseNearest({"tbody", "thead", "tfoot"}, table);
        } else if (Is(name, "table")) {
            CloseNearest({"table"}, [](const OpenElement &open) {
                return Is(open.name, "td") || Is(open.name, "th") || Is(open.name, "caption") || Is(open.name, "template");
            });
        }
        if (Is(name, "a")) {
            // An open link ends where the next one starts.
            if (const std::size_t entry = FindFormatting("a"); entry != kNone) {
                EndFormatting(entry);
                RemoveFormatting("a");
            }
        }
        if (Reconstructs(flags, name))
            Reconstruct();
        const bool foreign = Is(name, "svg") || Is(name, "math");
        if ((flags & kFormatting) && !foreign) {
            AddFormatting(name, attributes);
            m_formatting.back().serial = Open(std::move(name), std::move(attributes), selfClosing, Hidden::AsIs, false);
            return;
        }
        Open(std::move(name), std::move(attributes), selfClosing, Hidden::AsIs, foreign);
        if (m_open.back().flags & kMarker)
            m_formatting.push_back({});   // a marker
    }

    // ------------------------------------------------ formatting elements

    // Formatting elements (b, font, a, ...) closed by the end of a block are
    // opened again, with the same attributes, before the next text or
    // inline element, as the parser's list of active formatting elements
    // does; "</b>" across a block takes only the b off the stack.
    struct Formatting {
        std::string name;   // "" for a marker (table cell, template...)
        Attributes attributes;
        std::size_t serial = 0;
    };
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    static bool Reconstructs(unsigned flags, std::string_view name)
    {
        if (flags & (kClosesParagraph | kBelongsInHead | kTablePart))
            return Is(name, "xmp");
        return !(flags & kNoReconstruct);
    }

    std::size_t OpenIndex(std::size_t serial) const
    {
        for (std::size_t i = m_open.size(); i > 0; --i) {
            if (m_open[i - 1].serial == serial)
                return i - 1;
        }
        return kNone;
    }

    void AddFormatting(const std::string &name, const Attributes &attributes)
    {
        // At most three alike after the last marker.
        std::size_t alike = 0;
        std::size_t earliest = kNone;
        for (std::size_t i = m_formatting.size(); i > 0 && !m_formatting[i - 1].name.empty(); --i) {
            if (m_formatting[i - 1].name == name && m_formatting[i - 1].attributes == attributes) {
                ++alike;
                earliest = i - 1;
            }
        }
        if (alike >= 3)
            m_formatting.erase(m_formatting.begin() + static_cast<std::ptrdiff_t>(earliest));
        m_formatting.push_back({name, attributes, 0});
    }

    // The last entry of that name after the last marker, or kNone.
    std::size_t FindFormatting(std::string_view name) const
    {
        for (std::size_t i = m_formatting.size(); i > 0 && !m_formatting[i - 1].name.empty(); --i) {
            if (Is(m_formatting[i - 1].name, name))
                return i - 1;
        }
        return kNone;
    }

    void RemoveFormatting(std::string_view name)
    {
        if (const std::size_t entry = FindFormatting(name); entry != kNone)
            m_formatting.erase(m_formatting.begin() + static_cast<std::ptrdiff_t>(entry));
    }

    void Reconstruct()
    {
        if (m_formatting.empty() || m_formatting.back().name.empty() ||
            OpenIndex(m_formatting.back().serial) != kNone)
            return;
        std::size_t first = m_formatting.size() - 1;
        while (first > 0 && !m_formatting[first - 1].name.empty() &&
               OpenIndex(m_formatting[first - 1].serial) == kNone)
            --first;
        for (std::size_t i = first; i < m_formatting.size(); ++i) {
            Formatting &entry = m_formatting[i];
            entry.serial = Open(entry.name, entry.attributes, false, Hidden::AsIs, false);
        }
    }

    // "</b>": with no block opened inside the b, everything up to it closes;
    // else only the b leaves the stack and the block goes on.
    void EndFormatting(std::size_t entry)
    {
        const std::size_t index = OpenIndex(m_formatting[entry].serial);
        if (index == kNone) {
            m_formatting.erase(m_formatting.begin() + static_cast<std::ptrdiff_t>(entry));
            return;
        }
        for (std::size_t i = m_open.size(); i > index + 1; --i) {
            if (m_open[i - 1].flags & kScopeBoundary)
                return;   // out of scope: ignored
        }
        m_formatting.erase(m_formatting.begin() + static_cast<std::ptrdiff_t>(entry));
        const bool block = std::any_of(m_open.begin() + static_cast<std::ptrdiff_t>(index) + 1, m_open.end(),
                                       [](const OpenElement &open) { return (open.flags & kSpecial) != 0; });
        if (!block) {
            CloseTo(index);
            return;
        }
        Leave(m_open[index]);
        m_open.erase(m_open.begin() + static_cast<std::ptrdiff_t>(index));
    }

    void End(const std::string &name)
    {
        if (m_phase != Phase::InBody && m_templateDepth == 0) {
            if (Is(name, "head") && m_phase == Phase::InHead) {
                CloseNearest({"head"}, Nowhere);
                m_phase = Phase::AfterHead;
                return;
            }
            if (!Is(name, "body") && !Is(name, "html") && !Is(name, "br")) {
                CloseNearest({name}, [](const OpenElement &open) { return Is(open.name, "head"); });
                return;
            }
            StartBody();
            Open("body", {}, false, Hidden::AsIs, false);
        }
        if (Is(name, "html") || Is(name, "body"))
            return;   // text after them still belongs to the body
        if (Is(name, "br")) {
            Open("br", {}, false, Hidden::AsIs, false);
            return;
        }
        if (Is(name, "form") && m_templateDepth == 0) {
            EndForm();
            return;
        }
        if (Is(name, "p") && !IsOpen("p", ButtonScopeBoundary)) {
            // A stray "</p>" makes an empty paragraph.
            Open("p", {}, false, Hidden::AsIs, false);
            CloseTo(m_open.size() - 1);
            return;
        }
        const unsigned flags = TagFlags(name);
        const std::string_view target = name;
        if (flags & kTablePart) {
            CloseNearest({target}, [](const OpenElement &open) { return Is(open.name, "table") || Is(open.name, "template"); });
        } else if ((flags & kFormatting) && m_foreignDepth == 0) {
            if (const std::size_t entry = FindFormatting(name); entry != kNone)
                EndFormatting(entry);
            else
                CloseNearest({target}, [](const OpenElement &open) { return (open.flags & kSpecial) != 0; });
        } else if ((flags & kSpecial) || m_foreignDepth > 0) {
            CloseNearest({target}, ScopeBoundary);
        } else {
            CloseNearest({target}, [](const OpenElement &open) { return (open.flags & kSpecial) != 0; });
        }
    }

    void Text(std::string &text)
    {
        const bool whitespace = IsWhitespace(text);
        if (m_phase == Phase::BeforeHead && whitespace)
            return;   // the parser drops it
        // Text in the head's own elements (title, script, style) stays there;
        // any other starts the body.
        const std::string &currentName = m_open.back().name;
        if (m_phase != Phase::InBody && !whitespace && m_templateDepth == 0 &&
            (Is(currentName, "head") || Is(currentName, "noscript") || Is(currentName, "html"))) {
            StartBody();
            Open("body", {}, false, Hidden::AsIs, false);
        }
        if (m_phase == Phase::InBody && m_selectDepth == 0 && m_foreignDepth == 0 &&
            !(m_open.back().flags & kRawText))
            Reconstruct();
        SeeNode(nullptr, nullptr, &text);
        if (m_hidden == 0)
            m_text += text;
        const OpenElement &current = m_open.back();
        if (current.record != OpenElement::kNoRecord && m_records[current.record].wantsScript)
            m_records[current.record].script += text;
    }

    // "</form>" takes the form off the stack, where it may not be on top,
    // without placing the text written just before it: that text lands in
    // the form's parent, after the form.
    void EndForm()
    {
        std::size_t index = m_open.size();
        while (index > 1 && !Is(m_open[index - 1].name, "form")) {
            if (m_open[index - 1].flags & kScopeBoundary)
                return;
            --index;
        }
        if (index <= 1)
            return;
        const std::size_t form = index - 1;
        while (m_open.size() - 1 > form &&
               IsOneOf(m_open.back().name, {"dd", "dt", "li", "optgroup", "option", "p", "rb", "rp", "rt", "rtc"}))
            CloseTo(m_open.size() - 1);
        const std::size_t breaks = 1 + m_open[form].closingBreaks;
        if (form == m_open.size() - 1) {
            m_text.insert(m_pendingText, breaks, '\n');
            m_open[form].closingBreaks = 0;
            m_open[form].flags |= kInline;   // its break is placed
            CloseTo(form);
            m_pendingText = m_text.size();
            return;
        }
        m_open[form + 1].closingBreaks += breaks;
        Leave(m_open[form]);
        m_open.erase(m_open.begin() + static_cast<std::ptrdiff_t>(form));
    }

    void OpenHead(Attributes attributes)
    {
        Open("head", std::move(attributes), false, Hidden::AsIs, false);
        m_phase = Phase::InHead;
    }

    // Leaves the head (closing what is open in it) for the body.
    void StartBody()
    {
        if (m_phase == Phase::InHead)
            CloseNearest({"head"}, Nowhere);
        m_phase = Phase::InBody;
    }

    enum class Hidden { AsIs, InHead };

    // Returns the element's serial number.
    std::size_t Open(std::string name, Attributes attributes, bool selfClosing, Hidden hiddenBy, bool foreign)
    {
        const std::size_t serial = ++m_serial;
        SeeNode(&name, &attributes, nullptr);
        const unsigned flags = TagFlags(name);
        const bool isVoid = (flags & kVoid) || (foreign && selfClosing);
        const std::size_t hidden = m_hidden + (hiddenBy == Hidden::InHead ? 1 : 0);
        const bool scrambled = IsRot13Scrambled(attributes);
        const std::size_t record = Record(name, std::move(attributes), hidden, scrambled);
        const bool block = !(flags & kInline);
        if (block)
            m_text += '\n';
        m_pendingText = m_text.size();
        if (isVoid) {
            if (block)
                m_text += '\n';
            return serial;
        }
        OpenElement element{std::move(name), flags, false, foreign, record};
        element.serial = serial;
        element.hides = (flags & kHidesText) || scrambled || hiddenBy == Hidden::InHead;
        if (element.hides)
            ++m_hidden;
        Count(element, 1);
        m_tokenizer->Opened(element.name);
        if (record != OpenElement::kNoRecord)
            m_active.push_back(record);
        m_open.push_back(std::move(element));
        return serial;
    }

    // Pops the element at index and all opened after it.
    void CloseTo(std::size_t index)
    {
        while (m_open.size() > index) {
            const OpenElement &element = m_open.back();
            if (!(element.flags & kInline))
                m_text += '\n';
            m_text.append(element.closingBreaks, '\n');
            m_pendingText = m_text.size();
            Leave(element);
            if (element.flags & kMarker) {
                while (!m_formatting.empty()) {
                    const bool marker = m_formatting.back().name.empty();
                    m_formatting.pop_back();
                    if (marker)
                        break;
                }
            }
            m_open.pop_back();
        }
    }

    // Undoes what opening element did to the reader's state; the caller
    // removes it from the open elements.
    void Leave(const OpenElement &element)
    {
        if (element.hides)
            --m_hidden;
        Count(element, -1);
        if (element.record != OpenElement::kNoRecord) {
            const auto at = std::find(m_active.begin(), m_active.end(), element.record);
            if (at != m_active.end())
                m_active.erase(at);
        }
    }

    void Count(const OpenElement &element, int step)
    {
        const auto apply = [step](std::size_t &depth) { depth = static_cast<std::size_t>(static_cast<long>(depth) + step); };
        if (element.foreign) {
            apply(m_foreignDepth);
            m_tokenizer->SetForeign(m_foreignDepth > 0);
        }
        if (Is(element.name, "select"))
            apply(m_selectDepth);
        else if (Is(element.name, "form"))
            apply(m_formDepth);
        else if (Is(element.name, "template"))
            apply(m_templateDepth);
        else if (Is(element.name, "table"))
            apply(m_tableDepth);
    }

    // Closes the nearest open element named in names, unless one for which
    // stop is true comes first.
    template <typename Stop>
    void CloseNearest(std::initializer_list<std::string_view> names, Stop stop)
    {
        for (std::size_t i = m_open.size(); i > 1; --i) {
            const OpenElement &open = m_open[i - 1];
            if (IsOneOf(open.name, names)) {
                CloseTo(i - 1);
                return;
            }
            if (stop(open))
                return;
        }
    }

    template <typename Stop>
    bool IsOpen(std::string_view name, Stop stop) const
    {
        for (std::size_t i = m_open.size(); i > 1; --i) {
            if (m_open[i - 1].name == name)
                return true;
            if (stop(m_open[i - 1]))
                return false;
        }
        return false;
    }

    // ------------------------------------------------ what elements hold

    // A record for an element the finder acts on, or kNoRecord.
    std::size_t Record(const std::string &name, Attributes attributes, std::size_t hidden, bool scrambled)
    {
        ElementRecord record;
        if (hidden == 0 && m_markedValues < kMaxMarkedValues) {
            const std::string *itemprop = FindAttribute(attributes, "itemprop");
            const std::string *property = FindAttribute(attributes, "property");
            MarkedKind kind = itemprop ? MarkedValueKind(LowerCase(*itemprop)) : MarkedKind::None;
            if (kind == MarkedKind::None && property)
                kind = MarkedValueKind(LowerCase(*property));
            if (kind != MarkedKind::None) {
                ++m_markedValues;
                record.marked = true;
                record.wantsVisibleText =
                    !FindAttribute(attributes, "content") && !FindAttribute(attributes, "href");
            }
        }
        if (hidden == 0 && scrambled)
            record.wantsVisibleText = true;
        bool acts = record.marked || scrambled || FindAttribute(attributes, "data-cfemail") || Is(name, "base");
        if (Is(name, "a") || Is(name, "area")) {
            if (FindAttribute(attributes, "href")) {
                acts = true;
                record.wantsLinkText = true;
                record.wantsVisibleText = record.wantsVisibleText || hidden == 0;
            }
        } else if (Is(name, "form")) {
            acts = true;
            record.wantsFields = true;
        } else if (Is(name, "script")) {
            const std::string *type = FindAttribute(attributes, "type");
            if (type && StartsWithIgnoreCase(*type, "application/ld+json")) {
                acts = true;
                record.wantsScript = true;
            }
        }
        if (!acts)
            return OpenElement::kNoRecord;
        record.name = name;
        record.attributes = std::move(attributes);
        record.hidden = hidden;
        record.scrambled = scrambled;
        m_records.push_back(std::move(record));
        return m_records.size() - 1;
    }

    // A node inside the elements being read: an element (name and
    // attributes), text, or neither (a comment).
    void SeeNode(const std::string *name, const Attributes *attributes, const std::string *text)
    {
        if (m_active.empty())
            return;
        const bool parentHides = m_open.empty() || (m_open.back().flags & kHidesText);
        const bool whitespace = text != nullptr && IsWhitespace(*text);
        for (const std::size_t index : m_active) {
            ElementRecord &record = m_records[index];
            ++record.nodes;
            if (record.nodes > kMaxLinkText) {
                record.wantsVisibleText = false;
                record.wantsLinkText = false;
            }
            if (name != nullptr) {
                if (record.wantsLinkText && Is(*name, "img")) {
                    if (const std::string *alt = FindAttribute(*attributes, "alt"))
                        AppendCapped(record.linkText, *alt, record.wantsLinkText);
                }
                if (record.wantsFields && record.nodes <= kMaxFormNodes && !record.password) {
                    if (Is(*name, "textarea")) {
                        record.message = true;
                    } else if (Is(*name, "input")) {
                        record.password = Is(LowerAttribute(*attributes, "type"), "password");
                        record.reply = record.reply || IsReplyField(*attributes);
                    }
                }
            } else if (text != nullptr && !whitespace) {
                if (record.wantsVisibleText && !parentHides)
                    AppendCapped(record.visibleText, *text, record.wantsVisibleText);
                if (record.wantsLinkText)
                    AppendCapped(record.linkText, *text, record.wantsLinkText);
            }
        }
    }

    // The text gathered for a link or value stops once it is long enough.
    static void AppendCapped(std::string &text, const std::string &more, bool &wanted)
    {
        text += more;
        if (text.size() >= kMaxLinkText)
            wanted = false;
    }

    // ------------------------------------------------ acting in page order

    void Act(ElementRecord &record)
    {
        const Attributes &attributes = record.attributes;
        if (record.hidden == 0 && record.marked)
            Marked(record);
        if (const std::string *code = FindAttribute(attributes, "data-cfemail"))
            Cloudflare(*code);
        if (record.hidden == 0 && record.scrambled) {
            for (const std::string &address : FindMailAddresses(Rot13(VisibleText(record))))
                Add(ContactKind::Mail, address);
        }
        if (Is(record.name, "html")) {
            if (const std::string *lang = FindAttribute(attributes, "lang"))
                m_region = PhoneRegion(*lang, m_pageHost);
        } else if (Is(record.name, "base")) {
            if (!m_baseSeen) {
                m_baseSeen = true;
                if (const std::string *href = FindAttribute(attributes, "href"))
                    m_baseUrl = ResolveUrl(m_pageUrl, *href).value_or(m_pageUrl);
            }
        } else if (Is(record.name, "a") || Is(record.name, "area")) {
            if (const std::string *href = FindAttribute(attributes, "href"))
                Link(record, *href);
        } else if (Is(record.name, "form")) {
            Form(record);
        } else if (Is(record.name, "script") && record.wantsScript) {
            JsonLd(record.script);
        }
    }

    static std::string VisibleText(const ElementRecord &record)
    {
        return record.visibleText.substr(0, kMaxLinkText);
    }

    void Link(const ElementRecord &record, std::string_view href)
    {
        while (!href.empty() && static_cast<unsigned char>(href.front()) <= 0x20)
            href.remove_prefix(1);
        if (StartsWithIgnoreCase(href, "mailto:")) {
            MailTo(href.substr(7));
            return;
        }
        if (StartsWithIgnoreCase(href, "tel:")) {
            if (std::optional<std::string> number = NormalisePhoneNumber(PercentDecode(href.substr(4), PlusSign::Kept)))
                AddPhone(*number);
            return;
        }
        // Cloudflare's e-mail protection; "mailto:" went into the code.
        constexpr std::string_view kProtection = "/cdn-cgi/l/email-protection#";
        if (const std::size_t at = href.find(kProtection); at != std::string_view::npos) {
            Cloudflare(href.substr(at + kProtection.size()));
            return;
        }
        // A number a visitor sees inside a link is one.
        if (record.hidden == 0 && m_phoneSnippets < kMaxPhoneSnippets) {
            const std::string text = VisibleText(record);
            if (std::any_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
                ++m_phoneSnippets;
                for (const FoundPhone &phone : FindPhoneNumbers(text, m_region))
                    Add(ContactKind::Phone, phone.number, phone.e164);
            }
        }
        if (m_candidates.size() >= kMaxPageCandidates)
            return;
        // Most links name no such page in their address or text: resolving
        // them would find nothing.
        if (!MayNameContactPage(m_baseUrl) && !MayNameContactPage(href) && !MayNameContactPage(record.linkText))
            return;
        const std::optional<std::string> url = ResolveUrl(m_baseUrl, href);
        if (!url || PageKey(*url) == PageKey(m_pageUrl) || !SameRegistrableDomain(m_pageHost, UrlHost(*url)))
            return;
        const std::string path = LowerCase(UrlPathAndQuery(*url));
        if (IsDocumentFile(path))
            return;
        int priority = ContactPagePriority(path);
        const int textPriority = ContactPagePriority(LowerCase(record.linkText));
        if (priority < 0 || (textPriority >= 0 && textPriority < priority))
            priority = textPriority;
        if (priority >= 0)
            m_candidates.push_back({priority, *url});
    }

    // A "data-cfemail" value, or the code after a protected link's "#".
    void Cloudflare(std::string_view code)
    {
        const std::optional<std::string> decoded = DecodeCloudflareEmail(code);
        if (!decoded)
            return;
        std::string_view target = *decoded;
        if (StartsWithIgnoreCase(target, "mailto:"))
            target.remove_prefix(7);
        MailTo(target);
    }

    // An element marked up as a telephone number or address by microdata
    // (itemprop) or RDFa (property): its content attribute, its link or
    // its text.
    void Marked(const ElementRecord &record)
    {
        const std::string *itemprop = FindAttribute(record.attributes, "itemprop");
        const std::string *property = FindAttribute(record.attributes, "property");
        MarkedKind kind = itemprop ? MarkedValueKind(LowerCase(*itemprop)) : MarkedKind::None;
        if (kind == MarkedKind::None && property)
            kind = MarkedValueKind(LowerCase(*property));
        std::string value;
        if (const std::string *content = FindAttribute(record.attributes, "content"))
            value = *content;
        else if (const std::string *href = FindAttribute(record.attributes, "href"))
            value = PercentDecode(*href, PlusSign::Kept);
        else
            value = VisibleText(record);
        if (kind == MarkedKind::Mail) {
            if (std::optional<std::string> address = NormaliseMailAddress(value)) {
                Add(ContactKind::Mail, *address);
                return;
            }
            for (const std::string &address : FindMailAddresses(value.substr(0, kMaxLinkText)))
                Add(ContactKind::Mail, address);
            return;
        }
        if (std::optional<std::string> number = NormalisePhoneNumber(value)) {
            AddPhone(*number);
            return;
        }
        if (m_phoneSnippets >= kMaxPhoneSnippets)
            return;
        ++m_phoneSnippets;
        for (const FoundPhone &phone : FindPhoneNumbers(value, m_region))
            Add(ContactKind::Phone, phone.number, phone.e164);
    }

    // "a@x.test,b@x.test?subject=..." after "mailto:".
    void MailTo(std::string_view target)
    {
        const std::string addresses = PercentDecode(target.substr(0, target.find('?')), PlusSign::Kept);
        std::size_t start = 0;
        while (start <= addresses.size()) {
            std::size_t end = addresses.find_first_of(",;", start);
            if (end == std::string::npos)
                end = addresses.size();
            if (std::optional<std::string> address = NormaliseMailAddress(addresses.substr(start, end - start)))
                Add(ContactKind::Mail, *address);
            start = end + 1;
        }
    }

    void Form(const ElementRecord &record)
    {
        const std::string *action = FindAttribute(record.attributes, "action");
        const std::string_view target = action ? std::string_view(*action) : std::string_view();
        if (StartsWithIgnoreCase(target, "mailto:")) {
            MailTo(target.substr(7));
            return;
        }
        if (ClassifyForm(record) == FormKind::NotForVisitors)
            return;
        // A form without a target sends to its own page, whatever <base> says.
        const bool ownPage = target.find_first_not_of(" \t\r\n\f") == std::string_view::npos;
        if (const std::optional<std::string> url = ResolveUrl(ownPage ? m_pageUrl : m_baseUrl, target))
            Add(ContactKind::Form, *url);
    }

    void JsonLd(const std::string &text)
    {
        if (text.size() > kMaxJsonLdSize)
            return;
        const nlohmann::json data = nlohmann::json::parse(text, nullptr, false);
        if (data.is_discarded())
            return;
        std::vector<const nlohmann::json *> stack{&data};
        std::size_t seen = 0;
        while (!stack.empty() && seen++ < kMaxJsonValues) {
            const nlohmann::json *value = stack.back();
            stack.pop_back();
            if (value->is_array()) {
                for (auto it = value->rbegin(); it != value->rend(); ++it)
                    stack.push_back(&*it);
                continue;
            }
            if (!value->is_object())
                continue;
            for (auto it = value->begin(); it != value->end(); ++it) {
                if (it.key() == "email")
                    JsonLdValues(it.value(), ContactKind::Mail);
                else if (it.key() == "telephone")
                    JsonLdValues(it.value(), ContactKind::Phone);
                else if (it.value().is_structured())
                    stack.push_back(&it.value());
            }
        }
    }

    // A string, or an array of strings, under "email" or "telephone".
    void JsonLdValues(const nlohmann::json &value, ContactKind kind)
    {
        constexpr std::size_t kMaxValues = 16;
        std::size_t taken = 0;
        const auto take = [&](const nlohmann::json &one) {
            if (!one.is_string() || taken++ >= kMaxValues)
                return;
            const std::string &text = one.get_ref<const std::string &>();
            const std::optional<std::string> normal =
                kind == ContactKind::Mail ? NormaliseMailAddress(text) : NormalisePhoneNumber(text);
            if (normal && kind == ContactKind::Phone)
                AddPhone(*normal);
            else if (normal)
                Add(kind, *normal);
        };
        if (value.is_array()) {
            for (const nlohmann::json &one : value)
                take(one);
        } else {
            take(value);
        }
    }

    // A number as written, keyed by its E.164 form when it reads as one.
    void AddPhone(const std::string &number)
    {
        Add(ContactKind::Phone, number, PhoneE164(number, m_region));
    }

    void Add(ContactKind kind, const std::string &value, std::string e164 = {})
    {
        ContactItem added{kind, value, kind == ContactKind::Form ? std::string() : m_pageUrl, std::move(e164)};
        const std::string key = ContactKey(added);
        for (const ContactItem &item : m_items) {
            if (ContactKey(item) == key)
                return;
        }
        // Each kind's first items are enough; the kinds are balanced later.
        const auto sameKind = std::count_if(m_items.begin(), m_items.end(),
                                            [kind](const ContactItem &item) { return item.kind == kind; });
        if (static_cast<std::size_t>(sameKind) >= kMaxContactItems)
            return;
        m_items.push_back(std::move(added));
    }

    std::string m_pageUrl;
    std::string m_baseUrl;
    std::string m_pageHost;
    std::string m_region;            // for numbers written without "+"
    bool m_baseSeen = false;
    std::size_t m_hidden = 0;        // open elements whose text is not read
    std::size_t m_phoneSnippets = 0; // link and marked texts given to the matcher
    std::size_t m_markedValues = 0;    // marked elements met while reading
    std::string m_text;
    std::vector<ContactItem> m_items;
    std::vector<PageCandidate> m_candidates;
    HtmlTokenizer *m_tokenizer = nullptr;
    Phase m_phase = Phase::BeforeHead;
    std::vector<OpenElement> m_open;
    std::size_t m_foreignDepth = 0;     // open svg and math elements
    std::size_t m_selectDepth = 0;
    std::size_t m_formDepth = 0;
    std::size_t m_templateDepth = 0;
    std::size_t m_tableDepth = 0;
    std::size_t m_pendingText = 0;      // where text the parser has not yet placed starts
    std::vector<Formatting> m_formatting;
    std::size_t m_serial = 0;
    std::vector<ElementRecord> m_records;
    std::vector<std::size_t> m_active;  // records whose element is open
};


} // namespace

PageContacts ExtractContacts(std::string_view html, std::string_view pageUrl)
{
    const std::optional<std::string> page = ResolveUrl(pageUrl, "");
    if (!page)
        return {};
    PageReader reader(*page);
    reader.Read(html.substr(0, ParseableLength(html)));
    return reader.Result();
}

} // namespace kelvora::directory::facts
