#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "text/host.h"
#include "text/text.h"

// Text and address helpers of the live gateway. Pure functions over any
// bytes; no I/O.
namespace kelvora::directory::live {

// Text of an HTML fragment as an engine gives titles and snippets: tags
// removed, the common entities decoded, control bytes and runs of white space
// made one blank, trimmed, and cut to at most maxBytes without splitting a
// UTF-8 sequence.
std::string PlainText(std::string_view fragment, std::size_t maxBytes);

// The URL split lives in the text library's host module.
using kelvora::Origin;
using kelvora::SplitUrl;
using kelvora::UrlParts;

// The host a search result's URL names, as the results page lists it: an
// http or https URL's host, lower-cased, without port and trailing dot, and
// only when it is a plain host name (letters, digits, "-" and "." with at
// least one "."); an international name in its ASCII ("xn--") form.
// nullopt for anything else.
std::optional<std::string> ResultHost(std::string_view url);

} // namespace kelvora::directory::live
