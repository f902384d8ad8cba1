#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace exporttest {

struct Cell {
    std::string type;    // the "t" attribute: "" for a number, "inlineStr", "s" (shared), "str" (formula)
    std::string value;   // the number's text or the string (shared strings looked up)
    int style = 0;       // index into the cell formats
};

struct Sheet {
    std::string name;
    std::map<int, std::map<int, Cell>> rows;   // by row number (from 1), then column (from 0)
    std::string autoFilter;                    // its ref, e.g. "A1:H3"
    std::string frozenAt;                      // top-left cell of a frozen pane
    std::map<int, double> widths;              // custom widths by column (from 0)
};

struct Workbook {
    std::vector<Sheet> sheets;
    std::vector<bool> boldStyles;              // per cell format: is its font bold
    std::map<std::string, std::string> parts;  // every file of the zip
};

// Unpacks an .xlsx file with libarchive and reads its sheets, shared strings
// and cell formats. Empty when it is no readable zip with a workbook.
std::optional<Workbook> ReadWorkbook(const std::string &path);

} // namespace exporttest
