#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/host.h"
#include "text/text.h"

// Pure text work of the directory service: reading request queries and
// turning user text into a full-text query. No I/O; every function accepts
// any bytes.
namespace kelvora::directory {

// Longest decoded search text taken from a request; the rest is ignored.
constexpr std::size_t kMaxSearchText = 1024;
// Most terms and phrases a keyword query may hold; later ones are ignored.
constexpr std::size_t kMaxQueryTerms = 16;

// Percent decoding and the host rules live in the text library; these
// names stay reachable from the service's namespace.
using kelvora::HostKey;
using kelvora::HostName;
using kelvora::IsStorableHost;
using kelvora::PercentDecode;
using kelvora::PlusSign;

// The decoded value of the first key=value pair of a raw query string (the
// part after "?") whose key equals key exactly; nullopt when there is none.
std::optional<std::string> QueryValue(std::string_view query, std::string_view key);

// What a search text asks for.
struct SearchText {
    enum class Kind { Keywords, Links };
    Kind kind = Kind::Keywords;
    std::string linkKey;    // Links: the host key whose backlinks are listed
    std::string ftsQuery;   // Keywords: FTS5 query, empty when nothing to search
};

// Text beginning with "link:" (any case) asks for the sites linking to the
// named host; anything else is a keyword query.
SearchText ParseSearchText(std::string_view decoded);

// Builds an FTS5 query in which no user byte can act as query syntax: every
// word and every double-quoted phrase becomes one quoted FTS5 string, and the
// strings are joined by blanks (all must match). Words without a letter or
// digit are dropped; an unterminated quote runs to the end. Empty result when
// no term is left.
std::string BuildFtsQuery(std::string_view text);

// A decimal count within [minimum, maximum]; fallback when text is not a
// plain unsigned decimal number, and maximum when it is larger.
std::int64_t ParseCount(std::string_view text, std::int64_t fallback, std::int64_t minimum,
                        std::int64_t maximum);

} // namespace kelvora::directory
