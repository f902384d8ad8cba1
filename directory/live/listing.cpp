#include "directory/live/listing.h"

#include "directory/live/text.h"

namespace kelvora::directory::live {

HostCollector::HostCollector(Filter filter)
    : m_filter(std::move(filter))
{
}

void HostCollector::Add(const std::vector<EngineEntry> &entries)
{
    for (const EngineEntry &entry : entries) {
        std::optional<std::string> host = ResultHost(entry.url);
        if (!host || m_seen.count(*host) != 0)
            continue;
        if (m_filter && !m_filter(*host))
            continue;
        m_seen.insert(*host);
        Listing listing;
        listing.host = std::move(*host);
        listing.title = PlainText(entry.title, kMaxTitleBytes);
        listing.description = PlainText(entry.snippet, kMaxDescriptionBytes);
        m_listings.push_back(std::move(listing));
    }
}

std::int64_t ResultsTotal(std::int64_t engineTotal, std::size_t hostsFound)
{
    const auto found = static_cast<std::int64_t>(hostsFound);
    return engineTotal > found ? engineTotal : found;
}

} // namespace kelvora::directory::live
