// "facts update" and "facts status" of the built program against loopback
// fakes of the lists' publishers, reached through --connect-to and the test
// CA; and the pieces they are built from.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "directory/facts/facts_db.h"
#include "directory/facts/facts_status.h"
#include "directory/live/facts_update.h"
#include "tests/facts/compressed_files.h"
#include "tests/facts/list_publisher.h"
#include "tests/live/test_pki.h"
#include "tests/support/cases.h"
#include "tests/support/files.h"
#include "tests/support/program_run.h"

using namespace kelvora::directory::facts;
using namespace kelvora::directory::facts::testing;
using namespace kelvora::testsupport;

namespace {

using Outcome = ProgramOutcome;

constexpr const char *kTrancoDate = "Tue, 08 Dec 2026 00:00:00 GMT";
constexpr const char *kMajesticDate = "Mon, 07 Dec 2026 06:00:00 GMT";
constexpr const char *kRelease = "cc-main-2026-sep-oct-nov";

// Never a proxy of the machine's: the fakes are reached directly.
constexpr const char *kNoProxy = "http_proxy= https_proxy= HTTPS_PROXY= all_proxy= ALL_PROXY=";

Outcome RunProgram(const std::string &arguments)
{
    return kelvora::testsupport::RunProgram(KELVORA_DIRECTORY_PROGRAM, arguments, kNoProxy);
}

std::string NetworkOptions(const ListPublisher &publisher)
{
    std::string options = " --ca-file '" + kelvora::live::testing::SharedPki().caFile + "'";
    for (const std::string &rule : publisher.Rules())
        options += " --connect-to " + rule;
    return options;
}

std::string TrancoZip(const std::string &folder, const std::string &lines)
{
    const std::string path = folder + "/top-1m.csv.zip";
    WriteZip(path, {{"top-1m.csv", lines}});
    return ReadFile(path);
}

const std::string kMajesticCsv =
    "GlobalRank,TldRank,Domain,TLD,RefSubNets,RefIPs,IDN_Domain,IDN_TLD,PrevGlobalRank,PrevTldRank,"
    "PrevRefSubNets,PrevRefIPs\n"
    "1,1,google.com,com,485000,2600000,google.com,com,1,1,484000,2590000\n"
    "2,1,www.example.org,org,1234,5000,example.org,org,2,1,1200,4900\n"
    "3,2,shop.b.test,test,77,90,shop.b.test,test,3,2,70,80\n";

bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// Files a download left beside the database.
std::vector<std::string> Leftovers(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (Contains(name, ".tranco-") || Contains(name, ".majestic-"))
            names.push_back(name);
    }
    return names;
}

} // namespace

TEST(FactsUpdate, ImportsBothListsThenAsksConditionallyAndSurvivesFaultsUnchanged)
{
    const std::string folder = TemporaryFolder();
    const std::string facts = folder + "/facts.db";
    ListPublisher publisher;
    publisher.Publish("tranco-list.eu", "/top-1m.csv.zip",
                      {TrancoZip(folder, "1,google.com\n2,example.org\n3,www.b.test\nbroken line\n"), "\"t-1\"",
                       kTrancoDate});
    publisher.Publish("downloads.majestic.com", "/majestic_million.csv", {kMajesticCsv, "", kMajesticDate});
    const std::string update = "facts update --facts '" + facts + "'" + NetworkOptions(publisher);

    const Outcome first = RunProgram(update);
    ASSERT_EQ(first.exitCode, 0) << first.output;
    EXPECT_TRUE(Contains(first.output, "kelvora-directory: facts: tranco: read 4 lines (1 skipped): 3 hosts in " +
                                           facts + " (0.0 MB from https://tranco-list.eu/top-1m.csv.zip, "
                                                   "list of 2026-12-08)\n"))
        << first.output;
    EXPECT_TRUE(Contains(first.output, "majestic: read 4 lines (0 skipped): 3 hosts in " + facts +
                                           " (0.0 MB from https://downloads.majestic.com/majestic_million.csv, "
                                           "list of 2026-12-07)\n"))
        << first.output;
    {
        const FactsStore store(facts);
        EXPECT_EQ(store.TrafficRank("www.google.com"), 1);
        EXPECT_EQ(store.TrafficRank("b.test"), 3);
        EXPECT_EQ(store.LinkPopularity("example.org"), 1234);
        EXPECT_EQ(store.LinkPopularity("shop.b.test"), 77);
    }
    const Outcome status = RunProgram("facts status --facts '" + facts + "'");
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_TRUE(Contains(status.output, "  tranco: 3 rows, list of 2026-12-08, updated 20")) << status.output;
    EXPECT_TRUE(Contains(status.output, "from https://tranco-list.eu/top-1m.csv.zip\n")) << status.output;
    EXPECT_TRUE(Contains(status.output, "  majestic: 3 rows, list of 2026-12-07, updated ")) << status.output;
    EXPECT_TRUE(Contains(status.output, "  cc-ranks: none\n  cc-graph: none\n")) << status.output;
    // The list dates are from 2026: as the machine's clock may run later,
    // only a generous age can be asked to pass.
    EXPECT_EQ(RunProgram("facts status --stale-after 50000 --facts '" + facts + "'").exitCode, 0);

    // Unchanged lists: conditional requests, and the database as it was.
    const std::string before = ReadFile(facts);
    const Outcome second = RunProgram(update);
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_TRUE(Contains(second.output, "tranco: unchanged since 2026-12-08 (https://tranco-list.eu/top-1m.csv.zip "
                                        "answered 304 Not Modified)"))
        << second.output;
    EXPECT_TRUE(Contains(second.output, "majestic: unchanged since 2026-12-07")) << second.output;
    const std::vector<PublisherRequest> requests = publisher.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].ifNoneMatch, "");
    EXPECT_EQ(requests[2].host, "tranco-list.eu");
    EXPECT_EQ(requests[2].ifNoneMatch, "\"t-1\"");
    EXPECT_EQ(requests[2].ifModifiedSince, kTrancoDate);
    EXPECT_EQ(requests[3].ifNoneMatch, "");
    EXPECT_EQ(requests[3].ifModifiedSince, kMajesticDate);
    EXPECT_EQ(ReadFile(facts), before);

    // Faults: the database byte for byte as it was, exit 1 with the reason.
    publisher.Publish("tranco-list.eu", "/top-1m.csv.zip",
                      {TrancoZip(folder, "1,other.test\n").substr(0, 40) + std::string(200, 'z'), "\"t-2\"", ""});
    const struct {
        PublisherFault tranco;
        PublisherFault majestic;
        std::string options;
        std::vector<std::string> reasons;
    } faults[] = {
        {PublisherFault::CutShort, PublisherFault::ServerError, "",
         {"kelvora-directory: facts: tranco: https://tranco-list.eu/top-1m.csv.zip: the answer was cut short",
          "kelvora-directory: facts: majestic: https://downloads.majestic.com/majestic_million.csv answered HTTP "
          "500 (facts unchanged)\n"}},
        {PublisherFault::None, PublisherFault::CutShort, " --force",
         {"tranco: https://tranco-list.eu/top-1m.csv.zip: damaged zip", "majestic: https://downloads.majestic.com/"
                                                                    "majestic_million.csv: the answer was cut "
                                                                    "short"}},
        {PublisherFault::ServerError, PublisherFault::None, " --source tranco",
         {"tranco: https://tranco-list.eu/top-1m.csv.zip answered HTTP 500 (facts unchanged)\n"}},
    };
    for (const auto &fault : faults) {
        publisher.SetFault("tranco-list.eu", fault.tranco);
        publisher.SetFault("downloads.majestic.com", fault.majestic);
        const Outcome outcome = RunProgram(update + fault.options);
        EXPECT_EQ(outcome.exitCode, 1) << fault.options << "\n" << outcome.output;
        for (const std::string &reason : fault.reasons)
            EXPECT_TRUE(Contains(outcome.output, reason)) << reason << "\n" << outcome.output;
        EXPECT_EQ(ReadFile(facts), before) << fault.options;
        EXPECT_TRUE(Leftovers(folder).empty()) << Leftovers(folder).front();
    }

    // No publisher at all: the update fails and makes no database.
    const std::string elsewhere = folder + "/none/facts.db";
    const Outcome unreachable = RunProgram("facts update --facts '" + elsewhere +
                                           "' --connect-to :443:127.0.0.1:1 --connect-to :80:127.0.0.1:1");
    EXPECT_EQ(unreachable.exitCode, 1) << unreachable.output;
    EXPECT_TRUE(Contains(unreachable.output, "tranco: https://tranco-list.eu/top-1m.csv.zip: ")) << unreachable.output;
    EXPECT_FALSE(std::filesystem::exists(elsewhere));
}

TEST(FactsUpdate, StreamsCommonCrawlRanksIntoTheImportAllOrNothing)
{
    const std::string folder = TemporaryFolder();
    const std::string facts = folder + "/facts.db";
    ListPublisher publisher;
    std::string ranks = "#harmonicc_pos\t#harmonicc_val\t#pr_pos\t#pr_val\t#host_rev\t#n_hosts\n";
    for (int i = 1; i <= 20'000; ++i)
        ranks += std::to_string(i) + "\t1.0\t" + std::to_string(i) + "\t0.1\ttest.site" + std::to_string(i) + "\t1\n";
    WriteGzip(folder + "/ranks.gz", {ranks.substr(0, ranks.size() / 3), ranks.substr(ranks.size() / 3)});
    const std::string path = "/projects/hyperlinkgraph/" + std::string(kRelease) + "/domain/" + kRelease +
                             "-domain-ranks.txt.gz";
    publisher.Publish("data.commoncrawl.org", path, {ReadFile(folder + "/ranks.gz"), "\"cc\"", kTrancoDate});
    const std::string update = "facts update --source cc-ranks --release " + std::string(kRelease) + " --facts '" +
                               facts + "'" + NetworkOptions(publisher);

    const Outcome outcome = RunProgram(update);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_TRUE(Contains(outcome.output, "cc-ranks: read 20,001 lines (0 skipped): 20,000 hosts in " + facts))
        << outcome.output;
    EXPECT_EQ(FactsStore(facts).TrafficRank("www.site777.test"), 777);
    EXPECT_TRUE(Leftovers(folder).empty());
    const Outcome status = RunProgram("facts status --facts '" + facts + "'");
    EXPECT_TRUE(Contains(status.output, "  cc-ranks: 20,000 rows, list of 2026-12-08, updated "))
        << status.output;
    EXPECT_TRUE(Contains(status.output, CcRanksUrl(kRelease))) << status.output;

    const std::string before = ReadFile(facts);
    ranks.replace(ranks.find("test.site5\t"), 10, "test.changed");
    WriteGzip(folder + "/ranks.gz", {ranks});
    publisher.Publish("data.commoncrawl.org", path, {ReadFile(folder + "/ranks.gz"), "\"cc-2\"", ""});
    publisher.SetFault("data.commoncrawl.org", PublisherFault::CutShort);
    const Outcome cut = RunProgram(update);
    EXPECT_EQ(cut.exitCode, 1) << cut.output;
    EXPECT_TRUE(Contains(cut.output, "cc-ranks: " + CcRanksUrl(kRelease) + ": the answer was cut short"))
        << cut.output;
    EXPECT_TRUE(Contains(cut.output, "(facts unchanged)\n")) << cut.output;
    EXPECT_EQ(ReadFile(facts), before);
}

TEST(FactsUpdate, WaitsOutAShortRetryAfterOnceAndGivesUpOnALongOne)
{
    const std::string folder = TemporaryFolder();
    const std::string facts = folder + "/facts.db";
    ListPublisher publisher;
    publisher.Publish("tranco-list.eu", "/top-1m.csv.zip", {TrancoZip(folder, "1,google.com\n"), "\"t\"", ""});
    const std::string update =
        "facts update --source tranco --force --facts '" + facts + "'" + NetworkOptions(publisher);
    const struct {
        std::string retryAfter;
        int times;
        int exitCode;
        std::size_t requests;
        std::string said;
    } cases[] = {
        {"1", 1, 0, 2,
         "tranco: https://tranco-list.eu/top-1m.csv.zip answered HTTP 429, asking to wait 1 s; trying again then\n"},
        {"1", 2, 1, 2,
         "tranco: https://tranco-list.eu/top-1m.csv.zip answered HTTP 429, asking to wait 1 s; try again later "
         "(facts unchanged)\n"},
        {"3600", 5, 1, 1, "answered HTTP 429, asking to wait 3600 s; try again later (facts unchanged)\n"},
        {"whenever", 5, 1, 1, "answered HTTP 429; try again later (facts unchanged)\n"},
    };
    for (const auto &c : cases) {
        publisher.SetRateLimit("tranco-list.eu", c.retryAfter, c.times);
        const std::size_t before = publisher.Requests().size();
        const auto start = std::chrono::steady_clock::now();
        const Outcome outcome = RunProgram(update);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.retryAfter << "\n" << outcome.output;
        EXPECT_TRUE(Contains(outcome.output, c.said)) << c.retryAfter << "\n" << outcome.output;
        EXPECT_EQ(publisher.Requests().size() - before, c.requests) << c.retryAfter;
        if (c.requests == 2)
            EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        publisher.SetRateLimit("tranco-list.eu", "", 0);
    }
    EXPECT_EQ(FactsStore(facts).TrafficRank("google.com"), 1);

    const auto now = std::chrono::sys_days(std::chrono::year(2026) / 12 / 9) + std::chrono::hours(21);
    EXPECT_EQ(RetryAfterDelay("120", now), std::chrono::seconds(120));
    EXPECT_EQ(RetryAfterDelay("Wed, 09 Dec 2026 21:00:30 GMT", now), std::chrono::seconds(30));
    EXPECT_EQ(RetryAfterDelay("Tue, 08 Dec 2026 21:00:00 GMT", now), std::chrono::seconds(0));
    EXPECT_EQ(RetryAfterDelay("-5", now), std::nullopt);
    EXPECT_EQ(RetryAfterDelay("", now), std::nullopt);
    EXPECT_EQ(RetryAfterDelay("99999999999999", now), std::nullopt);
}

TEST(FactsUpdate, RefusesWhatItCannotUse)
{
    const Case<std::string> cases[] = {
        {"facts update --source alexa", "kelvora-directory: facts: unknown source 'alexa'"},
        {"facts update --source cc-ranks", "kelvora-directory: facts: cc-ranks needs --release NAME"},
        {"facts update --source cc-ranks --release '../x'", "kelvora-directory: facts: not a web-graph release"},
        {"facts update --release cc-main-2024", "kelvora-directory: facts: --release goes with --source cc-ranks"},
        {"facts update --connect-to nowhere", "kelvora-directory: facts: --connect-to wants HOST1:PORT1:HOST2:PORT2"},
        {"facts update --facts", "kelvora-directory: facts: --facts needs a value"},
        {"facts update tranco", "kelvora-directory: facts: unexpected 'tranco'"},
        {"facts status --stale-after soon", "kelvora-directory: facts: --stale-after wants a number of days"},
    };
    for (const auto &c : cases) {
        const Outcome outcome = RunProgram(c.input);
        EXPECT_EQ(outcome.exitCode, 2) << c.input << "\n" << outcome.output;
        EXPECT_EQ(outcome.output.rfind(c.expected, 0), 0u) << c.input << "\n" << outcome.output;
    }
}

TEST(FactsStatus, SaysWhenTheListsAreDue)
{
    const auto today = std::chrono::sys_days(std::chrono::year(2026) / 12 / 9) + std::chrono::hours(21);
    const auto record = [](Source source, std::string listDate, std::string updated) {
        ListRecord made;
        made.listDate = std::move(listDate);
        made.updated = std::move(updated);
        return std::make_pair(source, made);
    };
    const Case<std::vector<std::pair<Source, ListRecord>>, std::optional<std::string>> cases[] = {
        {{}, "no tranco list yet"},
        {{record(Source::Tranco, "2026-12-01", "2026-12-09T10:00:00Z")}, "no majestic list yet"},
        {{record(Source::Tranco, "2026-11-09", ""), record(Source::Majestic, "", "2026-12-01T00:00:00Z")},
         std::nullopt},
        {{record(Source::Tranco, "2026-11-08", ""), record(Source::Majestic, "2026-12-08", "")},
         "the tranco list is 31 days old"},
        {{record(Source::Tranco, "", "2026-12-08T00:00:00Z"), record(Source::Majestic, "", "garbage")},
         "the majestic list is of unknown age"},
        {{record(Source::CcRanks, "2026-12-08", ""), record(Source::Tranco, "2026-02-30", "2026-12-08")},
         "no majestic list yet"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(StaleReason(c.input, today, 30), c.expected) << c.expected.value_or("fresh");

    using std::chrono::seconds;
    EXPECT_EQ(ProgressText(12'300'000, 80'000'000, seconds(3)), "12.3 MB of 80.0 MB, 4.1 MB/s, 17 s left");
    EXPECT_EQ(ProgressText(5'000'000, 0, seconds(2)), "5.0 MB, 2.5 MB/s");
    EXPECT_EQ(ProgressText(0, 100, seconds(0)), "0.0 MB of 0.0 MB, 0.0 MB/s");
    EXPECT_EQ(HttpDateDay("Wed, 09 Dec 2026 21:40:00 GMT"), "2026-12-09");
    EXPECT_EQ(HttpDateDay("yesterday"), "");
    EXPECT_EQ(CcRanksUrl("cc-main-2024-feb-apr-may"),
              "https://data.commoncrawl.org/projects/hyperlinkgraph/cc-main-2024-feb-apr-may/domain/"
              "cc-main-2024-feb-apr-may-domain-ranks.txt.gz");
    EXPECT_EQ(CcRanksUrl("CC-MAIN"), "");
    EXPECT_EQ(CcRanksUrl("-x"), "");
    EXPECT_EQ(CcRanksUrl("a/../b"), "");
    EXPECT_EQ(RecordTime(today), "2026-12-09T21:00:00Z");
}
