#include "directory/live/address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "directory/live/text.h"

namespace kelvora::directory::live {

namespace {

struct Ipv4Block {
    std::uint32_t network;
    int prefix;
};

constexpr std::array<Ipv4Block, 9> kNonPublicIpv4{{
    {0x00000000, 8},    // "this network", unspecified
    {0x0A000000, 8},    // private
    {0x64400000, 10},   // shared (carrier-grade NAT)
    {0x7F000000, 8},    // loopback
    {0xA9FE0000, 16},   // link-local
    {0xAC100000, 12},   // private
    {0xC0A80000, 16},   // private
    {0xE0000000, 4},    // multicast
    {0xF0000000, 4},    // reserved and broadcast
}};

constexpr std::array<std::string_view, 8> kSpecialUseSuffixes{
    "localhost", "test", "invalid", "example", "local", "internal", "onion", "home.arpa",
};

bool Ipv4IsPublic(std::uint32_t address)
{
    for (const Ipv4Block &block : kNonPublicIpv4) {
        const std::uint32_t mask = block.prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - block.prefix);
        if ((address & mask) == block.network)
            return false;
    }
    return true;
}

std::uint32_t Ipv4At(const std::uint8_t *bytes)
{
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

bool Ipv6IsPublic(const std::uint8_t *bytes)
{
    static constexpr std::uint8_t kZero[12] = {};
    static constexpr std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    static constexpr std::uint8_t kNat64[12] = {0, 0x64, 0xFF, 0x9B, 0, 0, 0, 0, 0, 0, 0, 0};
    // ::/96 holds the unspecified and loopback addresses and the old
    // IPv4-compatible form; all are judged by their last four bytes.
    if (std::memcmp(bytes, kZero, 12) == 0 || std::memcmp(bytes, kMapped, 12) == 0 ||
        std::memcmp(bytes, kNat64, 12) == 0)
        return Ipv4IsPublic(Ipv4At(bytes + 12));
    if (bytes[0] == 0xFF)
        return false;   // multicast
    if ((bytes[0] & 0xFE) == 0xFC)
        return false;   // unique-local fc00::/7
    if (bytes[0] == 0xFE && (bytes[1] & 0x80) == 0x80)
        return false;   // link-local fe80::/10 and site-local fec0::/10
    return true;
}

} // namespace

bool IsPublicAddress(const sockaddr *address)
{
    if (address == nullptr)
        return false;
    if (address->sa_family == AF_INET) {
        sockaddr_in ipv4;
        std::memcpy(&ipv4, address, sizeof ipv4);
        return Ipv4IsPublic(ntohl(ipv4.sin_addr.s_addr));
    }
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 ipv6;
        std::memcpy(&ipv6, address, sizeof ipv6);
        return Ipv6IsPublic(ipv6.sin6_addr.s6_addr);
    }
    return false;
}

std::optional<bool> LiteralIsPublic(std::string_view host)
{
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string text(host);
    in_addr ipv4{};
    if (inet_pton(AF_INET, text.c_str(), &ipv4) == 1)
        return Ipv4IsPublic(ntohl(ipv4.s_addr));
    in6_addr ipv6{};
    if (inet_pton(AF_INET6, text.c_str(), &ipv6) == 1)
        return Ipv6IsPublic(ipv6.s6_addr);
    return std::nullopt;
}

bool IsSpecialUseName(std::string_view host)
{
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
