#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "directory/core/worker_pool.h"
#include "directory/facts/competitors.h"
#include "directory/live/contacts_memo.h"
#include "directory/live/fetch.h"
#include "directory/live/prefetch.h"
#include "directory/live/rdap_bootstrap.h"

namespace kelvora::directory::facts {
class FactsStore;
}

// What live mode knows about a listed site beyond its home page, as the
// details page and the backlink search show it: traffic rank and link
// popularity from the facts database, the online-since date from the
// Internet Archive (else RDAP; each service paced, a fact still waiting
// its turn left out now and cached for a later page), the competitor from the other hosts of the
// search that listed the site, and contact data from the site's pages, its
// security.txt and RDAP. Prefetch() starts the upstream fetches when a
// results page lists the site; DetailsPage() reads what they brought.
// Safe to use from many threads at once.
namespace kelvora::directory::live {

// Archive and RDAP answers change rarely.
constexpr std::chrono::seconds kFactsTimeToLive = std::chrono::hours(24 * 30);
// Hosts whose listing is remembered for their competitors; the oldest go
// first.
constexpr std::size_t kMaxRememberedHosts = 10'000;
// Threads that read fetched home pages for the contact pages they name, and
// the home pages waiting for them at most.
constexpr std::size_t kPageReaders = 2;
constexpr std::size_t kMaxPagesToRead = 1'000;

class SiteFacts final {
public:
    using Log = std::function<void(const std::string &line)>;
    // Whether the gateway may fetch a site's own pages (see LiveGateway).
    using SiteFilter = std::function<bool(const std::string &host)>;

    // store may be null (no facts database: every figure unknown); it and
    // fetcher must outlive this.
    SiteFacts(const facts::FactsStore *store, Fetcher &fetcher, SiteFilter mayFetch, Log log);
    ~SiteFacts();
    SiteFacts(const SiteFacts &) = delete;
    SiteFacts &operator=(const SiteFacts &) = delete;

    // Remembers, for each host, the hosts of the results page that listed it,
    // in order: its competitors come from them. Done for every results page,
    // prefetch or not.
    void RememberListing(const std::vector<std::string> &hosts);

    // The prefetch step: starts the archive, RDAP and security.txt fetches
    // and, once the home page is in, those of the contact pages it names.
    // Never waits.
    void Prefetch(const ListedSite &site);
    // Starts the fetch of IANA's RDAP bootstrap unless it is cached.
    void WarmRdapBootstrap();

    // The details page for host as the program asks for it (www.HOST),
    // waiting for the upstream answers it needs until deadline; what has
    // not come by then is left out.
    std::string DetailsPage(std::string_view host, std::chrono::steady_clock::time_point deadline);

    // The results page of a backlink search for linkKey (text as the program
    // sent it): the link popularity as total, the linking domains as entries.
    std::string BacklinkPage(std::string_view text, const std::string &linkKey, std::int64_t first,
                             std::int64_t pageSize) const;

    // Ends the background reading; prefetch callbacks arriving later do
    // nothing. Called before the network goes away.
    void Stop();

    static FetchRequest CdxRequest(std::string_view host);
    static FetchRequest SecurityTxtRequest(const std::string &host);
    static FetchRequest ContactPageRequest(const std::string &url);

private:
    // The hosts of one results page, with their figures once looked up.
    struct ListedHosts {
        std::vector<std::string> hosts;
        std::once_flag looked;
        std::vector<facts::ResultSite> figures;
    };
    struct Listing {
        std::string host;   // as the results page listed it
        std::shared_ptr<ListedHosts> hosts;
        std::uint64_t sequence = 0;
    };

    // Whether the archive, RDAP and the site may be asked about host at all:
    // never for an address or a name the gateway may not fetch.
    bool MayAskAbout(const std::string &host) const;
    void WarmOutsideFacts(const std::string &host, const std::string &key, std::uint64_t page);
    Listing Remembered(const std::string &key) const;
    std::vector<std::string> Competitors(const std::string &host, const Listing &listing) const;
    void WarmContactPages(const std::string &homePage, const std::string &homeUrl, std::uint64_t page);

    const facts::FactsStore *m_store;
    Fetcher &m_fetcher;
    SiteFilter m_mayFetch;
    Log m_log;
    RdapLookup m_rdap;
    ContactsMemo m_contacts;

    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Listing> m_listings;
    std::deque<std::pair<std::string, std::uint64_t>> m_order;
    std::uint64_t m_sequence = 0;

    WorkerPool m_readers{kPageReaders, kMaxPagesToRead};
};

} // namespace kelvora::directory::live
