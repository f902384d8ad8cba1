#include "web/outbound.h"

#include "tests/support/cases.h"
#include "tests/support/fake_service.h"
#include "tests/web/counting_pumps.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

using namespace kelvora;
using namespace kelvora::testsupport;

namespace {

int Agreement(std::int32_t popularity, std::int32_t outbound, std::int32_t rank)
{
    const std::string text = EstimateAgreement(popularity, outbound, rank);
    std::size_t used = 0;
    const int value = std::stoi(text, &used);
    EXPECT_EQ(used, text.size()) << "not a whole decimal integer: " << text;
    return value;
}

} // namespace

TEST(CountOutboundAnchors, CountsAnchorTagsThatNameAnotherSite)
{
    const NamedCase<std::string, std::int32_t> cases[] = {
        {"mixed", "<a href='http://other.test/'>o</a><a href='/about.html'>a</a>"
                  "<A HREF='HTTPS://X.TEST'>x</A><a name='top'>", 2},
        {"www. in the title", "<a href='/p' title='see www.x.test'>", 1},
        {"own page with http://", "<a href='http://self.test/page'>", 1},
        {"mailto", "<a href='mailto:me@x.test'>", 0},
        {"area and abbr", "<area href='http://x.test/'><abbr title='http://y.test'>", 0},
        {"tab or line break after a", "<a\thref='http://x.test/'><a\nhref='http://y.test/'>", 0},
        {"> inside a quoted value", "<a title='a>b' href='http://x.test/'>", 0},
        {"ends inside an anchor", "<a href='http://x.test/'>x</a><a href='http://y.test/'", 1},
        {"one per tag", "<a href='http://x.test/?u=https://www.y.test'>", 1},
        {"text between tags is not the tag", "<a href='/'>http://x.test</a>", 0},
        {"empty page", "", 0},
        // A tag runs to its first ">", so a second "<a " before it belongs to
        // the same tag and is not counted twice.
        {"anchor start inside an open tag", "<a x <a href='http://x.test/'>", 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CountOutboundAnchors(c.input), c.expected) << c.name;
}

// Copying the rest of the page for every anchor would move about 25 GB here
// and run far past the test time-out; the in-place scan takes milliseconds.
TEST(CountOutboundAnchors, StaysLinearOnManyAnchors)
{
    std::string page;
    constexpr int anchors = 40000;
    for (int i = 0; i < anchors; ++i)
        page += "<a href='http://x.test/'>x</a> ";
    EXPECT_EQ(CountOutboundAnchors(page), anchors);
}

TEST(CountOutboundLinks, FetchesTheHostAsPassedAndPumpsOnce)
{
    LoopbackServer server(LoopbackServer::Handler([](const std::string &) {
        return OkResponse("<a href='http://a.test/'>a</a><a href='/b'>b</a><a href='www.c.test'>c</a>");
    }));
    int pumps = 0;
    const PageHooks hooks = CountingPumps(pumps);
    const std::string host = "127.0.0.1:" + std::to_string(server.port());

    EXPECT_EQ(CountOutboundLinks("", hooks), 0); // no request, no pump
    EXPECT_EQ(CountOutboundLinks(host + "/home", hooks), 2);
    EXPECT_EQ(CountOutboundLinks(host, hooks), 2);
    EXPECT_EQ(pumps, 2);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(RequestLine(requests[0]), "GET /home HTTP/1.1");
    EXPECT_EQ(RequestLine(requests[1]), "GET / HTTP/1.1");
}

TEST(EstimateAgreement, StaysWithinZeroToHundred)
{
    constexpr std::int32_t low = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t high = std::numeric_limits<std::int32_t>::max();
    const std::int32_t samples[] = {low, -1, 0, 1, 2, 9, 10, 26, 27, 99999, high};
    for (auto popularity : samples) {
        for (auto outbound : samples) {
            for (auto rank : samples) {
                const int value = Agreement(popularity, outbound, rank);
                EXPECT_GE(value, 0);
                EXPECT_LE(value, 100);
            }
        }
    }
    EXPECT_EQ(Agreement(low, low, high), 0);
    EXPECT_EQ(Agreement(high, high, low), 100);
    EXPECT_EQ(Agreement(0, 0, 2), 25); // the first row of a page
}

TEST(EstimateAgreement, GrowsWithPopularityAndOutboundAndFallsWithRank)
{
    constexpr std::int32_t low = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t high = std::numeric_limits<std::int32_t>::max();
    const std::vector<std::int32_t> ascending = {low, -5, 0, 1, 3, 9, 10, 25, 26, 99, 100, 1000,
                                                 9999, 10000, 123456, high};
    const std::int32_t others[] = {low, 0, 5, 30, high};
    for (auto a : others) {
        for (auto b : others) {
            for (std::size_t i = 1; i < ascending.size(); ++i) {
                const auto smaller = ascending[i - 1];
                const auto larger = ascending[i];
                EXPECT_LE(Agreement(smaller, a, b), Agreement(larger, a, b));
                EXPECT_LE(Agreement(a, smaller, b), Agreement(a, larger, b));
                EXPECT_GE(Agreement(a, b, smaller), Agreement(a, b, larger));
            }
        }
    }
    // Each input matters where it is not saturated.
    EXPECT_LT(Agreement(9, 5, 10), Agreement(10, 5, 10));
    EXPECT_LT(Agreement(100, 5, 10), Agreement(100, 6, 10));
    EXPECT_GT(Agreement(100, 5, 10), Agreement(100, 5, 11));
}
