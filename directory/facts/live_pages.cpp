#include "directory/facts/live_pages.h"

#include <algorithm>

#include "directory/core/pages.h"

namespace kelvora::directory::facts {

std::string RenderLiveDetailsPage(const LiveDetails &details)
{
    return RenderDetailsPage(DetailsContent{details.host, details.trafficRank, details.onlineSince.value_or(""),
                                     details.linkPopularity, details.relatedHosts, details.contactLines});
}

std::string RenderBacklinkPage(std::string_view query, std::int64_t linkPopularity,
                               const std::vector<std::string> &linkingDomains, std::int64_t first,
                               std::int64_t pageSize)
{
    ListingPage page;
    page.total = linkPopularity;
    first = std::max<std::int64_t>(first, 1);
    const auto count = static_cast<std::int64_t>(linkingDomains.size());
    for (std::int64_t i = first - 1; i < count && i < first - 1 + pageSize; ++i) {
        const std::string &domain = linkingDomains[static_cast<std::size_t>(i)];
        page.items.push_back({domain, domain, ""});
    }
    return RenderSearchPage(query, page, first, pageSize);
}

} // namespace kelvora::directory::facts
