#include "web/popularity.h"

#include "tests/support/cases.h"
#include "tests/support/fake_service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

using namespace kelvora;
using namespace kelvora::testsupport;

namespace {

// A search engine on loopback that always answers with body; the search host
// points at it for the lifetime of the object.
struct FakeEngine : ScopedFakeService {
    explicit FakeEngine(const std::string &body) : ScopedFakeService("KELVORA_SEARCH_HOST", body) {}
};

struct Recorder {
    std::vector<std::string> events;
    PageHooks hooks()
    {
        return {[this] { events.push_back("pump"); },
                [this](const std::string &text) { events.push_back("status:" + text); }};
    }
};

} // namespace

TEST(ReadLinkPopularity, ReadsTheTotalAfterOfAbout)
{
    const std::string far = std::string(300, 'x');
    const NamedCase<std::string> cases[] = {
        {"commas removed", "Results 1 - 10 of about <strong>1,230</strong> for x", "1230"},
        {"capitals", "RESULTS OF ABOUT <B>77</B>", "77"},
        {"full stop separator", "of about <b>1.234</b>", "1234"},
        {"blank separator", "of about <b>12 345</b>", "12345"},
        {"engine prints zero", "of about <b>0</b>", "0"},
        {"empty element", "of about <b></b>", "0"},
        {"no marker", "<b>1,230</b> results", "0"},
        {"empty page", "", "0"},
        {"closing tag before the first >", "of about </b><b>5</b>", "0"},
        {"no > but a </ in the window", "of about 12</b", "ofabout12"},
        {"no </ within 300 characters", "of about <b>" + far + "</b> of about <b>9</b>", "0"},
        {"only the first of about counts", "of about <b>3</b> of about <b>4</b>", "3"},
        // Punctuation alone is no total: it must not come back empty, which
        // the search run would take for a failed lookup.
        {"punctuation only", "of about <b>, </b>", "0"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReadLinkPopularity(c.input), c.expected) << c.name;
}

TEST(GetLinkPopularity, SendsTheEncodedBacklinkQuery)
{
    const Case<std::string> cases[] = {
        {"www.example.test", "GET /search?p=link%3Ahttp%3A%2F%2Fwww.example.test HTTP/1.1"},
        {"my site", "GET /search?p=link%3Ahttp%3A%2F%2Fmy%20site HTTP/1.1"},
        {"http://x.test/a", "GET /search?p=link%3Ahttp%3A%2F%2Fhttp%3A%2F%2Fx.test%2Fa HTTP/1.1"},
        {"", "GET /search?p=link%3Ahttp%3A%2F%2F HTTP/1.1"},
        {"a&b=%#c", "GET /search?p=link%3Ahttp%3A%2F%2Fa&b=% HTTP/1.1"}, // the fetch drops "#c"
    };
    FakeEngine engine("of about <strong>1,230</strong> for");
    for (const auto &c : cases) {
        Recorder recorder;
        EXPECT_EQ(GetLinkPopularity(c.input, recorder.hooks()), "1230") << c.input;
        EXPECT_EQ(recorder.events, (std::vector<std::string>{"status:" + c.input, "pump", "pump", "pump"}));
    }
    const auto requests = engine.server.requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(RequestLine(requests[i]), cases[i].expected);
        EXPECT_NE(requests[i].find("\r\nHost: 127.0.0.1\r\n"), std::string::npos);
    }
}

TEST(GetLinkPopularity, FailuresGiveZeroOrTheEmptyText)
{
    std::string closedAddress;
    {
        LoopbackServer closed(LoopbackServer::Handler([](const std::string &) { return std::string(); }));
        closedAddress = "127.0.0.1:" + std::to_string(closed.port());
    }
    setenv("KELVORA_SEARCH_HOST", closedAddress.c_str(), 1);
    EXPECT_EQ(GetLinkPopularity("example.test", PageHooks()), "0");

    FakeEngine engine("of about <b>42</b>");
    int pumps = 0;
    PageHooks hooks;
    hooks.pump = [&pumps] {
        if (++pumps == 2)
            throw std::runtime_error("window gone");
    };
    EXPECT_EQ(GetLinkPopularity("example.test", hooks), "");
    EXPECT_EQ(pumps, 2);
}
