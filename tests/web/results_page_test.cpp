#include "web/results_page.h"

#include "web/services.h"
#include "web/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

using kelvora::DomainSearchUrl;
using kelvora::KeywordSearchUrl;
using kelvora::NextResultHost;
using kelvora::SearchHost;
using kelvora::TrafficHost;

TEST(NextResultHost, CutsOneEntryAndReadsItsAddress)
{
    const struct {
        const char *name;
        std::string page;
        std::string host;
        std::string pageAfter;
    } cases[] = {
        {"typical entry",
         "of about <b>2</b><li><a href=x>t</a><em class=u>www.example.test/</em> d<li><em>b.test</em>",
         "www.example.test/", "<li><em>b.test</em>"},
        {"last entry", "<li><em>b.test</em>", "b.test", "<em>b.test</em>"},
        {"scheme removed in any case", "<li><em>HTTP://www.<b>A</b>.test</em>", "www.<b>a</b>.test",
         "<em>HTTP://www.<b>A</b>.test</em>"},
        {"too short", "<li><em>a.</em><li>x", "", "<li>x"},
        {"length checked before the scheme goes", "<li><em>http://.</em>", ".", "<em>http://.</em>"},
        {"no full stop", "<li><em>localhost</em>", "", "<em>localhost</em>"},
        {"no </em>", "<li><em>a.test<li>x", "", "<li>x"},
        {"</em> of the next entry", "<li><em>a.test<li><em>b.test</em>", "a.test<li><em>b.test",
         "<li><em>b.test</em>"},
        {"</em> before <em", "<li>x</em><em>a.test</em>", "", "x</em><em>a.test</em>"},
        {"no address: the next entry's is read", "<li>none<li><em>b.test</em>", "b.test",
         "<li><em>b.test</em>"},
        // Without "<li>" the entry is read from the page's fourth character.
        {"no <li>", "<em>x.test</em>", ".test", ">x.test</em>"},
        {"empty page", "", "", ""},
    };
    for (const auto &c : cases) {
        std::string page = c.page;
        std::string host = "stale";
        NextResultHost(page, host);
        EXPECT_EQ(host, c.host) << c.name;
        EXPECT_EQ(page, c.pageAfter) << c.name;
    }
}

TEST(NextResultHost, WalksEveryEntryInPageOrder)
{
    std::string page = "of about <strong>3</strong><ol>";
    const std::vector<std::string> hosts = {"www.a.test", "b.test", "www.a.test"};
    for (const auto &host : hosts)
        page += "<li><div><a href=\"http://" + host + "/\">t</a></div><em class=\"u\">" + host +
                "</em><p>about " + host + "</p></li>";
    std::vector<std::string> read;
    while (kelvora::Contains(page, "<li>")) {
        std::string host;
        NextResultHost(page, host);
        read.push_back(kelvora::CleanResultHost(host));
        ASSERT_LE(read.size(), hosts.size());
    }
    EXPECT_EQ(read, hosts);
}

TEST(SearchUrls, KeywordAndDomainQueries)
{
    setenv("KELVORA_SEARCH_HOST", "engine.test:81", 1);
    const std::string search = "http://engine.test:81/search?p=";
    EXPECT_EQ(KeywordSearchUrl("web hosting", 20, 0), search + "%22web+hosting%22&ei=UTF-8&n=20&b=1");
    EXPECT_EQ(KeywordSearchUrl("", 20, 0), search + "%22%22&ei=UTF-8&n=20&b=1");
    // Every byte but letters, digits, - . _ ~ and the blank is percent-encoded,
    // so nothing of the keyword ends the query value or the request target.
    EXPECT_EQ(KeywordSearchUrl("a&b #c%", 10, 40), search + "%22a%26b+%23c%25%22&ei=UTF-8&n=10&b=41");
    EXPECT_EQ(KeywordSearchUrl("caf\xc3\xa9 c#x", 20, 0), search + "%22caf%C3%A9+c%23x%22&ei=UTF-8&n=20&b=1");
    EXPECT_EQ(KeywordSearchUrl("\xe6\x97\xa5\xe6\x9c\xac \"q\"+1=2?/\\\r\n\x7f", 20, 0),
              search + "%22%E6%97%A5%E6%9C%AC+%22q%22%2B1%3D2%3F%2F%5C%0D%0A%7F%22&ei=UTF-8&n=20&b=1");
    EXPECT_EQ(KeywordSearchUrl("Az09-._~  x", 20, 0), search + "%22Az09-._~++x%22&ei=UTF-8&n=20&b=1");
    EXPECT_EQ(KeywordSearchUrl("x", 20, INT_MAX), search + "%22x%22&ei=UTF-8&n=20&b=2147483648");

    EXPECT_EQ(DomainSearchUrl("my site/x:y"), search + "link%3Ahttp%3A%2F%2Fmy%20site%2Fx%3Ay");
    EXPECT_EQ(DomainSearchUrl("http://a.test"), search + "link%3Ahttp%3A%2F%2Fhttp%3A%2F%2Fa.test");
    EXPECT_EQ(DomainSearchUrl("100%&q=+"), search + "link%3Ahttp%3A%2F%2F100%&q=+");
    unsetenv("KELVORA_SEARCH_HOST");
}

TEST(SearchUrls, ServiceHostsAreReadAtEachCall)
{
    unsetenv("KELVORA_SEARCH_HOST");
    unsetenv("KELVORA_TRAFFIC_HOST");
    EXPECT_EQ(SearchHost(), "127.0.0.1:8355");
    EXPECT_EQ(TrafficHost(), "127.0.0.1:8355");

    setenv("KELVORA_SEARCH_HOST", "search.test:9", 1);
    setenv("KELVORA_TRAFFIC_HOST", "traffic.test", 1);
    EXPECT_EQ(SearchHost(), "search.test:9");
    EXPECT_EQ(TrafficHost(), "traffic.test");

    setenv("KELVORA_SEARCH_HOST", "", 1);
    EXPECT_EQ(SearchHost(), "127.0.0.1:8355");
    unsetenv("KELVORA_SEARCH_HOST");
    unsetenv("KELVORA_TRAFFIC_HOST");
}
