#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The pages live mode answers for a site, in the shapes of the local
// directory's pages (directory/pages.h) so that the program reads them the
// same way.
namespace kelvora::directory::facts {

struct LiveDetails {
    std::string host;                           // as the program asked, e.g. www.example.org
    std::optional<std::int64_t> trafficRank;    // FactsStore::TrafficRank
    std::int64_t linkPopularity = 0;            // FactsStore::LinkPopularity
    std::optional<std::string> onlineSince;     // ReadCdxFirstCapture, else RdapFacts::registered
    std::vector<std::string> relatedHosts;      // OrderCompetitors
    std::vector<std::string> contactLines;      // MergeContacts
};

// The details page: rank line only when the rank is known, online-since
// line only when the date is, the related sites or "There are no related
// sites", the contact block between <!--contact--> and <!--/contact-->;
// every text HTML-escaped.
std::string RenderLiveDetailsPage(const LiveDetails &details);

// The results page of a backlink search ("link:..." as the program sent
// it): total = the site's link popularity, entries = its linking domains
// from first (1-based) for pageSize entries.
std::string RenderBacklinkPage(std::string_view query, std::int64_t linkPopularity,
                               const std::vector<std::string> &linkingDomains, std::int64_t first,
                               std::int64_t pageSize);

} // namespace kelvora::directory::facts
