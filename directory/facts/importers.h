#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "directory/core/line_reader.h"
#include "directory/facts/facts_db.h"

// Streaming importers of the open rankings and the Common Crawl domain graph
// into the facts database. Each reads its files once (the graph: the few
// passes stated below), replaces its source's facts in one transaction and
// leaves them untouched when it fails (ImportError for a damaged, cut-short
// or unreadable file, SqliteError for the database). Files may be plain, .gz
// or .zip (LineReader). Every host of a file is kept, keyed by FactsKey();
// a host listed twice keeps its better figure.
namespace kelvora::directory::facts {

// Progress lines come at least this often during a long import.
constexpr auto kProgressInterval = std::chrono::seconds(5);
// Largest rank, position or count believed; larger numbers are taken as
// this value.
constexpr std::int64_t kMaxFactValue = 1'000'000'000'000;
// Domains a --links-for list may name; later lines are skipped.
constexpr std::size_t kMaxLinkTargets = 100'000;

struct ImportSummary {
    std::uint64_t lines = 0;     // lines read, a header included
    std::uint64_t skipped = 0;   // malformed, too long, or no usable host name
    std::size_t kept = 0;        // distinct hosts stored
};
struct ImportOptions {
    std::chrono::milliseconds progressInterval = kProgressInterval;
    // Receives each progress line (without a line end); none when unset.
    std::function<void(const std::string &)> progress;
    // Called inside the replacement once every line is stored, before it
    // commits: what it writes (a ListRecord) commits or rolls back with the
    // facts. Throwing fails the import.
    std::function<void(const ImportSummary &)> beforeCommit;
};


// A Tranco list: "RANK,DOMAIN" per line, no header.
ImportSummary ImportTranco(const std::string &file, FactsWriter &writer, const ImportOptions &options = {});

// The Majestic Million CSV: a header row naming its columns, of which Domain
// and RefSubNets are used (in any position and letter case). A file without
// them is refused.
ImportSummary ImportMajestic(const std::string &file, FactsWriter &writer, const ImportOptions &options = {});

// Common Crawl web-graph domain or host ranks: tab-separated, host names
// reversed ("com.example.www"), the harmonic-centrality position taken as
// the rank. The "#harmonicc_pos ... #host_rev" header, when present, tells
// the columns; without it they are the first and the fifth.
ImportSummary ImportCcRanks(const std::string &file, FactsWriter &writer, const ImportOptions &options = {});
// The same from a stream (plain or gzip) as it arrives, named name in the
// messages: a download need not be stored first.
ImportSummary ImportCcRanks(std::unique_ptr<ByteStream> stream, const std::string &name, FactsWriter &writer,
                            const ImportOptions &options = {});

struct GraphSummary {
    ImportSummary vertices;        // kept: hosts given an in-degree
    ImportSummary edges;           // kept: edges counted
    std::size_t linkTargets = 0;   // --links-for domains given linking names
    std::uint64_t listSkipped = 0; // --links-for lines without a usable name
};

// The Common Crawl domain (or host) graph: VERTICES has "ID<TAB>REVERSED
// NAME[<TAB>...]" lines with the IDs 0 to N-1, EDGES "FROM<TAB>TO" lines,
// sorted as the Common Crawl ships them (so a repeated edge is adjacent and
// counted once). Each name's in-degree (distinct linking names, a name's
// links to itself left out) is counted in one pass over the edges in an
// array of one counter per vertex. With linksFor (a file with one domain per
// line), a second pass keeps for each listed domain found in the graph up to
// kMaxLinkingDomains linking names, those with the highest in-degree first.
// VERTICES is read twice (IDs, then names).
GraphSummary ImportCcGraph(const std::string &vertices, const std::string &edges,
                           const std::optional<std::string> &linksFor, FactsWriter &writer,
                           const ImportOptions &options = {});

} // namespace kelvora::directory::facts
