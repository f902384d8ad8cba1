// A 20-result keyword search of the program (61 requests) through the live
// gateway, against HTTPS fakes of the engine and the sites that delay every
// answer by 100 ms, timed four ways:
//   cold        an empty cache: the engine and 20 home pages are fetched,
//               the home pages side by side by the prefetch;
//   warm        the same search again: every answer from the cache;
//   sequential  an empty cache and no prefetch: each home page is fetched
//               only when the program asks for it, one after another;
//   local       the same search against a local data set of 20 sites.
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
#include "directory/dataset.h"
#include "directory/server.h"
#include "directory/store.h"
#include "tests/e2e/e2e_harness.h"
#include "tests/live/fake_upstream.h"
#include "tests/live/gateway_server.h"
#include "tests/live/test_pki.h"
#include "ui_startunit.h"
#include "ui_unit1.h"

namespace {

using Clock = std::chrono::steady_clock;
using kelvora::live::testing::FakeUpstream;
using kelvora::live::testing::GatewayServer;
using kelvora::live::testing::TemporaryFolder;

constexpr int kRounds = 5;
constexpr int kResults = 20;
constexpr auto kUpstreamDelay = std::chrono::milliseconds(100);
constexpr const char *kKeyword = "garden tools";

std::string SiteHost(int number)
{
    char host[32];
    std::snprintf(host, sizeof host, "www.site%02d.test", number);
    return host;
}

double TimeRun()
{
    const Clock::time_point start = Clock::now();
    Form1->RunSearch(QString::fromLatin1(kKeyword), kResults, 0);
    const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (kelvora::RowCount(Form1->ui()->ListView1) != kResults) {
        std::fprintf(stderr, "the run did not fill %d rows\n", kResults);
        std::exit(1);
    }
    return elapsed;
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

std::vector<double> LocalRuns()
{
    const kelvora::directory::Store store(LocalDataSet());
    kelvora::directory::DirectoryServer server(store);
    std::string error;
    if (!server.Bind("127.0.0.1", 0, error) || !server.ServeInBackground(error)) {
        std::fprintf(stderr, "local directory: %s\n", error.c_str());
        std::exit(1);
    }
    const std::string address = "127.0.0.1:" + std::to_string(server.Port());
    ::setenv("KELVORA_SEARCH_HOST", address.c_str(), 1);
    ::setenv("KELVORA_TRAFFIC_HOST", address.c_str(), 1);
    ::setenv("KELVORA_RESOLVE", ("*=" + address).c_str(), 1);
    TimeRun();   // warm-up
    std::vector<double> runs;
    for (int round = 0; round < kRounds; ++round)
        runs.push_back(TimeRun());
    return runs;
}

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
    fake.SetDelay(kUpstreamDelay);

    const std::vector<double> local = LocalRuns();

    std::vector<double> cold, warm, sequential;
    for (int round = 0; round < kRounds; ++round) {
        {
            GatewayServer gateway("marginalia:public", fake.Rules(), TemporaryFolder() + "/cache.db");
            gateway.RouteProgram();
            cold.push_back(TimeRun());
            warm.push_back(TimeRun());
        }
        kelvora::directory::live::LiveSettings withoutPrefetch;
        withoutPrefetch.prefetch = false;
        GatewayServer gateway("marginalia:public", fake.Rules(), TemporaryFolder() + "/cache.db", withoutPrefetch);
        gateway.RouteProgram();
        sequential.push_back(TimeRun());
    }

    const double coldMs = Median(cold);
    const double warmMs = Median(warm);
    const double sequentialMs = Median(sequential);
    const double localMs = Median(local);
    std::printf("20-result search, 61 requests, upstream answers delayed %lld ms (median of %d)\n",
                static_cast<long long>(kUpstreamDelay.count()), kRounds);
    std::printf("cold cache, prefetch:     %8.1f ms\n", coldMs);
    std::printf("warm cache:               %8.1f ms\n", warmMs);
    std::printf("cold cache, no prefetch:  %8.1f ms (sequential)\n", sequentialMs);
    std::printf("local data set:           %8.1f ms\n", localMs);
    std::printf("warm / local:             %8.2f\n", warmMs / localMs);
    std::printf("upstream requests:        %zu\n", fake.Requests().size());
    return 0;
}
