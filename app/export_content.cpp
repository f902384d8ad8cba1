#include "app/export_content.h"

#include <QString>

#include <algorithm>

namespace kelvora {
namespace {

constexpr const char *kTickedCaption = "Ticked";
constexpr const char *kTickedYes = "yes";
constexpr const char *kTickedNo = "no";
constexpr const char *kContactLineCaption = "Contact line ";

std::string utf8(const QString &text)
{
    return text.toUtf8().toStdString();
}

// Texts of the partner side are 8-bit bytes, as the pane shows them.
std::string utf8FromBytes(const std::string &bytes)
{
    return utf8(QString::fromLatin1(bytes.data(), qsizetype(bytes.size())));
}

} // namespace

ExportTable ResultsExportTable(const std::vector<ResultRow> &rows)
{
    ExportTable table;
    table.header.reserve(kResultColumns.size() + 1);
    for (const ColumnDescription &column : kResultColumns) {
        table.header.emplace_back(column.caption);
        table.numeric.push_back(column.value == ColumnValue::Number);
    }
    table.header.emplace_back(kTickedCaption);
    table.numeric.push_back(false);

    table.rows.reserve(rows.size());
    for (const ResultRow &row : rows) {
        std::vector<std::string> &cells = table.rows.emplace_back();
        cells.reserve(kResultColumns.size() + 1);
        for (const ColumnDescription &column : kResultColumns)
            cells.push_back(utf8(TextOf(row, column.column)));
        cells.emplace_back(row.ticked ? kTickedYes : kTickedNo);
    }
    return table;
}

ExportTable PartnersExportTable(const QStringList &partners, const PartnerContacts &contacts)
{
    ExportTable table;
    std::size_t mostLines = 0;
    table.rows.reserve(std::size_t(partners.size()));
    for (const QString &partner : partners) {
        const std::vector<std::string> &lines = contacts.LinesFor(partner.toLatin1().toStdString());
        std::vector<std::string> &cells = table.rows.emplace_back();
        cells.reserve(lines.size() + 1);
        cells.push_back(utf8(partner));
        for (const std::string &line : lines)
            cells.push_back(utf8FromBytes(line));
        mostLines = std::max(mostLines, lines.size());
    }
    // A partner is a website, and its column says so as the results' does.
    table.header.emplace_back(DescriptionOf(ResultColumn::Website).caption);
    for (std::size_t i = 1; i <= mostLines; ++i)
        table.header.push_back(kContactLineCaption + std::to_string(i));
    return table;
}

} // namespace kelvora
