#include "text/host.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace kelvora {
namespace {

// The service's three "www." rules, once separate copies, now options of one
// reduction: each row gives the input and what each rule makes of it.
TEST(HostName, EachWwwRuleReducesTheSameSpellings)
{
    struct Case {
        std::string_view text;
        std::string_view kept;
        std::string_view dropped;
        std::string_view whileDotRemains;
    };
    const Case cases[] = {
        {"HTTP://WWW.Example.org:80/x", "www.example.org", "example.org", "example.org"},
        {" https://www.example.org./path?q#f ", "www.example.org", "example.org", "example.org"},
        {"example.org", "example.org", "example.org", "example.org"},
        // Only a name with a dot after the prefix loses it under the third rule.
        {"www.com", "www.com", "com", "www.com"},
        {"WWW.", "www", "www", "www"},
        {"www.", "www", "www", "www"},
        {"www..", "www", "www", "www"},
        // The prefix is taken once and only at the start.
        {"www.www.example.org", "www.www.example.org", "www.example.org", "www.example.org"},
        {"sub.www.example.org", "sub.www.example.org", "sub.www.example.org", "sub.www.example.org"},
        // A scheme only counts at the start, after the blanks.
        {"ftp://www.example.org", "ftp", "ftp", "ftp"},
        {"", "", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(HostName(c.text), c.kept);
        EXPECT_EQ(HostName(c.text, WwwPrefix::Dropped), c.dropped);
        EXPECT_EQ(HostKey(c.text), c.dropped);
        EXPECT_EQ(HostName(c.text, WwwPrefix::DroppedWhileDotRemains), c.whileDotRemains);
    }
}

TEST(WithoutTrailingDots, RemovesEveryDotAtTheEndOnly)
{
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"example.org.", "example.org"}, {"example.org...", "example.org"}, {".example.org", ".example.org"},
        {"...", ""}, {"", ""}, {"a.b", "a.b"},
    };
    for (const auto &[host, expected] : cases)
        EXPECT_EQ(WithoutTrailingDots(host), expected) << host;
}

// The client's replacements and the service's parse differ on purpose: the
// client removes "www." and schemes anywhere, the service only at the start.
TEST(BareHost, KeepsTheClientsReplaceEverywhereRuleBesideTheServiceKey)
{
    EXPECT_EQ(BareHost("HTTP://WWW.Example.org"), "example.org");
    EXPECT_EQ(HostKey("HTTP://WWW.Example.org"), "example.org");
    EXPECT_EQ(BareHost("sub.www.example.org/x"), "sub.example.org/x");
    EXPECT_EQ(HostKey("sub.www.example.org/x"), "sub.www.example.org");
}

} // namespace
} // namespace kelvora
