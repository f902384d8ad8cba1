#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "directory/core/server.h"
#include "directory/facts/facts_db.h"
#include "directory/live/cache.h"
#include "directory/live/fetch.h"
#include "directory/live/gateway.h"
#include "directory/live/network.h"
#include "directory/live/options.h"
#include "directory/local/store.h"

// The live mode put together from its options: cache, network (none when
// offline), fetcher, facts database, gateway and its prefetch, and the data
// set when one is given. What kelvora-directory --live serves, and what tests drive.
namespace kelvora::directory::live {

// What the command line does not set; tests vary it.
struct LiveSettings {
    WebCache::Clock clock;                 // unset: the system clock
    std::function<void(const std::string &line)> log;   // unset: standard error
    std::int64_t cacheBytes = kDefaultCacheBytes;
    std::string caBundle;                  // see NetworkConfig
    std::vector<std::string> resolve;      // see NetworkConfig
    std::chrono::milliseconds timeLimit = kFetchTimeLimit;
    std::size_t maxBodyBytes = kMaxBodyBytes;
    bool prefetch = true;
    HostPacer::Clock pacingClock;          // unset: the steady clock
};

class LiveService final {
public:
    // Throws std::exception with a one-line reason when the cache, the CA
    // file, the data set or the facts database cannot be used.
    explicit LiveService(const LiveOptions &options, LiveSettings settings = {});
    ~LiveService();
    LiveService(const LiveService &) = delete;
    LiveService &operator=(const LiveService &) = delete;

    Reply Respond(std::string_view path, std::string_view query, std::string_view hostLine);
    DirectoryServer::Responder Responder();
    // Fails every fetch running or still to come, so that requests waiting
    // for upstream answers end at once: the first step of a stop.
    void Abort();

    Fetcher &Fetch() { return *m_fetcher; }
    Prefetcher &Prefetch() { return m_gateway->Prefetch(); }
    WebCache &Cache() { return *m_cache; }
    // Null when offline.
    const NetworkFetcher *Network() const { return m_network.get(); }
    const Store *Data() const { return m_store.get(); }
    SiteFacts &Facts() { return m_gateway->Facts(); }

private:
    std::unique_ptr<Store> m_store;
    std::unique_ptr<facts::FactsStore> m_facts;
    std::unique_ptr<WebCache> m_cache;
    std::unique_ptr<NetworkFetcher> m_network;
    std::unique_ptr<Fetcher> m_fetcher;
    std::unique_ptr<LiveGateway> m_gateway;
};

// kelvora-directory --live ...: serves until SIGINT or SIGTERM. Returns the
// exit code (0, 1 for a failure, 2 for a usage error).
int RunLive(const std::vector<std::string> &arguments);

} // namespace kelvora::directory::live
