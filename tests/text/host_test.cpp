#include "text/host.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
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

// URLs and the connect-to rules refuse port 0; the service's listen address
// takes it as "any free port".
TEST(ParsePort, TakesOneToFiveDigitsUpTo65535AndZeroOnlyWhenAllowed)
{
    struct Case {
        std::string_view digits;
        std::optional<int> refused;
        std::optional<int> allowed;
    };
    const Case cases[] = {
        {"80", 80, 80},           {"1", 1, 1},
        {"65535", 65535, 65535},  {"00443", 443, 443},
        {"0", std::nullopt, 0},   {"00000", std::nullopt, 0},
        {"65536", std::nullopt, std::nullopt},
        {"000080", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"8a", std::nullopt, std::nullopt},
        {"-1", std::nullopt, std::nullopt},
        {" 80", std::nullopt, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.digits));
        EXPECT_EQ(ParsePort(c.digits), c.refused);
        EXPECT_EQ(ParsePort(c.digits, PortZero::Allowed), c.allowed);
    }
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
