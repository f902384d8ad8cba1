#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "directory/live/transfer_slots.h"

// The gateway's one way to the web: a URL in, a future (or a callback) with
// the upstream answer out. Answers come from the cache while they are fresh;
// a URL already being fetched is never fetched twice at once (later callers
// wait for the running fetch); robots.txt is obeyed on request; offline, only
// the cache answers and no connection is opened.
//
//   FetchRequest request;
//   request.url = "https://www.example.org/contact";
//   request.timeToLive = kPageTimeToLive;
//   request.robots = RobotsCheck::Obey;
//   const FetchResult &page = fetcher.Fetch(request).get();
namespace kelvora::directory::live {

class HostPacer;
class NetworkFetcher;
class WebCache;

// How long an upstream answer is used from the cache.
constexpr std::chrono::seconds kSearchTimeToLive = std::chrono::hours(24);
constexpr std::chrono::seconds kPageTimeToLive = std::chrono::hours(24 * 7);

struct FetchResult {
    enum class Outcome {
        Answered,     // a server answered (any status); body holds its bytes
        Failed,       // no answer: connection, TLS, time limit, redirects
        Refused,      // the destination is a private or special-use address
        Disallowed,   // robots.txt forbids the page
        NotCached,    // offline, and the cache holds no fresh answer
        NotKnownYet,  // the host is stopped or paced, or the gateway stops: ask again later
    };
    Outcome outcome = Outcome::Failed;
    long status = 0;
    std::string body;        // decoded (gzip, deflate, br), at most the size limit
    bool truncated = false;  // the body was cut at the size limit
    std::string finalUrl;    // after redirects
    std::string error;       // why there is no answer, for the log
    bool fromCache = false;
    // A 429 or 503: how long its host is stopped (Retry-After, else the
    // back-off).
    std::optional<std::chrono::seconds> retryAfter;

    bool Answered() const { return outcome == Outcome::Answered; }
};

enum class RobotsCheck { Skip, Obey };
// HttpAfterHttps: when an https:// URL cannot be connected to at all (no
// address, refused, no TLS), its http:// twin is tried. A certificate that
// fails its check is not a reason to drop to plain text.
enum class SchemeFallback { None, HttpAfterHttps };

struct FetchRequest {
    std::string url;                    // absolute http:// or https:// URL
    std::vector<std::string> headers;   // extra request lines, "Name: value"
    std::string cacheKey;               // empty: the URL (keep secrets out of it)
    std::chrono::seconds timeToLive = kPageTimeToLive;
    RobotsCheck robots = RobotsCheck::Skip;   // "/" is never checked
    SchemeFallback fallback = SchemeFallback::None;
    // Every hop over https: a redirect to http:// ends the fetch.
    bool httpsOnly = false;
    // "scheme://host[:port]" this request may reach even on a private
    // address: the user's own search engine. Other hops are checked as usual.
    std::string privateOrigin;
    // Whether an answer goes into the cache; unset: every answer but a
    // server error or rate limit (5xx, 429). Whatever it says, a failure (no
    // answer, or a 4xx or 5xx status) is kept for FailureTimeToLive.
    std::function<bool(const FetchResult &)> keep;
    // False for the engine's pages: a refused key or a JSON format turned
    // off is mended by the user, who should not wait a day to see it work.
    bool rememberFailures = true;
    // Warm() makes a Program request a Prefetch one; page is the results
    // page a prefetch serves (its share of slots is bounded).
    TransferPriority priority = TransferPriority::Program;
    std::uint64_t page = 0;
    HeldAnswer whenHeld = HeldAnswer::Wait;

    const std::string &Key() const { return cacheKey.empty() ? url : cacheKey; }
};

class Fetcher final {
public:
    using Callback = std::function<void(const FetchResult &)>;
    using Log = std::function<void(const std::string &line)>;

    // network null: offline. Both must outlive the fetcher.
    Fetcher(WebCache &cache, NetworkFetcher *network, Log log);
    ~Fetcher();
    Fetcher(const Fetcher &) = delete;
    Fetcher &operator=(const Fetcher &) = delete;

    // The answer for request, from the cache or the network; ready at once
    // when cached. Never throws; a failure is an outcome.
    std::shared_future<FetchResult> Fetch(const FetchRequest &request);
    // The same, calling done with the answer: at once on the caller's thread
    // when it is cached, else later on the network thread. done must not
    // block; it may start further fetches.
    void Fetch(const FetchRequest &request, Callback done);
    // Starts the fetch unless the cache holds a fresh answer, without reading
    // that answer: what a prefetch needs.
    void Warm(const FetchRequest &request);
    // The same, calling done with the answer of the fetch started or joined
    // (as Fetch does); done is not called when the cache holds a fresh
    // answer, which a prefetch has already dealt with.
    void Warm(const FetchRequest &request, Callback done);

    // Whether the cache holds a fresh answer for request (false when the
    // cache cannot be read).
    bool Cached(const FetchRequest &request);

    bool Offline() const { return m_network == nullptr; }
    // The network's pace per host; null offline.
    HostPacer *Pacer() const;

private:
    struct InFlight;

    std::shared_future<FetchResult> Start(const FetchRequest &request, Callback done, bool readCached);
    void StartNetwork(const FetchRequest &request, const std::string &key,
                      const std::shared_ptr<TransferState> &state);
    void AnswerHeld(const std::string &key);
    void CheckRobotsThenFetch(const FetchRequest &request, const std::string &key,
                              const std::shared_ptr<TransferState> &state);
    void Complete(const std::string &key, FetchResult result);

    WebCache &m_cache;
    NetworkFetcher *m_network;
    Log m_log;
    std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<InFlight>> m_inFlight;
};

} // namespace kelvora::directory::live
