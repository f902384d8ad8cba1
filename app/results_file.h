#pragma once

#include "app/results_table.h"

#include <QString>

#include <string>
#include <string_view>
#include <vector>

namespace kelvora {

// The whole content of a results file: the table's rows in order and the two
// labels above the table.
struct ResultsFileContent {
    std::vector<ResultRow> rows;
    QString result;     // [Option] Result, the caption of ResultsLabel
    QString date;       // [Option] Date, the caption of DateLabel
    // The file has a results section ("item" + digits, or "Option", in any
    // letter case). Anything else (a CSV, a workbook, any other file) is not
    // a results file, and opening it must leave the table alone.
    bool recognised = false;
};

// Reads a results file by the profile-file rules. Rows come from the sections
// "item0", "item1", ... below the number of section names in the file, in
// number order; a missing section, or one without keys, is skipped. A missing
// or unreadable file gives no rows and empty labels. Never throws.
ResultsFileContent ReadResultsFile(const QString &path);
ResultsFileContent ParseResultsFile(std::string_view bytes);

// A "check" value: 0 clears the tick box; any other integer, a value that is
// not an integer and a missing value tick it. Decimal, or hexadecimal when the
// value is longer than two characters and starts with "0x" or "0X".
bool CheckValueTicks(const std::string *value);

// The bytes a save writes: one "item" + i section per row with each column's
// key in column order (website, SE-rank, ..., Compete), then check (1/0),
// then [Option] with Result and Date. A line break inside a value becomes a
// blank, so the file stays valid and every other row survives.
std::string FormatResultsFile(const ResultsFileContent &content);

// Writes the file afresh, atomically: on failure the previous file is left as
// it was. Returns the empty text on success, otherwise the reason.
std::string WriteResultsFile(const QString &path, const ResultsFileContent &content);

// Writes bytes afresh to path, atomically; the empty text on success,
// otherwise the reason (used for the partner text as well).
std::string WriteWholeFile(const QString &path, std::string_view bytes);

} // namespace kelvora
