#include "app/export_csv.h"

#include "platform/profile.h"

#include <string_view>

namespace kelvora {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kRecordEnd = "\r\n";
// Spreadsheets run a cell that starts with one of these as a formula.
constexpr std::string_view kFormulaStarts = "=+-@\t\r";
constexpr std::string_view kNeedsQuotes = ",\"\r\n";

void appendField(std::string &out, std::string_view field)
{
    const bool formulaLike = !field.empty() && kFormulaStarts.find(field.front()) != std::string_view::npos;
    const bool quoted = field.find_first_of(kNeedsQuotes) != std::string_view::npos;
    if (quoted)
        out += '"';
    if (formulaLike)
        out += '\'';
    if (!quoted) {
        out += field;
        return;
    }
    for (const char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void appendTable(std::string &out, const ExportTable &table)
{
    const std::size_t columns = table.ColumnCount();
    const auto appendRecord = [&out, columns](const std::vector<std::string> &cells) {
        for (std::size_t i = 0; i < columns; ++i) {
            if (i > 0)
                out += ',';
            if (i < cells.size())
                appendField(out, cells[i]);
        }
        out += kRecordEnd;
    };
    appendRecord(table.header);
    for (const std::vector<std::string> &row : table.rows)
        appendRecord(row);
}

} // namespace

std::string FormatCsv(const ExportContent &content)
{
    std::string out(kByteOrderMark);
    appendTable(out, content.results);
    if (!content.partners.rows.empty()) {
        out += kRecordEnd;
        appendTable(out, content.partners);
    }
    return out;
}

std::string WriteCsvFile(const std::string &path, const ExportContent &content)
{
    return SaveAtomically(path, FormatCsv(content));
}

} // namespace kelvora
