#include <gumbo.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>

#include "directory/facts/contact_text.h"
#include "directory/facts/contacts.h"
#include "directory/facts/domains.h"
#include "directory/facts/parse_guard.h"
#include "directory/facts/url.h"
#include "directory/query.h"
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

enum class FormKind { NotForVisitors, ForVisitors };

// A form a visitor writes a message into: a text area or a mail-address
// field, and no password field (log-in and sign-up forms have one).
FormKind ClassifyForm(const GumboNode *form)
{
    constexpr std::size_t kMaxFormNodes = 10'000;
    bool writes = false;
    bool password = false;
    WalkSubtree(form, kMaxFormNodes, [&](const GumboNode *node) {
        if (node->type != GUMBO_NODE_ELEMENT)
            return true;
        if (node->v.element.tag == GUMBO_TAG_TEXTAREA) {
            writes = true;
        } else if (node->v.element.tag == GUMBO_TAG_INPUT) {
            const char *type = Attribute(node->v.element, "type");
            const std::string lower = LowerCase(type ? type : "");
            writes = writes || lower == "email";
            password = password || lower == "password";
        }
        return !password;
    });
    return writes && !password ? FormKind::ForVisitors : FormKind::NotForVisitors;
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
    {
    }

    void Read(const GumboNode *document)
    {
        // Document order with an exit mark per element, so that the text of
        // an element ends before what follows it.
        struct Step {
            const GumboNode *node;
            bool exit;
        };
        std::vector<Step> stack{{document, false}};
        std::size_t hidden = 0;   // open elements whose text is not read
        while (!stack.empty()) {
            const Step step = stack.back();
            stack.pop_back();
            const GumboNode *node = step.node;
            if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_CDATA ||
                node->type == GUMBO_NODE_WHITESPACE) {
                if (hidden == 0)
                    m_text += node->v.text.text;
                continue;
            }
            if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE &&
                node->type != GUMBO_NODE_DOCUMENT)
                continue;
            const bool element = node->type != GUMBO_NODE_DOCUMENT;
            const GumboTag tag = element ? node->v.element.tag : GUMBO_TAG_UNKNOWN;
            if (step.exit) {
                if (HidesText(tag))
                    --hidden;
                if (!IsInline(tag))
                    m_text += '\n';
                continue;
            }
            if (element) {
                Enter(node);
                if (HidesText(tag))
                    ++hidden;
                if (!IsInline(tag))
                    m_text += '\n';
                stack.push_back({node, true});
            }
            const GumboVector &children = element ? node->v.element.children : node->v.document.children;
            for (unsigned i = children.length; i > 0; --i)
                stack.push_back({static_cast<const GumboNode *>(children.data[i - 1]), false});
        }
        for (const std::string &address : FindMailAddresses(m_text))
            Add(ContactKind::Mail, address);
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
            if (std::find(result.pages.begin(), result.pages.end(), candidate.url) == result.pages.end())
                result.pages.push_back(std::move(candidate.url));
        }
        return result;
    }

private:
    void Enter(const GumboNode *node)
    {
        const GumboElement &element = node->v.element;
        switch (element.tag) {
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
                Add(ContactKind::Phone, *number);
            return;
        }
        if (m_candidates.size() >= kMaxPageCandidates)
            return;
        const std::optional<std::string> url = ResolveUrl(m_baseUrl, href);
        if (!url || *url == m_pageUrl || !SameRegistrableDomain(m_pageHost, UrlHost(*url)))
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
            if (normal)
                Add(kind, *normal);
        };
        if (value.is_array()) {
            for (const nlohmann::json &one : value)
                take(one);
        } else {
            take(value);
        }
    }

    void Add(ContactKind kind, const std::string &value)
    {
        ContactItem added{kind, value, kind == ContactKind::Form ? std::string() : m_pageUrl};
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
    bool m_baseSeen = false;
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
