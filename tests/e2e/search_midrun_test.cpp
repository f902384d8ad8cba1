// Commands run inside a search's pumps: a second search, an opened file, a
// sort, closing the window. The suspended run must never write into a row
// that is gone; these cases are meant to run under ASan as well.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/results_table.h"
#include "app/unit1.h"
#include "tests/e2e/e2e_main.h"
#include "tests/e2e/fake_web.h"
#include "ui_unit1.h"

using kelvora::ResultRow;
using namespace kelvora::e2e;

namespace {

constexpr const char *kThirdRowBacklink = "link%3Ahttp%3A%2F%2Fwww.site03.test";

std::vector<std::string> altHosts()
{
    return {"www.alt1.test", "www.alt2.test", "www.alt3.test", "www.alt4.test", "www.alt5.test"};
}

} // namespace

class SearchMidRunTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void secondSearchConfirmedMidRunReplacesTheFirst();
    void secondSearchCancelledMidRunEndsTheFirstAfterItsRow();
    void openedFileMidRunKeepsItsRows();
    void sortMidRunKeepsFillingTheSameRow();
    void closingMidRunEndsTheRunThenTheWindow_data();
    void closingMidRunEndsTheRunThenTheWindow();
    void closingWhileThePageLoadsFetchesNoRows();

private:
    // Runs act on the GUI thread right after the third row's backlink fetch.
    void duringThirdRow(std::function<void()> act);
    std::vector<std::string> newLines() const;

    std::unique_ptr<FakeWeb> m_fake;
    QTemporaryDir m_files;
    std::size_t m_baseline = 0;
};

void SearchMidRunTest::initTestCase()
{
    m_fake = std::make_unique<FakeWeb>();
    m_fake->routeEverything();
    m_fake->setResults("%22second%22", altHosts());
}

void SearchMidRunTest::init()
{
    m_baseline = m_fake->requestLines().size();
}

void SearchMidRunTest::cleanup()
{
    DisarmAll();
    m_fake->setRequestHook({});
    Form1->show();
}

void SearchMidRunTest::duringThirdRow(std::function<void()> act)
{
    auto once = std::make_shared<std::atomic<bool>>(false);
    m_fake->setRequestHook([act, once](const std::string &head) {
        if (head.find(kThirdRowBacklink) != std::string::npos && !once->exchange(true))
            PostToGui(act);
    });
}

std::vector<std::string> SearchMidRunTest::newLines() const
{
    const std::vector<std::string> lines = m_fake->requestLines();
    return {lines.begin() + static_cast<std::ptrdiff_t>(m_baseline), lines.end()};
}

void SearchMidRunTest::secondSearchConfirmedMidRunReplacesTheFirst()
{
    duringThirdRow([] {
        ArmSearchDialog(Keyword(QStringLiteral("second")));
        Form1->ui()->BitBtn2->click();
    });
    Start(Keyword(QStringLiteral("web hosting")));

    const std::vector<ResultRow> rows = Rows();
    const std::vector<std::string> hosts = altHosts();
    QCOMPARE(rows.size(), hosts.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QString mismatch = RowMismatch(rows[i], hosts[i], static_cast<int>(i) + 1);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    }
    // The first run stopped fetching once the second had replaced its rows:
    // its page, two rows and a backlink, then the whole second run.
    const std::vector<std::string> lines = newLines();
    QCOMPARE(lines.size(), std::size_t{1 + 3 + 3 + 1 + 1 + 3 * 5});
    QCOMPARE(m_fake->requestHeads().back().find("Host: www.alt5.test") != std::string::npos, true);
    QCOMPARE(Form1->ui()->ResultsLabel->text(), QStringLiteral("Results for websites related to \"second\""));
    QCOMPARE(Form1->ui()->StatusBar1->currentMessage(), QStringLiteral("Done!"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(!Form1->SearchRunning());
}

void SearchMidRunTest::secondSearchCancelledMidRunEndsTheFirstAfterItsRow()
{
    duringThirdRow([] {
        SearchInput input = Keyword(QStringLiteral("second"));
        input.end = SearchInput::End::Cancel;
        ArmSearchDialog(input);
        Form1->ui()->BitBtn2->click();
    });
    Start(Keyword(QStringLiteral("web hosting")));

    const std::vector<ResultRow> rows = Rows();
    QCOMPARE(rows.size(), std::size_t{3});
    for (std::size_t i = 0; i < rows.size(); ++i)
        QVERIFY(RowMismatch(rows[i], FakeWeb::defaultHosts()[i], static_cast<int>(i) + 1).isEmpty());
    QCOMPARE(newLines().size(), std::size_t{1 + 3 * 3});
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void SearchMidRunTest::openedFileMidRunKeepsItsRows()
{
    const QString path = m_files.filePath(QStringLiteral("saved.kvr"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[item0]\r\nwebsite=loaded.test\r\nSE-rank=1\r\npopularity=5\r\nAlexa=7\r\n"
               "Since=long ago\r\nAgreement=9\r\nCompete=other.test\r\ncheck=1\r\n"
               "[Option]\r\nResult=from a file\r\nDate=Date/Time: then\r\n");
    file.close();

    duringThirdRow([path] {
        ArmModal([] { return static_cast<QWidget *>(Form1->openDialog()); },
                 [path](QWidget *widget) {
                     auto *dialog = static_cast<QFileDialog *>(widget);
                     // Typed as a user would: selectFile() leaves a focused name field alone.
                     auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
                     QVERIFY(name != nullptr);
                     name->setText(path);
                     QMetaObject::invokeMethod(dialog, "accept");
                 });
        Form1->ui()->Open1->trigger();
    });
    Start(Keyword(QStringLiteral("web hosting")));

    const std::vector<ResultRow> rows = Rows();
    QCOMPARE(rows.size(), std::size_t{1});
    QCOMPARE(rows[0].caption, QStringLiteral("loaded.test"));
    const QStringList cells = {"1", "5", "7", "long ago", "9", "other.test"};
    QCOMPARE(rows[0].cells, cells);
    QVERIFY(rows[0].ticked);
    QCOMPARE(Form1->ui()->ResultsLabel->text(), QStringLiteral("from a file"));
    // Nothing fetched after the file replaced the rows.
    QCOMPARE(newLines().size(), std::size_t{1 + 3 + 3 + 1});
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void SearchMidRunTest::sortMidRunKeepsFillingTheSameRow()
{
    // Sorted by popularity once the third row has its figure, that row moves
    // to the top; the run must follow the row, not its place.
    int thirdRowAfterSort = -1;
    m_fake->setRequestHook([&thirdRowAfterSort](const std::string &head) {
        if (head.rfind("GET /data/details/?url=www.site03.test ", 0) != 0)
            return;
        PostToGui([&thirdRowAfterSort] {
            Form1->ListView1ColumnClick(2);
            const std::vector<ResultRow> rows = Rows();
            for (std::size_t i = 0; i < rows.size(); ++i) {
                if (rows[i].caption == QStringLiteral("www.site03.test"))
                    thirdRowAfterSort = static_cast<int>(i);
            }
        });
    });
    Start(Keyword(QStringLiteral("web hosting")));
    SortColumn = 0;

    QCOMPARE(thirdRowAfterSort, 0);
    const std::vector<ResultRow> rows = Rows();
    const std::vector<std::string> hosts = FakeWeb::defaultHosts();
    QCOMPARE(rows.size(), hosts.size());
    QCOMPARE(rows[0].caption, QStringLiteral("www.site03.test"));
    for (const ResultRow &row : rows) {
        const std::string host = row.caption.toStdString();
        const int rank = row.cells.value(0).toInt();
        QVERIFY(rank >= 1 && rank <= static_cast<int>(hosts.size()));
        QCOMPARE(host, hosts[static_cast<std::size_t>(rank) - 1]);
        const QString mismatch = RowMismatch(row, host, rank);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    }
    // Rows added after the sort are appended in their own order.
    QCOMPARE(rows.back().caption, QStringLiteral("www.site20.test"));
}

void SearchMidRunTest::closingMidRunEndsTheRunThenTheWindow_data()
{
    QTest::addColumn<bool>("exitCommand");
    QTest::newRow("close box") << false;
    QTest::newRow("Exit") << true;
}

void SearchMidRunTest::closingMidRunEndsTheRunThenTheWindow()
{
    QFETCH(bool, exitCommand);
    QVERIFY(Form1->isVisible());
    bool visibleRightAfterClose = false;
    duringThirdRow([exitCommand, &visibleRightAfterClose] {
        if (exitCommand)
            Form1->ui()->Exit1->trigger();
        else
            Form1->close();
        visibleRightAfterClose = Form1->isVisible();
    });
    Start(Keyword(QStringLiteral("web hosting")));

    QVERIFY(visibleRightAfterClose);   // the close waits for the run
    QVERIFY(!Form1->isVisible());      // and happens once it has ended
    const std::vector<ResultRow> rows = Rows();
    QCOMPARE(rows.size(), std::size_t{3});
    QVERIFY(RowMismatch(rows[2], "www.site03.test", 3).isEmpty());
    QCOMPARE(newLines().size(), std::size_t{1 + 3 * 3});
    QCOMPARE(QApplication::overrideCursor(), nullptr);

    // Afterwards the window closes at once again.
    Form1->show();
    QVERIFY(Form1->close());
}

void SearchMidRunTest::closingWhileThePageLoadsFetchesNoRows()
{
    // A stop before the harvest is dropped when it starts; a close must not be.
    m_fake->setRequestHook([](const std::string &head) {
        if (head.rfind("GET /search?p=%22", 0) == 0)
            PostToGui([] { Form1->close(); });
    });
    Start(Keyword(QStringLiteral("web hosting")));

    QVERIFY(!Form1->isVisible());
    QCOMPARE(newLines().size(), std::size_t{1});
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

KELVORA_E2E_TEST_MAIN(SearchMidRunTest)

#include "search_midrun_test.moc"
