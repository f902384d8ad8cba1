#include "xlsx_reader.h"

#include <QXmlStreamReader>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace exporttest {
namespace {

std::optional<std::map<std::string, std::string>> unzip(const std::string &path)
{
    std::unique_ptr<archive, decltype(&archive_read_free)> zip(archive_read_new(), archive_read_free);
    archive_read_support_format_zip(zip.get());
    if (archive_read_open_filename(zip.get(), path.c_str(), 64 * 1024) != ARCHIVE_OK)
        return std::nullopt;
    std::map<std::string, std::string> parts;
    archive_entry *entry = nullptr;
    int status;
    while ((status = archive_read_next_header(zip.get(), &entry)) == ARCHIVE_OK) {
        std::string &bytes = parts[archive_entry_pathname(entry)];
        char buffer[16 * 1024];
        la_ssize_t got;
        while ((got = archive_read_data(zip.get(), buffer, sizeof buffer)) > 0)
            bytes.append(buffer, std::size_t(got));
        if (got < 0)
            return std::nullopt;
    }
    if (status != ARCHIVE_EOF)
        return std::nullopt;
    return parts;
}

// Calls visit for every start element of an XML part.
template <typename Visit>
void eachElement(const std::string &xml, Visit visit)
{
    QXmlStreamReader reader(QByteArray::fromStdString(xml));
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement)
            visit(reader);
    }
}

std::string attribute(const QXmlStreamReader &reader, const char *name)
{
    return reader.attributes().value(QLatin1String(name)).toString().toStdString();
}

int columnOf(const std::string &reference)
{
    int column = 0;
    for (std::size_t i = 0; i < reference.size() && reference[i] >= 'A' && reference[i] <= 'Z'; ++i)
        column = column * 26 + (reference[i] - 'A' + 1);
    return column - 1;
}

} // namespace

std::optional<Workbook> ReadWorkbook(const std::string &path)
{
    auto parts = unzip(path);
    if (!parts || !parts->count("xl/workbook.xml"))
        return std::nullopt;
    Workbook book;

    std::vector<std::string> strings;
    eachElement((*parts)["xl/sharedStrings.xml"], [&](QXmlStreamReader &reader) {
        if (reader.name() == QLatin1String("si"))
            strings.emplace_back();
        else if (reader.name() == QLatin1String("t") && !strings.empty())
            strings.back() += reader.readElementText().toStdString();
    });

    // Fonts come first; the cell formats (cellXfs) follow the cell style formats.
    std::vector<bool> boldFonts;
    bool inCellFormats = false;
    eachElement((*parts)["xl/styles.xml"], [&](QXmlStreamReader &reader) {
        if (reader.name() == QLatin1String("font"))
            boldFonts.push_back(false);
        else if (reader.name() == QLatin1String("b") && !boldFonts.empty())
            boldFonts.back() = true;
        else if (reader.name() == QLatin1String("cellXfs"))
            inCellFormats = true;
        else if (reader.name() == QLatin1String("xf") && inCellFormats)
            book.boldStyles.push_back(boldFonts.at(std::stoul(attribute(reader, "fontId"))));
    });

    // The writer numbers the sheet files in workbook order.
    eachElement((*parts)["xl/workbook.xml"], [&](QXmlStreamReader &reader) {
        if (reader.name() != QLatin1String("sheet"))
            return;
        Sheet &sheet = book.sheets.emplace_back();
        sheet.name = attribute(reader, "name");
        const std::string file = "xl/worksheets/sheet" + std::to_string(book.sheets.size()) + ".xml";
        int row = 0;
        Cell *cell = nullptr;
        eachElement((*parts)[file], [&](QXmlStreamReader &element) {
            const QStringView name = element.name();
            if (name == QLatin1String("row")) {
                row = std::stoi(attribute(element, "r"));
            } else if (name == QLatin1String("c")) {
                cell = &sheet.rows[row][columnOf(attribute(element, "r"))];
                cell->type = attribute(element, "t");
                cell->style = element.attributes().value(QLatin1String("s")).toInt();
            } else if (cell && (name == QLatin1String("v") || name == QLatin1String("t"))) {
                const std::string text = element.readElementText().toStdString();
                cell->value += cell->type == "s" ? strings.at(std::stoul(text)) : text;
            } else if (name == QLatin1String("pane") && attribute(element, "state") == "frozen") {
                sheet.frozenAt = attribute(element, "topLeftCell");
            } else if (name == QLatin1String("col")) {
                const double width = element.attributes().value(QLatin1String("width")).toDouble();
                for (int column = std::stoi(attribute(element, "min")); column <= std::stoi(attribute(element, "max"));
                     ++column)
                    sheet.widths[column - 1] = width;
            } else if (name == QLatin1String("autoFilter")) {
                sheet.autoFilter = attribute(element, "ref");
            }
        });
    });
    book.parts = std::move(*parts);
    return book;
}

} // namespace exporttest
