#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "directory/live/fetch.h"

// RDAP straight from the registry: IANA's bootstrap file (RFC 9224) names
// the RDAP server of every top-level domain, so the gateway asks the
// registry itself instead of a redirector with a tight limit of its own, and
// paces each registry as its operators ask. Only the ICANN registrable
// domain is asked about: user.github.io is registered as github.io.
namespace kelvora::directory::live {

class HostPacer;

constexpr std::string_view kRdapBootstrapUrl = "https://data.iana.org/rdap/dns.json";
constexpr std::chrono::seconds kRdapBootstrapTimeToLive = std::chrono::hours(24);
// Larger than IANA's file by far; a bigger answer is not read.
constexpr std::size_t kMaxBootstrapBytes = 1024 * 1024;

// The registrable domain under the ICANN section of the public suffix list
// alone (private entries such as github.io are ignored): the name a
// registry knows. Empty for a public suffix itself or no plain host name.
std::string IcannRegistrableDomain(std::string_view host);

// The bootstrap file read: top-level (or longer) suffix to server base URL.
class RdapBootstrap final {
public:
    // Empty (answers nothing) for anything but a bootstrap file.
    static RdapBootstrap Parse(std::string_view json);

    // The https base URL (ending in "/") of the server for domain: the
    // longest label-wise suffix listed wins; empty when none is listed.
    std::string ServerFor(std::string_view domain) const;
    std::size_t Size() const { return m_servers.size(); }

private:
    std::unordered_map<std::string, std::string> m_servers;
};

// The RDAP answers of the site facts: the bootstrap fetched (and cached)
// once a day, each query sent to its registry, every registry paced.
class RdapLookup final {
public:
    // pacer may be null (offline). Both must outlive this.
    RdapLookup(Fetcher &fetcher, HostPacer *pacer);

    // The registry's answer about host's registrable domain; waits for the
    // bootstrap up to deadline when it is not cached. Not valid when there
    // is nothing to ask (no domain, or no registry for it).
    std::shared_future<FetchResult> Fetch(std::string_view host, std::chrono::steady_clock::time_point deadline);
    // Starts the same in the background (the bootstrap first if need be)
    // for the results page page.
    void Warm(std::string_view host, std::uint64_t page);

    static FetchRequest BootstrapRequest();
    // The request to the registry at base for domain.
    static FetchRequest DomainRequest(const std::string &base, const std::string &domain);

private:
    // The request for domain from the bootstrap answer; empty url when none.
    FetchRequest RequestFrom(const FetchResult &bootstrap, const std::string &domain);

    Fetcher &m_fetcher;
    HostPacer *m_pacer;
    std::mutex m_mutex;
    std::size_t m_parsedHash = 0;
    std::shared_ptr<const RdapBootstrap> m_parsed;
};

} // namespace kelvora::directory::live
