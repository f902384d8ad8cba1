// The user's own SearXNG instance on this machine, reached with no
// --connect-to rule, and what the program is told when an engine cannot fill
// a results page.
#include <gtest/gtest.h>

#include <algorithm>
#include <httplib.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "directory/core/pages.h"
#include "directory/live/network.h"
#include "tests/live/gateway_server.h"
#include "tests/live/live_rig.h"
#include "tests/support/files.h"
#include "tests/support/loopback_server.h"

using namespace kelvora::directory::live;
using namespace kelvora::live::testing;
using kelvora::directory::Reply;

namespace {

constexpr const char *kIdnHost = "xn--bcher-kva.test";

// Sets an environment variable for the scope of a test.
class ScopedVariable final {
public:
    ScopedVariable(const char *name, const char *value)
        : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        ::setenv(name, value, 1);
    }
    ~ScopedVariable()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedVariable(const ScopedVariable &) = delete;
    ScopedVariable &operator=(const ScopedVariable &) = delete;

private:
    const char *m_name;
    std::optional<std::string> m_old;
};

// A rig whose engine is SearXNG on the fake's plain port at 127.0.0.1,
// with rules only for the listed sites (and the open-data services).
std::unique_ptr<Rig> SelfHostedRig(std::vector<std::string> sites)
{
    Rig::Setup setup;
    setup.everyHost = false;
    setup.mappedHosts = std::move(sites);
    auto rig = std::make_unique<Rig>(setup);
    rig->service.reset();
    rig->options.engine = Engine("searxng:http://127.0.0.1:" + std::to_string(rig->fake.PlainPort()) + "/");
    rig->Open();
    return rig;
}

UpstreamAnswer Status(int status, std::vector<std::pair<std::string, std::string>> headers = {})
{
    UpstreamAnswer answer;
    answer.status = status;
    answer.body = "<html>no</html>";
    answer.headers = std::move(headers);
    return answer;
}

} // namespace

TEST(SelfHostedSearxng, IsReachedOnLoopbackWhileItsResultsStayPublicAndInAsciiForm)
{
    const ScopedVariable locale("LC_ALL", "de_DE.UTF-8");
    const std::vector<std::string> sites = {Site(1), Site(2), kIdnHost};
    std::unique_ptr<Rig> rig = SelfHostedRig(sites);
    const std::string self = "http://127.0.0.1:" + std::to_string(rig->fake.PlainPort());
    rig->fake.SetHandler("127.0.0.1", [self](const UpstreamRequest &request) {
        if (request.Param("q") == "moved") {
            // Its own origin is exempt; where it sends us is not.
            return Status(302, {{"Location", "http://10.255.255.1:8888/search?q=moved&format=json"}});
        }
        UpstreamAnswer answer;
        answer.contentType = "application/json";
        // No "number_of_results", as SearXNG sends today.
        answer.body = FakeUpstream::SearxngJson(
            {
                {"https://" + Site(1) + "/", "One", ""},
                {"http://10.1.2.3/", "Private address", ""},
                {"https://bücher.test/shop", "Books", ""},
                {self + "/about", "The instance itself", ""},
                {"https://printer.local/", "Special-use name", ""},
                {"https://☃.test/", "No valid name", ""},
                {"https://" + Site(2) + "/", "Two", ""},
            },
            -1);
        return answer;
    });

    const Reply reply = rig->Search(kGardenQuery);
    ASSERT_EQ(reply.status, 200) << reply.body << rig->Log();
    const ProgramView view = ReadAsTheProgram(reply.body);
    EXPECT_EQ(view.hosts, (std::vector<std::string>{Site(1), kIdnHost, Site(2)}));
    EXPECT_EQ(view.total, "3");   // at least the hosts listed, with no estimate given

    const std::optional<UpstreamRequest> engineRequest = rig->fake.FirstEngineRequest();
    ASSERT_TRUE(engineRequest);
    const UpstreamRequest &engine = *engineRequest;
    EXPECT_FALSE(engine.tls);
    EXPECT_EQ(engine.host, "127.0.0.1");
    EXPECT_EQ(engine.path, "/search");
    EXPECT_EQ(engine.Param("q"), kGardenText);
    EXPECT_EQ(engine.Param("format"), "json");
    EXPECT_EQ(engine.Header("Accept"), "application/json, text/html;q=0.8");
    EXPECT_EQ(engine.Header("Accept-Language"), "de-DE,de;q=0.9,en;q=0.5");

    // The listed IDN site is fetched under its ASCII name; the instance's own
    // address is never fetched as a site, nor are the dropped hosts.
    ASSERT_TRUE(WaitFor([&] { return rig->fake.CountFor(kIdnHost, "/") > 0; }));
    EXPECT_EQ(rig->Home("127.0.0.1").body, kelvora::directory::RenderServicePage(0));
    EXPECT_EQ(rig->Home("10.1.2.3").body, kelvora::directory::RenderServicePage(0));
    for (const UpstreamRequest &request : rig->fake.Requests()) {
        if (request.host == "127.0.0.1") {
            EXPECT_EQ(request.path, "/search");
        }
        EXPECT_NE(request.host, "printer.local");
    }

    const std::uint64_t refusedBefore = rig->service->Network()->Stats().refused;
    const Reply moved = rig->Search("p=moved&n=20&b=1");
    EXPECT_EQ(moved.status, 503);
    EXPECT_EQ(moved.body, "searxng: no answer from 127.0.0.1 (refused: 10.255.255.1 is not a public address)");
    EXPECT_EQ(rig->service->Network()->Stats().refused, refusedBefore + 1);
}

TEST(SelfHostedSearxng, APageTheEngineCannotFillIsAnswered503WithOneLine)
{
    const ScopedVariable locale("LC_ALL", "C");
    std::unique_ptr<Rig> rig = SelfHostedRig({Site(1)});
    const struct {
        const char *query;
        UpstreamAnswer answer;
        int status;
        const char *body;
    } cases[] = {
        {"formats", Status(403), 503,
         "searxng: the JSON format is turned off (HTTP 403); add \"search: formats: [html, json]\" to settings.yml"},
        {"limited", Status(429, {{"Retry-After", "30"}}), 503,
         "searxng: rate limited (HTTP 429); try again in 30 s or set KELVORA_SEARCH_ENGINE"},
        {"limited-plain", Status(429), 503,
         "searxng: rate limited (HTTP 429); try again in 60 s or set KELVORA_SEARCH_ENGINE"},
        {"broken", Status(500), 503, "searxng: server error (HTTP 500)"},
    };
    for (const auto &c : cases) {
        rig->fake.SetHandler("127.0.0.1", [&c](const UpstreamRequest &request) {
            EXPECT_EQ(request.Header("Accept-Language"), "en");
            return c.answer;
        });
        const Reply reply = rig->Search(std::string("p=") + c.query + "&n=20&b=1");
        EXPECT_EQ(reply.status, c.status) << c.query;
        EXPECT_EQ(reply.body, c.body) << c.query;
        EXPECT_EQ(reply.contentType, "text/plain; charset=utf-8") << c.query;
    }
    EXPECT_NE(rig->Log().find("the JSON format is turned off (HTTP 403); add \"search: formats: [html, json]\""),
              std::string::npos)
        << rig->Log();

    // Nothing found is an answer: an empty page, not a failure.
    rig->fake.SetHandler("127.0.0.1", [](const UpstreamRequest &) {
        UpstreamAnswer answer;
        answer.contentType = "application/json";
        answer.body = R"({"query": "x", "number_of_results": 0, "results": []})";
        return answer;
    });
    const Reply none = rig->Search("p=nothing&n=20&b=1");
    EXPECT_EQ(none.status, 200);
    EXPECT_EQ(ReadAsTheProgram(none.body).total, "0");
    EXPECT_TRUE(ReadAsTheProgram(none.body).hosts.empty());
}

TEST(SelfHostedSearxng, AnEngineThatIsDownIsTold503OverTheWire)
{
    const std::string cacheFile = kelvora::testsupport::TemporaryFolder() + "/web-cache.db";
    GatewayServer gateway("searxng:http://127.0.0.1:" + std::to_string(kelvora::testsupport::ClosedLoopbackPort()), {}, cacheFile);
    httplib::Client client("127.0.0.1", gateway.Port());
    client.set_read_timeout(20, 0);
    const httplib::Result result = client.Get("/search?p=garden&n=20&b=1");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 503);
    EXPECT_EQ(result->get_header_value("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(result->body, "searxng: no answer from 127.0.0.1 (could not connect)");
    EXPECT_EQ(gateway.Service().Network()->Stats().refused, 0u);
}
