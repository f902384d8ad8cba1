#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/live/test_pki.h"

// Loopback stand-ins for everything the live gateway talks to: one HTTPS
// server (the test CA's certificate, covering every engine host and the test
// sites) and one plain HTTP server, both answering for every host name by its
// Host line. The gateway reaches them through Rules() (--connect-to) and the
// test CA (--ca-file), so nothing leaves the machine.
//
// By default:
//   - the engines (a SearXNG instance at http://searx.test:8888 and
//     https://searx.test, Marginalia's and Brave's API hosts) answer the
//     results set with SetResults() in their JSON shapes;
//   - the Internet Archive's CDX API answers every host with one capture on
//     FirstCaptureFor(host); IANA's bootstrap file names rdap.registry.test
//     for test, org, com and io; rdap.org sends every domain on to the registry
//     rdap.registry.test, which answers RdapJson() with RegisteredFor(domain)
//     and the abuse contact kAbuseMail;
//   - any other host answers "/" with a home page holding OutboundFor(host)
//     absolute anchors, and 404 elsewhere.
// SetHandler() replaces the answer for one host.
namespace kelvora::live::testing {

struct UpstreamRequest {
    bool tls = false;
    std::string host;      // Host line without port, lower case
    std::string target;    // path and query as sent
    std::string path;
    std::multimap<std::string, std::string> params;   // decoded query
    std::multimap<std::string, std::string> headers;
    std::string Header(const std::string &name) const;
    std::string Param(const std::string &name) const;
};

struct UpstreamAnswer {
    int status = 200;
    std::string body;
    std::string contentType = "text/html";
    std::vector<std::pair<std::string, std::string>> headers;
    std::chrono::milliseconds delay{0};
};

struct Result {
    std::string url;
    std::string title;
    std::string snippet;
};

class FakeUpstream final {
public:
    using Handler = std::function<UpstreamAnswer(const UpstreamRequest &)>;

    static constexpr const char *kSearxngUrl = "http://searx.test:8888";
    static constexpr int kSearxngPageSize = 10;
    static constexpr const char *kArchiveHost = "web.archive.org";
    static constexpr const char *kRdapHost = "rdap.org";
    static constexpr const char *kRegistryHost = "rdap.registry.test";
    // IANA's RDAP bootstrap: every top-level name's server is the registry.
    static constexpr const char *kBootstrapHost = "data.iana.org";
    static constexpr const char *kAbuseMail = "abuse@registrar.test";

    FakeUpstream();
    ~FakeUpstream();
    FakeUpstream(const FakeUpstream &) = delete;
    FakeUpstream &operator=(const FakeUpstream &) = delete;

    int TlsPort() const;
    int PlainPort() const;
    // --connect-to rules sending ports 443, 80 and 8888 of any host here.
    std::vector<std::string> Rules() const;
    // The same for the named hosts and the open-data services (the archive,
    // RDAP and its registry), which every listed site makes the gateway ask;
    // every other host is left alone.
    std::vector<std::string> RulesFor(const std::vector<std::string> &hosts) const;

    // The engines' results for a query (as the engine receives it), in order;
    // total is what SearXNG reports as number_of_results (-1: left out).
    void SetResults(const std::string &query, std::vector<Result> results, std::int64_t total = -1);
    void SetHandler(const std::string &host, Handler handler);
    // Every answer waits this long first (an upstream's latency).
    void SetDelay(std::chrono::milliseconds delay);

    std::vector<UpstreamRequest> Requests() const;
    // The first request that is not for IANA's RDAP bootstrap file, which the
    // gateway fetches side by side with the engine's page; none if absent.
    std::optional<UpstreamRequest> FirstEngineRequest() const;
    std::size_t CountFor(const std::string &host, const std::string &path = "") const;
    // Most requests to host that were being answered at one time.
    int MostAtOnce(const std::string &host) const;
    int MostAtOnceOverall() const;

    // Anchors with an absolute address on the default home page of host.
    static int OutboundFor(const std::string &host);
    static std::string HomePage(const std::string &host);
    // YYYY-MM-DD of host's first capture (by its name without "www."), and
    // of the registration of domain; between 1996 and 2020.
    static std::string FirstCaptureFor(const std::string &host);
    static std::string RegisteredFor(const std::string &domain);
    static std::string CdxJson(const std::string &date);   // "" for no capture
    static std::string RdapJson(const std::string &domain, const std::string &registered,
                                const std::string &abuseMail);
    static std::string SearxngJson(const std::vector<Result> &results, std::int64_t total);
    static std::string MarginaliaJson(const std::vector<Result> &results);
    static std::string BraveJson(const std::vector<Result> &results, bool more);

private:
    struct Servers;
    UpstreamAnswer Answer(const UpstreamRequest &request);
    UpstreamAnswer EngineAnswer(const UpstreamRequest &request);
    static UpstreamAnswer FactsAnswer(const UpstreamRequest &request);
    void Track(const std::string &host, int change);
    bool Sleep(std::chrono::milliseconds delay);

    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stopping = false;
    std::map<std::string, std::pair<std::vector<Result>, std::int64_t>> m_results;
    std::map<std::string, Handler> m_handlers;
    std::chrono::milliseconds m_delay{0};
    std::vector<UpstreamRequest> m_requests;
    std::map<std::string, int> m_running;
    std::map<std::string, int> m_most;
    int m_runningOverall = 0;
    int m_mostOverall = 0;
    std::unique_ptr<Servers> m_servers;
};

} // namespace kelvora::live::testing
