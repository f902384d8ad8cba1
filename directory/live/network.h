#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "directory/live/connect_to.h"
#include "directory/live/fetch.h"
#include "directory/live/rate_limit.h"
#include "directory/live/transfer_slots.h"

// Fetches over the network, many at once, on one thread of its own that
// drives libcurl's multi interface. Every fetch is bounded in time and size
// and in its redirects, never reaches a private or special-use address
// unless a --connect-to rule sends it there (or it is the origin the request
// names as its own, the user's search engine), never carries a credential
// header to another origin, and identifies itself as kUserAgent. Knows nothing
// of the cache or robots.txt (see Fetcher).
namespace kelvora::directory::live {

constexpr std::string_view kUserAgent = "Kelvora/1.0 (+http://kelvora.example/)";
// A fetch, redirects and fall-back included, ends after this long.
constexpr std::chrono::milliseconds kFetchTimeLimit{15'000};
// Longest wait for one connection, so that a dead https:// address leaves
// time for its http:// twin.
constexpr std::chrono::milliseconds kConnectTimeLimit{7'000};
// Bodies (after decoding gzip, deflate or br) are cut at this size.
constexpr std::size_t kMaxBodyBytes = 4 * 1024 * 1024;
constexpr int kMaxRedirects = 5;
// Politeness: transfers running at once to one host, and in all (of which
// TransferSlots keeps some for engine pages and the program's requests).
constexpr int kMaxTransfersPerHost = 2;
constexpr int kMaxTransfers = kMaxTransfersInAll;

// libcurl's process-wide set-up, once, before the first transfer of any
// fetcher or download.
void InitialiseCurlOnce();

struct NetworkConfig {
    std::vector<ConnectToRule> connectTo;
    // PEM certificates trusted beside the system's roots (--ca-file).
    std::string extraCaFile;
    // Replaces the system's bundle of roots; tests only, to show that the
    // extra certificates are added to whatever roots there are.
    std::string caBundle;
    // curl's HOST:PORT:ADDRESS entries answering a name's lookup; tests
    // only, to stand for a DNS answer without a lookup.
    std::vector<std::string> resolve;
    std::chrono::milliseconds timeLimit = kFetchTimeLimit;
    std::size_t maxBodyBytes = kMaxBodyBytes;
    // Ports a redirect may lead to besides 80, 443 and those of a matching
    // --connect-to rule (the search engine's own).
    std::vector<int> redirectPorts;
    // The pacer's clock; tests move it on instead of sleeping.
    HostPacer::Clock pacingClock;
};

class NetworkFetcher final {
public:
    using Callback = std::function<void(FetchResult)>;

    struct Counters {
        std::uint64_t transfers = 0;     // requests sent or attempted
        std::uint64_t connections = 0;   // sockets opened
        std::uint64_t refused = 0;       // destinations refused
    };

    // Throws std::runtime_error when extraCaFile holds no certificate.
    explicit NetworkFetcher(NetworkConfig config);
    // Ends every fetch still running (each done is called with a failure)
    // and joins the thread.
    ~NetworkFetcher();
    NetworkFetcher(const NetworkFetcher &) = delete;
    NetworkFetcher &operator=(const NetworkFetcher &) = delete;

    // Starts a fetch of request.url with request.headers and
    // request.fallback; done is called once, on the fetcher's thread (on
    // the caller's, with a failure, once the fetcher is being destroyed).
    // Each host is paced by Pacer(): while its host is stopped a request is
    // answered "not known yet" at once, and one waiting for a token stays
    // queued (state, when given, learns of that and may be promoted).
    void Start(const FetchRequest &request, Callback done, std::shared_ptr<TransferState> state = nullptr);

    HostPacer &Pacer();

    // Ends every fetch at once (each done is called with a failure) and
    // fails every later one: what a stop that must not wait calls first.
    void Abort();

    Counters Stats() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace kelvora::directory::live
