#pragma once

#include <string>
#include <string_view>
#include <vector>

// robots.txt as RFC 9309 reads it: the groups naming our product token (or,
// when none does, the "*" groups) give allow and disallow rules; the longest
// matching rule decides, allow winning a tie; "*" matches any run of bytes
// and a final "$" anchors the end. Only the first kMaxRobotsBytes are read.
namespace kelvora::directory::live {

constexpr std::size_t kMaxRobotsBytes = 500 * 1024;
constexpr std::string_view kRobotsToken = "kelvora";

class RobotsRules final {
public:
    // Rules that allow everything (no robots.txt, or a 4xx answer).
    static RobotsRules AllowAll();
    // Rules that forbid everything (robots.txt unreachable).
    static RobotsRules DisallowAll();
    static RobotsRules Parse(std::string_view text, std::string_view token = kRobotsToken);

    // target: path and query, beginning with "/".
    bool Allows(std::string_view target) const;

private:
    struct Rule {
        bool allow = false;
        std::string pattern;
    };
    std::vector<Rule> m_rules;
};

} // namespace kelvora::directory::live
