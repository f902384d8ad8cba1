// The search run end to end: the real main window and search dialog against a
// loopback fake of the engine, the traffic service and the result sites.
#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/results_table.h"
#include "app/search_outcome.h"
#include "app/search_run.h"
#include "app/unit1.h"
#include "platform/escape_key.h"
#include "tests/e2e/e2e_main.h"
#include "tests/e2e/fake_web.h"
#include "tests/support/loopback_server.h"
#include "ui_unit1.h"
#include "web/outbound.h"

using kelvora::ResultRow;
using namespace kelvora::e2e;

namespace {

constexpr const char *kWebHostingQuery = "GET /search?p=%22web+hosting%22&ei=UTF-8&n=20&b=1 HTTP/1.1";
constexpr const char *kRequestTail =
    "\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n";

bool waitCursorShown()
{
    const QCursor *cursor = QApplication::overrideCursor();
    return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

} // namespace

class SearchRunTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void keywordRunFillsEveryRowInPageOrder();
    void eachRowSendsItsThreeRequests();
    void rowShowsWhileItGrowsUnderTheWaitCursor();
    void stopDuringTheFourthRowLeavesFourRows();
    void escapeEndsTheRunAfterTheCurrentRow();
    void emptyKeywordIsStillSent();
    void keywordGoesOutAsPercentEncodedUtf8();
    void sameHostTwiceIsLookedUpTwice();
    void domainSearchKeepsTheKeywordAsSaveName();
    void pageWithoutEntriesEmptiesTheTable();
    void endTextTellsWhatBecameOfTheService_data();
    void endTextTellsWhatBecameOfTheService();
    void popularityTextDecidesWhetherTheRunGoesOn_data();
    void popularityTextDecidesWhetherTheRunGoesOn();
    void dialogNotConfirmedLeavesEverythingUntouched_data();
    void dialogNotConfirmedLeavesEverythingUntouched();

private:
    std::vector<std::string> newLines() const;
    std::vector<std::string> newHeads() const;
    void runSmallSearch();

    std::unique_ptr<FakeWeb> m_fake;
    std::size_t m_baseline = 0;
};

void SearchRunTest::initTestCase()
{
    m_fake = std::make_unique<FakeWeb>();
    m_fake->routeEverything();
    m_fake->setResults("%22two+sites%22", {"www.site01.test", "www.site02.test"});
}

void SearchRunTest::init()
{
    m_baseline = m_fake->requestLines().size();
}

void SearchRunTest::cleanup()
{
    DisarmAll();
    m_fake->setRequestHook({});
    kelvora::SetEscapeKeyProbe({});
    m_fake->routeEverything();
}

std::vector<std::string> SearchRunTest::newLines() const
{
    const std::vector<std::string> lines = m_fake->requestLines();
    return {lines.begin() + static_cast<std::ptrdiff_t>(m_baseline), lines.end()};
}

std::vector<std::string> SearchRunTest::newHeads() const
{
    const std::vector<std::string> heads = m_fake->requestHeads();
    return {heads.begin() + static_cast<std::ptrdiff_t>(m_baseline), heads.end()};
}

void SearchRunTest::runSmallSearch()
{
    Start(Keyword(QStringLiteral("two sites")));
    QCOMPARE(Rows().size(), std::size_t{2});
    m_baseline = m_fake->requestLines().size();
}

void SearchRunTest::keywordRunFillsEveryRowInPageOrder()
{
    Start(Keyword(QStringLiteral("web hosting")));

    const std::vector<ResultRow> rows = Rows();
    const std::vector<std::string> hosts = FakeWeb::defaultHosts();
    QCOMPARE(rows.size(), hosts.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QString mismatch = RowMismatch(rows[i], hosts[i], static_cast<int>(i) + 1);
        QVERIFY2(mismatch.isEmpty(), qPrintable(QStringLiteral("row %1: %2").arg(i).arg(mismatch)));
    }
    const Ui::TForm1 *ui = Form1->ui();
    QCOMPARE(ui->ResultsLabel->text(), QStringLiteral("Results for websites related to \"web hosting\""));
    // Short date and long time, with no time-zone name after the seconds.
    const QString date = ui->DateLabel->text();
    QVERIFY2(date.startsWith(QStringLiteral("Date/Time: ")), qPrintable(date));
    QVERIFY2(!date.contains(QDateTime::currentDateTime().timeZoneAbbreviation()), qPrintable(date));
    if (QLocale::system().name() == QLatin1String("C")) {
        static const QRegularExpression cLocale(
            QStringLiteral("^Date/Time: \\d{1,2}/\\d{1,2}/\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
        QVERIFY2(cLocale.match(date).hasMatch(), qPrintable(date));
    }
    QCOMPARE(StatusText(), QStringLiteral("Done!"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(!Form1->SearchRunning());
}

void SearchRunTest::eachRowSendsItsThreeRequests()
{
    Start(Keyword(QStringLiteral("web hosting")));

    const std::vector<std::string> lines = newLines();
    const std::vector<std::string> heads = newHeads();
    const std::vector<std::string> hosts = FakeWeb::defaultHosts();
    QCOMPARE(lines.size(), 1 + 3 * hosts.size());
    QCOMPARE(heads.front(), std::string(kWebHostingQuery) + "\r\nHost: search.fake" + kRequestTail);
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        const std::string &host = hosts[i];
        const std::string bare = host.substr(4);
        QCOMPARE(heads[1 + 3 * i], "GET /search?p=link%3Ahttp%3A%2F%2F" + host
                                       + " HTTP/1.1\r\nHost: search.fake" + kRequestTail);
        QCOMPARE(heads[2 + 3 * i], "GET /data/details/?url=www." + bare
                                       + " HTTP/1.1\r\nHost: traffic.fake" + kRequestTail);
        QCOMPARE(heads[3 + 3 * i], "GET / HTTP/1.1\r\nHost: " + host + kRequestTail);
    }
}

void SearchRunTest::rowShowsWhileItGrowsUnderTheWaitCursor()
{
    // Seen from the first pump after the second row's backlink fetch.
    std::vector<ResultRow> seen;
    bool waitCursor = false;
    QString status;
    m_fake->setRequestHook([&](const std::string &head) {
        if (head.find("link%3Ahttp%3A%2F%2Fwww.site02.test") == std::string::npos)
            return;
        PostToGui([&] {
            seen = Rows();
            waitCursor = waitCursorShown();
            status = StatusText();
        });
    });
    Start(Keyword(QStringLiteral("web hosting")));

    QCOMPARE(seen.size(), std::size_t{2});
    QVERIFY(RowMismatch(seen[0], "www.site01.test", 1).isEmpty());
    QCOMPARE(seen[1].caption, QStringLiteral("www.site02.test"));
    QCOMPARE(seen[1].cells.value(0), QStringLiteral("2"));
    for (int cell = 1; cell < kelvora::kResultCells; ++cell)
        QVERIFY2(seen[1].cells.value(cell).isEmpty(), qPrintable(QString::number(cell)));
    QVERIFY(waitCursor);
    QCOMPARE(status, QStringLiteral("www.site02.test"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void SearchRunTest::stopDuringTheFourthRowLeavesFourRows()
{
    m_fake->setRequestHook([](const std::string &head) {
        if (head.find("link%3Ahttp%3A%2F%2Fwww.site04.test") != std::string::npos)
            PostToGui([] { Form1->ui()->StopBtn->click(); });
    });
    Start(Keyword(QStringLiteral("web hosting")));

    const std::vector<ResultRow> rows = Rows();
    QCOMPARE(rows.size(), std::size_t{4});
    for (std::size_t i = 0; i < rows.size(); ++i)
        QVERIFY(RowMismatch(rows[i], FakeWeb::defaultHosts()[i], static_cast<int>(i) + 1).isEmpty());
    QCOMPARE(newLines().size(), std::size_t{1 + 3 * 4});
    QCOMPARE(StatusText(), QStringLiteral("Done!"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void SearchRunTest::escapeEndsTheRunAfterTheCurrentRow()
{
    kelvora::SetEscapeKeyProbe([] { return kelvora::RowCount(Form1->ui()->ListView1) >= 2; });
    Start(Keyword(QStringLiteral("web hosting")));

    const std::vector<ResultRow> rows = Rows();
    QCOMPARE(rows.size(), std::size_t{2});
    QVERIFY(RowMismatch(rows[1], "www.site02.test", 2).isEmpty());
    QCOMPARE(newLines().size(), std::size_t{1 + 3 * 2});
}

void SearchRunTest::emptyKeywordIsStillSent()
{
    m_fake->setResults("%22%22", {"www.site07.test"});
    Start(Keyword(QString()));

    QCOMPARE(newLines().front(), std::string("GET /search?p=%22%22&ei=UTF-8&n=20&b=1 HTTP/1.1"));
    QCOMPARE(Form1->ui()->ResultsLabel->text(), QStringLiteral("Results for websites related to \"\""));
    const std::vector<ResultRow> rows = Rows();
    QCOMPARE(rows.size(), std::size_t{1});
    QVERIFY(RowMismatch(rows[0], "www.site07.test", 1).isEmpty());
}

void SearchRunTest::keywordGoesOutAsPercentEncodedUtf8()
{
    // Typed as the user would: an accented letter and a hash sign, which would
    // otherwise end the request target as a fragment.
    const QString keyword = QString::fromUtf8("caf\xc3\xa9 c#x");
    m_fake->setResults("%22caf%C3%A9+c%23x%22", {"www.site06.test"});
    Start(Keyword(keyword));

    QCOMPARE(newHeads().front(), "GET /search?p=%22caf%C3%A9+c%23x%22&ei=UTF-8&n=20&b=1 HTTP/1.1\r\nHost: search.fake"
                                     + std::string(kRequestTail));
    QCOMPARE(Form1->ui()->ResultsLabel->text(), QStringLiteral("Results for websites related to \"") + keyword + '"');
    const std::vector<ResultRow> rows = Rows();
    QCOMPARE(rows.size(), std::size_t{1});
    QVERIFY(RowMismatch(rows[0], "www.site06.test", 1).isEmpty());
    QCOMPARE(StatusText(), QStringLiteral("Done!"));
}

void SearchRunTest::sameHostTwiceIsLookedUpTwice()
{
    m_fake->setResults("%22twice%22", {"www.site05.test", "www.site05.test"});
    Start(Keyword(QStringLiteral("twice")));

    const std::vector<ResultRow> rows = Rows();
    QCOMPARE(rows.size(), std::size_t{2});
    QVERIFY(RowMismatch(rows[0], "www.site05.test", 1).isEmpty());
    QVERIFY(RowMismatch(rows[1], "www.site05.test", 2).isEmpty());
    QCOMPARE(newLines().size(), std::size_t{1 + 3 * 2});
}

void SearchRunTest::domainSearchKeepsTheKeywordAsSaveName()
{
    m_fake->setResults("link%3Ahttp%3A%2F%2Fmy%20site%2Fx%3Ay", {"www.linker.test"});
    SearchInput input;
    input.mode = SearchInput::Mode::Domain;
    input.keyword = QStringLiteral("web hosting");
    input.target = QStringLiteral("my site/x:y");
    Start(input);

    QCOMPARE(newLines().front(), std::string("GET /search?p=link%3Ahttp%3A%2F%2Fmy%20site%2Fx%3Ay HTTP/1.1"));
    QCOMPARE(Form1->ui()->ResultsLabel->text(), QStringLiteral("Results for websites related to my site/x:y"));
    const std::vector<ResultRow> rows = Rows();
    QCOMPARE(rows.size(), std::size_t{1});
    QVERIFY(RowMismatch(rows[0], "www.linker.test", 1).isEmpty());
    const QStringList proposed = Form1->resultsSaveDialog()->selectedFiles();
    QVERIFY(!proposed.isEmpty());
    QCOMPARE(QFileInfo(proposed.first()).completeBaseName(), QStringLiteral("web hosting"));
    // The export proposes the same name.
    const QStringList exportName = Form1->exportDialog()->selectedFiles();
    QVERIFY(!exportName.isEmpty());
    QCOMPARE(QFileInfo(exportName.first()).completeBaseName(), QStringLiteral("web hosting"));
}

void SearchRunTest::pageWithoutEntriesEmptiesTheTable()
{
    runSmallSearch();
    // The fake's page has a navigation list before "of about": it must not count.
    m_fake->setResults("%22nothing%22", {});
    Start(Keyword(QStringLiteral("nothing")));

    QCOMPARE(Rows().size(), std::size_t{0});
    QCOMPARE(newLines().size(), std::size_t{1});
    QCOMPARE(StatusText(), QStringLiteral("Done!"));
}

void SearchRunTest::endTextTellsWhatBecameOfTheService_data()
{
    // service: what answers the results page. "closed": nothing listens;
    // "silent": a connection that is closed before any answer; otherwise the
    // raw answer of a stand-in for the live gateway.
    QTest::addColumn<QString>("searchHost");
    QTest::addColumn<QString>("service");
    QTest::addColumn<QString>("endText");
    const QString reason = QStringLiteral(
        "marginalia: rate limited (HTTP 429); try again in 60 s or set KELVORA_SEARCH_ENGINE");
    QTest::newRow("nothing listening") << "search.fake:8355" << "closed"
                                       << "Done! The search service at search.fake:8355 could not be reached.";
    QTest::newRow("closed before answering") << "search.fake" << "silent"
                                             << "Done! The search service at search.fake could not be reached.";
    QTest::newRow("gateway reason")
        << "search.fake"
        << "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\n\r\n" + reason
               + "\nsecond line\n"
        << "Done! " + reason;
    QTest::newRow("reason with control bytes")
        << "search.fake" << "HTTP/1.1 503 X\r\nContent-Length: 18\r\n\r\n\x1b[31mno\tkey\x7f\r\nrest"
        << "Done! [31mnokey";
    QTest::newRow("long reason is cut")
        << "search.fake" << "HTTP/1.1 503 X\r\n\r\n" + QString(500, QLatin1Char('r'))
        << "Done! " + QString(kelvora::kMaxServiceReason, QLatin1Char('r'));
    QTest::newRow("503 without a reason")
        << "search.fake" << "HTTP/1.1 503 X\r\nContent-Length: 0\r\n\r\n"
        << "Done! The search service could not fill the results page (HTTP 503).";
    QTest::newRow("empty results page")
        << "search.fake" << "HTTP/1.1 200 OK\r\n\r\n<html>of about 0 results</html>" << "Done!";
    QTest::newRow("other error page") << "search.fake" << "HTTP/1.1 500 Oops\r\n\r\ndown" << "Done!";
}

void SearchRunTest::endTextTellsWhatBecameOfTheService()
{
    QFETCH(QString, searchHost);
    QFETCH(QString, service);
    QFETCH(QString, endText);
    runSmallSearch();
    QCOMPARE(Rows().size(), std::size_t{2});

    using kelvora::testsupport::LoopbackServer;
    std::unique_ptr<LoopbackServer> stand;
    std::uint16_t port = kelvora::testsupport::ClosedLoopbackPort();
    if (service == QLatin1String("silent")) {
        stand = std::make_unique<LoopbackServer>(kelvora::testsupport::Script{kelvora::testsupport::Close()});
    } else if (service != QLatin1String("closed")) {
        const std::string answer = service.toStdString();
        stand = std::make_unique<LoopbackServer>([answer](const std::string &) { return answer; });
    }
    if (stand)
        port = stand->port();
    const std::string resolve = "*=127.0.0.1:" + std::to_string(port);
    ::setenv("KELVORA_RESOLVE", resolve.c_str(), 1);
    ::setenv("KELVORA_SEARCH_HOST", searchHost.toUtf8().constData(), 1);
    Start(Keyword(QStringLiteral("web hosting")));

    // Only the end text differs: the table is emptied as for any page without
    // entries, nothing more is fetched, the cursor is back.
    QCOMPARE(StatusText(), endText);
    QCOMPARE(Rows().size(), std::size_t{0});
    QCOMPARE(newLines().size(), std::size_t{0});   // no row looked anything up
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    if (stand) {
        QCOMPARE(stand->connectionCount(), std::size_t{1});
        const std::vector<std::string> requests = stand->requests();
        if (service != QLatin1String("silent"))
            QCOMPARE(requests.at(0), std::string(kWebHostingQuery) + "\r\nHost: search.fake" + kRequestTail);
    }
}

void SearchRunTest::popularityTextDecidesWhetherTheRunGoesOn_data()
{
    QTest::addColumn<QString>("total");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<int>("rows");
    QTest::newRow("letter") << "12x4" << "12x4" << 3;
    QTest::newRow("beyond int32") << "2,147,483,648" << "2147483648" << 3;
    QTest::newRow("no total") << "" << "0" << 20;
    QTest::newRow("largest int32") << "2,147,483,647" << "2147483647" << 20;
    QTest::newRow("negative") << "-12" << "-12" << 20;
}

void SearchRunTest::popularityTextDecidesWhetherTheRunGoesOn()
{
    QFETCH(QString, total);
    QFETCH(QString, cell);
    QFETCH(int, rows);
    m_fake->setPopularityText("site03.test", total.toStdString());
    Start(Keyword(QStringLiteral("web hosting")));
    m_fake->clearPopularityText("site03.test");

    const std::vector<ResultRow> found = Rows();
    QCOMPARE(found.size(), static_cast<std::size_t>(rows));
    QCOMPARE(newLines().size(), static_cast<std::size_t>(1 + 3 * rows));
    const ResultRow &third = found.at(2);
    const kelvora::e2e::SiteFigures figures = FakeWeb::figuresFor("www.site03.test");
    QCOMPARE(third.cells.value(1), cell);
    // The rest of the row is still built in its place.
    QCOMPARE(third.cells.value(2), QString::fromStdString(figures.trafficRank));
    QCOMPARE(third.cells.value(3), QString::fromStdString(figures.onlineSince));
    QCOMPARE(third.cells.value(5), QString::fromStdString(figures.competitor));
    const QString agreement = rows == 3 ? QString()
                                        : QString::fromStdString(kelvora::EstimateAgreement(
                                              cell.toInt(), figures.outbound, 4));
    QCOMPARE(third.cells.value(4), agreement);
    QCOMPARE(StatusText(), QStringLiteral("Done!"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void SearchRunTest::dialogNotConfirmedLeavesEverythingUntouched_data()
{
    QTest::addColumn<int>("end");
    QTest::newRow("cancel") << static_cast<int>(SearchInput::End::Cancel);
    QTest::newRow("close box") << static_cast<int>(SearchInput::End::CloseBox);
}

void SearchRunTest::dialogNotConfirmedLeavesEverythingUntouched()
{
    QFETCH(int, end);
    runSmallSearch();
    const std::vector<ResultRow> before = Rows();
    Ui::TForm1 *ui = Form1->ui();
    const QString results = ui->ResultsLabel->text();
    const QString date = ui->DateLabel->text();
    ui->StatusBar1->showMessage(QStringLiteral("before"));

    SearchInput input = Keyword(QStringLiteral("web hosting"));
    input.end = static_cast<SearchInput::End>(end);
    Start(input);

    const std::vector<ResultRow> after = Rows();
    QCOMPARE(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        QCOMPARE(after[i].caption, before[i].caption);
        QCOMPARE(after[i].cells, before[i].cells);
    }
    QCOMPARE(ui->ResultsLabel->text(), results);
    QCOMPARE(ui->DateLabel->text(), date);
    QCOMPARE(StatusText(), QStringLiteral("before"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(newLines().size(), std::size_t{0});
    QVERIFY(Form1->searchRun().StopRequested());
}

KELVORA_E2E_TEST_MAIN(SearchRunTest)

#include "search_run_test.moc"
