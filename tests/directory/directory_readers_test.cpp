// The program's own page readers, run against the service on loopback, must
// read every fixture site back to its stored figures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>

#include "directory/core/query.h"
#include "directory/core/server.h"
#include "directory/local/csv_import.h"
#include "tests/directory/fixture_db.h"
#include "web/contact.h"
#include "web/http.h"
#include "web/outbound.h"
#include "web/popularity.h"
#include "web/results_page.h"
#include "web/text.h"
#include "web/title.h"
#include "web/traffic.h"

using namespace kelvora;
using kelvora::directory::testing::FixtureAnswers;
using kelvora::directory::testing::FixtureStore;

namespace {

class ReadersTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_server = new directory::DirectoryServer(FixtureAnswers());
        std::string error;
        ASSERT_TRUE(s_server->Bind("127.0.0.1", 0, error)) << error;
        ASSERT_TRUE(s_server->ServeInBackground(error)) << error;
        const std::string address = "127.0.0.1:" + std::to_string(s_server->Port());
        setenv("KELVORA_SEARCH_HOST", address.c_str(), 1);
        setenv("KELVORA_TRAFFIC_HOST", address.c_str(), 1);
        // Every site name reaches the service, as with the program's launcher.
        setenv("KELVORA_RESOLVE", ("*=" + address).c_str(), 1);
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }

    // The fixture's sites as stored.
    static std::vector<directory::Site> Sites()
    {
        std::ifstream csv(KELVORA_DIRECTORY_FIXTURE, std::ios::binary);
        std::vector<directory::Site> sites;
        for (const directory::SiteInput &input : directory::ReadCsvSites(csv)) {
            auto site = FixtureStore().FindSite(directory::HostKey(input.host));
            EXPECT_TRUE(site) << input.host;
            if (site)
                sites.push_back(*site);
        }
        return sites;
    }

    // The hosts a search run takes from a results page, in page order.
    static std::vector<std::string> Harvest(std::string page)
    {
        page = LowerCase(page);
        const std::size_t k = Pos("of about", page);
        page = CopyFrom(page, static_cast<long long>(k));
        std::vector<std::string> hosts;
        while (Contains(page, "<li>")) {
            std::string host;
            NextResultHost(page, host);
            hosts.push_back(CleanResultHost(host));
        }
        return hosts;
    }

    static std::string Fetch(const std::string &url)
    {
        std::string page;
        HttpGet(url, page, 80);
        return page;
    }

    static directory::DirectoryServer *s_server;
};

directory::DirectoryServer *ReadersTest::s_server = nullptr;

} // namespace

TEST_F(ReadersTest, EverySiteReadsBackToItsStoredFigures)
{
    const PageHooks hooks;
    const std::vector<directory::Site> sites = Sites();
    ASSERT_EQ(sites.size(), 8u);
    for (const directory::Site &site : sites) {
        SCOPED_TRACE(site.host);
        EXPECT_EQ(GetLinkPopularity(site.host, hooks), std::to_string(site.popularity));
        const std::string traffic = FetchTrafficPage(site.host, hooks);
        EXPECT_EQ(ParseTrafficRank(traffic, hooks), std::to_string(site.rank));
        EXPECT_EQ(ParseOnlineSince(traffic), LowerCase(site.onlineSince));
        const auto related = FixtureStore().RelatedHosts(site.id);
        EXPECT_EQ(ParseCompetitor(traffic, hooks), related.empty() ? "" : related.front());
        EXPECT_EQ(CountOutboundLinks(site.host, hooks),
                  static_cast<std::int32_t>(FixtureStore().OutboundHosts(site.id).size()));
    }
    // The figures the fixture was built to give, so that a fault shared by
    // the importer and the pages cannot hide.
    EXPECT_EQ(GetLinkPopularity("www.webhost-one.test", hooks), "1230");
    EXPECT_EQ(ParseTrafficRank(FetchTrafficPage("http://www.webhost-one.test/", hooks), hooks), "12345");
    EXPECT_EQ(ParseCompetitor(FetchTrafficPage("greenleaf-garden.test", hooks), hooks),
              "www.seedbank.test");
    EXPECT_EQ(ParseOnlineSince(FetchTrafficPage("www.seedbank.test", hooks)), "2001-07-04");
    EXPECT_EQ(CountOutboundLinks("www.serverparts.test", hooks), 3);
}

TEST_F(ReadersTest, UnknownSitesGiveTheReadersFallBacks)
{
    const PageHooks hooks;
    EXPECT_EQ(GetLinkPopularity("www.unknown.test", hooks), "0");
    const std::string traffic = FetchTrafficPage("www.unknown.test", hooks);
    EXPECT_FALSE(traffic.empty());
    EXPECT_EQ(ParseTrafficRank(traffic, hooks), "999999999");
    EXPECT_EQ(ParseOnlineSince(traffic), "");
    EXPECT_EQ(ParseCompetitor(traffic, hooks), "");
    EXPECT_EQ(CountOutboundLinks("www.unknown.test", hooks), 0);
}

TEST_F(ReadersTest, HarvestFindsEverySiteAndTheStatedTotal)
{
    std::set<std::string> found;
    for (const char *keyword : {"garden", "server", "poetry", "hosting"}) {
        const std::string page = Fetch(KeywordSearchUrl(keyword, 20, 0));
        const std::vector<std::string> hosts = Harvest(page);
        EXPECT_EQ(ReadLinkPopularity(page), std::to_string(hosts.size())) << keyword;
        found.insert(hosts.begin(), hosts.end());
    }
    std::set<std::string> expected;
    for (const directory::Site &site : Sites())
        expected.insert(site.host);
    EXPECT_EQ(found, expected);

    const auto backlinks = Harvest(Fetch(DomainSearchUrl("www.toolshed.test")));
    EXPECT_EQ(std::set<std::string>(backlinks.begin(), backlinks.end()),
              (std::set<std::string>{"www.greenleaf-garden.test", "www.serverparts.test"}));
}

TEST_F(ReadersTest, KeywordPagingAndPhrasesThroughTheProgramsUrls)
{
    // Page by page with the program's own URL form, as the skip setting would.
    std::vector<std::string> all;
    for (int offset = 0; offset < 6; offset += 2) {
        const auto hosts = Harvest(Fetch(KeywordSearchUrl("garden", 2, offset)));
        EXPECT_EQ(hosts.size(), offset < 4 ? 2u : 0u) << offset;
        all.insert(all.end(), hosts.begin(), hosts.end());
    }
    EXPECT_EQ(all, Harvest(Fetch(KeywordSearchUrl("garden", 20, 0))));
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), 4u);

    // The program quotes the keyword: a phrase must match in order.
    EXPECT_EQ(Harvest(Fetch(KeywordSearchUrl("web hosting", 20, 0))),
              (std::vector<std::string>{"www.webhost-one.test"}));
    EXPECT_TRUE(Harvest(Fetch(KeywordSearchUrl("hosting server", 20, 0))).empty());
    EXPECT_TRUE(Harvest(Fetch(KeywordSearchUrl("", 20, 0))).empty());

    // The program encodes nothing but blanks, so a "?" reaches the service
    // inside the query string.
    EXPECT_EQ(Harvest(Fetch(KeywordSearchUrl("garden?", 20, 0))).size(), 4u);
    EXPECT_EQ(Harvest(Fetch(DomainSearchUrl("www.toolshed.test/?page=1"))).size(), 2u);
}

TEST_F(ReadersTest, ContactDataAndTitleReachTheProgramIntact)
{
    const PageHooks hooks;
    const std::string pane = FetchContactData("www.quote-and-tags.test", hooks);
    EXPECT_NE(pane.find("Name: Eve <!--/contact--> O'Neil\r\nMail: eve@quote-and-tags.test"),
              std::string::npos)
        << pane;
    EXPECT_NE(pane.find("Competitor:\r\nwww.webhost-one.test\r\n\r\nSince:\r\n1999-12-31\r\n\r\n"
                        "Ranking:\r\n8"),
              std::string::npos)
        << pane;
    EXPECT_EQ(FetchContactData("www.unknown.test", hooks),
              "No contact data found for unknown.test.");
    EXPECT_EQ(ExtractTitle(FetchPage("http://www.toolshed.test/", hooks)), "The Toolshed");
}
