#include "web/outbound.h"

#include "web/http.h"
#include "web/text.h"

#include <algorithm>
#include <limits>
#include <string_view>

namespace kelvora {

namespace {

constexpr int httpPort = 80;

constexpr std::int64_t pointsPerPopularityDigit = 10;
constexpr std::int64_t maxPopularityPoints = 50;
constexpr std::int64_t maxOutboundPoints = 25;
constexpr std::int64_t maxRankPoints = 25;
// The search run passes the row's rank plus one, so the first row (2) scores
// the full rank points.
constexpr std::int64_t rankPointsBase = 27;

// Reads the page as it came: letters are compared without case, so no
// lower-cased copy of the page is made.
std::int32_t CountAnchors(std::string_view page)
{
    std::int32_t count = 0;
    std::size_t from = 0;
    while (count < std::numeric_limits<std::int32_t>::max()) {
        const std::size_t start = FindIgnoreCase(page, "<a ", from);
        if (start == std::string_view::npos)
            break;
        const std::size_t close = page.find('>', start);
        if (close == std::string_view::npos)
            break;
        const std::string_view tag = page.substr(start, close - start + 1);
        if (ContainsIgnoreCase(tag, "http://") || ContainsIgnoreCase(tag, "https://")
            || ContainsIgnoreCase(tag, "www."))
            ++count;
        from = close;
    }
    return count;
}

std::int64_t PopularityPoints(std::int32_t popularity)
{
    std::int64_t points = 0;
    for (std::int64_t rest = popularity; rest > 0 && points < maxPopularityPoints; rest /= 10)
        points += pointsPerPopularityDigit;
    return points;
}

} // namespace

std::int32_t CountOutboundAnchors(const std::string &page)
{
    return CountAnchors(page);
}

std::int32_t CountOutboundLinks(const std::string &host, const PageHooks &hooks)
{
    if (host.empty())
        return 0;
    std::string page;
    try {
        HttpGet("http://" + host, page, httpPort);
    } catch (...) {
        // Count whatever arrived before the failure.
    }
    try {
        hooks.Pump();
        return CountAnchors(page);
    } catch (...) {
        return 0;
    }
}

std::string EstimateAgreement(std::int32_t popularity, std::int32_t outbound, std::int32_t rank)
{
    const std::int64_t outboundPoints = std::clamp<std::int64_t>(outbound, 0, maxOutboundPoints);
    const std::int64_t rankPoints = std::clamp<std::int64_t>(rankPointsBase - std::int64_t(rank), 0, maxRankPoints);
    return std::to_string(PopularityPoints(popularity) + outboundPoints + rankPoints);
}

} // namespace kelvora
