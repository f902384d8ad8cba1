#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "directory/facts/domains.h"
#include "directory/facts/import_common.h"
#include "directory/facts/importers.h"
#include "directory/local/rank_import.h"

namespace kelvora::directory::facts {

using detail::Field;
using detail::ParseValue;
using detail::ProgressMeter;

namespace {

using VertexId = std::uint32_t;
// IDs at or above this are not believed (the counter array would not fit).
constexpr std::int64_t kMaxVertexId = std::numeric_limits<VertexId>::max() - 1;

struct Vertex {
    VertexId id = 0;
    std::string key;
};

// "ID<TAB>REVERSED NAME[<TAB>...]"; false for anything else.
bool ParseVertex(std::string_view line, Vertex &vertex)
{
    std::string_view id;
    std::string_view reversed;
    if (!Field(line, '\t', 0, id) || !Field(line, '\t', 1, reversed))
        return false;
    const std::int64_t value = ParseValue(id, 0);
    if (value < 0 || value > kMaxVertexId)
        return false;
    vertex.id = static_cast<VertexId>(value);
    vertex.key = FactsKey(UnreverseHost(reversed));
    return !vertex.key.empty();
}

bool ParseEdge(std::string_view line, VertexId limit, VertexId &from, VertexId &to)
{
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos)
        return false;
    const std::int64_t first = ParseValue(line.substr(0, tab), 0);
    const std::int64_t second = ParseValue(line.substr(tab + 1), 0);
    if (first < 0 || second < 0 || first >= limit || second >= limit)
        return false;
    from = static_cast<VertexId>(first);
    to = static_cast<VertexId>(second);
    return true;
}

// The domains of the --links-for list, each under its key and its
// registrable domain, so that "blog.example.org" finds "example.org" in a
// domain graph. Maps a name to the index of its list entry.
std::unordered_map<std::string, std::size_t> ReadLinkTargets(const std::string &file, std::uint64_t &skipped)
{
    std::unordered_map<std::string, std::size_t> targets;
    LineReader reader(file);
    std::string_view line;
    bool tooLong = false;
    std::size_t entries = 0;
    while (reader.Next(line, tooLong)) {
        const std::vector<std::string> names = tooLong ? std::vector<std::string>() : LookupNames(line);
        if (names.empty() || entries >= kMaxLinkTargets) {
            ++skipped;
            continue;
        }
        for (const std::string &name : names)
            targets.emplace(name, entries);
        ++entries;
    }
    return targets;
}

// Linking vertices of one target: a heap holding the kMaxLinkingDomains most
// popular seen so far, the least popular on top.
struct LinkHeap {
    std::string targetKey;
    std::vector<std::pair<std::uint32_t, VertexId>> entries;   // (in-degree, id)
};

// Orders heap entries so that the least popular (then the highest ID) is on
// top of a std heap.
bool MorePopular(const std::pair<std::uint32_t, VertexId> &a, const std::pair<std::uint32_t, VertexId> &b)
{
    return a.first != b.first ? a.first > b.first : a.second < b.second;
}

} // namespace

GraphSummary ImportCcGraph(const std::string &vertices, const std::string &edges,
                           const std::optional<std::string> &linksFor, FactsWriter &writer,
                           const ImportOptions &options)
{
    GraphSummary summary;
    std::unordered_map<std::string, std::size_t> targetNames;
    if (linksFor)
        targetNames = ReadLinkTargets(*linksFor, summary.listSkipped);

    // Pass 1 over the vertices: how many there are, and which are targets.
    std::uint64_t vertexLines = 0;
    VertexId maxId = 0;
    bool anyVertex = false;
    std::unordered_map<VertexId, std::size_t> heapOf;   // target vertex → its heap
    std::vector<LinkHeap> heaps;
    std::unordered_set<std::string> targetKeys;
    {
        LineReader reader(vertices);
        ProgressMeter progress(options, "cc-graph vertices");
        std::string_view line;
        bool tooLong = false;
        Vertex vertex;
        while (reader.Next(line, tooLong)) {
            ++vertexLines;
            progress.Tick(vertexLines, reader.BytesRead());
            if (tooLong || !ParseVertex(line, vertex))
                continue;
            anyVertex = true;
            maxId = std::max(maxId, vertex.id);
            // A host graph may hold a name with and without "www.": the
            // first vertex of a key takes its links.
            if (!targetNames.empty() && targetNames.count(vertex.key) && targetKeys.insert(vertex.key).second) {
                heapOf.emplace(vertex.id, heaps.size());
                heaps.push_back({vertex.key, {}});
            }
        }
    }
    // The counters are indexed by ID, so the IDs must be the dense 0..N-1
    // of the Common Crawl's files: memory then stays at one counter per line.
    if (anyVertex && maxId >= vertexLines)
        throw ImportError(vertices + ": vertex IDs must run from 0 to the number of vertices - 1");
    const VertexId vertexCount = anyVertex ? maxId + 1 : 0;
    std::vector<std::uint32_t> inDegree(vertexCount, 0);

    // One pass over the edges counts every in-degree.
    const auto forEachEdge = [&](const char *label, std::uint64_t &lines, std::uint64_t &skipped, auto handle) {
        LineReader reader(edges);
        ProgressMeter progress(options, label);
        std::string_view line;
        bool tooLong = false;
        VertexId lastFrom = 0;
        VertexId lastTo = 0;
        bool any = false;
        VertexId from = 0;
        VertexId to = 0;
        lines = 0;
        skipped = 0;
        while (reader.Next(line, tooLong)) {
            ++lines;
            progress.Tick(lines, reader.BytesRead());
            if (tooLong || !ParseEdge(line, vertexCount, from, to)) {
                ++skipped;
                continue;
            }
            const bool repeated = any && from == lastFrom && to == lastTo;
            lastFrom = from;
            lastTo = to;
            any = true;
            if (from != to && !repeated)
                handle(from, to);
        }
    };
    std::uint64_t counted = 0;
    forEachEdge("cc-graph edges", summary.edges.lines, summary.edges.skipped, [&](VertexId, VertexId to) {
        if (inDegree[to] < std::numeric_limits<std::uint32_t>::max())
            ++inDegree[to];
        ++counted;
    });
    summary.edges.kept = static_cast<std::size_t>(counted);

    // A second pass, only for the listed domains, picks their most popular
    // linking names now that every in-degree is known.
    std::unordered_set<VertexId> wanted;
    if (!heaps.empty()) {
        std::uint64_t lines = 0;
        std::uint64_t skipped = 0;
        forEachEdge("cc-graph links", lines, skipped, [&](VertexId from, VertexId to) {
            const auto found = heapOf.find(to);
            if (found == heapOf.end())
                return;
            auto &entries = heaps[found->second].entries;
            const std::pair<std::uint32_t, VertexId> entry{inDegree[from], from};
            if (entries.size() < kMaxLinkingDomains) {
                entries.push_back(entry);
                std::push_heap(entries.begin(), entries.end(), MorePopular);
            } else if (MorePopular(entry, entries.front())) {
                std::pop_heap(entries.begin(), entries.end(), MorePopular);
                entries.back() = entry;
                std::push_heap(entries.begin(), entries.end(), MorePopular);
            }
        });
        for (LinkHeap &heap : heaps) {
            std::sort_heap(heap.entries.begin(), heap.entries.end(), MorePopular);
            for (const auto &entry : heap.entries)
                wanted.insert(entry.second);
        }
    }

    // Pass 2 over the vertices writes the in-degrees and learns the names of
    // the kept linking vertices.
    std::unordered_map<VertexId, std::string> names;
    writer.Begin({Source::CcInDegree});
    try {
        LineReader reader(vertices);
        ProgressMeter progress(options, "cc-graph names");
        std::string_view line;
        bool tooLong = false;
        Vertex vertex;
        while (reader.Next(line, tooLong)) {
            ++summary.vertices.lines;
            progress.Tick(summary.vertices.lines, reader.BytesRead());
            if (tooLong || !ParseVertex(line, vertex) || vertex.id >= vertexCount) {
                ++summary.vertices.skipped;
                continue;
            }
            if (inDegree[vertex.id] > 0)
                writer.Put(Source::CcInDegree, vertex.key, inDegree[vertex.id]);
            if (wanted.count(vertex.id))
                names.emplace(vertex.id, vertex.key);
        }
        for (const LinkHeap &heap : heaps) {
            if (heap.entries.empty())
                continue;
            std::vector<std::string> sources;
            for (const auto &entry : heap.entries) {
                const auto name = names.find(entry.second);
                if (name != names.end() && std::find(sources.begin(), sources.end(), name->second) == sources.end())
                    sources.push_back(name->second);
            }
            writer.PutLinks(heap.targetKey, sources);
            ++summary.linkTargets;
        }
        summary.vertices.kept = writer.Count(Source::CcInDegree);
        if (options.beforeCommit)
            options.beforeCommit(summary.vertices);
        writer.Commit("cc-graph from " + vertices + " and " + edges);
    } catch (...) {
        writer.Rollback();
        throw;
    }
    return summary;
}

} // namespace kelvora::directory::facts
