// Every column of the results table through the ways its values travel: a
// results file written and read back, the export as CSV and as a workbook, and
// the sort by its title. The expectations are written out here, not taken from
// the column table, so a changed caption, key, type or order shows.
#include "xlsx_reader.h"

#include "app/export_content.h"
#include "app/export_csv.h"
#include "app/export_xlsx.h"
#include "app/results_file.h"
#include "app/results_table.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <string>

using kelvora::ResultColumn;
using kelvora::ResultRow;

namespace {

enum class Order { Ascending, Descending, Kept };

// A row with every column set to filler, and column set to value.
ResultRow rowWith(ResultColumn column, const QString &value, bool ticked)
{
    ResultRow row{QStringLiteral("filler.test"), ticked, {"1", "2", "3", "Jan 1999", "5", "rival.test"}};
    if (column == ResultColumn::Website)
        row.caption = value;
    else
        row.cells[kelvora::CellOf(column)] = value;
    return row;
}

// The lines of one section of a results file, from its header to the next.
std::string section(const std::string &file, const std::string &name)
{
    const std::size_t start = file.find("[" + name + "]\r\n");
    if (start == std::string::npos)
        return {};
    const std::size_t end = file.find("\r\n[", start + 1);
    return file.substr(start, end == std::string::npos ? std::string::npos : end + 2 - start);
}

} // namespace

Q_DECLARE_METATYPE(ResultColumn)
Q_DECLARE_METATYPE(Order)

class ResultColumnsTest final : public QObject {
    Q_OBJECT
private slots:
    void everyColumnTravelsThroughFileExportAndSort_data();
    void everyColumnTravelsThroughFileExportAndSort();
};

void ResultColumnsTest::everyColumnTravelsThroughFileExportAndSort_data()
{
    QTest::addColumn<ResultColumn>("column");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<QString>("low");
    QTest::addColumn<QString>("high");
    QTest::addColumn<Order>("order");

    QTest::newRow("website") << ResultColumn::Website << 0 << "Website URL" << "website" << false
                             << "alpha.test" << "Beta.test" << Order::Ascending;
    QTest::newRow("rank") << ResultColumn::Rank << 1 << "Rank #" << "SE-rank" << true << "2" << "10"
                          << Order::Ascending;
    QTest::newRow("popularity") << ResultColumn::Popularity << 2 << "Popularity" << "popularity" << true
                                << "87" << "950" << Order::Descending;
    QTest::newRow("traffic rank") << ResultColumn::TrafficRank << 3 << "Alexa Rank #" << "Alexa" << true
                                  << "450" << "999999999" << Order::Ascending;
    QTest::newRow("online since") << ResultColumn::OnlineSince << 4 << "Online Since" << "Since" << false
                                  << "Dec 1998" << "Jan 2003" << Order::Kept;
    QTest::newRow("agreement") << ResultColumn::Agreement << 5 << "Agreement Estimation" << "Agreement"
                               << true << "-3" << "4" << Order::Descending;
    QTest::newRow("competitor") << ResultColumn::Competitor << 6 << "Competitor" << "Compete" << false
                                << "alpha.test" << "Beta.test" << Order::Ascending;
}

void ResultColumnsTest::everyColumnTravelsThroughFileExportAndSort()
{
    QFETCH(ResultColumn, column);
    QFETCH(int, index);
    QFETCH(QString, caption);
    QFETCH(QString, key);
    QFETCH(bool, numeric);
    QFETCH(QString, low);
    QFETCH(QString, high);
    QFETCH(Order, order);
    QCOMPARE(static_cast<int>(column), index);

    // Stored in the order the sort has to change (a kept order must stay).
    const bool lowFirst = order == Order::Descending;
    const QString first = lowFirst ? low : high;
    const QString second = lowFirst ? high : low;

    // Save: the value stands under the column's key in its row's section.
    kelvora::ResultsFileContent saved;
    saved.rows = {rowWith(column, first, true), rowWith(column, second, false)};
    const std::string file = kelvora::FormatResultsFile(saved);
    const std::string line = "\r\n" + key.toStdString() + "=" + first.toStdString() + "\r\n";
    QVERIFY2(section(file, "item0").find(line) != std::string::npos, file.c_str());

    // Load: the same rows come back.
    const kelvora::ResultsFileContent loaded = kelvora::ParseResultsFile(file);
    QCOMPARE(loaded.rows.size(), std::size_t(2));
    for (std::size_t i = 0; i < 2; ++i) {
        QCOMPARE(loaded.rows[i].caption, saved.rows[i].caption);
        QCOMPARE(loaded.rows[i].cells, saved.rows[i].cells);
        QCOMPARE(loaded.rows[i].ticked, saved.rows[i].ticked);
    }

    // Export: the caption heads the column in both formats; a workbook holds
    // the value as a number exactly when the column is numeric.
    kelvora::ExportContent content;
    content.results = kelvora::ResultsExportTable(loaded.rows);
    const std::string csv = kelvora::FormatCsv(content);
    const QStringList header = QString::fromStdString(csv.substr(3, csv.find("\r\n") - 3)).split(u',');
    QCOMPARE(header.value(index), caption);
    QCOMPARE(header.size(), 8);
    const QStringList firstRecord =
        QString::fromStdString(csv.substr(csv.find("\r\n") + 2)).section(QStringLiteral("\r\n"), 0, 0).split(u',');
    QCOMPARE(firstRecord.value(index), first.startsWith(u'-') ? QLatin1Char('\'') + first : first);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string path = folder.filePath(QStringLiteral("list.xlsx")).toStdString();
    QCOMPARE(kelvora::WriteWorkbook(path, content), std::string());
    const auto book = exporttest::ReadWorkbook(path);
    QVERIFY(book && !book->sheets.empty());
    const auto &sheet = book->sheets.front();
    QCOMPARE(QString::fromStdString(sheet.rows.at(1).at(index).value), caption);
    const exporttest::Cell &cell = sheet.rows.at(2).at(index);
    QCOMPARE(QString::fromStdString(cell.value), first);
    QCOMPARE(cell.type.empty(), numeric);

    // Sort: the column's title orders the loaded rows its way.
    QTreeWidget table;
    table.setColumnCount(kelvora::kResultColumnCount);
    for (const ResultRow &row : loaded.rows)
        kelvora::AddRow(&table, row);
    kelvora::SortRows(&table, index);
    const QString expectedTop = order == Order::Kept ? first : order == Order::Ascending ? low : high;
    QCOMPARE(kelvora::TextOf(kelvora::RowAt(&table, 0), column), expectedTop);
    QCOMPARE(kelvora::RowAt(&table, 0).ticked, expectedTop == first);
}

QTEST_MAIN(ResultColumnsTest)
#include "result_columns_test.moc"
