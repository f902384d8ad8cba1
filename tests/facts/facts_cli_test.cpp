// The "facts" commands of the built program.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "directory/facts/facts_db.h"
#include "directory/facts/sources.h"
#include "tests/directory/fixture_db.h"
#include "tests/facts/compressed_files.h"
#include "tests/support/files.h"
#include "tests/support/program_run.h"

using namespace kelvora::directory::facts;
using kelvora::testsupport::TemporaryFolder;
using kelvora::directory::testing::WriteTemporaryFile;
using kelvora::testsupport::ReadFile;
using kelvora::testsupport::WriteFile;
using kelvora::directory::facts::testing::WriteGzip;

namespace {

using Outcome = kelvora::testsupport::ProgramOutcome;

Outcome RunProgram(const std::string &arguments, const std::string &environment = "")
{
    return kelvora::testsupport::RunProgram(KELVORA_DIRECTORY_PROGRAM, arguments, environment);
}

std::string Fixture(const std::string &name)
{
    return "'" + std::string(KELVORA_FACTS_FIXTURES) + "/" + name + "'";
}

} // namespace

TEST(FactsCommand, ImportsEachSourceAndReportsWhatItRead)
{
    const std::string facts = TemporaryFolder() + "/nested/dir/facts.db";
    const std::string option = " --facts '" + facts + "'";
    const struct {
        std::string arguments;
        std::string output;
    } imports[] = {
        {"facts import tranco " + Fixture("tranco.csv") + option,
         "kelvora-directory: facts: tranco: read 12 lines (6 skipped): 4 hosts in " + facts + "\n"},
        {"facts import majestic " + Fixture("majestic.csv") + option,
         "kelvora-directory: facts: majestic: read 7 lines (2 skipped): 3 hosts in " + facts + "\n"},
        {"facts import cc-ranks" + option + " " + Fixture("cc-domain-ranks.txt"),
         "kelvora-directory: facts: cc-ranks: read 8 lines (2 skipped): 4 hosts in " + facts + "\n"},
        {"facts import cc-graph " + Fixture("cc-vertices.txt") + " " + Fixture("cc-edges.txt") + option +
             " --links-for " + Fixture("links-for.txt"),
         "kelvora-directory: facts: cc-graph: read 8 lines (1 skipped) of vertices and 14 lines (3 skipped) "
         "of edges: in-degree of 3 hosts, linking domains of 2 listed domains (1 list lines skipped) in " +
             facts + "\n"},
    };
    for (const auto &import : imports) {
        const Outcome outcome = RunProgram(import.arguments);
        EXPECT_EQ(outcome.exitCode, 0) << import.arguments;
        EXPECT_EQ(outcome.output, import.output);
    }
    const FactsStore store(facts);
    EXPECT_EQ(store.TrafficRank("www.google.com"), 1);
    EXPECT_EQ(store.TrafficRank("blog.b.test"), 90);
    EXPECT_EQ(store.LinkPopularity("www.example.org"), 1234);
    EXPECT_EQ(store.LinkPopularity("fan.org"), 2);
    EXPECT_EQ(store.LinkingDomains("example.org").size(), 4u);
}

TEST(FactsCommand, DefaultsToTheUsersDataFolder)
{
    const std::string home = TemporaryFolder();
    const Outcome outcome =
        RunProgram("facts import tranco " + Fixture("tranco.csv"), "XDG_DATA_HOME='" + home + "'");
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_EQ(FactsStore(home + "/kelvora/facts.db").TrafficRank("google.com"), 1);
}

TEST(FactsCommand, FailuresLeaveTheFactsAndSayWhy)
{
    const std::string folder = TemporaryFolder();
    const std::string facts = folder + "/facts.db";
    ASSERT_EQ(RunProgram("facts import tranco " + Fixture("tranco.csv") + " --facts '" + facts + "'").exitCode, 0);
    std::string lines;
    for (int i = 1; i <= 10'000; ++i)
        lines += std::to_string(i) + ",site" + std::to_string(i) + ".test\n";
    WriteGzip(folder + "/whole.gz", {lines});
    const std::string whole = ReadFile(folder + "/whole.gz");
    WriteFile(folder + "/cut.gz", whole.substr(0, whole.size() / 2));
    const std::string notFacts = WriteTemporaryFile("other.db", std::string(4096, 'x'));
    const struct {
        std::string arguments;
        int exitCode;
        std::string start;
    } cases[] = {
        {"facts import tranco '" + folder + "/cut.gz' --facts '" + facts + "'", 1,
         "kelvora-directory: facts: tranco: " + folder + "/cut.gz: damaged gzip data"},
        {"facts import tranco /nonexistent.csv --facts '" + facts + "'", 1,
         "kelvora-directory: facts: tranco: /nonexistent.csv: No such file or directory"},
        {"facts import majestic " + Fixture("tranco.csv") + " --facts '" + facts + "'", 1,
         "kelvora-directory: facts: majestic: "},
        {"facts import tranco " + Fixture("tranco.csv") + " --facts '" + notFacts + "'", 1,
         "kelvora-directory: facts: tranco: file is not a database"},
        {"facts import alexa x.csv", 2, "kelvora-directory: facts: unknown source 'alexa'"},
        {"facts import cc-graph vertices.txt", 2, "kelvora-directory: facts: cc-graph needs VERTICES and EDGES"},
        {"facts import tranco a.csv b.csv", 2, "kelvora-directory: facts: unexpected 'b.csv'"},
        {"facts import tranco a.csv --links-for x", 2, "kelvora-directory: facts: unexpected '--links-for'"},
        {"facts import tranco a.csv --facts", 2, "kelvora-directory: facts: --facts needs a value"},
        {"facts export", 2, "kelvora-directory: facts: expected: facts import SOURCE FILE..."},
    };
    for (const auto &c : cases) {
        const Outcome outcome = RunProgram(c.arguments);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.arguments << "\n" << outcome.output;
        EXPECT_EQ(outcome.output.rfind(c.start, 0), 0u) << c.arguments << "\n" << outcome.output;
        EXPECT_EQ(outcome.output.find('\n'), outcome.output.size() - 1) << outcome.output;
    }
    EXPECT_EQ(FactsStore(facts).TrafficRank("google.com"), 1);

    const Outcome help = RunProgram("facts --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.output.rfind("Usage: kelvora-directory facts import tranco FILE", 0), 0u);
}

// Every row of the sources table is named by the usage texts and the
// status, and reached by the import and update commands (each refuses the
// arguments here by the source's name, so nothing is read or fetched).
TEST(FactsCommand, EverySourceOfTheTableIsListedAndReachable)
{
    const std::string facts = TemporaryFolder() + "/facts.db";
    { FactsWriter create(facts); }
    const std::string usage = RunProgram("facts --help").output;
    std::string mainUsage = RunProgram("--help").output;
    std::replace(mainUsage.begin(), mainUsage.end(), '\n', ' ');
    const std::size_t listStart = mainUsage.find("(SOURCE is ");
    ASSERT_NE(listStart, std::string::npos) << mainUsage;
    const std::string sourceList = mainUsage.substr(listStart, mainUsage.find(')', listStart) - listStart);
    const Outcome status = RunProgram("facts status --facts '" + facts + "'");
    const std::string prefix = "kelvora-directory: facts: ";

    ASSERT_FALSE(FactsSources().empty());
    for (const FactsSource &source : FactsSources()) {
        const std::string name(source.name);
        EXPECT_EQ(SourceName(source.source), source.name);
        EXPECT_EQ(FindFactsSource(name), &source);
        EXPECT_NE(usage.find("facts import " + name + " " + std::string(source.operands) + " [--facts FACTS.db]\n"),
                  std::string::npos)
            << usage;
        EXPECT_NE(usage.find("\n  " + name + "  "), std::string::npos) << name << " is described\n" << usage;
        EXPECT_NE(sourceList.find(" " + name), std::string::npos) << sourceList;
        EXPECT_NE(status.output.find("\n  " + name + ": none\n"), std::string::npos) << status.output;

        const Outcome import = RunProgram("facts import " + name + " --facts '" + facts + "'");
        EXPECT_EQ(import.exitCode, 2) << import.output;
        EXPECT_EQ(import.output.rfind(prefix + name + " needs ", 0), 0u) << import.output;

        if (source.address == nullptr) {
            const Outcome update = RunProgram("facts update --source " + name + " --facts '" + facts + "'");
            EXPECT_EQ(update.output.rfind(prefix + "unknown source '" + name + "'", 0), 0u) << update.output;
        } else if (source.releaseExample.empty()) {
            EXPECT_TRUE(FetchedByDefault(source));
            EXPECT_NE(usage.find("--source " + DefaultUpdateChoices() + "]"), std::string::npos) << usage;
            EXPECT_NE(DefaultUpdateChoices().find(name + "|"), std::string::npos);
            const Outcome update = RunProgram("facts update --source " + name + " --release x --facts '" + facts + "'");
            EXPECT_EQ(update.output.rfind(prefix + "--release goes with --source ", 0), 0u) << update.output;
        } else {
            EXPECT_FALSE(source.address(source.releaseExample).empty()) << name;
            EXPECT_NE(usage.find("update --source " + name + " --release NAME"), std::string::npos) << usage;
            const Outcome update =
                RunProgram("facts update --source " + name + " --release Not/One --facts '" + facts + "'");
            EXPECT_EQ(update.output, prefix + "not a " + std::string(source.releaseKind) +
                                         " name: 'Not/One' (try: kelvora-directory facts --help)\n");
        }
    }
}
