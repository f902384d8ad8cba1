#include "app/globals.h"
#include "app/results_list.h"
#include "app/results_table.h"
#include "app/unit1.h"
#include "gui_test_main.h"
#include "shown_pixels.h"
#include "ui_unit1.h"

#include <QHeaderView>
#include <QPaintEvent>
#include <QScrollBar>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

using kelvora::ResultRow;

namespace {

// Collects where a widget is painted until told to stop (a grab paints too).
class PaintRecorder final : public QObject {
public:
    explicit PaintRecorder(QWidget *widget) : m_widget(widget) { widget->installEventFilter(this); }
    void stop() { m_widget->removeEventFilter(this); }
    QRegion painted;

private:
    QWidget *m_widget;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
};

ResultRow siteRow(int number)
{
    return ResultRow{QStringLiteral("http://site%1.example").arg(number), false,
                     {QString::number(number), QStringLiteral("1200"), QStringLiteral("35")}};
}

// Adds a row the way a search run does: the row, then a pump.
QTreeWidgetItem *appendAndPump(QTreeWidget *table, int number)
{
    QTreeWidgetItem *item = kelvora::AddRow(table, siteRow(number));
    QCoreApplication::processEvents();
    return item;
}

bool showsWhatItWouldPaint(QAbstractScrollArea *view)
{
    QCoreApplication::processEvents();
    return shownViewport(view) == renderedViewport(view);
}

// The hint a standard header over the same titles gives.
QSize standardHeaderHint(const QHeaderView *header)
{
    QHeaderView plain(Qt::Horizontal);
    plain.setModel(header->model());
    plain.setFont(header->font());
    plain.setSortIndicatorShown(header->isSortIndicatorShown());
    plain.setSortIndicator(header->sortIndicatorSection(), header->sortIndicatorOrder());
    for (int i = 0; i < header->count(); ++i)
        plain.setSectionHidden(i, header->isSectionHidden(i));
    return plain.sizeHint();
}

} // namespace

class ResultsListTest final : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void anAppendedRowRepaintsOnlyItself();
    void everyOtherChangeStillShowsTheWholeTableRight();
    void theHeaderHintFollowsWhatItMeasures();

private:
    std::unique_ptr<TForm1> m_form;
    QTreeWidget *m_table = nullptr;
};

void ResultsListTest::init()
{
    m_form = std::make_unique<TForm1>();
    Form1 = m_form.get();
    m_table = m_form->ui()->ListView1;
    QVERIFY(qobject_cast<kelvora::ResultsList *>(m_table));
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void ResultsListTest::cleanup()
{
    Form1 = nullptr;
    m_form.reset();
}

void ResultsListTest::anAppendedRowRepaintsOnlyItself()
{
    for (int i = 1; i <= 3; ++i)
        appendAndPump(m_table, i);
    QTRY_VERIFY_WITH_TIMEOUT(showsWhatItWouldPaint(m_table), 2000);

    PaintRecorder rows(m_table->viewport());
    PaintRecorder titles(m_table->header()->viewport());
    appendAndPump(m_table, 4);
    for (int pump = 0; pump < 10; ++pump)
        QCoreApplication::processEvents();
    rows.stop();
    titles.stop();
    QTRY_VERIFY_WITH_TIMEOUT(showsWhatItWouldPaint(m_table), 2000);

    QRegion earlierRows;
    for (int i = 0; i < 3; ++i) {
        const QRect caption = m_table->visualRect(m_table->model()->index(i, 0));
        earlierRows += QRect(0, caption.top(), m_table->viewport()->width(), caption.height());
    }
    QVERIFY(!rows.painted.isEmpty());
    QVERIFY2(!rows.painted.intersects(earlierRows), "rows already shown were painted again");
    QVERIFY(rows.painted.contains(m_table->visualRect(m_table->model()->index(3, 1))));
    QVERIFY2(titles.painted.isEmpty(), "the column titles were painted again");
}

void ResultsListTest::everyOtherChangeStillShowsTheWholeTableRight()
{
    QHeaderView *titles = m_table->header();
    const std::vector<std::pair<const char *, std::function<void()>>> changes{
        {"a cell of an earlier row changes together with an append",
         [&] {
             kelvora::SetCell(m_table->topLevelItem(0), 5, QStringLiteral("www.competitor.example"));
             appendAndPump(m_table, 50);
         }},
        {"an earlier row's tick box changes right after an append",
         [&] {
             kelvora::AddRow(m_table, siteRow(51));
             kelvora::SetTicked(m_table->topLevelItem(1), true);
             QCoreApplication::processEvents();
         }},
        {"an earlier row taken out together with an append",
         [&] {
             delete m_table->takeTopLevelItem(1);
             appendAndPump(m_table, 53);
         }},
        {"the selection moves while an append waits",
         [&] {
             kelvora::AddRow(m_table, siteRow(52));
             m_table->setCurrentItem(m_table->topLevelItem(2));
             QCoreApplication::processEvents();
         }},
        {"rows enough for the scroll bar, one at a time",
         [&] {
             for (int i = 60; i < 90; ++i)
                 appendAndPump(m_table, i);
             QVERIFY(m_table->verticalScrollBar()->isVisible());
         }},
        {"an append while scrolled down",
         [&] {
             m_table->verticalScrollBar()->setValue(m_table->verticalScrollBar()->maximum() / 2);
             QCoreApplication::processEvents();
             appendAndPump(m_table, 90);
         }},
        {"a column resized between appends",
         [&] {
             titles->resizeSection(1, titles->sectionSize(1) + 30);
             appendAndPump(m_table, 91);
         }},
        {"a sort, which takes every row out and puts it back",
         [&] {
             kelvora::SortRows(m_table, 0);
             QCoreApplication::processEvents();
         }},
        {"a bigger font while an append waits",
         [&] {
             kelvora::AddRow(m_table, siteRow(92));
             QFont larger = m_table->font();
             larger.setPointSize(larger.pointSize() + 4);
             m_table->setFont(larger);
             QCoreApplication::processEvents();
         }},
        {"the table emptied and filled again",
         [&] {
             kelvora::ClearRows(m_table);
             for (int i = 1; i <= 5; ++i)
                 appendAndPump(m_table, 100 + i);
         }},
    };

    for (int i = 1; i <= 5; ++i)
        appendAndPump(m_table, i);
    for (const auto &[what, change] : changes) {
        change();
        QTRY_VERIFY2_WITH_TIMEOUT(showsWhatItWouldPaint(m_table), what, 2000);
        QTRY_VERIFY2_WITH_TIMEOUT(showsWhatItWouldPaint(titles), what, 2000);
    }
}

// The header keeps its size hint between layouts; every change that moves the
// titles' size must give the hint a standard header gives.
void ResultsListTest::theHeaderHintFollowsWhatItMeasures()
{
    QHeaderView *titles = m_table->header();
    QVERIFY(qobject_cast<kelvora::ResultsHeader *>(titles));
    QFont large = m_table->font();
    large.setPointSize(large.pointSize() * 2);
    const std::vector<std::pair<const char *, std::function<void()>>> changes{
        {"as set up", [] {}},
        {"rows appended", [&] { appendAndPump(m_table, 1); appendAndPump(m_table, 2); }},
        {"a title on two lines",
         [&] { m_table->headerItem()->setText(2, QStringLiteral("Popu-\nlarity")); }},
        {"a larger font", [&] { titles->setFont(large); }},
        {"the sort indicator shown", [&] { titles->setSortIndicatorShown(true); }},
        {"the sort indicator moved", [&] { titles->setSortIndicator(6, Qt::DescendingOrder); }},
        {"the two-line title hidden", [&] { titles->setSectionHidden(2, true); }},
        {"a column more", [&] { m_table->setColumnCount(m_table->columnCount() + 1); }},
        {"the title back on one line",
         [&] {
             titles->setSectionHidden(2, false);
             m_table->headerItem()->setText(2, QStringLiteral("Popularity"));
         }},
    };
    for (const auto &[what, change] : changes) {
        change();
        QCoreApplication::processEvents();
        QVERIFY2(titles->sizeHint() == standardHeaderHint(titles), what);
    }
}

KELVORA_GUI_TEST_MAIN(ResultsListTest)
#include "results_list_test.moc"
