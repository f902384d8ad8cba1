// The live mode's pure rules: its command line, connection rules, which
// addresses it may reach, robots.txt, and the text it takes from engines.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <string>
#include <vector>

#include "directory/live/address.h"
#include "directory/live/options.h"
#include "directory/live/robots.h"
#include "directory/live/text.h"

using namespace kelvora::directory::live;

namespace {

std::optional<LiveOptions> Parse(const std::vector<std::string> &arguments, std::string &error)
{
    return ParseLiveOptions(arguments, error);
}

bool AddressIsPublic(const std::string &text)
{
    sockaddr_storage storage{};
    if (text.find(':') == std::string::npos) {
        auto *ipv4 = reinterpret_cast<sockaddr_in *>(&storage);
        ipv4->sin_family = AF_INET;
        EXPECT_EQ(inet_pton(AF_INET, text.c_str(), &ipv4->sin_addr), 1) << text;
    } else {
        auto *ipv6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        ipv6->sin6_family = AF_INET6;
        EXPECT_EQ(inet_pton(AF_INET6, text.c_str(), &ipv6->sin6_addr), 1) << text;
    }
    return IsPublicAddress(reinterpret_cast<const sockaddr *>(&storage));
}

} // namespace

TEST(LiveOptions, ReadsTheWholeCommandLine)
{
    std::string error;
    const std::optional<LiveOptions> options =
        Parse({"--live", "--search-engine", "searxng:http://127.0.0.1:8888/", "--listen", "127.0.0.1:9000",
               "--cache", "/tmp/c.db", "--offline", "--connect-to", "a.test:443:127.0.0.1:8443",
               "--connect-to", "::127.0.0.1:9", "--ca-file", "/tmp/ca.pem", "--data", "/tmp/d.db",
               "--facts", "/tmp/f.db"},
              error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->engine.kind, EngineChoice::Kind::Searxng);
    EXPECT_EQ(options->engine.baseUrl, "http://127.0.0.1:8888");
    EXPECT_EQ(options->listenAddress, "127.0.0.1");
    EXPECT_EQ(options->listenPort, 9000);
    EXPECT_EQ(options->cacheFile, "/tmp/c.db");
    EXPECT_TRUE(options->offline);
    ASSERT_EQ(options->connectTo.size(), 2u);
    EXPECT_EQ(options->connectTo[0].text, "a.test:443:127.0.0.1:8443");
    EXPECT_EQ(options->caFile, "/tmp/ca.pem");
    EXPECT_EQ(options->dataFile, "/tmp/d.db");
    EXPECT_EQ(options->factsFile, "/tmp/f.db");
}

TEST(LiveOptions, DefaultsToMarginaliasPublicKeyAndTheUsersCacheAndFacts)
{
    setenv("XDG_CACHE_HOME", "/tmp/xdg-cache", 1);
    setenv("XDG_DATA_HOME", "/tmp/xdg-data", 1);
    std::string error;
    const std::optional<LiveOptions> options = Parse({"--live"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->engine.kind, EngineChoice::Kind::Marginalia);
    EXPECT_EQ(options->engine.key, "public");
    EXPECT_EQ(options->cacheFile, "/tmp/xdg-cache/kelvora/web-cache.db");
    EXPECT_EQ(options->factsFile, "/tmp/xdg-data/kelvora/facts.db");
    EXPECT_EQ(options->listenPort, 8355);
    EXPECT_FALSE(options->offline);
    unsetenv("XDG_CACHE_HOME");
    unsetenv("XDG_DATA_HOME");
}

TEST(LiveOptions, RefusesWhatItCannotUseWithAReason)
{
    const struct {
        std::vector<std::string> arguments;
        const char *reason;
    } cases[] = {
        {{"--live", "--search-engine", "google"}, "unknown search engine 'google'"},
        {{"--live", "--search-engine", "brave"}, "brave needs an API key"},
        {{"--live", "--search-engine", "brave:"}, "brave needs an API key"},
        {{"--live", "--search-engine", "searxng:ftp://x"}, "searxng needs the instance's"},
        {{"--live", "--search-engine", "searxng:"}, "searxng needs the instance's"},
        {{"--live", "--search-engine", "marginalia:a key"}, "the search engine key holds a blank"},
        {{"--live", "--search-engine", "brave:k\r\nX-Evil: 1"}, "the search engine key holds a blank"},
        {{"--live", "--connect-to", "a.test:443:127.0.0.1"}, "--connect-to wants"},
        {{"--live", "--connect-to", "a.test:99999::1"}, "--connect-to wants"},
        {{"--live", "--listen", "8355"}, "--listen wants ADDR:PORT"},
        {{"--live", "--cache"}, "--cache needs a value"},
        {{"--live", "--facts"}, "--facts needs a value"},
        {{"--live", "--frobnicate"}, "unknown option '--frobnicate'"},
        {{"--live", "--live"}, "--live given twice"},
    };
    for (const auto &c : cases) {
        std::string error;
        EXPECT_FALSE(Parse(c.arguments, error)) << c.reason;
        EXPECT_EQ(error.rfind(c.reason, 0), 0u) << c.reason << " / " << error;
    }
}

TEST(ConnectTo, ParsesAndMatchesAsCurlDoes)
{
    const std::optional<ConnectToRule> any = ParseConnectTo("::127.0.0.1:8443");
    ASSERT_TRUE(any);
    EXPECT_TRUE(any->Matches("www.a.test", 443));
    EXPECT_TRUE(any->Matches("other.test", 80));
    EXPECT_EQ(any->toHost, "127.0.0.1");
    EXPECT_EQ(any->toPort, 8443);

    const std::optional<ConnectToRule> named = ParseConnectTo("WWW.A.test:443:[::1]:");
    ASSERT_TRUE(named);
    EXPECT_TRUE(named->Matches("www.a.TEST", 443));
    EXPECT_FALSE(named->Matches("www.a.test", 80));
    EXPECT_FALSE(named->Matches("a.test", 443));
    EXPECT_EQ(named->toHost, "[::1]");
    EXPECT_EQ(named->toPort, 0);

    const std::optional<ConnectToRule> ipv6 = ParseConnectTo("[::1]:80:127.0.0.1:81");
    ASSERT_TRUE(ipv6);
    EXPECT_TRUE(ipv6->Matches("[::1]", 80));

    for (const char *bad : {"", ":::", "a:b:c:d", "a:1:b", "a:1:b:2:3", "a:0:b:1", "[::1:80:b:1", "a:70000:b:1"})
        EXPECT_FALSE(ParseConnectTo(bad)) << bad;

    const std::vector<ConnectToRule> rules = {*named, *any};
    EXPECT_EQ(MatchConnectTo(rules, "www.a.test", 443), &rules[0]);   // the first match wins
    EXPECT_EQ(MatchConnectTo(rules, "www.b.test", 443), &rules[1]);
    EXPECT_EQ(MatchConnectTo({*named}, "www.b.test", 443), nullptr);
}

TEST(Addresses, OnlyPublicAddressesAreReached)
{
    const struct {
        const char *address;
        bool isPublic;
    } cases[] = {
        {"93.184.216.34", true},   {"8.8.8.8", true},        {"2606:4700::1111", true},
        {"127.0.0.1", false},      {"127.255.0.9", false},   {"10.1.2.3", false},
        {"172.16.0.1", false},     {"172.31.255.255", false}, {"172.32.0.1", true},
        {"192.168.1.1", false},    {"169.254.169.254", false}, {"100.64.0.1", false},
        {"0.0.0.0", false},        {"224.0.0.1", false},     {"255.255.255.255", false},
        {"::", false},             {"::1", false},           {"fe80::1", false},
        {"fc00::1", false},        {"fd12:3456::1", false},  {"ff02::1", false},
        {"fec0::1", false},        {"::ffff:127.0.0.1", false}, {"::ffff:10.0.0.1", false},
        {"::ffff:93.184.216.34", true}, {"64:ff9b::c0a8:101", false}, {"::127.0.0.1", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(AddressIsPublic(c.address), c.isPublic) << c.address;
        EXPECT_EQ(LiteralIsPublic(c.address), c.isPublic) << c.address;
    }
    EXPECT_EQ(LiteralIsPublic("[::1]"), false);
    EXPECT_EQ(LiteralIsPublic("www.example.org"), std::nullopt);
    EXPECT_FALSE(IsPublicAddress(nullptr));
}

TEST(Addresses, EverySpecialPurposeRangeIsRefusedAndCarriedIpv4IsJudgedAsIpv4)
{
    const struct {
        const char *address;
        bool isPublic;
    } cases[] = {
        // IPv4 registry entries that are not globally reachable, with the
        // first address past each edge.
        {"192.0.0.1", false},       {"192.0.0.255", false},     {"192.0.1.0", true},
        {"192.0.2.200", false},     {"198.51.100.7", false},    {"203.0.113.9", false},
        {"198.18.0.1", false},      {"198.19.255.255", false},  {"198.20.0.0", true},   {"198.17.255.255", true},
        {"192.88.99.1", false},     {"100.127.255.255", false}, {"100.128.0.0", true},  {"100.63.255.255", true},
        {"240.0.0.1", false},       {"239.255.255.255", false}, {"223.255.255.255", true},
        {"192.31.196.1", true},     {"192.175.48.1", true},     {"1.1.1.1", true},
        // IPv6: documentation, protocol assignments, discard, reserved,
        // segment routing.
        {"2001:db8::1", false},     {"2001:db8:ffff::1", false}, {"2001:db9::1", true},
        {"2001:2::1", false},       {"2001:10::1", false},      {"2001:1ff::1", false}, {"2001:200::1", true},
        {"3fff::1", false},         {"3fff:fff::1", false},     {"3fff:1000::1", true},
        {"100::1", false},          {"100:0:0:1::1", false},    {"5f00::1", false},    {"::8.8.8.8", false},
        {"2a00:1450::1", true},
        // NAT64: the well-known prefix carries an IPv4 address; the
        // local-use prefix is never public.
        {"64:ff9b::808:808", true}, {"64:ff9b::7f00:1", false}, {"64:ff9b::a00:1", false},
        {"64:ff9b:1::808:808", false}, {"64:ff9b:1:ffff::1", false},
        // 6to4 carries its IPv4 address in bits 16 to 47.
        {"2002:7f00:1::1", false},  {"2002:a00:1::1", false},   {"2002:c612:1::1", false},
        {"2002:808:808::1", true},
        // Teredo carries the client's IPv4 address inverted in the last 32
        // bits: 127.0.0.1, 10.0.0.1 and 8.8.8.8.
        {"2001:0:4136:e378:8000:63bf:80ff:fffe", false}, {"2001:0:4136:e378:8000:63bf:f5ff:fffe", false},
        {"2001:0:4136:e378:8000:63bf:f7f7:f7f7", true},
        // A mapped address is judged by the IPv4 ranges.
        {"::ffff:198.18.0.1", false}, {"::ffff:192.0.2.1", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(AddressIsPublic(c.address), c.isPublic) << c.address;
        EXPECT_EQ(LiteralIsPublic(c.address), c.isPublic) << c.address;
    }
}

TEST(Addresses, NumericHostSpellingsAreReadAsTheResolverReadsThem)
{
    const struct {
        const char *host;
        std::optional<std::uint32_t> address;
    } cases[] = {
        {"127.0.0.1", 0x7F000001},   {"127.1", 0x7F000001},         {"127.0.1", 0x7F000001},
        {"0x7f.0.0.1", 0x7F000001},  {"0X7F.1", 0x7F000001},        {"2130706433", 0x7F000001},
        {"0x7f000001", 0x7F000001},  {"0177.0.0.1", 0x7F000001},    {"017700000001", 0x7F000001},
        {"127.0.0.1.", 0x7F000001},  {"10.0x10203", 0x0A010203},    {"0", 0},
        {"4294967295", 0xFFFFFFFF},  {"4294967296", std::nullopt},  {"256.0.0.1", std::nullopt},
        {"1.2.3.4.5", std::nullopt}, {"08.0.0.1", std::nullopt},    {"0x.1", std::nullopt},
        {"1..1", std::nullopt},      {"", std::nullopt},            {"www.example.org", std::nullopt},
        {"127.0.0.1x", std::nullopt}, {"1.2.3.256", std::nullopt},  {"1.2.65536", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParseNumericIpv4(c.host), c.address) << c.host;

    for (const char *host : {"127.1", "0x7f.0.0.1", "2130706433", "0177.0.0.1", "10.0.0.1.", "1.2.3.999",
                             "www.example.999", "a.0x1f"})
        EXPECT_EQ(LiteralIsPublic(host), false) << host;
    EXPECT_EQ(LiteralIsPublic("0x08.0x08.0x08.0x08"), true);
    EXPECT_EQ(LiteralIsPublic("134744072"), true);   // 8.8.8.8

    for (const char *host : {"127.1", "8.8.8.8", "134744072", "[2001:db8::1]", "2606:4700::1111", "a.b.123"})
        EXPECT_TRUE(IsAddressLiteral(host)) << host;
    for (const char *host : {"www.example.org", "123.example", "0x7f.test", "www.site01.test", "localhost"})
        EXPECT_FALSE(IsAddressLiteral(host)) << host;
    // A rule does not make an address a name.
    const std::vector<ConnectToRule> rules = {*ParseConnectTo("::127.0.0.1:8443")};
    EXPECT_TRUE(MayContact("127.1", 443, rules));
    EXPECT_FALSE(MayContact("127.1", 443, {}));
    EXPECT_FALSE(MayContact("0x7f.0.0.1", 443, {}));
}

TEST(Addresses, SpecialUseNamesAreRefusedUnlessARuleNamesThem)
{
    for (const char *name : {"localhost", "a.localhost", "x.test", "x.invalid", "printer.local", "db.internal",
                             "example", "router.home.arpa", "x.onion", "LOCALHOST.", "Www.Site.TEST"})
        EXPECT_TRUE(IsSpecialUseName(name)) << name;
    for (const char *name : {"www.example.org", "testing.com", "local.com", "mytest", "example.com", "onion.org"})
        EXPECT_FALSE(IsSpecialUseName(name)) << name;

    const std::vector<ConnectToRule> rules = {*ParseConnectTo("www.a.test:443:127.0.0.1:8443")};
    EXPECT_TRUE(MayContact("www.a.test", 443, rules));
    EXPECT_FALSE(MayContact("www.a.test", 80, rules));
    EXPECT_FALSE(MayContact("10.0.0.1", 443, rules));
    EXPECT_TRUE(MayContact("93.184.216.34", 443, rules));
    EXPECT_TRUE(MayContact("www.example.org", 443, rules));
}

TEST(Robots, NamedGroupsWinAndTheLongestRuleDecides)
{
    const RobotsRules rules = RobotsRules::Parse(
        "# comment\n"
        "User-agent: *\n"
        "Disallow: /\n"
        "\n"
        "User-agent: Googlebot\n"
        "User-agent: Kelvora/1.0\n"
        "Disallow: /private   # trailing comment\n"
        "Allow: /private/open\n"
        "Disallow: /*.pdf$\n"
        "Disallow: /tmp*/cache\n"
        "Disallow:\n"
        "Sitemap: https://www.a.test/sitemap.xml\n");
    const struct {
        const char *target;
        bool allowed;
    } cases[] = {
        {"/", true},
        {"/about", true},
        {"/private", false},
        {"/private/x", false},
        {"/private/open", true},
        {"/private/open/deeper", true},
        {"/files/a.pdf", false},
        {"/files/a.pdf?x=1", true},
        {"/tmpfiles/cache/1", false},
        {"/tmp", true},
        {"/robots.txt", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(rules.Allows(c.target), c.allowed) << c.target;

    const RobotsRules others = RobotsRules::Parse("User-agent: *\r\nDisallow: /cgi-bin/\r\nAllow: /cgi-bin/ok\r\n");
    EXPECT_FALSE(others.Allows("/cgi-bin/run"));
    EXPECT_TRUE(others.Allows("/cgi-bin/ok"));
    EXPECT_TRUE(others.Allows("/index.html"));

    // A group naming us that forbids nothing frees us from the "*" group.
    EXPECT_TRUE(RobotsRules::Parse("User-agent: *\nDisallow: /\nUser-agent: kelvora\nDisallow:\n").Allows("/x"));
    EXPECT_TRUE(RobotsRules::Parse("").Allows("/anything"));
    EXPECT_FALSE(RobotsRules::DisallowAll().Allows("/a"));
    EXPECT_TRUE(RobotsRules::AllowAll().Allows("/a"));
}

TEST(Robots, ReadsRealFilesAsTheRfcAndTheOpenSourceMatcherDo)
{
    const struct {
        const char *what;
        const char *file;
        const char *target;
        bool allowed;
    } cases[] = {
        // A byte-order mark does not hide the first line.
        {"mark before a star group", "\xEF\xBB\xBFUser-agent: *\nDisallow: /private\n", "/private/x", false},
        {"mark before our group", "\xEF\xBB\xBFUser-agent: kelvora\nDisallow: /\n", "/a", false},
        {"mark alone", "\xEF\xBB\xBF", "/a", true},
        // Only a rule ends a run of user-agent lines.
        {"sitemap inside the agents", "User-agent: kelvora\nSitemap: https://a.test/s.xml\nUser-agent: other\n"
                                      "Disallow: /x\n", "/x", false},
        {"unknown key inside the agents", "User-agent: kelvora\nCrawl-delay: 5\nUser-agent: googlebot\n"
                                          "Disallow: /y\n", "/y", false},
        {"sitemap between rules", "User-agent: kelvora\nDisallow: /a\nSitemap: /s.xml\nDisallow: /b\n", "/b", false},
        {"a rule does end the run", "User-agent: kelvora\nDisallow: /a\nUser-agent: other\nDisallow: /b\n", "/b",
         true},
        // Patterns and paths are compared in one percent-encoded form.
        {"raw pattern, encoded path", "User-agent: *\nDisallow: /\xC3\xA1\n", "/%C3%A1", false},
        {"encoded pattern, raw path", "User-agent: *\nDisallow: /%C3%A1\n", "/\xC3\xA1/x", false},
        {"lower-case hex in the pattern", "User-agent: *\nDisallow: /%aa\n", "/%AA", false},
        {"lower-case hex in the path", "User-agent: *\nDisallow: /%AA\n", "/%aa", false},
        {"encoded unreserved letters", "User-agent: *\nDisallow: /foo/bar/%62%61%7A\n", "/foo/bar/baz", false},
        {"plain letters, encoded path", "User-agent: *\nDisallow: /baz\n", "/%62az", false},
        {"an encoded slash stays one", "User-agent: *\nDisallow: /a%2Fb\n", "/a/b", true},
        {"longest after encoding", "User-agent: *\nDisallow: /caf\nAllow: /caf\xC3\xA9\n", "/caf%c3%a9", true},
        {"encoded star is no wildcard", "User-agent: *\nDisallow: /a%2A\n", "/ab", true},
        // A forgotten colon, when key and value are one word each.
        {"agent and rule without colons", "user-agent kelvora\ndisallow /private\n", "/private", false},
        {"named group without colons", "User-agent: *\nDisallow: /\n\nuser-agent\tkelvora\nallow /\n", "/x", true},
        {"three words are no line", "user-agent kelvora extra\ndisallow /x\n", "/x", true},
        {"a value of two words is no rule", "User-agent: kelvora\ndisallow /x /y\n", "/x", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(RobotsRules::Parse(c.file).Allows(c.target), c.allowed) << c.what;

    EXPECT_EQ(NormalisePercentEncoding("/\xC3\xA1%aa%41%2f*$ b"), "/%C3%A1%AAA%2F*$%20b");
    EXPECT_EQ(NormalisePercentEncoding("100%"), "100%");   // a lone "%" stays as it is
}

TEST(LiveText, PlainTextOfEngineMarkup)
{
    const struct {
        const char *fragment;
        std::size_t limit;
        const char *text;
    } cases[] = {
        {"best <strong>garden</strong> tools", 100, "best garden tools"},
        {"  many \t\r\n blanks  ", 100, "many blanks"},
        {"Fish &amp; Chips &lt;b&gt; &quot;x&quot; &#39;y&#x27; a&nbsp;b &copy;", 100,
         "Fish & Chips <b> \"x\" 'y' a b &copy;"},
        {"cut <unclosed tag", 100, "cut"},
        {"abcdef", 3, "abc"},
        {"ab\xc3\xa9z", 3, "ab"},   // é is not split
        {"a\x01\x7f" "b", 100, "a b"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(PlainText(c.fragment, c.limit), c.text) << c.fragment;
}

TEST(LiveText, UrlsAndTheHostsResultsList)
{
    const std::optional<UrlParts> parts = SplitUrl("HTTPS://Www.Example.org:8443/a/b?c=d#frag");
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->scheme, "https");
    EXPECT_EQ(parts->host, "www.example.org");
    EXPECT_EQ(parts->port, 8443);
    EXPECT_EQ(parts->target, "/a/b?c=d");
    EXPECT_EQ(Origin(*parts), "https://www.example.org:8443");
    EXPECT_EQ(Origin(*SplitUrl("http://a.test")), "http://a.test");
    EXPECT_EQ(SplitUrl("http://a.test?q")->target, "/?q");
    EXPECT_EQ(SplitUrl("http://[::1]:81/")->host, "[::1]");

    const struct {
        const char *url;
        const char *host;   // nullptr: not listed
    } cases[] = {
        {"https://www.example.org/page", "www.example.org"},
        {"http://WWW.Example.ORG.:8080/", "www.example.org"},
        {" https://example.org ", "example.org"},
        {"https://93.184.216.34/", "93.184.216.34"},
        {"ftp://example.org/", nullptr},
        {"https://user:pw@example.org/", nullptr},
        {"https://[2001:db8::1]/", nullptr},
        {"https://localhost/", nullptr},
        {"https://ex ample.org/", nullptr},
        {"https://bücher.de/", "xn--bcher-kva.de"},
        {"https://BÜCHER.de./", "xn--bcher-kva.de"},
        {"https://faß.de/", "xn--fa-hia.de"},   // non-transitional: "ß" is kept, not made "ss"
        {"https://xn--bcher-kva.de/", "xn--bcher-kva.de"},
        {"https://☃.com/", nullptr},
        {"https://-bücher.de/", nullptr},
        {"https://b\xFF" "cher.de/", nullptr},
        {"https://example.org:99999/", nullptr},
        {"//example.org/", nullptr},
        {"", nullptr},
    };
    for (const auto &c : cases) {
        const std::optional<std::string> host = ResultHost(c.url);
        if (c.host == nullptr)
            EXPECT_FALSE(host) << c.url << " gave " << host.value_or("");
        else
            EXPECT_EQ(host.value_or("(none)"), c.host) << c.url;
    }
}
