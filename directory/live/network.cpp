#include "directory/live/network.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "directory/live/address.h"
#include "directory/live/extra_ca.h"
#include "directory/live/text.h"

namespace kelvora::directory::live {

namespace {

using Clock = std::chrono::steady_clock;

// The loop wakes at least this often to end fetches whose time is up while
// they wait for a free slot.
constexpr int kPollIntervalMs = 100;
// How long the parsed roots are kept before the bundle is read again.
constexpr long kRootsCacheSeconds = 24 * 3600;
// Idle connections kept for reuse: enough for every host of a results page
// and the services asked about them.
constexpr long kIdleConnections = 64;
constexpr std::string_view kDefaultAccept = "Accept: text/html,application/xhtml+xml,*/*;q=0.8";
constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;
// Request lines that carry a credential: none of them follows a redirect
// away from the origin it was meant for.
constexpr std::string_view kCredentialHeaders[] = {
    "API-Key:", "X-Subscription-Token:", "Authorization:", "Proxy-Authorization:", "Cookie:",
};
// TLS record types that only a peer speaking TLS sends.
constexpr int kTlsChangeCipherSpec = 20;
constexpr int kTlsAlert = 21;
constexpr int kTlsHandshake = 22;

struct Job {
    std::string url;
    std::vector<std::string> headers;
    NetworkFetcher::Callback done;
    Clock::time_point deadline;
    int redirects = 0;
    bool mayFallBack = false;   // only the first https:// attempt
    bool httpsOnly = false;     // every hop, redirects included
    std::string privateOrigin;
    std::shared_ptr<TransferState> state;
    std::uint64_t page = 0;
    bool heldNoticed = false;
    bool attempted = false;   // a hop has been sent
    std::vector<std::string> visited;   // the addresses of earlier hops

    TransferPriority Priority() const { return state->priority; }
};

struct TlsSeen {
    std::atomic<bool> spoken{false};
};

bool IsCredential(std::string_view header)
{
    for (std::string_view name : kCredentialHeaders) {
        if (StartsWithIgnoreCase(header, name))
            return true;
    }
    return false;
}

// An upstream's text as the log may show it: control bytes escaped, so a
// Location line cannot forge or break log lines.
std::string Printable(std::string_view text)
{
    constexpr std::size_t kMaxShown = 300;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown;
    for (const char c : text.substr(0, kMaxShown)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            shown += '%';
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xF];
        } else {
            shown += c;
        }
    }
    if (text.size() > kMaxShown)
        shown += "...";
    return shown;
}

FetchResult NotKnownYetResult(std::string reason)
{
    FetchResult result;
    result.outcome = FetchResult::Outcome::NotKnownYet;
    result.error = std::move(reason);
    return result;
}

// The Retry-After line of an answer, as the wait it asks for.
std::optional<std::chrono::seconds> RetryAfterOf(CURL *easy)
{
    curl_header *header = nullptr;
    if (curl_easy_header(easy, "Retry-After", 0, CURLH_HEADER, -1, &header) != CURLHE_OK || header == nullptr)
        return std::nullopt;
    return ParseRetryAfter(header->value, std::chrono::system_clock::now());
}

bool IsRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Failures that say the https:// address could not be reached at all. A
// certificate that fails its check (CURLE_PEER_FAILED_VERIFICATION) is not
// among them: that is a site to distrust, not to reach in plain text.
bool CouldNotConnect(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return true;
    default:
        return false;
    }
}

} // namespace

void InitialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct NetworkFetcher::Impl {
    struct Transfer {
        Impl *owner = nullptr;
        std::unique_ptr<Job> job;
        CURL *easy = nullptr;
        curl_slist *headers = nullptr;
        std::string host;
        TransferPriority priority = TransferPriority::Program;
        std::uint64_t page = 0;
        std::string body;
        bool truncated = false;
        bool allowPrivate = false;
        // Whether the peer sent a TLS handshake or alert; shared with the
        // connection's TLS context, which may outlive the transfer.
        std::shared_ptr<TlsSeen> tls = std::make_shared<TlsSeen>();
        std::string refusal;   // set when the address was refused
        char error[CURL_ERROR_SIZE] = {};

        ~Transfer()
        {
            if (easy != nullptr)
                curl_easy_cleanup(easy);
            curl_slist_free_all(headers);
        }
    };

    explicit Impl(NetworkConfig configToUse)
        : config(std::move(configToUse))
        , pacer(config.pacingClock)
    {
        InitialiseCurlOnce();
        if (!config.extraCaFile.empty())
            extraCertificates = LoadCaCertificates(config.extraCaFile);
        for (const ConnectToRule &rule : config.connectTo)
            connectTo = curl_slist_append(connectTo, rule.text.c_str());
        for (const std::string &entry : config.resolve)
            resolve = curl_slist_append(resolve, entry.c_str());
        multi = curl_multi_init();
        if (multi == nullptr)
            throw std::runtime_error("cannot start libcurl");
        // Transfers are limited here, by host and in all; libcurl's own
        // limit on connections would also count idle kept-alive ones and
        // hold new transfers back until one of those closes. Its cache of
        // idle connections is kept to the same size.
        curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, static_cast<long>(kIdleConnections));
        // TLS sessions and DNS answers outlive each transfer's handle, so a
        // second connection to a host resumes its session.
        share = curl_share_init();
        if (share != nullptr) {
            curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
            curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        }
        thread = std::thread([this] { Run(); });
    }

    ~Impl()
    {
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        curl_multi_wakeup(multi);
        thread.join();
        curl_multi_cleanup(multi);
        if (share != nullptr)
            curl_share_cleanup(share);
        curl_slist_free_all(connectTo);
        curl_slist_free_all(resolve);
        for (X509 *certificate : extraCertificates)
            X509_free(certificate);
    }

    void Submit(std::unique_ptr<Job> job)
    {
        {
            const std::lock_guard lock(mutex);
            if (!stopping) {
                incoming.push_back(std::move(job));
                curl_multi_wakeup(multi);
                return;
            }
        }
        Complete(std::move(job), NotKnownYetResult("the gateway is stopping"));
    }

    void Run()
    {
        while (true) {
            {
                const std::lock_guard lock(mutex);
                if (stopping)
                    break;
                while (!incoming.empty()) {
                    waiting.push_back(std::move(incoming.front()));
                    incoming.pop_front();
                }
            }
            Launch();
            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg *message = curl_multi_info_read(multi, &left)) {
                if (message->msg != CURLMSG_DONE)
                    continue;
                // The message dies with its handle: copy it first.
                CURL *easy = message->easy_handle;
                const CURLcode code = message->data.result;
                Finish(easy, code);
            }
            Launch();
            curl_multi_poll(multi, nullptr, 0, PollInterval(), nullptr);
        }
        Shutdown();
    }

    // Starts waiting jobs in arrival order as far as the limits allow; a job
    // whose host is busy or paced waits without holding up the others.
    void Launch()
    {
        std::size_t excess = QueuedPrefetches() > kMaxQueuedPrefetches ? QueuedPrefetches() - kMaxQueuedPrefetches : 0;
        std::deque<std::unique_ptr<Job>> still;
        nextToken.reset();
        while (!waiting.empty()) {
            std::unique_ptr<Job> job = std::move(waiting.front());
            waiting.pop_front();
            if (excess > 0 && job->Priority() == TransferPriority::Prefetch) {
                // The oldest background work goes first.
                --excess;
                Complete(std::move(job), NotKnownYetResult("dropped: too much background work queued"));
                continue;
            }
            if (Clock::now() >= job->deadline) {
                // Never sent at all: nothing is known about the address.
                Complete(std::move(job), job->attempted ? FailedResult("no answer within the time limit")
                                                        : NotKnownYetResult("not sent within the time limit"));
                continue;
            }
            const std::optional<UrlParts> parts = SplitUrl(job->url);
            if (!parts) {
                Complete(std::move(job), FailedResult("not an http or https address: " + job->url));
                continue;
            }
            // A stopped or paced host is told apart before any slot is
            // free, so that its requests are answered or marked at once.
            HostPacer::Admission admission = pacer.Peek(parts->host);
            if (admission.verdict == HostPacer::Admission::Verdict::Go) {
                if (!slots.MayStart(job->Priority(), job->page) || perHost[parts->host] >= kMaxTransfersPerHost) {
                    still.push_back(std::move(job));
                    continue;
                }
                admission = pacer.Admit(parts->host);
            }
            if (admission.verdict == HostPacer::Admission::Verdict::Stopped) {
                FetchResult stopped = NotKnownYetResult("not known yet: " + parts->host +
                                                        " asked us to wait (rate limited)");
                // Rounded up: "try again in 0 s" would invite a refusal.
                const auto left = admission.until - pacer.Now();
                stopped.retryAfter = std::max(std::chrono::seconds(1),
                                              std::chrono::ceil<std::chrono::seconds>(left));
                Complete(std::move(job), std::move(stopped));
                continue;
            }
            if (admission.verdict == HostPacer::Admission::Verdict::Wait) {
                Hold(*job, admission.until);
                still.push_back(std::move(job));
                continue;
            }
            job->state->held = false;
            StartHop(std::move(job), *parts);
        }
        waiting = std::move(still);
    }

    // A job waiting for its host's next token: its time limit starts when
    // it is sent, and whoever asked may be told at once.
    void Hold(Job &job, HostPacer::TimePoint until)
    {
        const auto wait = std::chrono::duration_cast<Clock::duration>(until - pacer.Now());
        job.deadline = std::max(job.deadline, Clock::now() + wait + config.timeLimit);
        nextToken = nextToken ? std::min(*nextToken, until) : until;
        job.state->held = true;
        if (!job.heldNoticed) {
            job.heldNoticed = true;
            if (job.state->onHeld)
                job.state->onHeld();
        }
    }

    std::size_t QueuedPrefetches() const
    {
        return static_cast<std::size_t>(std::count_if(waiting.begin(), waiting.end(), [](const auto &job) {
            return job->Priority() == TransferPriority::Prefetch;
        }));
    }

    // Sooner than the poll interval when a paced host's token is due.
    int PollInterval() const
    {
        if (!nextToken)
            return kPollIntervalMs;
        const auto due = std::chrono::duration_cast<std::chrono::milliseconds>(*nextToken - pacer.Now()).count();
        return static_cast<int>(std::clamp<long long>(due + 1, 1, kPollIntervalMs));
    }

    bool NameResolvedByConfig(const std::string &host) const
    {
        for (const std::string &entry : config.resolve) {
            if (StartsWithIgnoreCase(entry, host + ":"))
                return true;
        }
        return false;
    }

    void StartHop(std::unique_ptr<Job> job, const UrlParts &parts)
    {
        auto transfer = std::make_unique<Transfer>();
        transfer->owner = this;
        transfer->host = parts.host;
        transfer->allowPrivate = MatchConnectTo(config.connectTo, parts.host, parts.port) != nullptr ||
                                 (!job->privateOrigin.empty() && Origin(parts) == job->privateOrigin);
        if (!transfer->allowPrivate) {
            const std::optional<bool> literalIsPublic = LiteralIsPublic(parts.host);
            const bool refused = literalIsPublic ? !*literalIsPublic
                                                 : IsSpecialUseName(parts.host) && !NameResolvedByConfig(parts.host);
            if (refused) {
                ++refusedCount;
                FetchResult result;
                result.outcome = FetchResult::Outcome::Refused;
                result.error = "refused: " + parts.host + " is not a public address";
                Complete(std::move(job), std::move(result));
                return;
            }
        }

        CURL *easy = curl_easy_init();
        if (easy == nullptr) {
            Complete(std::move(job), FailedResult("cannot start a transfer"));
            return;
        }
        transfer->easy = easy;
        bool hasAccept = false;
        for (const std::string &header : job->headers) {
            hasAccept = hasAccept || StartsWithIgnoreCase(header, "Accept:");
            transfer->headers = curl_slist_append(transfer->headers, header.c_str());
        }
        if (!hasAccept)
            transfer->headers = curl_slist_append(transfer->headers, std::string(kDefaultAccept).c_str());

        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(job->deadline - Clock::now());
        const long timeLimit = std::max<long>(1, static_cast<long>(remaining.count()));
        const long connectLimit = std::min<long>(timeLimit, static_cast<long>(kConnectTimeLimit.count()));

        curl_easy_setopt(easy, CURLOPT_URL, job->url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);   // followed here, hop by hop
        curl_easy_setopt(easy, CURLOPT_PROXY, "");            // no proxy from the environment
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, std::string(kUserAgent).c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headers);
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");   // gzip, deflate, br, decoded
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeLimit);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, connectLimit);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::Write);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &Impl::OpenSocket);
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, transfer.get());
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->error);
        if (connectTo != nullptr)
            curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connectTo);
        if (resolve != nullptr)
            curl_easy_setopt(easy, CURLOPT_RESOLVE, resolve);
        // The roots come from the bundle file alone (on Debian the hashed
        // folder holds the same certificates), so that libcurl parses them
        // once and shares them between connections instead of reading 150
        // certificates on this thread for every handshake.
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
        curl_easy_setopt(easy, CURLOPT_CA_CACHE_TIMEOUT, kRootsCacheSeconds);
        if (!config.caBundle.empty())
            curl_easy_setopt(easy, CURLOPT_CAINFO, config.caBundle.c_str());
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Impl::PrepareTls);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, transfer.get());

        if (share != nullptr)
            curl_easy_setopt(easy, CURLOPT_SHARE, share);
        job->attempted = true;
        transfer->priority = job->Priority();
        transfer->page = job->page;
        transfer->job = std::move(job);
        ++transferCount;
        slots.Started(transfer->priority, transfer->page);
        ++perHost[transfer->host];
        if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
            Release(*transfer);
            Complete(std::move(transfer->job), FailedResult("cannot start a transfer"));
            return;
        }
        transfers.emplace(easy, std::move(transfer));
    }

    void Release(const Transfer &transfer)
    {
        slots.Ended(transfer.priority, transfer.page);
        const auto host = perHost.find(transfer.host);
        if (host != perHost.end() && --host->second <= 0)
            perHost.erase(host);
    }

    void Finish(CURL *easy, CURLcode code)
    {
        const auto found = transfers.find(easy);
        if (found == transfers.end())
            return;
        std::unique_ptr<Transfer> transfer = std::move(found->second);
        transfers.erase(found);
        curl_multi_remove_handle(multi, easy);
        Release(*transfer);
        std::unique_ptr<Job> job = std::move(transfer->job);

        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        const bool answered = status > 0 && (code == CURLE_OK || (code == CURLE_WRITE_ERROR && transfer->truncated));
        if (answered) {
            std::optional<std::chrono::seconds> stop;
            if (status == 429 || status == 503)
                stop = pacer.Stop(transfer->host, RetryAfterOf(easy));
            else
                pacer.Answered(transfer->host);
            char *location = nullptr;
            if (IsRedirect(status) && curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
                location != nullptr) {
                if (job->redirects >= kMaxRedirects) {
                    Complete(std::move(job), FailedResult("more than " + std::to_string(kMaxRedirects) +
                                                          " redirects, the last to " + Printable(location)));
                    return;
                }
                // A redirect back to an address already visited loops for
                // good: no need to go round until the hop limit.
                job->visited.push_back(job->url);
                if (std::find(job->visited.begin(), job->visited.end(), location) != job->visited.end()) {
                    Complete(std::move(job), FailedResult("redirect loop back to " + Printable(location)));
                    return;
                }
                const std::optional<UrlParts> next = SplitUrl(location);
                if (!next) {
                    Complete(std::move(job), FailedResult("redirect to an unsupported address: " +
                                                          Printable(location)));
                    return;
                }
                if (const std::string why = RedirectRefusal(*job, *next); !why.empty()) {
                    Complete(std::move(job), FailedResult(why + ": " + Printable(location)));
                    return;
                }
                if (!SameOrigin(job->url, *next))
                    std::erase_if(job->headers, [](const std::string &header) { return IsCredential(header); });
                job->url = location;
                ++job->redirects;
                job->mayFallBack = false;
                waiting.push_front(std::move(job));
                return;
            }
            FetchResult result;
            result.outcome = FetchResult::Outcome::Answered;
            result.status = status;
            result.body = std::move(transfer->body);
            result.truncated = transfer->truncated;
            char *effective = nullptr;
            curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
            result.finalUrl = effective != nullptr ? effective : job->url;
            result.retryAfter = stop;
            Complete(std::move(job), std::move(result));
            return;
        }
        if (!transfer->refusal.empty()) {
            FetchResult result;
            result.outcome = FetchResult::Outcome::Refused;
            result.error = transfer->refusal;
            Complete(std::move(job), std::move(result));
            return;
        }
        // A peer that answered in TLS (an old version, an alert) speaks it:
        // only one that does not is tried in plain text.
        const bool spokeTls = code == CURLE_SSL_CONNECT_ERROR && transfer->tls->spoken;
        if (job->mayFallBack && CouldNotConnect(code) && !spokeTls && StartsWithIgnoreCase(job->url, "https://")) {
            job->url = "http://" + job->url.substr(8);
            job->mayFallBack = false;
            waiting.push_front(std::move(job));
            return;
        }
        std::string reason = code == CURLE_OPERATION_TIMEDOUT ? "no answer within the time limit"
                                                              : curl_easy_strerror(code);
        if (transfer->error[0] != '\0')
            reason += std::string(": ") + transfer->error;
        Complete(std::move(job), FailedResult(reason));
    }

    static bool SameOrigin(const std::string &url, const UrlParts &next)
    {
        const std::optional<UrlParts> current = SplitUrl(url);
        return current && current->scheme == next.scheme && current->host == next.host && current->port == next.port;
    }

    // Why a redirect to next may not be followed; empty when it may.
    std::string RedirectRefusal(const Job &job, const UrlParts &next) const
    {
        if (job.httpsOnly && next.scheme != "https")
            return "redirect away from https";
        // A port of its own is some other service on that host: only the web
        // ports, the engine's and those a --connect-to rule names are taken.
        // An address that is not public is refused as such by the next hop.
        if (const std::optional<bool> isPublic = LiteralIsPublic(next.host); isPublic && !*isPublic)
            return {};
        const bool webPort = next.port == kHttpPort || next.port == kHttpsPort;
        const bool allowedPort = std::find(config.redirectPorts.begin(), config.redirectPorts.end(), next.port) !=
                                 config.redirectPorts.end();
        if (!webPort && !allowedPort && MatchConnectTo(config.connectTo, next.host, next.port) == nullptr)
            return "redirect to port " + std::to_string(next.port);
        return {};
    }

    static FetchResult FailedResult(std::string reason)
    {
        FetchResult result;
        result.outcome = FetchResult::Outcome::Failed;
        result.error = std::move(reason);
        return result;
    }

    static void Complete(std::unique_ptr<Job> job, FetchResult result)
    {
        if (result.finalUrl.empty())
            result.finalUrl = job->url;
        // A caller's fault must not end the loop that serves everyone.
        try {
            job->done(std::move(result));
        } catch (...) {
        }
    }

    void Shutdown()
    {
        for (auto &[easy, transfer] : transfers) {
            curl_multi_remove_handle(multi, easy);
            Complete(std::move(transfer->job), NotKnownYetResult("the gateway is stopping"));
        }
        transfers.clear();
        std::deque<std::unique_ptr<Job>> rest;
        {
            const std::lock_guard lock(mutex);
            rest.swap(incoming);
        }
        for (auto *queue : {&waiting, &rest}) {
            for (std::unique_ptr<Job> &job : *queue)
                Complete(std::move(job), NotKnownYetResult("the gateway is stopping"));
            queue->clear();
        }
    }

    // Keeps at most maxBodyBytes; a longer body ends the transfer there.
    static std::size_t Write(char *data, std::size_t size, std::size_t count, void *user)
    {
        auto *transfer = static_cast<Transfer *>(user);
        const std::size_t bytes = size * count;
        const std::size_t room = transfer->owner->config.maxBodyBytes - transfer->body.size();
        if (bytes > room) {
            transfer->body.append(data, room);
            transfer->truncated = true;
            return 0;
        }
        transfer->body.append(data, bytes);
        return bytes;
    }

    // Every connection passes here with the address it is about to reach,
    // whatever name led to it (a lookup, a redirect, a DNS answer that
    // changed): the one place where a private address is reliably seen.
    static curl_socket_t OpenSocket(void *user, curlsocktype, curl_sockaddr *address)
    {
        auto *transfer = static_cast<Transfer *>(user);
        if (!transfer->allowPrivate && !IsPublicAddress(&address->addr)) {
            ++transfer->owner->refusedCount;
            transfer->refusal = "refused: " + transfer->host + " leads to a private address";
            return CURL_SOCKET_BAD;
        }
        const int socket = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
        if (socket >= 0)
            ++transfer->owner->connectionCount;
        return socket;
    }

    // Adds the --ca-file certificates to the roots curl has loaded, and
    // watches the handshake for whether the peer speaks TLS at all.
    static CURLcode PrepareTls(CURL *, void *context, void *user)
    {
        auto *transfer = static_cast<Transfer *>(user);
        auto *ssl = static_cast<SSL_CTX *>(context);
        X509_STORE *store = SSL_CTX_get_cert_store(ssl);
        for (X509 *certificate : transfer->owner->extraCertificates)
            X509_STORE_add_cert(store, certificate);   // a repeat is harmless
        ERR_clear_error();
        // The context lives as long as its connection, kept for reuse after
        // the transfer ends: it holds its own share of the flag.
        const int index = TlsSeenIndex();
        delete static_cast<std::shared_ptr<TlsSeen> *>(SSL_CTX_get_ex_data(ssl, index));
        auto *share = new std::shared_ptr<TlsSeen>(transfer->tls);
        SSL_CTX_set_ex_data(ssl, index, share);
        SSL_CTX_set_msg_callback(ssl, &Impl::SeeTlsMessage);
        SSL_CTX_set_msg_callback_arg(ssl, share->get());
        return CURLE_OK;
    }

    static int TlsSeenIndex()
    {
        static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, &Impl::FreeTlsSeen);
        return index;
    }

    static void FreeTlsSeen(void *, void *share, CRYPTO_EX_DATA *, int, long, void *)
    {
        delete static_cast<std::shared_ptr<TlsSeen> *>(share);
    }

    // Record headers are reported before they are checked, so only a whole
    // handshake message, alert or cipher change from the peer counts.
    static void SeeTlsMessage(int written, int, int type, const void *, std::size_t, SSL *, void *user)
    {
        if (written == 0 && (type == kTlsHandshake || type == kTlsAlert || type == kTlsChangeCipherSpec))
            static_cast<TlsSeen *>(user)->spoken = true;
    }

    NetworkConfig config;
    HostPacer pacer;
    CURLM *multi = nullptr;
    CURLSH *share = nullptr;
    curl_slist *connectTo = nullptr;
    curl_slist *resolve = nullptr;
    std::vector<X509 *> extraCertificates;

    std::mutex mutex;
    bool stopping = false;
    std::deque<std::unique_ptr<Job>> incoming;

    // The loop's own state, touched only on its thread.
    std::deque<std::unique_ptr<Job>> waiting;
    std::map<std::string, int> perHost;
    TransferSlots slots;
    std::optional<HostPacer::TimePoint> nextToken;
    std::unordered_map<CURL *, std::unique_ptr<Transfer>> transfers;

    std::atomic<std::uint64_t> transferCount{0};
    std::atomic<std::uint64_t> connectionCount{0};
    std::atomic<std::uint64_t> refusedCount{0};
    std::thread thread;
};

NetworkFetcher::NetworkFetcher(NetworkConfig config)
    : m_impl(std::make_unique<Impl>(std::move(config)))
{
}

NetworkFetcher::~NetworkFetcher() = default;

void NetworkFetcher::Start(const FetchRequest &request, Callback done, std::shared_ptr<TransferState> state)
{
    auto job = std::make_unique<Job>();
    if (!state) {
        state = std::make_shared<TransferState>();
        state->priority = request.priority;
    }
    job->state = std::move(state);
    job->page = request.page;
    job->url = request.url;
    job->headers = request.headers;
    job->done = std::move(done);
    job->deadline = Clock::now() + m_impl->config.timeLimit;
    job->mayFallBack = request.fallback == SchemeFallback::HttpAfterHttps;
    job->httpsOnly = request.httpsOnly;
    job->privateOrigin = request.privateOrigin;
    m_impl->Submit(std::move(job));
}

void NetworkFetcher::Abort()
{
    {
        const std::lock_guard lock(m_impl->mutex);
        m_impl->stopping = true;
    }
    curl_multi_wakeup(m_impl->multi);
}

HostPacer &NetworkFetcher::Pacer()
{
    return m_impl->pacer;
}

NetworkFetcher::Counters NetworkFetcher::Stats() const
{
    Counters counters;
    counters.transfers = m_impl->transferCount;
    counters.connections = m_impl->connectionCount;
    counters.refused = m_impl->refusedCount;
    return counters;
}

} // namespace kelvora::directory::live
