#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>
#include <thread>

#include "directory/core/sqlite.h"
#include "tests/directory/fixture_db.h"
#include "tests/support/files.h"
#include "tests/support/program_run.h"

using kelvora::directory::Connection;
using kelvora::directory::OpenMode;
using kelvora::directory::testing::FixtureDatabase;
using kelvora::testsupport::ReadFile;
using kelvora::testsupport::TemporaryFolder;
using kelvora::directory::testing::WriteTemporaryFile;

extern char **environ;

namespace {

using Outcome = kelvora::testsupport::ProgramOutcome;

// Runs the program with a shell command line's arguments (already quoted).
Outcome RunProgram(const std::string &arguments)
{
    return kelvora::testsupport::RunProgram(KELVORA_DIRECTORY_PROGRAM, arguments);
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

TEST(CommandLine, ImportsThatFindNothingLeaveTheDataSetAsItWas)
{
    const std::string folder = TemporaryFolder();
    const std::string out = folder + "/good.db";
    ASSERT_EQ(RunProgram(std::string("import-csv '") + KELVORA_DIRECTORY_FIXTURE + "' '" + out + "'").exitCode, 0);
    const std::string before = ReadFile(out);
    ASSERT_FALSE(before.empty());

    std::mt19937 random(4);
    std::string noise(1 << 16, '\0');
    for (char &c : noise)
        c = static_cast<char>(random());
    const std::string passwd = WriteTemporaryFile("passwd", "root:x:0:0:root:/root:/bin/bash\n"
                                                            "daemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n");
    const std::string bytes = WriteTemporaryFile("noise.bin", noise);
    const std::string noHomepage = WriteTemporaryFile("packages", "Package: a\nVersion: 1\n\nPackage: b\n");
    const std::string header = WriteTemporaryFile("header.csv", "host,title\n");
    const std::string invalid = WriteTemporaryFile("invalid.csv", "host,title\nbad host,x\nlocalhost,y\n");
    const std::string kept = "; " + out + " is left as it was";
    const struct {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"import-debian '" + out + "' --packages '" + bytes + "'",
         bytes + ": not a package catalogue (no package stanza)" + kept},
        {"import-debian '" + out + "' --packages '" + passwd + "'",
         passwd + ": not a package catalogue (no package stanza)" + kept},
        {"import-debian '" + out + "' --packages '" + noHomepage + "'",
         noHomepage + ": no package with a usable homepage among 2" + kept},
        {"import-csv '" + header + "' '" + out + "'", header + ": no valid site record (0 skipped)" + kept},
        {"import-csv '" + invalid + "' '" + out + "'", invalid + ": no valid site record (2 skipped)" + kept},
    };
    for (const auto &c : cases) {
        const Outcome outcome = RunProgram(c.arguments);
        EXPECT_EQ(outcome.exitCode, 1) << c.arguments << "\n" << outcome.output;
        EXPECT_EQ(outcome.output, "kelvora-directory: " + c.message + "\n") << c.arguments;
        EXPECT_EQ(ReadFile(out), before) << c.arguments;
        EXPECT_FALSE(std::filesystem::exists(out + ".tmp")) << c.arguments;
    }
}

TEST(CommandLine, ImportsACsvFileWithCarriageReturnLineEnds)
{
    std::string csv = ReadFile(KELVORA_DIRECTORY_FIXTURE);
    std::replace(csv.begin(), csv.end(), '\n', '\r');
    const std::string file = WriteTemporaryFile("mac.csv", csv);
    const std::string out = TemporaryFolder() + "/mac.db";
    const Outcome outcome = RunProgram("import-csv '" + file + "' '" + out + "'");
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_EQ(outcome.output, "kelvora-directory: wrote 8 sites and 11 links to " + out + " (0 records skipped)\n");
}

TEST(CommandLine, CsvImportMemoryDoesNotGrowWithTheFile)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine";
#else
    // 64 MiB of sites with a large contact field each: held whole, they
    // would take more memory than the file's size.
    constexpr std::size_t kRecords = 256;
    const std::string contact(256 * 1024, 'c');
    const std::string file = TemporaryFolder() + "/large.csv";
    {
        std::ofstream csv(file, std::ios::binary);
        csv << "host,contact\n";
        for (std::size_t i = 0; i < kRecords; ++i)
            csv << "s" << i << ".test," << contact << "\n";
    }
    const std::size_t fileSize = std::filesystem::file_size(file);
    const std::string out = TemporaryFolder() + "/large.db";

    // fork, not posix_spawn: a child sharing this process's memory until its
    // exec would report this process's peak as its own.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execl(KELVORA_DIRECTORY_PROGRAM, KELVORA_DIRECTORY_PROGRAM, "import-csv", file.c_str(), out.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    ASSERT_EQ(wait4(child, &status, 0, &usage), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::size_t peak = static_cast<std::size_t>(usage.ru_maxrss) * 1024;
    RecordProperty("peak_rss_kib", static_cast<int>(usage.ru_maxrss));
    EXPECT_LT(peak, fileSize * 3 / 4) << "peak " << peak / 1024 << " KiB for a file of " << fileSize / 1024 << " KiB";
    EXPECT_EQ(kelvora::directory::Store(out).SiteCount(), static_cast<std::int64_t>(kRecords));
#endif
}

TEST(CommandLine, TheNextImportRemovesWhatAKilledOneLeft)
{
    // Big enough that the import is still running when it is killed.
    std::string csv = "host,keywords,outbound\n";
    for (int i = 0; i < 60000; ++i)
        csv += "s" + std::to_string(i) + ".test,k" + std::to_string(i % 97) + " w" + std::to_string(i % 3001) +
               ",s" + std::to_string((i * 7) % 60000) + ".test\n";
    const std::string file = WriteTemporaryFile("big.csv", csv);
    const std::string out = TemporaryFolder() + "/killed.db";
    const std::string temporary = out + ".tmp";

    const char *argv[] = {KELVORA_DIRECTORY_PROGRAM, "import-csv", file.c_str(), out.c_str(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, KELVORA_DIRECTORY_PROGRAM, nullptr, nullptr, const_cast<char **>(argv), environ), 0);
    bool started = false;
    for (int i = 0; i < 2000 && !started; ++i) {
        started = std::filesystem::exists(temporary);
        if (!started)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(started);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the import ended before it could be killed";
    EXPECT_TRUE(std::filesystem::exists(temporary));
    EXPECT_FALSE(std::filesystem::exists(out));

    const Outcome next = RunProgram(std::string("import-csv '") + KELVORA_DIRECTORY_FIXTURE + "' '" + out + "'");
    EXPECT_EQ(next.exitCode, 0) << next.output;
    EXPECT_FALSE(std::filesystem::exists(temporary));
    EXPECT_NE(next.output.find("wrote 8 sites"), std::string::npos);
}

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
    // A newcomer learns at once why a business keyword finds nothing.
    std::string secondLine;
    std::getline(logFile, secondLine);
    EXPECT_NE(secondLine.find("knows only its own sites (by default those of this machine's package catalogue),"
                              " so business keywords find nothing here"),
              std::string::npos)
        << secondLine;
}
