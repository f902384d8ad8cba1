#include "app/export_content.h"

#include <QString>

#include <algorithm>
#include <array>

namespace kelvora {
namespace {

constexpr const char *kTickedCaption = "Ticked";
constexpr const char *kTickedYes = "yes";
constexpr const char *kTickedNo = "no";
constexpr const char *kPartnerCaption = "Website URL";
constexpr const char *kContactLineCaption = "Contact line ";
// Export columns (caption first) holding integers: "Rank #", "Popularity",
// "Alexa Rank #" and "Agreement Estimation".
constexpr std::array<std::size_t, 4> kNumericColumns = {1, 2, 3, 5};

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

ExportTable ResultsExportTable(const QStringList &captions, const std::vector<ResultRow> &rows)
{
    ExportTable table;
    table.header.reserve(std::size_t(captions.size()) + 1);
    for (const QString &caption : captions)
        table.header.push_back(utf8(caption));
    table.header.emplace_back(kTickedCaption);
    table.numeric.assign(table.header.size(), false);
    for (const std::size_t column : kNumericColumns) {
        if (column < table.numeric.size())
            table.numeric[column] = true;
    }

    table.rows.reserve(rows.size());
    for (const ResultRow &row : rows) {
        std::vector<std::string> &cells = table.rows.emplace_back();
        cells.reserve(kResultCells + 2);
        cells.push_back(utf8(row.caption));
        for (int i = 0; i < kResultCells; ++i)
            cells.push_back(i < row.cells.size() ? utf8(row.cells[i]) : std::string());
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
    table.header.emplace_back(kPartnerCaption);
    for (std::size_t i = 1; i <= mostLines; ++i)
        table.header.push_back(kContactLineCaption + std::to_string(i));
    return table;
}

} // namespace kelvora
