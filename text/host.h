#pragma once

#include <optional>
#include <string>
#include <string_view>

// Host names and the parts of web addresses. The client and the service
// reduce a spelling of a host in different ways on purpose: the client keeps
// the original program's text replacements (StripScheme, BareHost,
// CleanResultHost), while the service parses (HostName and the URL split).
// Where service callers differ, an option says how.
namespace kelvora {

// A result entry's display address to a host: lower-cased, tag pieces
// "</i", "</b", "</", "<", ">" removed in that order, cut before the first "/".
std::string CleanResultHost(std::string text);
// Lower-cased, every "http://" then every "https://" removed (anywhere).
std::string StripScheme(std::string text);
// StripScheme, then every "www." and then every "http://" removed once more.
std::string BareHost(std::string text);

// What HostName does with a leading "www.".
enum class WwwPrefix {
    Kept,
    Dropped,
    // Dropped only when a name with a dot remains, so "www.com" stays.
    DroppedWhileDotRemains,
};

// Host name as displayed: lower-cased, blanks around it removed, a leading
// "http://" or "https://" and everything from the first "/", "?", "#" or ":"
// on dropped, as are trailing dots; a leading "www." as www says.
// "HTTP://WWW.Example.org:80/x" gives "www.example.org".
std::string HostName(std::string_view text, WwwPrefix www = WwwPrefix::Kept);

// HostName without a leading "www.": "HTTP://WWW.Example.org/x" and
// "example.org" give the same key.
std::string HostKey(std::string_view text);

// host without the dots at its end ("example.org." names example.org).
std::string_view WithoutTrailingDots(std::string_view host);

// True when text is a plausible host name to store: 3 to 253 characters of
// a-z, 0-9, "-" and ".", with at least one "." and no empty label.
bool IsStorableHost(std::string_view host);

// Whether port 0 (any free port, when listening) is a valid port.
enum class PortZero { Refused, Allowed };
// A port written as one to five decimal digits, 1 to 65535 (or 0 when zero
// says so); nullopt for anything else, the empty text included.
std::optional<int> ParsePort(std::string_view digits, PortZero zero = PortZero::Refused);

// The parts of an absolute http:// or https:// URL.
struct UrlParts {
    std::string scheme;   // "http" or "https", lower case
    std::string host;     // lower case; an IPv6 address keeps its brackets
    int port = 0;         // the default port of the scheme when none is written
    std::string target;   // path and query, "/" at least; no fragment
};
// nullopt for any other scheme, an empty host, a user part, or a bad port.
std::optional<UrlParts> SplitUrl(std::string_view url);
// "scheme://host" plus ":port" when it is not the scheme's default.
std::string Origin(const UrlParts &parts);

} // namespace kelvora
