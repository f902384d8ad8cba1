// The live gateway against hostile upstreams, grouped by upstream: engines
// that redirect or send odd JSON, sites that lead to special addresses, speak
// old TLS or redirect to other ports, and names nothing may be asked about.
// A canary listens on other loopback addresses and fails a test it hears from.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "directory/live/live_service.h"
#include "directory/live/network.h"
#include "tests/live/fake_upstream.h"
#include "tests/live/live_rig.h"
#include "tests/live/network_fixture.h"
#include "tests/live/test_pki.h"
#include "tests/support/loopback_server.h"

using namespace kelvora::directory::live;
using kelvora::directory::Reply;
using namespace kelvora::live::testing;
using namespace kelvora::testsupport;

namespace {

using namespace std::chrono_literals;

constexpr int kAcceptPollMs = 50;

// A listener on one address that counts connections and answers each with
// fixed bytes once the peer has said something: a canary where nothing may
// arrive, or a peer that answers a TLS hello in its own way.
class RawListener final {
public:
    RawListener(const std::string &address, std::string reply)
        : m_reply(std::move(reply))
    {
        const bool ipv6 = address.find(':') != std::string::npos;
        m_fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage storage{};
        socklen_t length;
        if (ipv6) {
            auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
            in6->sin6_family = AF_INET6;
            inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr);
            length = sizeof *in6;
        } else {
            auto *in4 = reinterpret_cast<sockaddr_in *>(&storage);
            in4->sin_family = AF_INET;
            inet_pton(AF_INET, address.c_str(), &in4->sin_addr);
            length = sizeof *in4;
        }
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&storage), length) != 0 || ::listen(m_fd, 16) != 0)
            return;
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&storage), &length);
        m_port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6 *>(&storage)->sin6_port
                            : reinterpret_cast<sockaddr_in *>(&storage)->sin_port);
        m_thread = std::thread([this] { Accept(); });
    }
    ~RawListener()
    {
        m_stopping = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RawListener(const RawListener &) = delete;
    RawListener &operator=(const RawListener &) = delete;

    bool Listening() const { return m_port != 0; }
    int Port() const { return m_port; }
    std::size_t Connections() const { return m_connections; }

private:
    void Accept()
    {
        while (!m_stopping) {
            pollfd watch{m_fd, POLLIN, 0};
            if (::poll(&watch, 1, kAcceptPollMs) <= 0)
                continue;
            const int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            ++m_connections;
            pollfd said{client, POLLIN, 0};
            char buffer[4096];
            if (::poll(&said, 1, 2000) > 0 && ::recv(client, buffer, sizeof buffer, 0) > 0 && !m_reply.empty())
                ::send(client, m_reply.data(), m_reply.size(), MSG_NOSIGNAL);
            ::close(client);
        }
    }

    std::string m_reply;
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<std::size_t> m_connections{0};
    std::thread m_thread;
};


UpstreamAnswer Redirect(const std::string &location)
{
    UpstreamAnswer answer;
    answer.status = 302;
    answer.headers.emplace_back("Location", location);
    answer.body = "moved";
    return answer;
}

std::size_t ArchiveQueriesAbout(const FakeUpstream &fake, const std::string &name)
{
    std::size_t count = 0;
    for (const UpstreamRequest &request : fake.Requests()) {
        const bool outside = request.host == FakeUpstream::kArchiveHost || request.host == FakeUpstream::kRdapHost ||
                             request.host == FakeUpstream::kRegistryHost;
        if (outside && request.target.find(name) != std::string::npos)
            ++count;
    }
    return count;
}

} // namespace

// ------------------------------------------------------------ engines

TEST(HostileEngine, AKeyNeverFollowsARedirectToAnotherOrigin)
{
    const struct {
        const char *engine;
        const char *host;
        const char *header;
    } engines[] = {
        {"marginalia:secret-key", "api2.marginalia-search.com", "API-Key"},
        {"brave:secret-key", "api.search.brave.com", "X-Subscription-Token"},
    };
    for (const auto &e : engines) {
        Rig::Setup setup;
        setup.engine = e.engine;
        Rig rig(setup);
        const std::string host = e.host;
        // The first page moves within the engine's origin, then away from it
        // (another host, then the same host over plain http).
        rig.fake.SetHandler(host, [host](const UpstreamRequest &request) {
            if (request.path == "/search" || request.path == "/res/v1/web/search")
                return Redirect("https://" + host + "/moved" + request.target.substr(request.target.find('?')));
            return Redirect("https://www.e.test/take");
        });
        rig.fake.SetHandler("www.e.test", [](const UpstreamRequest &) {
            return Redirect("http://api2.marginalia-search.com/back");
        });
        rig.Search(kGardenQuery);

        std::size_t atEngine = 0;
        std::size_t elsewhere = 0;
        for (const UpstreamRequest &request : rig.fake.Requests()) {
            if (request.host == host && request.tls) {
                ++atEngine;
                EXPECT_EQ(request.Header(e.header), "secret-key") << request.target;
            } else {
                ++elsewhere;
                EXPECT_EQ(request.Header(e.header), "") << e.engine << ": " << request.host << request.target;
            }
        }
        EXPECT_EQ(atEngine, 2u) << e.engine;   // the search and its move within the origin
        EXPECT_GE(elsewhere, 2u) << e.engine;
    }
}

TEST(HostileEngine, AnUnpairedSurrogateInATitleLosesNoResult)
{
    Rig rig;
    rig.fake.SetHandler("api2.marginalia-search.com", [](const UpstreamRequest &) {
        UpstreamAnswer answer;
        answer.contentType = "application/json";
        answer.body = R"({"query": "q", "license": "x", "results": [)"
                      R"({"url": "https://www.site01.test/", "title": "One", "description": ""},)"
                      R"({"url": "https://www.site02.test/", "title": "Bad \udc80 title", "description": ""},)"
                      R"({"url": "https://www.site03.test/", "title": "Three", "description": ""}]})";
        return answer;
    });
    const Reply reply = rig.Search(kGardenQuery);
    EXPECT_EQ(ReadAsTheProgram(reply.body).hosts, Hosts(1, 3)) << rig.Log();
    EXPECT_NE(reply.body.find("Bad \xEF\xBF\xBD title"), std::string::npos) << reply.body;
}

TEST(HostileEngine, NoFurtherPageOnceTheEnginesTotalIsReached)
{
    Rig::Setup setup;
    setup.engine = std::string("searxng:") + FakeUpstream::kSearxngUrl;
    Rig rig(setup);
    const struct {
        const char *text;
        const char *query;
        int results;
        std::int64_t total;
        std::size_t pages;
    } cases[] = {
        {"\"seven\"", "p=%22seven%22&n=20&b=1", 7, 7, 1},     // all there is, on one page
        {"\"twelve\"", "p=%22twelve%22&n=20&b=1", 12, 12, 2},
        {"\"unknown\"", "p=%22unknown%22&n=20&b=1", 7, 0, 2},  // 0: the engine knows no total
    };
    for (const auto &c : cases) {
        rig.fake.SetResults(c.text, Sites(1, c.results), c.total);
        const std::size_t before = rig.fake.CountFor("searx.test");
        EXPECT_EQ(ReadAsTheProgram(rig.Search(c.query).body).hosts, Hosts(1, c.results)) << c.text;
        EXPECT_EQ(rig.fake.CountFor("searx.test") - before, c.pages) << c.text;
    }
}

// ------------------------------------------------------------ sites

TEST(HostileSite, NoSpecialPurposeAddressOrNumericSpellingIsReached)
{
    LoopbackServer inside([](const std::string &) { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecret"); });
    RawListener canary("127.0.0.2", "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\ncanary");
    RawListener canary6("::1", "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\ncanary");
    ASSERT_TRUE(canary.Listening());
    const std::string port = std::to_string(inside.port());
    const std::string canaryPort = std::to_string(canary.Port());

    NetworkConfig config;
    config.extraCaFile = SharedPki().caFile;
    // Each stands for a DNS answer; none of these names is special-use.
    const std::pair<const char *, const char *> answers[] = {
        {"sixtofour.example.org", "2002:7f00:1::1"},
        {"nat64.example.org", "64:ff9b::7f00:2"},
        {"nat64local.example.org", "64:ff9b:1::808:808"},
        {"teredo.example.org", "2001:0:4136:e378:8000:63bf:80ff:fffd"},
        {"bench.example.org", "198.18.0.1"},
        {"ietf.example.org", "192.0.0.8"},
        {"docs.example.org", "2001:db8::1"},
        {"docs4.example.org", "203.0.113.5"},
        {"canary.example.org", "127.0.0.2"},
    };
    std::vector<std::string> urls;
    for (const auto &[name, address] : answers) {
        config.resolve.push_back(std::string(name) + ":" + canaryPort + ":" + address);
        urls.push_back(std::string("http://") + name + ":" + canaryPort + "/");
    }
    if (canary6.Listening()) {
        const std::string port6 = std::to_string(canary6.Port());
        config.resolve.push_back("canary6.example.org:" + port6 + ":::1");
        urls.push_back("http://canary6.example.org:" + port6 + "/");
    }
    // Loopback as the resolver reads numbers, straight and as a redirect.
    for (const char *spelling : {"127.1", "0x7f.0.0.1", "2130706433", "0177.0.0.1", "127.0.1", "0x7f000001"})
        urls.push_back(std::string("http://") + spelling + ":" + port + "/");
    NetworkFetcher network(config);
    for (const std::string &url : urls) {
        const FetchResult result = FetchOnce(network, Get(url));
        EXPECT_EQ(result.outcome, FetchResult::Outcome::Refused) << url << ": " << result.error;
    }
    EXPECT_EQ(network.Stats().connections, 0u);
    EXPECT_EQ(inside.connectionCount(), 0u);
    EXPECT_EQ(canary.Connections(), 0u);
    EXPECT_EQ(canary6.Connections(), 0u);

    // Redirects to the web port, where no rule sends www.a.test's targets.
    FakeUpstream fake;
    fake.SetHandler("www.a.test", [](const UpstreamRequest &request) {
        return Redirect("http://" + request.path.substr(1) + "/");
    });
    config.connectTo = Rules({"www.a.test:443:127.0.0.1:" + std::to_string(fake.TlsPort())});
    NetworkFetcher redirected(config);
    for (const char *spelling : {"127.1", "0x7f.0.0.1", "2130706433", "0177.0.0.1", "[64:ff9b:1::7f00:1]"}) {
        const FetchResult result = FetchOnce(redirected, Get(std::string("https://www.a.test/") + spelling));
        EXPECT_EQ(result.outcome, FetchResult::Outcome::Refused) << spelling << ": " << result.error;
    }
    EXPECT_EQ(inside.connectionCount(), 0u);
}

TEST(HostileSite, AddressResultsAreNotListedNorAskedAbout)
{
    Rig rig;
    rig.fake.SetResults(kGardenText, {
        {"http://127.1/", "Loopback, short", ""},
        {"http://0x7f.0.0.1/", "Loopback, hex", ""},
        {"http://2130706433/", "Loopback, one number", ""},
        {"http://0177.0.0.1/", "Loopback, octal", ""},
        {"http://8.8.8.8/", "A public address", ""},
        {"https://www.site01.test/", "One", ""},
        {"http://10.0x10203/", "Private, mixed", ""},
    });
    const Reply reply = rig.Search(kGardenQuery);
    EXPECT_EQ(ReadAsTheProgram(reply.body).hosts, Hosts(1, 1));
    ASSERT_TRUE(WaitFor([&] { return ArchiveQueriesAbout(rig.fake, "site01") >= 2; }));
    for (const char *name : {"0.1", "127", "0x7f", "2130706433", "0177", "8.8", "10.0"})
        EXPECT_EQ(ArchiveQueriesAbout(rig.fake, name), 0u) << name;
}

TEST(HostileSite, SecurityTxtIsReadOnlyOverHttpsAllTheWay)
{
    FakeUpstream fake;
    fake.SetHandler("www.a.test", [](const UpstreamRequest &request) {
        if (request.tls)
            return Redirect("http://www.a.test" + request.path);
        UpstreamAnswer answer;
        answer.body = "Contact: mailto:plain@a.test\n";
        answer.contentType = "text/plain";
        return answer;
    });
    NetworkFetcher network(ConfigFor(fake));
    FetchRequest request = Get("https://www.a.test/.well-known/security.txt");
    request.httpsOnly = true;
    const FetchResult result = FetchOnce(network, request);
    EXPECT_EQ(result.outcome, FetchResult::Outcome::Failed);
    EXPECT_NE(result.error.find("redirect away from https"), std::string::npos) << result.error;
    EXPECT_EQ(fake.CountFor("www.a.test"), 1u);

    // Through the details page: the mail behind the plain-text hop is not
    // shown.
    Rig rig;
    rig.fake.SetHandler(Site(1), [](const UpstreamRequest &request) {
        if (request.path == "/.well-known/security.txt" && request.tls)
            return Redirect("http://www.site01.test/.well-known/security.txt");
        if (request.path == "/.well-known/security.txt") {
            UpstreamAnswer answer;
            answer.body = "Contact: mailto:plain@site01.test\n";
            answer.contentType = "text/plain";
            return answer;
        }
        if (request.path == "/")
            return UpstreamAnswer{200, "<html><body>home</body></html>", "text/html", {}, 0ms};
        return UpstreamAnswer{404, "", "text/html", {}, 0ms};
    });
    const std::string page = rig.Details(Site(1)).body;
    EXPECT_EQ(page.find("plain@site01.test"), std::string::npos) << page;
    EXPECT_NE(page.find(FakeUpstream::kAbuseMail), std::string::npos) << page;
}

TEST(HostileSite, OnlyAPeerThatSpeaksNoTlsIsTriedInPlainText)
{
    FakeUpstream fake;
    // A TLS 1.0-only server refusing the hello with a protocol_version alert.
    RawListener oldTls("127.0.0.1", std::string("\x15\x03\x01\x00\x02\x02\x46", 7));
    RawListener noTls("127.0.0.1", "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
    NetworkFetcher network(ConfigFor(fake, {"old.test:443:127.0.0.1:" + std::to_string(oldTls.Port()),
                                            "plain.test:443:127.0.0.1:" + std::to_string(noTls.Port())}));

    const FetchResult old = FetchOnce(network, Get("https://old.test/", SchemeFallback::HttpAfterHttps));
    EXPECT_EQ(old.outcome, FetchResult::Outcome::Failed);
    EXPECT_EQ(fake.CountFor("old.test"), 0u);
    EXPECT_EQ(oldTls.Connections(), 1u);

    const FetchResult plain = FetchOnce(network, Get("https://plain.test/", SchemeFallback::HttpAfterHttps));
    EXPECT_EQ(plain.outcome, FetchResult::Outcome::Answered) << plain.error;
    EXPECT_EQ(plain.finalUrl, "http://plain.test/");
    EXPECT_EQ(noTls.Connections(), 1u);
}

TEST(HostileSite, RedirectsKeepToTheWebPortsAndTheLogStaysOneLine)
{
    FakeUpstream fake;
    fake.SetHandler("www.a.test", [](const UpstreamRequest &request) {
        if (request.path == "/ssh")
            return Redirect("https://www.b.test:22/");
        if (request.path == "/alt")
            return Redirect("https://www.b.test:8443/");
        if (request.path == "/engine")
            return Redirect("http://www.b.test:8888/");   // a rule names 8888
        if (request.path == "/web")
            return Redirect("http://www.b.test/");
        if (request.path == "/forged")
            return Redirect("https://www.b.test:22/\x1b[2J\x07");
        return Redirect("https://www.b.test:9999/");
    });
    NetworkConfig config = ConfigFor(fake);
    config.redirectPorts = {9999};
    NetworkFetcher network(config);
    const struct {
        const char *path;
        bool followed;
    } cases[] = {{"/ssh", false}, {"/alt", false}, {"/engine", true}, {"/web", true}, {"/any", true}};
    for (const auto &c : cases) {
        const FetchResult result = FetchOnce(network, Get(std::string("https://www.a.test") + c.path));
        if (c.followed) {
            EXPECT_NE(result.finalUrl.find("www.b.test"), std::string::npos) << c.path << ": " << result.error;
        } else {
            EXPECT_EQ(result.outcome, FetchResult::Outcome::Failed) << c.path;
            EXPECT_NE(result.error.find("redirect to port"), std::string::npos) << result.error;
        }
    }
    EXPECT_EQ(fake.CountFor("www.b.test"), 2u);   // the rule's port and port 80; 9999 is not served

    const FetchResult forged = FetchOnce(network, Get("https://www.a.test/forged"));
    for (const char c : forged.error + forged.finalUrl)
        EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << forged.error;
}

// ------------------------------------------------------------ archive and RDAP

TEST(HostileFacts, NothingGoesOutAboutANameThatCannotBePublic)
{
    Rig::Setup setup;
    setup.everyHost = false;
    setup.mappedHosts = {"api2.marginalia-search.com", Site(1)};
    // A name the DNS sends to loopback, on both web ports.
    setup.settings.resolve = {"www.inside.org:443:127.0.0.2", "www.inside.org:80:127.0.0.2"};
    Rig rig(setup);

    for (const char *host : {"www.printer.local", "nas.home.arpa", "www.db.internal", "app.localhost", "10.1.2.3",
                             "169.254.169.254", "127.1", "8.8.8.8", "www.inside.org", "www.thing.example"}) {
        const std::string page = rig.Details(host).body;
        EXPECT_NE(page.find("<html"), std::string::npos) << host;
    }
    rig.fake.SetResults(kGardenText, {{"https://www.inside.org/", "Inside", ""}, {"https://www.site01.test/", "One", ""}});
    rig.Search(kGardenQuery);
    // The listed site is asked about (archive and RDAP) once its home page
    // shows a public address; the inside one never.
    ASSERT_TRUE(WaitFor([&] { return ArchiveQueriesAbout(rig.fake, "site01") >= 2; })) << rig.Log();
    for (const char *name : {"printer", "home.arpa", "internal", "localhost", "10.1", "169.254", "127", "8.8",
                             "inside", "thing"})
        EXPECT_EQ(ArchiveQueriesAbout(rig.fake, name), 0u) << name;
    EXPECT_EQ(rig.fake.CountFor("www.inside.org"), 0u);
    EXPECT_GE(rig.service->Network()->Stats().refused, 1u);
}

// ------------------------------------------------------------ load

TEST(HostileLoad, TwoGatewaysOnOneCacheShareItsAnswers)
{
    Rig rig;
    rig.fake.SetResults(kGardenText, Sites(1, 20));
    rig.fake.SetDelay(50ms);
    LiveService second(rig.options, rig.settings);
    std::thread other([&] { second.Respond("/search", kGardenQuery, "127.0.0.1"); });
    EXPECT_EQ(ReadAsTheProgram(rig.Search(kGardenQuery).body).hosts, Hosts(1, 20));
    other.join();
    for (const std::string &host : Hosts(1, 20)) {
        EXPECT_EQ(rig.Home(host).body, FakeUpstream::HomePage(host));
        EXPECT_EQ(second.Respond("/", "", host).body, FakeUpstream::HomePage(host));
    }
    const std::size_t requests = rig.fake.Requests().size();
    // A third gateway on the same file finds everything there.
    LiveService third(rig.options, rig.settings);
    third.Prefetch().SetEnabled(false);   // its facts may still be on their way to the others
    EXPECT_EQ(ReadAsTheProgram(third.Respond("/search", kGardenQuery, "127.0.0.1").body).hosts, Hosts(1, 20));
    for (const std::string &host : Hosts(1, 20))
        EXPECT_EQ(third.Respond("/", "", host).body, FakeUpstream::HomePage(host));
    EXPECT_EQ(third.Network()->Stats().transfers, 0u);
    // Racing, each gateway fetched a page at most once.
    for (const std::string &host : Hosts(1, 20))
        EXPECT_LE(rig.fake.CountFor(host, "/"), 2u) << host;
    EXPECT_EQ(rig.Log().find("locked"), std::string::npos) << rig.Log();
    EXPECT_EQ(rig.Log().find("cache:"), std::string::npos) << rig.Log();
    EXPECT_GT(requests, 20u);
}
