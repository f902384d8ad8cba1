#include "directory/facts/url.h"

#include <vector>

#include "directory/core/query.h"
#include "text/host.h"
#include "text/text.h"

namespace kelvora::directory::facts {

namespace {

struct Parts {
    std::string scheme;     // "http" or "https"
    std::string authority;  // host[:port], lower case
    std::string path;       // begins with "/"
    std::string query;      // with its "?", or empty
};

bool IsSchemeChar(char c)
{
    return IsAsciiLetter(c) || IsDigit(c) || c == '+' || c == '-' || c == '.';
}

// Browsers drop tabs and line breaks anywhere in an address, and blanks
// and controls around it.
std::string Clean(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20)
        text.remove_suffix(1);
    std::string cleaned;
    cleaned.reserve(text.size());
    for (char c : text) {
        if (c == '\t' || c == '\n' || c == '\r')
            continue;
        cleaned += c == '\\' ? '/' : c;
    }
    return cleaned;
}

// "scheme:" at the start; empty when there is none.
std::string SchemeOf(std::string_view text)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return {};
    if (!IsAsciiLetter(text[0]))
        return {};
    std::string scheme;
    for (std::size_t i = 0; i < colon; ++i) {
        if (!IsSchemeChar(text[i]))
            return {};
        scheme += LowerAscii(text[i]);
    }
    return scheme;
}

// host[:port] from an authority (user info dropped), lower case; empty
// when the host is not a plausible name or the port not a number.
std::string CleanAuthority(std::string_view authority)
{
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::string_view port;
    const std::size_t colon = authority.find(':');
    if (colon != std::string_view::npos) {
        port = authority.substr(colon + 1);
        authority = authority.substr(0, colon);
    }
    const std::string host = LowerCase(std::string(WithoutTrailingDots(authority)));
    if (!IsStorableHost(host))
        return {};
    constexpr std::size_t kMaxPortDigits = 5;
    if (port.size() > kMaxPortDigits || port.find_first_not_of("0123456789") != std::string_view::npos)
        return {};
    return port.empty() ? host : host + ":" + std::string(port);
}

// Splits "//authority/path?query" (after the scheme) into parts.
bool SplitHierarchical(std::string_view rest, Parts &parts)
{
    if (rest.substr(0, 2) != "//")
        return false;
    rest.remove_prefix(2);
    const std::size_t end = rest.find_first_of("/?");
    parts.authority = CleanAuthority(rest.substr(0, end));
    if (parts.authority.empty())
        return false;
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    const std::size_t question = rest.find('?');
    parts.path = std::string(rest.substr(0, question));
    parts.query = question == std::string_view::npos ? std::string() : std::string(rest.substr(question));
    if (parts.path.empty())
        parts.path = "/";
    return true;
}

bool ParseAbsolute(std::string_view text, Parts &parts)
{
    parts.scheme = SchemeOf(text);
    if (parts.scheme != "http" && parts.scheme != "https")
        return false;
    return SplitHierarchical(text.substr(parts.scheme.size() + 1), parts);
}

std::string RemoveDotSegments(std::string_view path)
{
    std::vector<std::string_view> segments;
    std::size_t start = 1;   // after the leading "/"
    bool trailingSlash = false;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view segment = path.substr(start, end - start);
        const bool last = end == path.size();
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
            trailingSlash = true;
        } else if (segment == ".") {
            trailingSlash = true;
        } else {
            segments.push_back(segment);
            trailingSlash = false;
        }
        if (last)
            break;
        start = end + 1;
    }
    std::string result;
    for (const std::string_view segment : segments) {
        result += '/';
        result += segment;
    }
    if (trailingSlash || result.empty())
        result += '/';
    return result;
}

void AppendEncoded(std::string &out, std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f || c == '"' || c == '<' || c == '>' || c == '`' || c == '\'') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            out += c;
        }
    }
}

} // namespace

std::optional<std::string> ResolveUrl(std::string_view base, std::string_view reference)
{
    Parts parts;
    const std::string cleanBase = Clean(base);
    if (!ParseAbsolute(cleanBase, parts))
        return std::nullopt;
    std::string target = Clean(reference);
    const std::size_t hash = target.find('#');
    if (hash != std::string::npos)
        target.erase(hash);

    if (!SchemeOf(target).empty()) {
        if (!ParseAbsolute(target, parts))
            return std::nullopt;
    } else if (target.compare(0, 2, "//") == 0) {
        if (!SplitHierarchical(target, parts))
            return std::nullopt;
    } else if (!target.empty() && target[0] == '/') {
        const std::size_t question = target.find('?');
        parts.path = target.substr(0, question);
        parts.query = question == std::string::npos ? std::string() : target.substr(question);
    } else if (!target.empty() && target[0] == '?') {
        parts.query = target;
    } else if (!target.empty()) {
        const std::size_t question = target.find('?');
        parts.path = parts.path.substr(0, parts.path.rfind('/') + 1) + target.substr(0, question);
        parts.query = question == std::string::npos ? std::string() : target.substr(question);
    }

    std::string url = parts.scheme + "://" + parts.authority;
    AppendEncoded(url, RemoveDotSegments(parts.path));
    AppendEncoded(url, parts.query);
    if (url.size() > kMaxUrlLength)
        return std::nullopt;
    return url;
}

std::string UrlHost(std::string_view url)
{
    Parts parts;
    if (!ParseAbsolute(Clean(url), parts))
        return {};
    const std::size_t colon = parts.authority.find(':');
    return parts.authority.substr(0, colon);
}

std::string UrlPathAndQuery(std::string_view url)
{
    Parts parts;
    if (!ParseAbsolute(Clean(url), parts))
        return "/";
    return parts.path + parts.query;
}

} // namespace kelvora::directory::facts
