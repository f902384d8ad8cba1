#include "directory/live/robots.h"

#include "directory/live/text.h"
#include "text/text.h"

namespace kelvora::directory::live {

namespace {

// A user-agent line's product token: its leading letters, "_" and "-".
std::string ProductToken(std::string_view value)
{
    std::size_t end = 0;
    while (end < value.size()) {
        const char c = value[end];
        const bool tokenChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-' || c == '*';
        if (!tokenChar)
            break;
        ++end;
    }
    return LowerCase(std::string(value.substr(0, end)));
}

// Whether pattern ("*" for any run, a final "$" for the end) matches the
// start of target. Pieces between stars are matched leftmost, which is
// enough when "*" is the only wildcard.
bool PatternMatches(std::string_view pattern, std::string_view target)
{
    bool anchored = false;
    if (!pattern.empty() && pattern.back() == '$') {
        anchored = true;
        pattern.remove_suffix(1);
    }
    std::size_t position = 0;
    bool first = true;
    while (true) {
        const std::size_t star = pattern.find('*');
        const std::string_view piece = pattern.substr(0, star);
        const bool last = star == std::string_view::npos;
        if (first) {
            if (target.substr(0, piece.size()) != piece)
                return false;
            position = piece.size();
            first = false;
        } else if (last && anchored) {
            // The last piece must end the target; it may lie anywhere after.
            if (target.size() < position + piece.size())
                return false;
            return target.substr(target.size() - piece.size()) == piece;
        } else {
            const std::size_t found = target.find(piece, position);
            if (found == std::string_view::npos)
                return false;
            position = found + piece.size();
        }
        if (last)
            return !anchored || position == target.size();
        pattern.remove_prefix(star + 1);
    }
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsUnreserved(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

void AppendEncoded(std::string &out, unsigned char byte)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

// A line's key and value: "key: value", or, as the open-source matcher
// allows for a forgotten colon, exactly two words parted by blanks.
bool SplitRuleLine(std::string_view line, std::string_view &key, std::string_view &value)
{
    std::size_t separator = line.find(':');
    std::size_t valueStart = separator + 1;
    if (separator == std::string_view::npos) {
        separator = line.find_first_of(" \t");
        if (separator == std::string_view::npos)
            return false;
        valueStart = line.find_first_not_of(" \t", separator);
        if (valueStart == std::string_view::npos || line.find_first_of(" \t", valueStart) != std::string_view::npos)
            return false;
    }
    key = TrimLine(line.substr(0, separator));
    value = TrimLine(line.substr(valueStart));
    return true;
}

} // namespace

std::string NormalisePercentEncoding(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 && HexDigitValue(text[i + 2]) >= 0) {
            const auto decoded = static_cast<unsigned char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            if (IsUnreserved(decoded))
                out += static_cast<char>(decoded);
            else
                AppendEncoded(out, decoded);
            i += 2;
        } else if (byte >= 0x80 || byte < 0x21 || byte == 0x7F) {
            AppendEncoded(out, byte);
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

RobotsRules RobotsRules::AllowAll()
{
    return {};
}

RobotsRules RobotsRules::DisallowAll()
{
    RobotsRules rules;
    rules.m_rules.push_back({false, "/"});
    return rules;
}

RobotsRules RobotsRules::Parse(std::string_view text, std::string_view token)
{
    if (text.size() > kMaxRobotsBytes)
        text = text.substr(0, kMaxRobotsBytes);
    const std::string ownToken = LowerCase(std::string(token));

    std::vector<Rule> ours;
    std::vector<Rule> anyone;
    bool forUs = false;
    bool forAnyone = false;
    bool namedUs = false;
    bool inAgents = false;   // the last line was a user-agent line
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        text.remove_prefix(kByteOrderMark.size());
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        std::string_view rawKey;
        std::string_view value;
        if (!SplitRuleLine(TrimLine(line), rawKey, value))
            continue;
        const std::string key = LowerCase(std::string(rawKey));
        if (key == "user-agent") {
            if (!inAgents) {
                forUs = false;
                forAnyone = false;
            }
            inAgents = true;
            const std::string agent = ProductToken(value);
            forUs = forUs || agent == ownToken;
            namedUs = namedUs || agent == ownToken;
            forAnyone = forAnyone || agent == "*";
            continue;
        }
        // Only a rule ends a run of user-agent lines; a Sitemap line or an
        // unknown key between them leaves the group as it is.
        if (key != "allow" && key != "disallow")
            continue;
        inAgents = false;
        if (value.empty())
            continue;   // "Disallow:" with no path forbids nothing
        const Rule rule{key == "allow", NormalisePercentEncoding(value)};
        if (forUs)
            ours.push_back(rule);
        if (forAnyone)
            anyone.push_back(rule);
    }
    RobotsRules rules;
    // Groups naming us replace the "*" groups entirely, even when empty:
    // what a site says to us by name is all it says to us.
    rules.m_rules = namedUs ? std::move(ours) : std::move(anyone);
    return rules;
}

bool RobotsRules::Allows(std::string_view target) const
{
    if (target == "/robots.txt")
        return true;
    const std::string path = NormalisePercentEncoding(target);
    const Rule *best = nullptr;
    for (const Rule &rule : m_rules) {
        if (!PatternMatches(rule.pattern, path))
            continue;
        if (best == nullptr || rule.pattern.size() > best->pattern.size() ||
            (rule.pattern.size() == best->pattern.size() && rule.allow))
            best = &rule;
    }
    return best == nullptr || best->allow;
}

} // namespace kelvora::directory::live
