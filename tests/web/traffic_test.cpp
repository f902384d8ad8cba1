#include "web/traffic.h"

#include "tests/support/cases.h"
#include "tests/support/fake_service.h"
#include "tests/web/counting_pumps.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace kelvora;
using namespace kelvora::testsupport;

namespace {

struct FakeTrafficService : ScopedFakeService {
    explicit FakeTrafficService(const std::string &body)
        : ScopedFakeService("KELVORA_TRAFFIC_HOST", body) {}
};

} // namespace

TEST(FetchTrafficPage, AsksForTheBareHostWithOneWww)
{
    const Case<std::string> cases[] = {
        {"http://www.Site.test/", "GET /data/details/?url=www.site.test/ HTTP/1.1"},
        {"news.site.test", "GET /data/details/?url=www.news.site.test HTTP/1.1"},
        {"www.www.a.test/x y", "GET /data/details/?url=www.a.test/x y HTTP/1.1"},
        {"", "GET /data/details/?url=www. HTTP/1.1"},
    };
    FakeTrafficService service("x");
    for (const auto &c : cases)
        FetchTrafficPage(c.input, PageHooks());
    const auto requests = service.server.requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    for (std::size_t i = 0; i < requests.size(); ++i)
        EXPECT_EQ(RequestLine(requests[i]), cases[i].expected);
}

TEST(FetchTrafficPage, LowerCasesAndJoinsCrLfLinesAfterOnePump)
{
    // "\r\r\n\n" loses both pairs; a marker split by a CR LF is whole again.
    FakeTrafficService service("<B>Traffic Rank\r\n For</B>\r\r\n\nX: <b>7</b>\n<BR>\xC4");
    int pumps = 0;
    const std::string page = FetchTrafficPage("site.test", CountingPumps(pumps));
    EXPECT_EQ(page, "<b>traffic rank for</b>x: <b>7</b>\n<br>\xC4");
    EXPECT_EQ(pumps, 1);
    EXPECT_EQ(ParseTrafficRank(FetchTrafficPage("a.test", PageHooks()), PageHooks()), "7");
}

TEST(ParseTrafficRank, TakesEachDigitThatFollowsAnAngleBracket)
{
    const NamedCase<std::string> cases[] = {
        {"digit per element", "x traffic rank for site.test: <b>1</b><b>2</b>,<b>3</b><br>", "123"},
        {"capitals", "TRAFFIC RANK FOR site.test: <B>4</B><B>5</B><BR>", "45"},
        {"plain figure", "traffic rank for site.test: 45,678<br>", "999999999"},
        {"one digit per >", "traffic rank for s: <b>12,345</b><br>", "1"},
        {"no <br>", "traffic rank for s: <b>1</b>", "999999999"},
        {"empty page", "", "999999999"},
        {"no marker: read from the start", "<b>8</b><br> traffic rank <b>9</b><br>", "8"},
        {"first character never taken", "9<br>", "999999999"},
        {"digits after the <br> ignored", "traffic rank for s: <b>1</b><br><b>2</b>", "1"},
        {"earlier <br> does not count", "<br><b>1</b> traffic rank for s: <i>6</i><br>", "6"},
        {"digit bytes only", "traffic rank for s: >\xB2>/>:>0<br>", "0"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParseTrafficRank(c.input, PageHooks()), c.expected) << c.name;
}

TEST(ParseTrafficRank, PumpsOnceAndFallsBackWhenThePumpThrows)
{
    int pumps = 0;
    EXPECT_EQ(ParseTrafficRank("traffic rank for s: <b>3</b><br>", CountingPumps(pumps)), "3");
    EXPECT_EQ(pumps, 1);
    PageHooks throwing;
    throwing.pump = [] { throw 1; };
    EXPECT_EQ(ParseTrafficRank("traffic rank for s: <b>3</b><br>", throwing), "999999999");
}

TEST(ParseCompetitor, ReadsTheFirstRelatedSite)
{
    const std::string marker = "people who visit this page also visit:";
    const std::string span = "<span class=\"smallg\">";
    const NamedCase<std::string> cases[] = {
        {"example", "x " + marker + "<ol><li><a href=http://rival.test/>rival.test</a> " + span +
                        "rival.test</span></li><li>" + span + "second.test</span></li></ol>",
         "rival.test"},
        {"no related sites", marker + "<ol><li>" + span + "there are no related sites</span></li>", ""},
        {"no </li>", marker + "<ol><li>" + span + "rival.test</span>", ""},
        {"no </span", marker + "<li>" + span + "rival.test</li>", ""},
        // Without the span marker the text starts 21 characters after the
        // related-sites marker.
        {"no span marker", marker + "<li>1234567890123456rival.test</span></li>", "rival.test"},
        {"span after </li> does not count", marker + "<li>x</li>" + span + "late.test</span>", ""},
        {"empty page", "", ""},
        // Without the marker the reading starts at the page's 38th character.
        {"no marker", std::string(37, '-') + "<li>" + span + "near.test</span></li>", "near.test"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParseCompetitor(c.input, PageHooks()), c.expected) << c.name;

    int pumps = 0;
    ParseCompetitor("", CountingPumps(pumps));
    EXPECT_EQ(pumps, 1);
}

TEST(ParseOnlineSince, ReadsTheDateAfterTheMarker)
{
    const NamedCase<std::string> cases[] = {
        {"plain", "<p>online since: 12-mar-1998<br>", "12-mar-1998"},
        {"tags after the marker", "online since:</b> <i> 12-mar-1998 </i>", "12-mar-1998"},
        {"capitals keep their case", "ONLINE SINCE: Mar 1998<br>", "Mar 1998"},
        {"to the end of the page", "online since:\t1998", "1998"},
        {"absent", "traffic rank for s: <b>1</b><br>", ""},
        {"empty date", "online since:</b><br>", ""},
        {"unclosed tag", "online since: <b", ""},
        {"first marker counts", "online since: 1999<br>online since: 2000", "1999"},
        {"at most 40 characters", "online since: " + std::string(39, 'a') + " bcd<br>", std::string(39, 'a')},
        {"empty page", "", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParseOnlineSince(c.input), c.expected) << c.name;
}

// The date is read from the marker's own line only; the next line or table
// cell holds some other figure.
TEST(ParseOnlineSince, StopsAtTheEndOfTheMarkersLine)
{
    const NamedCase<std::string> cases[] = {
        {"line break", "online since:<br>link popularity: 1,230</p>", ""},
        {"self-closing line break", "online since: <br/>2003", ""},
        {"end of paragraph", "<p>online since:</p><p>2003</p>", ""},
        {"table cells", "<tr><td>online since:</td><td>2003</td></tr>", ""},
        {"list items", "<li>online since: </li><li>rank 5</li>", ""},
        {"new block", "online since: <DIV class=x>2003</div>", ""},
        {"capital line break", "ONLINE SINCE: <B></B><BR>2003", ""},
        {"inline tags and their ends", "online since:</b> <span class=\"d\"><font size=2><i>2003</i>", "2003"},
        {"inline tags in capitals", "Online Since: </SPAN><B>12-Mar-1998</B><BR>", "12-Mar-1998"},
        {"line ends after the date", "online since: 2003<br>link popularity: 7", "2003"},
        {"paragraph with attributes", "online since: <p class=\"d\">2003", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParseOnlineSince(c.input), c.expected) << c.name;
}
