// The live gateway as the program meets it: its answers to the three kinds of
// request, read back with the program's own readers, against fake engines and
// sites on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "directory/core/pages.h"
#include "directory/live/live_service.h"
#include "directory/local/service.h"
#include "tests/directory/fixture_db.h"
#include "tests/live/fake_upstream.h"
#include "tests/live/live_rig.h"
#include "tests/live/test_pki.h"
#include "tests/support/files.h"
#include "web/popularity.h"
#include "web/results_page.h"
#include "web/text.h"

using namespace kelvora::directory::live;
using kelvora::directory::Reply;
using namespace kelvora::testsupport;

namespace {

using namespace std::chrono_literals;
using namespace kelvora::live::testing;

} // namespace

TEST(LiveSearch, ListsOneEntryPerHostInTheEnginesOrderAndDropsPrivateHosts)
{
    Rig::Setup setup;
    setup.everyHost = false;
    setup.mappedHosts = {"api2.marginalia-search.com"};
    for (const std::string &host : Hosts(1, 5))
        setup.mappedHosts.push_back(host);
    Rig rig(setup);
    rig.fake.SetResults(kGardenText, {
        {"https://www.site01.test/a", "One", ""},
        {"https://www.site01.test/b", "One again", ""},
        {"http://WWW.SITE02.TEST./x?y", "Two", ""},
        {"https://10.0.0.7/", "Private", ""},
        {"http://localhost/", "Local", ""},
        {"http://printer.local/", "Special-use name", ""},
        {"https://[2001:db8::1]/", "IPv6 literal", ""},
        {"ftp://www.site03.test/", "Not the web", ""},
        {"not an address", "Junk", ""},
        {"https://www.site03.test:8443/", "Three", ""},
        {"https://user@www.site04.test/", "Credentials", ""},
        {"https://www.site04.test/", "Four", ""},
        {"https://www.site02.test/again", "Two again", ""},
        {"https://www.site05.test/", "Five", ""},
    });

    const Reply reply = rig.Search(kGardenQuery);
    EXPECT_EQ(reply.status, 200);
    const ProgramView view = ReadAsTheProgram(reply.body);
    EXPECT_EQ(view.hosts, Hosts(1, 5));
    EXPECT_EQ(view.total, "5");

    // The engine, then each listed home page (prefetched) besides the site
    // facts; nothing reaches a host that was dropped.
    ASSERT_TRUE(WaitFor([&] {
        for (const std::string &host : Hosts(1, 5)) {
            if (rig.fake.CountFor(host, "/") == 0)
                return false;
        }
        return true;
    }));
    const std::vector<UpstreamRequest> requests = rig.fake.Requests();
    for (const std::string &host : Hosts(1, 5))
        EXPECT_EQ(rig.fake.CountFor(host, "/"), 1u) << host;
    for (const UpstreamRequest &request : requests) {
        const bool known = std::find(setup.mappedHosts.begin(), setup.mappedHosts.end(), request.host) !=
                               setup.mappedHosts.end() ||
                           request.host == FakeUpstream::kArchiveHost || request.host == FakeUpstream::kRdapHost ||
                           request.host == FakeUpstream::kRegistryHost || request.host == FakeUpstream::kBootstrapHost;
        EXPECT_TRUE(known) << request.host;
    }
    const std::optional<UpstreamRequest> engineRequest = rig.fake.FirstEngineRequest();
    ASSERT_TRUE(engineRequest);
    const UpstreamRequest &engine = *engineRequest;
    EXPECT_TRUE(engine.tls);
    EXPECT_EQ(engine.host, "api2.marginalia-search.com");
    EXPECT_EQ(engine.path, "/search");
    EXPECT_EQ(engine.Param("query"), kGardenText);   // the quotes keep the phrase
    EXPECT_EQ(engine.Param("count"), "20");
    EXPECT_EQ(engine.Param("page"), "1");
    EXPECT_EQ(engine.Header("API-Key"), "public");
    EXPECT_EQ(engine.Header("Accept"), "application/json");
    EXPECT_EQ(engine.Header("User-Agent"), "Kelvora/1.0 (+http://kelvora.example/)");
}

TEST(LiveSearch, PagesThroughTheEngineAsFarAsTheProgramAsks)
{
    Rig::Setup setup;
    setup.engine = std::string("searxng:") + FakeUpstream::kSearxngUrl;
    Rig rig(setup);
    // 35 hosts over 40 results: each host's first result counts.
    std::vector<Result> results = Sites(1, 35);
    for (int i = 1; i <= 5; ++i)
        results.insert(results.begin() + 3 * i, {"https://" + Site(i) + "/more", "dup", ""});
    rig.fake.SetResults(kGardenText, results, 1234);

    const ProgramView first = ReadAsTheProgram(rig.Search(kGardenQuery).body);
    EXPECT_EQ(first.hosts, Hosts(1, 20));
    EXPECT_EQ(first.total, "1234");   // the engine's estimate, larger than the hosts found
    const std::size_t pagesForFirst = rig.fake.CountFor("searx.test");
    EXPECT_EQ(pagesForFirst, 3u);   // 10 results a page, 5 of them repeats

    const ProgramView second = ReadAsTheProgram(rig.Search("p=%22garden+tools%22&n=20&b=21").body);
    EXPECT_EQ(second.hosts, Hosts(21, 35));
    EXPECT_EQ(second.total, "1234");

    std::vector<std::string> pagesAsked;
    for (const UpstreamRequest &request : rig.fake.Requests()) {
        if (request.host != "searx.test")
            continue;
        EXPECT_EQ(request.path, "/search");
        EXPECT_EQ(request.Param("format"), "json");
        EXPECT_EQ(request.Param("q"), kGardenText);
        pagesAsked.push_back(request.Param("pageno"));
    }
    // The earlier pages come from the cache the second time.
    EXPECT_EQ(pagesAsked, (std::vector<std::string>{"1", "2", "3", "4", "5"}));

    // An engine whose estimate is below the hosts found: the hosts found count.
    rig.fake.SetResults("\"few\"", Sites(1, 7), 3);
    EXPECT_EQ(ReadAsTheProgram(rig.Search("p=%22few%22&n=20&b=1").body).total, "7");

    // One host over and over: ten upstream pages, then the answer.
    std::vector<Result> same(300, {"https://" + Site(1) + "/", "same", ""});
    rig.fake.SetResults("\"same\"", same, -1);
    const std::size_t before = rig.fake.CountFor("searx.test");
    const ProgramView repeated = ReadAsTheProgram(rig.Search("p=%22same%22&n=20&b=1").body);
    EXPECT_EQ(repeated.hosts, Hosts(1, 1));
    EXPECT_EQ(rig.fake.CountFor("searx.test") - before, 10u);
}

TEST(LiveSearch, BraveGetsItsKeyCountAndOffset)
{
    Rig::Setup setup;
    setup.engine = "brave:secret-key-1";
    Rig rig(setup);
    rig.fake.SetResults(kGardenText, Sites(1, 30));
    const ProgramView view = ReadAsTheProgram(rig.Search("p=%22garden+tools%22&n=25&b=1").body);
    EXPECT_EQ(view.hosts, Hosts(1, 25));
    std::vector<std::string> offsets;
    for (const UpstreamRequest &request : rig.fake.Requests()) {
        if (request.host != "api.search.brave.com")
            continue;
        EXPECT_EQ(request.path, "/res/v1/web/search");
        EXPECT_EQ(request.Param("q"), kGardenText);
        EXPECT_EQ(request.Param("count"), "20");
        EXPECT_EQ(request.Header("X-Subscription-Token"), "secret-key-1");
        EXPECT_EQ(request.Header("Accept"), "application/json");
        offsets.push_back(request.Param("offset"));
    }
    EXPECT_EQ(offsets, (std::vector<std::string>{"0", "1"}));
}

TEST(LiveSearch, EveryEngineTextIsEscaped)
{
    Rig rig;
    rig.fake.SetResults("\"<b>tools</b>\"", {
        {"https://www.site01.test/", "<script>alert(1)</script> of about <strong>99</strong>",
         "<li><em class=\"url\">evil.test/</em> &lt;li&gt; & more"},
        {"https://www.site02.test/", "Fine &amp; dandy", "</em></li><li><em>forged.test</em>"},
    });
    const Reply reply = rig.Search("p=%22%3Cb%3Etools%3C%2Fb%3E%22&n=20&b=1");
    const ProgramView view = ReadAsTheProgram(reply.body);
    EXPECT_EQ(view.hosts, Hosts(1, 2));
    EXPECT_EQ(view.total, "2");
    EXPECT_EQ(reply.body.find("<script"), std::string::npos);
    EXPECT_EQ(reply.body.find("<b>tools"), std::string::npos);
    EXPECT_NE(reply.body.find("alert(1) of about 99"), std::string::npos);   // tags dropped, text kept
    EXPECT_NE(reply.body.find("Fine &amp; dandy"), std::string::npos);   // decoded once, escaped once
}

TEST(LiveSearch, AnEngineThatFailsIsAnswered503AndTheLineSaysWhy)
{
    const struct {
        const char *what;
        int status;
        std::string body;
        std::chrono::milliseconds delay;
        const char *logged;
    } cases[] = {
        {"server error", 500, "{}", 0ms, "server error (HTTP 500)"},
        {"rate limit", 429, "slow down", 0ms, "rate limited (HTTP 429); try again in 60 s"},
        // The engine's second stop in a row: its back-off has doubled.
        {"overloaded", 503, "busy", 0ms, "busy (HTTP 503); try again in 120 s"},
        {"bad key", 401, "{}", 0ms, "the API key was refused (HTTP 401); give a valid one as marginalia:KEY"},
        {"cut JSON", 200, "{\"results\": [{\"url\": \"https://www.site01.test/\"", 0ms, "malformed JSON"},
        {"not an object", 200, "[1, 2, 3]", 0ms, "malformed JSON (not an object)"},
        {"no results list", 200, "{\"results\": {\"url\": 1}}", 0ms, "no \"results\" list"},
        {"deep nesting", 200, std::string(100000, '['), 0ms, "nested deeper"},
        {"oversized", 200, "{\"results\": [], \"pad\": \"" + std::string(5 * 1024 * 1024, 'x') + "\"}", 0ms,
         "larger than the size limit"},
        {"no answer in time", 200, "{\"results\": []}", 5000ms, "time limit"},
    };
    Rig::Setup setup;
    setup.settings.timeLimit = 1s;
    Rig rig(setup);
    for (const auto &c : cases) {
        rig.fake.SetHandler("api2.marginalia-search.com", [&c](const UpstreamRequest &) {
            UpstreamAnswer answer;
            answer.status = c.status;
            answer.body = c.body;
            answer.contentType = "application/json";
            answer.delay = c.delay;
            return answer;
        });
        const auto start = std::chrono::steady_clock::now();
        const Reply reply = rig.Search(std::string("p=%22") + c.what + "%22&n=20&b=1");
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << c.what;
        EXPECT_EQ(reply.status, 503) << c.what;
        EXPECT_EQ(reply.body.rfind("marginalia: ", 0), 0u) << c.what << ": " << reply.body;
        EXPECT_NE(reply.body.find(c.logged), std::string::npos) << c.what << ": " << reply.body;
        EXPECT_EQ(reply.body.find('\n'), std::string::npos) << c.what;
        EXPECT_NE(rig.Log().find(c.logged), std::string::npos) << c.what << "\n" << rig.Log();
    }
    // No engine failure is kept: a key or instance set right works at once
    // (a 429's wait is kept by the pacer, not the cache).
    EXPECT_FALSE(rig.service->Cache().HasFresh("marginalia:1:\"server error\""));
}

TEST(LiveSearch, BacklinksAreEmptyWithoutFactsAndDetailsNeedAHost)
{
    Rig rig;
    const ProgramView backlinks = ReadAsTheProgram(
        rig.Search("p=link%3Ahttp%3A%2F%2Fwww.site01.test").body);
    EXPECT_EQ(backlinks.total, "0");
    EXPECT_TRUE(backlinks.hosts.empty());
    for (const char *query : {"", "url=", "url=www.", "url=%3Cscript%3E"}) {
        const Reply details = rig.service->Respond("/data/details/", query, "127.0.0.1");
        EXPECT_EQ(details.body, kelvora::directory::RenderUnknownDetailsPage()) << query;
    }
    EXPECT_TRUE(rig.fake.Requests().empty());   // none of it asks the web
}

TEST(LiveSearch, SitesOfADataSetKeepTheirStoredFacts)
{
    using kelvora::directory::testing::FixtureDatabase;
    using kelvora::directory::testing::FixtureStore;
    Rig::Setup setup;
    setup.dataFile = FixtureDatabase();
    Rig rig(setup);
    const std::pair<std::string, std::string> requests[] = {
        {"/data/details/", "url=www.greenleaf-garden.test"},
        {"/search", "p=link%3Ahttp%3A%2F%2Fwww.seedbank.test"},
    };
    for (const auto &[path, query] : requests) {
        const Reply live = rig.service->Respond(path, query, "127.0.0.1");
        const Reply local = kelvora::directory::Respond(FixtureStore(), path, query, "127.0.0.1");
        EXPECT_EQ(live.body, local.body) << query;
    }
    // A backlink query for a host the data set lacks lists nothing.
    EXPECT_EQ(ReadAsTheProgram(rig.Search("p=link%3Ahttp%3A%2F%2Fwww.site09.test").body).total, "0");
    // A site the data set lacks gets the live facts instead of an unknown
    // site's page.
    const std::string unknown = rig.Details("www.unknown-site.test").body;
    EXPECT_NE(unknown.find("Online since: " + FakeUpstream::FirstCaptureFor("unknown-site.test")), std::string::npos)
        << unknown;
}

TEST(LiveHome, TheSitesOwnPageOrAShortPageWithoutAnchors)
{
    Rig::Setup setup;
    setup.everyHost = false;
    setup.mappedHosts = {Site(5), "www.mismatch.org"};
    Rig rig(setup);

    const Reply live = rig.Home(Site(5));
    EXPECT_EQ(live.status, 200);
    EXPECT_EQ(live.body, FakeUpstream::HomePage(Site(5)));

    const Reply failed = rig.Home("www.mismatch.org");
    EXPECT_EQ(failed.status, 200);
    EXPECT_EQ(kelvora::LowerCase(failed.body).find("<a "), std::string::npos);
    EXPECT_NE(failed.body.find("www.mismatch.org could not be fetched"), std::string::npos) << failed.body;
    EXPECT_NE(rig.Log().find("home page www.mismatch.org: "), std::string::npos) << rig.Log();
    EXPECT_EQ(rig.fake.CountFor("www.mismatch.org"), 0u);

    // What is no site, or is this machine or its network (someone opening
    // the gateway itself), gets the service's own page and no fetch.
    for (const std::string host : {"", "127.0.0.1:8355", "localhost", "intranet.local", "192.168.0.1"})
        EXPECT_EQ(rig.Home(host).body, kelvora::directory::RenderServicePage(0)) << host;
    EXPECT_EQ(rig.service->Network()->Stats().transfers, 2u);
}

TEST(LivePrefetch, AResultsPageStartsEveryHomePageAndTheProgramJoinsThoseFetches)
{
    Rig rig;
    rig.fake.SetResults(kGardenText, Sites(1, 20));
    rig.fake.SetDelay(200ms);
    const ProgramView view = ReadAsTheProgram(rig.Search(kGardenQuery).body);
    ASSERT_EQ(view.hosts, Hosts(1, 20));
    // All 20 are asked for before the program asks for any of them.
    EXPECT_TRUE(WaitFor([&] {
        for (const std::string &host : view.hosts) {
            if (rig.fake.CountFor(host, "/") == 0)
                return false;
        }
        return true;
    }));
    const auto start = std::chrono::steady_clock::now();
    for (const std::string &host : view.hosts)
        EXPECT_EQ(rig.Home(host).body, FakeUpstream::HomePage(host));
    // The fetches ran side by side: twenty 200 ms answers take far less than 4 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    for (const std::string &host : view.hosts)
        EXPECT_EQ(rig.fake.CountFor(host, "/"), 1u) << host;
}

TEST(LivePrefetch, WithoutPrefetchNothingIsFetchedUntilAsked)
{
    Rig::Setup setup;
    setup.settings.prefetch = false;
    Rig rig(setup);
    rig.fake.SetResults(kGardenText, Sites(1, 3));
    ASSERT_EQ(ReadAsTheProgram(rig.Search(kGardenQuery).body).hosts.size(), 3u);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(rig.fake.CountFor(Site(1)), 0u);
    EXPECT_EQ(rig.Home(Site(1)).body, FakeUpstream::HomePage(Site(1)));
    EXPECT_EQ(rig.fake.CountFor(Site(1)), 1u);
}

TEST(LiveOffline, ReplaysTheCacheWithoutOpeningAnyConnection)
{
    Rig rig;
    rig.fake.SetResults(kGardenText, Sites(1, 4));
    const Reply search = rig.Search(kGardenQuery);
    std::vector<Reply> homes;
    for (const std::string &host : Hosts(1, 4))
        homes.push_back(rig.Home(host));

    const auto counter = rig.ReopenOffline();
    EXPECT_EQ(rig.service->Network(), nullptr);
    EXPECT_EQ(rig.Search(kGardenQuery).body, search.body);
    for (std::size_t i = 0; i < homes.size(); ++i)
        EXPECT_EQ(rig.Home(Site(static_cast<int>(i) + 1)).body, homes[i].body);
    // What the cache lacks gets the answer an unknown query or site gets.
    EXPECT_TRUE(ReadAsTheProgram(rig.Search("p=%22never+asked%22&n=20&b=1").body).hosts.empty());
    EXPECT_EQ(rig.Home(Site(9)).body, kelvora::directory::RenderServicePage(0));
    EXPECT_EQ(counter->connectionCount(), 0u);
}

TEST(LiveCache, SearchAnswersLastADayAndPagesAWeek)
{
    Rig rig;
    rig.fake.SetResults(kGardenText, Sites(1, 1));
    auto engineAsked = [&] { return rig.fake.CountFor("api2.marginalia-search.com"); };
    auto pageAsked = [&] { return rig.fake.CountFor(Site(1), "/"); };
    ASSERT_EQ(ReadAsTheProgram(rig.Search(kGardenQuery).body).hosts, Hosts(1, 1));
    rig.Home(Site(1));
    ASSERT_EQ(engineAsked(), 1u);
    ASSERT_EQ(pageAsked(), 1u);

    const std::int64_t start = rig.now;
    rig.now = start + 24 * 3600 - 1;
    rig.Search(kGardenQuery);
    EXPECT_EQ(engineAsked(), 1u);
    rig.now = start + 24 * 3600;
    rig.Search(kGardenQuery);
    EXPECT_EQ(engineAsked(), 2u);
    ASSERT_TRUE(WaitFor([&] { return pageAsked() >= 1; }));
    EXPECT_EQ(pageAsked(), 1u);   // the prefetch found the page still fresh

    rig.now = start + 7 * 24 * 3600 - 1;
    rig.Home(Site(1));
    EXPECT_EQ(pageAsked(), 1u);
    rig.now = start + 7 * 24 * 3600;
    rig.Home(Site(1));
    EXPECT_EQ(pageAsked(), 2u);
}
