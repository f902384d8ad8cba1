// Contact extraction and the upstream answer readers: input = a page (HTML
// for the extractor, text for security.txt, JSON for the archive and RDAP
// readers: every reader gets every input). Every item must be well-formed,
// never more than ten, and the pages to read next on the site's own domain.
#include "directory/facts/contact_text.h"
#include "directory/facts/contacts.h"
#include "directory/facts/domains.h"
#include "directory/facts/upstream.h"
#include "directory/facts/url.h"
#include "fuzz/fuzz_check.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using kelvora::fuzz::Require;
namespace facts = kelvora::directory::facts;

namespace {

constexpr std::string_view kPageUrl = "https://www.fuzz.test/dir/page.html";

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// Nothing a page could use to break the line or open a tag.
bool PlainLine(std::string_view line)
{
    return std::none_of(line.begin(), line.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f || c == '<' || c == '>' || c == '"';
    });
}

bool WellFormedUrl(std::string_view url)
{
    return (StartsWith(url, "http://") || StartsWith(url, "https://")) && url.size() <= facts::kMaxUrlLength &&
           url.find(' ') == std::string_view::npos && PlainLine(url) && !facts::UrlHost(url).empty();
}

// "VALUE (SOURCE)" split at the last " (".
bool SplitSource(std::string_view rest, std::string_view &value, std::string_view &source)
{
    const std::size_t open = rest.rfind(" (");
    if (open == std::string_view::npos || rest.back() != ')')
        return false;
    value = rest.substr(0, open);
    source = rest.substr(open + 2, rest.size() - open - 3);
    return true;
}

void CheckItem(const std::string &line)
{
    Require(PlainLine(line), "an item is one plain line");
    std::string_view value;
    std::string_view source;
    if (StartsWith(line, "Mail: ")) {
        Require(SplitSource(std::string_view(line).substr(6), value, source), "a mail item names its page");
        Require(facts::NormaliseMailAddress(value).value_or("") == value, "a mail item holds an address");
        Require(source == kPageUrl, "a mail item's source is the page");
    } else if (StartsWith(line, "Phone: ")) {
        Require(SplitSource(std::string_view(line).substr(7), value, source), "a phone item names its page");
        Require(facts::NormalisePhoneNumber(value).value_or("") == value, "a phone item holds a number");
        Require(source == kPageUrl, "a phone item's source is the page");
    } else if (StartsWith(line, "Form: ")) {
        Require(WellFormedUrl(std::string_view(line).substr(6)), "a form item holds an address");
    } else if (StartsWith(line, "Security contact: ")) {
        Require(SplitSource(std::string_view(line).substr(18), value, source) && source == "security.txt",
                "a security contact names security.txt");
        Require(facts::NormaliseMailAddress(value).value_or("") == value ||
                    facts::NormalisePhoneNumber(value).value_or("") == value || WellFormedUrl(value),
                "a security contact is an address, a number or a link");
    } else if (StartsWith(line, "Registrar abuse: ")) {
        Require(SplitSource(std::string_view(line).substr(17), value, source) && source == "RDAP",
                "a registrar abuse contact names RDAP");
        Require(facts::NormaliseMailAddress(value).value_or("") == value ||
                    facts::NormalisePhoneNumber(value).value_or("") == value,
                "a registrar abuse contact is an address or a number");
    } else {
        Require(false, "an item is of a known kind");
    }
}

bool IsDate(const std::string &date)
{
    return date.size() == 10 && date[4] == '-' && date[7] == '-' &&
           std::all_of(date.begin(), date.end(), [](char c) { return (c >= '0' && c <= '9') || c == '-'; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);

    const facts::PageContacts page = facts::ExtractContacts(input, kPageUrl);
    Require(page.items.size() <= facts::kMaxContactItems, "at most ten items from a page");
    Require(page.pages.size() <= facts::kMaxContactPages, "at most three pages to read next");
    for (const std::string &next : page.pages) {
        Require(WellFormedUrl(next), "a page to read next is an address");
        Require(next != kPageUrl, "the page itself is not read again");
        Require(facts::SameRegistrableDomain(facts::UrlHost(next), "fuzz.test"), "pages to read stay on the site");
    }

    std::vector<facts::ContactItem> all = page.items;
    for (const facts::ContactItem &item : facts::ReadSecurityTxt(input))
        all.push_back(item);
    const facts::RdapFacts rdap = facts::ReadRdap(input);
    all.insert(all.end(), rdap.abuse.begin(), rdap.abuse.end());
    Require(!rdap.registered || IsDate(*rdap.registered), "a registration date is YYYY-MM-DD");
    const std::optional<std::string> capture = facts::ReadCdxFirstCapture(input);
    Require(!capture || IsDate(*capture), "a capture date is YYYY-MM-DD");

    const std::vector<std::string> lines = facts::MergeContacts(all);
    Require(lines.size() <= facts::kMaxContactItems, "at most ten items for a site");
    for (const std::string &line : lines)
        CheckItem(line);
    for (std::size_t i = 0; i < lines.size(); ++i)
        Require(std::count(lines.begin(), lines.end(), lines[i]) == 1, "no item twice");
    return 0;
}
