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
using kelvora::RowCount;
using kelvora::SortRows;

namespace {

ResultRow row(const QString &caption, const QStringList &cells = {})
{
    return ResultRow{caption, false, cells};
}

// A row with one cell filled at the given index, the others empty.
ResultRow cellRow(int cell, const QString &value)
{
    QStringList cells(kelvora::kResultCells);
    cells[cell] = value;
    return ResultRow{QStringLiteral("host"), false, cells};
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

QStringList captions(const QTreeWidget *table)
{
    QStringList list;
    for (int i = 0; i < RowCount(table); ++i)
        list << RowAt(table, i).caption;
    return list;
}

} // namespace

class ResultsTableTest final : public QObject {
    Q_OBJECT
private slots:
    void textColumnsFoldAsciiOnlyAndPutPrefixesFirst_data();
    void textColumnsFoldAsciiOnlyAndPutPrefixesFirst();
    void numericColumnsUseTheSignOfTheTrueDifference_data();
    void numericColumnsUseTheSignOfTheTrueDifference();
    void onlineSinceRanksEveryPairEqual();
    void rowsKeepTheCellsTheyWereGiven();
    void sortsEachColumnInItsDirection();
    void sortIsStableAndKeepsTicksAndSelection();
    void emptyAndSingleRowTablesSortWithoutEffect();
    void inconsistentComparisonKeepsEveryRow();
};

void ResultsTableTest::textColumnsFoldAsciiOnlyAndPutPrefixesFirst_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected");
    QTest::newRow("case only") << "Example.COM" << "example.com" << 0;
    QTest::newRow("letters") << "alpha.com" << "Beta.com" << -1;
    QTest::newRow("underscore after letters") << "_x" << "zz" << 1;
    QTest::newRow("prefix first") << "abc" << "abcd" << -1;
    QTest::newRow("empty first") << "" << "a" << -1;
    QTest::newRow("equal empty") << "" << "" << 0;
    QTest::newRow("unsigned high byte") << QString::fromLatin1("\xe9") << "z" << 1;
    QTest::newRow("no non-ascii folding") << QString::fromLatin1("\xe9") << QString::fromLatin1("\xc9") << 1;
}

void ResultsTableTest::textColumnsFoldAsciiOnlyAndPutPrefixesFirst()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    QCOMPARE(sign(CompareRows(row(a), row(b), 0)), expected);
    QCOMPARE(sign(CompareRows(row(b), row(a), 0)), -expected);
    QCOMPARE(sign(CompareRows(cellRow(5, a), cellRow(5, b), 6)), expected);
}

void ResultsTableTest::numericColumnsUseTheSignOfTheTrueDifference_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("expected");
    QTest::newRow("rank ascending") << 1 << "2" << "10" << -1;
    QTest::newRow("popularity descending") << 2 << "950" << "87" << -1;
    QTest::newRow("alexa ascending") << 3 << "450" << "999999999" << -1;
    QTest::newRow("agreement descending") << 5 << "-3" << "4" << 1;
    QTest::newRow("no overflow: min vs max") << 1 << QString::number(INT_MIN) << QString::number(INT_MAX) << -1;
    QTest::newRow("no overflow: max vs -1") << 3 << QString::number(INT_MAX) << "-1" << 1;
    QTest::newRow("equal numbers") << 2 << "42" << "42" << 0;
    QTest::newRow("empty ranks equal") << 2 << "" << "5" << 0;
    QTest::newRow("letters rank equal") << 1 << "12a" << "3" << 0;
    QTest::newRow("blank inside ranks equal") << 1 << " 12" << "3" << 0;
    QTest::newRow("above int32 ranks equal") << 3 << "2147483648" << "1" << 0;
    QTest::newRow("below int32 ranks equal") << 3 << "-2147483649" << "1" << 0;
    QTest::newRow("lone sign ranks equal") << 1 << "-" << "1" << 0;
    QTest::newRow("huge digit run ranks equal") << 1 << QString(400, u'9') << "1" << 0;
}

void ResultsTableTest::numericColumnsUseTheSignOfTheTrueDifference()
{
    QFETCH(int, column);
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, expected);
    const int cell = column - 1;
    QCOMPARE(sign(CompareRows(cellRow(cell, a), cellRow(cell, b), column)), expected);
    QCOMPARE(sign(CompareRows(cellRow(cell, b), cellRow(cell, a), column)), -expected);
}

void ResultsTableTest::onlineSinceRanksEveryPairEqual()
{
    QCOMPARE(CompareRows(cellRow(3, "1999"), cellRow(3, "2005"), 4), 0);
    QCOMPARE(CompareRows(row("a"), row("b"), 4), 0);
}

void ResultsTableTest::rowsKeepTheCellsTheyWereGiven()
{
    QTreeWidget table;
    table.setColumnCount(7);
    AddRow(&table, ResultRow{"a.com", true, {"1", "2", "3", "Jan 1999", "7", "b.com"}});
    QTreeWidgetItem *partial = AddRow(&table, ResultRow{"b.com", false, {"2"}});
    kelvora::SetCell(partial, 2, "30");

    const ResultRow full = RowAt(&table, 0);
    QCOMPARE(full.caption, QStringLiteral("a.com"));
    QVERIFY(full.ticked);
    QCOMPARE(full.cells, (QStringList{"1", "2", "3", "Jan 1999", "7", "b.com"}));
    // A row only holds the cells added so far; a skipped one reads empty.
    QCOMPARE(RowAt(&table, 1).cells, (QStringList{"2", "", "30"}));
    QVERIFY(!RowAt(&table, 1).ticked);
}

void ResultsTableTest::sortsEachColumnInItsDirection()
{
    QTreeWidget table;
    table.setColumnCount(7);
    AddRow(&table, ResultRow{"b.com", false, {"1", "87", "450", "x", "5", "Zeta"}});
    AddRow(&table, ResultRow{"A.com", false, {"2", "0", "999999999", "y", "12", "alpha"}});
    AddRow(&table, ResultRow{"c.com", false, {"3", "950", "3", "z", "-1", "beta"}});

    SortRows(&table, 2);
    QCOMPARE(captions(&table), (QStringList{"c.com", "b.com", "A.com"}));
    SortRows(&table, 3);
    QCOMPARE(captions(&table), (QStringList{"c.com", "b.com", "A.com"}));
    SortRows(&table, 0);
    QCOMPARE(captions(&table), (QStringList{"A.com", "b.com", "c.com"}));
    SortRows(&table, 5);
    QCOMPARE(captions(&table), (QStringList{"A.com", "b.com", "c.com"}));
    SortRows(&table, 6);
    QCOMPARE(captions(&table), (QStringList{"A.com", "c.com", "b.com"}));
    SortRows(&table, 1);
    QCOMPARE(captions(&table), (QStringList{"b.com", "A.com", "c.com"}));
    // Same header again: same direction, no toggling.
    SortRows(&table, 1);
    QCOMPARE(captions(&table), (QStringList{"b.com", "A.com", "c.com"}));
}

void ResultsTableTest::sortIsStableAndKeepsTicksAndSelection()
{
    QTreeWidget table;
    table.setColumnCount(7);
    table.setSelectionMode(QAbstractItemView::SingleSelection);
    AddRow(&table, ResultRow{"one", true, {"1", "5"}});
    AddRow(&table, ResultRow{"two", false, {"2", "9"}});
    AddRow(&table, ResultRow{"three", true, {"3", "5"}});
    AddRow(&table, ResultRow{"four", false, {"4", "5"}});
    table.topLevelItem(2)->setSelected(true);

    SortRows(&table, 2);
    QCOMPARE(captions(&table), (QStringList{"two", "one", "three", "four"}));
    QCOMPARE(kelvora::SelectedIndex(&table), 2);
    QVERIFY(RowAt(&table, 1).ticked);
    QVERIFY(RowAt(&table, 2).ticked);
    QVERIFY(!RowAt(&table, 0).ticked);
    QVERIFY(!RowAt(&table, 3).ticked);
}

void ResultsTableTest::emptyAndSingleRowTablesSortWithoutEffect()
{
    QTreeWidget table;
    table.setColumnCount(7);
    for (int column = 0; column < 7; ++column)
        SortRows(&table, column);
    QCOMPARE(RowCount(&table), 0);
    AddRow(&table, ResultRow{"only", true, {"1"}});
    for (int column = -1; column < 9; ++column)
        SortRows(&table, column);
    QCOMPARE(RowCount(&table), 1);
    QCOMPARE(RowAt(&table, 0).caption, QStringLiteral("only"));
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
            if (random.bounded(3) == 0)
                cells << odd.at(random.bounded(static_cast<int>(odd.size())));
            else
                cells << QString::number(static_cast<int>(random.generate()));
        }
        AddRow(&table, ResultRow{QStringLiteral("host%1").arg(i), i % 2 == 0, cells});
    }

    for (int column : {1, 2, 3, 5, 0, 6, 4}) {
        SortRows(&table, column);
        QCOMPARE(RowCount(&table), kRows);
        QSet<QString> seen;
        for (int i = 0; i < kRows; ++i) {
            const ResultRow r = RowAt(&table, i);
            seen.insert(r.caption);
            // Each item still carries its own tick box.
            QCOMPARE(r.ticked, r.caption.mid(4).toInt() % 2 == 0);
        }
        QCOMPARE(seen.size(), kRows);
    }
}

KELVORA_GUI_TEST_MAIN(ResultsTableTest)
#include "results_table_test.moc"
