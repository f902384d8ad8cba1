#pragma once

#include "app/export_table.h"

#include <string>

namespace kelvora {

// Writes the export as an Excel workbook: the results table on the sheet
// "Results" and, when there are partners, the partner table on the sheet
// "Partners". On each sheet the header row is bold and frozen, an auto-filter
// spans the table, integers of numeric columns are numbers and everything
// else is text, and columns are as wide as their content. Rows go to disk as
// they are written (constant memory).
//
// A cell holds at most 32767 characters and a sheet 16384 columns: a longer
// text is cut, and the cells of a row beyond the last column are joined into
// that column, one per line.
//
// The workbook is built in a temporary file beside path and renamed over it
// only when complete. Returns the empty text on success, otherwise the reason;
// on failure an existing file stays as it was.
std::string WriteWorkbook(const std::string &path, const ExportContent &content);

} // namespace kelvora
