#pragma once

#include <chrono>
#include <optional>

#include "directory/live/cache.h"
#include "directory/live/fetch.h"

// Failures are remembered like answers, so that a site whose home page
// loops through redirects, or an address that refuses connections, is tried
// once per period rather than on every request about it. A fetch that got
// no answer is stored with status 0 and its reason as the body: no real
// answer has that status.
namespace kelvora::directory::live {

// No answer (no address, refused, TLS, time limit, redirects) and server
// errors: an hour; client errors: a day; a rate limit: its Retry-After.
constexpr std::chrono::seconds kNetworkFailureTimeToLive = std::chrono::hours(1);
constexpr std::chrono::seconds kServerErrorTimeToLive = std::chrono::hours(1);
constexpr std::chrono::seconds kClientErrorTimeToLive = std::chrono::hours(24);

// How long result is remembered as a failure; nullopt when it is no failure
// (an answer below 400) or nothing to remember (refused before any
// connection, forbidden by robots.txt, not known yet, offline).
std::optional<std::chrono::seconds> FailureTimeToLive(const FetchResult &result);

// What is stored for a failure, and what it reads back as.
CachedAnswer FailureRecord(const FetchResult &result);
bool IsNoAnswerRecord(const CachedAnswer &answer);
FetchResult NoAnswerFromRecord(const CachedAnswer &answer);

} // namespace kelvora::directory::live
