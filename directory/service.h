#pragma once

#include <string>
#include <string_view>

#include "directory/store.h"

// Request routing of the directory, free of any HTTP library so that it can
// be exercised directly: a GET's path, raw query string (after "?") and Host
// line in, a status and an HTML page out.
namespace kelvora::directory {

constexpr std::int64_t kDefaultPageSize = 10;
constexpr std::int64_t kMaxPageSize = 100;
// Highest 1-based first result accepted; larger values are clamped.
constexpr std::int64_t kMaxFirstResult = 1'000'000'000;

struct Reply {
    int status = 200;
    std::string body;
    std::string contentType{};   // empty: an HTML page
};

Reply Respond(const Store &store, std::string_view path, std::string_view query,
              std::string_view hostLine);

} // namespace kelvora::directory
