// The site facts of live mode as the program meets them: details pages and
// backlink searches answered from a facts database and from fake HTTPS
// upstreams (the archive's CDX API, RDAP, the sites' pages and security.txt)
// on loopback, read back with the program's own readers.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "directory/core/pages.h"
#include "directory/facts/contacts.h"
#include "directory/live/contacts_memo.h"
#include "tests/live/facts_fixture.h"
#include "tests/live/fake_upstream.h"
#include "tests/live/live_rig.h"
#include "web/contact.h"
#include "web/text.h"
#include "web/traffic.h"

using namespace kelvora::directory::live;
using namespace kelvora::live::testing;

namespace {

using namespace std::chrono_literals;

constexpr std::int64_t kDay = 24 * 3600;

// The details page as the program's traffic fetch hands it to its readers.
std::string TrafficPage(const std::string &page)
{
    return kelvora::ReplaceAllIgnoreCase(kelvora::LowerCase(page), "\r\n", "");
}

// The contact lines of a details page, as "Get Data" shows them in the pane
// (after its "Website:" and "Site:" lines, up to the empty line).
std::vector<std::string> ContactLines(const std::string &page)
{
    const std::string pane = kelvora::FormatContactData("site", page);
    std::vector<std::string> lines;
    std::size_t start = 0;
    int index = 0;
    while (start <= pane.size()) {
        std::size_t end = pane.find("\r\n", start);
        if (end == std::string::npos)
            end = pane.size();
        const std::string line = pane.substr(start, end - start);
        if (index >= 2) {
            if (line.empty())
                break;
            lines.push_back(line);
        }
        ++index;
        start = end + 2;
    }
    return lines;
}

UpstreamAnswer Page(std::string body, int status = 200)
{
    UpstreamAnswer answer;
    answer.status = status;
    answer.body = std::move(body);
    return answer;
}

UpstreamAnswer Redirect(const std::string &location)
{
    UpstreamAnswer answer = Page("moved", 301);
    answer.headers.emplace_back("Location", location);
    return answer;
}

// A search listing hosts, in this order, through the fake engine.
void List(Rig &rig, const std::string &word, const std::vector<std::string> &hosts)
{
    std::vector<Result> results;
    for (const std::string &host : hosts)
        results.push_back({"https://" + host + "/", host, ""});
    rig.fake.SetResults("\"" + word + "\"", results);
    ASSERT_EQ(ReadAsTheProgram(rig.Search("p=%22" + word + "%22&n=20&b=1").body).hosts, hosts);
}

} // namespace

TEST(LiveFacts, DetailsCarryTheRankPopularityOnlineSinceAndCompetitorOfEveryListedSite)
{
    Rig::Setup setup;
    setup.factsFile = MakeFactsDatabase({
        {"www.site01.test", 300, 5000},
        {"site02.test", 4500, 120},      // listed with www.: the key matches
        {"www.site03.test", std::nullopt, 9},
    });
    Rig rig(setup);
    List(rig, "garden tools", Hosts(1, 4));

    const struct {
        int site;
        const char *rank;
        const char *competitor;
    } expected[] = {
        {1, "5000", "www.site02.test"},
        {2, "120", "www.site01.test"},
        {3, "9", "www.site02.test"},
        {4, "999999999", "www.site02.test"},   // no figures at all
    };
    for (const auto &e : expected) {
        const std::string host = Site(e.site);
        const std::string page = TrafficPage(rig.Details(host).body);
        EXPECT_EQ(kelvora::ParseTrafficRank(page, {}), e.rank) << host;
        EXPECT_EQ(kelvora::ParseOnlineSince(page), FakeUpstream::FirstCaptureFor(host)) << host;
        EXPECT_EQ(kelvora::ParseCompetitor(page, {}), e.competitor) << host;
    }
    EXPECT_NE(rig.Details(Site(2)).body.find("Link popularity: 4,500<br>"), std::string::npos);
    EXPECT_NE(rig.Details(Site(4)).body.find("Link popularity: 0<br>"), std::string::npos);
}

TEST(LiveFacts, CompetitorsAreTheOtherHostsOfTheSearchThatListedTheSite)
{
    Rig::Setup setup;
    setup.factsFile = MakeFactsDatabase({
        {"www.site02.test", 50, 20},
        {"www.site03.test", 50, 10},
        {"www.site04.test", 900, std::nullopt},
        {"shop.site01.test", 5000, 1},
    });
    Rig rig(setup);
    const std::vector<std::string> listed = {"www.site01.test", "www.site02.test", "shop.site01.test",
                                             "www.site05.test", "www.site03.test", "site02.test",
                                             "www.site04.test", "www.site06.test"};
    List(rig, "tools", listed);

    auto related = [&](const std::string &host) {
        const std::string page = rig.Details(host).body;
        std::vector<std::string> hosts;
        for (std::size_t at = page.find("<span class=\"smallg\">"); at != std::string::npos;
             at = page.find("<span class=\"smallg\">", at + 1)) {
            const std::size_t start = at + 21;
            hosts.push_back(page.substr(start, page.find("</span>", start) - start));
        }
        return hosts;
    };
    // Most popular first, then the better rank, then the engine's order; the
    // site's own domain and a second spelling of a host left out; five at most.
    EXPECT_EQ(related("www.site01.test"), (std::vector<std::string>{"www.site04.test", "www.site03.test",
                                                                    "www.site02.test", "www.site05.test",
                                                                    "www.site06.test"}));
    EXPECT_EQ(related("www.site02.test"), (std::vector<std::string>{"shop.site01.test", "www.site04.test",
                                                                    "www.site03.test", "www.site01.test",
                                                                    "www.site05.test"}));
    // The program asks for www. before any host: the listed spelling is found.
    EXPECT_EQ(kelvora::ParseCompetitor(TrafficPage(rig.Details("www.shop.site01.test").body), {}),
              "www.site04.test");

    // The latest search that listed a host is the one that counts.
    List(rig, "lonely", {"www.site01.test"});
    const std::string alone = TrafficPage(rig.Details("www.site01.test").body);
    EXPECT_NE(alone.find("there are no related sites"), std::string::npos);
    EXPECT_EQ(kelvora::ParseCompetitor(alone, {}), "");
    const std::vector<std::string> fromFirst = related("www.site04.test");   // still the first search's
    ASSERT_FALSE(fromFirst.empty());
    EXPECT_EQ(fromFirst.front(), "shop.site01.test");

    // A host no search listed has no competitor.
    EXPECT_TRUE(related("www.site30.test").empty());
}

TEST(LiveFacts, OnlineSinceIsTheFirstCaptureElseTheRegistrationElseNothing)
{
    Rig::Setup setup;
    setup.settings.prefetch = false;   // each details request fetches what it needs
    Rig rig(setup);
    rig.fake.SetHandler(FakeUpstream::kArchiveHost, [](const UpstreamRequest &request) {
        const std::string host = request.Param("url");
        EXPECT_EQ(request.Param("output"), "json");
        EXPECT_EQ(request.Param("fl"), "timestamp");
        EXPECT_EQ(request.Param("limit"), "1");
        if (host == "site11.test" || host == "site17.test")
            return Page(R"([["timestamp"],["20010203040506"]])");
        if (host == "site13.test")
            return Page("<html>Internal error</html>", 500);
        if (host == "site14.test")
            return Page(R"([["timestamp"],["2001)");
        if (host == "site15.test")
            return Page("<html><body>Wayback Machine is down</body></html>");
        if (host == "site18.test")
            return Page(R"([["timestamp"],["20010229000000"]])");   // no such day
        return Page("[]");
    });
    rig.fake.SetHandler(FakeUpstream::kRegistryHost, [](const UpstreamRequest &request) {
        const std::string domain = request.path.substr(std::string("/domain/").size());
        if (domain == "site16.test" || domain == "site17.test")
            return Page(R"({"errorCode": 404, "title": "Not Found"})", 404);
        return Page(FakeUpstream::RdapJson(domain, FakeUpstream::RegisteredFor(domain), FakeUpstream::kAbuseMail));
    });

    const struct {
        int site;
        std::string date;
        const char *why;
    } cases[] = {
        {11, "2001-02-03", "a capture"},
        {12, FakeUpstream::RegisteredFor("site12.test"), "no capture"},
        {13, FakeUpstream::RegisteredFor("site13.test"), "the archive fails"},
        {14, FakeUpstream::RegisteredFor("site14.test"), "a malformed answer"},
        {15, FakeUpstream::RegisteredFor("site15.test"), "an error page sent as 200"},
        {16, "", "no capture and no registration"},
        {17, "2001-02-03", "a capture and no registration"},
        {18, FakeUpstream::RegisteredFor("site18.test"), "a capture on no real day"},
    };
    for (const auto &c : cases) {
        const std::string page = rig.Details(Site(c.site)).body;
        EXPECT_EQ(kelvora::ParseOnlineSince(TrafficPage(page)), c.date) << c.why;
        EXPECT_EQ(page.find("Online since") != std::string::npos, !c.date.empty()) << c.why;
        // Straight to the registry the bootstrap names.
        EXPECT_EQ(rig.fake.CountFor(FakeUpstream::kRegistryHost, "/domain/site" + std::to_string(c.site) + ".test"),
                  1u)
            << c.why;
    }
    EXPECT_NE(rig.Log().find("details site13.test: archive: HTTP 500"), std::string::npos) << rig.Log();
    EXPECT_EQ(rig.fake.CountFor(FakeUpstream::kRegistryHost), std::size(cases));

    EXPECT_EQ(rig.fake.CountFor(FakeUpstream::kRdapHost), 0u);
    EXPECT_EQ(rig.fake.CountFor(FakeUpstream::kBootstrapHost), 1u);

    // Archive and RDAP answers are kept 30 days; a failure an hour.
    const std::int64_t start = rig.now;
    const std::size_t archiveAsked = rig.fake.CountFor(FakeUpstream::kArchiveHost);
    rig.now = start + 30 * kDay - 1;
    rig.Details(Site(11));
    rig.Details(Site(13));
    EXPECT_EQ(rig.fake.CountFor(FakeUpstream::kArchiveHost), archiveAsked + 1);   // site13's failure again
    EXPECT_EQ(rig.fake.CountFor(FakeUpstream::kRegistryHost), std::size(cases));
    rig.now = start + 30 * kDay;
    rig.Details(Site(11));
    EXPECT_EQ(rig.fake.CountFor(FakeUpstream::kArchiveHost), archiveAsked + 2);
    EXPECT_EQ(rig.fake.CountFor(FakeUpstream::kRegistryHost), std::size(cases) + 1);
}

TEST(LiveFacts, ContactLinesComeFromTheSitesPagesItsSecurityTxtAndRdap)
{
    Rig rig;
    const std::string site = "www.site03.test";
    rig.fake.SetHandler(site, [](const UpstreamRequest &request) {
        if (request.path == "/")
            return Page(R"(<html><head><title>Site three</title>
<script type="application/ld+json">{"@context": "https://schema.org", "@type": "Organization",
 "telephone": "+44 20 7946 0000", "email": "office@site03.test"}</script></head><body>
<a href="mailto:sales@site03.test?subject=Hello">Sales</a> <a href="tel:+1-202-555-0143">Call us</a>
<p>Or write to info [at] site03 [dot] test.</p>
<a href="/kontakt">Kontakt</a> <a href="https://www.b.test/contact">Contact our partner</a>
<a href="/brochure-contact.pdf">Contact brochure</a> <a href="/impressum">Impressum</a>
<a href="/about-us">About us</a> <a href="/team">Team</a></body></html>)");
        if (request.path == "/kontakt")
            return Page(R"(<html><body>
<form action="/search"><input type="text" name="q"></form>
<form action="/login" method="post"><input type="email" name="user"><input type="password" name="p"></form>
<form action="/send?to=office" method="post"><input type="email" name="from"><textarea name="text"></textarea></form>
</body></html>)");
        if (request.path == "/impressum")
            return Page("<html><body><p>Legal: legal{at}site03{dot}test, logo@2x.png</p></body></html>");
        if (request.path == "/about-us")
            return Redirect("https://www.b.test/about");   // moved to another site: not this site's data
        if (request.path == "/.well-known/security.txt")
            return UpstreamAnswer{200, "Contact: mailto:security@site03.test\nExpires: 2031-01-01T00:00:00z\n",
                                  "text/plain", {}, 0ms};
        return Page("<html>not here</html>", 404);
    });
    rig.fake.SetHandler("www.b.test", [](const UpstreamRequest &) {
        return Page("<html><body><a href=\"mailto:someone@b.test\">mail</a></body></html>");
    });
    List(rig, "three", {site});

    EXPECT_EQ(ContactLines(rig.Details(site).body), (std::vector<std::string>{
        "Mail: office@site03.test (https://www.site03.test/)",
        "Mail: sales@site03.test (https://www.site03.test/)",
        "Mail: info@site03.test (https://www.site03.test/)",
        "Mail: legal@site03.test (https://www.site03.test/impressum)",
        "Phone: +44 20 7946 0000 (https://www.site03.test/)",
        "Phone: +1-202-555-0143 (https://www.site03.test/)",
        "Form: https://www.site03.test/send?to=office",
        "Security contact: security@site03.test (security.txt)",
        std::string("Registrar abuse: ") + FakeUpstream::kAbuseMail + " (RDAP)",
    }));
    // The link to another site's contact page is never followed; the PDF
    // and the fourth page are not read.
    EXPECT_EQ(rig.fake.CountFor("www.b.test", "/contact"), 0u);
    EXPECT_EQ(rig.fake.CountFor(site, "/brochure-contact.pdf"), 0u);
    EXPECT_EQ(rig.fake.CountFor(site, "/team"), 0u);
    EXPECT_EQ(rig.fake.CountFor(site, "/kontakt"), 1u);   // prefetched once, joined by the details
}

TEST(LiveFacts, RobotsTxtKeepsContactPagesAndSecurityTxtUnread)
{
    Rig rig;
    const std::string site = "www.site04.test";
    rig.fake.SetHandler(site, [](const UpstreamRequest &request) {
        if (request.path == "/robots.txt")
            return UpstreamAnswer{200, "User-agent: kelvora\nDisallow: /contact\nDisallow: /.well-known/\n",
                                  "text/plain", {}, 0ms};
        if (request.path == "/")
            return Page("<html><body><a href=\"tel:+49 30 1234567\">call</a>"
                        "<a href=\"/contact\">Contact</a></body></html>");
        return Page("<html><body><a href=\"mailto:hidden@site04.test\">x</a></body></html>");
    });
    List(rig, "four", {site});
    EXPECT_EQ(ContactLines(rig.Details(site).body),
              (std::vector<std::string>{"Phone: +49 30 1234567 (https://www.site04.test/)",
                                        std::string("Registrar abuse: ") + FakeUpstream::kAbuseMail + " (RDAP)"}));
    EXPECT_EQ(rig.fake.CountFor(site, "/contact"), 0u);
    EXPECT_EQ(rig.fake.CountFor(site, "/.well-known/security.txt"), 0u);
    EXPECT_EQ(rig.fake.CountFor(site, "/robots.txt"), 1u);
}

TEST(LiveFacts, BacklinksStateThePopularityAndListTheLinkingDomains)
{
    std::vector<std::string> linking;
    for (int i = 1; i <= 25; ++i)
        linking.push_back("linker" + std::to_string(i) + ".test");
    Rig::Setup setup;
    setup.factsFile = MakeFactsDatabase({{"www.site01.test", 1234, std::nullopt}, {"site02.test", std::nullopt, 7}},
                                        {{"site01.test", linking}});
    Rig rig(setup);

    const ProgramView first = ReadAsTheProgram(rig.Search("p=link%3Ahttp%3A%2F%2Fwww.site01.test").body);
    EXPECT_EQ(first.total, "1234");
    ASSERT_EQ(first.hosts.size(), 10u);   // the default page size
    EXPECT_EQ(first.hosts.front(), "linker1.test");
    const ProgramView rest = ReadAsTheProgram(rig.Search("p=link%3Ahttp%3A%2F%2Fsite01.test&n=20&b=21").body);
    EXPECT_EQ(rest.hosts, (std::vector<std::string>{"linker21.test", "linker22.test", "linker23.test",
                                                    "linker24.test", "linker25.test"}));
    // A rank but no popularity, and a site the database lacks: 0, no entries.
    for (const char *query : {"p=link%3Ahttp%3A%2F%2Fwww.site02.test", "p=link%3Ahttp%3A%2F%2Fwww.site09.test"}) {
        const ProgramView none = ReadAsTheProgram(rig.Search(query).body);
        EXPECT_EQ(none.total, "0") << query;
        EXPECT_TRUE(none.hosts.empty()) << query;
    }
    EXPECT_TRUE(rig.fake.Requests().empty());   // the database alone answers
}

TEST(LivePrefetch, AListedSitesFactsAreFetchedBeforeTheProgramAsksAndReplayOffline)
{
    Rig rig;
    rig.fake.SetDelay(100ms);
    rig.fake.SetResults(kGardenText, Sites(1, 5));
    ASSERT_EQ(ReadAsTheProgram(rig.Search(kGardenQuery).body).hosts, Hosts(1, 5));
    // The archive, RDAP (through its redirect), security.txt and the page the
    // home page names ("/about.html") of every listed site, all in the cache
    // before the program asks for any of them.
    ASSERT_TRUE(WaitFor([&] {
        for (const std::string &host : Hosts(1, 5)) {
            for (const FetchRequest &request :
                 {SiteFacts::CdxRequest(host),
                  RdapLookup::DomainRequest(std::string("https://") + FakeUpstream::kRegistryHost + "/",
                                            host.substr(4)),
                  SiteFacts::SecurityTxtRequest(host),
                  SiteFacts::ContactPageRequest("https://" + host + "/about.html")}) {
                if (!rig.service->Cache().HasFresh(request.Key()))
                    return false;
            }
        }
        return true;
    }));
    const std::size_t fetched = rig.fake.Requests().size();

    std::vector<std::string> pages;
    for (const std::string &host : Hosts(1, 5))
        pages.push_back(rig.Details(host).body);
    EXPECT_EQ(rig.fake.Requests().size(), fetched);   // nothing more was asked for
    EXPECT_EQ(rig.fake.CountFor(FakeUpstream::kArchiveHost), 5u);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const std::string host = Site(static_cast<int>(i) + 1);
        EXPECT_EQ(kelvora::ParseOnlineSince(TrafficPage(pages[i])), FakeUpstream::FirstCaptureFor(host));
        EXPECT_EQ(ContactLines(pages[i]).size(), 1u) << pages[i];   // the registrar's abuse address
    }

    // The same answers from the cache alone, with no connection opened.
    const auto counter = rig.ReopenOffline();
    rig.Search(kGardenQuery);
    for (std::size_t i = 0; i < pages.size(); ++i)
        EXPECT_EQ(rig.Details(Site(static_cast<int>(i) + 1)).body, pages[i]);
    EXPECT_EQ(counter->connectionCount(), 0u);
}

// A warm details page reads its pages through the memo: a repeat must be the
// remembered reading, and anything else a reading of its own that equals a
// fresh parse.
TEST(ContactsMemo, ReadsAPageAgainOnlyWhenItsAddressOrBytesChange)
{
    const std::string first = "<p><a href=\"mailto:info@a.test\">us</a> <a href=\"/kontakt\">Kontakt</a></p>";
    const std::string changed = "<p><a href=\"mailto:sales@a.test\">us</a></p>";
    struct Case {
        const char *what;
        std::string url;
        const std::string &html;
        int sameReadingAs;   // index of an earlier read, or -1 for a new reading
    };
    const std::vector<Case> cases{
        {"first read", "https://www.a.test/", first, -1},
        {"the same page again", "https://www.a.test/", first, 0},
        {"new bytes at the same address", "https://www.a.test/", changed, -1},
        {"the first bytes once more", "https://www.a.test/", first, 0},
        {"the same bytes at another address", "https://www.b.test/", first, -1},
    };
    ContactsMemo memo;
    std::vector<ContactsMemo::Contacts> readings;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const ContactsMemo::Contacts read = memo.Read(c.html, c.url);
        const kelvora::directory::facts::PageContacts parsed = kelvora::directory::facts::ExtractContacts(c.html, c.url);
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(read->pages, parsed.pages);
        ASSERT_EQ(read->items.size(), parsed.items.size());
        for (std::size_t i = 0; i < parsed.items.size(); ++i)
            EXPECT_EQ(FormatContactItem(read->items[i]), FormatContactItem(parsed.items[i]));
        if (c.sameReadingAs >= 0)
            EXPECT_EQ(read, readings[static_cast<std::size_t>(c.sameReadingAs)]);
        else
            for (const ContactsMemo::Contacts &earlier : readings)
                EXPECT_NE(read, earlier);
        readings.push_back(read);
    }
    EXPECT_EQ(readings[2]->items.front().value, "sales@a.test");
    EXPECT_EQ(readings[4]->items.front().source, "https://www.b.test/");

    // Past its bound the oldest reading goes, and the page reads as before.
    for (std::size_t i = 0; i < kMaxRememberedPages; ++i)
        memo.Read(first, "https://www.a.test/" + std::to_string(i));
    const ContactsMemo::Contacts again = memo.Read(first, "https://www.a.test/");
    EXPECT_NE(again, readings[0]);
    EXPECT_EQ(again->items.front().value, "info@a.test");
}
