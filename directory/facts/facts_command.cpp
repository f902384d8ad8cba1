#include "directory/facts/facts_command.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>

#include "directory/core/program.h"
#include "directory/core/sqlite.h"
#include "directory/facts/facts_db.h"
#include "directory/facts/facts_status.h"
#include "directory/facts/import_common.h"
#include "directory/facts/importers.h"

namespace kelvora::directory::facts {

namespace {

using detail::Grouped;

constexpr const char *kPrefix = "kelvora-directory: facts: ";

constexpr const char *kUsage =
    "Usage: kelvora-directory facts import tranco FILE [--facts FACTS.db]\n"
    "       kelvora-directory facts import majestic FILE [--facts FACTS.db]\n"
    "       kelvora-directory facts import cc-ranks FILE [--facts FACTS.db]\n"
    "       kelvora-directory facts import cc-graph VERTICES EDGES [--facts FACTS.db]\n"
    "                                               [--links-for FILE]\n"
    "       kelvora-directory facts update [--facts FACTS.db] [--source tranco|majestic|all]\n"
    "                                      [--force] [--connect-to RULE]... [--ca-file FILE]\n"
    "       kelvora-directory facts update --source cc-ranks --release NAME [...]\n"
    "       kelvora-directory facts status [--facts FACTS.db] [--stale-after DAYS]\n"
    "\n"
    "Fills the site-facts database that live mode reads traffic ranks, link\n"
    "popularity and linking domains from. Each import replaces the facts of\n"
    "its source; files may be plain, .gz or .zip.\n"
    "\n"
    "  tranco    a Tranco list (RANK,DOMAIN lines): traffic ranks\n"
    "  majestic  the Majestic Million CSV: link popularity (RefSubNets)\n"
    "  cc-ranks  Common Crawl web-graph domain or host ranks: traffic ranks\n"
    "            where Tranco has none (harmonic-centrality position)\n"
    "  cc-graph  the Common Crawl domain graph: link popularity where Majestic\n"
    "            has none (linking domains); --links-for FILE keeps up to 100\n"
    "            linking domains for each domain listed in FILE (one a line)\n"
    "  update    downloads and imports the Tranco list and the Majestic Million\n"
    "            from their publishers (an unchanged list is not fetched again;\n"
    "            --force fetches it all the same); --source cc-ranks streams the\n"
    "            domain ranks of Common Crawl web-graph release NAME\n"
    "  status    rows, list date, last update and size of each source; with\n"
    "            --stale-after DAYS, exit code 3 and one line when Tranco or\n"
    "            Majestic is missing or older than DAYS days\n"
    "  --facts   the database (default\n"
    "            ${XDG_DATA_HOME:-~/.local/share}/kelvora/facts.db)\n";

struct Command {
    std::string kind;
    std::vector<std::string> files;
    std::string facts = DefaultFactsPath();
    std::optional<std::string> linksFor;
};

int Usage(std::ostream &err, const std::string &message)
{
    err << kPrefix << message << " (try: kelvora-directory facts --help)\n";
    return kExitUsage;
}

std::string Describe(const ImportSummary &summary)
{
    return Grouped(summary.lines) + " lines (" + Grouped(summary.skipped) + " skipped)";
}

// What a manual import records: the file read (the first one for the
// graph), its size, no list date and no validators.
ListRecord FileRecord(const std::string &file)
{
    ListRecord record;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(file, error);
    record.origin = error ? file : absolute.string();
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    record.bytes = error ? 0 : size;
    record.updated = RecordTime(std::chrono::system_clock::now());
    return record;
}

Source SourceOf(const std::string &kind)
{
    if (kind == "majestic")
        return Source::Majestic;
    if (kind == "cc-ranks")
        return Source::CcRanks;
    if (kind == "cc-graph")
        return Source::CcInDegree;
    return Source::Tranco;
}

int Run(const Command &command, std::ostream &out)
{
    ImportOptions options;
    options.progress = [&out](const std::string &line) { out << kPrefix << line << std::endl; };

    const std::filesystem::path parent = std::filesystem::path(command.facts).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent);
    FactsWriter writer(command.facts);
    options.beforeCommit = [&writer, &command](const ImportSummary &summary) {
        ListRecord record = FileRecord(command.files[0]);
        record.rows = summary.kept;
        writer.SetRecord(SourceOf(command.kind), record);
    };

    if (command.kind == "cc-graph") {
        const GraphSummary summary =
            ImportCcGraph(command.files[0], command.files[1], command.linksFor, writer, options);
        out << kPrefix << "cc-graph: read " << Describe(summary.vertices) << " of vertices and "
            << Describe(summary.edges) << " of edges: in-degree of " << Grouped(summary.vertices.kept)
            << " hosts";
        if (command.linksFor)
            out << ", linking domains of " << Grouped(summary.linkTargets) << " listed domains ("
                << Grouped(summary.listSkipped) << " list lines skipped)";
        out << " in " << command.facts << '\n';
        return 0;
    }
    ImportSummary summary;
    if (command.kind == "tranco")
        summary = ImportTranco(command.files[0], writer, options);
    else if (command.kind == "majestic")
        summary = ImportMajestic(command.files[0], writer, options);
    else
        summary = ImportCcRanks(command.files[0], writer, options);
    out << kPrefix << command.kind << ": read " << Describe(summary) << ": " << Grouped(summary.kept)
        << " hosts in " << command.facts << '\n';
    return 0;
}

} // namespace

int RunFactsCommand(const std::vector<std::string> &arguments, std::ostream &out, std::ostream &err)
{
    for (const std::string &argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            out << kUsage;
            return 0;
        }
    }
    if (!arguments.empty() && arguments[0] == "status")
        return RunFactsStatus({arguments.begin() + 1, arguments.end()}, out, err);
    if (arguments.size() < 2 || arguments[0] != "import")
        return Usage(err, "expected: facts import SOURCE FILE..., facts update or facts status");

    Command command;
    command.kind = arguments[1];
    const std::size_t wantedFiles = command.kind == "cc-graph" ? 2 : 1;
    if (command.kind != "tranco" && command.kind != "majestic" && command.kind != "cc-ranks" &&
        command.kind != "cc-graph")
        return Usage(err, "unknown source '" + command.kind + "'");
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "--facts" || (argument == "--links-for" && command.kind == "cc-graph")) {
            if (i + 1 >= arguments.size())
                return Usage(err, argument + " needs a value");
            if (argument == "--facts")
                command.facts = arguments[++i];
            else
                command.linksFor = arguments[++i];
        } else if (argument.rfind("--", 0) == 0 || command.files.size() == wantedFiles) {
            return Usage(err, "unexpected '" + argument + "'");
        } else {
            command.files.push_back(argument);
        }
    }
    if (command.files.size() != wantedFiles)
        return Usage(err, command.kind == "cc-graph" ? "cc-graph needs VERTICES and EDGES"
                                                     : command.kind + " needs FILE");
    try {
        return Run(command, out);
    } catch (const std::exception &error) {
        err << kPrefix << command.kind << ": " << error.what() << " (facts unchanged)\n";
        return kExitFailure;
    }
}

} // namespace kelvora::directory::facts
