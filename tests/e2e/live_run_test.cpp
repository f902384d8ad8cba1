// The program end to end through the live gateway: the real main window and
// search dialog run a keyword search whose engine, sites and open-data
// services (the archive's CDX API, RDAP) are HTTPS fakes on loopback, reached
// by the gateway through --connect-to and a test CA, with the site figures
// of a facts database; then Step 2's "Get Data" shows a partner's contacts.
#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/results_table.h"
#include "app/unit1.h"
#include "tests/e2e/e2e_main.h"
#include "tests/live/facts_fixture.h"
#include "tests/live/fake_upstream.h"
#include "tests/live/gateway_server.h"
#include "tests/live/live_rig.h"
#include "tests/support/files.h"
#include "ui_unit1.h"
#include "web/outbound.h"

using kelvora::ResultRow;
using namespace kelvora::live::testing;
using namespace kelvora::testsupport;
using namespace kelvora::e2e;

namespace {

// The engine's order, with a repeated host and a private address between.
const std::vector<std::string> kListed = {"www.site07.test", "www.site03.test", "www.site11.test",
                                          "www.site01.test", "www.site05.test", "www.site24.test"};

// Link popularity and traffic rank of the listed sites; www.site05.test has
// none (popularity 0, no rank).
const std::map<std::string, std::pair<int, int>> kFigures = {
    {"www.site07.test", {1200, 5400}}, {"www.site03.test", {45, 77}},   {"www.site11.test", {3100, 12}},
    {"www.site01.test", {45, 300}},    {"www.site24.test", {870, 98000}},
};

// The partner whose contact data Step 2 shows.
const std::string kPartner = "www.site03.test";

std::vector<Result> EngineResults()
{
    std::vector<Result> results;
    for (const std::string &host : kListed)
        results.push_back({"https://" + host + "/", "Title of " + host, "Snippet <b>of</b> " + host});
    results.insert(results.begin() + 2, {"https://www.site07.test/shop", "Same site again", ""});
    results.insert(results.begin() + 4, {"https://10.0.0.9/", "A private address", ""});
    return results;
}

int PopularityOf(const std::string &host)
{
    const auto found = kFigures.find(host);
    return found == kFigures.end() ? 0 : found->second.first;
}

QString RankOf(const std::string &host)
{
    const auto found = kFigures.find(host);
    return found == kFigures.end() ? QStringLiteral("999999999") : QString::number(found->second.second);
}

// The most popular of the other listed hosts: each one's competitor, as the
// figures leave no tie at the top.
std::string MostPopularOther(const std::string &host)
{
    std::string best;
    for (const std::string &other : kListed) {
        if (other != host && (best.empty() || PopularityOf(other) > PopularityOf(best)))
            best = other;
    }
    return best;
}

// The partner's site: the default home page (so its outbound count stays the
// fake's), an about page with contact data, and a security.txt.
UpstreamAnswer PartnerSite(const UpstreamRequest &request)
{
    UpstreamAnswer answer;
    if (request.path == "/") {
        answer.body = FakeUpstream::HomePage(request.host);
    } else if (request.path == "/about.html") {
        answer.body = "<html><body><h1>About us</h1><p>Write to team [at] site03 [dot] test or call "
                      "<a href=\"tel:+44 20 7946 0321\">us</a>.</p></body></html>";
    } else if (request.path == "/.well-known/security.txt") {
        answer.contentType = "text/plain";
        answer.body = "Contact: mailto:security@site03.test\n";
    } else {
        answer.status = 404;
        answer.body = "not here";
    }
    return answer;
}

} // namespace

class LiveRunTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void keywordRunFillsRowsInTheEnginesOrderFromLivePagesAndFacts();
    void getDataShowsThePartnersContactLines();

private:
    std::unique_ptr<FakeUpstream> m_fake;
    std::unique_ptr<GatewayServer> m_gateway;
};

void LiveRunTest::initTestCase()
{
    m_fake = std::make_unique<FakeUpstream>();
    m_fake->SetResults("\"garden tools\"", EngineResults());
    m_fake->SetHandler(kPartner, PartnerSite);
    std::vector<SiteFigures> figures;
    for (const auto &[host, figure] : kFigures)
        figures.push_back({host, figure.first, figure.second});
    std::vector<std::string> mapped = {"api2.marginalia-search.com"};
    mapped.insert(mapped.end(), kListed.begin(), kListed.end());
    // Pacing is tested on its own; here every fact comes at once.
    kelvora::directory::live::LiveSettings settings;
    settings.pacingClock = kelvora::live::testing::TimeFlies();
    m_gateway = std::make_unique<GatewayServer>("marginalia:public", m_fake->RulesFor(mapped),
                                                TemporaryFolder() + "/web-cache.db", settings,
                                                MakeFactsDatabase(figures));
    m_gateway->RouteProgram();
}

void LiveRunTest::cleanupTestCase()
{
    m_gateway.reset();
    m_fake.reset();
}

void LiveRunTest::keywordRunFillsRowsInTheEnginesOrderFromLivePagesAndFacts()
{
    Start(Keyword(QStringLiteral("garden tools")));

    const std::vector<ResultRow> rows = Rows();
    QCOMPARE(rows.size(), kListed.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string &host = kListed[i];
        const int rank = static_cast<int>(i) + 1;
        const ResultRow &row = rows[i];
        QCOMPARE(row.caption, QString::fromStdString(host));
        QCOMPARE(row.cells.value(0), QString::number(rank));
        QCOMPARE(row.cells.value(1), QString::number(PopularityOf(host)));
        QCOMPARE(row.cells.value(2), RankOf(host));
        QCOMPARE(row.cells.value(3), QString::fromStdString(FakeUpstream::FirstCaptureFor(host)));
        // The estimate holds the popularity and the outbound count read from
        // the live home page.
        const std::string agreement =
            kelvora::EstimateAgreement(PopularityOf(host), FakeUpstream::OutboundFor(host), rank + 1);
        QCOMPARE(row.cells.value(4), QString::fromStdString(agreement));
        QCOMPARE(row.cells.value(5), QString::fromStdString(MostPopularOther(host)));
        // Fetched once, by the prefetch; the program's request joined it.
        QCOMPARE(m_fake->CountFor(host, "/"), std::size_t{1});
    }
    QCOMPARE(m_fake->CountFor(FakeUpstream::kArchiveHost), kListed.size());
    QCOMPARE(StatusText(), QStringLiteral("Done!"));
    QCOMPARE(m_fake->CountFor("api2.marginalia-search.com"), std::size_t{1});
    QCOMPARE(m_fake->CountFor("10.0.0.9"), std::size_t{0});
}

void LiveRunTest::getDataShowsThePartnersContactLines()
{
    QTreeWidget *table = Form1->ui()->ListView1;
    QVERIFY(kelvora::RowCount(table) > 1);
    QCOMPARE(kelvora::RowAt(table, 1).caption, QString::fromStdString(kPartner));
    kelvora::SetTicked(table->topLevelItem(1), true);
    Form1->ui()->BitBtn1->click();   // "Add selection and Proceed to step 2."
    QCOMPARE(Form1->ui()->cbURL->currentText(), QString::fromStdString(kPartner));
    Form1->ui()->BitBtn3->click();   // "Get Data"

    const QStringList lines = Form1->ui()->WhoisMemo->toPlainText().split(QLatin1Char('\n'));
    const QStringList expected = {
        QStringLiteral("Website: site03.test"),
        QStringLiteral("Site: www.site03.test"),
        QStringLiteral("Mail: team@site03.test (https://www.site03.test/about.html)"),
        QStringLiteral("Phone: +44 20 7946 0321 (https://www.site03.test/about.html)"),
        QStringLiteral("Security contact: security@site03.test (security.txt)"),
        QStringLiteral("Registrar abuse: ") + QString::fromLatin1(FakeUpstream::kAbuseMail) + QStringLiteral(" (RDAP)"),
        QString(),
        QStringLiteral("Competitor:"),
        QString::fromStdString(MostPopularOther(kPartner)),
        QString(),
        QStringLiteral("Since:"),
        QString::fromStdString(FakeUpstream::FirstCaptureFor(kPartner)),
        QString(),
        QStringLiteral("Ranking:"),
        RankOf(kPartner),
    };
    QCOMPARE(lines, expected);
    // Everything came from the gateway's cache: fetched once, by the prefetch.
    QCOMPARE(m_fake->CountFor(kPartner, "/about.html"), std::size_t{1});
    QCOMPARE(m_fake->CountFor(kPartner, "/.well-known/security.txt"), std::size_t{1});
}

KELVORA_E2E_TEST_MAIN(LiveRunTest)

#include "live_run_test.moc"
