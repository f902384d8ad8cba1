#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

// robots.txt as RFC 9309 reads it: the groups naming our product token (or,
// when none does, the "*" groups) give allow and disallow rules; the longest
// matching rule decides, allow winning a tie; "*" matches any run of bytes
// and a final "$" anchors the end. Only the first kMaxRobotsBytes are read.
// Read as the widely used open-source matcher reads real files: a leading
// byte-order mark is skipped, lines other than rules (Sitemap, unknown keys)
// neither end a group nor belong to one, and a line without a colon whose
// key and value are parted by blanks ("user-agent kelvora") counts. Patterns
// and paths are compared percent-encoded alike: bytes beyond ASCII, blanks
// and control bytes encoded,
// hex digits in upper case, unreserved characters decoded, so that "/á"
// matches "/%C3%A1" and "%aa" matches "%AA".
namespace kelvora::directory::live {

constexpr std::size_t kMaxRobotsBytes = 500 * 1024;
constexpr std::string_view kRobotsToken = "kelvora";
// RFC 9309 lets a crawler use a fetched robots.txt for a day at most.
constexpr std::chrono::seconds kRobotsTimeToLive = std::chrono::hours(24);

// The form patterns and paths are compared in (see above).
std::string NormalisePercentEncoding(std::string_view text);

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
