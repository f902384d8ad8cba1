#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "directory/local/dataset.h"

// A site's competitors in live mode: the other sites of a search that
// listed it.
namespace kelvora::directory::facts {

struct ResultSite {
    std::string host;
    std::int64_t popularity = 0;              // FactsStore::LinkPopularity
    std::optional<std::int64_t> rank;         // FactsStore::TrafficRank
};

// The hosts of results (in the engine's order) other than host, most
// popular first, then by traffic rank (an unknown rank last), then in result
// order; hosts of host's own registrable domain, and a second spelling of a
// host already taken, are left out. At most limit hosts.
std::vector<std::string> OrderCompetitors(std::string_view host, const std::vector<ResultSite> &results,
                                          std::size_t limit = kRelatedPerSite);

} // namespace kelvora::directory::facts
