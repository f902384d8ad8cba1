// The network fetcher and the fetcher above it, against loopback fakes only:
// TLS trust, redirects, fall-back to http, private addresses, limits,
// politeness, shared fetches, robots.txt and offline answers.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "directory/live/cache.h"
#include "directory/live/fetch.h"
#include "directory/live/network.h"
#include "tests/live/fake_upstream.h"
#include "tests/live/live_rig.h"
#include "tests/live/network_fixture.h"
#include "tests/live/test_pki.h"
#include "tests/support/files.h"
#include "tests/support/loopback_server.h"

using namespace kelvora::directory::live;
using namespace kelvora::live::testing;
using namespace kelvora::testsupport;

namespace {

using namespace std::chrono_literals;

constexpr auto kTestWait = 30s;


UpstreamAnswer Redirect(int status, const std::string &location)
{
    UpstreamAnswer answer;
    answer.status = status;
    answer.headers.emplace_back("Location", location);
    answer.body = "moved";
    return answer;
}

UpstreamAnswer Page(const std::string &body)
{
    UpstreamAnswer answer;
    answer.body = body;
    return answer;
}

// An HTTPS server with a certificate of its own, for trust checks.
class SingleSite final {
public:
    explicit SingleSite(const kelvora::live::testing::Certificate &certificate)
        : m_server(certificate.certificate.c_str(), certificate.key.c_str())
    {
        m_server.Get("/", [](const httplib::Request &, httplib::Response &response) {
            response.set_content("trusted page", "text/html");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(2ms);
    }
    ~SingleSite()
    {
        m_server.stop();
        m_thread.join();
    }
    int Port() const { return m_port; }

private:
    httplib::SSLServer m_server;
    int m_port = 0;
    std::thread m_thread;
};

} // namespace

TEST(NetworkFetch, FetchesOverHttpsThroughConnectToAsKelvora)
{
    FakeUpstream fake;
    NetworkFetcher network(ConfigFor(fake));
    const FetchResult result = FetchOnce(network, Get("https://www.site01.test/"));
    ASSERT_EQ(result.outcome, FetchResult::Outcome::Answered) << result.error;
    EXPECT_EQ(result.status, 200);
    // The fake compresses for a client that accepts it; the body is decoded.
    EXPECT_EQ(result.body, FakeUpstream::HomePage("www.site01.test"));
    EXPECT_FALSE(result.truncated);
    EXPECT_EQ(result.finalUrl, "https://www.site01.test/");
    const std::vector<UpstreamRequest> requests = fake.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].tls);
    EXPECT_EQ(requests[0].Header("Host"), "www.site01.test");
    EXPECT_EQ(requests[0].Header("User-Agent"), "Kelvora/1.0 (+http://kelvora.example/)");
    EXPECT_NE(requests[0].Header("Accept-Encoding").find("gzip"), std::string::npos);
    EXPECT_EQ(network.Stats().connections, 1u);
}

TEST(NetworkFetch, ExtraCertificatesAreTrustedBesideTheRootsNotInsteadOfThem)
{
    FakeUpstream fake;   // certificate from the test CA
    SingleSite other(SharedPki().otherServer);
    SingleSite untrusted(SharedPki().untrusted);
    const std::vector<std::string> sites = {
        "other.test:443:127.0.0.1:" + std::to_string(other.Port()),
        "untrusted.test:443:127.0.0.1:" + std::to_string(untrusted.Port()),
    };
    // The second CA plays the system's roots; the test CA is the extra file.
    NetworkConfig config = ConfigFor(fake, sites);
    config.caBundle = SharedPki().otherCaFile;
    NetworkFetcher network(config);
    const FetchResult byRoots = FetchOnce(network, Get("https://other.test/"));
    EXPECT_EQ(byRoots.outcome, FetchResult::Outcome::Answered) << byRoots.error;
    EXPECT_EQ(byRoots.body, "trusted page");
    const FetchResult byExtra = FetchOnce(network, Get("https://www.site01.test/"));
    EXPECT_EQ(byExtra.outcome, FetchResult::Outcome::Answered) << byExtra.error;
    const FetchResult byNobody = FetchOnce(network, Get("https://untrusted.test/"));
    EXPECT_EQ(byNobody.outcome, FetchResult::Outcome::Failed);

    // Without the extra file the test CA's site is not trusted at all.
    config.extraCaFile.clear();
    NetworkFetcher withoutExtra(config);
    EXPECT_EQ(FetchOnce(withoutExtra, Get("https://www.site01.test/")).outcome, FetchResult::Outcome::Failed);
    EXPECT_EQ(FetchOnce(withoutExtra, Get("https://other.test/")).outcome, FetchResult::Outcome::Answered);
}

TEST(NetworkFetch, ACertificateForAnotherNameIsRefusedAndNotRetriedInPlainText)
{
    FakeUpstream fake;
    NetworkFetcher network(ConfigFor(fake));
    // The fake's certificate does not name www.mismatch.org.
    const FetchResult result =
        FetchOnce(network, Get("https://www.mismatch.org/", SchemeFallback::HttpAfterHttps));
    EXPECT_EQ(result.outcome, FetchResult::Outcome::Failed);
    EXPECT_NE(result.error.find("SSL"), std::string::npos) << result.error;
    EXPECT_EQ(fake.CountFor("www.mismatch.org"), 0u);
}

TEST(NetworkFetch, HttpsThatCannotConnectFallsBackToHttpOnlyWhenAsked)
{
    FakeUpstream fake;
    // Nothing listens on the https port of plain.test.
    NetworkFetcher network(ConfigFor(fake, {"plain.test:443:127.0.0.1:" + std::to_string(kelvora::testsupport::ClosedLoopbackPort())}));

    const FetchResult fallback = FetchOnce(network, Get("https://plain.test/", SchemeFallback::HttpAfterHttps));
    ASSERT_EQ(fallback.outcome, FetchResult::Outcome::Answered) << fallback.error;
    EXPECT_EQ(fallback.body, FakeUpstream::HomePage("plain.test"));
    EXPECT_EQ(fallback.finalUrl, "http://plain.test/");
    ASSERT_EQ(fake.CountFor("plain.test"), 1u);
    EXPECT_FALSE(fake.Requests().back().tls);

    EXPECT_EQ(FetchOnce(network, Get("https://plain.test/")).outcome, FetchResult::Outcome::Failed);
    EXPECT_EQ(fake.CountFor("plain.test"), 1u);
}

TEST(NetworkFetch, FollowsRedirectsAcrossSchemesAndHostsUpToFive)
{
    FakeUpstream fake;
    fake.SetHandler("www.a.test", [](const UpstreamRequest &request) {
        if (!request.tls)
            return Redirect(301, "https://www.a.test/");
        return Redirect(302, "https://www.b.test/start");
    });
    fake.SetHandler("www.b.test", [](const UpstreamRequest &) { return Page("arrived"); });
    // /N redirects to /N+1 until /limit, which answers.
    fake.SetHandler("www.c.test", [](const UpstreamRequest &request) {
        const std::size_t slash = request.path.rfind('/');
        const std::string limit = request.Param("limit");
        const int step = std::stoi(request.path.substr(slash + 1));
        if (std::to_string(step) == limit)
            return Page("end of chain");
        return Redirect(307, "/" + std::to_string(step + 1) + "?limit=" + limit);
    });
    NetworkFetcher network(ConfigFor(fake));

    const FetchResult chain = FetchOnce(network, Get("http://www.a.test/"));
    ASSERT_EQ(chain.outcome, FetchResult::Outcome::Answered) << chain.error;
    EXPECT_EQ(chain.body, "arrived");
    EXPECT_EQ(chain.finalUrl, "https://www.b.test/start");

    const FetchResult five = FetchOnce(network, Get("https://www.c.test/0?limit=5"));
    EXPECT_EQ(five.outcome, FetchResult::Outcome::Answered) << five.error;
    EXPECT_EQ(five.body, "end of chain");

    const std::size_t before = fake.CountFor("www.c.test");
    const FetchResult loop = FetchOnce(network, Get("https://www.c.test/0?limit=1000"));
    EXPECT_EQ(loop.outcome, FetchResult::Outcome::Failed);
    EXPECT_NE(loop.error.find("more than 5 redirects"), std::string::npos) << loop.error;
    EXPECT_EQ(fake.CountFor("www.c.test") - before, 6u);   // the first request and five redirects
}

TEST(NetworkFetch, NeverConnectsToAPrivateAddressUnlessARuleSendsItThere)
{
    FakeUpstream fake;
    LoopbackServer inside([](const std::string &) { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecret"); });
    const std::string port = std::to_string(inside.port());
    fake.SetHandler("www.a.test", [port](const UpstreamRequest &) { return Redirect(302, "http://127.0.0.1:" + port + "/"); });

    // Only www.a.test is mapped: nothing else may reach loopback.
    NetworkConfig config;
    config.connectTo = Rules({"www.a.test:443:127.0.0.1:" + std::to_string(fake.TlsPort())});
    config.extraCaFile = SharedPki().caFile;
    // Stands for a DNS answer pointing a public-looking name at loopback.
    config.resolve = {"rebind.test:" + port + ":127.0.0.1", "rebind6.test:" + port + ":::1"};
    NetworkFetcher network(config);

    // Names are judged on the address connected to ("leads to"); literals
    // and special-use names before any lookup ("is not").
    const struct {
        std::string url;
        const char *what;
        const char *reason;
    } refusedCases[] = {
        {"https://www.a.test/", "redirect to a loopback literal", "is not a public address"},
        {"http://127.0.0.1:" + port + "/", "loopback literal", "is not a public address"},
        {"http://[::1]:" + port + "/", "IPv6 loopback literal", "is not a public address"},
        {"http://10.1.2.3:" + port + "/", "private literal", "is not a public address"},
        {"http://[::ffff:127.0.0.1]:" + port + "/", "IPv4-mapped loopback", "is not a public address"},
        {"http://rebind.test:" + port + "/", "name resolving to loopback", "leads to a private address"},
        {"http://rebind6.test:" + port + "/", "name resolving to IPv6 loopback", "leads to a private address"},
        {"http://intranet.local/", "special-use name", "is not a public address"},
        {"http://localhost:" + port + "/", "localhost", "is not a public address"},
    };
    for (const auto &c : refusedCases) {
        const FetchResult result = FetchOnce(network, Get(c.url));
        EXPECT_EQ(result.outcome, FetchResult::Outcome::Refused) << c.what << ": " << result.error;
        EXPECT_NE(result.error.find(c.reason), std::string::npos) << c.what << ": " << result.error;
    }
    EXPECT_EQ(inside.connectionCount(), 0u);
    EXPECT_GE(network.Stats().refused, std::size(refusedCases));

    // A rule naming the host is the user's choice of destination.
    config.connectTo = Rules({"rebind.test:" + port + ":127.0.0.1:" + port});
    NetworkFetcher ruled(config);
    const FetchResult allowed = FetchOnce(ruled, Get("http://rebind.test:" + port + "/"));
    EXPECT_EQ(allowed.outcome, FetchResult::Outcome::Answered) << allowed.error;
    EXPECT_EQ(allowed.body, "secret");
}

TEST(NetworkFetch, CutsABodyAtTheSizeLimitAndKeepsWhatCame)
{
    FakeUpstream fake;
    fake.SetHandler("www.a.test", [](const UpstreamRequest &) { return Page(std::string(5 * 1024 * 1024, 'x')); });
    NetworkFetcher network(ConfigFor(fake));
    const FetchResult result = FetchOnce(network, Get("https://www.a.test/"));
    ASSERT_EQ(result.outcome, FetchResult::Outcome::Answered) << result.error;
    EXPECT_TRUE(result.truncated);
    EXPECT_EQ(result.body.size(), kMaxBodyBytes);
}

TEST(NetworkFetch, EndsAFetchThatTakesTooLong)
{
    FakeUpstream fake;
    fake.SetHandler("www.a.test", [](const UpstreamRequest &) {
        UpstreamAnswer answer = Page("too late");
        answer.delay = 20s;
        return answer;
    });
    NetworkConfig config = ConfigFor(fake);
    config.timeLimit = 1s;
    NetworkFetcher network(config);
    const auto start = std::chrono::steady_clock::now();
    const FetchResult result = FetchOnce(network, Get("https://www.a.test/", SchemeFallback::HttpAfterHttps));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.outcome, FetchResult::Outcome::Failed);
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 5s);
}

TEST(NetworkFetch, KeepsToTwoTransfersPerHostAndTheProgramsShareInAll)
{
    FakeUpstream fake;
    fake.SetDelay(150ms);
    NetworkFetcher network(ConfigFor(fake));
    std::vector<std::future<FetchResult>> results;
    auto start = [&](const std::string &url) {
        auto promise = std::make_shared<std::promise<FetchResult>>();
        results.push_back(promise->get_future());
        network.Start(Get(url), [promise](FetchResult result) { promise->set_value(std::move(result)); });
    };
    for (int i = 0; i < 6; ++i)
        start("https://www.a.test/page" + std::to_string(i));
    for (int i = 10; i <= 40; ++i)
        start("https://www.site" + std::to_string(i) + ".test/");
    for (std::future<FetchResult> &result : results) {
        ASSERT_EQ(result.wait_for(kTestWait), std::future_status::ready);
        const FetchResult done = result.get();
        EXPECT_TRUE(done.Answered()) << done.error;
    }
    EXPECT_EQ(fake.MostAtOnce("www.a.test"), 2);
    EXPECT_LE(fake.MostAtOnceOverall(), kMaxNonEngineTransfers);
    EXPECT_GE(fake.MostAtOnceOverall(), 8);   // the fetches do run side by side
}

namespace {

NetworkConfig UnpacedConfigFor(const FakeUpstream &fake)
{
    NetworkConfig config = ConfigFor(fake);
    config.pacingClock = kelvora::live::testing::TimeFlies();
    return config;
}

struct FetcherRig {
    explicit FetcherRig(FakeUpstream &fake)
        : cache(TemporaryFolder() + "/cache.db", kDefaultCacheBytes, [this] { return now.load(); })
        , network(UnpacedConfigFor(fake))
        , fetcher(cache, &network, [this](const std::string &line) { log.push_back(line); })
    {
    }
    std::atomic<std::int64_t> now{1'700'000'000};
    WebCache cache;
    NetworkFetcher network;
    std::vector<std::string> log;
    Fetcher fetcher;
};

} // namespace

TEST(Fetcher, RequestsArrivingDuringAFetchWaitForItThenTheCacheAnswers)
{
    FakeUpstream fake;
    fake.SetDelay(300ms);
    FetcherRig rig(fake);
    std::vector<std::shared_future<FetchResult>> waiting;
    for (int i = 0; i < 5; ++i)
        waiting.push_back(rig.fetcher.Fetch(Get("https://www.site02.test/")));
    auto called = std::make_shared<std::promise<std::string>>();
    std::future<std::string> calledWith = called->get_future();
    rig.fetcher.Fetch(Get("https://www.site02.test/"),
                      [called](const FetchResult &result) { called->set_value(result.body); });
    for (std::shared_future<FetchResult> &result : waiting) {
        ASSERT_EQ(result.wait_for(kTestWait), std::future_status::ready);
        EXPECT_EQ(result.get().body, FakeUpstream::HomePage("www.site02.test"));
        EXPECT_FALSE(result.get().fromCache);
    }
    ASSERT_EQ(calledWith.wait_for(kTestWait), std::future_status::ready);
    EXPECT_EQ(calledWith.get(), FakeUpstream::HomePage("www.site02.test"));
    EXPECT_EQ(fake.CountFor("www.site02.test"), 1u);

    const FetchResult again = rig.fetcher.Fetch(Get("https://www.site02.test/")).get();
    EXPECT_TRUE(again.fromCache);
    EXPECT_EQ(again.body, FakeUpstream::HomePage("www.site02.test"));
    EXPECT_EQ(fake.CountFor("www.site02.test"), 1u);
}

TEST(Fetcher, WarmingWithACallbackHearsOfTheFetchButNotOfAFreshCachedAnswer)
{
    FakeUpstream fake;
    FetcherRig rig(fake);
    std::mutex mutex;
    std::vector<std::string> heard;
    const auto listen = [&](const FetchResult &result) {
        const std::lock_guard lock(mutex);
        heard.push_back(result.body);
    };
    rig.fetcher.Warm(Get("https://www.site03.test/"), listen);
    ASSERT_TRUE(kelvora::live::testing::WaitFor([&] {
        const std::lock_guard lock(mutex);
        return !heard.empty();
    }));
    rig.fetcher.Warm(Get("https://www.site03.test/"), listen);   // fresh in the cache now
    std::this_thread::sleep_for(100ms);
    const std::lock_guard lock(mutex);
    EXPECT_EQ(heard, std::vector<std::string>{FakeUpstream::HomePage("www.site03.test")});
    EXPECT_EQ(fake.CountFor("www.site03.test"), 1u);
}

TEST(Fetcher, KeepsAnswersAndRemembersFailuresForTheirOwnPeriods)
{
    FakeUpstream fake;
    fake.SetHandler("www.a.test", [](const UpstreamRequest &request) {
        UpstreamAnswer answer = Page("status page");
        const std::size_t slash = request.path.find('/', 1);
        answer.status = std::stoi(request.path.substr(1, slash - 1));
        if (slash != std::string::npos)
            answer.headers.emplace_back("Retry-After", request.path.substr(slash + 1));
        return answer;
    });
    FetcherRig rig(fake);
    const std::int64_t start = rig.now;
    const struct {
        std::string url;
        long status;
        std::int64_t seconds;   // how long the cache answers for it
    } cases[] = {
        {"https://www.a.test/200", 200, 7 * 24 * 3600},
        {"https://www.a.test/404", 404, 24 * 3600},
        {"https://www.a.test/500", 500, 3600},
        {"https://www.a.test/503/30", 503, 3600},
        {"https://www.a.test/429/120", 429, 120},
        {"https://www.a.test/429", 429, 60},                // no Retry-After: the first back-off
        {"https://www.a.test/429/0", 429, 0},                // asks again at once: nothing to remember
        {"https://www.mismatch.org/", 0, 3600},             // no answer: a certificate for another name
    };
    for (const auto &c : cases) {
        const FetchResult result = rig.fetcher.Fetch(Get(c.url)).get();
        EXPECT_EQ(result.status, c.status) << c.url;
        EXPECT_EQ(result.outcome, c.status == 0 ? FetchResult::Outcome::Failed : FetchResult::Outcome::Answered)
            << c.url;
    }
    const std::size_t asked = fake.Requests().size();
    for (const auto &c : cases) {
        // Asked again within its period: the same outcome, from the cache.
        rig.now = start;
        if (c.seconds > 0) {
            const FetchResult again = rig.fetcher.Fetch(Get(c.url)).get();
            EXPECT_TRUE(again.fromCache) << c.url;
            EXPECT_EQ(again.status, c.status) << c.url;
            EXPECT_EQ(again.outcome == FetchResult::Outcome::Failed, c.status == 0) << c.url;
        }
        rig.now = start + c.seconds - 1;
        EXPECT_EQ(rig.cache.HasFresh(c.url), c.seconds > 0) << c.url;
        rig.now = start + c.seconds;
        EXPECT_FALSE(rig.cache.HasFresh(c.url)) << c.url;
    }
    EXPECT_EQ(fake.Requests().size(), asked);
}

TEST(Fetcher, ObeysRobotsTxtForPagesOtherThanTheRoot)
{
    FakeUpstream fake;
    auto site = [](const UpstreamRequest &request) {
        if (request.path == "/robots.txt")
            return Page("User-agent: *\nDisallow: /\n\nUser-agent: Kelvora\nDisallow: /private\nAllow: /private/open\n");
        return Page("page " + request.path);
    };
    fake.SetHandler("www.a.test", site);
    fake.SetHandler("www.b.test", site);
    fake.SetHandler("www.d.test", [](const UpstreamRequest &request) {
        UpstreamAnswer answer = Page(request.path == "/robots.txt" ? "busy" : "page");
        answer.status = request.path == "/robots.txt" ? 503 : 200;
        return answer;
    });
    FetcherRig rig(fake);
    auto obeying = [](const std::string &url) {
        FetchRequest request = Get(url);
        request.robots = RobotsCheck::Obey;
        return request;
    };

    EXPECT_EQ(rig.fetcher.Fetch(obeying("https://www.a.test/private/x")).get().outcome,
              FetchResult::Outcome::Disallowed);
    EXPECT_EQ(rig.fetcher.Fetch(obeying("https://www.a.test/private/open")).get().body, "page /private/open");
    EXPECT_EQ(rig.fetcher.Fetch(obeying("https://www.a.test/about")).get().body, "page /about");
    EXPECT_EQ(fake.CountFor("www.a.test", "/private/x"), 0u);
    EXPECT_EQ(fake.CountFor("www.a.test", "/robots.txt"), 1u);   // kept with the pages

    // The home page needs no robots.txt; an unreadable robots.txt forbids the rest.
    EXPECT_EQ(rig.fetcher.Fetch(obeying("https://www.b.test/")).get().body, "page /");
    EXPECT_EQ(fake.CountFor("www.b.test", "/robots.txt"), 0u);
    EXPECT_EQ(rig.fetcher.Fetch(obeying("https://www.d.test/contact")).get().outcome,
              FetchResult::Outcome::Disallowed);
    EXPECT_EQ(fake.CountFor("www.d.test", "/contact"), 0u);
}

TEST(Fetcher, UsesAFetchedRobotsTxtForADayAtMost)
{
    FakeUpstream fake;
    fake.SetHandler("www.a.test", [](const UpstreamRequest &request) {
        return Page(request.path == "/robots.txt" ? "User-agent: *\nDisallow: /private\n" : "page");
    });
    std::atomic<std::int64_t> now{1'700'000'000};
    WebCache cache(TemporaryFolder() + "/cache.db", kDefaultCacheBytes, [&now] { return now.load(); });
    NetworkFetcher network(ConfigFor(fake));
    Fetcher fetcher(cache, &network, [](const std::string &) {});
    const auto fetchObeying = [&fetcher](const std::string &path) {
        FetchRequest request = Get("https://www.a.test" + path);
        request.robots = RobotsCheck::Obey;
        return fetcher.Fetch(request).get();
    };
    const struct {
        std::int64_t hoursLater;
        const char *path;
        std::size_t robotsFetches;
    } steps[] = {{0, "/one", 1}, {23, "/two", 1}, {25, "/three", 2}, {47, "/four", 2}, {50, "/five", 3}};
    const std::int64_t start = now;
    for (const auto &step : steps) {
        now = start + step.hoursLater * 3600;
        EXPECT_EQ(fetchObeying(step.path).body, "page") << step.path;
        EXPECT_EQ(fake.CountFor("www.a.test", "/robots.txt"), step.robotsFetches) << step.path;
    }
    EXPECT_EQ(fetchObeying("/private/x").outcome, FetchResult::Outcome::Disallowed);
}

TEST(Fetcher, OfflineAnswersFromTheCacheAlone)
{
    WebCache cache(TemporaryFolder() + "/cache.db");
    CachedAnswer stored;
    stored.status = 200;
    stored.body = "stored page";
    stored.finalUrl = "https://www.a.test/";
    cache.Store("https://www.a.test/", stored, kPageTimeToLive);
    Fetcher fetcher(cache, nullptr, [](const std::string &) {});
    EXPECT_TRUE(fetcher.Offline());
    const FetchResult hit = fetcher.Fetch(Get("https://www.a.test/")).get();
    EXPECT_TRUE(hit.fromCache);
    EXPECT_EQ(hit.body, "stored page");
    EXPECT_EQ(fetcher.Fetch(Get("https://www.b.test/")).get().outcome, FetchResult::Outcome::NotCached);
}
