#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kelvora {

// One table of an export, its texts in UTF-8. A row shorter than the widest
// row or the header leaves its remaining cells empty.
struct ExportTable {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    // Per column: whether a workbook stores a cell holding an integer as a
    // number rather than as text. Columns beyond the list are text.
    std::vector<bool> numeric;

    // The widest of the header and the rows.
    std::size_t ColumnCount() const;
    bool IsNumeric(std::size_t column) const;
};

// What an export holds: the results table, then the partner list.
struct ExportContent {
    ExportTable results;
    ExportTable partners;   // left out when it has no rows
};

// Whether text is an integer that a spreadsheet shows exactly as written: "0",
// or an optional "-" and at most 15 digits without a leading zero (so a double
// holds it exactly). "007", "+5", "-0" and "1.5" stay text.
bool IsExportNumber(std::string_view text);

} // namespace kelvora
