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
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

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

} // namespace

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
        {"--live --cache '" + garbage + "'", 1, "kelvora-directory: file is not a database"},
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
