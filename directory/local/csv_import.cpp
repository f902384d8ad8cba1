#include "directory/local/csv_import.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <tuple>

#include "directory/core/query.h"
#include "text/text.h"

namespace kelvora::directory {

namespace {

enum Column { kHost, kTitle, kDescription, kKeywords, kContact, kOutbound, kOnlineSince,
              kPopularity, kRank, kColumnCount };
constexpr const char *kColumnNames[kColumnCount] = {
    "host", "title", "description", "keywords", "contact", "outbound", "online_since",
    "popularity", "rank"};

std::string TrimBlanks(std::string_view text)
{
    return std::string(Trim(text, " \t"));
}

// A whole number, or nothing for an empty field; false when it is neither.
bool ParseNumber(const std::string &value, std::optional<std::int64_t> &number)
{
    number.reset();
    if (value.empty())
        return true;
    constexpr std::int64_t kNotANumber = -1;
    const std::int64_t parsed = ParseCount(value, kNotANumber, 0, INT64_MAX / 10);
    if (parsed == kNotANumber)
        return false;
    number = parsed;
    return true;
}

} // namespace

// RFC 4180 records, read straight from the stream buffer.
class CsvSiteReader::Records final {
public:
    explicit Records(std::istream &in)
        : m_in(*in.rdbuf())
    {
    }

    // Reads one record; false at the end of the input.
    bool Next(std::vector<std::string> &fields)
    {
        fields.clear();
        m_recordLine = m_line;
        int c = m_in.sbumpc();
        if (c == EOF)
            return false;
        std::string field;
        bool quoted = false;
        bool wasQuoted = false;
        for (;; c = m_in.sbumpc()) {
            if (c == EOF) {
                if (quoted)
                    Fail("a quoted field is not closed");
                break;
            }
            const char ch = static_cast<char>(c);
            if (quoted) {
                if (ch == '"') {
                    if (m_in.sgetc() == '"') {
                        m_in.sbumpc();
                        Append(field, '"');
                    } else {
                        quoted = false;
                    }
                } else if (ch == '\r' || ch == '\n') {
                    // Any line break inside a field is kept as LF alone.
                    EndLine(ch);
                    Append(field, '\n');
                } else {
                    Append(field, ch);
                }
                continue;
            }
            if (ch == '"' && field.empty() && !wasQuoted) {
                quoted = true;
                wasQuoted = true;
            } else if (ch == ',') {
                fields.push_back(std::move(field));
                field.clear();
                wasQuoted = false;
            } else if (ch == '\r' || ch == '\n') {
                EndLine(ch);
                break;
            } else if (wasQuoted) {
                Fail("text after a closing quote");
            } else {
                Append(field, ch);
            }
        }
        fields.push_back(std::move(field));
        return true;
    }

    [[noreturn]] void Fail(const std::string &what) const
    {
        throw std::runtime_error("line " + std::to_string(m_recordLine) + ": " + what);
    }

private:
    // CR LF, LF and a lone CR each end one line.
    void EndLine(char ch)
    {
        if (ch == '\r' && m_in.sgetc() == '\n')
            m_in.sbumpc();
        ++m_line;
    }

    void Append(std::string &field, char c) const
    {
        if (field.size() >= kMaxCsvField)
            Fail("field longer than " + std::to_string(kMaxCsvField) + " bytes");
        field += c;
    }

    std::streambuf &m_in;
    std::size_t m_line = 1;
    std::size_t m_recordLine = 1;
};

CsvSiteReader::CsvSiteReader(std::istream &in)
{
    // A byte-order mark some spreadsheets write is not part of the header.
    std::streambuf &buffer = *in.rdbuf();
    if (buffer.sgetc() == 0xEF) {
        char mark[3] = {};
        if (buffer.sgetn(mark, 3) != 3 || std::string(mark, 3) != "\xEF\xBB\xBF")
            throw std::runtime_error("line 1: not a CSV header");
    }
    m_records = std::make_unique<Records>(in);
    if (!m_records->Next(m_fields))
        throw std::runtime_error("line 1: the header is missing");
    m_position.assign(kColumnCount, -1);
    for (std::size_t index = 0; index < m_fields.size(); ++index) {
        const std::string name = LowerCase(TrimBlanks(m_fields[index]));
        for (int column = 0; column < kColumnCount; ++column) {
            if (name == kColumnNames[column] && m_position[column] < 0)
                m_position[column] = static_cast<int>(index);
        }
    }
    if (m_position[kHost] < 0)
        m_records->Fail("the header has no host column");
}

CsvSiteReader::~CsvSiteReader() = default;

bool CsvSiteReader::Next(SiteInput &site)
{
    do {
        if (!m_records->Next(m_fields))
            return false;
    } while (m_fields.size() == 1 && TrimBlanks(m_fields[0]).empty());

    auto field = [this](Column column) -> std::string {
        const int index = m_position[column];
        return index >= 0 && static_cast<std::size_t>(index) < m_fields.size() ? m_fields[index] : std::string();
    };
    site = SiteInput();
    site.host = TrimBlanks(field(kHost));
    if (site.host.empty())
        m_records->Fail("the host is empty");
    site.title = TrimBlanks(field(kTitle));
    site.description = TrimBlanks(field(kDescription));
    site.keywords = field(kKeywords);
    site.contact = field(kContact);
    site.onlineSince = TrimBlanks(field(kOnlineSince));
    const std::string outbound = field(kOutbound);
    std::size_t start = 0;
    while ((start = outbound.find_first_not_of(" \t\n", start)) != std::string::npos) {
        const std::size_t end = outbound.find_first_of(" \t\n", start);
        site.outbound.push_back(outbound.substr(start, end - start));
        start = end;
    }
    for (const auto &[column, name, number] : {std::tuple(kPopularity, "popularity", &site.popularity),
                                               std::tuple(kRank, "rank", &site.rank)}) {
        const std::string value = TrimBlanks(field(column));
        if (!ParseNumber(value, *number))
            m_records->Fail(std::string(name) + " is not a whole number: " + value);
    }
    return true;
}

std::vector<SiteInput> ReadCsvSites(std::istream &in)
{
    CsvSiteReader reader(in);
    std::vector<SiteInput> sites;
    SiteInput site;
    while (reader.Next(site))
        sites.push_back(std::move(site));
    return sites;
}

} // namespace kelvora::directory
