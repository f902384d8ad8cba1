// A 20-result keyword search of the program (61 requests) through the live
// gateway, against HTTPS fakes that delay every answer by 100 ms: the engine,
// the sites (home page, robots.txt, security.txt and a contact page each),
// the archive's CDX API and RDAP (rdap.org and the registry it sends each
// query on to), with the site figures of a facts database. Two of the 20
// sites fail: one loops through redirects, one refuses every connection.
// Timed four ways:
//   cold        an empty cache: the engine, then every listed site's home
//               page and facts, side by side by the prefetch;
//   warm        the same search again: every answer from the cache;
//   sequential  an empty cache and no prefetch: each answer is fetched only
//               when the program's request needs it, one row after another;
//   local       the same search against a local data set of 20 sites.
// Warm and local runs alternate, their order swapped from round to round, and
// warm / local is the median of the rounds' ratios: on a shared machine a
// burst of load then spoils one round rather than deciding the figure.
#include <QApplication>
#include <QRadioButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/results_table.h"
#include "app/unit1.h"
#include "dialogs/startunit.h"
#include "directory/core/server.h"
#include "directory/local/dataset.h"
#include "directory/local/service.h"
#include "directory/local/store.h"
#include "tests/e2e/e2e_harness.h"
#include "tests/live/facts_fixture.h"
#include "tests/live/fake_upstream.h"
#include "tests/live/gateway_server.h"
#include "tests/support/files.h"
#include "tests/support/loopback_server.h"
#include "ui_startunit.h"
#include "ui_unit1.h"

namespace {

using Clock = std::chrono::steady_clock;
using kelvora::live::testing::FakeUpstream;
using kelvora::live::testing::GatewayServer;
using kelvora::testsupport::TemporaryFolder;
using kelvora::live::testing::UpstreamAnswer;
using kelvora::live::testing::UpstreamRequest;

constexpr int kRounds = 9;
// A run without prefetch takes seconds: fewer of them.
constexpr int kSequentialRounds = 3;
constexpr int kResults = 20;
constexpr auto kUpstreamDelay = std::chrono::milliseconds(100);
constexpr const char *kKeyword = "garden tools";
// The sites that fail: a redirect loop and one that refuses connections.
constexpr int kLoopSite = 19;
constexpr int kUnreachableSite = 20;

std::string SiteHost(int number)
{
    char host[32];
    std::snprintf(host, sizeof host, "www.site%02d.test", number);
    return host;
}

double TimeRun()
{
    kelvora::SearchRequest request;
    request.keyword = QString::fromLatin1(kKeyword);
    const Clock::time_point start = Clock::now();
    Form1->RunSearch(request, kResults, 0);
    const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (kelvora::RowCount(Form1->ui()->ListView1) != kResults) {
        std::fprintf(stderr, "the run did not fill %d rows\n", kResults);
        std::exit(1);
    }
    return elapsed;
}

// Each site: the fake's home page (which links "/about.html"), an about page
// with a mail address, a security.txt; robots.txt and anything else 404.
UpstreamAnswer SitePage(const UpstreamRequest &request)
{
    UpstreamAnswer answer;
    const std::string domain = request.host.substr(4);
    if (request.path == "/") {
        answer.body = FakeUpstream::HomePage(request.host);
    } else if (request.path == "/about.html") {
        answer.body = "<html><body><p>Write to <a href=\"mailto:info@" + domain + "\">us</a>.</p></body></html>";
    } else if (request.path == "/.well-known/security.txt") {
        answer.contentType = "text/plain";
        answer.body = "Contact: mailto:security@" + domain + "\n";
    } else {
        answer.status = 404;
        answer.body = "not here";
    }
    return answer;
}

std::string FactsDatabase()
{
    std::vector<kelvora::live::testing::SiteFigures> figures;
    for (int i = 1; i <= kResults; ++i)
        figures.push_back({SiteHost(i), 1000 * i, 50'000 / i});
    return kelvora::live::testing::MakeFactsDatabase(figures);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A data set whose 20 sites all match the keyword.
std::string LocalDataSet()
{
    std::vector<kelvora::directory::SiteInput> sites;
    for (int i = 1; i <= kResults; ++i) {
        kelvora::directory::SiteInput site;
        site.host = SiteHost(i);
        site.title = "Garden tools " + std::to_string(i);
        site.description = "Garden tools for everyone";
        site.keywords = "garden tools";
        site.outbound = {SiteHost(i % kResults + 1)};
        sites.push_back(site);
    }
    const std::string path = TemporaryFolder() + "/local.db";
    kelvora::directory::WriteDataSet(path, std::move(sites), "bench");
    return path;
}

// The local directory over that data set, kept running so that its runs
// can alternate with the gateway's under the same machine load.
class LocalDirectory final {
public:
    LocalDirectory()
        : m_store(LocalDataSet())
        , m_answers(m_store)
        , m_server(m_answers)
    {
        std::string error;
        if (!m_server.Bind("127.0.0.1", 0, error) || !m_server.ServeInBackground(error)) {
            std::fprintf(stderr, "local directory: %s\n", error.c_str());
            std::exit(1);
        }
    }

    void RouteProgram() const
    {
        const std::string address = "127.0.0.1:" + std::to_string(m_server.Port());
        ::setenv("KELVORA_SEARCH_HOST", address.c_str(), 1);
        ::setenv("KELVORA_TRAFFIC_HOST", address.c_str(), 1);
        ::setenv("KELVORA_RESOLVE", ("*=" + address).c_str(), 1);
    }

private:
    kelvora::directory::Store m_store;
    kelvora::directory::LocalAnswers m_answers;
    kelvora::directory::DirectoryServer m_server;
};

} // namespace

int main(int argc, char **argv)
{
    kelvora::e2e::PrepareEnvironment();
    QApplication app(argc, argv);
    const kelvora::e2e::Program program;
    StartForm->ui()->rbKeyword->setChecked(true);

    FakeUpstream fake;
    std::vector<kelvora::live::testing::Result> results;
    for (int i = 1; i <= kResults; ++i)
        results.push_back({"https://" + SiteHost(i) + "/", "Site " + std::to_string(i), "Garden tools"});
    fake.SetResults("\"garden tools\"", results);
    for (int i = 1; i <= kResults; ++i)
        fake.SetHandler(SiteHost(i), SitePage);
    fake.SetHandler(SiteHost(kLoopSite), [](const UpstreamRequest &request) {
        UpstreamAnswer answer;
        answer.status = 302;
        answer.headers.emplace_back("Location", request.path == "/r1" ? "/r2" : "/r1");
        return answer;
    });
    fake.SetDelay(kUpstreamDelay);
    const std::string refused = std::to_string(kelvora::testsupport::ClosedLoopbackPort());
    std::vector<std::string> rules;
    for (const char *port : {"443", "80"})
        rules.push_back(SiteHost(kUnreachableSite) + ":" + port + ":127.0.0.1:" + refused);
    for (const std::string &rule : fake.Rules())
        rules.push_back(rule);
    const std::string facts = FactsDatabase();

    const LocalDirectory localDirectory;
    localDirectory.RouteProgram();
    TimeRun();   // warm-up

    std::vector<double> cold, warm, sequential, local, ratios;
    std::size_t coldRequests = 0;
    std::size_t warmRequests = 0;
    for (int round = 0; round < kRounds; ++round) {
        {
            GatewayServer gateway("marginalia:public", rules, TemporaryFolder() + "/cache.db", {}, facts);
            gateway.RouteProgram();
            const std::size_t before = fake.Requests().size();
            cold.push_back(TimeRun());
            coldRequests = fake.Requests().size() - before;
            const auto timeWarm = [&] {
                gateway.RouteProgram();
                const std::size_t beforeWarm = fake.Requests().size();
                warm.push_back(TimeRun());
                warmRequests = std::max(warmRequests, fake.Requests().size() - beforeWarm);
            };
            const auto timeLocal = [&] {
                localDirectory.RouteProgram();
                local.push_back(TimeRun());
            };
            if (round % 2 == 0) {
                timeWarm();
                timeLocal();
            } else {
                timeLocal();
                timeWarm();
            }
            ratios.push_back(warm.back() / local.back());
        }
        if (round >= kSequentialRounds)
            continue;
        kelvora::directory::live::LiveSettings withoutPrefetch;
        withoutPrefetch.prefetch = false;
        GatewayServer gateway("marginalia:public", rules, TemporaryFolder() + "/cache.db", withoutPrefetch, facts);
        gateway.RouteProgram();
        sequential.push_back(TimeRun());
    }

    const double coldMs = Median(cold);
    const double warmMs = Median(warm);
    const double sequentialMs = Median(sequential);
    const double localMs = Median(local);
    std::printf("20-result search, 61 requests, upstream answers delayed %lld ms (medians of %d rounds)\n",
                static_cast<long long>(kUpstreamDelay.count()), kRounds);
    std::printf("cold cache, prefetch:     %8.1f ms\n", coldMs);
    std::printf("warm cache:               %8.1f ms\n", warmMs);
    std::printf("cold cache, no prefetch:  %8.1f ms (sequential, %d rounds)\n", sequentialMs, kSequentialRounds);
    std::printf("local data set:           %8.1f ms\n", localMs);
    std::printf("warm / local:             %8.2f (median of the rounds' ratios; of the medians %.2f)\n",
                Median(ratios), warmMs / localMs);
    std::printf("cold / 1.0 s:             %8.2f\n", coldMs / 1000.0);
    std::printf("upstream requests, cold:  %zu (during the run)\n", coldRequests);
    std::printf("upstream requests, warm:  %zu (most in one run)\n", warmRequests);
    std::printf("redirect-loop home pages: %zu (one per fresh cache: %d)\n", fake.CountFor(SiteHost(kLoopSite), "/"),
                kRounds + kSequentialRounds);
    std::printf("upstream requests, all:   %zu\n", fake.Requests().size());
    return 0;
}
