#pragma once

#include "app/export_table.h"

#include <string>

namespace kelvora {

// The export as CSV (RFC 4180): UTF-8 after a byte-order mark (so spreadsheet
// programs read accents), every record ended by CR LF, the results table, and
// when there are partners one empty line and the partner table. Every record
// of a table has as many fields as the table has columns. A field holding a
// comma, a quote, CR or LF is quoted with its quotes doubled; a field that
// begins with "=", "+", "-", "@", tab or CR gets a leading "'", so that no
// spreadsheet takes it for a formula.
std::string FormatCsv(const ExportContent &content);

// Writes FormatCsv to path atomically. Returns the empty text on success,
// otherwise the reason; on failure an existing file stays as it was.
std::string WriteCsvFile(const std::string &path, const ExportContent &content);

} // namespace kelvora
