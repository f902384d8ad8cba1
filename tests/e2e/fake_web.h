#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/loopback_server.h"

// A loopback stand-in for everything a search run talks to: the search
// engine (results pages and backlink totals), the traffic-rank service and
// every result site's home page. One server answers by path and Host line;
// routeEverything() points the program's host settings and name resolution at
// it. Qt-free, shared by the end-to-end tests and the run benchmark.
namespace kelvora::e2e {

// The figures the fake publishes for one site, as the cells should read them.
struct SiteFigures {
    std::string popularity;    // digits, as the "Popularity" cell reads
    std::string trafficRank;   // digits, as the "Alexa Rank #" cell reads
    std::string onlineSince;   // as the "Online Since" cell reads (lower case)
    std::int32_t outbound = 0; // outbound anchors on the home page
    std::string competitor;    // as the "Competitor" cell reads
};

class FakeWeb final {
public:
    static constexpr const char *kSearchHost = "search.fake";
    static constexpr const char *kTrafficHost = "traffic.fake";
    static constexpr int kDefaultResults = 20;

    // Called on the server thread with each request head, before the answer.
    using RequestHook = std::function<void(const std::string &head)>;

    FakeWeb();
    ~FakeWeb();
    FakeWeb(const FakeWeb &) = delete;
    FakeWeb &operator=(const FakeWeb &) = delete;

    std::uint16_t port() const;
    // Sets KELVORA_SEARCH_HOST, KELVORA_TRAFFIC_HOST and KELVORA_RESOLVE so
    // that every host name reaches this server.
    void routeEverything() const;

    // The result hosts a search query gets, keyed by the raw value of "p"
    // (e.g. "%22web+hosting%22"). An unknown keyword query gets
    // kDefaultResults sites www.site01.test, www.site02.test, ...; an unknown
    // backlink query ("link%3A...") gets a backlink total.
    void setResults(const std::string &queryValue, std::vector<std::string> hosts);
    // Replaces the text the engine prints as a site's backlink total
    // (bareHost as BareHost gives it, e.g. "site03.test").
    void setPopularityText(const std::string &bareHost, const std::string &text);
    void clearPopularityText(const std::string &bareHost);
    void setRequestHook(RequestHook hook);

    // First lines of the requests, in arrival order.
    std::vector<std::string> requestLines() const;
    std::vector<std::string> requestHeads() const;

    // Default hosts of a keyword query, in page order.
    static std::vector<std::string> defaultHosts();
    // What the fake publishes for a host (www. and scheme ignored).
    static SiteFigures figuresFor(const std::string &host);

private:
    std::string answer(const std::string &head);
    std::string resultsPage(const std::vector<std::string> &hosts) const;
    std::string backlinkPage(const std::string &bareHost) const;

    mutable std::mutex m_mutex;
    std::map<std::string, std::vector<std::string>> m_results;
    std::map<std::string, std::string> m_popularityText;
    RequestHook m_hook;
    std::unique_ptr<testsupport::LoopbackServer> m_server;
};

} // namespace kelvora::e2e
