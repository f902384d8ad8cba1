#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "web/text.h"

// Text and address helpers of the live gateway. Pure functions over any
// bytes; no I/O.
namespace kelvora::directory::live {

// Text of an HTML fragment as an engine gives titles and snippets: tags
// removed, the common entities decoded, control bytes and runs of white space
// made one blank, trimmed, and cut to at most maxBytes without splitting a
// UTF-8 sequence.
std::string PlainText(std::string_view fragment, std::size_t maxBytes);

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

// The host a search result's URL names, as the results page lists it: an
// http or https URL's host, lower-cased, without port and trailing dot, and
// only when it is a plain host name (letters, digits, "-" and "." with at
// least one "."); an international name in its ASCII ("xn--") form.
// nullopt for anything else.
std::optional<std::string> ResultHost(std::string_view url);

} // namespace kelvora::directory::live
