#include "web/title.h"

#include "tests/support/cases.h"
#include "tests/support/fake_service.h"
#include "tests/web/counting_pumps.h"

#include <gtest/gtest.h>

#include <string>

using namespace kelvora;
using namespace kelvora::testsupport;

TEST(ExtractTitle, CutsTheFirstTitleOutOfThePage)
{
    const NamedCase<std::string> cases[] = {
        {"capitals", "<html><TITLE>Acme Tools</TITLE>", "Acme Tools"},
        {"mixed case tags keep the text's case", "<Title>ACME tools</tItLe>", "ACME tools"},
        {"CR LF removed, blanks kept", "<title>\r\n  Acme\r\n  Tools\r\n</title>", "  Acme  Tools"},
        {"LF only kept", "<title>\n  Acme\n</title>", "\n  Acme\n"},
        {"empty element", "<title></title>", ""},
        {"no start tag", "<html><head>X</title>", "<head>X"},
        {"no start tag, end too early", "<a></title>", ""},
        {"two titles", "<title>One</title><title>Two</title>", "One"},
        {"entities kept", "<title>Tom &amp; Jerry</title>", "Tom &amp; Jerry"},
        {"no end tag", "<title>Acme", ""},
        {"end before start", "</title><title>Acme", ""},
        {"attributes are not a start tag", "<title lang=en>Acme</title>", " lang=en>Acme"},
        {"zero bytes survive", std::string("<title>a\0b</title>", 18), std::string("a\0b", 3)},
        {"empty page", "", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ExtractTitle(c.input), c.expected) << c.name;
}

TEST(FetchPage, ReturnsTheBodyWhateverTheStatusAndPumpsOnce)
{
    std::string closedUrl;
    {
        LoopbackServer closed(LoopbackServer::Handler([](const std::string &) { return std::string(); }));
        closedUrl = closed.url("/");
    }
    LoopbackServer server(LoopbackServer::Handler([](const std::string &head) {
        const std::string body = "<title>Not here</title>";
        const bool missing = head.rfind("GET /missing ", 0) == 0;
        return std::string(missing ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK") +
               "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }));
    int pumps = 0;
    const PageHooks hooks = CountingPumps(pumps);

    EXPECT_EQ(FetchPage(server.url("/missing"), hooks), "<title>Not here</title>");
    EXPECT_EQ(ExtractTitle(FetchPage(server.url("/"), hooks)), "Not here");
    EXPECT_EQ(FetchPage(closedUrl, hooks), "");
    EXPECT_EQ(FetchPage("https://127.0.0.1/", hooks), "");
    EXPECT_EQ(pumps, 4);
}
