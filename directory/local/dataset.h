#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Writing a data set: what every importer produces and how the derived
// figures (link popularity, traffic rank, related sites) are computed.
namespace kelvora::directory {

class Connection;

// Throws SqliteError("not a directory data set") unless db holds a data set
// in this program's format.
void RequireDataSet(const Connection &db);

// Related sites kept per site.
constexpr std::size_t kRelatedPerSite = 5;
// Keywords shared by more sites than this say too little about similarity
// (a section such as "libs") and are left out of it, which also bounds the
// work to about this many candidates per keyword.
constexpr std::size_t kMaxKeywordSpread = 400;

struct SiteInput {
    std::string host;                    // any spelling; HostName() is stored
    std::string title;
    std::string description;
    std::string keywords;                // words separated by blanks, "," or ";"
    std::string contact;                 // lines separated by "\n"
    std::string onlineSince;             // empty when unknown
    std::vector<std::string> outbound;   // linked hosts in page order
    std::optional<std::int64_t> popularity;  // derived from the links when absent
    std::optional<std::int64_t> rank;        // derived from popularity when absent
};

struct WriteSummary {
    std::size_t sites = 0;
    std::size_t skipped = 0;   // invalid host names and duplicates of a host
    std::size_t links = 0;
};

// An import that found no site to write; the existing data set is left as it was.
class NoSitesError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Lower-cased keywords of a site, each once, in first-seen order.
std::vector<std::string> SplitKeywords(const std::string &keywords);

// The other sites scored for one site, and the best of them: the highest
// score first, ties to the more popular site, then the lower index.
class RelatedScorer final {
public:
    // Adds weight to other's score; other's popularity breaks ties.
    void Add(std::size_t other, double weight, std::int64_t popularity);
    // The best count indexes, best first; the scorer is then empty again.
    std::vector<std::size_t> TakeBest(std::size_t count);

private:
    struct Candidate {
        std::size_t index;
        double score;
        std::int64_t popularity;
    };
    std::vector<Candidate> m_candidates;
    std::unordered_map<std::size_t, std::size_t> m_slot;   // index → position in m_candidates
};

// For each site, the indexes of up to kRelatedPerSite other sites sharing
// the most informative keywords (rarer keywords weigh more), best first; ties
// go to the more popular site, then the lower index.
std::vector<std::vector<std::size_t>> ComputeRelated(
    const std::vector<std::vector<std::string>> &keywords,
    const std::vector<std::int64_t> &popularity);

// Writes a data set site by site without holding the sites in memory: they go
// into a new file beside path at once, and the derived figures are computed
// inside it. The file replaces any at path only once it is complete, so a
// failed or interrupted import leaves path as it was.
class DataSetWriter final {
public:
    // Starts path + ".tmp", first removing one an interrupted import left.
    DataSetWriter(std::string path, std::string source);
    ~DataSetWriter();   // removes the unfinished file
    DataSetWriter(const DataSetWriter &) = delete;
    DataSetWriter &operator=(const DataSetWriter &) = delete;

    // Sites with an invalid host, or a host already added, are counted and
    // skipped; the first one of a host wins.
    void Add(SiteInput site);
    // Derives popularity, rank and related sites and puts the file in place.
    // Throws NoSitesError when no site was kept, SqliteError or
    // std::runtime_error on failure; path is then untouched.
    WriteSummary Commit();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// A DataSetWriter fed with sites.
WriteSummary WriteDataSet(const std::string &path, std::vector<SiteInput> sites,
                          const std::string &source);

// Sets traffic ranks of an existing data set from a ranking that may be far
// larger than the data set: only ranks of hosts in it are kept (the best one
// when a host is offered twice), so memory stays bounded by the data set.
class RankUpdate final {
public:
    explicit RankUpdate(const std::string &path);   // loads the site keys
    ~RankUpdate();
    RankUpdate(const RankUpdate &) = delete;
    RankUpdate &operator=(const RankUpdate &) = delete;

    void Offer(std::string_view host, std::int64_t rank);   // any spelling of the host
    // Writes the kept ranks in one transaction; returns how many sites changed.
    std::size_t Commit();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace kelvora::directory
