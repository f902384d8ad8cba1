#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>
#include <thread>

#include "directory/sqlite.h"
#include "tests/directory/fixture_db.h"

using kelvora::directory::Connection;
using kelvora::directory::OpenMode;
using kelvora::directory::testing::FixtureDatabase;
using kelvora::directory::testing::TemporaryFolder;
using kelvora::directory::testing::WriteTemporaryFile;

extern char **environ;

namespace {

struct Outcome {
    int exitCode = -1;
    std::string output;   // stdout and stderr together
};

// Runs the program with a shell command line's arguments (already quoted).
Outcome RunProgram(const std::string &arguments)
{
    Outcome outcome;
    const std::string command = std::string("'") + KELVORA_DIRECTORY_PROGRAM + "' " + arguments +
                                " 2>&1 </dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return outcome;
    char buffer[4096];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        outcome.output.append(buffer, count);
    const int status = pclose(pipe);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

bool OneLine(const std::string &text)
{
    return !text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1;
}

// A socket listening on a free loopback port, kept busy for the test.
class BusyPort final {
public:
    BusyPort()
    {
        m_socket = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof(address));
        listen(m_socket, 1);
        socklen_t size = sizeof(address);
        getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &size);
        m_port = ntohs(address.sin_port);
    }
    ~BusyPort() { close(m_socket); }
    BusyPort(const BusyPort &) = delete;
    BusyPort &operator=(const BusyPort &) = delete;
    int Port() const { return m_port; }

private:
    int m_socket = -1;
    int m_port = 0;
};

} // namespace

TEST(CommandLine, ErrorsGiveOneLineAndAFailingExit)
{
    const std::string garbage = WriteTemporaryFile("corrupt.db", std::string(4096, 'x'));
    const std::string brokenCsv = WriteTemporaryFile("broken.csv", "host,rank\na.test,x\n");
    const std::string plainDatabase = TemporaryFolder() + "/plain.db";
    Connection(plainDatabase, OpenMode::Create).Execute("CREATE TABLE t(x)");
    BusyPort busy;
    const struct {
        std::string arguments;
        int exitCode;
        std::string start;
    } cases[] = {
        {"--data /nonexistent/kelvora.db", 1, "kelvora-directory: no data set at /nonexistent/kelvora.db"},
        {"--data '" + garbage + "'", 1, "kelvora-directory: cannot use data set " + garbage +
                                            ": file is not a database"},
        {"--data '" + FixtureDatabase() + "' --listen 127.0.0.1:" + std::to_string(busy.Port()), 1,
         "kelvora-directory: cannot listen on 127.0.0.1:" + std::to_string(busy.Port())},
        {"--frobnicate", 2, "kelvora-directory: unknown option '--frobnicate'"},
        {"--listen 8355", 2, "kelvora-directory: --listen wants ADDR:PORT"},
        {"--listen 127.0.0.1:70000", 2, "kelvora-directory: --listen wants ADDR:PORT"},
        {"--data", 2, "kelvora-directory: --data needs a value"},
        {"import-csv /nonexistent.csv out.db", 1, "kelvora-directory: cannot read /nonexistent.csv"},
        {"import-csv '" + brokenCsv + "' '" + TemporaryFolder() + "/x.db'", 1,
         "kelvora-directory: " + brokenCsv + ": line 2: rank is not a whole number: x"},
        {"import-csv onlyone", 2, "kelvora-directory: import-csv needs FILE and OUT.db"},
        {"import-tranco '" + brokenCsv + "' /nonexistent.db", 1, "kelvora-directory: no data set at"},
        {"import-tranco '" + brokenCsv + "' '" + garbage + "'", 1, "kelvora-directory: cannot use data set " + garbage + ": file is not a database"},
        {"import-nothing", 2, "kelvora-directory: unknown command 'import-nothing'"},
        {"--data '" + plainDatabase + "'", 1, "kelvora-directory: cannot use data set " +
                                                  plainDatabase + ": not a directory data set"},
        {std::string("import-csv '") + KELVORA_DIRECTORY_FIXTURE + "' /nonexistent/dir/x.db", 1,
         "kelvora-directory: cannot write /nonexistent/dir/x.db: unable to open database file"},
    };
    for (const auto &c : cases) {
        const Outcome outcome = RunProgram(c.arguments);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.arguments << "\n" << outcome.output;
        EXPECT_EQ(outcome.output.rfind(c.start, 0), 0u) << c.arguments << "\n" << outcome.output;
        EXPECT_TRUE(OneLine(outcome.output)) << outcome.output;
    }
    const Outcome help = RunProgram("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.output.rfind("Usage: kelvora-directory", 0), 0u);
}

namespace {

// A copy of the fixture whose sites table (and its indexes) are overwritten
// with garbage: it opens, and fails at its first real read.
std::string DamagedDatabase()
{
    const std::string path = TemporaryFolder() + "/damaged.db";
    std::filesystem::copy_file(FixtureDatabase(), path);
    std::vector<std::int64_t> pages;
    std::int64_t pageSize = 0;
    {
        const Connection db(path, OpenMode::ReadOnly);
        kelvora::directory::Statement size(db, "PRAGMA page_size");
        size.Step();
        pageSize = size.Integer(0);
        kelvora::directory::Statement roots(db, "SELECT rootpage FROM sqlite_master WHERE tbl_name = 'sites'");
        while (roots.Step())
            pages.push_back(roots.Integer(0));
    }
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    for (const std::int64_t page : pages) {
        file.seekp((page - 1) * pageSize);
        file << std::string(static_cast<std::size_t>(pageSize), '\xa5');
    }
    return path;
}

} // namespace

TEST(CommandLine, ADamagedDataSetIsRefusedBeforeAnythingIsAnnounced)
{
    const std::string damaged = DamagedDatabase();
    const Outcome outcome = RunProgram("--data '" + damaged + "' --listen 127.0.0.1:0");
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.output.rfind("kelvora-directory: cannot use data set " + damaged + ": ", 0), 0u)
        << outcome.output;
    EXPECT_NE(outcome.output.find("malformed"), std::string::npos) << outcome.output;
    EXPECT_EQ(outcome.output.find("serving"), std::string::npos) << outcome.output;
    EXPECT_TRUE(OneLine(outcome.output)) << outcome.output;
}

TEST(CommandLine, ImportsServesAndStopsOnSigterm)
{
    const std::string folder = TemporaryFolder();
    const std::string database = folder + "/served.db";
    const Outcome import = RunProgram(std::string("import-csv '") + KELVORA_DIRECTORY_FIXTURE + "' '" +
                               database + "'");
    ASSERT_EQ(import.exitCode, 0) << import.output;
    EXPECT_NE(import.output.find("wrote 8 sites"), std::string::npos) << import.output;

    int port = 0;
    {
        BusyPort probe;   // a port that was free a moment ago
        port = probe.Port();
    }
    const std::string listen = "127.0.0.1:" + std::to_string(port);
    const std::string log = folder + "/log.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const char *argv[] = {KELVORA_DIRECTORY_PROGRAM, "--data", database.c_str(), "--listen",
                          listen.c_str(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, KELVORA_DIRECTORY_PROGRAM, &actions, nullptr,
                          const_cast<char **>(argv), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);

    // Wait (bounded) until it accepts a connection, then ask for a page.
    std::string reply;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (reply.empty() && std::chrono::steady_clock::now() < deadline) {
        const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(socket, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0) {
            const std::string request =
                "GET /data/details/?url=www.toolshed.test HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
            send(socket, request.data(), request.size(), MSG_NOSIGNAL);
            timeval timeout{5, 0};
            setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
            char buffer[4096];
            ssize_t count;
            while ((count = recv(socket, buffer, sizeof(buffer), 0)) > 0)
                reply.append(buffer, static_cast<std::size_t>(count));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        close(socket);
    }
    EXPECT_NE(reply.find("Traffic rank for www.toolshed.test: <b>4</b><br>"), std::string::npos);

    kill(child, SIGTERM);
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 500 && done == 0; ++i) {
        done = waitpid(child, &status, WNOHANG);
        if (done == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the server did not stop on SIGTERM";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::ifstream logFile(log);
    std::string firstLine;
    std::getline(logFile, firstLine);
    EXPECT_EQ(firstLine, "kelvora-directory: serving 8 sites from " + database + " on http://" +
                             listen + "/");
}
