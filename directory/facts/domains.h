#pragma once

#include <string>
#include <string_view>
#include <vector>

// Host names as the facts database keys them. Rankings spell a site with or
// without "www." and at host or domain level; every name is reduced to one
// key so that all spellings meet.
namespace kelvora::directory::facts {

// Lower-cased host without scheme, port, path, trailing dots and a leading
// "www." (kept when nothing with a dot would remain, so "www.com" stays);
// empty when the rest is not a plausible host name (IsStorableHost).
std::string FactsKey(std::string_view host);

// The registrable domain of a key by the public suffix list
// ("blog.example.co.uk" → "example.co.uk"); empty when the key is itself a
// public suffix or not a valid name.
std::string RegistrableDomain(std::string_view key);

// The names a look-up tries in turn: the key, then its registrable domain
// when that differs. Empty when host gives no key.
std::vector<std::string> LookupNames(std::string_view host);

// True when both hosts belong to the same registrable domain (or, where a
// host has none, are the same key).
bool SameRegistrableDomain(std::string_view first, std::string_view second);

} // namespace kelvora::directory::facts
