#include "directory/facts/competitors.h"

#include <algorithm>
#include <limits>

#include "directory/facts/domains.h"

namespace kelvora::directory::facts {

std::vector<std::string> OrderCompetitors(std::string_view host, const std::vector<ResultSite> &results,
                                          std::size_t limit)
{
    // SameRegistrableDomain(host, result.host), with host's side worked out
    // once: a details page orders every result of its search.
    const std::string hostKey = FactsKey(host);
    const std::string hostDomain = hostKey.empty() ? std::string() : RegistrableDomain(hostKey);
    const auto sameDomain = [&](const std::string &key) {
        return !hostKey.empty() && (key == hostKey || (!hostDomain.empty() && hostDomain == RegistrableDomain(key)));
    };
    std::vector<const ResultSite *> others;
    std::vector<std::string> keys;
    for (const ResultSite &result : results) {
        const std::string key = FactsKey(result.host);
        if (key.empty() || sameDomain(key) || std::find(keys.begin(), keys.end(), key) != keys.end())
            continue;
        keys.push_back(key);
        others.push_back(&result);
    }
    const auto rankOf = [](const ResultSite *site) {
        return site->rank.value_or(std::numeric_limits<std::int64_t>::max());
    };
    std::stable_sort(others.begin(), others.end(), [&](const ResultSite *a, const ResultSite *b) {
        if (a->popularity != b->popularity)
            return a->popularity > b->popularity;
        return rankOf(a) < rankOf(b);
    });
    std::vector<std::string> hosts;
    for (std::size_t i = 0; i < others.size() && i < limit; ++i)
        hosts.push_back(others[i]->host);
    return hosts;
}

} // namespace kelvora::directory::facts
