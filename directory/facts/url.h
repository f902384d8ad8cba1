#pragma once

#include <optional>
#include <string>
#include <string_view>

// Web addresses as pages write them, made absolute: what the contact
// extractor needs to name a form's target or a page to read next.
namespace kelvora::directory::facts {

// Longest address kept; longer ones are dropped rather than cut.
constexpr std::size_t kMaxUrlLength = 2048;

// reference resolved against base (an absolute http or https address), as
// a browser would: scheme-relative, absolute-path, query-only, fragment-only
// and relative references; "." and ".." segments removed; backslashes read
// as slashes; tabs and line breaks dropped; user info and the fragment
// dropped; scheme and host lower-cased; blanks, controls, quotes, "<", ">"
// and bytes of 0x80 and above percent-encoded. nullopt unless the result is
// an http or https address with a plausible host, or when it is too long.
std::optional<std::string> ResolveUrl(std::string_view base, std::string_view reference);

// The lower-case host of an absolute http or https address ("" otherwise).
std::string UrlHost(std::string_view url);

// The path and query of an absolute address ("/" when it has none).
std::string UrlPathAndQuery(std::string_view url);

} // namespace kelvora::directory::facts
