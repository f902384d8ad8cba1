#include "app/export_content.h"
#include "app/export_csv.h"
#include "app/export_xlsx.h"
#include "app/partner_contacts.h"
#include "permissions.h"
#include "tests/platform/temporary_folder.h"
#include "xlsx_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

using kelvora::ExportContent;
using kelvora::ExportTable;
using kelvora::FormatCsv;
using kelvora::PartnerContacts;
using kelvora::ResultRow;
using kelvora::testing::readFile;
using kelvora::testing::TemporaryFolder;
namespace fs = std::filesystem;

namespace {

const QStringList kCaptions = {"Website URL", "Rank #", "Popularity", "Alexa Rank #",
                               "Online Since", "Agreement Estimation", "Competitor"};
const std::string kBom = "\xEF\xBB\xBF";
const std::string kCsvHeader =
    "Website URL,Rank #,Popularity,Alexa Rank #,Online Since,Agreement Estimation,Competitor,Ticked\r\n";

ExportTable oneColumn(const std::vector<std::string> &cells)
{
    ExportTable table;
    table.header = {"h"};
    for (const std::string &cell : cells)
        table.rows.push_back({cell});
    return table;
}

std::vector<std::string> folderEntries(const fs::path &folder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A table with the awkward cells the export meets: accents (the table's
// texts are 8-bit), an empty and a short row, a leading zero, a negative and a
// too long number, a non-number in a numeric column.
std::vector<ResultRow> sampleRows()
{
    return {
        {QString::fromLatin1("www.caf\xe9.test"), true, {"1", "1230", "45678", "12-Jan-1999", "-12", "other.test"}},
        {"b.test", false, {"2", "007", "", "", "n/a", ""}},
        {"a-rather-long-host-name.example.test", false, {"3", "12345678901234567"}},
    };
}

} // namespace

TEST(ExportCsv, QuotesFieldsAndDisarmsFormulas)
{
    const struct {
        std::string cell;
        std::string field;
    } cases[] = {
        {"plain", "plain"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {"lf\nonly", "\"lf\nonly\""},
        {"cr\ronly", "\"cr\ronly\""},
        {"=SUM(A1:A2)", "'=SUM(A1:A2)"},
        {"+1", "'+1"},
        {"-5", "'-5"},
        {"@cmd", "'@cmd"},
        {"\tx", "'\tx"},
        {"\rx", "\"'\rx\""},
        {"=1,2", "\"'=1,2\""},
        {"a=b", "a=b"},
        {" =x", " =x"},
        {"Caf\xC3\xA9", "Caf\xC3\xA9"},
    };
    for (const auto &c : cases) {
        ExportContent content;
        content.results = oneColumn({c.cell});
        EXPECT_EQ(FormatCsv(content), kBom + "h\r\n" + c.field + "\r\n") << c.cell;
    }
}

TEST(ExportCsv, WritesTheTableInOrderAsUtf8)
{
    ExportContent content;
    content.results = kelvora::ResultsExportTable(kCaptions, sampleRows());
    EXPECT_EQ(FormatCsv(content),
              kBom + kCsvHeader +
                  "www.caf\xC3\xA9.test,1,1230,45678,12-Jan-1999,'-12,other.test,yes\r\n"
                  "b.test,2,007,,,n/a,,no\r\n"
                  "a-rather-long-host-name.example.test,3,12345678901234567,,,,,no\r\n");

    // An empty table is the header alone, with no partner part.
    content.results = kelvora::ResultsExportTable(kCaptions, {});
    EXPECT_EQ(FormatCsv(content), kBom + kCsvHeader);
}

TEST(ExportCsv, PartnersFollowAfterOneEmptyLine)
{
    PartnerContacts contacts;
    contacts.Remember("http://www.Shop.test/", {"Acme & Sons", "1 Main St., Town", "caf\xe9@shop.test"});
    contacts.Remember("b.test", {"Bo"});
    ExportContent content;
    content.results = kelvora::ResultsExportTable(kCaptions, {});
    content.partners = kelvora::PartnersExportTable({"www.shop.test/", "b.test", "none.test"}, contacts);
    EXPECT_EQ(FormatCsv(content),
              kBom + kCsvHeader + "\r\n"
                  "Website URL,Contact line 1,Contact line 2,Contact line 3\r\n"
                  "www.shop.test/,Acme & Sons,\"1 Main St., Town\",caf\xC3\xA9@shop.test\r\n"
                  "b.test,Bo,,\r\n"
                  "none.test,,,\r\n");

    // Partners of whom nothing was read give the address column alone.
    content.partners = kelvora::PartnersExportTable({"none.test"}, PartnerContacts());
    EXPECT_EQ(FormatCsv(content), kBom + kCsvHeader + "\r\nWebsite URL\r\nnone.test\r\n");
}

TEST(PartnerContacts, KnowsAPartnerByItsBareHostAndKeepsWhatWasRead)
{
    PartnerContacts contacts;
    EXPECT_TRUE(contacts.LinesFor("shop.test").empty());
    contacts.Remember("http://www.Shop.test", {"first"});
    EXPECT_EQ(contacts.LinesFor("shop.test"), std::vector<std::string>{"first"});
    EXPECT_EQ(contacts.LinesFor("WWW.SHOP.TEST"), std::vector<std::string>{"first"});
    // A reading that found nothing does not wipe an earlier one; a new one replaces it.
    contacts.Remember("shop.test", {});
    EXPECT_EQ(contacts.LinesFor("shop.test"), std::vector<std::string>{"first"});
    contacts.Remember("shop.test", {"second", "third"});
    EXPECT_EQ(contacts.LinesFor("www.shop.test"), (std::vector<std::string>{"second", "third"}));
    EXPECT_TRUE(contacts.LinesFor("other.test").empty());
}

TEST(IsExportNumber, TakesOnlyIntegersASpreadsheetKeepsExactly)
{
    for (const char *number : {"0", "1", "-12", "999999999", "123456789012345", "-123456789012345"})
        EXPECT_TRUE(kelvora::IsExportNumber(number)) << number;
    for (const char *text : {"", "-", "-0", "007", "+5", "1.5", "1e3", " 1", "1 ", "12-Jan-1999",
                             "1234567890123456", "0x1F"})
        EXPECT_FALSE(kelvora::IsExportNumber(text)) << text;
}

TEST(ExportWorkbook, ReadsBackWithSheetsHeaderTypesAndRows)
{
    TemporaryFolder folder;
    const fs::path path = folder.path() / "list.xlsx";
    PartnerContacts contacts;
    contacts.Remember("shop.test", {"Acme & Sons", "<b>1 Main St.</b>", "=cmd", "ctl\x01 _x0041_ _x00_"});
    ExportContent content;
    content.results = kelvora::ResultsExportTable(kCaptions, sampleRows());
    content.partners = kelvora::PartnersExportTable({"shop.test", "none.test"}, contacts);
    ASSERT_EQ(kelvora::WriteWorkbook(path.string(), content), "");

    std::string error;
    const auto book = exporttest::ReadWorkbook(path.string(), &error);
    ASSERT_TRUE(book) << error;
    ASSERT_EQ(book->sheets.size(), 2u);
    const exporttest::Sheet &results = book->sheets[0];
    const exporttest::Sheet &partners = book->sheets[1];
    EXPECT_EQ(results.name, "Results");
    EXPECT_EQ(partners.name, "Partners");

    // Header: the captions and "Ticked", bold, frozen, under an auto-filter.
    ASSERT_EQ(results.rows.size(), 4u);
    const auto &header = results.rows.at(1);
    ASSERT_EQ(header.size(), 8u);
    for (int column = 0; column < 8; ++column) {
        const exporttest::Cell &cell = header.at(column);
        EXPECT_EQ(cell.value, column < 7 ? kCaptions[column].toStdString() : "Ticked");
        EXPECT_NE(cell.type, "n");
        ASSERT_LT(std::size_t(cell.style), book->boldStyles.size());
        EXPECT_TRUE(book->boldStyles[std::size_t(cell.style)]) << column;
    }
    EXPECT_EQ(results.frozenPane, "A2");
    EXPECT_EQ(results.autoFilter, "A1:H4");

    // Integers of the numeric columns are numbers; everything else is text,
    // and empty cells are left out.
    const auto isNumber = [](const exporttest::Cell &cell) { return cell.type.empty() || cell.type == "n"; };
    const auto &first = results.rows.at(2);
    ASSERT_EQ(first.size(), 8u);
    EXPECT_EQ(first.at(0).value, "www.caf\xC3\xA9.test");
    for (const int column : {1, 2, 3, 5})
        EXPECT_TRUE(isNumber(first.at(column))) << column;
    EXPECT_EQ(first.at(5).value, "-12");
    EXPECT_EQ(first.at(3).value, "45678");
    for (const int column : {0, 4, 6, 7})
        EXPECT_FALSE(isNumber(first.at(column))) << column;
    EXPECT_EQ(first.at(7).value, "yes");
    EXPECT_FALSE(book->boldStyles.at(std::size_t(first.at(0).style)));

    const auto &second = results.rows.at(3);
    EXPECT_EQ(second.size(), 5u);   // caption, rank, "007", "n/a", "no"
    EXPECT_FALSE(isNumber(second.at(2)));
    EXPECT_EQ(second.at(2).value, "007");
    EXPECT_FALSE(isNumber(second.at(5)));
    EXPECT_EQ(second.at(7).value, "no");
    const auto &third = results.rows.at(4);
    EXPECT_FALSE(isNumber(third.at(2)));
    EXPECT_EQ(third.at(2).value, "12345678901234567");

    // Widths follow the content: the long host's column is the widest.
    ASSERT_EQ(results.widths.size(), 8u);
    for (int column = 1; column < 8; ++column)
        EXPECT_LT(results.widths.at(column), results.widths.at(0)) << column;
    EXPECT_GT(results.widths.at(0), double(std::string("a-rather-long-host-name.example.test").size()));
    EXPECT_GT(results.widths.at(5), double(std::string("Agreement Estimation").size()));

    // Partners: address and contact lines, texts as written (no formula guard needed).
    EXPECT_EQ(partners.frozenPane, "A2");
    EXPECT_EQ(partners.autoFilter, "A1:E3");
    ASSERT_EQ(partners.rows.size(), 3u);
    EXPECT_EQ(partners.rows.at(1).at(3).value, "Contact line 3");
    const auto &shop = partners.rows.at(2);
    ASSERT_EQ(shop.size(), 5u);
    EXPECT_EQ(shop.at(0).value, "shop.test");
    EXPECT_EQ(shop.at(1).value, "Acme & Sons");
    EXPECT_EQ(shop.at(2).value, "<b>1 Main St.</b>");
    EXPECT_EQ(shop.at(3).value, "=cmd");
    EXPECT_NE(shop.at(3).type, "str");   // a string, not a formula's result
    // Control characters and texts that look like character codes come back as written.
    EXPECT_EQ(shop.at(4).value, "ctl\x01 _x0041_ _x00_");
    EXPECT_EQ(partners.rows.at(3).size(), 1u);
}

TEST(ExportWorkbook, WithoutPartnersHasOneSheetAndAnEmptyTableItsHeader)
{
    TemporaryFolder folder;
    const fs::path path = folder.path() / "empty.xlsx";
    ExportContent content;
    content.results = kelvora::ResultsExportTable(kCaptions, {});
    ASSERT_EQ(kelvora::WriteWorkbook(path.string(), content), "");
    const auto book = exporttest::ReadWorkbook(path.string());
    ASSERT_TRUE(book);
    ASSERT_EQ(book->sheets.size(), 1u);
    EXPECT_EQ(book->sheets[0].name, "Results");
    ASSERT_EQ(book->sheets[0].rows.size(), 1u);
    EXPECT_EQ(book->sheets[0].rows.at(1).size(), 8u);
    EXPECT_EQ(book->sheets[0].autoFilter, "A1:H1");
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
    content.partners.header = {"Website URL"};
    content.partners.rows = {cells};
    ASSERT_EQ(kelvora::WriteWorkbook(path.string(), content), "");

    const auto book = exporttest::ReadWorkbook(path.string());
    ASSERT_TRUE(book);
    ASSERT_EQ(book->sheets.size(), 2u);
    const std::string &cut = book->sheets[0].rows.at(2).at(0).value;
    EXPECT_EQ(cut.size(), 2 * kCellLimit);
    const auto &row = book->sheets[1].rows.at(2);
    ASSERT_EQ(row.size(), kColumnLimit);
    EXPECT_EQ(row.at(int(kColumnLimit) - 2).value, "l16382");
    EXPECT_EQ(row.at(int(kColumnLimit) - 1).value, "l16383\nl16384\nl16385");
}

TEST(ExportFiles, AFailedWriteKeepsTheOldFileAndLeavesNoTemporary)
{
    TemporaryFolder folder;
    ExportContent content;
    std::vector<ResultRow> rows;
    for (int i = 0; i < 200; ++i)
        rows.push_back({QStringLiteral("site%1.test").arg(i), true, {"1", "2", "3", "4", "5", "6"}});
    content.results = kelvora::ResultsExportTable(kCaptions, rows);
    const std::pair<const char *, std::function<std::string(const std::string &)>> writers[] = {
        {"old.csv", [&](const std::string &path) { return kelvora::WriteCsvFile(path, content); }},
        {"old.xlsx", [&](const std::string &path) { return kelvora::WriteWorkbook(path, content); }},
    };
    std::signal(SIGXFSZ, SIG_IGN);
    for (const auto &[name, write] : writers) {
        SCOPED_TRACE(name);
        const fs::path path = folder.path() / name;
        { std::ofstream(path, std::ios::binary) << "old"; }

        // The file size limit makes every longer write fail, as a full disk would.
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 64;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const std::string error = write(path.string());
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        EXPECT_NE(error, "");
        EXPECT_EQ(readFile(path), "old");
        EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{name});

        // A read-only folder.
        ASSERT_EQ(::chmod(folder.path().c_str(), 0500), 0);
        {
            const exporttest::PermissionsApply permissions;
            ASSERT_TRUE(permissions.ok());
            EXPECT_NE(write(path.string()), "");
        }
        ASSERT_EQ(::chmod(folder.path().c_str(), 0700), 0);
        EXPECT_EQ(readFile(path), "old");

        // And the write that can go through replaces the file.
        EXPECT_EQ(write(path.string()), "");
        EXPECT_NE(readFile(path), "old");
        EXPECT_EQ(folderEntries(folder.path()), std::vector<std::string>{name});
        fs::remove(path);
    }
}
