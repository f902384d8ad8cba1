#pragma once

#include <optional>
#include <string>
#include <string_view>

// International host names. Engines such as SearXNG give a result's host
// decoded ("bücher.example"); the program, the cache and libcurl want the
// ASCII form the DNS knows ("xn--bcher-kva.example").
namespace kelvora::directory::live {

// host in its ASCII form by UTS #46 (non-transitional, so "ß" stays a
// letter of its own), lower case: unchanged when it is ASCII already;
// nullopt when it holds bytes beyond ASCII that do not make a valid name.
std::optional<std::string> AsciiHostName(std::string_view host);

} // namespace kelvora::directory::live
