// The live pages read back by the program's own readers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "directory/facts/competitors.h"
#include "directory/facts/live_pages.h"
#include "web/contact.h"
#include "web/popularity.h"
#include "web/results_page.h"
#include "web/text.h"
#include "web/traffic.h"

using namespace kelvora::directory::facts;

namespace {

// The page as the program's details fetch hands it to its readers.
std::string TrafficPage(const std::string &page)
{
    return kelvora::ReplaceAllIgnoreCase(kelvora::LowerCase(page), "\r\n", "");
}

std::vector<std::string> ResultHosts(const std::string &page)
{
    std::string rest = kelvora::LowerCase(page);
    rest = rest.substr(rest.find("of about"));
    std::vector<std::string> hosts;
    while (rest.find("<li>") != std::string::npos) {
        std::string host;
        kelvora::NextResultHost(rest, host);
        hosts.push_back(host);
    }
    return hosts;
}

} // namespace

TEST(OrderCompetitors, MostPopularFirstThenRankThenResultOrder)
{
    const std::vector<ResultSite> results = {
        {"www.greenleaf.test", 500, 10},      // the site itself
        {"a.test", 20, std::nullopt},
        {"b.test", 90, 7000},
        {"c.test", 20, 300},
        {"shop.greenleaf.test", 9000, 1},     // same registrable domain
        {"d.test", 20, std::nullopt},
        {"www.b.test", 90, 1},                // b.test again
        {"e.test", 0, std::nullopt},
        {"f.test", 1, std::nullopt},
        {"not a host", 99999, 1},
    };
    EXPECT_EQ(OrderCompetitors("greenleaf.test", results),
              (std::vector<std::string>{"b.test", "c.test", "a.test", "d.test", "f.test"}));
    EXPECT_EQ(OrderCompetitors("www.b.test", results, 2), (std::vector<std::string>{"shop.greenleaf.test",
                                                                                    "www.greenleaf.test"}));
    EXPECT_TRUE(OrderCompetitors("a.test", {{"a.test", 1, 1}, {"www.a.test", 2, 2}}).empty());
}

TEST(RenderLiveDetailsPage, ReadsBackThroughTheProgramsReaders)
{
    LiveDetails details;
    details.host = "www.greenleaf.test";
    details.trafficRank = 12345;
    details.linkPopularity = 1234;
    details.onlineSince = "1998-03-12";
    details.relatedHosts = {"rival.test", "other.test"};
    details.contactLines = {"Mail: info@greenleaf.test (https://www.greenleaf.test/)",
                            "Form: https://www.greenleaf.test/send?a=1&b=<2>"};
    const std::string page = RenderLiveDetailsPage(details);
    const std::string traffic = TrafficPage(page);
    EXPECT_EQ(kelvora::ParseTrafficRank(traffic, {}), "12345");
    EXPECT_EQ(kelvora::ParseOnlineSince(traffic), "1998-03-12");
    EXPECT_EQ(kelvora::ParseCompetitor(traffic, {}), "rival.test");
    EXPECT_EQ(page.find("<2>"), std::string::npos);
    EXPECT_EQ(kelvora::FormatContactData("greenleaf.test", page),
              "Website: greenleaf.test\r\nSite: www.greenleaf.test\r\n"
              "Mail: info@greenleaf.test (https://www.greenleaf.test/)\r\n"
              "Form: https://www.greenleaf.test/send?a=1&b=<2>\r\n\r\n"
              "Competitor:\r\nrival.test\r\n\r\nSince:\r\n1998-03-12\r\n\r\nRanking:\r\n12345");
}

TEST(RenderLiveDetailsPage, UnknownFiguresGiveTheReadersFallBacks)
{
    // A related site whose name starts with a digit must not be read as
    // the rank when there is no rank line.
    LiveDetails details;
    details.host = "www.new.test";
    details.relatedHosts = {"1and1.test"};
    const std::string page = RenderLiveDetailsPage(details);
    const std::string traffic = TrafficPage(page);
    EXPECT_EQ(page.find("Traffic rank"), std::string::npos);
    EXPECT_EQ(page.find("Online since"), std::string::npos);
    EXPECT_EQ(kelvora::ParseTrafficRank(traffic, {}), "999999999");
    EXPECT_EQ(kelvora::ParseOnlineSince(traffic), "");
    EXPECT_EQ(kelvora::ParseCompetitor(traffic, {}), "1and1.test");

    details.relatedHosts.clear();
    const std::string lonely = TrafficPage(RenderLiveDetailsPage(details));
    EXPECT_NE(lonely.find("there are no related sites"), std::string::npos);
    EXPECT_EQ(kelvora::ParseCompetitor(lonely, {}), "");
}

TEST(RenderBacklinkPage, StatesThePopularityAndListsTheLinkingDomains)
{
    std::vector<std::string> domains;
    for (int i = 1; i <= 25; ++i)
        domains.push_back("d" + std::to_string(i) + ".test");
    const std::string first = RenderBacklinkPage("link:http://www.greenleaf.test", 1234567, domains, 1, 20);
    EXPECT_EQ(kelvora::ReadLinkPopularity(first), "1234567");
    const std::vector<std::string> hosts = ResultHosts(first);
    ASSERT_EQ(hosts.size(), 20u);
    EXPECT_EQ(hosts.front(), "d1.test/");
    EXPECT_EQ(hosts.back(), "d20.test/");
    EXPECT_EQ(ResultHosts(RenderBacklinkPage("link:x", 25, domains, 21, 20)).size(), 5u);

    const std::string none = RenderBacklinkPage("link:http://<b>new.test", 0, {}, 1, 20);
    EXPECT_EQ(kelvora::ReadLinkPopularity(none), "0");
    EXPECT_TRUE(ResultHosts(none).empty());
    EXPECT_EQ(none.find("<b>new"), std::string::npos);
}
