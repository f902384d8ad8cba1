#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "directory/core/pages.h"
#include "directory/core/server.h"
#include "directory/local/service.h"
#include "tests/directory/fixture_db.h"
#include "tests/support/cases.h"

using namespace kelvora::directory;
using kelvora::directory::testing::FixtureAnswers;
using kelvora::directory::testing::FixtureStore;
using kelvora::testsupport::Case;

namespace {

std::string Get(std::string_view path, std::string_view query, std::string_view host = "127.0.0.1")
{
    const Reply reply = Respond(FixtureStore(), path, query, host);
    EXPECT_EQ(reply.status, 200) << path << "?" << query;
    return reply.body;
}

// The hosts of a results page, read the way a results reader does: the
// text of each <em ...> element after the total.
std::vector<std::string> Hosts(const std::string &page)
{
    std::vector<std::string> hosts;
    std::size_t at = page.find("of about");
    while ((at = page.find("<em", at)) != std::string::npos) {
        const std::size_t open = page.find('>', at) + 1;
        const std::size_t close = page.find("</em>", open);
        hosts.push_back(page.substr(open, close - open - 1));   // without the "/"
        at = close;
    }
    return hosts;
}

std::size_t Count(const std::string &text, const std::string &pattern)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + 1))
        ++count;
    return count;
}

} // namespace

TEST(SearchPage, PhraseAndWordQueries)
{
    const std::string phrase = Get("/search", "p=%22web+hosting%22&ei=UTF-8&n=20&b=1");
    EXPECT_NE(phrase.find("of about <strong>1</strong>"), std::string::npos);
    EXPECT_EQ(Hosts(phrase), (std::vector<std::string>{"www.webhost-one.test"}));

    const std::string words = Get("/search", "p=web+hosting");
    EXPECT_NE(words.find("of about <strong>2</strong>"), std::string::npos);
    const auto hosts = Hosts(words);
    EXPECT_EQ(std::set<std::string>(hosts.begin(), hosts.end()),
              (std::set<std::string>{"www.webhost-one.test", "www.quote-and-tags.test"}));

    // Stemming: "servers" finds "server".
    EXPECT_NE(Get("/search", "p=servers").find("of about <strong>2</strong>"), std::string::npos);
    EXPECT_NE(Get("/search", "p=%22%22&n=20").find("of about <strong>0</strong>"), std::string::npos);
}

TEST(SearchPage, PagesThroughAllResultsWithoutRepeats)
{
    // "garden" is a keyword of four sites; equal relevance falls back to
    // popularity, so the order is stable from page to page.
    std::vector<std::string> seen;
    for (int first : {1, 3, 5}) {
        const std::string page =
            Get("/search", "p=garden&n=2&b=" + std::to_string(first));
        EXPECT_NE(page.find("of about <strong>4</strong>"), std::string::npos) << first;
        const auto hosts = Hosts(page);
        EXPECT_EQ(hosts.size(), first < 5 ? 2u : 0u) << first;
        seen.insert(seen.end(), hosts.begin(), hosts.end());
    }
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), 4u);
    EXPECT_EQ(Hosts(Get("/search", "p=garden")), seen);

    EXPECT_EQ(Hosts(Get("/search", "p=garden&n=0")).size(), 1u);
    EXPECT_EQ(Hosts(Get("/search", "p=garden&n=99999999999999999999&b=0")).size(), 4u);
    EXPECT_EQ(Hosts(Get("/search", "p=garden&n=x&b=-3")).size(), 4u);
    EXPECT_TRUE(Hosts(Get("/search", "p=garden&b=99999999999999999999")).empty());
}

TEST(SearchPage, ListsBacklinksWithTheSitesPopularityAsTotal)
{
    for (const char *query : {"p=link%3Ahttp%3A%2F%2Fwww.toolshed.test", "p=link:toolshed.test/",
                              "p=LINK%3AHTTPS%3A%2F%2FWWW.TOOLSHED.TEST"}) {
        const std::string page = Get("/search", query);
        EXPECT_NE(page.find("of about <strong>2</strong>"), std::string::npos) << query;
        const auto hosts = Hosts(page);
        EXPECT_EQ(std::set<std::string>(hosts.begin(), hosts.end()),
                  (std::set<std::string>{"www.greenleaf-garden.test", "www.serverparts.test"}));
    }
    // The stated total is the site's own figure, even where fewer linking
    // sites are in the data set.
    const std::string hosting = Get("/search", "p=link%3Ahttp%3A%2F%2Fwww.webhost-one.test");
    EXPECT_NE(hosting.find("of about <strong>1,230</strong>"), std::string::npos);
    EXPECT_EQ(Hosts(hosting).size(), 2u);
    EXPECT_NE(Get("/search", "p=link%3Ahttp%3A%2F%2Fnowhere.test").find("of about <strong>0</strong>"),
              std::string::npos);
}

TEST(SearchPage, StoredAndUserTextCannotForgeMarkers)
{
    // The fixture's title and description hold "of about", "<li>" and
    // "<em>"; the query holds markup of its own.
    const std::string page = Get("/search", "p=quotes+%3Cli%3E%3Cem%3Eof+about");
    EXPECT_EQ(Count(page, "<li>"), 0u);
    const std::string quotes = Get("/search", "p=quotes");
    EXPECT_EQ(Count(quotes, "<li>"), 1u);
    EXPECT_EQ(Count(quotes, "<em"), 1u);
    EXPECT_LT(quotes.find("of about <strong>1</strong>"), quotes.find("Says of about"));
    EXPECT_NE(quotes.find("&lt;b&gt;Tags &amp; &quot;Quotes&quot;&lt;/b&gt;"), std::string::npos);
    EXPECT_EQ(Hosts(quotes), (std::vector<std::string>{"www.quote-and-tags.test"}));
}

TEST(DetailsPage, KnownAndUnknownHosts)
{
    const std::string page = Get("/data/details/", "url=www.webhost-one.test");
    EXPECT_NE(page.find("Traffic rank for www.webhost-one.test: <b>1</b><b>2</b>,<b>3</b><b>4</b>"
                        "<b>5</b><br>"),
              std::string::npos);
    EXPECT_NE(page.find("Online since: 2003-01-15<br>"), std::string::npos);
    EXPECT_NE(page.find("<li><a href=\"http://www.quote-and-tags.test/\">www.quote-and-tags.test</a> "
                        "<span class=\"smallg\">www.quote-and-tags.test</span></li>"),
              std::string::npos);
    EXPECT_NE(page.find("<!--contact-->"), std::string::npos);
    EXPECT_NE(page.find("Mail: sales@webhost-one.test<br>"), std::string::npos);

    // The contact text holds the closing marker; escaped, it ends nothing.
    const std::string quotes = Get("/data/details/", "url=www.quote-and-tags.test");
    EXPECT_EQ(Count(quotes, "<!--/contact-->"), 1u);
    EXPECT_NE(quotes.find("Name: Eve &lt;!--/contact--&gt; O&#39;Neil<br>"), std::string::npos);

    const std::string lonely = Get("/data/details", "url=www.blog.lonely.test/");
    EXPECT_NE(lonely.find("There are no related sites."), std::string::npos);
    EXPECT_NE(lonely.find("<b>7</b><br>"), std::string::npos);

    EXPECT_EQ(Get("/data/details/", "url=www.toolshed.test").find("Online since"),
              std::string::npos);

    for (const char *query : {"url=www.unknown.test", "url=", "", "url=www.%3Cb%3E1",
                              "url=www.online+since%3A+x"}) {
        const std::string unknown = Get("/data/details/", query);
        for (const char *marker : {"traffic rank for", "online since:", "people who visit",
                                   "<!--contact-->", "smallg"})
            EXPECT_EQ(kelvora::directory::HtmlEscape(unknown).find(marker), std::string::npos)
                << query << " " << marker;
    }
}

TEST(HomePage, ChosenByTheHostLine)
{
    const std::string home = Get("/", "", "WWW.ServerParts.test:80");
    EXPECT_NE(home.find("<title>Server Parts</title>"), std::string::npos);
    EXPECT_EQ(Count(home, "<a "), 3u);
    EXPECT_NE(home.find("<a href=\"http://external.example.com/\">"), std::string::npos);

    EXPECT_EQ(Count(Get("/", "", "toolshed.test"), "<a "), 0u);
    const std::string service = Get("/", "", "127.0.0.1:8355");
    EXPECT_NE(service.find("Kelvora Directory"), std::string::npos);
    EXPECT_EQ(Count(service, "http://"), 0u);
    EXPECT_EQ(Respond(FixtureStore(), "/elsewhere", "", "").status, 404);
}

TEST(FormatThousands, GroupsByThree)
{
    EXPECT_EQ(FormatThousands(0), "0");
    EXPECT_EQ(FormatThousands(999), "999");
    EXPECT_EQ(FormatThousands(1000), "1,000");
    EXPECT_EQ(FormatThousands(1234567), "1,234,567");
    EXPECT_EQ(FormatThousands(-1234), "-1,234");
    EXPECT_EQ(FormatThousands(INT64_MIN), "-9,223,372,036,854,775,808");
}

// ---- over a real socket -------------------------------------------------

namespace {

constexpr auto kReplyTimeout = std::chrono::seconds(10);

// True once reply holds a whole response with a Content-Length body.
bool Complete(const std::string &reply)
{
    const std::size_t end = reply.find("\r\n\r\n");
    if (end == std::string::npos)
        return false;
    const std::size_t length = reply.find("Content-Length: ");
    if (length == std::string::npos || length > end)
        return false;
    return reply.size() - end - 4 >= std::stoul(reply.substr(length + 16));
}

// Sends request bytes to the server and returns what it answers: one whole
// response, or everything until it closes the connection (bounded in time).
std::string Exchange(int port, const std::string &request)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socket, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        close(socket);
        return "connect failed";
    }
    send(socket, request.data(), request.size(), MSG_NOSIGNAL);
    std::string reply;
    const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd ready{socket, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0)
            continue;
        const ssize_t count = recv(socket, buffer, sizeof(buffer), 0);
        if (count <= 0)
            break;
        reply.append(buffer, static_cast<std::size_t>(count));
        if (Complete(reply))
            break;
    }
    close(socket);
    return reply;
}

std::string StatusLine(const std::string &reply)
{
    return reply.substr(0, reply.find("\r\n"));
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_server.Bind("127.0.0.1", 0, error)) << error;
        ASSERT_TRUE(m_server.ServeInBackground(error)) << error;
    }
    int Port() const { return m_server.Port(); }

    DirectoryServer m_server{FixtureAnswers()};
};

} // namespace

TEST_F(ServerTest, AnswersTheProgramsRequestBytes)
{
    const std::string reply = Exchange(
        Port(), "GET /data/details/?url=www.seedbank.test HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                "Accept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                "Connection: close\r\n\r\n");
    EXPECT_EQ(StatusLine(reply), "HTTP/1.1 200 OK");
    EXPECT_NE(reply.find("Traffic rank for www.seedbank.test: <b>3</b><br>"), std::string::npos);

    // A second "?" in the target, as an unencoded keyword gives.
    const std::string question = Exchange(
        Port(), "GET /search?p=%22garden?%22&ei=UTF-8&n=20&b=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(StatusLine(question), "HTTP/1.1 200 OK");
    EXPECT_NE(question.find("of about <strong>4</strong>"), std::string::npos);
}

TEST_F(ServerTest, BadRequestsAreAnsweredAndTheServerCarriesOn)
{
    const Case<std::string> cases[] = {
        {"garbage\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"GET /search?p=a b HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"POST /search HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc",
         "HTTP/1.1 405 Method Not Allowed"},
        {"GET /search?p=" + std::string(20000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n",
         "HTTP/1.1 414 URI Too Long"},
        {"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(20000, 'b') + "\r\n\r\n", ""},
        {"GET /nowhere HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "HTTP/1.1 404 Not Found"},
        {"GET /search?p=%ff%00%22%22%22 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
         "HTTP/1.1 200 OK"},
    };
    for (const auto &c : cases) {
        const std::string reply = Exchange(Port(), c.input);
        if (c.expected.empty())   // refused outright or answered with an error
            EXPECT_TRUE(reply.empty() || reply.rfind("HTTP/1.1 4", 0) == 0) << StatusLine(reply);
        else
            EXPECT_EQ(StatusLine(reply), c.expected) << c.input.substr(0, 40);
    }
    const std::string head =
        Exchange(Port(), "HEAD /search?p=garden HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusLine(head), "HTTP/1.1 200 OK");
    EXPECT_EQ(head.find("<html>"), std::string::npos);
    EXPECT_EQ(StatusLine(Exchange(Port(), "GET /search?p=garden HTTP/1.1\r\nConnection: close\r\n\r\n")),
              "HTTP/1.1 200 OK");
}

TEST_F(ServerTest, ServesManyClientsAtOnce)
{
    constexpr int kClients = 16;
    constexpr int kRequestsEach = 25;
    std::atomic<int> good{0};
    std::vector<std::thread> clients;
    for (int client = 0; client < kClients; ++client) {
        clients.emplace_back([&, client] {
            for (int i = 0; i < kRequestsEach; ++i) {
                const std::string target = client % 2 ? "/search?p=garden&n=2"
                                                      : "/data/details/?url=www.toolshed.test";
                const std::string reply = Exchange(
                    Port(), "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
                if (StatusLine(reply) == "HTTP/1.1 200 OK" && reply.find("</html>") != std::string::npos)
                    ++good;
            }
        });
    }
    for (std::thread &client : clients)
        client.join();
    EXPECT_EQ(good.load(), kClients * kRequestsEach);
}

TEST(DirectoryServer, RefusesAPortInUse)
{
    DirectoryServer first(FixtureAnswers());
    std::string error;
    ASSERT_TRUE(first.Bind("127.0.0.1", 0, error)) << error;
    DirectoryServer second(FixtureAnswers());
    EXPECT_FALSE(second.Bind("127.0.0.1", first.Port(), error));
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:"), std::string::npos);
}
