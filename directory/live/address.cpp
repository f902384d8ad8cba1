#include "directory/live/address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "directory/live/text.h"
#include "text/text.h"

namespace kelvora::directory::live {

namespace {

using Bytes = std::array<std::uint8_t, 16>;

// An IPv4 address is looked up as ::ffff:a.b.c.d, behind this many bits.
constexpr int kMappedPrefixBits = 96;

// What an address inside a range is: never public, or public exactly when
// the IPv4 address it carries is.
enum class Verdict { NotPublic, CarriesIpv4 };

struct Range {
    const char *network;   // IPv4 or IPv6 text
    int prefix;            // in bits of that family
    Verdict verdict = Verdict::NotPublic;
    int ipv4At = 0;             // CarriesIpv4: byte offset of the IPv4 address
    std::uint32_t ipv4Xor = 0;  // CarriesIpv4: Teredo stores it inverted
};

// Every range no connection may go to, after the IANA special-purpose
// address registries (entries marked not globally reachable) plus multicast,
// site-local and reserved space. The longest matching prefix decides, so the
// order does not matter. IPv4 ranges are looked up as IPv4-mapped addresses.
const Range kRanges[] = {
    // IPv4
    {"0.0.0.0", 8},          // this network
    {"10.0.0.0", 8},         // private
    {"100.64.0.0", 10},      // shared address space (carrier-grade NAT)
    {"127.0.0.0", 8},        // loopback
    {"169.254.0.0", 16},     // link-local
    {"172.16.0.0", 12},      // private
    {"192.0.0.0", 24},       // protocol assignments (its anycast pair serves no pages)
    {"192.0.2.0", 24},       // documentation (TEST-NET-1)
    {"192.88.99.0", 24},     // 6to4 relay anycast, deprecated
    {"192.168.0.0", 16},     // private
    {"198.18.0.0", 15},      // benchmarking
    {"198.51.100.0", 24},    // documentation (TEST-NET-2)
    {"203.0.113.0", 24},     // documentation (TEST-NET-3)
    {"224.0.0.0", 4},        // multicast
    {"240.0.0.0", 4},        // reserved, and the limited broadcast address
    // IPv6
    {"::", 8},               // reserved: unspecified, loopback, IPv4-compatible
    {"::ffff:0:0", 96, Verdict::CarriesIpv4, 12},   // IPv4-mapped
    {"64:ff9b::", 96, Verdict::CarriesIpv4, 12},    // NAT64, well-known prefix
    {"64:ff9b:1::", 48},     // NAT64, local use
    {"100::", 64},           // discard-only
    {"100:0:0:1::", 64},     // dummy prefix
    {"2001::", 23},          // IETF protocol assignments
    {"2001::", 32, Verdict::CarriesIpv4, 12, 0xFFFFFFFFu},   // Teredo: the client, inverted
    {"2001:db8::", 32},      // documentation
    {"2002::", 16, Verdict::CarriesIpv4, 2},        // 6to4
    {"3fff::", 20},          // documentation
    {"5f00::", 16},          // segment routing identifiers
    {"fc00::", 7},           // unique-local
    {"fe80::", 10},          // link-local
    {"fec0::", 10},          // site-local, deprecated
    {"ff00::", 8},           // multicast
};

struct ParsedRange {
    Bytes network{};
    int prefix = 0;   // of the 128 bits
    const Range *range = nullptr;
};

Bytes MappedIpv4(std::uint32_t address)
{
    Bytes bytes{};
    bytes[10] = 0xFF;
    bytes[11] = 0xFF;
    bytes[12] = static_cast<std::uint8_t>(address >> 24);
    bytes[13] = static_cast<std::uint8_t>(address >> 16);
    bytes[14] = static_cast<std::uint8_t>(address >> 8);
    bytes[15] = static_cast<std::uint8_t>(address);
    return bytes;
}

const std::vector<ParsedRange> &Ranges()
{
    static const std::vector<ParsedRange> parsed = [] {
        std::vector<ParsedRange> ranges;
        for (const Range &range : kRanges) {
            ParsedRange entry;
            entry.range = &range;
            in_addr ipv4{};
            if (inet_pton(AF_INET, range.network, &ipv4) == 1) {
                entry.network = MappedIpv4(ntohl(ipv4.s_addr));
                entry.prefix = kMappedPrefixBits + range.prefix;
            } else {
                inet_pton(AF_INET6, range.network, entry.network.data());
                entry.prefix = range.prefix;
            }
            ranges.push_back(entry);
        }
        return ranges;
    }();
    return parsed;
}

bool InRange(const Bytes &address, const ParsedRange &range)
{
    const int whole = range.prefix / 8;
    if (std::memcmp(address.data(), range.network.data(), static_cast<std::size_t>(whole)) != 0)
        return false;
    const int rest = range.prefix % 8;
    if (rest == 0)
        return true;
    const auto mask = static_cast<std::uint8_t>(0xFF << (8 - rest));
    return (address[static_cast<std::size_t>(whole)] & mask) == (range.network[static_cast<std::size_t>(whole)] & mask);
}

// carried: the address came out of another one, whose IPv4 address is not
// unwrapped a second time.
bool IsPublic(const Bytes &address, bool carried = false)
{
    const ParsedRange *best = nullptr;
    for (const ParsedRange &range : Ranges()) {
        if (InRange(address, range) && (best == nullptr || range.prefix > best->prefix))
            best = &range;
    }
    if (best == nullptr)
        return true;
    if (best->range->verdict == Verdict::NotPublic)
        return false;
    if (carried)
        return true;   // an IPv4-mapped address looked up for its IPv4 range
    const auto at = static_cast<std::size_t>(best->range->ipv4At);
    const std::uint32_t ipv4 = ((std::uint32_t{address[at]} << 24) | (std::uint32_t{address[at + 1]} << 16) |
                                (std::uint32_t{address[at + 2]} << 8) | std::uint32_t{address[at + 3]}) ^
                               best->range->ipv4Xor;
    return IsPublic(MappedIpv4(ipv4), true);
}

// One part of a numeric IPv4 spelling; nullopt when it is no number or
// passes limit.
std::optional<std::uint64_t> NumericPart(std::string_view part, std::uint64_t limit)
{
    int base = 10;
    if (part.size() >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
        base = 16;
        part.remove_prefix(2);
    } else if (part.size() >= 2 && part[0] == '0') {
        base = 8;
        part.remove_prefix(1);
    }
    if (part.empty())
        return base == 16 ? std::nullopt : std::optional<std::uint64_t>(0);
    std::uint64_t value = 0;
    for (const char c : part) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || digit >= base)
            return std::nullopt;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (value > limit)
            return std::nullopt;
    }
    return value;
}

std::string_view WithoutTrailingDot(std::string_view host)
{
    if (!host.empty() && host.back() == '.')
        host.remove_suffix(1);
    return host;
}

std::string_view WithoutBrackets(std::string_view host)
{
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return host;
}

std::optional<Bytes> ParseIpv6(std::string_view host)
{
    host = WithoutBrackets(host);
    if (host.find(':') == std::string_view::npos)
        return std::nullopt;
    const std::string text(host);
    Bytes bytes{};
    if (inet_pton(AF_INET6, text.c_str(), bytes.data()) != 1)
        return std::nullopt;
    return bytes;
}

// The last label is a number (digits, or 0x and hex digits): what no
// resolver takes for a name.
bool EndsInNumericLabel(std::string_view host)
{
    host = WithoutTrailingDot(host);
    const std::size_t dot = host.rfind('.');
    std::string_view label = dot == std::string_view::npos ? host : host.substr(dot + 1);
    if (label.empty())
        return false;
    if (label.size() >= 2 && label[0] == '0' && (label[1] == 'x' || label[1] == 'X')) {
        label.remove_prefix(2);
        return label.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
    }
    return label.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

bool IsPublicAddress(const sockaddr *address)
{
    if (address == nullptr)
        return false;
    if (address->sa_family == AF_INET) {
        sockaddr_in ipv4;
        std::memcpy(&ipv4, address, sizeof ipv4);
        return IsPublic(MappedIpv4(ntohl(ipv4.sin_addr.s_addr)));
    }
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 ipv6;
        std::memcpy(&ipv6, address, sizeof ipv6);
        Bytes bytes;
        std::memcpy(bytes.data(), ipv6.sin6_addr.s6_addr, bytes.size());
        return IsPublic(bytes);
    }
    return false;
}

std::optional<std::uint32_t> ParseNumericIpv4(std::string_view host)
{
    constexpr std::size_t kMaxParts = 4;
    host = WithoutTrailingDot(host);
    if (host.empty())
        return std::nullopt;
    std::string_view parts[kMaxParts];
    std::size_t count = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = host.find('.', start);
        if (count == kMaxParts)
            return std::nullopt;
        parts[count++] = host.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    std::uint32_t address = 0;
    for (std::size_t i = 0; i + 1 < count; ++i) {
        const std::optional<std::uint64_t> byte = NumericPart(parts[i], 0xFF);
        if (!byte || parts[i].empty())
            return std::nullopt;
        address |= static_cast<std::uint32_t>(*byte) << (24 - 8 * i);
    }
    // The last part fills every byte left.
    const int lastBits = 32 - 8 * static_cast<int>(count - 1);
    const std::uint64_t limit = lastBits == 32 ? 0xFFFFFFFFull : (std::uint64_t{1} << lastBits) - 1;
    const std::optional<std::uint64_t> last = NumericPart(parts[count - 1], limit);
    if (!last || parts[count - 1].empty())
        return std::nullopt;
    return address | static_cast<std::uint32_t>(*last);
}

bool IsAddressLiteral(std::string_view host)
{
    return ParseIpv6(host) || EndsInNumericLabel(host);
}

std::optional<bool> LiteralIsPublic(std::string_view host)
{
    if (const std::optional<Bytes> ipv6 = ParseIpv6(host))
        return IsPublic(*ipv6);
    if (const std::optional<std::uint32_t> ipv4 = ParseNumericIpv4(host))
        return IsPublic(MappedIpv4(*ipv4));
    if (EndsInNumericLabel(host))
        return false;   // a malformed address is no name either
    return std::nullopt;
}

bool IsSpecialUseName(std::string_view host)
{
    constexpr std::array<std::string_view, 8> kSpecialUseSuffixes{
        "localhost", "test", "invalid", "example", "local", "internal", "onion", "home.arpa",
    };
    std::string name = LowerCase(std::string(host));
    while (!name.empty() && name.back() == '.')
        name.pop_back();
    for (std::string_view suffix : kSpecialUseSuffixes) {
        if (name == suffix)
            return true;
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
            name[name.size() - suffix.size() - 1] == '.')
            return true;
    }
    return false;
}

bool MayContact(std::string_view host, int port, const std::vector<ConnectToRule> &rules)
{
    if (MatchConnectTo(rules, host, port) != nullptr)
        return true;
    if (const std::optional<bool> isPublic = LiteralIsPublic(host))
        return *isPublic;
    return !IsSpecialUseName(host);
}

} // namespace kelvora::directory::live
