#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

// How fast the gateway may ask each upstream host. Every host has a token
// bucket set from the limits its operator publishes, and may be stopped for
// a while when it answers 429 or 503: with Retry-After until then, otherwise
// for a back-off that starts at a minute and doubles up to an hour. A bucket
// of capacity C refilled every I never lets more than C + T/I requests out in
// any span T, so the pairs below are chosen to keep that under each limit.
// Safe to use from many threads; the clock is injectable so tests can move
// time on without sleeping.
namespace kelvora::directory::live {

// The Internet Archive's CDX API: at most 20 requests in any minute (5 at
// once, then one every 4 s); its hard limit is 24.
constexpr std::string_view kArchiveHost = "web.archive.org";
constexpr std::size_t kArchiveBurst = 5;
constexpr std::chrono::milliseconds kArchiveInterval{4'000};
// An RDAP registry: at most 5 requests in any second (one at once, then one
// every 250 ms); at most 2 at a time is the network's per-host limit.
constexpr std::size_t kRdapBurst = 1;
constexpr std::chrono::milliseconds kRdapInterval{250};
// Brave's free plan: one request a second.
constexpr std::chrono::milliseconds kBraveInterval{1'000};
// Stops after a 429 or 503 without Retry-After, and the longest stop.
constexpr std::chrono::seconds kFirstBackOff{60};
constexpr std::chrono::seconds kLongestStop{3'600};

// A request's Retry-After value: delay-seconds or an HTTP date (IMF-fixdate,
// RFC 850 or asctime form), as the wait from now; nullopt for anything else.
// A date in the past is a wait of 0.
std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value,
                                                    std::chrono::system_clock::time_point now);

struct PaceLimit {
    std::size_t burst = 1;                    // tokens when full
    std::chrono::milliseconds interval{0};    // one token back per interval; 0: unpaced
};

class TokenBucket final {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    TokenBucket(PaceLimit limit, TimePoint now);
    // Takes a token when one is there.
    bool TryTake(TimePoint now);
    // When the next token is there (now when one is).
    TimePoint NextToken(TimePoint now);

private:
    void Refill(TimePoint now);

    PaceLimit m_limit;
    std::size_t m_tokens;
    TimePoint m_lastRefill;
};

class HostPacer final {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using TimePoint = std::chrono::steady_clock::time_point;

    struct Admission {
        enum class Verdict { Go, Wait, Stopped };
        Verdict verdict = Verdict::Go;
        TimePoint until{};   // Wait: the next token; Stopped: the end of the stop
    };

    // clock unset: the steady clock.
    explicit HostPacer(Clock clock = {});

    // A host's own pace; hosts without one are not paced (only stopped).
    void SetLimit(const std::string &host, PaceLimit limit);
    // Sets host's pace unless it has one already (a registry learnt from
    // the RDAP bootstrap, say).
    void SetLimitOnce(const std::string &host, PaceLimit limit);

    // Whether a request to host may go now; Go takes its token.
    Admission Admit(const std::string &host);
    // What a request to host would get, without taking a token.
    Admission Peek(const std::string &host);

    // A 429 or 503: stops host for retryAfter, else for the back-off (which
    // doubles with each stop in a row). Returns how long it stops.
    std::chrono::seconds Stop(const std::string &host, std::optional<std::chrono::seconds> retryAfter);
    // Any other answer from host ends its run of back-offs.
    void Answered(const std::string &host);

    TimePoint Now() const;

private:
    struct HostState {
        std::optional<TokenBucket> bucket;
        TimePoint stoppedUntil{};
        std::chrono::seconds lastBackOff{0};
    };
    Admission Check(const std::string &host, bool take);

    Clock m_clock;
    mutable std::mutex m_mutex;
    std::map<std::string, PaceLimit> m_limits;
    std::map<std::string, HostState> m_hosts;
};

} // namespace kelvora::directory::live
