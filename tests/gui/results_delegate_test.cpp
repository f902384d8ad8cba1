#include "app/globals.h"
#include "app/results_delegate.h"
#include "app/results_table.h"
#include "app/unit1.h"
#include "gui_test_main.h"
#include "shown_pixels.h"
#include "ui_unit1.h"

#include <QHeaderView>
#include <QImage>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include <functional>
#include <iterator>
#include <memory>

using kelvora::ResultRow;
using kelvora::ResultsDelegate;

namespace {

const QString kLongHost = QStringLiteral("www.a-very-long-partner-host-name-that-cannot-fit.example.com");

// The table as the standard delegate paints it and as ours does; any pixel
// apart is a visible change.
void compareWithStandardPainting(QTreeWidget *table, const char *step)
{
    QAbstractItemDelegate *ours = table->itemDelegate();
    QStyledItemDelegate standard;
    table->setItemDelegate(&standard);
    const QImage expected = table->viewport()->grab().toImage();
    table->setItemDelegate(ours);
    const QImage actual = table->viewport()->grab().toImage();
    if (actual != expected) {
        expected.save(QStringLiteral("/tmp/results_delegate_expected.png"));
        actual.save(QStringLiteral("/tmp/results_delegate_actual.png"));
    }
    QVERIFY2(actual == expected, step);
}

} // namespace

class ResultsDelegateTest final : public QObject {
    Q_OBJECT
private slots:
    void paintsTheTableAsTheStandardDelegateDoes();
    void elidesOnlyWhatDoesNotFit();
    void repaintsChangedCellsAsAWholePaintWould();
    void measuresCellsAsTheStandardDelegateDoes();
};

void ResultsDelegateTest::paintsTheTableAsTheStandardDelegateDoes()
{
    auto form = std::make_unique<TForm1>();
    Form1 = form.get();
    QTreeWidget *table = form->ui()->ListView1;
    QVERIFY(qobject_cast<ResultsDelegate *>(table->itemDelegate()));
    form->show();
    form->activateWindow();
    table->setFocus();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));

    kelvora::AddRow(table, ResultRow{QStringLiteral("http://www.example.com"), true,
                                     {QStringLiteral("1"), QStringLiteral("12"), QStringLiteral("3456"),
                                      QStringLiteral("1999"), QStringLiteral("95%"), QStringLiteral("Yes")}});
    kelvora::AddRow(table, ResultRow{kLongHost, false, {QStringLiteral("2"), QStringLiteral("Unknown")}});
    QTreeWidgetItem *growing = kelvora::AddRow(table, ResultRow{QStringLiteral("http://b.example"), false, {}});
    table->setCurrentItem(table->topLevelItem(1));
    compareWithStandardPainting(table, "rows with ticks, selection, focus and a long caption");

    // A cell that changes must not keep its old text.
    kelvora::SetCell(growing, 0, QStringLiteral("3"));
    kelvora::SetCell(growing, 4, kLongHost);
    compareWithStandardPainting(table, "after filling cells of the last row");
    kelvora::SetCell(growing, 4, QStringLiteral("No"));
    compareWithStandardPainting(table, "after a cell changes back to a short text");

    // A narrower column elides anew; a wider one shows the whole text again.
    table->header()->resizeSection(0, 60);
    compareWithStandardPainting(table, "after narrowing the first column");
    table->header()->resizeSection(4, 1);
    compareWithStandardPainting(table, "after squeezing a column to its minimum");
    table->header()->resizeSection(0, 400);
    compareWithStandardPainting(table, "after widening the first column");

    table->clearSelection();
    table->clearFocus();
    compareWithStandardPainting(table, "without selection or focus");
    Form1 = nullptr;
}

void ResultsDelegateTest::elidesOnlyWhatDoesNotFit()
{
    const ResultsDelegate delegate;
    const QFont font;
    const QFontMetrics metrics(font);
    const int fullWidth = metrics.horizontalAdvance(kLongHost);

    QCOMPARE(delegate.displayedText(kLongHost, font, Qt::ElideRight, fullWidth + 10), kLongHost);
    const QString narrow = delegate.displayedText(kLongHost, font, Qt::ElideRight, 80);
    QCOMPARE(narrow, metrics.elidedText(kLongHost, Qt::ElideRight, 80));
    QVERIFY(narrow.size() < kLongHost.size());
    QVERIFY(metrics.horizontalAdvance(narrow) <= 80);
    // The same text at another width, or in another font, is measured again.
    QCOMPARE(delegate.displayedText(kLongHost, font, Qt::ElideRight, fullWidth + 10), kLongHost);
    QFont large = font;
    large.setPointSize(font.pointSize() * 3);
    QCOMPARE(delegate.displayedText(QStringLiteral("http://b.example"), large, Qt::ElideRight, 80),
             QFontMetrics(large).elidedText(QStringLiteral("http://b.example"), Qt::ElideRight, 80));
}

// A changed cell repaints only its own area; the cells the delegate leaves
// out must be exactly those whose pixels stay, so the window ends up as a
// whole fresh paint would draw it.
void ResultsDelegateTest::repaintsChangedCellsAsAWholePaintWould()
{
    auto form = std::make_unique<TForm1>();
    Form1 = form.get();
    QTreeWidget *table = form->ui()->ListView1;
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));

    QList<QTreeWidgetItem *> rows;
    for (int i = 0; i < 6; ++i)
        rows.append(kelvora::AddRow(table, ResultRow{QStringLiteral("http://site%1.example").arg(i),
                                                     false, {QString::number(i + 1)}}));
    QCoreApplication::processEvents();
    QVERIFY(!shownViewport(table).isNull());
    QTRY_COMPARE_WITH_TIMEOUT(shownViewport(table), renderedViewport(table), 2000);

    const QStringList values{QStringLiteral("1200"), QStringLiteral("35"), QStringLiteral("1998"),
                             QStringLiteral("80"), kLongHost};
    for (int cell = 1; cell <= values.size(); ++cell) {
        for (QTreeWidgetItem *row : std::as_const(rows)) {
            kelvora::SetCell(row, cell, values.at(cell - 1));
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE_WITH_TIMEOUT(shownViewport(table), renderedViewport(table), 2000);
    }
    // Back to shorter texts: the wider old ones must not show through.
    kelvora::SetCell(rows.at(2), 5, QStringLiteral("No"));
    kelvora::SetCell(rows.at(3), 1, QString());
    QCoreApplication::processEvents();
    QTRY_COMPARE_WITH_TIMEOUT(shownViewport(table), renderedViewport(table), 2000);

    // A ticked and selected row repaints through the style, not the short cut.
    kelvora::SetTicked(rows.at(4), true);
    table->setCurrentItem(rows.at(4));
    QCoreApplication::processEvents();
    QTRY_COMPARE_WITH_TIMEOUT(shownViewport(table), renderedViewport(table), 2000);
    Form1 = nullptr;
}

// The view lays rows out by these hints; a kept hint must be the one the
// standard delegate would give now, after each change of text or font.
void ResultsDelegateTest::measuresCellsAsTheStandardDelegateDoes()
{
    auto form = std::make_unique<TForm1>();
    Form1 = form.get();
    QTreeWidget *table = form->ui()->ListView1;
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QAbstractItemDelegate *ours = table->itemDelegate();
    const QStyledItemDelegate standard;

    QTreeWidgetItem *row = kelvora::AddRow(
        table, ResultRow{QStringLiteral("http://www.example.com"), true, {QStringLiteral("1")}});
    kelvora::AddRow(table, ResultRow{kLongHost, false, {QStringLiteral("2"), QStringLiteral("Unknown")}});
    QFont large = table->font();
    large.setPointSize(large.pointSize() * 2);

    const std::function<void()> steps[] = {
        [] {},
        [&] { kelvora::SetCell(row, 4, kLongHost); },
        [&] { kelvora::SetCell(row, 4, QStringLiteral("No")); },
        [&] { row->setText(0, QStringLiteral("\tcontrol")); },
        [&] { table->setFont(large); },
        [&] { row->setFont(1, table->font()); },
    };
    int step = 0;
    for (const std::function<void()> &change : steps) {
        change();
        for (int r = 0; r < table->topLevelItemCount(); ++r) {
            for (int column = 0; column < table->columnCount(); ++column) {
                const QModelIndex index = table->model()->index(r, column);
                QStyleOptionViewItem option;
                option.initFrom(table->viewport());
                option.widget = table;
                option.font = table->font();
                QCOMPARE(ours->sizeHint(option, index), standard.sizeHint(option, index));
                // Asked twice, the kept answer must still be right.
                QCOMPARE(ours->sizeHint(option, index), standard.sizeHint(option, index));
            }
        }
        ++step;
    }
    QCOMPARE(step, int(std::size(steps)));
    Form1 = nullptr;
}

KELVORA_GUI_TEST_MAIN(ResultsDelegateTest)
#include "results_delegate_test.moc"
