#include "directory/local/rank_import.h"

#include <memory>
#include <vector>

#include "directory/core/line_reader.h"
#include "directory/core/query.h"

namespace kelvora::directory {

namespace {

// The highest rank taken from a file; larger numbers are not believed.
constexpr std::int64_t kMaxRank = 1'000'000'000'000;

// The istream as the line reader's byte source, so that ranks are read with
// the same line rules (and gzip detection) as every other ranking file.
class StreamBytes final : public facts::ByteStream {
public:
    explicit StreamBytes(std::istream &in)
        : m_in(in)
    {
    }

    std::size_t Read(char *data, std::size_t size) override
    {
        m_in.read(data, static_cast<std::streamsize>(size));
        return static_cast<std::size_t>(m_in.gcount());
    }

private:
    std::istream &m_in;
};

std::vector<std::string_view> Split(std::string_view line, char separator)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = line.find(separator, start);
        fields.push_back(line.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return fields;
        start = end + 1;
    }
}

template <typename Parse>
RankReadSummary ReadRanks(std::istream &in, RankUpdate &update, Parse parse)
{
    static_assert(kMaxRankLine == facts::kMaxLineLength);
    RankReadSummary summary;
    facts::LineReader reader(std::make_unique<StreamBytes>(in), "ranking");
    std::string_view line;
    bool tooLong = false;
    while (reader.Next(line, tooLong)) {
        ++summary.lines;
        std::string host;
        std::int64_t rank = 0;
        if (tooLong || !parse(line, host, rank) || !IsStorableHost(HostName(host))) {
            ++summary.malformed;
            continue;
        }
        update.Offer(host, rank);
    }
    return summary;
}

std::int64_t ParseRank(std::string_view text)
{
    return ParseCount(text, 0, 0, kMaxRank);
}

} // namespace

RankReadSummary ReadTrancoRanks(std::istream &in, RankUpdate &update)
{
    return ReadRanks(in, update, [](std::string_view line, std::string &host, std::int64_t &rank) {
        const std::vector<std::string_view> fields = Split(line, ',');
        if (fields.size() != 2)
            return false;
        rank = ParseRank(fields[0]);
        host = std::string(fields[1]);
        return rank > 0;
    });
}

RankReadSummary ReadHostRanks(std::istream &in, RankUpdate &update)
{
    return ReadRanks(in, update, [](std::string_view line, std::string &host, std::int64_t &rank) {
        constexpr std::size_t kColumns = 5;
        const std::vector<std::string_view> fields = Split(line, '\t');
        if (fields.size() != kColumns || line.front() == '#')
            return false;
        rank = ParseRank(fields[0]);
        host = UnreverseHost(fields[4]);
        return rank > 0;
    });
}

std::string UnreverseHost(std::string_view reversed)
{
    std::string host;
    host.reserve(reversed.size());
    std::size_t end = reversed.size();
    for (;;) {
        const std::size_t dot = reversed.rfind('.', end == 0 ? 0 : end - 1);
        const std::size_t start = (dot == std::string_view::npos || end == 0) ? 0 : dot + 1;
        if (!host.empty())
            host += '.';
        host += reversed.substr(start, end - start);
        if (start == 0)
            return host;
        end = dot;
    }
}

} // namespace kelvora::directory
