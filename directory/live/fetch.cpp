#include "directory/live/fetch.h"

#include <algorithm>
#include <exception>

#include "directory/live/cache.h"
#include "directory/live/failure_cache.h"
#include "directory/live/network.h"
#include "directory/live/robots.h"
#include "directory/live/text.h"

namespace kelvora::directory::live {

namespace {

bool KeptByDefault(const FetchResult &result)
{
    return result.status != 429 && result.status < 500;
}

FetchResult FromCache(const CachedAnswer &answer)
{
    if (IsNoAnswerRecord(answer))
        return NoAnswerFromRecord(answer);
    FetchResult result;
    result.outcome = FetchResult::Outcome::Answered;
    result.status = answer.status;
    result.body = answer.body;
    result.truncated = answer.truncated;
    result.finalUrl = answer.finalUrl;
    result.fromCache = true;
    return result;
}

FetchResult Outcome(FetchResult::Outcome outcome, std::string error)
{
    FetchResult result;
    result.outcome = outcome;
    result.error = std::move(error);
    return result;
}

std::shared_future<FetchResult> Ready(FetchResult result)
{
    std::promise<FetchResult> promise;
    promise.set_value(std::move(result));
    return promise.get_future().share();
}

} // namespace

struct Fetcher::InFlight {
    std::promise<FetchResult> promise;
    std::shared_future<FetchResult> future = promise.get_future().share();
    std::vector<Callback> listeners;
    std::shared_ptr<TransferState> state = std::make_shared<TransferState>();
    HeldAnswer whenHeld = HeldAnswer::Wait;
    // Once promise has been answered "not known yet", callers that want the
    // real answer wait for this one.
    bool answeredEarly = false;
    std::optional<std::promise<FetchResult>> late;
    std::shared_future<FetchResult> lateFuture;
};

namespace {

FetchResult NotKnownYet(const std::string &url)
{
    FetchResult result = Outcome(FetchResult::Outcome::NotKnownYet, "not known yet: " + url + " waits its turn");
    result.finalUrl = url;
    return result;
}

} // namespace

Fetcher::Fetcher(WebCache &cache, NetworkFetcher *network, Log log)
    : m_cache(cache)
    , m_network(network)
    , m_log(std::move(log))
{
}

Fetcher::~Fetcher() = default;

std::shared_future<FetchResult> Fetcher::Fetch(const FetchRequest &request)
{
    return Start(request, {}, true);
}

void Fetcher::Fetch(const FetchRequest &request, Callback done)
{
    Start(request, std::move(done), true);
}

void Fetcher::Warm(const FetchRequest &request)
{
    Warm(request, {});
}

void Fetcher::Warm(const FetchRequest &request, Callback done)
{
    if (request.priority != TransferPriority::Program) {
        Start(request, std::move(done), false);
        return;
    }
    FetchRequest background = request;
    background.priority = TransferPriority::Prefetch;
    Start(background, std::move(done), false);
}

HostPacer *Fetcher::Pacer() const
{
    return m_network != nullptr ? &m_network->Pacer() : nullptr;
}

bool Fetcher::Cached(const FetchRequest &request)
{
    try {
        return m_cache.HasFresh(request.Key());
    } catch (const std::exception &error) {
        m_log("cache: " + std::string(error.what()));
        return false;
    }
}

std::shared_future<FetchResult> Fetcher::Start(const FetchRequest &request, Callback done, bool readCached)
{
    const std::string key = request.Key();
    std::optional<FetchResult> immediate;
    std::shared_future<FetchResult> future;
    std::shared_ptr<TransferState> state;
    {
        // The in-flight table and the cache are consulted under one lock, and
        // a finished fetch is stored before it leaves the table, so a caller
        // finds either the running fetch or its stored answer: never neither.
        const std::lock_guard lock(m_mutex);
        if (const auto running = m_inFlight.find(key); running != m_inFlight.end()) {
            InFlight &entry = *running->second;
            if (done)
                entry.listeners.push_back(std::move(done));
            // A request of the program's own outranks a queued prefetch.
            if (readCached && request.priority < entry.state->priority)
                entry.state->priority = request.priority;
            if (!entry.answeredEarly)
                return entry.future;
            // Once held behind a rate limit, the answer is for the cache: a
            // caller that would rather not wait does not wait for it now
            // either, even when it is on its way.
            if (request.whenHeld == HeldAnswer::NotKnownYet)
                return Ready(NotKnownYet(request.url));
            if (!entry.late) {
                entry.late.emplace();
                entry.lateFuture = entry.late->get_future().share();
            }
            return entry.lateFuture;
        }
        try {
            if (!readCached) {
                if (m_cache.HasFresh(key))
                    return {};
            } else if (std::optional<CachedAnswer> cached = m_cache.Find(key)) {
                immediate = FromCache(*cached);
            }
        } catch (const std::exception &error) {
            m_log("cache: " + std::string(error.what()));
        }
        if (!immediate && m_network == nullptr)
            immediate = Outcome(FetchResult::Outcome::NotCached, "not in the cache (offline)");
        if (!immediate) {
            auto entry = std::make_shared<InFlight>();
            if (done)
                entry->listeners.push_back(std::move(done));
            entry->state->priority = request.priority;
            entry->whenHeld = request.whenHeld;
            entry->state->onHeld = [this, key] { AnswerHeld(key); };
            state = entry->state;
            future = entry->future;
            m_inFlight.emplace(key, std::move(entry));
        }
    }
    if (immediate) {
        if (done)
            done(*immediate);
        return Ready(std::move(*immediate));
    }

    const std::optional<UrlParts> parts = SplitUrl(request.url);
    if (request.robots == RobotsCheck::Obey && parts && parts->target != "/")
        CheckRobotsThenFetch(request, key, state);
    else
        StartNetwork(request, key, state);
    return future;
}

void Fetcher::AnswerHeld(const std::string &key)
{
    // Called on the network's thread: the waiting callers of a request that
    // asked for it get "not known yet" now; the fetch goes on.
    std::shared_ptr<InFlight> entry;
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_inFlight.find(key);
        if (found == m_inFlight.end() || found->second->answeredEarly ||
            found->second->whenHeld != HeldAnswer::NotKnownYet)
            return;
        entry = found->second;
        entry->answeredEarly = true;
    }
    entry->promise.set_value(NotKnownYet(key));
}

void Fetcher::StartNetwork(const FetchRequest &request, const std::string &key,
                           const std::shared_ptr<TransferState> &state)
{
    const std::chrono::seconds timeToLive = request.timeToLive;
    std::function<bool(const FetchResult &)> keep = request.keep;
    const bool rememberFailures = request.rememberFailures;
    m_network->Start(request, [this, key, timeToLive, keep, rememberFailures](FetchResult result) {
        std::optional<CachedAnswer> record;
        std::chrono::seconds recordTimeToLive = timeToLive;
        if (const std::optional<std::chrono::seconds> failure = FailureTimeToLive(result)) {
            // Remembered whatever keep says, so that a failing address is
            // not asked again on every request about it.
            if (rememberFailures) {
                record = FailureRecord(result);
                recordTimeToLive = std::min(timeToLive, *failure);
            }
        } else if (result.Answered() && (keep ? keep(result) : KeptByDefault(result))) {
            record.emplace();
            record->status = result.status;
            record->finalUrl = result.finalUrl;
            record->body = result.body;
            record->truncated = result.truncated;
        }
        if (record && recordTimeToLive.count() > 0) {
            try {
                m_cache.Store(key, *record, recordTimeToLive);
            } catch (const std::exception &error) {
                m_log("cache: " + std::string(error.what()));
            }
        }
        Complete(key, std::move(result));
    }, state);
}

void Fetcher::CheckRobotsThenFetch(const FetchRequest &request, const std::string &key,
                                   const std::shared_ptr<TransferState> &state)
{
    const UrlParts parts = *SplitUrl(request.url);
    FetchRequest robots;
    robots.url = Origin(parts) + "/robots.txt";
    robots.timeToLive = kRobotsTimeToLive;
    robots.headers.emplace_back("Accept: text/plain,*/*;q=0.5");
    robots.priority = request.priority;
    robots.page = request.page;
    Fetch(robots, [this, request, key, state, target = parts.target](const FetchResult &answer) {
        // RFC 9309: no robots.txt (4xx) allows everything; one that cannot
        // be had (5xx, no answer) forbids everything for now.
        RobotsRules rules = RobotsRules::DisallowAll();
        if (answer.Answered() && answer.status >= 200 && answer.status <= 299)
            rules = RobotsRules::Parse(answer.body);
        else if (answer.Answered() && answer.status >= 400 && answer.status <= 499)
            rules = RobotsRules::AllowAll();
        if (!rules.Allows(target)) {
            Complete(key, Outcome(FetchResult::Outcome::Disallowed, "robots.txt forbids " + request.url));
            return;
        }
        StartNetwork(request, key, state);
    });
}

void Fetcher::Complete(const std::string &key, FetchResult result)
{
    std::shared_ptr<InFlight> entry;
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_inFlight.find(key);
        if (found == m_inFlight.end())
            return;
        entry = std::move(found->second);
        m_inFlight.erase(found);
    }
    // Waiting requests go on first; prefetch listeners come after them.
    if (entry->late)
        entry->late->set_value(result);
    if (!entry->answeredEarly) {
        if (entry->listeners.empty()) {
            entry->promise.set_value(std::move(result));
            return;
        }
        entry->promise.set_value(result);
    }
    for (const Callback &listener : entry->listeners) {
        try {
            listener(result);
        } catch (...) {
        }
    }
}

} // namespace kelvora::directory::live
