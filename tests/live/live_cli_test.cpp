// kelvora-directory --live as a process: what it refuses, and a real run
// against a fake SearXNG reached through --connect-to, stopped by SIGTERM.
#include <gtest/gtest.h>
#include <httplib.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "directory/live/cache.h"
#include "directory/live/engines.h"
#include "tests/live/facts_fixture.h"
#include "tests/live/fake_upstream.h"
#include "tests/live/test_pki.h"
#include "tests/support/files.h"
#include "tests/support/program_run.h"

using kelvora::live::testing::FakeUpstream;
using kelvora::live::testing::Result;
using kelvora::live::testing::SharedPki;
using kelvora::testsupport::ReadFile;
using kelvora::testsupport::TemporaryFolder;

extern char **environ;

namespace {

using namespace std::chrono_literals;

using Outcome = kelvora::testsupport::ProgramOutcome;

Outcome RunProgram(const std::string &arguments)
{
    // The default facts database lies under XDG_DATA_HOME: never the user's.
    static const std::string dataHome = TemporaryFolder();
    return kelvora::testsupport::RunProgram(KELVORA_DIRECTORY_PROGRAM, arguments,
                                            "XDG_DATA_HOME='" + dataHome + "'");
}

// A prefix for RunProgram's environment that runs the program as nobody
// when the tests run as root, who may write any file: read-only files are
// read-only only to others.
std::string AsAnotherUser()
{
    return geteuid() == 0 ? " setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
}

// Makes path and everything under it readable (and its folders searchable)
// by all, and writable by nobody.
void MakeReadOnly(const std::string &path)
{
    namespace fs = std::filesystem;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(path))
        fs::permissions(entry.path(), entry.is_directory() ? fs::perms(0555) : fs::perms(0444));
    fs::permissions(path, fs::perms(0555));
}

// kelvora-directory --live with arguments, its output in a log file; the
// port it announced, once it has.
class LiveProcess final {
public:
    LiveProcess(std::vector<std::string> arguments, const std::string &prefix = {})
        : m_log(TemporaryFolder() + "/log.txt")
    {
        std::string command = "exec" + prefix + " '" KELVORA_DIRECTORY_PROGRAM "' --live --listen 127.0.0.1:0";
        for (const std::string &argument : arguments)
            command += " '" + argument + "'";
        command += " >'" + m_log + "' 2>&1 </dev/null";
        const char *argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        if (posix_spawn(&m_pid, argv[0], nullptr, nullptr, const_cast<char **>(argv), environ) != 0)
            m_pid = 0;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (m_pid != 0 && m_port == 0 && std::chrono::steady_clock::now() < deadline) {
            const std::string text = ReadFile(m_log);
            const std::size_t at = text.find("on http://127.0.0.1:");
            if (at != std::string::npos)
                m_port = std::atoi(text.c_str() + at + 20);
            else
                std::this_thread::sleep_for(10ms);
        }
    }
    ~LiveProcess()
    {
        if (m_pid != 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    LiveProcess(const LiveProcess &) = delete;
    LiveProcess &operator=(const LiveProcess &) = delete;

    int Port() const { return m_port; }
    std::string Log() const { return ReadFile(m_log); }
    // Sends SIGTERM; the exit status and the time it took to exit.
    std::pair<int, std::chrono::steady_clock::duration> Terminate()
    {
        const auto start = std::chrono::steady_clock::now();
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = 0;
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::chrono::steady_clock::now() - start};
    }

private:
    std::string m_log;
    pid_t m_pid = 0;
    int m_port = 0;
};

std::vector<std::string> UpstreamArguments(const FakeUpstream &fake)
{
    std::vector<std::string> arguments = {"--ca-file", SharedPki().caFile};
    for (const std::string &rule : fake.Rules()) {
        arguments.push_back("--connect-to");
        arguments.push_back(rule);
    }
    return arguments;
}

} // namespace

TEST(LiveCommandLine, SigtermEndsStalledFetchesAndExitsWithinASecond)
{
    FakeUpstream fake;
    const std::vector<std::string> hosts = {"www.site01.test", "www.site02.test", "www.site03.test", "www.site04.test"};
    for (const std::string &host : hosts) {
        fake.SetHandler(host, [](const kelvora::live::testing::UpstreamRequest &) {
            kelvora::live::testing::UpstreamAnswer answer;
            answer.delay = 60s;   // a site that never finishes
            return answer;
        });
    }
    const std::string folder = TemporaryFolder();
    std::vector<std::string> arguments = UpstreamArguments(fake);
    arguments.insert(arguments.end(), {"--cache", folder + "/cache.db", "--facts", folder + "/facts.db"});
    LiveProcess program(arguments);
    ASSERT_GT(program.Port(), 0) << program.Log();

    std::vector<std::thread> clients;
    for (const std::string &host : hosts) {
        clients.emplace_back([&program, host] {
            httplib::Client client("127.0.0.1", program.Port());
            client.set_read_timeout(30, 0);
            client.Get("/", {{"Host", host}});
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (fake.MostAtOnceOverall() < static_cast<int>(hosts.size()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(fake.MostAtOnceOverall(), static_cast<int>(hosts.size())) << program.Log();

    const auto [exitCode, took] = program.Terminate();
    for (std::thread &client : clients)
        client.join();
    EXPECT_EQ(exitCode, 0) << program.Log();
    EXPECT_LT(took, 1s) << program.Log();
    std::cout << "exit after SIGTERM with " << hosts.size() << " stalled fetches: "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
}

TEST(LiveCommandLine, SaysWhichFileThePageCacheIsAndThatDeletingItIsSafe)
{
    const std::string folder = TemporaryFolder();
    const std::string garbage = folder + "/garbage.db";
    std::ofstream(garbage) << std::string(8192, 'x');
    // A cache cut to a third of its length.
    const std::string truncated = folder + "/truncated.db";
    {
        kelvora::directory::live::WebCache cache(truncated);
        kelvora::directory::live::CachedAnswer answer;
        answer.status = 200;
        answer.body = std::string(200'000, 'b');
        for (int i = 0; i < 20; ++i)
            cache.Store("page" + std::to_string(i), answer, 3600s);
    }
    std::filesystem::resize_file(truncated, std::filesystem::file_size(truncated) / 3);
    const std::string directory = TemporaryFolder();
    const std::string readOnlyFolder = TemporaryFolder();
    {
        kelvora::directory::live::WebCache cache(readOnlyFolder + "/cache.db");
    }
    MakeReadOnly(readOnlyFolder);

    const struct {
        std::string path;
        std::string prefix;
        const char *reason;
    } cases[] = {
        {garbage, "", "file is not a database"},
        {truncated, "", "malformed"},
        {directory, "", "it is a folder, not a file"},
        {readOnlyFolder + "/cache.db", AsAnotherUser(), "readonly"},
    };
    for (const auto &c : cases) {
        const Outcome outcome = kelvora::testsupport::RunProgram(
            KELVORA_DIRECTORY_PROGRAM,
            "--live --listen 127.0.0.1:0 --facts '" + folder + "/none.db' --cache '" + c.path + "'", c.prefix);
        EXPECT_EQ(outcome.exitCode, 1) << outcome.output;
        EXPECT_EQ(outcome.output.rfind("kelvora-directory: cannot use the page cache " + c.path + ": ", 0), 0u)
            << outcome.output;
        EXPECT_NE(outcome.output.find(c.reason), std::string::npos) << outcome.output;
        EXPECT_NE(outcome.output.find("deleting the file is safe"), std::string::npos) << outcome.output;
        EXPECT_EQ(std::count(outcome.output.begin(), outcome.output.end(), '\n'), 1) << outcome.output;
    }
}

TEST(LiveCommandLine, ReplaysOfflineFromReadOnlyCopiesOfTheCacheAndTheFacts)
{
    namespace live = kelvora::directory::live;
    const std::string query = "\"garden tools\"";
    const std::string folder = TemporaryFolder();
    {
        live::WebCache cache(folder + "/cache.db");
        const live::FetchRequest request = live::SearchEngine(live::EngineChoice{}).PageRequest(query, 1);
        live::CachedAnswer answer;
        answer.status = 200;
        answer.body = FakeUpstream::MarginaliaJson({{"https://www.garden-shop.org/", "One", ""}});
        cache.Store(request.Key(), answer, 3600s);
    }
    std::filesystem::copy_file(kelvora::live::testing::MakeFactsDatabase({{"garden-shop.org", 4500, 77}}),
                               folder + "/facts.db");
    MakeReadOnly(folder);

    LiveProcess program({"--offline", "--cache", folder + "/cache.db", "--facts", folder + "/facts.db"},
                        AsAnotherUser());
    ASSERT_GT(program.Port(), 0) << program.Log();
    httplib::Client client("127.0.0.1", program.Port());
    client.set_url_encode(false);
    const httplib::Result search = client.Get("/search?p=%22garden+tools%22&ei=UTF-8&n=20&b=1");
    ASSERT_TRUE(search) << program.Log();
    EXPECT_NE(search->body.find("<em class=\"url\">www.garden-shop.org/</em>"), std::string::npos) << search->body;
    const httplib::Result details = client.Get("/data/details/?url=www.garden-shop.org");
    ASSERT_TRUE(details) << program.Log();
    EXPECT_NE(details->body.find("Link popularity: 4,500"), std::string::npos) << details->body;
    EXPECT_EQ(program.Terminate().first, 0) << program.Log();
    EXPECT_EQ(program.Log().find("unable to open"), std::string::npos) << program.Log();
}

TEST(LiveCommandLine, RefusesWhatItCannotUseWithOneLine)
{
    const std::string folder = TemporaryFolder();
    const std::string cache = " --cache '" + folder + "/c.db'";
    const std::string notPem = folder + "/not.pem";
    std::ofstream(notPem) << "no certificate here\n";
    const std::string garbage = folder + "/garbage.db";
    std::ofstream(garbage) << std::string(4096, 'x');
    const struct {
        std::string arguments;
        int exitCode;
        std::string start;
    } cases[] = {
        {"--live --search-engine altavista" + cache, 2, "kelvora-directory: unknown search engine 'altavista'"},
        {"--live --connect-to nowhere" + cache, 2, "kelvora-directory: --connect-to wants HOST1:PORT1:HOST2:PORT2"},
        {"--live --ca-file /nonexistent.pem" + cache, 1, "kelvora-directory: cannot read the CA file /nonexistent.pem"},
        {"--live --ca-file '" + notPem + "'" + cache, 1, "kelvora-directory: no PEM certificate in the CA file"},
        {"--live --cache '" + garbage + "'", 1,
         "kelvora-directory: cannot use the page cache " + garbage + ": file is not a database"},
        {"--live --data /nonexistent.db" + cache, 1, "kelvora-directory: no data set at /nonexistent.db"},
        {"--live --facts '" + garbage + "'" + cache, 1, "kelvora-directory: facts database " + garbage + ": "},
    };
    for (const auto &c : cases) {
        const Outcome outcome = RunProgram(c.arguments);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.arguments << "\n" << outcome.output;
        EXPECT_EQ(outcome.output.rfind(c.start, 0), 0u) << c.arguments << "\n" << outcome.output;
        EXPECT_EQ(std::count(outcome.output.begin(), outcome.output.end(), '\n'), 1) << outcome.output;
    }
    const Outcome help = RunProgram("--help");
    EXPECT_NE(help.output.find("--live [--search-engine ENGINE]"), std::string::npos) << help.output;
    EXPECT_NE(help.output.find("[--facts FILE]"), std::string::npos) << help.output;
    EXPECT_NE(help.output.find("kelvora-directory facts import"), std::string::npos) << help.output;
}

// Every row of the engine table can be chosen on the command line, is
// named in the usage text and in the reason for a value it lacks, and asks
// its own address for pages.
TEST(LiveCommandLine, EveryEngineOfTheTableIsListedAndChosenByItsForm)
{
    namespace live = kelvora::directory::live;
    std::string help = RunProgram("--help").output;
    std::replace(help.begin(), help.end(), '\n', ' ');
    ASSERT_FALSE(live::Engines().empty());
    for (const live::EngineDescription &engine : live::Engines()) {
        const std::string name(engine.name);
        const std::string form = live::EngineForm(engine);
        EXPECT_EQ(form.rfind(name, 0), 0u) << form;
        EXPECT_NE(help.find(" " + form), std::string::npos) << form << "\n" << help;
        EXPECT_EQ(&live::Describe(engine.kind), &engine) << name << ": a kind with two rows";

        std::string text = name;
        std::string address(engine.endpoint);
        if (engine.value == live::EngineValue::Url) {
            address = "https://searx.test/x";
            text += ":" + address + "/";
        } else if (engine.value == live::EngineValue::Key) {
            text += ":k1";
        }
        std::string error;
        const std::optional<live::EngineChoice> choice = live::ParseEngine(text, error);
        ASSERT_TRUE(choice) << text << ": " << error;
        EXPECT_EQ(choice->kind, engine.kind) << text;
        EXPECT_EQ(live::SearchEngine(*choice).Name(), name);
        if (engine.value == live::EngineValue::OptionalKey) {
            EXPECT_FALSE(engine.defaultKey.empty()) << name;
            EXPECT_EQ(choice->key, engine.defaultKey) << name;
        } else {
            const Outcome lacking = RunProgram("--live --search-engine " + name);
            EXPECT_EQ(lacking.exitCode, 2) << lacking.output;
            EXPECT_EQ(lacking.output.rfind("kelvora-directory: " + name + " needs ", 0), 0u) << lacking.output;
            EXPECT_NE(lacking.output.find(": " + form + " (try --help)\n"), std::string::npos) << lacking.output;
        }

        const std::string url = live::SearchEngine(*choice).PageRequest("q", 1).url;
        EXPECT_EQ(url.rfind(address, 0), 0u) << name << ": " << url;
        EXPECT_EQ(url.find("k1"), std::string::npos) << name << ": the key stays out of the address";
    }
}

TEST(LiveCommandLine, ServesASearchFromTheEngineAndStopsOnSigterm)
{
    FakeUpstream fake;
    fake.SetResults("\"garden tools\"", {{"https://www.site01.test/", "One", ""}, {"https://www.site02.test/", "Two", ""}});
    const std::string folder = TemporaryFolder();
    const std::string log = folder + "/log.txt";
    std::vector<std::string> arguments = {KELVORA_DIRECTORY_PROGRAM, "--live", "--search-engine",
                                          std::string("searxng:") + FakeUpstream::kSearxngUrl,
                                          "--listen", "127.0.0.1:0", "--cache", folder + "/cache.db",
                                          "--facts", folder + "/facts.db", "--ca-file", SharedPki().caFile};
    for (const std::string &rule : fake.Rules()) {
        arguments.push_back("--connect-to");
        arguments.push_back(rule);
    }
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // "kelvora-directory: live on http://127.0.0.1:PORT/ with cache ..."
    int port = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (port == 0 && std::chrono::steady_clock::now() < deadline) {
        const std::string text = ReadFile(log);
        const std::size_t at = text.find("live on http://127.0.0.1:");
        if (at != std::string::npos)
            port = std::atoi(text.c_str() + at + 25);
        else
            std::this_thread::sleep_for(10ms);
    }
    ASSERT_GT(port, 0) << ReadFile(log);

    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(20, 0);
    client.set_url_encode(false);   // the request goes out as the program writes it
    const httplib::Result search = client.Get("/search?p=%22garden+tools%22&ei=UTF-8&n=20&b=1");
    ASSERT_TRUE(search) << ReadFile(log);
    EXPECT_EQ(search->status, 200);
    EXPECT_NE(search->body.find("of about <strong>2</strong>"), std::string::npos) << search->body;
    EXPECT_NE(search->body.find("<em class=\"url\">www.site01.test/</em>"), std::string::npos);
    EXPECT_NE(search->body.find("<em class=\"url\">www.site02.test/</em>"), std::string::npos);
    const httplib::Result home = client.Get("/", {{"Host", "www.site02.test"}});
    ASSERT_TRUE(home);
    EXPECT_EQ(home->body, FakeUpstream::HomePage("www.site02.test"));

    ASSERT_EQ(kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << ReadFile(log);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(ReadFile(log).find("searxng: 2 hosts from 2 page(s), listing 2"), std::string::npos) << ReadFile(log);
}
