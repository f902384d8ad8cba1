#include "directory/live/text.h"

#include <algorithm>
#include <array>
#include <utility>

#include "directory/core/query.h"
#include "directory/live/idn.h"

namespace kelvora::directory::live {

namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;
constexpr int kMaxPort = 65535;

bool IsSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The entities engines put into titles and snippets; others stay as written.
constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kEntities{{
    {"&amp;", "&"},
    {"&lt;", "<"},
    {"&gt;", ">"},
    {"&quot;", "\""},
    {"&#39;", "'"},
    {"&#x27;", "'"},
    {"&apos;", "'"},
    {"&nbsp;", " "},
}};

// Cuts text to at most maxBytes, backing off to the start of a UTF-8
// sequence so that no character is split.
void CutUtf8(std::string &text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return;
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
}

} // namespace

std::string PlainText(std::string_view fragment, std::size_t maxBytes)
{
    std::string text;
    text.reserve(std::min(fragment.size(), maxBytes + 8));
    bool pendingSpace = false;
    auto append = [&](std::string_view piece) {
        if (pendingSpace && !text.empty())
            text += ' ';
        pendingSpace = false;
        text += piece;
    };
    std::size_t i = 0;
    // Work stops once the cut is certain, so a huge snippet costs little.
    while (i < fragment.size() && text.size() <= maxBytes) {
        const unsigned char c = static_cast<unsigned char>(fragment[i]);
        if (c == '<') {
            const std::size_t close = fragment.find('>', i);
            if (close == std::string_view::npos)
                break;   // an unclosed tag runs to the end
            // Engines mark matched words inside a word's letters too, so a
            // tag itself stands for nothing.
            i = close + 1;
            continue;
        }
        if (c == '&') {
            bool decoded = false;
            for (const auto &[entity, replacement] : kEntities) {
                if (StartsWithIgnoreCase(fragment.substr(i), entity)) {
                    if (replacement == " ")
                        pendingSpace = !text.empty();
                    else
                        append(replacement);
                    i += entity.size();
                    decoded = true;
                    break;
                }
            }
            if (decoded)
                continue;
        }
        if (IsSpace(c) || c < 0x20 || c == 0x7F) {
            pendingSpace = !text.empty();
            ++i;
            continue;
        }
        append(std::string_view(&fragment[i], 1));
        ++i;
    }
    CutUtf8(text, maxBytes);
    return text;
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
        if (port.size() > 5)
            return std::nullopt;
        int value = 0;
        for (char c : port) {
            if (c < '0' || c > '9')
                return std::nullopt;
            value = value * 10 + (c - '0');
        }
        if (value < 1 || value > kMaxPort)
            return std::nullopt;
        parts.port = value;
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

std::optional<std::string> ResultHost(std::string_view url)
{
    while (!url.empty() && IsSpace(static_cast<unsigned char>(url.front())))
        url.remove_prefix(1);
    while (!url.empty() && IsSpace(static_cast<unsigned char>(url.back())))
        url.remove_suffix(1);
    const std::optional<UrlParts> parts = SplitUrl(url);
    if (!parts)
        return std::nullopt;
    std::string host = parts->host;
    while (!host.empty() && host.back() == '.')
        host.pop_back();
    std::optional<std::string> ascii = AsciiHostName(host);
    if (!ascii || !IsStorableHost(*ascii))
        return std::nullopt;
    return ascii;
}

} // namespace kelvora::directory::live
