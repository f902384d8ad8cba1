#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "directory/core/line_reader.h"
#include "directory/core/sqlite.h"
#include "directory/facts/facts_db.h"
#include "directory/facts/importers.h"
#include "tests/directory/fixture_db.h"
#include "tests/facts/compressed_files.h"
#include "tests/support/files.h"

using namespace kelvora::directory::facts;
using kelvora::testsupport::ReadFile;
using kelvora::testsupport::TemporaryFolder;
using kelvora::testsupport::WriteFile;
using namespace kelvora::directory::facts::testing;

namespace {

std::string Fixture(const std::string &name)
{
    return std::string(KELVORA_FACTS_FIXTURES) + "/" + name;
}

struct Database {
    std::string path = TemporaryFolder() + "/facts.db";
    FactsWriter writer{path};
    FactsStore store{path};
};

std::vector<std::string> AllLines(const std::string &path, std::size_t &tooLongLines)
{
    LineReader reader(path);
    std::vector<std::string> lines;
    std::string_view line;
    bool tooLong = false;
    tooLongLines = 0;
    while (reader.Next(line, tooLong)) {
        if (tooLong)
            ++tooLongLines;
        else
            lines.emplace_back(line);
    }
    return lines;
}

} // namespace

TEST(LineReader, ReadsEveryLineAcrossBufferFillsInEachContainer)
{
    // Lines of every length up to the limit, over several buffer fills, so
    // that lines straddle the fills at many offsets.
    std::mt19937 random(7);
    std::vector<std::string> expected;
    std::string text;
    while (text.size() < (3u << 20)) {
        std::string line(random() % 300, 'x');
        for (char &c : line)
            c = static_cast<char>('a' + random() % 26);
        text += line + (random() % 3 == 0 ? "\r\n" : "\n");
        expected.push_back(line);
    }
    text += std::string(kMaxLineLength + 1, 'L') + "\n";     // one byte too long
    text += std::string(3 << 20, 'H') + "\r\n";               // longer than a fill
    text += std::string(kMaxLineLength, 'k') + "\n";         // exactly at the limit
    text += "last line without an end";
    expected.push_back(std::string(kMaxLineLength, 'k'));
    expected.push_back("last line without an end");

    const std::string folder = TemporaryFolder();
    WriteFile(folder + "/plain.txt", text);
    const std::size_t half = text.size() / 2;
    WriteGzip(folder + "/two-members.gz", {text.substr(0, half), text.substr(half)});
    WriteZip(folder + "/list.zip", {{"top/", ""}, {"top/list.csv", text}, {"other.csv", "1,x.test\n"}});
    for (const std::string name : {"plain.txt", "two-members.gz", "list.zip"}) {
        std::size_t tooLong = 0;
        const std::vector<std::string> lines = AllLines(folder + "/" + name, tooLong);
        EXPECT_EQ(tooLong, 2u) << name;
        ASSERT_EQ(lines.size(), expected.size()) << name;
        EXPECT_TRUE(lines == expected) << name;
    }
}

TEST(LineReader, DamagedOrMissingFilesAreErrorsNotShortFiles)
{
    const std::string folder = TemporaryFolder();
    std::string lines;
    for (int i = 1; i <= 50'000; ++i)
        lines += std::to_string(i) + ",host" + std::to_string(i) + ".test\n";
    WriteGzip(folder + "/whole.gz", {lines});
    const std::string whole = ReadFile(folder + "/whole.gz");
    WriteFile(folder + "/cut.gz", whole.substr(0, whole.size() / 2));
    std::string flipped = whole;
    flipped[flipped.size() / 2] ^= 0x55;
    WriteFile(folder + "/flipped.gz", flipped);
    WriteZip(folder + "/empty.zip", {{"folder/", ""}});

    for (const std::string name : {"cut.gz", "flipped.gz", "empty.zip", "missing.csv"}) {
        EXPECT_THROW(
            {
                std::size_t tooLong = 0;
                AllLines(folder + "/" + name, tooLong);
            },
            ImportError)
            << name;
    }
}

TEST(ImportTranco, KeepsEveryHostOnceWithItsBestRankAndCountsWhatItSkips)
{
    Database db;
    const ImportSummary summary = ImportTranco(Fixture("tranco.csv"), db.writer);
    // Skipped: the header row, an invalid name, a word for a rank, rank 0,
    // a third field and a line without a domain.
    EXPECT_EQ(summary.lines, 12u);
    EXPECT_EQ(summary.skipped, 6u);
    EXPECT_EQ(summary.kept, 4u);

    EXPECT_EQ(db.store.TrafficRank("google.com"), 1);
    // www.Example.ORG (2) and example.org (3, then 10) are one site.
    EXPECT_EQ(db.store.TrafficRank("example.org"), 2);
    EXPECT_EQ(db.store.TrafficRank("WWW.example.org"), 2);
    EXPECT_EQ(db.store.TrafficRank("http://www.a.test/"), 8);
    EXPECT_EQ(db.store.TrafficRank("shop.a.test"), 9);
    // A host of its own falls back to its registrable domain.
    EXPECT_EQ(db.store.TrafficRank("news.a.test"), 8);
    EXPECT_EQ(db.store.TrafficRank("zero.com"), std::nullopt);
    EXPECT_EQ(db.store.TrafficRank("bad_host.com"), std::nullopt);
}

TEST(ImportTranco, GzipAndZipGiveTheSameFactsAsPlainText)
{
    const std::string text = ReadFile(Fixture("tranco.csv"));
    const std::string folder = TemporaryFolder();
    WriteGzip(folder + "/tranco.csv.gz", {text});
    WriteZip(folder + "/tranco-list.zip", {{"top-1m.csv", text}});
    for (const std::string name : {"tranco.csv.gz", "tranco-list.zip"}) {
        Database db;
        const ImportSummary summary = ImportTranco(folder + "/" + name, db.writer);
        EXPECT_EQ(summary.lines, 12u) << name;
        EXPECT_EQ(summary.skipped, 6u) << name;
        EXPECT_EQ(summary.kept, 4u) << name;
        EXPECT_EQ(db.store.TrafficRank("www.example.org"), 2) << name;
    }
}

TEST(ImportTranco, ReplacesOnlyItsOwnFactsAndKeepsThemWhenAnImportFails)
{
    Database db;
    ImportMajestic(Fixture("majestic.csv"), db.writer);
    ImportTranco(Fixture("tranco.csv"), db.writer);

    const std::string folder = TemporaryFolder();
    WriteFile(folder + "/new.csv", "5,google.com\n6,new.test\n");
    ImportTranco(folder + "/new.csv", db.writer);
    EXPECT_EQ(db.store.TrafficRank("google.com"), 5);
    EXPECT_EQ(db.store.TrafficRank("new.test"), 6);
    EXPECT_EQ(db.store.TrafficRank("example.org"), std::nullopt);   // gone with the old list
    EXPECT_EQ(db.store.LinkPopularity("google.com"), 485000);       // another source's

    std::string lines;
    for (int i = 1; i <= 20'000; ++i)
        lines += std::to_string(i) + ",site" + std::to_string(i) + ".test\n";
    WriteGzip(folder + "/whole.gz", {lines});
    const std::string whole = ReadFile(folder + "/whole.gz");
    WriteFile(folder + "/cut.gz", whole.substr(0, whole.size() * 3 / 4));
    EXPECT_THROW(ImportTranco(folder + "/cut.gz", db.writer), ImportError);
    EXPECT_EQ(db.store.TrafficRank("google.com"), 5);
    EXPECT_EQ(db.store.TrafficRank("site1.test"), std::nullopt);
    EXPECT_EQ(db.writer.Count(Source::Tranco), 2u);
}

TEST(ImportTranco, ReportsProgressOnLongFiles)
{
    const std::string folder = TemporaryFolder();
    std::string lines;
    for (int i = 1; i <= 5000; ++i)
        lines += std::to_string(i) + ",site" + std::to_string(i) + ".test\n";
    WriteFile(folder + "/list.csv", lines);
    Database db;
    std::vector<std::string> progress;
    ImportOptions options;
    options.progressInterval = std::chrono::milliseconds(0);
    options.progress = [&progress](const std::string &line) { progress.push_back(line); };
    ImportTranco(folder + "/list.csv", db.writer, options);
    ASSERT_GE(progress.size(), 4u);
    EXPECT_EQ(progress.front(), "tranco: 1,024 lines (0 MB) read");
}

TEST(ImportMajestic, FindsItsColumnsByNameAndTakesRefSubNets)
{
    Database db;
    const ImportSummary summary = ImportMajestic(Fixture("majestic.csv"), db.writer);
    EXPECT_EQ(summary.lines, 7u);
    EXPECT_EQ(summary.skipped, 2u);   // "lots" and a line without enough columns
    EXPECT_EQ(summary.kept, 3u);
    EXPECT_EQ(db.store.LinkPopularity("www.google.com"), 485000);
    EXPECT_EQ(db.store.LinkPopularity("example.org"), 1234);   // the www. line's higher count
    EXPECT_EQ(db.store.LinkPopularity("shop.a.test"), 17);     // by its registrable domain
    EXPECT_EQ(db.store.LinkPopularity("broken.org"), 0);

    const std::string folder = TemporaryFolder();
    WriteFile(folder + "/moved.csv", "refsubnets;x,\"DOMAIN\",RefSubNets\n1,\"moved.test\",77\n");
    ImportMajestic(folder + "/moved.csv", db.writer);
    EXPECT_EQ(db.store.LinkPopularity("moved.test"), 77);
    EXPECT_EQ(db.store.LinkPopularity("google.com"), 0);

    WriteFile(folder + "/tranco.csv", "1,google.com\n");
    EXPECT_THROW(ImportMajestic(folder + "/tranco.csv", db.writer), ImportError);
    EXPECT_EQ(db.store.LinkPopularity("moved.test"), 77);
}

TEST(ImportCcRanks, ReadsReversedNamesWithOrWithoutTheHeader)
{
    Database db;
    const ImportSummary summary = ImportCcRanks(Fixture("cc-domain-ranks.txt"), db.writer);
    EXPECT_EQ(summary.lines, 8u);
    EXPECT_EQ(summary.skipped, 2u);   // a "-" position and a comment
    EXPECT_EQ(summary.kept, 4u);
    EXPECT_EQ(db.store.TrafficRank("www.google.com"), 1);
    EXPECT_EQ(db.store.TrafficRank("example.org"), 25);
    EXPECT_EQ(db.store.TrafficRank("blog.b.test"), 90);
    EXPECT_EQ(db.store.TrafficRank("shop.b.test"), 120);

    // The host-ranks layout without a header: position first, name fifth.
    const std::string folder = TemporaryFolder();
    WriteFile(folder + "/host-ranks.txt", "7\t1.0\t9\t0.1\ttest.c.www\n");
    ImportCcRanks(folder + "/host-ranks.txt", db.writer);
    EXPECT_EQ(db.store.TrafficRank("c.test"), 7);
    EXPECT_EQ(db.store.TrafficRank("google.com"), std::nullopt);
}

namespace {

// Hands out text in pieces of a few bytes (so the gzip and line readers see
// every kind of boundary), then fails instead of ending when cut is set.
class PiecewiseStream final : public ByteStream {
public:
    PiecewiseStream(std::string text, bool cut)
        : m_text(std::move(text))
        , m_cut(cut)
    {
    }

    std::size_t Read(char *data, std::size_t size) override
    {
        if (m_offset == m_text.size()) {
            if (m_cut)
                throw ImportError("the transfer broke off");
            return 0;
        }
        const std::size_t count = std::min({size, m_text.size() - m_offset, std::size_t{7}});
        std::memcpy(data, m_text.data() + m_offset, count);
        m_offset += count;
        return count;
    }

private:
    std::string m_text;
    bool m_cut;
    std::size_t m_offset = 0;
};

} // namespace

TEST(ImportCcRanks, ReadsAStreamAsItArrivesAndKeepsTheFactsWhenItBreaksOff)
{
    const std::string folder = TemporaryFolder();
    const std::string ranks = "#harmonicc_pos\t#harmonicc_val\t#pr_pos\t#pr_val\t#host_rev\n"
                              "1\t9.0\t1\t0.5\tcom.google\n2\t8.0\t3\t0.4\torg.example\n3\t7.0\t2\t0.3\ttest.b.blog\n";
    WriteGzip(folder + "/two.gz", {ranks.substr(0, 50), ranks.substr(50)});
    const std::string gzip = ReadFile(folder + "/two.gz");
    WriteZip(folder + "/ranks.zip", {{"ranks.txt", ranks}});
    const struct {
        std::string name;
        std::string bytes;
        bool cut;
        std::string error;   // empty: imports 3 hosts
    } cases[] = {
        {"plain", ranks, false, ""},
        {"gzip, two members", gzip, false, ""},
        {"gzip cut short", gzip.substr(0, gzip.size() - 12), false, "stream: damaged gzip data (cut short)"},
        {"gzip with damage", gzip.substr(0, 30) + std::string(40, '\x55') + gzip.substr(70), false,
         "stream: damaged gzip data"},
        {"plain, transfer broke off", ranks, true, "the transfer broke off"},
        {"gzip, transfer broke off", gzip, true, "the transfer broke off"},
        {"zip", ReadFile(folder + "/ranks.zip"), false, "stream: a zip archive is read from a file only"},
        {"empty", "", false, ""},
    };
    for (const auto &c : cases) {
        Database db;
        db.writer.Begin({Source::CcRanks});
        db.writer.Put(Source::CcRanks, "before.test", 5);
        db.writer.Commit("seed");
        try {
            const ImportSummary summary =
                ImportCcRanks(std::make_unique<PiecewiseStream>(c.bytes, c.cut), "stream", db.writer);
            EXPECT_TRUE(c.error.empty()) << c.name;
            EXPECT_EQ(summary.kept, c.bytes.empty() ? 0u : 3u) << c.name;
            EXPECT_EQ(db.store.TrafficRank("blog.b.test"), c.bytes.empty() ? std::nullopt : std::optional<std::int64_t>(3))
                << c.name;
            EXPECT_EQ(db.store.TrafficRank("before.test"), std::nullopt) << c.name;
        } catch (const ImportError &error) {
            EXPECT_EQ(std::string(error.what()).rfind(c.error, 0), 0u) << c.name << ": " << error.what();
            EXPECT_FALSE(c.error.empty()) << c.name << ": " << error.what();
            EXPECT_EQ(db.store.TrafficRank("before.test"), 5) << c.name;
            EXPECT_EQ(db.store.TrafficRank("google.com"), std::nullopt) << c.name;
        }
    }
}

TEST(ImportCcGraph, CountsDistinctLinkingDomainsAndKeepsTheMostPopularLinks)
{
    Database db;
    const GraphSummary summary = ImportCcGraph(Fixture("cc-vertices.txt"), Fixture("cc-edges.txt"),
                                               Fixture("links-for.txt"), db.writer);
    EXPECT_EQ(summary.vertices.lines, 8u);
    EXPECT_EQ(summary.vertices.skipped, 1u);
    EXPECT_EQ(summary.vertices.kept, 3u);
    EXPECT_EQ(summary.edges.lines, 14u);
    EXPECT_EQ(summary.edges.skipped, 3u);   // an unknown vertex, words, one field
    EXPECT_EQ(summary.edges.kept, 9u);      // without the self link and the repeat
    EXPECT_EQ(summary.linkTargets, 2u);
    EXPECT_EQ(summary.listSkipped, 1u);

    EXPECT_EQ(db.store.LinkPopularity("www.example.org"), 4);
    EXPECT_EQ(db.store.LinkPopularity("google.com"), 3);
    EXPECT_EQ(db.store.LinkPopularity("fan.org"), 2);
    EXPECT_EQ(db.store.LinkPopularity("lonely.test"), 0);
    EXPECT_EQ(db.store.LinkingDomains("example.org"),
              (std::vector<std::string>{"fan.org", "linker.com", "a.test", "b.test"}));
    EXPECT_EQ(db.store.LinkingDomains("www.google.com"),
              (std::vector<std::string>{"example.org", "fan.org", "linker.com"}));
    EXPECT_TRUE(db.store.LinkingDomains("fan.org").empty());

    // Majestic's figure comes first where it has the host.
    ImportMajestic(Fixture("majestic.csv"), db.writer);
    EXPECT_EQ(db.store.LinkPopularity("example.org"), 1234);
    EXPECT_EQ(db.store.LinkPopularity("fan.org"), 2);
}

TEST(ImportCcGraph, KeepsAtMostAHundredLinksForAPopularDomain)
{
    // Vertex 0 is linked from 150 domains; domain i (1..150) is itself
    // linked from the i-1 domains before it, so higher numbers are more
    // popular and the kept hundred are 150 down to 51.
    constexpr int kLinkers = 150;
    std::string vertices = "0\ttest.target\n";
    for (int i = 1; i <= kLinkers; ++i)
        vertices += std::to_string(i) + "\ttest.d" + std::to_string(i) + "\n";
    std::string edges;
    for (int from = 1; from <= kLinkers; ++from) {
        edges += std::to_string(from) + "\t0\n";
        for (int to = from + 1; to <= kLinkers; ++to)
            edges += std::to_string(from) + "\t" + std::to_string(to) + "\n";
    }
    const std::string folder = TemporaryFolder();
    WriteGzip(folder + "/vertices.txt.gz", {vertices});
    WriteGzip(folder + "/edges.txt.gz", {edges});
    WriteFile(folder + "/list.txt", "target.test\n");
    Database db;
    ImportCcGraph(folder + "/vertices.txt.gz", folder + "/edges.txt.gz", folder + "/list.txt", db.writer);
    const std::vector<std::string> links = db.store.LinkingDomains("target.test");
    ASSERT_EQ(links.size(), kMaxLinkingDomains);
    EXPECT_EQ(links.front(), "d150.test");
    EXPECT_EQ(links.back(), "d51.test");
    EXPECT_EQ(db.store.LinkPopularity("target.test"), kLinkers);

    // IDs that do not run from 0 would need a counter array far larger than
    // the file: refused, and the facts stay.
    WriteFile(folder + "/sparse.txt", "0\ttest.a\n4000000000\ttest.b\n");
    EXPECT_THROW(ImportCcGraph(folder + "/sparse.txt", folder + "/edges.txt.gz", std::nullopt, db.writer),
                 ImportError);
    EXPECT_EQ(db.store.LinkPopularity("target.test"), kLinkers);
}

TEST(FactsStore, ReadsAsEmptyUntilAnImportCreatesTheDatabase)
{
    const std::string folder = TemporaryFolder();
    const FactsStore store(folder + "/later.db");
    EXPECT_EQ(store.TrafficRank("google.com"), std::nullopt);
    EXPECT_EQ(store.LinkPopularity("google.com"), 0);
    EXPECT_TRUE(store.LinkingDomains("google.com").empty());

    // An empty file, as an import leaves it for a moment while creating it.
    WriteFile(folder + "/later.db", "");
    EXPECT_EQ(store.TrafficRank("google.com"), std::nullopt);

    FactsWriter writer(folder + "/later.db");
    ImportTranco(Fixture("tranco.csv"), writer);
    EXPECT_EQ(store.TrafficRank("google.com"), 1);
}

TEST(FactsStore, PrefersEachSourceInTurnOverTheNextOne)
{
    Database db;
    const std::string folder = TemporaryFolder();
    WriteFile(folder + "/tranco.csv", "50,example.test\n");
    WriteFile(folder + "/ranks.txt", "7\t1\t1\t1\ttest.example.shop\n9\t1\t1\t1\ttest.other\n");
    ImportTranco(folder + "/tranco.csv", db.writer);
    ImportCcRanks(folder + "/ranks.txt", db.writer);
    // Tranco's domain rank before the Common Crawl's host position.
    EXPECT_EQ(db.store.TrafficRank("shop.example.test"), 50);
    EXPECT_EQ(db.store.TrafficRank("www.other.test"), 9);
    EXPECT_EQ(db.store.TrafficRank("shop.other.test"), 9);
    EXPECT_EQ(db.store.TrafficRank("third.test"), std::nullopt);
}

TEST(FactsStore, RefusesADatabaseOfAnotherKind)
{
    const std::string folder = TemporaryFolder();
    kelvora::directory::Connection(folder + "/other.db", kelvora::directory::OpenMode::Create)
        .Execute("CREATE TABLE sites(x)");
    EXPECT_THROW(FactsStore(folder + "/other.db"), kelvora::directory::SqliteError);
    EXPECT_THROW(FactsWriter(folder + "/other.db"), kelvora::directory::SqliteError);
    WriteFile(folder + "/text.db", std::string(2048, 'x'));
    EXPECT_THROW(FactsWriter(folder + "/text.db"), kelvora::directory::SqliteError);
}
