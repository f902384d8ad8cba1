#include "directory/csv_import.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>

#include "directory/query.h"

namespace kelvora::directory {

namespace {

class CsvReader final {
public:
    explicit CsvReader(std::istream &in)
        : m_in(in)
    {
    }

    // Reads one record; false at the end of the input.
    bool Next(std::vector<std::string> &fields)
    {
        fields.clear();
        m_recordLine = m_line;
        int c = m_in.get();
        if (c == EOF)
            return false;
        std::string field;
        bool quoted = false;
        bool wasQuoted = false;
        for (;; c = m_in.get()) {
            if (c == EOF) {
                if (quoted)
                    Fail("a quoted field is not closed");
                break;
            }
            const char ch = static_cast<char>(c);
            if (quoted) {
                if (ch == '"') {
                    if (m_in.peek() == '"') {
                        m_in.get();
                        Append(field, '"');
                    } else {
                        quoted = false;
                    }
                } else {
                    if (ch == '\n')
                        ++m_line;
                    // Line breaks inside a field are kept as LF alone.
                    if (ch != '\r' || m_in.peek() != '\n')
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
            } else if (ch == '\n') {
                ++m_line;
                break;
            } else if (ch == '\r') {
                if (m_in.peek() == '\n')
                    continue;
                Append(field, ch);
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
    void Append(std::string &field, char c) const
    {
        if (field.size() >= kMaxCsvField)
            Fail("field longer than " + std::to_string(kMaxCsvField) + " bytes");
        field += c;
    }

    std::istream &m_in;
    std::size_t m_line = 1;
    std::size_t m_recordLine = 1;
};

std::string Trimmed(std::string text)
{
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos)
        return std::string();
    const std::size_t end = text.find_last_not_of(" \t");
    return text.substr(start, end - start + 1);
}

std::optional<std::int64_t> Number(const std::string &text, const CsvReader &reader,
                                   const char *column)
{
    const std::string value = Trimmed(text);
    if (value.empty())
        return std::nullopt;
    constexpr std::int64_t kNotANumber = -1;
    const std::int64_t number = ParseCount(value, kNotANumber, 0, INT64_MAX / 10);
    if (number == kNotANumber)
        reader.Fail(std::string(column) + " is not a whole number: " + value);
    return number;
}

enum Column { kHost, kTitle, kDescription, kKeywords, kContact, kOutbound, kOnlineSince,
              kPopularity, kRank, kColumnCount };
constexpr const char *kColumnNames[kColumnCount] = {
    "host", "title", "description", "keywords", "contact", "outbound", "online_since",
    "popularity", "rank"};

} // namespace

std::vector<SiteInput> ReadCsvSites(std::istream &in)
{
    // A byte-order mark some spreadsheets write is not part of the header.
    if (in.peek() == 0xEF) {
        char mark[3] = {};
        in.read(mark, 3);
        if (std::string(mark, 3) != "\xEF\xBB\xBF")
            throw std::runtime_error("line 1: not a CSV header");
    }
    CsvReader reader(in);
    std::vector<std::string> fields;
    if (!reader.Next(fields))
        throw std::runtime_error("line 1: the header is missing");
    int position[kColumnCount];
    std::fill(std::begin(position), std::end(position), -1);
    for (std::size_t index = 0; index < fields.size(); ++index) {
        std::string name = Trimmed(fields[index]);
        for (char &c : name)
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        for (int column = 0; column < kColumnCount; ++column) {
            if (name == kColumnNames[column] && position[column] < 0)
                position[column] = static_cast<int>(index);
        }
    }
    if (position[kHost] < 0)
        reader.Fail("the header has no host column");

    std::vector<SiteInput> sites;
    while (reader.Next(fields)) {
        if (fields.size() == 1 && Trimmed(fields[0]).empty())
            continue;
        auto field = [&](Column column) -> std::string {
            const int index = position[column];
            return index >= 0 && static_cast<std::size_t>(index) < fields.size() ? fields[index]
                                                                                : std::string();
        };
        SiteInput site;
        site.host = Trimmed(field(kHost));
        if (site.host.empty())
            reader.Fail("the host is empty");
        site.title = Trimmed(field(kTitle));
        site.description = Trimmed(field(kDescription));
        site.keywords = field(kKeywords);
        site.contact = field(kContact);
        site.onlineSince = Trimmed(field(kOnlineSince));
        const std::string outbound = field(kOutbound);
        std::size_t start = 0;
        while ((start = outbound.find_first_not_of(" \t\n", start)) != std::string::npos) {
            const std::size_t end = outbound.find_first_of(" \t\n", start);
            site.outbound.push_back(outbound.substr(start, end - start));
            start = end;
        }
        site.popularity = Number(field(kPopularity), reader, "popularity");
        site.rank = Number(field(kRank), reader, "rank");
        sites.push_back(std::move(site));
    }
    return sites;
}

} // namespace kelvora::directory
