// The program end to end through the live gateway: the real main window and
// search dialog run a keyword search whose engine and sites are HTTPS fakes
// on loopback, reached by the gateway through --connect-to and a test CA.
#include <QApplication>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include "app/results_table.h"
#include "tests/e2e/e2e_harness.h"
#include "tests/live/fake_upstream.h"
#include "tests/live/gateway_server.h"
#include "tests/live/test_pki.h"
#include "web/outbound.h"

using kelvora::ResultRow;
using kelvora::live::testing::FakeUpstream;
using kelvora::live::testing::GatewayServer;
using kelvora::live::testing::Result;
using kelvora::live::testing::TemporaryFolder;
using namespace kelvora::e2e;

namespace {

// The engine's order, with a repeated host and a private address between.
const std::vector<std::string> kListed = {"www.site07.test", "www.site03.test", "www.site11.test",
                                          "www.site01.test", "www.site05.test", "www.site24.test"};

std::vector<Result> EngineResults()
{
    std::vector<Result> results;
    for (const std::string &host : kListed)
        results.push_back({"https://" + host + "/", "Title of " + host, "Snippet <b>of</b> " + host});
    results.insert(results.begin() + 2, {"https://www.site07.test/shop", "Same site again", ""});
    results.insert(results.begin() + 4, {"https://10.0.0.9/", "A private address", ""});
    return results;
}

} // namespace

class LiveRunTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void keywordRunFillsRowsInTheEnginesOrderFromLivePages();

private:
    std::unique_ptr<FakeUpstream> m_fake;
    std::unique_ptr<GatewayServer> m_gateway;
};

void LiveRunTest::initTestCase()
{
    m_fake = std::make_unique<FakeUpstream>();
    m_fake->SetResults("\"garden tools\"", EngineResults());
    std::vector<std::string> mapped = {"api2.marginalia-search.com"};
    mapped.insert(mapped.end(), kListed.begin(), kListed.end());
    m_gateway = std::make_unique<GatewayServer>("marginalia:public", m_fake->RulesFor(mapped),
                                                TemporaryFolder() + "/web-cache.db");
    m_gateway->RouteProgram();
}

void LiveRunTest::cleanupTestCase()
{
    m_gateway.reset();
    m_fake.reset();
}

void LiveRunTest::keywordRunFillsRowsInTheEnginesOrderFromLivePages()
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
        // No backlinks and no traffic facts in this version: the fall-backs.
        QCOMPARE(row.cells.value(1), QStringLiteral("0"));
        QCOMPARE(row.cells.value(2), QStringLiteral("999999999"));
        QCOMPARE(row.cells.value(3), QString());
        // The estimate holds the outbound count read from the live home page.
        const std::string agreement = kelvora::EstimateAgreement(0, FakeUpstream::OutboundFor(host), rank + 1);
        QCOMPARE(row.cells.value(4), QString::fromStdString(agreement));
        QCOMPARE(row.cells.value(5), QString());
        // Fetched once, by the prefetch; the program's request joined it.
        QCOMPARE(m_fake->CountFor(host, "/"), std::size_t{1});
    }
    QCOMPARE(StatusText(), QStringLiteral("Done!"));
    QCOMPARE(m_fake->CountFor("api2.marginalia-search.com"), std::size_t{1});
    QCOMPARE(m_fake->CountFor("10.0.0.9"), std::size_t{0});
}

int main(int argc, char **argv)
{
    PrepareEnvironment();
    QApplication app(argc, argv);
    const Program program;
    LiveRunTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "live_run_test.moc"
