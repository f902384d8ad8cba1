#include "web/contact.h"

#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using kelvora::CompetitorSummary;
using kelvora::ContactFileName;
using kelvora::FetchContact;
using kelvora::FetchContactData;
using kelvora::FormatContactData;
using kelvora::PageHooks;
using kelvora::testsupport::LoopbackServer;

namespace {

const std::string detailsPage =
    "<html><!--CONTACT--><p>Name: Jo &amp; Co</p>\r\n<p>Mail: <a href='mailto:jo@x'>Jo@Example.test</a>"
    "</p><br>\n  &lt;b&gt; &amp;lt;\t<!--/Contact-->"
    "Traffic rank for example.test: <b>1</b><b>2</b><br>online since: 12-Mar-1998<br>"
    "People who visit this page also visit:<ol><li><a>r</a> <span class=\"smallg\">Rival.test</span></li>";

const std::string detailsPaneText =
    "Website: example.test\r\n"
    "Name: Jo & Co\r\n"
    "Mail:\r\n"
    "Jo@Example.test\r\n"
    "<b> &lt;\r\n"
    "\r\n"
    "Competitor:\r\nrival.test\r\n\r\nSince:\r\n12-mar-1998\r\n\r\nRanking:\r\n12";

const std::string emptySummary = "Competitor:\r\n\r\n\r\nSince:\r\n\r\n\r\nRanking:\r\n999999999";

} // namespace

TEST(FormatContactData, ShowsTheContactBlockThenTheReadings)
{
    EXPECT_EQ(FormatContactData("example.test", detailsPage), detailsPaneText);
}

TEST(FormatContactData, HandlesMissingAndOddBlocks)
{
    const struct {
        const char *name;
        std::string page;
        std::string expected;
    } cases[] = {
        {"no block", "traffic rank for a.test: <b>1</b><br>", "No contact data found for a.test."},
        {"empty page", "", "No contact data found for a.test."},
        {"start marker only", "<!--contact-->Jo", "No contact data found for a.test."},
        {"end marker before start", "<!--/contact-->Jo<!--contact-->", "No contact data found for a.test."},
        {"empty block", "<!--contact--><!--/contact-->", "Website: a.test\r\n\r\n" + emptySummary},
        {"blank lines only", "<!--contact--><p> </p>\r\n\t<br><!--/contact-->",
         "Website: a.test\r\n\r\n" + emptySummary},
        {"unclosed tag ends the block", "<!--contact-->Jo<b x<!--/contact-->",
         "Website: a.test\r\nJo\r\n\r\n" + emptySummary},
        {"unknown entities kept", "<!--contact-->&nbsp;&#38;&AMP;&amp<!--/contact-->",
         "Website: a.test\r\n&nbsp;&#38;&AMP;&amp\r\n\r\n" + emptySummary},
        {"first block counts", "<!--contact-->A<!--/contact--><!--contact-->B<!--/contact-->",
         "Website: a.test\r\nA\r\n\r\n" + emptySummary},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FormatContactData("a.test", c.page), c.expected) << c.name;
}

TEST(FetchContactData, AsksTheTrafficServiceForTheBareHost)
{
    LoopbackServer server(LoopbackServer::Handler([](const std::string &) {
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(detailsPage.size()) + "\r\n\r\n" +
               detailsPage;
    }));
    setenv("KELVORA_TRAFFIC_HOST", ("127.0.0.1:" + std::to_string(server.port())).c_str(), 1);
    int pumps = 0;
    PageHooks hooks;
    hooks.pump = [&pumps] { ++pumps; };

    EXPECT_EQ(FetchContactData("WWW.Example.test", hooks), detailsPaneText);
    EXPECT_EQ(FetchContactData("http://www.Example.test/", hooks).substr(0, 24), "Website: example.test/\r\n");
    EXPECT_EQ(pumps, 2);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "GET /data/details/?url=www.example.test HTTP/1.1");
    EXPECT_EQ(requests[1].substr(0, requests[1].find("\r\n")), "GET /data/details/?url=www.example.test/ HTTP/1.1");
    unsetenv("KELVORA_TRAFFIC_HOST");
}

TEST(FetchContact, KeepsTheContactLinesBesideThePaneText)
{
    // The details page of a.test has no contact block.
    LoopbackServer server(LoopbackServer::Handler([](const std::string &head) {
        const std::string page = head.find("url=www.a.test ") != std::string::npos
                                     ? "traffic rank for a.test: <b>1</b><br>"
                                     : detailsPage;
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page;
    }));
    setenv("KELVORA_TRAFFIC_HOST", ("127.0.0.1:" + std::to_string(server.port())).c_str(), 1);

    const kelvora::ContactData data = FetchContact("www.example.test", PageHooks{});
    EXPECT_EQ(data.paneText, detailsPaneText);
    EXPECT_EQ(data.lines, (std::vector<std::string>{"Name: Jo & Co", "Mail:", "Jo@Example.test", "<b> &lt;"}));

    const kelvora::ContactData none = FetchContact("a.test", PageHooks{});
    EXPECT_EQ(none.paneText, "No contact data found for a.test.");
    EXPECT_TRUE(none.lines.empty());
    unsetenv("KELVORA_TRAFFIC_HOST");
}

TEST(ContactFileName, ProposesTheHostsFirstLabel)
{
    const struct {
        std::string partner;
        std::string expected;
    } cases[] = {
        {"www.example.test", "example.txt"},
        {"http://shop.example.test/", "shop.txt"},
        {"WWW.Big.Test", "big.txt"},
        {"", ".txt"},
        {"localhost", ".txt"},
        {".hidden.test", ".txt"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ContactFileName(c.partner), c.expected) << c.partner;
}

TEST(CompetitorSummary, ReadsThePaneWithTheTrafficReaders)
{
    EXPECT_EQ(CompetitorSummary("no markers here"), emptySummary);
    EXPECT_EQ(CompetitorSummary(""), emptySummary);

    int pumps = 0;
    PageHooks hooks;
    hooks.pump = [&pumps] { ++pumps; };
    // The pane's CR LF breaks are removed first, so a marker split by one is
    // found again.
    EXPECT_EQ(CompetitorSummary("Traffic Rank\r\n For x: <B>3</B><BR>\r\nOnline Since: 2001", hooks),
              "Competitor:\r\n\r\n\r\nSince:\r\n2001\r\n\r\nRanking:\r\n3");
    EXPECT_EQ(pumps, 2);
}
