#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "directory/core/sqlite.h"
#include "directory/local/csv_import.h"
#include "directory/local/dataset.h"
#include "directory/local/debian_import.h"
#include "directory/local/rank_import.h"
#include "tests/directory/fixture_db.h"
#include "tests/support/files.h"

using namespace kelvora::directory;
using kelvora::directory::testing::FixtureStore;
using kelvora::testsupport::ReadFile;
using kelvora::testsupport::TemporaryFolder;

namespace {

std::vector<SiteInput> Csv(const std::string &text)
{
    std::istringstream in(text);
    return ReadCsvSites(in);
}

std::string CsvError(const std::string &text)
{
    try {
        Csv(text);
    } catch (const std::runtime_error &error) {
        return error.what();
    }
    return "no error";
}

SiteInput Input(const std::string &host, const std::string &keywords,
               std::vector<std::string> outbound = {})
{
    SiteInput site;
    site.host = host;
    site.title = host;
    site.keywords = keywords;
    site.outbound = std::move(outbound);
    return site;
}

} // namespace

TEST(ReadCsvSites, ReadsQuotedFieldsInAnyColumnOrder)
{
    const auto sites = Csv("\xEF\xBB\xBFRank,HOST,extra,contact,outbound,popularity\r\n"
                           "7,www.a.test,x,\"Name: A, B\r\nMail: \"\"a\"\"@a.test\",b.test  c.test ,\r\n"
                           "\r\n"
                           ",b.test,,,,42\n");
    ASSERT_EQ(sites.size(), 2u);
    EXPECT_EQ(sites[0].host, "www.a.test");
    EXPECT_EQ(sites[0].contact, "Name: A, B\nMail: \"a\"@a.test");
    EXPECT_EQ(sites[0].outbound, (std::vector<std::string>{"b.test", "c.test"}));
    EXPECT_EQ(sites[0].rank, 7);
    EXPECT_EQ(sites[0].popularity, std::nullopt);
    EXPECT_EQ(sites[1].rank, std::nullopt);
    EXPECT_EQ(sites[1].popularity, 42);
}

TEST(ReadCsvSites, NamesTheLineOfABrokenRecord)
{
    EXPECT_EQ(CsvError(""), "line 1: the header is missing");
    EXPECT_EQ(CsvError("title\nx\n"), "line 1: the header has no host column");
    EXPECT_EQ(CsvError("host,rank\na.test,1\n\"b\nc.test\",x1\n"),
              "line 3: rank is not a whole number: x1");
    EXPECT_EQ(CsvError("host\na.test\n\"open"), "line 3: a quoted field is not closed");
    EXPECT_EQ(CsvError("host\n\"a.test\"x\n"), "line 2: text after a closing quote");
    EXPECT_EQ(CsvError("host,title\n,t\n"), "line 2: the host is empty");
    EXPECT_NE(CsvError("host\n" + std::string(kMaxCsvField + 1, 'a') + "\n").find("longer than"),
              std::string::npos);
}

TEST(ReadCsvSites, ACarriageReturnAloneEndsALine)
{
    // As spreadsheets on old Macs write CSV: CR only, inside quoted fields too.
    const auto sites = Csv("host,title,rank\rwww.a.test,\"A\rtwo\",1\r\rb.test,B,\r");
    ASSERT_EQ(sites.size(), 2u);
    EXPECT_EQ(sites[0].title, "A\ntwo");
    EXPECT_EQ(sites[0].rank, 1);
    EXPECT_EQ(sites[1].host, "b.test");
    EXPECT_EQ(sites[1].title, "B");
    EXPECT_EQ(CsvError("host,rank\ra.test,1\r\"b\rc.test\",x1\r"), "line 3: rank is not a whole number: x1");
    // Mixed line ends count one line each.
    EXPECT_EQ(CsvError("host,rank\r\na.test,1\rb.test,2\nc.test,x\r\n"), "line 4: rank is not a whole number: x");
}

TEST(ComputeRelated, PrefersRareSharedKeywordsThenPopularity)
{
    const std::vector<std::vector<std::string>> keywords = {
        {"garden", "seeds"},   // 0
        {"garden", "tools"},   // 1
        {"garden", "seeds"},   // 2
        {"poetry"},            // 3
        {"garden", "tools"},   // 4
        {"garden"},            // 5
    };
    const auto related = ComputeRelated(keywords, {0, 1, 0, 0, 5, 9});
    EXPECT_EQ(related[0], (std::vector<std::size_t>{2, 5, 4, 1}));
    EXPECT_EQ(related[1], (std::vector<std::size_t>{4, 5, 0, 2}));
    EXPECT_TRUE(related[3].empty());
}

TEST(ComputeRelated, IgnoresKeywordsSharedByTooManySites)
{
    std::vector<std::vector<std::string>> keywords(kMaxKeywordSpread + 1, {"common"});
    keywords[0].push_back("rare");
    keywords[1].push_back("rare");
    const auto related = ComputeRelated(keywords, {});
    EXPECT_EQ(related[0], (std::vector<std::size_t>{1}));
    EXPECT_TRUE(related[2].empty());
}

TEST(WriteDataSet, DerivesPopularityRankAndRelatedFromTheFixture)
{
    const Store &store = FixtureStore();
    EXPECT_EQ(store.SiteCount(), 8);
    const struct {
        const char *key;
        std::int64_t popularity;
        std::int64_t rank;
        const char *firstRelated;
        std::size_t outbound;
    } cases[] = {
        {"greenleaf-garden.test", 2, 2, "www.seedbank.test", 3},
        {"seedbank.test", 2, 3, "www.greenleaf-garden.test", 1},
        {"toolshed.test", 2, 4, "www.greenleaf-garden.test", 0},
        {"webhost-one.test", 1230, 12345, "www.quote-and-tags.test", 1},
        {"compost-club.test", 1, 5, "www.greenleaf-garden.test", 2},
        {"serverparts.test", 1, 6, "www.webhost-one.test", 3},
        {"lonely.test", 0, 0, "", 0},
        {"blog.lonely.test", 0, 7, "", 0},
    };
    for (const auto &c : cases) {
        const auto site = store.FindSite(c.key);
        if (c.rank == 0) {
            EXPECT_FALSE(site) << c.key;
            continue;
        }
        ASSERT_TRUE(site) << c.key;
        EXPECT_EQ(site->popularity, c.popularity) << c.key;
        EXPECT_EQ(site->rank, c.rank) << c.key;
        const auto related = store.RelatedHosts(site->id);
        EXPECT_EQ(related.empty() ? "" : related.front(), c.firstRelated) << c.key;
        EXPECT_EQ(store.OutboundHosts(site->id).size(), c.outbound) << c.key;
    }
    // Links name the linked site's own spelling; outside hosts stay as written.
    const auto parts = store.FindSite("serverparts.test");
    EXPECT_EQ(store.OutboundHosts(parts->id),
              (std::vector<std::string>{"www.toolshed.test", "www.webhost-one.test",
                                        "external.example.com"}));
    const auto compost = store.FindSite("compost-club.test");
    EXPECT_EQ(store.OutboundHosts(compost->id),
              (std::vector<std::string>{"www.seedbank.test", "www.greenleaf-garden.test"}));
}

TEST(WriteDataSet, SkipsBadHostsDuplicatesAndSelfLinks)
{
    const std::string path = TemporaryFolder() + "/x.db";
    const WriteSummary summary = WriteDataSet(
        path,
        {Input("www.a.test", "k", {"a.test", "http://www.b.test/x", "b.test", "bad host", "c.test"}),
         Input("b.test", "k"), Input("a.test", "k"), Input("localhost", "k"), Input("x y.test", "k")},
        "test");
    EXPECT_EQ(summary.sites, 2u);
    EXPECT_EQ(summary.skipped, 3u);
    EXPECT_EQ(summary.links, 2u);
    const Store store(path);
    EXPECT_EQ(store.OutboundHosts(store.FindSite("a.test")->id),
              (std::vector<std::string>{"b.test", "c.test"}));
    EXPECT_EQ(store.FindSite("b.test")->popularity, 1);
    // An outside host's backlinks are counted from the links themselves.
    EXPECT_EQ(store.SearchBacklinks("c.test", 0, 10).total, 1);
}

TEST(WriteDataSet, ReplacesAnExistingFileOnlyWhenComplete)
{
    const std::string path = TemporaryFolder() + "/replace.db";
    WriteDataSet(path, {Input("old.test", "k")}, "test");
    WriteDataSet(path, {Input("new.test", "k"), Input("other.test", "k")}, "test");
    const Store store(path);
    EXPECT_EQ(store.SiteCount(), 2);
    EXPECT_FALSE(store.FindSite("old.test"));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST(WriteDataSet, NothingToWriteLeavesTheExistingFileAsItWas)
{
    const std::string path = TemporaryFolder() + "/keep.db";
    WriteDataSet(path, {Input("old.test", "k")}, "test");
    const std::string before = ReadFile(path);
    EXPECT_THROW(WriteDataSet(path, {Input("bad host", "k"), Input("localhost", "k")}, "test"), NoSitesError);
    EXPECT_THROW(WriteDataSet(path, {}, "test"), NoSitesError);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST(WriteDataSet, AnUnfinishedFileIsRemovedAndAStaleOneReplaced)
{
    const std::string path = TemporaryFolder() + "/fresh.db";
    {
        DataSetWriter writer(path, "test");
        writer.Add(Input("a.test", "k"));
        EXPECT_TRUE(std::filesystem::exists(path + ".tmp"));
    }   // abandoned before Commit
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    EXPECT_FALSE(std::filesystem::exists(path));

    // A temporary file a killed import left behind does not disturb the next one.
    std::ofstream(path + ".tmp", std::ios::binary) << std::string(10000, 'x');
    EXPECT_EQ(WriteDataSet(path, {Input("b.test", "k")}, "test").sites, 1u);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    EXPECT_TRUE(Store(path).FindSite("b.test"));
}

// The related sites are computed inside the file, a site at a time; they
// must be exactly those the in-memory computation gives, ties included.
TEST(WriteDataSet, RelatedSitesAreThoseOfTheInMemoryComputation)
{
    constexpr std::size_t kSites = kMaxKeywordSpread + 60;
    std::mt19937 random(16);
    std::vector<SiteInput> sites;
    for (std::size_t i = 0; i < kSites; ++i) {
        // One keyword on every site (too common to count), groups of several
        // sizes, rare pairs, and links that make popularities differ.
        std::string keywords = "Every g" + std::to_string(i % 7) + " h" + std::to_string(i % 50) + ",r" +
                               std::to_string(random() % 300) + ";r" + std::to_string(random() % 300);
        std::vector<std::string> links;
        for (int link = 0; link < 3; ++link)
            links.push_back("s" + std::to_string(random() % (kSites / 4)) + ".test");
        sites.push_back(Input("s" + std::to_string(i) + ".test", keywords, links));
    }
    const std::string path = TemporaryFolder() + "/related.db";
    EXPECT_EQ(WriteDataSet(path, sites, "test").sites, kSites);

    const Store store(path);
    std::vector<std::vector<std::string>> keywords;
    std::vector<std::int64_t> popularity;
    for (const SiteInput &site : sites) {
        keywords.push_back(SplitKeywords(site.keywords));
        popularity.push_back(store.FindSite(site.host)->popularity);
    }
    const auto expected = ComputeRelated(keywords, popularity);
    std::size_t withRelated = 0;
    for (std::size_t i = 0; i < kSites; ++i) {
        std::vector<std::string> hosts;
        for (const std::size_t other : expected[i])
            hosts.push_back(sites[other].host);
        EXPECT_EQ(store.RelatedHosts(static_cast<std::int64_t>(i) + 1), hosts) << sites[i].host;
        withRelated += hosts.empty() ? 0 : 1;
    }
    EXPECT_EQ(withRelated, kSites);
}

TEST(ReadDebianSites, GroupsPackagesByHomepageHost)
{
    std::istringstream catalogue(
        "Package: web-server\n"
        "Version: 2\n"
        "Maintainer: Jane Doe <jane@example.org>\n"
        "Depends: libfast (>= 1.0), libc6:any | libc-alt, missing-pkg\n"
        "Recommends: helper\n"
        "Description: fast web server\n"
        " A fast web server for static sites.\n"
        " .\n"
        " Second paragraph.\n"
        "Homepage: https://WWW.Server.test/\n"
        "Section: httpd\n"
        "Tag: role::program, web::server\n"
        "\n"
        "Package: web-server\n"
        "Version: 1\n"
        "Homepage: https://old.test/\n"
        "\n"
        "Package: web-server-doc\n"
        "Description: fast web server - documentation\n"
        "Homepage: http://server.test/docs\n"
        "Section: contrib/doc\n"
        "\n"
        "Package: libfast\n"
        "Maintainer: Lib Team <lib@fast.test>\n"
        "Description: fast library\n"
        "Homepage: https://fast.test\n"
        "Depends: libc6\n"
        "\n"
        "Package: libc6\n"
        "Description: C library\n"
        "Homepage: https://www.gnu.org/software/libc/\n"
        "\n"
        "Package: helper\n"
        "Description: no homepage\n"
        "\n"
        "Package: broken\n"
        "Homepage: not a url\n");
    DebianSummary summary;
    const std::vector<SiteInput> sites = ReadDebianSites(catalogue, summary);
    EXPECT_EQ(summary.packages, 6u);
    EXPECT_EQ(summary.withHomepage, 4u);
    ASSERT_EQ(sites.size(), 3u);
    const SiteInput &server = sites[2];
    EXPECT_EQ(server.host, "www.server.test");
    EXPECT_EQ(server.title, "Fast web server");
    EXPECT_EQ(server.description,
              "A fast web server for static sites. Packages: web-server (fast web server); "
              "web-server-doc (fast web server - documentation).");
    EXPECT_EQ(server.contact,
              "Name: Jane Doe\nMail: jane@example.org\nPackage: web-server\n"
              "Homepage: https://WWW.Server.test/");
    EXPECT_EQ(server.outbound, (std::vector<std::string>{"fast.test", "www.gnu.org"}));
    const std::vector<std::string> keywords = SplitKeywords(server.keywords);
    for (const char *word : {"web-server", "httpd", "role::program", "web::server", "doc"})
        EXPECT_NE(std::find(keywords.begin(), keywords.end(), word), keywords.end()) << word;
    EXPECT_TRUE(server.onlineSince.empty());
    EXPECT_EQ(sites[0].host, "fast.test");
    EXPECT_EQ(sites[0].outbound, (std::vector<std::string>{"www.gnu.org"}));
}

TEST(RankImport, SetsRanksOfListedSitesFromTrancoAndHostRanks)
{
    const std::string path = TemporaryFolder() + "/ranks.db";
    WriteDataSet(path, {Input("www.a.test", "k"), Input("b.test", "k"), Input("c.test", "k")}, "test");
    {
        RankUpdate update(path);
        std::istringstream tranco("1,google.com\r\n2,b.test\nrank,domain\n3,www.a.test\n"
                                  "x,c.test\n4,bad host\n5,A.TEST\n");
        const RankReadSummary read = ReadTrancoRanks(tranco, update);
        EXPECT_EQ(read.lines, 7u);
        EXPECT_EQ(read.malformed, 3u);
        EXPECT_EQ(update.Commit(), 2u);
    }
    {
        const Store store(path);
        EXPECT_EQ(store.FindSite("a.test")->rank, 3);
        EXPECT_EQ(store.FindSite("b.test")->rank, 2);
    }
    {
        RankUpdate update(path);
        std::istringstream hostRanks(
            "#harmonicc_pos\t#harmonicc_val\t#pr_pos\t#pr_val\t#host_rev\n"
            "10\t1.5e7\t12\t0.01\tcom.example\n"
            "40\t1.0e7\t30\t0.01\ttest.c.www\n"
            "25\t1.2e7\t20\t0.01\ttest.c\n"
            "bad line\n");
        const RankReadSummary read = ReadHostRanks(hostRanks, update);
        EXPECT_EQ(read.malformed, 2u);
        EXPECT_EQ(update.Commit(), 1u);
    }
    const Store store(path);
    EXPECT_EQ(store.FindSite("c.test")->rank, 25);
    EXPECT_EQ(store.FindSite("a.test")->rank, 3);
}

TEST(RankImport, RefusesAFileThatIsNoDataSet)
{
    const std::string path = TemporaryFolder() + "/other.db";
    Connection(path, OpenMode::Create).Execute("CREATE TABLE t(x)");
    EXPECT_THROW(RankUpdate update(path), SqliteError);
    EXPECT_THROW(Store store(path), SqliteError);
}

TEST(UnreverseHost, TurnsLabelsAround)
{
    EXPECT_EQ(UnreverseHost("com.example.www"), "www.example.com");
    EXPECT_EQ(UnreverseHost("org"), "org");
    EXPECT_EQ(UnreverseHost(""), "");
    EXPECT_EQ(UnreverseHost("a..b"), "b..a");
}
