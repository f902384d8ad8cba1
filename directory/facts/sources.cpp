#include "directory/facts/sources.h"

#include "directory/facts/import_common.h"

namespace kelvora::directory::facts {

namespace {

using detail::Grouped;

constexpr std::string_view kCcDataHost = "https://data.commoncrawl.org/projects/hyperlinkgraph/";
constexpr std::size_t kMaxReleaseLength = 64;

std::string Lines(const ImportSummary &summary)
{
    return Grouped(summary.lines) + " lines (" + Grouped(summary.skipped) + " skipped)";
}

// A source of one file, read by Read.
template <ImportSummary (*Read)(const std::string &, FactsWriter &, const ImportOptions &)>
std::string ImportList(const ImportFiles &files, FactsWriter &writer, const ImportOptions &options)
{
    const ImportSummary summary = Read(files.files.at(0), writer, options);
    return "read " + Lines(summary) + ": " + Grouped(summary.kept) + " hosts";
}

std::string ImportGraph(const ImportFiles &files, FactsWriter &writer, const ImportOptions &options)
{
    const GraphSummary summary = ImportCcGraph(files.files.at(0), files.files.at(1), files.linksFor, writer, options);
    std::string report = "read " + Lines(summary.vertices) + " of vertices and " + Lines(summary.edges) +
                         " of edges: in-degree of " + Grouped(summary.vertices.kept) + " hosts";
    if (files.linksFor)
        report += ", linking domains of " + Grouped(summary.linkTargets) + " listed domains (" +
                  Grouped(summary.listSkipped) + " list lines skipped)";
    return report;
}

std::string TrancoAddress(std::string_view)
{
    return std::string(kTrancoUrl);
}

std::string MajesticAddress(std::string_view)
{
    return std::string(kMajesticUrl);
}

const FactsSource kSources[] = {
    {Source::Tranco, "tranco", "FILE", LinksFor::No, "a Tranco list (RANK,DOMAIN lines): traffic ranks",
     ImportList<ImportTranco>, TrancoAddress, {}, {}, ImportTranco, nullptr},
    {Source::Majestic, "majestic", "FILE", LinksFor::No, "the Majestic Million CSV: link popularity (RefSubNets)",
     ImportList<ImportMajestic>, MajesticAddress, {}, {}, ImportMajestic, nullptr},
    {Source::CcRanks, "cc-ranks", "FILE", LinksFor::No,
     "Common Crawl web-graph domain or host ranks: traffic ranks\n"
     "where Tranco has none (harmonic-centrality position)",
     ImportList<ImportCcRanks>, CcRanksUrl, "cc-main-2024-feb-apr-may", "web-graph release", ImportCcRanks,
     ImportCcRanks},
    {Source::CcInDegree, "cc-graph", "VERTICES EDGES", LinksFor::Taken,
     "the Common Crawl domain graph: link popularity where Majestic\n"
     "has none (linking domains); --links-for FILE keeps up to 100\n"
     "linking domains for each domain listed in FILE (one a line)",
     ImportGraph, nullptr, {}, {}, nullptr, nullptr},
};

} // namespace

std::string CcRanksUrl(std::string_view release)
{
    if (release.empty() || release.size() > kMaxReleaseLength || release.front() == '-')
        return {};
    for (char c : release) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
            return {};
    }
    const std::string name(release);
    return std::string(kCcDataHost) + name + "/domain/" + name + "-domain-ranks.txt.gz";
}

std::span<const FactsSource> FactsSources()
{
    return kSources;
}

const FactsSource *FindFactsSource(std::string_view name)
{
    for (const FactsSource &source : kSources) {
        if (source.name == name)
            return &source;
    }
    return nullptr;
}

bool FetchedByDefault(const FactsSource &source)
{
    return source.address != nullptr && source.releaseExample.empty();
}

std::string JoinedAsChoice(const std::vector<std::string> &names)
{
    std::string joined;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            joined += i + 1 == names.size() ? " or " : ", ";
        joined += names[i];
    }
    return joined;
}

std::string ImportSourceNames()
{
    std::vector<std::string> names;
    for (const FactsSource &source : kSources)
        names.emplace_back(source.name);
    return JoinedAsChoice(names);
}

std::string DefaultUpdateChoices()
{
    std::string choices;
    for (const FactsSource &source : kSources) {
        if (FetchedByDefault(source))
            choices += std::string(source.name) + "|";
    }
    return choices + "all";
}

} // namespace kelvora::directory::facts
