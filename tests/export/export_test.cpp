#include "app/export_content.h"
#include "app/export_csv.h"
#include "app/export_xlsx.h"
#include "app/partner_contacts.h"
#include "tests/platform/temporary_folder.h"
#include "xlsx_reader.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>

using kelvora::ExportContent;
using kelvora::ExportTable;
using kelvora::FormatCsv;
using kelvora::PartnerContacts;
using kelvora::ResultRow;
using kelvora::testing::readFile;
using kelvora::testing::TemporaryFolder;
namespace fs = std::filesystem;

namespace {

const std::string kBom = "\xEF\xBB\xBF";
const std::string kCsvHeader =
    "Website URL,Rank #,Popularity,Alexa Rank #,Online Since,Agreement Estimation,Competitor,Ticked\r\n";

ExportTable oneColumn(const std::vector<std::string> &cells)
{
    ExportTable table{{"h"}, {}, {}};
    for (const std::string &cell : cells)
        table.rows.push_back({cell});
    return table;
}

// The awkward cells an export meets: accents (the table's texts are 8-bit),
// a short row, a leading zero, a negative and a too long number, a
// non-number in a numeric column.
std::vector<ResultRow> sampleRows()
{
    return {
        {QString::fromLatin1("www.caf\xe9.test"), true, {"1", "1230", "45678", "12-Jan-1999", "-12", "rival.test"}},
        {"b.test", false, {"2", "007", "", "", "n/a", ""}},
        {"a-rather-long-host-name.example.test", false, {"3", "12345678901234567"}},
    };
}

} // namespace

TEST(ExportCsv, QuotesFieldsAndDisarmsFormulas)
{
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"}, {"", ""}, {"a,b", "\"a,b\""}, {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""}, {"lf\nonly", "\"lf\nonly\""}, {"cr\ronly", "\"cr\ronly\""},
        {"=SUM(A1:A2)", "'=SUM(A1:A2)"}, {"+1", "'+1"}, {"-5", "'-5"}, {"@cmd", "'@cmd"}, {"\tx", "'\tx"},
        {"\rx", "\"'\rx\""}, {"=1,2", "\"'=1,2\""}, {"a=b", "a=b"}, {" =x", " =x"},
    };
    for (const auto &[cell, field] : cases) {
        ExportContent content;
        content.results = oneColumn({cell});
        EXPECT_EQ(FormatCsv(content), kBom + "h\r\n" + field + "\r\n") << cell;
    }
}

TEST(ExportCsv, WritesTheTableThenThePartnersAsUtf8)
{
    ExportContent content;
    content.results = kelvora::ResultsExportTable(sampleRows());
    EXPECT_EQ(FormatCsv(content),
              kBom + kCsvHeader +
                  "www.caf\xC3\xA9.test,1,1230,45678,12-Jan-1999,'-12,rival.test,yes\r\n"
                  "b.test,2,007,,,n/a,,no\r\n"
                  "a-rather-long-host-name.example.test,3,12345678901234567,,,,,no\r\n");

    // An empty table is the header alone; partners follow one empty line, with
    // as many fields on every line as the partner who has the most.
    PartnerContacts contacts;
    contacts.Remember("b.test", {"Bo", "1 Main St., Town", "caf\xe9@b.test"});
    content.results = kelvora::ResultsExportTable({});
    EXPECT_EQ(FormatCsv(content), kBom + kCsvHeader);
    content.partners = kelvora::PartnersExportTable({"www.b.test", "none.test"}, contacts);
    EXPECT_EQ(FormatCsv(content), kBom + kCsvHeader + "\r\n"
                                      "Website URL,Contact line 1,Contact line 2,Contact line 3\r\n"
                                      "www.b.test,Bo,\"1 Main St., Town\",caf\xC3\xA9@b.test\r\n"
                                      "none.test,,,\r\n");
}

TEST(PartnerContacts, KnowsAPartnerByItsBareHostAndKeepsWhatWasRead)
{
    PartnerContacts contacts;
    contacts.Remember("http://www.Shop.test", {"first"});
    EXPECT_EQ(contacts.LinesFor("shop.test"), std::vector<std::string>{"first"});
    // A reading that found nothing does not wipe an earlier one; a new one replaces it.
    contacts.Remember("shop.test", {});
    EXPECT_EQ(contacts.LinesFor("WWW.SHOP.TEST"), std::vector<std::string>{"first"});
    contacts.Remember("shop.test", {"second"});
    EXPECT_EQ(contacts.LinesFor("www.shop.test"), std::vector<std::string>{"second"});
    EXPECT_TRUE(contacts.LinesFor("other.test").empty());
}

TEST(ExportWorkbook, ReadsBackWithSheetsHeaderTypesAndRows)
{
    TemporaryFolder folder;
    const fs::path path = folder.path() / "list.xlsx";
    PartnerContacts contacts;
    contacts.Remember("shop.test", {"Acme & Sons", "=cmd", "ctl\x01 _x0041_"});
    ExportContent content;
    content.results = kelvora::ResultsExportTable(sampleRows());
    content.partners = kelvora::PartnersExportTable({"shop.test", "none.test"}, contacts);
    ASSERT_EQ(kelvora::WriteWorkbook(path.string(), content), "");

    const auto book = exporttest::ReadWorkbook(path.string());
    ASSERT_TRUE(book);
    ASSERT_EQ(book->sheets.size(), 2u);
    const exporttest::Sheet &results = book->sheets[0];
    EXPECT_EQ(results.name, "Results");
    EXPECT_EQ(book->sheets[1].name, "Partners");

    // Header: the captions and "Ticked", bold, frozen, under an auto-filter.
    ASSERT_EQ(results.rows.size(), 4u);
    const auto &header = results.rows.at(1);
    ASSERT_EQ(header.size(), 8u);
    const std::string captions[] = {"Website URL", "Rank #", "Popularity", "Alexa Rank #",
                                    "Online Since", "Agreement Estimation", "Competitor", "Ticked"};
    for (int column = 0; column < 8; ++column) {
        EXPECT_EQ(header.at(column).value, captions[column]);
        EXPECT_TRUE(book->boldStyles.at(std::size_t(header.at(column).style))) << column;
    }
    EXPECT_EQ(results.frozenAt, "A2");
    EXPECT_EQ(results.autoFilter, "A1:H4");

    // Integers of the numeric columns are numbers, all else text; empty cells are left out.
    const auto types = [&](int row) {
        std::string letters;
        for (const auto &[column, cell] : results.rows.at(row))
            letters += cell.type.empty() ? 'n' : 't';
        return letters;
    };
    EXPECT_EQ(types(2), "tnnntntt");
    EXPECT_EQ(types(3), "tnttt");   // "007" and "n/a" stay text
    EXPECT_EQ(types(4), "tntt");    // so does a number a double cannot hold
    const auto &first = results.rows.at(2);
    EXPECT_EQ(first.at(0).value, "www.caf\xC3\xA9.test");
    EXPECT_EQ(first.at(5).value, "-12");
    EXPECT_EQ(first.at(7).value, "yes");
    EXPECT_FALSE(book->boldStyles.at(std::size_t(first.at(0).style)));
    EXPECT_EQ(results.rows.at(4).at(2).value, "12345678901234567");

    // Widths follow the content: the long host's column is the widest.
    ASSERT_EQ(results.widths.size(), 8u);
    for (int column = 1; column < 8; ++column)
        EXPECT_LT(results.widths.at(column), results.widths.at(0)) << column;
    EXPECT_GT(results.widths.at(5), double(std::string("Agreement Estimation").size()));

    // Partners: address and contact lines as strings, never formulas; a text
    // that looks like a character code is escaped so it reads back as written.
    const exporttest::Sheet &partners = book->sheets[1];
    EXPECT_EQ(partners.frozenAt, "A2");
    EXPECT_EQ(partners.autoFilter, "A1:D3");
    ASSERT_EQ(partners.rows.size(), 3u);
    const auto &shop = partners.rows.at(2);
    ASSERT_EQ(shop.size(), 4u);
    EXPECT_EQ(shop.at(1).value, "Acme & Sons");
    EXPECT_EQ(shop.at(2).type, "inlineStr");
    EXPECT_EQ(shop.at(2).value, "=cmd");
    EXPECT_EQ(shop.at(3).value, "ctl_x0001_ _x005F_x0041_");
    EXPECT_EQ(partners.rows.at(3).size(), 1u);

    // Without partners there is one sheet; an empty table is its header.
    content.results = kelvora::ResultsExportTable({});
    content.partners = {};
    ASSERT_EQ(kelvora::WriteWorkbook(path.string(), content), "");
    const auto empty = exporttest::ReadWorkbook(path.string());
    ASSERT_TRUE(empty);
    ASSERT_EQ(empty->sheets.size(), 1u);
    EXPECT_EQ(empty->sheets[0].rows.size(), 1u);
    EXPECT_EQ(empty->sheets[0].autoFilter, "A1:H1");
}

TEST(ExportWorkbook, CutsTextsAndRowsToWhatASheetHolds)
{
    constexpr std::size_t kCellLimit = 32767;
    constexpr std::size_t kColumnLimit = 16384;
    TemporaryFolder folder;
    const fs::path path = folder.path() / "big.xlsx";
    std::string accents;
    for (std::size_t i = 0; i < kCellLimit + 100; ++i)
        accents += "\xC3\xA9";
    std::vector<std::string> cells{"wide.test"};
    for (std::size_t i = 1; i < kColumnLimit + 2; ++i)
        cells.push_back("l" + std::to_string(i));
    ExportContent content;
    content.results = oneColumn({accents});
    content.partners = {{"Website URL"}, {cells}, {}};
    ASSERT_EQ(kelvora::WriteWorkbook(path.string(), content), "");

    const auto book = exporttest::ReadWorkbook(path.string());
    ASSERT_TRUE(book);
    EXPECT_EQ(book->sheets.at(0).rows.at(2).at(0).value.size(), 2 * kCellLimit);
    const auto &row = book->sheets.at(1).rows.at(2);
    ASSERT_EQ(row.size(), kColumnLimit);
    EXPECT_EQ(row.at(int(kColumnLimit) - 2).value, "l16382");
    EXPECT_EQ(row.at(int(kColumnLimit) - 1).value, "l16383\nl16384\nl16385");
}

TEST(ExportFiles, AFailedWriteKeepsTheOldFileAndLeavesNoTemporary)
{
    TemporaryFolder folder;
    ExportContent content;
    std::vector<ResultRow> rows(200, {"site.test", true, {"1", "2", "3", "4", "5", "6"}});
    content.results = kelvora::ResultsExportTable(rows);
    std::signal(SIGXFSZ, SIG_IGN);
    for (const std::string name : {"old.csv", "old.xlsx"}) {
        SCOPED_TRACE(name);
        const fs::path path = folder.path() / name;
        const auto write = [&] {
            return name == "old.csv" ? kelvora::WriteCsvFile(path.string(), content)
                                     : kelvora::WriteWorkbook(path.string(), content);
        };
        std::ofstream(path, std::ios::binary) << "old";

        // The file size limit fails the write half-way, as a full disk would.
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 64;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const std::string error = write();
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        EXPECT_NE(error, "");
        EXPECT_EQ(readFile(path), "old");
        EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);

        EXPECT_EQ(write(), "");
        EXPECT_NE(readFile(path), "old");
        fs::remove(path);
    }
}
