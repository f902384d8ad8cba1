#include "web/results_page.h"

#include "web/services.h"
#include "web/text.h"

#include <algorithm>
#include <string_view>

namespace kelvora {

namespace {

constexpr std::string_view entryStart = "<li>";
constexpr std::string_view addressStart = "<em";
constexpr std::string_view addressEnd = "</em>";
constexpr std::size_t minHostLength = 3;

} // namespace

void NextResultHost(std::string &page, std::string &host)
{
    if (page.empty()) {
        host = StripScheme(std::string());
        return;
    }
    // The page is cut in place: the harvest calls this once per entry, and an
    // erase moves the tail without a second allocation.
    const std::size_t entry = Pos(entryStart, page);
    // Position entry + 4, 1-based; a missing "<li>" (0) still skips three characters.
    const std::size_t restOffset = entry + entryStart.size() - 1;
    const std::string_view rest = std::string_view(page).substr(std::min(restOffset, page.size()));

    const std::size_t a = Pos(addressStart, rest) + addressStart.size();
    const std::size_t e = Pos(addressEnd, rest);
    std::string_view fragment;
    if (e > a)
        fragment = rest.substr(a - 1, e - a);
    const std::size_t g = Pos(">", fragment);
    fragment = fragment.substr(std::min(g, fragment.size()));

    std::string candidate;
    if (fragment.size() >= minHostLength && Contains(fragment, "."))
        candidate = fragment;

    const std::size_t next = Pos(entryStart, rest);
    const std::size_t keepFrom = std::min(restOffset, page.size()) + (next > 0 ? next - 1 : 0);
    page.erase(0, keepFrom);
    host = StripScheme(std::move(candidate));
}

std::string EncodeKeyword(std::string_view keyword)
{
    return PercentEncode(keyword, BlankEncoding::Plus);
}

std::string KeywordSearchUrl(const std::string &query, int count, int offset)
{
    const long long first = static_cast<long long>(offset) + 1;
    return "http://" + SearchHost() + "/search?p=%22" + EncodeKeyword(query) +
           "%22&ei=UTF-8&n=" + std::to_string(count) + "&b=" + std::to_string(first);
}

std::string DomainSearchUrl(const std::string &query)
{
    return BacklinkSearchUrl(query);
}

} // namespace kelvora
