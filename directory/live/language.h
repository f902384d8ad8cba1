#pragma once

#include <string>
#include <string_view>

// The language the user reads, told to engines that sort or refuse by it:
// SearXNG's limiter turns away a request without Accept-Language.
namespace kelvora::directory::live {

constexpr std::string_view kFallbackLanguage = "en";

// An Accept-Language value for a POSIX locale name: "de_DE.UTF-8" gives
// "de-DE,de;q=0.9,en;q=0.5", "de" gives "de,en;q=0.5", "en_GB" gives
// "en-GB,en;q=0.9"; "C", "POSIX", an empty or unreadable name give "en".
std::string AcceptLanguageFor(std::string_view locale);

// The locale the C library takes messages from: the first set of LC_ALL,
// LC_MESSAGES and LANG; empty when none is.
std::string UserLocale();

} // namespace kelvora::directory::live
