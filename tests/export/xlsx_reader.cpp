#include "xlsx_reader.h"

#include <QRegularExpression>
#include <QString>
#include <QXmlStreamReader>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace exporttest {
namespace {

constexpr std::size_t kMaxPartSize = 64 * 1024 * 1024;

std::optional<std::map<std::string, std::string>> unzip(const std::string &path, std::string *error)
{
    std::unique_ptr<archive, decltype(&archive_read_free)> reader(archive_read_new(), archive_read_free);
    archive_read_support_format_zip(reader.get());
    if (archive_read_open_filename(reader.get(), path.c_str(), 64 * 1024) != ARCHIVE_OK) {
        if (error)
            *error = archive_error_string(reader.get()) ? archive_error_string(reader.get()) : "cannot open";
        return std::nullopt;
    }
    std::map<std::string, std::string> parts;
    archive_entry *entry = nullptr;
    int status;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        std::string &bytes = parts[archive_entry_pathname(entry)];
        char buffer[16 * 1024];
        la_ssize_t got;
        while ((got = archive_read_data(reader.get(), buffer, sizeof buffer)) > 0) {
            bytes.append(buffer, std::size_t(got));
            if (bytes.size() > kMaxPartSize)
                break;
        }
        if (got < 0) {
            if (error)
                *error = "broken entry " + std::string(archive_entry_pathname(entry));
            return std::nullopt;
        }
    }
    if (status != ARCHIVE_EOF) {
        if (error)
            *error = "broken archive";
        return std::nullopt;
    }
    return parts;
}

QString attribute(const QXmlStreamReader &xml, const char *name)
{
    return xml.attributes().value(QLatin1String(name)).toString();
}

// A cell text as a spreadsheet shows it: "_xHHHH_" stands for that character.
std::string unescaped(const QString &text)
{
    static const QRegularExpression escape(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    QString out;
    qsizetype from = 0;
    for (auto match = escape.globalMatch(text); match.hasNext();) {
        const QRegularExpressionMatch found = match.next();
        out += QStringView(text).mid(from, found.capturedStart() - from);
        out += QChar(char16_t(found.captured(1).toUShort(nullptr, 16)));
        from = found.capturedEnd();
    }
    out += QStringView(text).mid(from);
    return out.toStdString();
}

std::vector<std::string> sharedStrings(const std::string &bytes)
{
    std::vector<std::string> strings;
    QXmlStreamReader xml(QByteArray::fromStdString(bytes));
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("si"))
            strings.emplace_back();
        else if (xml.name() == QLatin1String("t") && !strings.empty())
            strings.back() += unescaped(xml.readElementText());
    }
    return strings;
}

std::vector<bool> boldStyles(const std::string &bytes)
{
    std::vector<bool> boldFonts;
    std::vector<bool> styles;
    QXmlStreamReader xml(QByteArray::fromStdString(bytes));
    bool inFonts = false;
    bool inCellFormats = false;
    while (!xml.atEnd()) {
        xml.readNext();
        const QStringView name = xml.name();
        if (xml.isStartElement()) {
            if (name == QLatin1String("fonts"))
                inFonts = true;
            else if (name == QLatin1String("cellXfs"))
                inCellFormats = true;
            else if (inFonts && name == QLatin1String("font"))
                boldFonts.push_back(false);
            else if (inFonts && name == QLatin1String("b") && !boldFonts.empty())
                boldFonts.back() = true;
            else if (inCellFormats && name == QLatin1String("xf")) {
                const std::size_t font = attribute(xml, "fontId").toUInt();
                styles.push_back(font < boldFonts.size() && boldFonts[font]);
            }
        } else if (xml.isEndElement()) {
            if (name == QLatin1String("fonts"))
                inFonts = false;
            else if (name == QLatin1String("cellXfs"))
                inCellFormats = false;
        }
    }
    return styles;
}

Sheet readSheet(const std::string &bytes, const std::vector<std::string> &strings)
{
    Sheet sheet;
    QXmlStreamReader xml(QByteArray::fromStdString(bytes));
    int row = 0;
    Cell *cell = nullptr;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        const QStringView name = xml.name();
        if (name == QLatin1String("row")) {
            row = attribute(xml, "r").toInt();
            sheet.rows[row];
        } else if (name == QLatin1String("c")) {
            cell = &sheet.rows[row][ColumnOf(attribute(xml, "r").toStdString())];
            cell->type = attribute(xml, "t").toStdString();
            cell->style = attribute(xml, "s").toInt();
        } else if (cell && (name == QLatin1String("v") || name == QLatin1String("t"))) {
            const std::string text = unescaped(xml.readElementText());
            if (cell->type == "s") {
                const std::size_t index = std::stoul(text);
                cell->value = index < strings.size() ? strings[index] : "<bad index>";
            } else {
                cell->value += text;
            }
        } else if (name == QLatin1String("pane")) {
            if (attribute(xml, "state") == QLatin1String("frozen"))
                sheet.frozenPane = attribute(xml, "topLeftCell").toStdString();
        } else if (name == QLatin1String("col")) {
            const int first = attribute(xml, "min").toInt();
            const int last = attribute(xml, "max").toInt();
            for (int column = first; column <= last && column > 0; ++column)
                sheet.widths[column - 1] = attribute(xml, "width").toDouble();
        } else if (name == QLatin1String("autoFilter")) {
            sheet.autoFilter = attribute(xml, "ref").toStdString();
        }
    }
    return sheet;
}

} // namespace

int ColumnOf(const std::string &reference)
{
    int column = 0;
    for (const char c : reference) {
        if (c < 'A' || c > 'Z')
            break;
        column = column * 26 + (c - 'A' + 1);
    }
    return column - 1;
}

std::optional<Workbook> ReadWorkbook(const std::string &path, std::string *error)
{
    auto parts = unzip(path, error);
    if (!parts)
        return std::nullopt;
    const auto workbookPart = parts->find("xl/workbook.xml");
    if (workbookPart == parts->end()) {
        if (error)
            *error = "no xl/workbook.xml";
        return std::nullopt;
    }
    Workbook book;
    const auto shared = parts->find("xl/sharedStrings.xml");
    const std::vector<std::string> strings =
        shared == parts->end() ? std::vector<std::string>() : sharedStrings(shared->second);
    if (const auto styles = parts->find("xl/styles.xml"); styles != parts->end())
        book.boldStyles = boldStyles(styles->second);

    // The writer numbers sheet files in workbook order.
    QXmlStreamReader xml(QByteArray::fromStdString(workbookPart->second));
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != QLatin1String("sheet"))
            continue;
        const std::string file = "xl/worksheets/sheet" + std::to_string(book.sheets.size() + 1) + ".xml";
        const auto part = parts->find(file);
        Sheet sheet = part == parts->end() ? Sheet() : readSheet(part->second, strings);
        sheet.name = attribute(xml, "name").toStdString();
        book.sheets.push_back(std::move(sheet));
    }
    book.parts = std::move(*parts);
    return book;
}

} // namespace exporttest
