// scripts/run --live as a user starts it, inside a network namespace of its
// own where only loopback exists: with no facts database it fetches the
// open rank lists first (from loopback fakes of their publishers), and the
// gateway then shows their ranks and popularity; with fresh lists it starts
// at once; with the publishers down it warns once and starts all the same.
// The program's window runs offscreen; every process started is ended.
#include <gtest/gtest.h>
#include <httplib.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/facts/compressed_files.h"
#include "tests/facts/list_publisher.h"
#include "tests/live/fake_upstream.h"
#include "tests/live/test_pki.h"
#include "tests/support/files.h"
#include "web/traffic.h"
#include "web/text.h"

using kelvora::directory::facts::testing::ListPublisher;
using kelvora::directory::facts::testing::WriteZip;
using kelvora::live::testing::FakeUpstream;
using kelvora::live::testing::Result;
using kelvora::testsupport::ReadFile;
using kelvora::testsupport::TemporaryFolder;

extern char **environ;

namespace {

using namespace std::chrono_literals;

constexpr const char *kInsideVariable = "KELVORA_TEST_IN_LOOPBACK_NAMESPACE";
constexpr int kFirstPort = 8355;
constexpr int kLastPort = 8375;
constexpr auto kStartLimit = 30s;   // the update, the gateway and the window, on a busy machine
constexpr auto kStopLimit = 15s;

bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

std::size_t Count(const std::string &text, const std::string &part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Today as an HTTP date, so that the lists count as fresh.
std::string HttpDateNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

// scripts/run --live started in a process group of its own, its output in
// a log file; the whole group is ended on destruction.
class RunScript final {
public:
    RunScript(const std::string &log, const std::vector<std::string> &environment)
    {
        std::vector<std::string> variables;
        for (char **entry = environ; *entry != nullptr; ++entry)
            variables.emplace_back(*entry);
        variables.insert(variables.end(), environment.begin(), environment.end());
        std::vector<char *> envp;
        for (std::string &variable : variables)
            envp.push_back(variable.data());
        envp.push_back(nullptr);

        const std::string script = std::string(KELVORA_SOURCE_ROOT) + "/scripts/run";
        std::vector<std::string> arguments = {"/bin/bash", script, "--live"};
        std::vector<char *> argv;
        for (std::string &argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        if (posix_spawn(&m_pid, "/bin/bash", &actions, &attributes, argv.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }

    ~RunScript()
    {
        if (m_pid <= 0)
            return;
        ::kill(-m_pid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                // The script's own children (the directory, the window) go
                // with the group.
                ::kill(-m_pid, SIGKILL);
                return;
            }
            std::this_thread::sleep_for(50ms);
        }
        ::kill(-m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    RunScript(const RunScript &) = delete;
    RunScript &operator=(const RunScript &) = delete;

    bool Started() const { return m_pid > 0; }
    bool Running() const { return m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; }

private:
    pid_t m_pid = -1;
};

// The port of the live directory the script started, once it answers.
std::optional<int> WaitForDirectory(const RunScript &run, std::string &why)
{
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!run.Running()) {
            why = "scripts/run ended";
            return std::nullopt;
        }
        for (int port = kFirstPort; port <= kLastPort; ++port) {
            httplib::Client client("127.0.0.1", port);
            client.set_connection_timeout(1);
            const auto answer = client.Get("/");
            if (answer && Contains(answer->body, "<title>Kelvora Directory</title>"))
                return port;
            why = answer ? "port " + std::to_string(port) + " answered " + std::to_string(answer->status) + ": " +
                               answer->body.substr(0, 200)
                         : "port " + std::to_string(port) + ": " + httplib::to_string(answer.error());
        }
        std::this_thread::sleep_for(200ms);
    }
    return std::nullopt;
}

std::string Get(int port, const std::string &target)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30);
    const auto answer = client.Get(target.c_str());
    return answer && answer->status == 200 ? answer->body : std::string();
}

void RunInsideTheNamespace()
{
    const std::string folder = TemporaryFolder();
    FakeUpstream upstream;
    upstream.SetResults("garden", {{"https://www.site01.test/", "Site one", ""},
                                   {"https://www.site02.test/", "Site two", ""}});
    std::optional<ListPublisher> publisher(std::in_place);
    const std::string listDate = HttpDateNow();
    WriteZip(folder + "/top-1m.csv.zip", {{"top-1m.csv", "4321,site01.test\n77,site02.test\n"}});
    publisher->Publish("tranco-list.eu", "/top-1m.csv.zip", {ReadFile(folder + "/top-1m.csv.zip"), "\"t\"", listDate});
    publisher->Publish("downloads.majestic.com", "/majestic_million.csv",
                       {"GlobalRank,TldRank,Domain,TLD,RefSubNets\n1,1,site01.test,test,765\n", "\"m\"", listDate});

    const auto environmentFor = [&](const std::string &home, const std::vector<std::string> &listRules) {
        std::string options = "--ca-file " + kelvora::live::testing::SharedPki().caFile;
        for (const std::string &rule : listRules)
            options += " --connect-to " + rule;
        // Rules for these hosts alone: a rule for any host would make the
        // gateway take a visit to itself for one to a site.
        for (const std::string &rule : upstream.RulesFor({"searx.test", "www.site01.test", "www.site02.test"}))
            options += " --connect-to " + rule;
        return std::vector<std::string>{
            "XDG_DATA_HOME=" + home + "/data", "XDG_CACHE_HOME=" + home + "/cache",
            "KELVORA_SKIP_BUILD=1", "KELVORA_BUILD_DIR=" + std::string(KELVORA_BUILD_ROOT),
            "KELVORA_SEARCH_ENGINE=searxng:https://searx.test", "KELVORA_LIVE_OPTIONS=" + options,
            "QT_QPA_PLATFORM=offscreen", "http_proxy=", "https_proxy=", "HTTPS_PROXY=", "all_proxy=", "ALL_PROXY="};
    };

    const std::string home = folder + "/user";
    const std::string facts = home + "/data/kelvora/facts.db";
    {
        SCOPED_TRACE("first start: no facts database");
        const std::string log = folder + "/first.log";
        RunScript run(log, environmentFor(home, publisher->Rules()));
        ASSERT_TRUE(run.Started());
        std::string why;
        const std::optional<int> port = WaitForDirectory(run, why);
        ASSERT_TRUE(port) << why << "\n" << ReadFile(log) << ReadFile(home + "/data/kelvora/directory.log");
        const std::string output = ReadFile(log);
        EXPECT_TRUE(Contains(output, "run: no facts database at " + facts +
                                         ": running kelvora-directory facts update first "
                                         "(KELVORA_FACTS_UPDATE=0 skips it)\n"))
            << output;
        EXPECT_TRUE(Contains(output, "kelvora-directory: facts: tranco: read 2 lines (0 skipped): 2 hosts"))
            << output;
        EXPECT_TRUE(Contains(output, "kelvora-directory: facts: majestic: read 2 lines")) << output;
        EXPECT_FALSE(Contains(output, "warning")) << output;

        EXPECT_TRUE(Contains(Get(*port, "/search?p=garden&n=20&b=1"), "www.site01.test"));
        const std::string details = Get(*port, "/data/details/?url=www.site01.test");
        const std::string page = kelvora::ReplaceAllIgnoreCase(kelvora::LowerCase(details), "\r\n", "");
        EXPECT_EQ(kelvora::ParseTrafficRank(page, {}), "4321") << details;
        EXPECT_TRUE(Contains(details, "Link popularity: 765<br>")) << details;
        EXPECT_TRUE(Contains(Get(*port, "/data/details/?url=www.site02.test"), "Link popularity: 0<br>"));
    }
    {
        SCOPED_TRACE("second start: the lists are fresh");
        const std::string log = folder + "/second.log";
        const std::size_t requests = publisher->Requests().size();
        RunScript run(log, environmentFor(home, publisher->Rules()));
        std::string why;
        ASSERT_TRUE(WaitForDirectory(run, why)) << why << "\n" << ReadFile(log);
        EXPECT_FALSE(Contains(ReadFile(log), "facts")) << ReadFile(log);
        EXPECT_EQ(publisher->Requests().size(), requests);
    }
    publisher.reset();
    {
        SCOPED_TRACE("publishers down");
        const std::string otherHome = folder + "/other";
        const std::string log = folder + "/third.log";
        RunScript run(log, environmentFor(otherHome, {"tranco-list.eu:443:127.0.0.1:1",
                                                      "downloads.majestic.com:443:127.0.0.1:1"}));
        std::string why;
        const std::optional<int> port = WaitForDirectory(run, why);
        ASSERT_TRUE(port) << why << "\n" << ReadFile(log);
        const std::string output = ReadFile(log);
        EXPECT_EQ(Count(output, "run: no facts database at "), 1u) << output;
        EXPECT_EQ(Count(output, "run: warning: the facts update failed; live mode starts with the facts there "
                                "are\n"),
                  1u)
            << output;
        EXPECT_TRUE(Contains(Get(*port, "/search?p=garden&n=20&b=1"), "www.site02.test"));
    }
    {
        SCOPED_TRACE("the update switched off");
        const std::string log = folder + "/fourth.log";
        std::vector<std::string> environment = environmentFor(folder + "/third", {});
        environment.push_back("KELVORA_FACTS_UPDATE=0");
        RunScript run(log, environment);
        std::string why;
        ASSERT_TRUE(WaitForDirectory(run, why)) << why << "\n" << ReadFile(log);
        EXPECT_FALSE(Contains(ReadFile(log), "facts")) << ReadFile(log);
    }
}

} // namespace

TEST(RunScriptLive, FetchesTheListsFirstInALoopbackOnlyNetwork)
{
    if (std::getenv(kInsideVariable) != nullptr) {
        RunInsideTheNamespace();
        return;
    }
    if (std::system("unshare -rn true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "unshare -rn (a network namespace of one's own) is not permitted here";
    char self[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(length, 0);
    const std::string command = std::string(kInsideVariable) +
                                "=1 unshare -rn sh -c 'ip link set lo up && exec \"$0\" "
                                "--gtest_filter=RunScriptLive.*' '" +
                                std::string(self) + "' 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, count);
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    EXPECT_TRUE(Contains(output, "[  PASSED  ] 1 test")) << output;
}
