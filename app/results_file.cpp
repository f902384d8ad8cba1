#include "app/results_file.h"

#include "platform/profile.h"
#include "web/text.h"

#include <QFile>

#include <cstdint>
#include <optional>

namespace kelvora {
namespace {

constexpr std::string_view kItemPrefix = "item";
constexpr std::string_view kOptionSection = "Option";
constexpr std::string_view kCheckKey = "check";
constexpr std::string_view kResultKey = "Result";
constexpr std::string_view kDateKey = "Date";

QString fromBytes(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

std::string toBytes(const QString &text)
{
    return text.toLatin1().toStdString();
}

QString valueOr(const ProfileFile &file, std::string_view section, std::string_view key)
{
    const std::optional<std::string> value = file.Value(section, key);
    return value ? fromBytes(*value) : QString();
}

// The integer a "check" value stands for, if it is one within 32 bits.
std::optional<std::int64_t> parseCheckInteger(std::string_view text)
{
    constexpr std::int64_t kLimit = 0xFFFFFFFFLL;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::int64_t value = 0;
        for (const char c : text.substr(2)) {
            const int digit = HexDigitValue(c);
            if (digit < 0)
                return std::nullopt;
            value = value * 16 + digit;
            if (value > kLimit)
                return std::nullopt;
        }
        return value;
    }
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > kLimit)
            return std::nullopt;
    }
    return negative ? -value : value;
}

bool isResultsSection(const std::string &name)
{
    const std::string lower = LowerCase(name);
    if (lower == LowerCase(std::string(kOptionSection)))
        return true;
    if (lower.size() <= kItemPrefix.size() || lower.compare(0, kItemPrefix.size(), kItemPrefix) != 0)
        return false;
    for (std::size_t i = kItemPrefix.size(); i < lower.size(); ++i) {
        if (!IsDigit(lower[i]))
            return false;
    }
    return true;
}

} // namespace

bool CheckValueTicks(const std::string *value)
{
    if (!value)
        return true;
    const std::optional<std::int64_t> number = parseCheckInteger(*value);
    return !number || *number != 0;
}

static ResultsFileContent contentOf(const ProfileFile &file)
{
    ResultsFileContent content;
    const std::vector<std::string> sectionNames = file.SectionNames();
    const std::size_t sectionCount = sectionNames.size();
    for (const std::string &name : sectionNames) {
        if (isResultsSection(name)) {
            content.recognised = true;
            break;
        }
    }
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const std::string section = std::string(kItemPrefix) + std::to_string(i);
        if (!file.HasKeys(section))
            continue;
        ResultRow row;
        for (const ColumnDescription &column : kResultColumns) {
            const QString value = valueOr(file, section, column.fileKey);
            if (column.column == ResultColumn::Website)
                row.caption = value;
            else
                row.cells.append(value);
        }
        const std::optional<std::string> check = file.Value(section, kCheckKey);
        row.ticked = CheckValueTicks(check ? &*check : nullptr);
        content.rows.push_back(std::move(row));
    }
    content.result = valueOr(file, kOptionSection, kResultKey);
    content.date = valueOr(file, kOptionSection, kDateKey);
    return content;
}

ResultsFileContent ReadResultsFile(const QString &path)
{
    return contentOf(ProfileFile::Load(QFile::encodeName(path).toStdString()));
}

ResultsFileContent ParseResultsFile(std::string_view bytes)
{
    return contentOf(ProfileFile::Parse(bytes));
}

std::string FormatResultsFile(const ResultsFileContent &content)
{
    ProfileWriter writer;
    for (std::size_t i = 0; i < content.rows.size(); ++i) {
        const ResultRow &row = content.rows[i];
        writer.Section(std::string(kItemPrefix) + std::to_string(i));
        for (const ColumnDescription &column : kResultColumns)
            writer.Key(column.fileKey, toBytes(TextOf(row, column.column)));
        writer.Key(kCheckKey, row.ticked ? "1" : "0");
    }
    writer.Section(kOptionSection);
    writer.Key(kResultKey, toBytes(content.result));
    writer.Key(kDateKey, toBytes(content.date));
    return writer.Text();
}

std::string WriteResultsFile(const QString &path, const ResultsFileContent &content)
{
    return WriteWholeFile(path, FormatResultsFile(content));
}

std::string WriteWholeFile(const QString &path, std::string_view bytes)
{
    return SaveAtomically(QFile::encodeName(path).toStdString(), bytes);
}

} // namespace kelvora
