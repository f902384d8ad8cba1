#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the pages show of a site and of a results list, whichever back-end
// found it.
namespace kelvora::directory {

struct Site {
    std::int64_t id = 0;
    std::string host;          // as displayed, e.g. www.example.org
    std::string key;           // host without "www."
    std::string title;
    std::string description;
    std::string keywords;
    std::string contact;       // lines separated by "\n"
    std::string onlineSince;   // empty when unknown
    std::int64_t popularity = 0;
    std::int64_t rank = 0;
};

struct Listing {
    std::string host;
    std::string title;
    std::string description;
};

struct ListingPage {
    std::int64_t total = 0;
    std::vector<Listing> items;
};

} // namespace kelvora::directory
