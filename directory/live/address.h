#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "directory/live/connect_to.h"

struct sockaddr;

// Which destinations the gateway may reach. It fetches whatever an engine
// lists, so without these checks a listed name resolving to 127.0.0.1 or
// 10.0.0.1 would let the web reach into this machine and its network. The
// functions are pure; callers decide where each applies.
namespace kelvora::directory::live {

// False for every range of the IANA IPv4 and IPv6 special-purpose address
// registries that is not globally reachable (loopback, private, shared,
// link-local, documentation, benchmarking, protocol assignments, discard,
// unique-local, ...) and for multicast, site-local and reserved space. An
// IPv4 address carried inside an IPv6 one (mapped, NAT64 well-known prefix,
// 6to4, Teredo) is judged as that IPv4 address. False for any family but
// AF_INET and AF_INET6.
bool IsPublicAddress(const sockaddr *address);

// The IPv4 address a host spelled in numbers stands for, read as
// inet_aton() and so the system's resolver read it: one to four parts,
// each decimal, octal (leading 0) or hexadecimal (0x), the last filling
// the remaining bytes ("127.1", "0x7f.0.0.1", "2130706433", "0177.0.0.1").
// A trailing dot is ignored. nullopt for anything else.
std::optional<std::uint32_t> ParseNumericIpv4(std::string_view host);

// Whether host is an address rather than a name: any IPv4 spelling above,
// an IPv6 literal (with or without brackets), or a name whose last label is
// a number (no resolver takes it as a name).
bool IsAddressLiteral(std::string_view host);

// For an IP literal in any spelling (IPv6 with or without brackets), whether
// it is public; nullopt when host is a name. A name ending in a numeric label
// that is no valid address counts as not public.
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
