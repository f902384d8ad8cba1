// The gateway's manners towards the services it asks: every host paced by
// its own token bucket, a 429 or 503 stopping its host, failures remembered
// for their periods, RDAP asked of the registry the IANA bootstrap names,
// and background work that never holds the program up.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "directory/live/connect_to.h"
#include "directory/live/failure_cache.h"
#include "directory/live/network.h"
#include "directory/live/options.h"
#include "directory/live/rate_limit.h"
#include "directory/live/rdap_bootstrap.h"
#include "directory/live/transfer_slots.h"
#include "tests/live/fake_upstream.h"
#include "tests/live/live_rig.h"
#include "tests/live/network_fixture.h"
#include "tests/live/test_pki.h"
#include "tests/support/loopback_server.h"
#include "web/text.h"
#include "web/traffic.h"

namespace {

using namespace kelvora::directory::live;
using namespace kelvora::live::testing;
using kelvora::testsupport::LoopbackServer;
using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::chrono::system_clock::time_point Utc(int year, int month, int day, int hour, int minute, int second)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return std::chrono::system_clock::from_time_t(timegm(&tm));
}

// Most of times (sorted) that fall in any half-open window of length span.
std::size_t MostInAnyWindow(std::vector<Steady::time_point> times, Steady::duration span)
{
    std::sort(times.begin(), times.end());
    std::size_t most = 0;
    for (std::size_t first = 0, last = 0; first < times.size(); ++first) {
        while (last < times.size() && times[last] < times[first] + span)
            ++last;
        most = std::max(most, last - first);
    }
    return most;
}

// A pacing clock the test moves by hand.
struct ManualClock {
    std::shared_ptr<std::atomic<std::int64_t>> ms = std::make_shared<std::atomic<std::int64_t>>(1'000'000);
    HostPacer::Clock Clock() const
    {
        return [ms = ms] { return Steady::time_point(std::chrono::milliseconds(ms->load())); };
    }
    Steady::time_point Now() const { return Steady::time_point(std::chrono::milliseconds(ms->load())); }
    void Advance(std::chrono::milliseconds by) const { *ms += by.count(); }
};

std::string DetailsOnlineSince(Rig &rig, const std::string &host)
{
    // As the program's traffic fetch hands the page to its readers.
    const std::string page = rig.Details(host).body;
    return kelvora::ParseOnlineSince(kelvora::ReplaceAllIgnoreCase(kelvora::LowerCase(page), "\r\n", ""));
}

} // namespace

TEST(Pacing, RetryAfterBucketsBackOffRegistrableDomainsAndTheBootstrap)
{
    // Retry-After in both of its forms, as a wait from now.
    const auto now = Utc(2026, 12, 9, 22, 0, 0);
    const struct {
        const char *value;
        std::optional<std::chrono::seconds> wait;
    } retryCases[] = {
        {"120", 120s},
        {" 0 ", 0s},
        {"Wed, 09 Dec 2026 22:01:30 GMT", 90s},
        {"Wednesday, 09-Dec-26 22:00:10 GMT", 10s},
        {"Wed Dec  9 23:00:00 2026", 3600s},
        {"Wed, 09 Dec 2026 21:00:00 GMT", 0s},              // already past
        {"99999999999999999999", 24h},                       // capped, no overflow
        {"-5", std::nullopt},
        {"soon", std::nullopt},
        {"Wed, 32 Dec 2026 22:01:30 GMT", std::nullopt},
        {"Wed, 09 Foo 2026 22:01:30 GMT", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &c : retryCases)
        EXPECT_EQ(ParseRetryAfter(c.value, now), c.wait) << c.value;

    // Each published limit holds in every window, however fast requests
    // come: asked every 10 ms for ten minutes.
    const struct {
        PaceLimit limit;
        Steady::duration window;
        std::size_t most;    // the service's own limit
        std::size_t total;   // sent in the ten minutes
    } bucketCases[] = {
        // The full bucket, then a token per interval (the last at 600 s is
        // just outside).
        {{kArchiveBurst, kArchiveInterval}, 60s, 20, 5 + 600 / 4 - 1},
        {{kRdapBurst, kRdapInterval}, 1s, 5, 1 + 600 * 4 - 1},
        {{1, kBraveInterval}, 1s, 2, 1 + 600 - 1},
    };
    for (const auto &c : bucketCases) {
        Steady::time_point at{};
        TokenBucket bucket(c.limit, at);
        std::vector<Steady::time_point> sent;
        for (int i = 0; i < 60'000; ++i, at += 10ms) {
            if (bucket.TryTake(at))
                sent.push_back(at);
            else
                EXPECT_GT(bucket.NextToken(at), at);
        }
        EXPECT_LE(MostInAnyWindow(sent, c.window), c.most);
        EXPECT_EQ(sent.size(), c.total);
    }

    // Stops: Retry-After when given, else 60 s doubling to an hour; any
    // other answer starts the doubling afresh; other hosts go on.
    ManualClock clock;
    HostPacer pacer(clock.Clock());
    pacer.SetLimit("paced.test", {2, 1000ms});
    EXPECT_EQ(pacer.Admit("paced.test").verdict, HostPacer::Admission::Verdict::Go);
    EXPECT_EQ(pacer.Admit("paced.test").verdict, HostPacer::Admission::Verdict::Go);
    const HostPacer::Admission third = pacer.Admit("paced.test");
    EXPECT_EQ(third.verdict, HostPacer::Admission::Verdict::Wait);
    EXPECT_EQ(third.until, clock.Now() + 1000ms);
    EXPECT_EQ(pacer.Stop("stopped.test", 30s), 30s);
    std::vector<std::int64_t> backOffs;
    for (int i = 0; i < 8; ++i)
        backOffs.push_back(pacer.Stop("stopped.test", std::nullopt).count());
    EXPECT_EQ(backOffs, (std::vector<std::int64_t>{60, 120, 240, 480, 960, 1920, 3600, 3600}));
    EXPECT_EQ(pacer.Admit("stopped.test").verdict, HostPacer::Admission::Verdict::Stopped);
    EXPECT_EQ(pacer.Admit("other.test").verdict, HostPacer::Admission::Verdict::Go);
    clock.Advance(3600s);
    EXPECT_EQ(pacer.Admit("stopped.test").verdict, HostPacer::Admission::Verdict::Go);
    pacer.Answered("stopped.test");
    EXPECT_EQ(pacer.Stop("stopped.test", std::nullopt), 60s);

    // RDAP asks the registry about the ICANN registrable domain.
    const std::pair<const char *, const char *> domainCases[] = {
        {"user.github.io", "github.io"},          // a private suffix is no registry's
        {"www.blog.example.co.uk", "example.co.uk"},
        {"www.example.com", "example.com"},
        {"shop.site01.test", "site01.test"},
        {"co.uk", ""},
        {"localhost", ""},
        {"bad host", ""},
    };
    for (const auto &[host, domain] : domainCases)
        EXPECT_EQ(IcannRegistrableDomain(host), domain) << host;

    // The bootstrap: the longest listed suffix, its https server only.
    const RdapBootstrap bootstrap = RdapBootstrap::Parse(R"({"services": [
        [["com", "net"], ["http://plain.example/", "https://rdap.verisign.example/com/v1"]],
        [["uk"], ["https://nominet.example/uk/"]],
        [["co.uk"], ["https://nominet.example/co.uk/"]],
        [["org"], ["http://only-plain.example/"]],
        "junk", [["io"]], [[1], ["https://x.example/"]]]})");
    EXPECT_EQ(bootstrap.ServerFor("example.com"), "https://rdap.verisign.example/com/v1/");
    EXPECT_EQ(bootstrap.ServerFor("Example.CO.UK"), "https://nominet.example/co.uk/");
    EXPECT_EQ(bootstrap.ServerFor("example.org.uk"), "https://nominet.example/uk/");
    EXPECT_EQ(bootstrap.ServerFor("example.org"), "");
    EXPECT_EQ(bootstrap.ServerFor("example.io"), "");
    for (const char *bad : {"", "[]", "{\"services\": 3}", "{\"services\": [", "null"})
        EXPECT_EQ(RdapBootstrap::Parse(bad).Size(), 0u) << bad;
    EXPECT_EQ(RdapBootstrap::Parse(std::string(100000, '[')).Size(), 0u);

    // The share of slots: engine pages always find one, the program nearly
    // always, one results page's prefetch never all of them.
    TransferSlots slots;
    while (slots.MayStart(TransferPriority::Prefetch, 1))
        slots.Started(TransferPriority::Prefetch, 1);
    EXPECT_TRUE(slots.MayStart(TransferPriority::Prefetch, 2));
    while (slots.MayStart(TransferPriority::Prefetch, 2))
        slots.Started(TransferPriority::Prefetch, 2);
    int program = 0;
    for (; slots.MayStart(TransferPriority::Program, 0); ++program)
        slots.Started(TransferPriority::Program, 0);
    EXPECT_EQ(program, kMaxNonEngineTransfers - kMaxPrefetchTransfers);
    EXPECT_TRUE(slots.MayStart(TransferPriority::Engine, 0));
    EXPECT_FALSE(slots.MayStart(TransferPriority::Prefetch, 3));
    slots.Ended(TransferPriority::Prefetch, 1);
    EXPECT_TRUE(slots.MayStart(TransferPriority::Prefetch, 3));

    // --engine-rate: requests a second, any positive number.
    std::string error;
    const auto rate = ParseLiveOptions({"--live", "--engine-rate", "0.5"}, error);
    ASSERT_TRUE(rate) << error;
    EXPECT_DOUBLE_EQ(rate->engineRate, 0.5);
    for (const char *bad : {"0", "-1", "x", "1e9", ""})
        EXPECT_FALSE(ParseLiveOptions({"--live", "--engine-rate", bad}, error)) << bad;
}

TEST(LivePacing, A429StopsItsHostBucketsHoldAndTheRunAnswersWithWhatIsKnown)
{
    ManualClock clock;
    Rig::Setup setup;
    setup.settings.pacingClock = clock.Clock();
    Rig rig(setup);
    rig.fake.SetResults(kGardenText, Sites(1, 20));

    // The archive answers 429 until told otherwise; each service's requests
    // are timed on the pacer's clock.
    std::mutex mutex;
    std::map<std::string, std::vector<Steady::time_point>> seen;
    std::atomic<bool> archiveLimits{true};
    rig.fake.SetHandler(FakeUpstream::kArchiveHost, [&](const UpstreamRequest &request) {
        {
            const std::lock_guard lock(mutex);
            seen["archive"].push_back(clock.Now());
        }
        UpstreamAnswer answer;
        answer.contentType = "application/json";
        if (archiveLimits) {
            answer.status = 429;
            answer.headers.emplace_back("Retry-After", "120");
            answer.body = "slow down";
            return answer;
        }
        answer.body = FakeUpstream::CdxJson(FakeUpstream::FirstCaptureFor(request.Param("url")));
        return answer;
    });
    rig.fake.SetHandler(FakeUpstream::kRegistryHost, [&](const UpstreamRequest &request) {
        {
            const std::lock_guard lock(mutex);
            seen["registry"].push_back(clock.Now());
        }
        const std::string domain = request.path.substr(std::string("/domain/").size());
        UpstreamAnswer answer;
        answer.contentType = "application/rdap+json";
        answer.body = FakeUpstream::RdapJson(domain, FakeUpstream::RegisteredFor(domain), FakeUpstream::kAbuseMail);
        return answer;
    });
    const auto count = [&](const std::string &service) {
        const std::lock_guard lock(mutex);
        return seen[service].size();
    };

    // The program's run, with the pacer's clock standing still: every
    // details page comes at once, with what is known.
    const auto start = Steady::now();
    ASSERT_EQ(ReadAsTheProgram(rig.Search("p=%22garden+tools%22&n=20&b=1").body).hosts, Hosts(1, 20));
    std::vector<std::string> since;
    for (const std::string &host : Hosts(1, 20)) {
        const auto asked = Steady::now();
        EXPECT_NE(rig.Home(host).body.find("<title>"), std::string::npos) << host;
        since.push_back(DetailsOnlineSince(rig, host));
        EXPECT_LT(Steady::now() - asked, 3s) << host;
    }
    EXPECT_LT(Steady::now() - start, 20s);
    // The archive stopped after its first answers (two run at once at most);
    // the registry's bucket let one request out; the rest wait their turn.
    EXPECT_GE(count("archive"), 1u);
    EXPECT_LE(count("archive"), static_cast<std::size_t>(2));
    EXPECT_EQ(count("registry"), kRdapBurst);
    // Which site's registry answer came is the order the home pages
    // answered in (the registry is asked once a name proved public): one did.
    EXPECT_EQ(std::count(since.begin(), since.end(), ""), 19);
    for (std::size_t i = 0; i < since.size(); ++i) {
        if (!since[i].empty()) {
            EXPECT_EQ(since[i], FakeUpstream::RegisteredFor(Hosts(1, 20)[i].substr(4))) << i;
        }
    }
    EXPECT_NE(rig.Log().find("not known yet"), std::string::npos) << rig.Log();

    // While stopped, nothing goes to the archive, however often it is asked.
    clock.Advance(60s);
    rig.now += 60;
    const std::size_t archiveBefore = count("archive");
    for (const std::string &host : Hosts(1, 5))
        rig.Details(host);
    EXPECT_EQ(count("archive"), archiveBefore);

    // Past the stop the archive is asked again at its pace, and the
    // registries' queue drains at theirs, into the cache. The clock moves a
    // quarter second at a time.
    clock.Advance(61s);
    rig.now += 61;
    archiveLimits = false;
    rig.Search("p=%22garden+tools%22&n=20&b=1");
    const auto cached = [&] {
        for (const std::string &host : Hosts(1, 20)) {
            const std::string key = host.substr(4);
            if (!rig.service->Cache().HasFresh(SiteFacts::CdxRequest(key).Key()) ||
                !rig.service->Cache().HasFresh(
                    RdapLookup::DomainRequest(std::string("https://") + FakeUpstream::kRegistryHost + "/", key)
                        .Key()))
                return false;
        }
        return true;
    };
    for (int step = 0; step < 2'000 && !cached(); ++step) {
        clock.Advance(250ms);
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(cached());
    {
        const std::lock_guard lock(mutex);
        EXPECT_LE(MostInAnyWindow(seen["archive"], 60s), 20u);
        EXPECT_LE(MostInAnyWindow(seen["registry"], 1s), 5u);
        EXPECT_GE(seen["archive"].size(), 20u);
        EXPECT_EQ(seen["registry"].size(), 20u);   // each domain once
    }
    // A later look finds the capture the archive sent in the background.
    EXPECT_EQ(DetailsOnlineSince(rig, Site(20)), FakeUpstream::FirstCaptureFor(Site(20)));
}

TEST(LivePacing, FailingSitesAreFetchedOncePerPeriodAndAWarmSearchOpensNoConnection)
{
    Rig rig;
    // www.a.test loops through redirects; www.b.test refuses https and
    // closes its http connections unanswered.
    rig.fake.SetHandler("www.a.test", [](const UpstreamRequest &request) {
        UpstreamAnswer answer;
        answer.status = 302;
        answer.headers.emplace_back("Location", request.path == "/r1" ? "/r2" : "/r1");
        return answer;
    });
    LoopbackServer unreachable({kelvora::testsupport::Close()});
    const std::string port = std::to_string(unreachable.port());
    const std::string closed = std::to_string(kelvora::testsupport::ClosedLoopbackPort());
    rig.options.connectTo.insert(rig.options.connectTo.begin(),
                                 {*ParseConnectTo("www.b.test:443:127.0.0.1:" + closed),
                                  *ParseConnectTo("www.b.test:80:127.0.0.1:" + port)});
    rig.Open();
    std::vector<Result> results = Sites(1, 3);
    results.push_back({"https://www.a.test/", "Loop", "Round and round"});
    results.push_back({"https://www.b.test/", "Gone", "Nobody home"});
    rig.fake.SetResults(kGardenText, results);
    const std::vector<std::string> hosts = {Site(1), Site(2), Site(3), "www.a.test", "www.b.test"};

    struct Round {
        std::size_t loopHome, unreachableConnections, connections, requests;
    };
    const auto round = [&] {
        EXPECT_EQ(ReadAsTheProgram(rig.Search(kGardenQuery).body).hosts, hosts);
        for (const std::string &host : hosts) {
            rig.Home(host);
            rig.Details(host);
        }
        // The prefetch's own fetches finish in the background too.
        std::size_t settled = 0;
        WaitFor([&] {
            const std::size_t now = rig.fake.Requests().size() + unreachable.connectionCount();
            const bool same = now == settled;
            settled = now;
            std::this_thread::sleep_for(200ms);
            return same;
        });
        return Round{rig.fake.CountFor("www.a.test", "/"), unreachable.connectionCount(),
                     rig.service->Network()->Stats().connections, rig.fake.Requests().size()};
    };

    const Round first = round();
    EXPECT_EQ(first.loopHome, 1u);   // once for the prefetch, the home page and the details alike
    EXPECT_EQ(first.unreachableConnections, 1u);   // the home page's http attempt
    EXPECT_NE(rig.Log().find("redirect loop back to https://www.a.test/r1"), std::string::npos) << rig.Log();
    EXPECT_EQ(rig.fake.CountFor("www.a.test", "/r2"), 2u);   // the home page and robots.txt, each round once

    // The warm repeat: everything from the cache, failures included.
    const Round warm = round();
    EXPECT_EQ(warm.loopHome, first.loopHome);
    EXPECT_EQ(warm.unreachableConnections, first.unreachableConnections);
    EXPECT_EQ(warm.requests, first.requests);
    EXPECT_EQ(warm.connections, first.connections);   // not a single connection

    // An hour on, the failures are tried again, once.
    rig.now += 3600;
    const Round later = round();
    EXPECT_EQ(later.loopHome, first.loopHome + 1);
    EXPECT_EQ(later.unreachableConnections, 2 * first.unreachableConnections);
}

TEST(LivePacing, SitesThatDripDoNotStarveAnUnrelatedSearch)
{
    Rig rig;
    // More sites than one page's share of slots, whose home pages (over
    // http: https is refused) come a byte a second, holding their transfers
    // for the whole time limit.
    constexpr int kDrippers = kMaxPrefetchTransfersPerPage + 6;
    LoopbackServer dripping({kelvora::testsupport::Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                                        "Content-Length: 100\r\n\r\n"),
                             kelvora::testsupport::Drip(std::string(100, 'x'), 1000ms)});
    const std::string closed = std::to_string(kelvora::testsupport::ClosedLoopbackPort());
    std::vector<Result> drippers;
    std::vector<ConnectToRule> rules;
    for (int i = 1; i <= kDrippers; ++i) {
        const std::string host = "www.drip" + std::to_string(i) + ".test";
        drippers.push_back({"http://" + host + "/", "Drip", "Slow"});
        rules.push_back(*ParseConnectTo(host + ":80:127.0.0.1:" + std::to_string(dripping.port())));
        rules.push_back(*ParseConnectTo(host + ":443:127.0.0.1:" + closed));
    }
    rig.options.connectTo.insert(rig.options.connectTo.begin(), rules.begin(), rules.end());
    rig.Open();
    rig.fake.SetResults("drip", drippers);
    rig.fake.SetResults("quick", Sites(1, 3));

    ASSERT_EQ(ReadAsTheProgram(rig.Search("p=drip&n=50&b=1").body).hosts.size(),
              static_cast<std::size_t>(kDrippers));
    ASSERT_TRUE(WaitFor([&] {
        return dripping.connectionCount() >= static_cast<std::size_t>(kMaxPrefetchTransfersPerPage);
    }));

    const auto start = Steady::now();
    const ProgramView quick = ReadAsTheProgram(rig.Search("p=quick&n=20&b=1").body);
    EXPECT_EQ(quick.hosts, Hosts(1, 3));
    for (const std::string &host : Hosts(1, 3)) {
        EXPECT_EQ(rig.Home(host).body, FakeUpstream::HomePage(host));
        EXPECT_EQ(DetailsOnlineSince(rig, host), FakeUpstream::FirstCaptureFor(host));
    }
    EXPECT_LT(Steady::now() - start, 3s);
    // One page's prefetch never holds every slot meant for prefetching.
    EXPECT_LE(dripping.connectionCount(), static_cast<std::size_t>(kMaxPrefetchTransfersPerPage));
}

TEST(LivePacing, EnginePagesKeepToTheEnginesRate)
{
    const struct {
        const char *engine;
        double rate;   // --engine-rate; 0: the engine's default
        const char *host;
        std::chrono::milliseconds interval;
    } cases[] = {
        {"brave:KEY", 0, "api.search.brave.com", kBraveInterval},
        {"marginalia:public", 2, "api2.marginalia-search.com", 500ms},
        {"brave:KEY", 4, "api.search.brave.com", 250ms},
    };
    for (const auto &c : cases) {
        ManualClock clock;
        Rig::Setup setup;
        setup.engine = c.engine;
        setup.settings.pacingClock = clock.Clock();
        Rig rig(setup);
        rig.options.engineRate = c.rate;
        rig.Open();
        rig.fake.SetResults("one", Sites(1, 2));
        rig.fake.SetResults("two", Sites(3, 4));

        EXPECT_EQ(ReadAsTheProgram(rig.Search("p=one").body).hosts, Hosts(1, 2)) << c.engine;
        auto later = std::async(std::launch::async, [&rig] { return rig.Search("p=two").body; });
        // The second page waits for the next token, on the pacer's clock.
        EXPECT_EQ(later.wait_for(300ms), std::future_status::timeout) << c.engine;
        EXPECT_EQ(rig.fake.CountFor(c.host), 1u) << c.engine;
        clock.Advance(c.interval - 1ms);
        EXPECT_EQ(later.wait_for(300ms), std::future_status::timeout) << c.engine;
        clock.Advance(1ms);
        ASSERT_EQ(later.wait_for(5s), std::future_status::ready) << c.engine;
        EXPECT_EQ(ReadAsTheProgram(later.get()).hosts, Hosts(3, 4)) << c.engine;
        EXPECT_EQ(rig.fake.CountFor(c.host), 2u) << c.engine;
    }
}

TEST(LivePacing, BackgroundWorkIsBoundedOldestFirstAndEndsWithTheGateway)
{
    FakeUpstream fake;
    ManualClock clock;
    NetworkConfig config = ConfigFor(fake);
    config.pacingClock = clock.Clock();
    auto network = std::make_unique<NetworkFetcher>(config);
    network->Pacer().SetLimit("www.site01.test", {1, 3600s});

    constexpr std::size_t kExtra = 5;
    std::mutex mutex;
    std::vector<std::string> outcomes(kMaxQueuedPrefetches + kExtra);
    std::atomic<std::size_t> done{0};
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        FetchRequest request;
        request.url = "https://www.site01.test/" + std::to_string(i);
        request.priority = TransferPriority::Prefetch;
        network->Start(request, [&, i](FetchResult result) {
            const std::lock_guard lock(mutex);
            outcomes[i] = result.Answered() ? "answered" : result.error;
            ++done;
        });
    }
    // One goes with the bucket's token; of the rest, waiting for the next,
    // the oldest beyond the bound are dropped (which ones depends on how
    // many had arrived when the queue was first seen: always the oldest).
    const auto count = [&](const std::string &what) {
        return static_cast<std::size_t>(std::count_if(outcomes.begin(), outcomes.end(), [&](const std::string &outcome) {
            return outcome.find(what) != std::string::npos;
        }));
    };
    ASSERT_TRUE(WaitFor([&] { return done >= kExtra; }));
    std::this_thread::sleep_for(300ms);
    std::size_t waiting = 0;
    {
        const std::lock_guard lock(mutex);
        waiting = static_cast<std::size_t>(std::count(outcomes.begin(), outcomes.end(), std::string()));
        EXPECT_EQ(count("answered"), 1u);
        EXPECT_LE(waiting, kMaxQueuedPrefetches);
        EXPECT_GE(count("dropped"), kExtra - 1);
        EXPECT_EQ(waiting + count("dropped") + 1, outcomes.size());
        std::size_t newestDropped = 0;
        std::size_t oldestWaiting = outcomes.size();
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            if (outcomes[i].find("dropped") != std::string::npos)
                newestDropped = i;
            else if (outcomes[i].empty())
                oldestWaiting = std::min(oldestWaiting, i);
        }
        EXPECT_LT(newestDropped, oldestWaiting);
    }
    EXPECT_EQ(fake.CountFor("www.site01.test"), 1u);
    // The gateway stops: whatever waits is answered "not known yet", unsent.
    network.reset();
    const std::lock_guard lock(mutex);
    EXPECT_EQ(done.load(), outcomes.size());
    EXPECT_EQ(count("the gateway is stopping"), waiting);
    EXPECT_EQ(fake.CountFor("www.site01.test"), 1u);
}
