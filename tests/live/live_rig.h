#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "directory/live/live_service.h"
#include "tests/live/fake_upstream.h"
#include "tests/support/loopback_server.h"
#include "tests/support/wait_for.h"

// A live service over a fake upstream, driven in-process, and the program's
// way of reading a results page: what the gateway tests share.
namespace kelvora::live::testing {

inline constexpr const char *kGardenQuery = "p=%22garden+tools%22&ei=UTF-8&n=20&b=1";
inline constexpr const char *kGardenText = "\"garden tools\"";

// www.siteNN.test, and the engine results and host lists of a range of them.
std::string Site(int number);
std::vector<Result> Sites(int first, int last);
std::vector<std::string> Hosts(int first, int last);

directory::live::EngineChoice Engine(const std::string &text);

// A pacing clock for tests that are not about pacing: every look at it finds
// an hour gone, so buckets are always full and stops always over.
directory::live::HostPacer::Clock TimeFlies();

// What the program takes from a results page: the total after "of about" and
// the host of every entry, read the way its search run reads them.
struct ProgramView {
    std::string total;
    std::vector<std::string> hosts;
};
ProgramView ReadAsTheProgram(const std::string &page);

using testsupport::WaitFor;

// A gateway over a fake upstream, with its own cache file, a clock the test
// moves and a log kept for the test.
class Rig {
public:
    struct Setup {
        std::string engine = "marginalia:public";
        bool everyHost = true;                   // map every host to the fake
        std::vector<std::string> mappedHosts;    // otherwise only these (see RulesFor)
        std::string dataFile;
        std::string factsFile;                   // empty: no facts database
        directory::live::LiveSettings settings;
    };

    Rig();
    explicit Rig(Setup setup);

    void Open();
    // Closes the service and opens it again offline, with every port of
    // every host led to the returned loopback server, which answers 500 and
    // counts connections: a test checks that none reached it.
    std::unique_ptr<testsupport::LoopbackServer> ReopenOffline();

    directory::Reply Search(const std::string &query);
    directory::Reply Home(const std::string &host);
    directory::Reply Details(const std::string &host);

    std::string Log() const;

    FakeUpstream fake;
    directory::live::LiveOptions options;
    directory::live::LiveSettings settings;
    std::atomic<std::int64_t> now{1'700'000'000};
    std::unique_ptr<directory::live::LiveService> service;

private:
    std::string m_folder;
    mutable std::mutex m_logMutex;
    std::vector<std::string> m_log;
};

} // namespace kelvora::live::testing
