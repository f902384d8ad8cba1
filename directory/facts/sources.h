#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "directory/facts/facts_db.h"
#include "directory/facts/importers.h"
#include "directory/core/line_reader.h"

// The sources of "facts import" and "facts update": what each one reads and
// where its publisher keeps it. Adding a source takes a reader and one row
// of FactsSources(); the commands, their usage text, the import, the update
// and the status find it there.
namespace kelvora::directory::facts {

constexpr std::string_view kTrancoUrl = "https://tranco-list.eu/top-1m.csv.zip";
constexpr std::string_view kMajesticUrl = "https://downloads.majestic.com/majestic_million.csv";

// The domain-level ranks file of a Common Crawl web-graph release
// ("cc-main-2024-feb-apr-may"): https://data.commoncrawl.org/projects/
// hyperlinkgraph/RELEASE/domain/RELEASE-domain-ranks.txt.gz. Empty when
// release is not a plausible release name (lower-case letters, digits, "-").
std::string CcRanksUrl(std::string_view release);

// What one "facts import" was given.
struct ImportFiles {
    std::vector<std::string> files;        // one for each of the source's operands
    std::optional<std::string> linksFor;   // --links-for, for a source that takes it
};

enum class LinksFor { No, Taken };

struct FactsSource {
    Source source;
    std::string_view name;       // as the commands name it; SourceName(source)
    std::string_view operands;   // the files "facts import" wants: "FILE", "VERTICES EDGES"
    LinksFor linksFor;
    std::string_view help;       // the usage text's description; lines split by '\n'
    // Imports the files into writer and returns the report after "NAME: "
    // ("read 10 lines (0 skipped): 10 hosts").
    std::string (*import)(const ImportFiles &files, FactsWriter &writer, const ImportOptions &options);

    // For "facts update": the publisher's address, of the release named
    // where the source has releases; empty when release cannot be one.
    // nullptr: the source is not fetched.
    std::string (*address)(std::string_view release);
    // An example release name; empty when the address is fixed (such a
    // source is fetched by "--source all").
    std::string_view releaseExample;
    std::string_view releaseKind;   // "web-graph release", for the messages
    // How a fetched list is read: stored first and read whole (readFile), or
    // as it streams in (readStream, when set).
    ImportSummary (*readFile)(const std::string &file, FactsWriter &writer, const ImportOptions &options);
    ImportSummary (*readStream)(std::unique_ptr<ByteStream> stream, const std::string &name, FactsWriter &writer,
                                const ImportOptions &options);
};

// Every source, in the order the usage text and the status list them.
std::span<const FactsSource> FactsSources();
// The row of name; nullptr when there is none.
const FactsSource *FindFactsSource(std::string_view name);
// "facts update --source all" fetches these.
bool FetchedByDefault(const FactsSource &source);

// "a, b or c"
std::string JoinedAsChoice(const std::vector<std::string> &names);
// The names "facts import" takes: "tranco, majestic, cc-ranks or cc-graph".
std::string ImportSourceNames();
// The lists "--source all" stands for, then "all": "tranco|majestic|all".
std::string DefaultUpdateChoices();

} // namespace kelvora::directory::facts
