#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "directory/live/connect_to.h"

struct sockaddr;

// Which destinations the gateway may reach. It fetches whatever an engine
// lists, so without these checks a listed name resolving to 127.0.0.1 or
// 10.0.0.1 would let the web reach into this machine and its network.
namespace kelvora::directory::live {

// False for loopback, private (10/8, 172.16/12, 192.168/16, 100.64/10),
// link-local, unique-local, site-local, multicast, unspecified and reserved
// (240/4, broadcast) addresses, IPv4 or IPv6; an IPv4 address embedded in an
// IPv6 one (mapped, compatible, NAT64) is judged as IPv4. False for any
// family but AF_INET and AF_INET6.
bool IsPublicAddress(const sockaddr *address);

// For an IP literal (IPv6 with or without brackets), whether it is public;
// nullopt when host is not an IP literal.
std::optional<bool> LiteralIsPublic(std::string_view host);

// Names that never reach the public DNS: localhost and *.localhost, and the
// special-use top-level names test, invalid, example, local, internal, onion
// and home.arpa. Looking them up could only reach a local resolver.
bool IsSpecialUseName(std::string_view host);

// Whether host (reached on port) may be contacted at all: a --connect-to
// rule for it allows anything, since the user chose where it goes;
// otherwise an IP literal must be public and a special-use name is refused
// before any lookup. Names passing here are still checked on the address
// actually connected to.
bool MayContact(std::string_view host, int port, const std::vector<ConnectToRule> &rules);

} // namespace kelvora::directory::live
