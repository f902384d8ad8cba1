#include "app/results_table.h"
#include "gui_test_main.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTreeWidget>

#include <climits>

using kelvora::AddRow;
using kelvora::CompareRows;
using kelvora::ResultRow;
using kelvora::RowAt;
using kelvora::SortRows;

namespace {

// A row with the caption and cell 5 (both text columns) set to text, and the
// numeric cell of column set to number.
ResultRow probe(const QString &text, int column = 0, const QString &number = {})
{
    QStringList cells(kelvora::kResultCells);
    cells[5] = text;
    if (column > 0)
        cells[column - 1] = number;
    return ResultRow{text, false, cells};
}

int sign(int value) { return (value > 0) - (value < 0); }

QStringList captions(const QTreeWidget &table)
{
    QStringList list;
    for (int i = 0; i < kelvora::RowCount(&table); ++i)
        list << RowAt(&table, i).caption;
    return list;
}

} // namespace

class ResultsTableTest final : public QObject {
    Q_OBJECT
private slots:
    void comparesTexts_data();
    void comparesTexts();
    void comparesNumbers_data();
    void comparesNumbers();
    void rowsKeepTheCellsTheyWereGiven();
    void sortsEachColumnStablyKeepingTicksAndSelection();
    void inconsistentComparisonKeepsEveryRow();
};

void ResultsTableTest::comparesTexts_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected");
    QTest::newRow("case only") << "Example.COM" << "example.com" << 0;
    QTest::newRow("letters") << "alpha.com" << "Beta.com" << -1;
    QTest::newRow("underscore after letters") << "_x" << "zz" << 1;
    QTest::newRow("prefix first") << "abc" << "abcd" << -1;
    QTest::newRow("empty first") << "" << "a" << -1;
    QTest::newRow("unsigned high byte") << QString::fromLatin1("\xe9") << "z" << 1;
    QTest::newRow("no non-ascii folding") << QString::fromLatin1("\xe9") << QString::fromLatin1("\xc9") << 1;
}

void ResultsTableTest::comparesTexts()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    for (int column : {0, 6}) {
        QCOMPARE(sign(CompareRows(probe(a), probe(b), column)), expected);
        QCOMPARE(sign(CompareRows(probe(b), probe(a), column)), -expected);
    }
}

void ResultsTableTest::comparesNumbers_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected");
    // Each column's direction is checked with the column table's other uses.
    QTest::newRow("no overflow: min vs max") << 1 << QString::number(INT_MIN) << QString::number(INT_MAX) << -1;
    QTest::newRow("equal numbers") << 2 << "42" << "42" << 0;
    QTest::newRow("empty ranks equal") << 2 << "" << "5" << 0;
    QTest::newRow("letters rank equal") << 1 << "12a" << "3" << 0;
    QTest::newRow("blank ranks equal") << 1 << " 12" << "3" << 0;
    QTest::newRow("above int32 ranks equal") << 3 << "2147483648" << "1" << 0;
    QTest::newRow("below int32 ranks equal") << 3 << "-2147483649" << "1" << 0;
    QTest::newRow("lone sign ranks equal") << 1 << "-" << "1" << 0;
    QTest::newRow("long digit run ranks equal") << 1 << QString(400, u'9') << "1" << 0;
}

void ResultsTableTest::comparesNumbers()
{
    QFETCH(int, column);
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    QCOMPARE(sign(CompareRows(probe("x", column, a), probe("x", column, b), column)), expected);
    QCOMPARE(sign(CompareRows(probe("x", column, b), probe("x", column, a), column)), -expected);
}

void ResultsTableTest::rowsKeepTheCellsTheyWereGiven()
{
    QTreeWidget table;
    table.setColumnCount(7);
    AddRow(&table, ResultRow{"a.com", true, {"1", "2", "3", "Jan 1999", "7", "b.com"}});
    kelvora::SetCell(AddRow(&table, ResultRow{"b.com", false, {"2"}}), 2, "30");
    QCOMPARE(RowAt(&table, 0).cells, (QStringList{"1", "2", "3", "Jan 1999", "7", "b.com"}));
    QVERIFY(RowAt(&table, 0).ticked);
    // A row holds only the cells added so far; one skipped reads empty.
    QCOMPARE(RowAt(&table, 1).cells, (QStringList{"2", "", "30"}));
    QVERIFY(!RowAt(&table, 1).ticked);
}

void ResultsTableTest::sortsEachColumnStablyKeepingTicksAndSelection()
{
    QTreeWidget table;
    table.setColumnCount(7);
    AddRow(&table, ResultRow{"b.com", true, {"1", "87", "450", "x", "5", "Zeta"}});
    AddRow(&table, ResultRow{"A.com", false, {"2", "0", "999999999", "y", "12", "alpha"}});
    AddRow(&table, ResultRow{"c.com", false, {"3", "950", "3", "z", "-1", "beta"}});
    AddRow(&table, ResultRow{"d.com", false, {"4", "", "3", "z", "", "beta"}});
    table.topLevelItem(2)->setSelected(true);

    const QList<QPair<int, QStringList>> steps{
        {2, {"c.com", "b.com", "A.com", "d.com"}},
        {3, {"c.com", "d.com", "b.com", "A.com"}},   // equal ranks keep their order
        {0, {"A.com", "b.com", "c.com", "d.com"}},
        {5, {"A.com", "b.com", "c.com", "d.com"}},
        {6, {"A.com", "c.com", "d.com", "b.com"}},
        {4, {"A.com", "c.com", "d.com", "b.com"}},
        {1, {"b.com", "A.com", "c.com", "d.com"}},
        {1, {"b.com", "A.com", "c.com", "d.com"}},   // same header: same direction
    };
    for (const auto &[column, expected] : steps) {
        SortRows(&table, column);
        QCOMPARE(captions(table), expected);
    }
    QCOMPARE(kelvora::SelectedIndex(&table), 2);
    QVERIFY(RowAt(&table, 0).ticked);
    QVERIFY(!RowAt(&table, 1).ticked);
}

// Empty and non-numeric cells rank equal to everything, so the comparison is
// not an ordering; the sort must still end and keep each row exactly once.
void ResultsTableTest::inconsistentComparisonKeepsEveryRow()
{
    constexpr int kRows = 5000;
    QTreeWidget table;
    table.setColumnCount(7);
    QRandomGenerator random(20261207);
    const QStringList odd{"", "n/a", "12x", "99999999999", "-", " 7"};
    for (int i = 0; i < kRows; ++i) {
        QStringList cells;
        for (int cell = 0; cell < kelvora::kResultCells; ++cell) {
            cells << (random.bounded(3) == 0 ? odd.at(random.bounded(static_cast<int>(odd.size())))
                                             : QString::number(static_cast<int>(random.generate())));
        }
        AddRow(&table, ResultRow{QStringLiteral("host%1").arg(i), i % 2 == 0, cells});
    }
    for (int column : {1, 2, 3, 5, 0, 6, 4}) {
        SortRows(&table, column);
        QCOMPARE(kelvora::RowCount(&table), kRows);
        QSet<QString> seen;
        for (int i = 0; i < kRows; ++i) {
            const ResultRow row = RowAt(&table, i);
            seen.insert(row.caption);
            QCOMPARE(row.ticked, row.caption.mid(4).toInt() % 2 == 0);
        }
        QCOMPARE(seen.size(), kRows);
    }
}

KELVORA_GUI_TEST_MAIN(ResultsTableTest)
#include "results_table_test.moc"
