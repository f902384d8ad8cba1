#include "app/export_xlsx.h"

#include "platform/profile.h"
#include "text/text.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

namespace kelvora {
namespace {

constexpr const char *kResultsSheet = "Results";
constexpr const char *kPartnersSheet = "Partners";
constexpr std::size_t kMaxColumns = LXW_COL_MAX;
constexpr std::size_t kMaxRows = LXW_ROW_MAX;
constexpr std::size_t kMaxCellCharacters = 32767;
// Widths in characters: room beside the header text for the filter button,
// and a cap so that one long cell does not push every other column aside.
constexpr std::size_t kWidthPadding = 3;
constexpr std::size_t kMaxFittedWidth = 80;

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Characters on the longest line of a UTF-8 text.
std::size_t widestLine(std::string_view text)
{
    std::size_t widest = 0;
    std::size_t line = 0;
    for (const char c : text) {
        if (c == '\n') {
            line = 0;
        } else if (!isContinuationByte(c)) {
            widest = std::max(widest, ++line);
        }
    }
    return widest;
}

// text cut to the cell limit, at a character boundary.
std::string_view fittedToCell(std::string_view text)
{
    if (text.size() <= kMaxCellCharacters)
        return text;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isContinuationByte(text[i]) && ++characters > kMaxCellCharacters)
            return text.substr(0, i);
    }
    return text;
}

// Whether "_xHHHH_" starts at i: a spreadsheet reads that as an escaped character.
bool isEscapeAt(std::string_view text, std::size_t i)
{
    constexpr std::size_t kEscapeLength = 7;
    return text.size() - i >= kEscapeLength && text[i] == '_' && text[i + 1] == 'x'
           && HexDigitValue(text[i + 2]) >= 0 && HexDigitValue(text[i + 3]) >= 0
           && HexDigitValue(text[i + 4]) >= 0 && HexDigitValue(text[i + 5]) >= 0 && text[i + 6] == '_';
}

// text as a cell keeps it: a literal "_xHHHH_" has its "_" escaped, so that
// it is not read as a character code.
void assignSheetText(std::string &out, std::string_view text)
{
    out.clear();
    if (text.find("_x") == std::string_view::npos) {
        out.assign(text);
        return;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isEscapeAt(text, i))
            out += "_x005F_";
        else
            out += text[i];
    }
}

class SheetWriter {
public:
    SheetWriter(lxw_worksheet *sheet, lxw_format *bold)
        : m_sheet(sheet)
        , m_bold(bold)
    {
    }

    lxw_error Write(const ExportTable &table)
    {
        if (table.rows.size() >= kMaxRows)
            return LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE;
        const std::size_t columns = std::min(table.ColumnCount(), kMaxColumns);
        if (lxw_error error = fitColumns(table, columns))
            return error;
        if (lxw_error error = writeRow(0, table.header, nullptr, m_bold))
            return error;
        worksheet_freeze_panes(m_sheet, 1, 0);
        if (columns > 0) {
            if (lxw_error error = worksheet_autofilter(m_sheet, 0, 0, lxw_row_t(table.rows.size()),
                                                       lxw_col_t(columns - 1)))
                return error;
        }
        // In constant-memory mode rows must come in order, one after another.
        for (std::size_t i = 0; i < table.rows.size(); ++i) {
            if (lxw_error error = writeRow(lxw_row_t(i + 1), table.rows[i], &table, nullptr))
                return error;
        }
        return LXW_NO_ERROR;
    }

private:
    // A row's cells as a sheet can hold them: those beyond the last column
    // are joined into it, one per line. Valid until the next call.
    const std::vector<std::string_view> &sheetCells(const std::vector<std::string> &cells)
    {
        m_cells.assign(cells.begin(), cells.begin() + std::ptrdiff_t(std::min(cells.size(), kMaxColumns)));
        if (cells.size() <= kMaxColumns)
            return m_cells;
        m_joined.clear();
        for (std::size_t i = kMaxColumns - 1; i < cells.size(); ++i) {
            if (!m_joined.empty())
                m_joined += '\n';
            m_joined += fittedToCell(cells[i]);
            if (m_joined.size() > 4 * kMaxCellCharacters)   // more characters than a cell takes
                break;
        }
        m_cells.back() = m_joined;
        return m_cells;
    }

    lxw_error fitColumns(const ExportTable &table, std::size_t columns)
    {
        std::vector<std::size_t> widths(columns, 0);
        const auto measure = [&](const std::vector<std::string> &cells) {
            const std::vector<std::string_view> &fitted = sheetCells(cells);
            for (std::size_t i = 0; i < fitted.size(); ++i)
                widths[i] = std::max(widths[i], std::min(widestLine(fitted[i]), kMaxFittedWidth));
        };
        measure(table.header);
        for (const std::vector<std::string> &row : table.rows)
            measure(row);
        for (std::size_t i = 0; i < columns; ++i) {
            const double width = double(std::min(widths[i] + kWidthPadding, kMaxFittedWidth));
            if (lxw_error error = worksheet_set_column(m_sheet, lxw_col_t(i), lxw_col_t(i), width, nullptr))
                return error;
        }
        return LXW_NO_ERROR;
    }

    lxw_error writeRow(lxw_row_t row, const std::vector<std::string> &cells, const ExportTable *types,
                       lxw_format *format)
    {
        const std::vector<std::string_view> &fitted = sheetCells(cells);
        for (std::size_t i = 0; i < fitted.size(); ++i) {
            const std::string_view text = fitted[i];
            if (text.empty())
                continue;
            const auto column = lxw_col_t(i);
            lxw_error error;
            long long number = 0;
            if (types && types->IsNumeric(i) && IsExportNumber(text)
                && std::from_chars(text.data(), text.data() + text.size(), number).ec == std::errc()) {
                error = worksheet_write_number(m_sheet, row, column, double(number), format);
            } else {
                assignSheetText(m_escaped, text);
                m_text.assign(fittedToCell(m_escaped));
                error = worksheet_write_string(m_sheet, row, column, m_text.c_str(), format);
            }
            if (error)
                return error;
        }
        return LXW_NO_ERROR;
    }

    lxw_worksheet *m_sheet;
    lxw_format *m_bold;
    // Buffers reused from row to row.
    std::vector<std::string_view> m_cells;
    std::string m_joined;
    std::string m_escaped;
    std::string m_text;
};

std::string describe(lxw_error error)
{
    return std::string("cannot write the workbook: ") + lxw_strerror(error);
}

std::string writeWorkbookFile(const std::string &temporaryPath, const ExportContent &content)
{
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook *workbook = workbook_new_opt(temporaryPath.c_str(), &options);
    if (!workbook)
        return "cannot start the workbook " + temporaryPath;

    lxw_error error = LXW_NO_ERROR;
    lxw_format *bold = workbook_add_format(workbook);
    lxw_worksheet *results = workbook_add_worksheet(workbook, kResultsSheet);
    lxw_worksheet *partners = content.partners.rows.empty() ? nullptr
                                                             : workbook_add_worksheet(workbook, kPartnersSheet);
    if (!bold || !results || (!content.partners.rows.empty() && !partners)) {
        error = LXW_ERROR_MEMORY_MALLOC_FAILED;
    } else {
        format_set_bold(bold);
        error = SheetWriter(results, bold).Write(content.results);
        if (!error && partners)
            error = SheetWriter(partners, bold).Write(content.partners);
    }
    // Closing also frees the workbook; after an error its file is thrown away.
    const lxw_error closed = workbook_close(workbook);
    if (error)
        return describe(error);
    if (closed)
        return describe(closed);
    return {};
}

} // namespace

std::string WriteWorkbook(const std::string &path, const ExportContent &content)
{
    return SaveAtomicallyThrough(path, [&content](int, const std::string &temporaryPath) {
        return writeWorkbookFile(temporaryPath, content);
    });
}

} // namespace kelvora
