#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "directory/core/query.h"

// The program's three kinds of request, parsed once by Route() and answered
// by a back-end (the local data set, or the live web):
//   /search?p=TEXT&n=N&b=B      a results page
//   /data/details/?url=HOST     a site's details page
//   GET / with Host: SITE       the site's home page
// Free of any HTTP library so that it can be exercised directly: a GET's
// path, raw query string (after "?") and Host line in, a status and a page
// out.
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

struct SearchRequest {
    std::string text;   // "p" decoded, at most kMaxSearchText bytes
    SearchText parsed;
    std::int64_t first = 1;   // "b": 1-based number of the first listing
    std::int64_t pageSize = kDefaultPageSize;   // "n"
};

struct DetailsRequest {
    std::string url;   // "url" decoded, as asked ("www." + host from the program)
    std::string key;   // its host key; empty when it names no host
};

// Called on the server's worker threads, several at once.
class Backend {
public:
    virtual ~Backend() = default;
    virtual Reply Search(const SearchRequest &request) = 0;
    virtual Reply Details(const DetailsRequest &request) = 0;
    // hostLine: the request's Host line as sent.
    virtual Reply Home(std::string_view hostLine) = 0;
};

// Parses one request and hands it to backend; 404 for any other path.
Reply Route(Backend &backend, std::string_view path, std::string_view query, std::string_view hostLine);

} // namespace kelvora::directory
