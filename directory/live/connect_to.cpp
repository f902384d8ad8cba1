#include "directory/live/connect_to.h"

#include "directory/live/text.h"
#include "text/host.h"

namespace kelvora::directory::live {

namespace {

// One host field: a bracketed IPv6 address or text up to the next ":".
// Advances position past the field and its ":" separator when there is one.
std::optional<std::string> TakeHost(std::string_view text, std::size_t &position)
{
    std::size_t end;
    std::string host;
    if (position < text.size() && text[position] == '[') {
        const std::size_t close = text.find(']', position);
        if (close == std::string_view::npos)
            return std::nullopt;
        host = std::string(text.substr(position, close + 1 - position));
        end = close + 1;
        if (end < text.size() && text[end] != ':')
            return std::nullopt;
    } else {
        end = text.find(':', position);
        if (end == std::string_view::npos)
            end = text.size();
        host = std::string(text.substr(position, end - position));
    }
    position = end < text.size() ? end + 1 : end;
    return host;
}

// A port field: empty (0) or 1 to 65535.
std::optional<int> TakePort(std::string_view text, std::size_t &position, bool last)
{
    std::size_t end = last ? text.size() : text.find(':', position);
    if (end == std::string_view::npos)
        return std::nullopt;
    const std::string_view digits = text.substr(position, end - position);
    position = last ? end : end + 1;
    if (digits.empty())
        return 0;
    return ParsePort(digits);
}

} // namespace

bool ConnectToRule::Matches(std::string_view host, int port) const
{
    if (fromPort != 0 && fromPort != port)
        return false;
    return fromHost.empty() || fromHost == LowerCase(std::string(host));
}

std::optional<ConnectToRule> ParseConnectTo(std::string_view text)
{
    ConnectToRule rule;
    std::size_t position = 0;
    const std::optional<std::string> fromHost = TakeHost(text, position);
    if (!fromHost || position >= text.size())
        return std::nullopt;
    const std::optional<int> fromPort = TakePort(text, position, false);
    if (!fromPort)
        return std::nullopt;
    const std::optional<std::string> toHost = TakeHost(text, position);
    if (!toHost || position > text.size())
        return std::nullopt;
    // The separator before the last field must have been there.
    if (position == 0 || text[position - 1] != ':')
        return std::nullopt;
    const std::optional<int> toPort = TakePort(text, position, true);
    // A rule sending a connection nowhere else is a typing error.
    if (!toPort || (toHost->empty() && *toPort == 0))
        return std::nullopt;
    rule.fromHost = LowerCase(*fromHost);
    rule.fromPort = *fromPort;
    rule.toHost = *toHost;
    rule.toPort = *toPort;
    rule.text = std::string(text);
    return rule;
}

const ConnectToRule *MatchConnectTo(const std::vector<ConnectToRule> &rules, std::string_view host,
                                    int port)
{
    for (const ConnectToRule &rule : rules) {
        if (rule.Matches(host, port))
            return &rule;
    }
    return nullptr;
}

} // namespace kelvora::directory::live
