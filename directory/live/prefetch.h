#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// What the gateway starts for every site a results page lists, so that the
// program's later requests about that site find their answers fetched or
// under way. Each step only starts fetches (through Fetcher::Warm or a
// callback Fetch); it must not wait for them.
//
//   prefetcher.AddStep([&fetcher](const ListedSite &site) {
//       fetcher.Warm(HomePageRequest(site.host));
//   });
namespace kelvora::directory::live {

struct ListedSite {
    std::string host;                        // as listed, e.g. www.example.org
    std::vector<std::string> listed;         // every host of that results page, in order
    std::string query;                       // the search text that listed it
    std::uint64_t page = 0;                  // which results page, for its share of slots
};

using PrefetchStep = std::function<void(const ListedSite &site)>;

class Prefetcher final {
public:
    // Steps run in the order they were added, each for every host.
    void AddStep(PrefetchStep step);
    void SetEnabled(bool enabled);
    // Runs the steps for hosts on the calling thread; returns once every
    // fetch has been started.
    void Start(const std::vector<std::string> &hosts, const std::string &query) const;

private:
    mutable std::mutex m_mutex;
    std::vector<PrefetchStep> m_steps;
    bool m_enabled = true;
    mutable std::uint64_t m_pages = 0;
};

} // namespace kelvora::directory::live
