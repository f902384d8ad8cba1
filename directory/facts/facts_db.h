#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The site-facts database: traffic ranks and link popularity imported from
// open rankings and the Common Crawl web graph, keyed by FactsKey(). The
// importers write it through FactsWriter; the gateway reads it through
// FactsStore while an import may be running (WAL: readers keep seeing the
// previous facts until the import commits).
namespace kelvora::directory::facts {

// Linking domains kept per domain named in an import's --links-for list.
constexpr std::size_t kMaxLinkingDomains = 100;

enum class Source {
    Tranco,       // rank
    Majestic,     // RefSubNets
    CcRanks,      // harmonic-centrality position
    CcInDegree,   // distinct linking domains in the domain graph
};

// ${XDG_DATA_HOME:-~/.local/share}/kelvora/facts.db
std::string DefaultFactsPath();

// "tranco", "majestic", "cc-ranks", "cc-graph": the names the commands use.
std::string_view SourceName(Source source);

// Where a source's facts came from, kept beside them and replaced in the
// same transaction, so that it always describes the facts stored.
struct ListRecord {
    std::string origin;          // the address or file read
    std::string listDate;        // YYYY-MM-DD the publisher dated it; empty when unknown
    std::string updated;         // YYYY-MM-DDTHH:MM:SSZ of the import
    std::uint64_t bytes = 0;     // size of the file as fetched or read
    std::uint64_t rows = 0;      // hosts stored
    std::string etag;            // the answer's validators, for a conditional update
    std::string lastModified;
};

// The records of the sources imported so far, in Source order; empty when
// path does not exist. Throws SqliteError for a file of another kind.
std::vector<std::pair<Source, ListRecord>> ReadListRecords(const std::string &path);

class FactsWriter final {
public:
    // Opens path, creating the file and its tables when missing; throws
    // SqliteError when path holds another kind of database.
    explicit FactsWriter(const std::string &path);
    ~FactsWriter();   // rolls back an open replacement
    FactsWriter(const FactsWriter &) = delete;
    FactsWriter &operator=(const FactsWriter &) = delete;

    // Starts replacing the facts of sources in one transaction: they are
    // deleted now, and the new ones become visible only with Commit().
    // CcInDegree also replaces the kept linking domains.
    void Begin(std::initializer_list<Source> sources);
    // Stores value for key; for a key offered twice (a host with and
    // without "www.") the better value stays: the lower rank or position,
    // the higher count.
    void Put(Source source, std::string_view key, std::int64_t value);
    // The linking domains of target, most popular first (at most
    // kMaxLinkingDomains are stored).
    void PutLinks(std::string_view target, const std::vector<std::string> &sources);
    // Records what was imported (shown by nothing but kept for the record)
    // and commits.
    void Commit(std::string_view note);
    void Rollback();

    // The record of source; replaced within the open replacement.
    void SetRecord(Source source, const ListRecord &record);
    std::optional<ListRecord> Record(Source source);

    // Keys now stored for source (inside or outside a replacement).
    std::size_t Count(Source source);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Read access for the gateway, safe from many threads at once: each look-up
// borrows a connection of its own. A database that does not exist yet reads
// as empty (every figure unknown) until an import creates it.
class FactsStore final {
public:
    // Throws SqliteError when path exists but is not a facts database.
    explicit FactsStore(std::string path);
    ~FactsStore();
    FactsStore(const FactsStore &) = delete;
    FactsStore &operator=(const FactsStore &) = delete;

    // Tranco rank; else the Common Crawl harmonic-centrality position; else
    // unknown. Each source is asked for the host's key, then for its
    // registrable domain, before the next source is tried: a site's own
    // traffic figure comes first, a better-covered source's domain figure
    // before a weaker source's host figure.
    std::optional<std::int64_t> TrafficRank(std::string_view host) const;
    // Majestic RefSubNets; else the domain graph in-degree; else 0. Same
    // order of names as TrafficRank.
    std::int64_t LinkPopularity(std::string_view host) const;
    // Linking domains kept for the host's key or registrable domain, most
    // popular first; empty when none were imported.
    std::vector<std::string> LinkingDomains(std::string_view host) const;

private:
    struct Session;
    class Lease;

    std::optional<std::int64_t> Find(Source source, const std::vector<std::string> &names) const;

    std::string m_path;
    mutable std::mutex m_mutex;
    mutable std::vector<std::unique_ptr<Session>> m_idle;
};

} // namespace kelvora::directory::facts
