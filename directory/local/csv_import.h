#pragma once

#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "directory/local/dataset.h"

// Sites from a CSV file (RFC 4180: fields separated by ",", a field in
// double quotes may hold commas, line breaks and doubled quotes). The first
// record names the columns, in any order and letter case:
//   host          required; the site's host name (a URL is accepted)
//   title, description
//   keywords      words separated by blanks, "," or ";"
//   contact       one item per line ("Name: ...", "Mail: ...")
//   outbound      linked hosts or URLs separated by blanks
//   online_since  free text, e.g. 1998-03-12; empty when unknown
//   popularity    decimal; derived from the links when empty
//   rank          decimal; derived from the popularity order when empty
// Other columns are ignored; empty records are skipped.
namespace kelvora::directory {

// Longest field accepted; a longer one is taken for a broken file.
constexpr std::size_t kMaxCsvField = 1 << 20;

// Reads the sites one record at a time, so a file of any size takes little
// memory. Records end at CR LF, LF or a lone CR (as old spreadsheets on the
// Mac write them); a line break inside a quoted field is kept as LF. Throws
// std::runtime_error naming the record's line on a malformed file.
class CsvSiteReader final {
public:
    explicit CsvSiteReader(std::istream &in);   // reads the header
    ~CsvSiteReader();
    CsvSiteReader(const CsvSiteReader &) = delete;
    CsvSiteReader &operator=(const CsvSiteReader &) = delete;

    // The next site; false at the end of the file.
    bool Next(SiteInput &site);

private:
    class Records;
    std::unique_ptr<Records> m_records;
    std::vector<int> m_position;   // column → field index, -1 when absent
    std::vector<std::string> m_fields;
};

// Every site of the file.
std::vector<SiteInput> ReadCsvSites(std::istream &in);

} // namespace kelvora::directory
