#include "web/contact.h"

#include "tests/support/cases.h"
#include "tests/support/fake_service.h"
#include "tests/web/counting_pumps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kelvora;
using namespace kelvora::testsupport;

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
    const NamedCase<std::string> cases[] = {
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
        EXPECT_EQ(FormatContactData("a.test", c.input), c.expected) << c.name;
}

TEST(FetchContactData, AsksTheTrafficServiceForTheBareHost)
{
    ScopedFakeService service("KELVORA_TRAFFIC_HOST", detailsPage);
    int pumps = 0;
    const PageHooks hooks = CountingPumps(pumps);

    EXPECT_EQ(FetchContactData("WWW.Example.test", hooks), detailsPaneText);
    EXPECT_EQ(FetchContactData("http://www.Example.test/", hooks).substr(0, 24), "Website: example.test/\r\n");
    EXPECT_EQ(pumps, 2);
    const auto requests = service.server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(RequestLine(requests[0]), "GET /data/details/?url=www.example.test HTTP/1.1");
    EXPECT_EQ(RequestLine(requests[1]), "GET /data/details/?url=www.example.test/ HTTP/1.1");
}

TEST(FetchContact, KeepsTheContactLinesBesideThePaneText)
{
    // The details page of a.test has no contact block.
    ScopedFakeService service("KELVORA_TRAFFIC_HOST", LoopbackServer::Handler([](const std::string &head) {
        return OkResponse(head.find("url=www.a.test ") != std::string::npos ? "traffic rank for a.test: <b>1</b><br>"
                                                                           : detailsPage);
    }));

    const kelvora::ContactData data = FetchContact("www.example.test", PageHooks{});
    EXPECT_EQ(data.paneText, detailsPaneText);
    EXPECT_EQ(data.lines, (std::vector<std::string>{"Name: Jo & Co", "Mail:", "Jo@Example.test", "<b> &lt;"}));

    const kelvora::ContactData none = FetchContact("a.test", PageHooks{});
    EXPECT_EQ(none.paneText, "No contact data found for a.test.");
    EXPECT_TRUE(none.lines.empty());
}

TEST(ContactFileName, ProposesTheHostsFirstLabel)
{
    const Case<std::string> cases[] = {
        {"www.example.test", "example.txt"},
        {"http://shop.example.test/", "shop.txt"},
        {"WWW.Big.Test", "big.txt"},
        {"", ".txt"},
        {"localhost", ".txt"},
        {".hidden.test", ".txt"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ContactFileName(c.input), c.expected) << c.input;
}

TEST(CompetitorSummary, ReadsThePaneWithTheTrafficReaders)
{
    EXPECT_EQ(CompetitorSummary("no markers here"), emptySummary);
    EXPECT_EQ(CompetitorSummary(""), emptySummary);

    int pumps = 0;
    const PageHooks hooks = CountingPumps(pumps);
    // The pane's CR LF breaks are removed first, so a marker split by one is
    // found again.
    EXPECT_EQ(CompetitorSummary("Traffic Rank\r\n For x: <B>3</B><BR>\r\nOnline Since: 2001", hooks),
              "Competitor:\r\n\r\n\r\nSince:\r\n2001\r\n\r\nRanking:\r\n3");
    EXPECT_EQ(pumps, 2);
}
