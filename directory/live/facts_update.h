#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "directory/facts/sources.h"

// "facts update": fetches the lists of FactsSources() from their
// publishers and imports them, through the live gateway's libcurl code (the
// same --connect-to rules and extra CA, the proxy variables honoured).
//   facts update [--facts F] [--source tranco|majestic|all] [--force]
//                [--connect-to HOST1:PORT1:HOST2:PORT2]... [--ca-file FILE]
//   facts update --source cc-ranks --release NAME [the options above]
// A list is downloaded to a temporary file beside the database and imported
// from there, so a cut-short or damaged download changes nothing; the
// Common Crawl ranks (gigabytes) are imported as they stream in, within the
// import's one transaction. A list fetched before is asked for with
// If-None-Match / If-Modified-Since and left alone when unchanged.
namespace kelvora::directory::facts {

// Progress lines come at least this often while bytes arrive.
constexpr auto kUpdateProgressInterval = std::chrono::seconds(2);
// A list larger than this is not one of the lists asked for.
constexpr std::uint64_t kMaxListBytes = 1ULL << 30;
// A publisher answering 429 or 503 with a Retry-After up to this long is
// asked once more after that wait; a longer wait fails the update.
constexpr std::chrono::seconds kLongestRetryWait{60};

// "12.3 MB of 80.0 MB, 4.1 MB/s, 16 s left" (total 0: unknown, and no time
// left is given).
std::string ProgressText(std::uint64_t bytes, std::uint64_t total, std::chrono::duration<double> elapsed);

// "YYYY-MM-DD" of an HTTP date ("Wed, 09 Dec 2026 21:40:00 GMT"); empty when
// it is none.
std::string HttpDateDay(std::string_view httpDate);

// The wait a Retry-After value asks for (delta-seconds or an HTTP date,
// taken from now); nullopt when it is neither.
std::optional<std::chrono::seconds> RetryAfterDelay(std::string_view value, std::chrono::system_clock::time_point now);

// arguments are those after "update". Progress and results go to out,
// failures to err, one line each. Returns 0 when every list asked for is
// current (imported or unchanged), 1 when one failed (its facts are then
// unchanged), 2 for a usage error.
int RunFactsUpdate(const std::vector<std::string> &arguments, std::ostream &out, std::ostream &err);

} // namespace kelvora::directory::facts
