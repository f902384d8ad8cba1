#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "directory/live/engines.h"
#include "directory/local/store.h"

// Turns engine entries into the results page's listings: one per host, in the
// engine's order, with plain-text titles and descriptions. Pure.
namespace kelvora::directory::live {

constexpr std::size_t kMaxTitleBytes = 200;
constexpr std::size_t kMaxDescriptionBytes = 600;

class HostCollector final {
public:
    // Whether a host may be listed (e.g. not a private address).
    using Filter = std::function<bool(const std::string &host)>;

    explicit HostCollector(Filter filter = {});

    // Adds the entries whose URL names a valid host not listed yet; later
    // entries of a listed host are dropped.
    void Add(const std::vector<EngineEntry> &entries);

    const std::vector<Listing> &Listings() const { return m_listings; }
    std::size_t Count() const { return m_listings.size(); }

private:
    Filter m_filter;
    std::unordered_set<std::string> m_seen;
    std::vector<Listing> m_listings;
};

// The total a results page states: the engine's estimate when it is larger
// than the hosts found, otherwise the hosts found.
std::int64_t ResultsTotal(std::int64_t engineTotal, std::size_t hostsFound);

} // namespace kelvora::directory::live
