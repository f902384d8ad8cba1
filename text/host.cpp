#include "text/host.h"

#include <exception>

#include "text/text.h"

namespace kelvora {

namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;
constexpr int kMaxPort = 65535;
constexpr std::size_t kMaxPortDigits = 5;

} // namespace

// The three helpers below pass copies to each step, so that the text as far
// as it was processed survives when a step runs out of memory.
std::string CleanResultHost(std::string text)
{
    std::string t;
    try {
        t = LowerCase(std::move(text));
        for (const char *piece : {"</i", "</b", "</", "<", ">"})
            t = ReplaceAllIgnoreCase(t, piece, "");
    } catch (const std::exception &) {
        return t;
    }
    try {
        const std::size_t slash = Pos("/", t);
        if (slash > 0)
            t = Copy(t, 1, static_cast<long long>(slash) - 1);
    } catch (const std::exception &) {
    }
    return t;
}

std::string StripScheme(std::string text)
{
    std::string t;
    try {
        t = LowerCase(std::move(text));
        t = ReplaceAllIgnoreCase(t, "http://", "");
        t = ReplaceAllIgnoreCase(t, "https://", "");
    } catch (const std::exception &) {
    }
    return t;
}

std::string BareHost(std::string text)
{
    std::string t = StripScheme(std::move(text));
    try {
        t = ReplaceAllIgnoreCase(t, "www.", "");
        t = ReplaceAllIgnoreCase(t, "http://", "");
    } catch (const std::exception &) {
    }
    return t;
}

std::string HostName(std::string_view text, WwwPrefix www)
{
    text = TrimWhitespace(text);
    if (StartsWithIgnoreCase(text, "http://"))
        text.remove_prefix(7);
    else if (StartsWithIgnoreCase(text, "https://"))
        text.remove_prefix(8);
    const std::size_t end = text.find_first_of("/?#:");
    if (end != std::string_view::npos)
        text = text.substr(0, end);
    std::string name = LowerCase(std::string(WithoutTrailingDots(text)));
    if (www != WwwPrefix::Kept && name.compare(0, 4, "www.") == 0 &&
        (www == WwwPrefix::Dropped || name.find('.', 4) != std::string::npos))
        name.erase(0, 4);
    return name;
}

std::string HostKey(std::string_view text)
{
    return HostName(text, WwwPrefix::Dropped);
}

std::string_view WithoutTrailingDots(std::string_view host)
{
    while (!host.empty() && host.back() == '.')
        host.remove_suffix(1);
    return host;
}

bool IsStorableHost(std::string_view host)
{
    constexpr std::size_t kMinimumLength = 3;
    constexpr std::size_t kMaximumLength = 253;
    if (host.size() < kMinimumLength || host.size() > kMaximumLength)
        return false;
    if (host.front() == '.' || host.back() == '.' || host.find("..") != std::string_view::npos ||
        host.find('.') == std::string_view::npos)
        return false;
    for (char c : host) {
        if (!((c >= 'a' && c <= 'z') || IsDigit(c) || c == '-' || c == '.'))
            return false;
    }
    return true;
}

std::optional<int> ParsePort(std::string_view digits, PortZero zero)
{
    if (digits.empty() || digits.size() > kMaxPortDigits)
        return std::nullopt;
    int port = 0;
    for (char c : digits) {
        if (!IsDigit(c))
            return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port > kMaxPort || (port == 0 && zero == PortZero::Refused))
        return std::nullopt;
    return port;
}

std::optional<UrlParts> SplitUrl(std::string_view url)
{
    UrlParts parts;
    std::size_t rest;
    if (StartsWithIgnoreCase(url, "https://")) {
        parts.scheme = "https";
        parts.port = kHttpsPort;
        rest = 8;
    } else if (StartsWithIgnoreCase(url, "http://")) {
        parts.scheme = "http";
        parts.port = kHttpPort;
        rest = 7;
    } else {
        return std::nullopt;
    }
    std::size_t authorityEnd = url.find_first_of("/?#", rest);
    if (authorityEnd == std::string_view::npos)
        authorityEnd = url.size();
    const std::string_view authority = url.substr(rest, authorityEnd - rest);
    if (authority.empty() || authority.find('@') != std::string_view::npos)
        return std::nullopt;

    std::string_view host = authority;
    std::string_view port;
    if (authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = authority.substr(0, close + 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return std::nullopt;
            port = after.substr(1);
        }
    } else if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty())
        return std::nullopt;
    if (!port.empty()) {
        const std::optional<int> value = ParsePort(port);
        if (!value)
            return std::nullopt;
        parts.port = *value;
    }
    parts.host = LowerCase(std::string(host));

    std::string_view target = url.substr(authorityEnd);
    if (const std::size_t hash = target.find('#'); hash != std::string_view::npos)
        target = target.substr(0, hash);
    parts.target = target.empty() || target.front() != '/' ? "/" + std::string(target) : std::string(target);
    return parts;
}

std::string Origin(const UrlParts &parts)
{
    std::string origin = parts.scheme + "://" + parts.host;
    const int defaultPort = parts.scheme == "https" ? kHttpsPort : kHttpPort;
    if (parts.port != defaultPort)
        origin += ":" + std::to_string(parts.port);
    return origin;
}

} // namespace kelvora
