// One keyword search of 20 results (61 requests) against the loopback fake,
// timed three ways: the program's run (RunSearch with every pump and table
// update), the same 61 fetches with HttpGet alone, and the same 61 URLs with
// curl. The difference between the first two is the program's own cost,
// mostly the painting of the growing rows (a hidden-window run shows how much).
#include <QApplication>
#include <QRadioButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/results_table.h"
#include "app/unit1.h"
#include "dialogs/startunit.h"
#include "tests/e2e/e2e_harness.h"
#include "tests/e2e/fake_web.h"
#include "ui_startunit.h"
#include "ui_unit1.h"
#include "web/http.h"
#include "web/results_page.h"
#include "web/services.h"
#include "web/text.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 15;
constexpr int kResults = 20;
constexpr const char *kKeyword = "web hosting";

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The URLs a run fetches, in its order.
std::vector<std::string> runUrls()
{
    std::vector<std::string> urls{kelvora::KeywordSearchUrl(kKeyword, kResults, 0)};
    for (const std::string &host : kelvora::e2e::FakeWeb::defaultHosts()) {
        urls.push_back(kelvora::BacklinkSearchUrl(host));
        urls.push_back("http://" + kelvora::TrafficHost() + "/data/details/?url=www."
                       + kelvora::BareHost(host));
        urls.push_back("http://" + host);
    }
    return urls;
}

double timeRun()
{
    const Clock::time_point start = Clock::now();
    Form1->RunSearch(QString::fromLatin1(kKeyword), kResults, 0);
    const double elapsed = millisecondsSince(start);
    if (kelvora::RowCount(Form1->ui()->ListView1) != kResults) {
        std::fprintf(stderr, "the run did not fill %d rows\n", kResults);
        std::exit(1);
    }
    return elapsed;
}

double timeFetches(const std::vector<std::string> &urls)
{
    const Clock::time_point start = Clock::now();
    for (const std::string &url : urls) {
        std::string page;
        kelvora::HttpGet(url, page, 80);
        if (page.empty()) {
            std::fprintf(stderr, "empty page for %s\n", url.c_str());
            std::exit(1);
        }
    }
    return millisecondsSince(start);
}

double timeCurl(const std::string &command)
{
    const Clock::time_point start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "curl failed: %s\n", command.c_str());
        std::exit(1);
    }
    return millisecondsSince(start);
}

} // namespace

int main(int argc, char **argv)
{
    kelvora::e2e::PrepareEnvironment();
    QApplication app(argc, argv);
    const kelvora::e2e::Program program;
    kelvora::e2e::FakeWeb fake;
    fake.routeEverything();
    StartForm->ui()->rbKeyword->setChecked(true);

    const std::vector<std::string> urls = runUrls();
    const std::string port = std::to_string(fake.port());
    const std::string config = "/tmp/kelvora_run_bench_" + port + ".curl";
    {
        std::ofstream out(config);
        for (const std::string &url : urls)
            out << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
    }
    // One curl process fetching the 61 URLs one after another, each on a new
    // connection since the fake closes after every answer.
    const std::string curl = "curl -s --fail --connect-to ::127.0.0.1:" + port + " -K " + config;

    timeRun();   // warm-up: first paint, first allocations
    timeFetches(urls);
    timeCurl(curl);

    std::vector<double> runs, hiddenRuns, fetches, curls;
    for (int round = 0; round < kRounds; ++round) {
        runs.push_back(timeRun());
        fetches.push_back(timeFetches(urls));
        curls.push_back(timeCurl(curl));
        // The same run with the window hidden: what remains is the run's own
        // work without painting the growing rows.
        Form1->hide();
        hiddenRuns.push_back(timeRun());
        Form1->show();
    }
    std::remove(config.c_str());

    const double run = median(runs);
    const double fetch = median(fetches);
    const double viaCurl = median(curls);
    const double hidden = median(hiddenRuns);
    std::printf("requests per run:               %zu\n", urls.size());
    std::printf("run (RunSearch, median of %d):  %.2f ms\n", kRounds, run);
    std::printf("same fetches with HttpGet only: %.2f ms\n", fetch);
    std::printf("same URLs with one curl:        %.2f ms\n", viaCurl);
    std::printf("run with the window hidden:     %.2f ms\n", hidden);
    std::printf("program's own time per row:     %.3f ms (%.3f ms without painting)\n",
                (run - fetch) / kResults, (hidden - fetch) / kResults);
    std::printf("run / curl:                     %.2f\n", run / viaCurl);
    return 0;
}
