#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace exporttest {

// One cell as the sheet's XML states it.
struct Cell {
    std::string type;    // the "t" attribute: "" or "n" number, "s" shared, "inlineStr", "str", "b"
    std::string value;   // the number's text, or the string itself (shared strings looked up)
    int style = 0;       // the "s" attribute, an index into the cell formats
};

struct Sheet {
    std::string name;
    // Rows by number (1-based), cells by column (0-based).
    std::map<int, std::map<int, Cell>> rows;
    std::string autoFilter;          // the autoFilter's ref, e.g. "A1:H3"
    std::string frozenPane;          // the pane's topLeftCell when its state is "frozen"
    std::map<int, double> widths;    // custom column widths by column (0-based)
};

struct Workbook {
    std::vector<Sheet> sheets;
    std::vector<bool> boldStyles;    // per cell format: whether its font is bold
    std::map<std::string, std::string> parts;   // every file of the archive
};

// Unpacks an .xlsx file (a zip) and reads its workbook, sheets, shared strings
// and cell formats. Empty when the file is no readable workbook; error says why.
std::optional<Workbook> ReadWorkbook(const std::string &path, std::string *error = nullptr);

// "A" -> 0, "Z" -> 25, "AA" -> 26: the column of a cell reference.
int ColumnOf(const std::string &reference);

} // namespace exporttest
