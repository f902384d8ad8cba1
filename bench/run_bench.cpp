// One keyword search of 20 results (61 requests) against the loopback fake,
// timed four ways: the program's run (RunSearch with every pump and table
// update), the same 61 fetches with HttpGet alone, the same 61 URLs with curl,
// and the floor: the very request bytes the run sent, replayed over plain
// blocking sockets one after another. run / floor is the program's overhead
// on top of the network; the hidden-window run shows how much is painting.
#include <QApplication>
#include <QRadioButton>
#include <QWindow>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

// Lets the window finish what it has queued and waits for the display server
// to have done it too, so a timed part starts from an idle screen, as a run
// started by a click does, and pays for no earlier frame.
void settle()
{
    QApplication::processEvents();
    QGuiApplication::sync();
}

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

// The run from the click to RunSearch's return; lastFrame, when given, gets
// the time the screen then takes to show the final rows.
double timeRun(double *lastFrame = nullptr)
{
    kelvora::SearchRequest request;
    request.keyword = QString::fromLatin1(kKeyword);
    settle();
    const Clock::time_point start = Clock::now();
    Form1->RunSearch(request, kResults, 0);
    const double elapsed = millisecondsSince(start);
    if (lastFrame != nullptr) {
        const Clock::time_point shown = Clock::now();
        settle();
        *lastFrame = millisecondsSince(shown);
    }
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

// The request heads exactly as the run sent them, in its order, answered by
// the same server; each answer is read to the server's close.
double timeFloor(const std::vector<std::string> &heads, std::uint16_t port)
{
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server.sin_port = htons(port);
    char buffer[64 * 1024];
    settle();
    const Clock::time_point start = Clock::now();
    for (const std::string &head : heads) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        std::size_t received = 0;
        if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&server), sizeof server) == 0
            && ::send(fd, head.data(), head.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(head.size())) {
            for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                received += static_cast<std::size_t>(got);
        }
        if (fd >= 0)
            ::close(fd);
        if (received == 0) {
            std::fprintf(stderr, "no answer to the replayed request %s\n", head.substr(0, head.find('\r')).c_str());
            std::exit(1);
        }
    }
    return millisecondsSince(start);
}

// Shows the window again and lets it be exposed and painted before the next
// timed run, so that run does not pay for the window's reappearance.
void showAgain()
{
    constexpr auto kExposeWait = std::chrono::seconds(2);
    Form1->show();
    const Clock::time_point start = Clock::now();
    while (Clock::now() - start < kExposeWait) {
        QApplication::processEvents();
        const QWindow *window = Form1->windowHandle();
        if (window != nullptr && window->isExposed())
            break;
    }
    QApplication::processEvents();
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

    const std::size_t headsBefore = fake.requestHeads().size();
    timeRun();   // warm-up: first paint, first allocations
    const std::vector<std::string> allHeads = fake.requestHeads();
    const std::vector<std::string> heads(allHeads.begin() + static_cast<std::ptrdiff_t>(headsBefore), allHeads.end());
    if (heads.size() != urls.size()) {
        std::fprintf(stderr, "the run sent %zu requests, %zu expected\n", heads.size(), urls.size());
        return 1;
    }
    timeFetches(urls);
    timeCurl(curl);
    timeFloor(heads, fake.port());

    // Each round's run is paired with the floor replayed right after it, so
    // a burst of load on a shared machine spoils one pair rather than the
    // ratio; the median of the pairs' ratios is reported.
    std::vector<double> runs, hiddenRuns, fetches, curls, floors, ratios, lastFrames;
    for (int round = 0; round < kRounds; ++round) {
        double lastFrame = 0;
        runs.push_back(timeRun(&lastFrame));
        lastFrames.push_back(lastFrame);
        floors.push_back(timeFloor(heads, fake.port()));
        ratios.push_back(runs.back() / floors.back());
        fetches.push_back(timeFetches(urls));
        curls.push_back(timeCurl(curl));
        // The same run with the window hidden: what remains is the run's own
        // work without painting the growing rows.
        Form1->hide();
        hiddenRuns.push_back(timeRun());
        showAgain();
    }
    std::remove(config.c_str());

    const double run = median(runs);
    const double fetch = median(fetches);
    const double viaCurl = median(curls);
    const double hidden = median(hiddenRuns);
    const double floor = median(floors);
    std::printf("requests per run:               %zu\n", urls.size());
    std::printf("run (RunSearch, median of %d):  %.2f ms\n", kRounds, run);
    std::printf("same fetches with HttpGet only: %.2f ms\n", fetch);
    std::printf("floor (same bytes, raw sockets): %.2f ms\n", floor);
    std::printf("same URLs with one curl:        %.2f ms\n", viaCurl);
    std::printf("run with the window hidden:     %.2f ms\n", hidden);
    std::printf("then the last frame shown:      %.2f ms\n", median(lastFrames));
    std::printf("program's own time per row:     %.3f ms (%.3f ms without painting)\n",
                (run - fetch) / kResults, (hidden - fetch) / kResults);
    std::printf("pause per request over floor:   %.3f ms\n", (run - floor) / static_cast<double>(urls.size()));
    std::printf("run / curl:                     %.2f\n", run / viaCurl);
    std::printf("run / floor:                    %.2f (rounds: %.2f to %.2f)\n", median(ratios),
                *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()));
    return 0;
}
