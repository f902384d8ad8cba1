#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "directory/core/site.h"

// Read-only access to a data set written by the importers. Safe to use from
// many threads at once: each query borrows a connection of its own.
namespace kelvora::directory {

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
