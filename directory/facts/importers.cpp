#include "directory/facts/importers.h"

#include <algorithm>
#include <vector>

#include "directory/core/query.h"
#include "directory/facts/domains.h"
#include "directory/facts/import_common.h"
#include "directory/local/rank_import.h"
#include "text/text.h"

namespace kelvora::directory::facts {

using detail::Field;
using detail::ParseValue;
using detail::ProgressMeter;

namespace {

// Strips the double quotes a CSV writer may put around a field.
std::string_view Unquote(std::string_view field)
{
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
        return field.substr(1, field.size() - 2);
    return field;
}

// Index of the column named name (any letter case) in a header line.
std::optional<std::size_t> ColumnOf(std::string_view header, char separator, std::string_view name)
{
    std::string_view field;
    for (std::size_t i = 0; Field(header, separator, i, field); ++i) {
        if (EqualsIgnoreCase(Unquote(field), name))
            return i;
    }
    return std::nullopt;
}

// What a line parser makes of one line.
enum class LineKind { Fact, Header, Malformed };

struct Fact {
    std::string_view host;
    std::int64_t value = 0;
};

// Reads the lines of reader (named name) into source within one
// replacement. parse(line, fact) returns the line's kind; a Fact whose host
// gives no key is skipped.
template <typename Parse>
ImportSummary ImportLines(LineReader &reader, const std::string &name, Source source, const char *label,
                          FactsWriter &writer, const ImportOptions &options, Parse parse)
{
    ProgressMeter progress(options, label);
    ImportSummary summary;
    writer.Begin({source});
    try {
        std::string_view line;
        bool tooLong = false;
        while (reader.Next(line, tooLong)) {
            ++summary.lines;
            progress.Tick(summary.lines, reader.BytesRead());
            Fact fact;
            const LineKind kind = tooLong ? LineKind::Malformed : parse(line, fact);
            if (kind == LineKind::Header)
                continue;
            const std::string key = kind == LineKind::Fact ? FactsKey(fact.host) : std::string();
            if (key.empty()) {
                ++summary.skipped;
                continue;
            }
            writer.Put(source, key, fact.value);
        }
        summary.kept = writer.Count(source);
        if (options.beforeCommit)
            options.beforeCommit(summary);
        writer.Commit(std::string(label) + " from " + name);
    } catch (...) {
        writer.Rollback();
        throw;
    }
    return summary;
}

} // namespace

ImportSummary ImportTranco(const std::string &file, FactsWriter &writer, const ImportOptions &options)
{
    LineReader reader(file);
    return ImportLines(reader, file, Source::Tranco, "tranco", writer, options, [](std::string_view line, Fact &fact) {
        std::string_view rank;
        std::string_view extra;
        if (!Field(line, ',', 1, fact.host) || Field(line, ',', 2, extra) || !Field(line, ',', 0, rank))
            return LineKind::Malformed;
        fact.value = ParseValue(rank, 1);
        return fact.value < 0 ? LineKind::Malformed : LineKind::Fact;
    });
}

ImportSummary ImportMajestic(const std::string &file, FactsWriter &writer, const ImportOptions &options)
{
    std::optional<std::size_t> domainColumn;
    std::optional<std::size_t> countColumn;
    bool headerSeen = false;
    LineReader reader(file);
    return ImportLines(reader, file, Source::Majestic, "majestic", writer, options, [&](std::string_view line, Fact &fact) {
        if (!headerSeen) {
            if (line.empty())
                return LineKind::Header;
            headerSeen = true;
            domainColumn = ColumnOf(line, ',', "domain");
            countColumn = ColumnOf(line, ',', "refsubnets");
            if (!domainColumn || !countColumn)
                throw ImportError(file + ": not a Majestic Million file (its first line names no Domain "
                                         "and RefSubNets columns)");
            return LineKind::Header;
        }
        std::string_view count;
        if (!Field(line, ',', *domainColumn, fact.host) || !Field(line, ',', *countColumn, count))
            return LineKind::Malformed;
        fact.host = Unquote(fact.host);
        fact.value = ParseValue(Unquote(count), 0);
        return fact.value < 0 ? LineKind::Malformed : LineKind::Fact;
    });
}

namespace {

ImportSummary ImportCcRanksFrom(LineReader &reader, const std::string &name, FactsWriter &writer,
                                const ImportOptions &options)
{
    constexpr std::size_t kDefaultPositionColumn = 0;
    constexpr std::size_t kDefaultHostColumn = 4;
    std::size_t positionColumn = kDefaultPositionColumn;
    std::size_t hostColumn = kDefaultHostColumn;
    std::string host;
    return ImportLines(reader, name, Source::CcRanks, "cc-ranks", writer, options, [&](std::string_view line, Fact &fact) {
        if (!line.empty() && line.front() == '#') {
            const std::optional<std::size_t> position = ColumnOf(line, '\t', "#harmonicc_pos");
            const std::optional<std::size_t> reversed = ColumnOf(line, '\t', "#host_rev");
            if (!position || !reversed)
                return LineKind::Malformed;
            positionColumn = *position;
            hostColumn = *reversed;
            return LineKind::Header;
        }
        std::string_view position;
        std::string_view reversed;
        if (!Field(line, '\t', positionColumn, position) || !Field(line, '\t', hostColumn, reversed))
            return LineKind::Malformed;
        fact.value = ParseValue(position, 1);
        if (fact.value < 0)
            return LineKind::Malformed;
        host = UnreverseHost(reversed);
        fact.host = host;
        return LineKind::Fact;
    });
}

} // namespace

ImportSummary ImportCcRanks(const std::string &file, FactsWriter &writer, const ImportOptions &options)
{
    LineReader reader(file);
    return ImportCcRanksFrom(reader, file, writer, options);
}

ImportSummary ImportCcRanks(std::unique_ptr<ByteStream> stream, const std::string &name, FactsWriter &writer,
                            const ImportOptions &options)
{
    LineReader reader(std::move(stream), name);
    return ImportCcRanksFrom(reader, name, writer, options);
}

} // namespace kelvora::directory::facts
