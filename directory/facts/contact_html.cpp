#include <gumbo.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <memory>

#include "directory/core/query.h"
#include "directory/facts/contact_text.h"
#include "directory/facts/contacts.h"
#include "directory/facts/domains.h"
#include "directory/facts/parse_guard.h"
#include "directory/facts/phone_text.h"
#include "directory/facts/url.h"
#include "web/text.h"

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

// ------------------------------------------------------------ the page

const char *Attribute(const GumboElement &element, const char *name)
{
    const GumboAttribute *attribute = gumbo_get_attribute(&element.attributes, name);
    return attribute ? attribute->value : nullptr;
}

bool IsInline(GumboTag tag)
{
    switch (tag) {
    case GUMBO_TAG_A: case GUMBO_TAG_ABBR: case GUMBO_TAG_B: case GUMBO_TAG_BDI: case GUMBO_TAG_BDO:
    case GUMBO_TAG_CITE: case GUMBO_TAG_CODE: case GUMBO_TAG_DATA: case GUMBO_TAG_DFN: case GUMBO_TAG_EM:
    case GUMBO_TAG_FONT: case GUMBO_TAG_I: case GUMBO_TAG_KBD: case GUMBO_TAG_MARK: case GUMBO_TAG_Q:
    case GUMBO_TAG_S: case GUMBO_TAG_SAMP: case GUMBO_TAG_SMALL: case GUMBO_TAG_SPAN: case GUMBO_TAG_STRONG:
    case GUMBO_TAG_SUB: case GUMBO_TAG_SUP: case GUMBO_TAG_TIME: case GUMBO_TAG_U: case GUMBO_TAG_VAR:
    case GUMBO_TAG_BIG: case GUMBO_TAG_TT: case GUMBO_TAG_NOBR:
        return true;
    default:
        return false;
    }
}

// Elements whose text no visitor reads.
bool HidesText(GumboTag tag)
{
    return tag == GUMBO_TAG_SCRIPT || tag == GUMBO_TAG_STYLE || tag == GUMBO_TAG_TEMPLATE ||
           tag == GUMBO_TAG_HEAD || tag == GUMBO_TAG_TEXTAREA || tag == GUMBO_TAG_SELECT;
}

// Visits node's subtree in document order without recursion (pages nest
// deeply), calling visit(node) for every node until it returns false or
// limit nodes were seen.
template <typename Visit>
void WalkSubtree(const GumboNode *root, std::size_t limit, Visit visit)
{
    std::vector<const GumboNode *> stack{root};
    std::size_t seen = 0;
    while (!stack.empty() && seen++ < limit) {
        const GumboNode *node = stack.back();
        stack.pop_back();
        if (!visit(node))
            return;
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE &&
            node->type != GUMBO_NODE_DOCUMENT)
            continue;
        const GumboVector &children =
            node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
        for (unsigned i = children.length; i > 0; --i)
            stack.push_back(static_cast<const GumboNode *>(children.data[i - 1]));
    }
}

std::string SubtreeText(const GumboNode *root)
{
    std::string text;
    WalkSubtree(root, kMaxLinkText, [&text](const GumboNode *node) {
        if (node->type == GUMBO_NODE_TEXT)
            text += node->v.text.text;
        else if (node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == GUMBO_TAG_IMG) {
            if (const char *alt = Attribute(node->v.element, "alt"))
                text += alt;
        }
        return text.size() < kMaxLinkText;
    });
    return LowerCase(std::move(text));
}

// The text of a subtree as a visitor reads it (no image descriptions), up
// to kMaxLinkText bytes, letter case kept.
std::string VisibleSubtreeText(const GumboNode *root)
{
    std::string text;
    WalkSubtree(root, kMaxLinkText, [&text](const GumboNode *node) {
        if (node->type == GUMBO_NODE_ELEMENT && HidesText(node->v.element.tag))
            return true;   // its text nodes follow; skipped below by their parent
        if (node->type == GUMBO_NODE_TEXT && (node->parent == nullptr || node->parent->type != GUMBO_NODE_ELEMENT ||
                                              !HidesText(node->parent->v.element.tag)))
            text += node->v.text.text;
        return text.size() < kMaxLinkText;
    });
    return text.substr(0, kMaxLinkText);
}

std::string LowerAttribute(const GumboElement &element, const char *name)
{
    const char *value = Attribute(element, name);
    return value ? LowerCase(value) : std::string();
}

// Text a script unscrambles on the page: what it holds is not what the
// visitor reads.
bool IsRot13Scrambled(const GumboElement &element)
{
    // Every element is asked: no copies of its attributes.
    for (const char *name : {"class", "id"}) {
        const char *value = Attribute(element, name);
        if (value == nullptr)
            continue;
        for (const std::string_view marker : {"rot13", "rot-13", "rot_13"}) {
            const std::string_view text(value);
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
bool IsReplyField(const GumboElement &input)
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

enum class FormKind { NotForVisitors, ForVisitors };

// A contact form: a text area for the message and a field for the way to
// reply, no password field (log-in and sign-up forms have one), and nothing
// in its names saying newsletter, review, comment, search, log-in or cart.
FormKind ClassifyForm(const GumboNode *form)
{
    constexpr std::size_t kMaxFormNodes = 10'000;
    for (const char *name : {"action", "id", "class", "name"}) {
        if (NamesOtherForm(LowerAttribute(form->v.element, name)))
            return FormKind::NotForVisitors;
    }
    bool message = false;
    bool reply = false;
    bool password = false;
    WalkSubtree(form, kMaxFormNodes, [&](const GumboNode *node) {
        if (node->type != GUMBO_NODE_ELEMENT)
            return true;
        if (node->v.element.tag == GUMBO_TAG_TEXTAREA) {
            message = true;
        } else if (node->v.element.tag == GUMBO_TAG_INPUT) {
            password = password || LowerAttribute(node->v.element, "type") == "password";
            reply = reply || IsReplyField(node->v.element);
        }
        return !password;
    });
    return message && reply && !password ? FormKind::ForVisitors : FormKind::NotForVisitors;
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

class PageReader final {
public:
    explicit PageReader(std::string pageUrl)
        : m_pageUrl(std::move(pageUrl))
        , m_baseUrl(m_pageUrl)
        , m_pageHost(UrlHost(m_pageUrl))
        , m_region(PhoneRegion("", m_pageHost))
    {
    }

    void Read(const GumboNode *document)
    {
        // Document order with an exit mark per element, so that the text of
        // an element ends before what follows it.
        struct Step {
            const GumboNode *node;
            bool exit;
            bool hides = false;   // an element whose text is not read
        };
        std::vector<Step> stack{{document, false}};
        while (!stack.empty()) {
            const Step step = stack.back();
            stack.pop_back();
            const GumboNode *node = step.node;
            if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_CDATA ||
                node->type == GUMBO_NODE_WHITESPACE) {
                if (m_hidden == 0)
                    m_text += node->v.text.text;
                continue;
            }
            if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE &&
                node->type != GUMBO_NODE_DOCUMENT)
                continue;
            const bool element = node->type != GUMBO_NODE_DOCUMENT;
            const GumboTag tag = element ? node->v.element.tag : GUMBO_TAG_UNKNOWN;
            if (step.exit) {
                if (step.hides)
                    --m_hidden;
                if (!IsInline(tag))
                    m_text += '\n';
                continue;
            }
            if (element) {
                const bool scrambled = IsRot13Scrambled(node->v.element);
                Enter(node, scrambled);
                const bool hides = scrambled || HidesText(tag);
                if (hides)
                    ++m_hidden;
                if (!IsInline(tag))
                    m_text += '\n';
                stack.push_back({node, true, hides});
            }
            const GumboVector &children = element ? node->v.element.children : node->v.document.children;
            for (unsigned i = children.length; i > 0; --i)
                stack.push_back({static_cast<const GumboNode *>(children.data[i - 1]), false});
        }
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
    void Enter(const GumboNode *node, bool scrambled)
    {
        const GumboElement &element = node->v.element;
        if (m_hidden == 0)
            Marked(node);
        if (const char *code = Attribute(element, "data-cfemail"))
            Cloudflare(code);
        if (m_hidden == 0 && scrambled) {
            for (const std::string &address : FindMailAddresses(Rot13(VisibleSubtreeText(node))))
                Add(ContactKind::Mail, address);
        }
        switch (element.tag) {
        case GUMBO_TAG_HTML:
            if (const char *lang = Attribute(element, "lang"))
                m_region = PhoneRegion(lang, m_pageHost);
            break;
        case GUMBO_TAG_BASE:
            if (!m_baseSeen) {
                m_baseSeen = true;
                if (const char *href = Attribute(element, "href"))
                    m_baseUrl = ResolveUrl(m_pageUrl, href).value_or(m_pageUrl);
            }
            break;
        case GUMBO_TAG_A:
        case GUMBO_TAG_AREA:
            if (const char *href = Attribute(element, "href"))
                Link(node, href);
            break;
        case GUMBO_TAG_FORM:
            Form(node);
            break;
        case GUMBO_TAG_SCRIPT:
            if (const char *type = Attribute(element, "type");
                type != nullptr && StartsWithIgnoreCase(type, "application/ld+json"))
                JsonLd(node);
            break;
        default:
            break;
        }
    }

    void Link(const GumboNode *node, std::string_view href)
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
        if (m_hidden == 0 && m_phoneSnippets < kMaxPhoneSnippets) {
            const std::string text = VisibleSubtreeText(node);
            if (std::any_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
                ++m_phoneSnippets;
                for (const FoundPhone &phone : FindPhoneNumbers(text, m_region))
                    Add(ContactKind::Phone, phone.number, phone.e164);
            }
        }
        if (m_candidates.size() >= kMaxPageCandidates)
            return;
        const std::optional<std::string> url = ResolveUrl(m_baseUrl, href);
        if (!url || PageKey(*url) == PageKey(m_pageUrl) || !SameRegistrableDomain(m_pageHost, UrlHost(*url)))
            return;
        const std::string path = LowerCase(UrlPathAndQuery(*url));
        if (IsDocumentFile(path))
            return;
        int priority = ContactPagePriority(path);
        const int textPriority = ContactPagePriority(SubtreeText(node));
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
    void Marked(const GumboNode *node)
    {
        const GumboElement &element = node->v.element;
        const char *itemprop = Attribute(element, "itemprop");
        const char *property = Attribute(element, "property");
        MarkedKind kind = itemprop ? MarkedValueKind(LowerCase(itemprop)) : MarkedKind::None;
        if (kind == MarkedKind::None && property)
            kind = MarkedValueKind(LowerCase(property));
        if (kind == MarkedKind::None || m_markedValues >= kMaxMarkedValues)
            return;
        ++m_markedValues;
        std::string value;
        if (const char *content = Attribute(element, "content"))
            value = content;
        else if (const char *href = Attribute(element, "href"))
            value = PercentDecode(href, PlusSign::Kept);
        else
            value = VisibleSubtreeText(node);
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

    void Form(const GumboNode *node)
    {
        const char *action = Attribute(node->v.element, "action");
        const std::string_view target = action ? action : "";
        if (StartsWithIgnoreCase(target, "mailto:")) {
            MailTo(target.substr(7));
            return;
        }
        if (ClassifyForm(node) == FormKind::NotForVisitors)
            return;
        // A form without a target sends to its own page, whatever <base> says.
        const bool ownPage = target.find_first_not_of(" \t\r\n\f") == std::string_view::npos;
        if (const std::optional<std::string> url = ResolveUrl(ownPage ? m_pageUrl : m_baseUrl, target))
            Add(ContactKind::Form, *url);
    }

    void JsonLd(const GumboNode *node)
    {
        std::string text;
        for (unsigned i = 0; i < node->v.element.children.length; ++i) {
            const auto *child = static_cast<const GumboNode *>(node->v.element.children.data[i]);
            if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE)
                text += child->v.text.text;
        }
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
    std::size_t m_markedValues = 0;
    std::string m_text;
    std::vector<ContactItem> m_items;
    std::vector<PageCandidate> m_candidates;
};

struct GumboOutputDeleter {
    void operator()(GumboOutput *output) const { gumbo_destroy_output(&kGumboDefaultOptions, output); }
};

} // namespace

PageContacts ExtractContacts(std::string_view html, std::string_view pageUrl)
{
    const std::optional<std::string> page = ResolveUrl(pageUrl, "");
    if (!page)
        return {};
    const std::string_view parsed = html.substr(0, ParseableLength(html));
    const std::unique_ptr<GumboOutput, GumboOutputDeleter> output(
        gumbo_parse_with_options(&kGumboDefaultOptions, parsed.data(), parsed.size()));
    if (!output)
        return {};
    PageReader reader(*page);
    reader.Read(output->document);
    return reader.Result();
}

} // namespace kelvora::directory::facts
