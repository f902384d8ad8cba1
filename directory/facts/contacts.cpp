#include "directory/facts/contacts.h"

#include <algorithm>
#include <unordered_set>

#include "directory/facts/contact_text.h"
#include "directory/facts/url.h"
#include "text/text.h"

namespace kelvora::directory::facts {

namespace {

// security.txt files are small; anything larger is not one.
constexpr std::size_t kMaxSecurityTxtSize = 64 * 1024;

int KindOrder(ContactKind kind)
{
    return static_cast<int>(kind);
}

} // namespace

std::string FormatContactItem(const ContactItem &item)
{
    switch (item.kind) {
    case ContactKind::Mail: return "Mail: " + item.value + " (" + item.source + ")";
    case ContactKind::Phone: return "Phone: " + item.value + " (" + item.source + ")";
    case ContactKind::Form: return "Form: " + item.value;
    case ContactKind::SecurityContact: return "Security contact: " + item.value + " (security.txt)";
    case ContactKind::RegistrarAbuse: return "Registrar abuse: " + item.value + " (RDAP)";
    }
    return {};
}

std::string ContactKey(const ContactItem &item)
{
    std::string key(1, static_cast<char>('0' + KindOrder(item.kind)));
    if (item.kind == ContactKind::Phone && !item.e164.empty())
        return key + item.e164;
    // Numbers: a Phone item, or a bare number from security.txt or RDAP
    // (addresses hold "@", links ":").
    const bool number = item.kind == ContactKind::Phone ||
                        (item.kind != ContactKind::Form && item.value.find('@') == std::string::npos &&
                         item.value.find(':') == std::string::npos);
    for (char c : item.value) {
        if (number && !((c >= '0' && c <= '9') || c == '+'))
            continue;
        key += LowerAscii(c);
    }
    return key;
}

std::vector<ContactItem> ReadSecurityTxt(std::string_view text)
{
    std::vector<ContactItem> items;
    std::string_view start = text;
    while (!start.empty() && (start.front() == ' ' || start.front() == '\t' || start.front() == '\r' ||
                              start.front() == '\n'))
        start.remove_prefix(1);
    if (text.size() > kMaxSecurityTxtSize || (!start.empty() && start.front() == '<'))
        return items;
    std::size_t lineStart = 0;
    while (lineStart < text.size() && items.size() < kMaxContactItems) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos)
            lineEnd = text.size();
        std::string_view line = TrimLine(text.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
        // Inside a clear-signed file, lines starting with "-" are escaped.
        if (line.substr(0, 2) == "- ")
            line.remove_prefix(2);
        if (!StartsWithIgnoreCase(line, "contact:"))
            continue;
        const std::string_view value = TrimLine(line.substr(8));
        std::optional<std::string> normal;
        if (StartsWithIgnoreCase(value, "mailto:"))
            normal = NormaliseMailAddress(value);
        else if (StartsWithIgnoreCase(value, "tel:"))
            normal = NormalisePhoneNumber(value);
        else if (StartsWithIgnoreCase(value, "https:") || StartsWithIgnoreCase(value, "http:"))
            normal = ResolveUrl(value, value);
        if (!normal)
            continue;
        ContactItem item{ContactKind::SecurityContact, *normal, "security.txt"};
        const std::string key = ContactKey(item);
        if (std::none_of(items.begin(), items.end(), [&](const ContactItem &seen) { return ContactKey(seen) == key; }))
            items.push_back(std::move(item));
    }
    return items;
}

std::vector<std::string> MergeContacts(const std::vector<ContactItem> &items)
{
    std::vector<const ContactItem *> ordered;
    ordered.reserve(items.size());
    for (const ContactItem &item : items)
        ordered.push_back(&item);
    std::stable_sort(ordered.begin(), ordered.end(), [](const ContactItem *a, const ContactItem *b) {
        return KindOrder(a->kind) < KindOrder(b->kind);
    });
    std::vector<std::string> lines;
    std::unordered_set<std::string> seen;
    for (const ContactItem *item : ordered) {
        if (lines.size() == kMaxContactItems)
            break;
        if (seen.insert(ContactKey(*item)).second)
            lines.push_back(FormatContactItem(*item));
    }
    return lines;
}

} // namespace kelvora::directory::facts
