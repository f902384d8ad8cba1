#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Read-only access to a data set written by the importers. Safe to use from
// many threads at once: each query borrows a connection of its own.
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

class Store final {
public:
    // Opens path read-only and checks that it holds a data set; throws
    // SqliteError with a one-line reason otherwise.
    explicit Store(std::string path);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    std::optional<Site> FindSite(const std::string &key) const;
    std::int64_t SiteCount() const;
    // Keyword matches ranked by relevance, then popularity; offset 0-based.
    ListingPage SearchKeywords(const std::string &ftsQuery, std::int64_t offset,
                               std::int64_t limit) const;
    // Sites linking to key, most popular first. The total is the linked
    // site's popularity, as an engine's estimate would be (the number of
    // linking sites for a host outside the data set).
    ListingPage SearchBacklinks(const std::string &key, std::int64_t offset,
                                std::int64_t limit) const;
    std::vector<std::string> RelatedHosts(std::int64_t siteId) const;
    std::vector<std::string> OutboundHosts(std::int64_t siteId) const;

private:
    struct Session;
    class Lease;

    std::string m_path;
    mutable std::mutex m_mutex;
    mutable std::vector<std::unique_ptr<Session>> m_idle;
};

} // namespace kelvora::directory
