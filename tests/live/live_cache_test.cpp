// The cache of upstream answers: exact bytes, time to live, the size bound
// (oldest first), and a file that survives a restart.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "directory/core/sqlite.h"
#include "directory/live/cache.h"
#include "tests/directory/fixture_db.h"
#include "tests/support/files.h"

using namespace kelvora::directory::live;
using kelvora::testsupport::TemporaryFolder;

namespace {

using namespace std::chrono_literals;

CachedAnswer AnswerOf(std::string body, long status = 200)
{
    CachedAnswer answer;
    answer.status = status;
    answer.body = std::move(body);
    answer.finalUrl = "https://www.a.test/";
    return answer;
}

struct Clocked {
    std::atomic<std::int64_t> now{1'000'000};
    WebCache::Clock Clock()
    {
        return [this] { return now.load(); };
    }
};

} // namespace

TEST(WebCache, GivesBackTheExactAnswerUntilItExpires)
{
    Clocked clock;
    WebCache cache(TemporaryFolder() + "/nested/folder/cache.db", kDefaultCacheBytes, clock.Clock());
    static constexpr char kBytes[] = "binary\0body\r\n\xff\xfe";
    const std::string body(kBytes, sizeof kBytes - 1);
    CachedAnswer answer = AnswerOf(body, 404);
    answer.truncated = true;
    answer.finalUrl = "https://www.b.test/after-redirect";
    cache.Store("key", answer, 60s);

    const std::optional<CachedAnswer> found = cache.Find("key");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->body, body);
    EXPECT_EQ(found->status, 404);
    EXPECT_TRUE(found->truncated);
    EXPECT_EQ(found->finalUrl, "https://www.b.test/after-redirect");
    EXPECT_EQ(found->storedAt, 1'000'000);
    EXPECT_FALSE(cache.Find("other key"));

    clock.now += 59;
    EXPECT_TRUE(cache.HasFresh("key"));
    clock.now += 1;
    EXPECT_FALSE(cache.HasFresh("key"));
    EXPECT_FALSE(cache.Find("key"));

    // A new answer replaces the old one and its size.
    cache.Store("key", AnswerOf("short"), 60s);
    EXPECT_EQ(cache.Find("key")->body, "short");
    const std::string finalUrl = "https://www.a.test/";
    EXPECT_EQ(cache.Size(), static_cast<std::int64_t>(std::string("key").size() + 5 + finalUrl.size()));
}

TEST(WebCache, DropsTheOldestAnswersBeyondItsBound)
{
    Clocked clock;
    const std::string path = TemporaryFolder() + "/cache.db";
    const std::string page(3000, 'p');
    {
        WebCache cache(path, 10'000, clock.Clock());
        for (const char *key : {"first", "second", "third"}) {
            cache.Store(key, AnswerOf(page), 3600s);
            clock.now += 1;
        }
        EXPECT_TRUE(cache.HasFresh("first"));
        cache.Find("first");   // reading does not make an answer younger
        cache.Store("fourth", AnswerOf(page), 3600s);
        EXPECT_FALSE(cache.HasFresh("first"));
        EXPECT_TRUE(cache.HasFresh("second"));
        EXPECT_TRUE(cache.HasFresh("fourth"));
        EXPECT_LE(cache.Size(), 10'000);

        // An answer larger than the whole bound is not kept, and costs nothing.
        cache.Store("huge", AnswerOf(std::string(20'000, 'h')), 3600s);
        EXPECT_FALSE(cache.HasFresh("huge"));
        EXPECT_TRUE(cache.HasFresh("second"));
    }
    // Reopened: the answers are still there, and a smaller bound applies at once.
    WebCache reopened(path, 7'000, clock.Clock());
    EXPECT_FALSE(reopened.HasFresh("second"));
    EXPECT_TRUE(reopened.HasFresh("third"));
    EXPECT_TRUE(reopened.HasFresh("fourth"));
    EXPECT_EQ(reopened.Find("fourth")->body, page);
}

TEST(WebCache, IsAnSqliteFileInWalModeThatSweepsExpiredAnswersWhenOpened)
{
    Clocked clock;
    const std::string path = TemporaryFolder() + "/cache.db";
    {
        WebCache cache(path, kDefaultCacheBytes, clock.Clock());
        cache.Store("day", AnswerOf("d"), 24h);
        cache.Store("week", AnswerOf("w"), 24h * 7);
    }
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt *mode = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &mode, nullptr);
    ASSERT_EQ(sqlite3_step(mode), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(mode, 0)), "wal");
    sqlite3_finalize(mode);
    sqlite3_close(db);

    clock.now += 2 * 24 * 3600;
    WebCache later(path, kDefaultCacheBytes, clock.Clock());
    const std::string finalUrl = "https://www.a.test/";
    EXPECT_EQ(later.Size(), static_cast<std::int64_t>(std::string("week").size() + 1 + finalUrl.size()));
    EXPECT_TRUE(later.HasFresh("week"));
}

TEST(WebCache, RefusesAFileThatIsNotACache)
{
    const std::string garbage = TemporaryFolder() + "/garbage.db";
    std::ofstream(garbage) << std::string(4096, 'x');
    EXPECT_THROW(WebCache cache(garbage), kelvora::directory::SqliteError);
    try {
        WebCache cache(kelvora::directory::testing::FixtureDatabase());
        ADD_FAILURE() << "a data set was taken for a cache";
    } catch (const kelvora::directory::SqliteError &error) {
        EXPECT_NE(std::string(error.what()).find("not a Kelvora web cache"), std::string::npos) << error.what();
    }
}

TEST(WebCache, TwoCachesShareOneFileWhileLargeAnswersKeepTheLogSmall)
{
    constexpr int kPagesEach = 30;   // 60 in all
    constexpr std::size_t kPageBytes = 4 * 1024 * 1024;
    constexpr std::uintmax_t kMaxWal = 64 * 1024 * 1024;
    const std::string path = TemporaryFolder() + "/shared.db";
    WebCache first(path);
    WebCache second(path);
    std::atomic<std::uintmax_t> largestWal{0};
    std::atomic<int> failures{0};
    auto writer = [&](WebCache &mine, WebCache &other, const std::string &name, char fill) {
        const std::string body(kPageBytes, fill);
        for (int i = 0; i < kPagesEach; ++i) {
            try {
                mine.Store(name + std::to_string(i), AnswerOf(body), 3600s);
                // Reads of the other's answers run between the writes, as two
                // gateways' do.
                if (i > 0 && !other.HasFresh(name + std::to_string(i - 1)))
                    ++failures;
                if (!mine.Find(name + std::to_string(i)))
                    ++failures;
            } catch (const std::exception &error) {
                ADD_FAILURE() << error.what();
                ++failures;
            }
            std::error_code ignored;
            const std::uintmax_t wal = std::filesystem::file_size(path + "-wal", ignored);
            if (!ignored && wal > largestWal)
                largestWal = wal;
        }
    };
    std::thread a([&] { writer(first, second, "a", 'a'); });
    std::thread b([&] { writer(second, first, "b", 'b'); });
    a.join();
    b.join();
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(first.HasFresh("b0"));
    EXPECT_TRUE(second.HasFresh("a0"));
    EXPECT_EQ(second.Find("a29")->body, std::string(kPageBytes, 'a'));
    std::error_code ignored;
    const std::uintmax_t wal = std::filesystem::file_size(path + "-wal", ignored);
    std::cout << "write-ahead log after " << 2 * kPagesEach << " answers of 4 MiB: " << wal
              << " bytes now, at most " << largestWal << " bytes\n";
    EXPECT_LT(largestWal.load(), kMaxWal);
}

TEST(WebCache, AReadOnlyCacheIsReadAndNeverWritten)
{
    Clocked clock;
    const std::string path = TemporaryFolder() + "/cache.db";
    {
        WebCache cache(path, kDefaultCacheBytes, clock.Clock());
        cache.Store("kept", AnswerOf("body"), 3600s);
        cache.Store("old", AnswerOf("stale"), 10s);
    }
    clock.now += 60;
    WebCache readOnly(path, 1, clock.Clock(), CacheAccess::ReadOnly);   // a bound it may not apply
    EXPECT_EQ(readOnly.Find("kept")->body, "body");
    readOnly.Store("new", AnswerOf("x"), 3600s);
    EXPECT_FALSE(readOnly.HasFresh("new"));
    WebCache writable(path, kDefaultCacheBytes, clock.Clock());
    EXPECT_TRUE(writable.HasFresh("kept"));
    EXPECT_FALSE(writable.HasFresh("new"));

    const std::string folder = TemporaryFolder();
    for (const std::string &missing : {folder + "/none.db", folder}) {
        try {
            WebCache cache(missing, kDefaultCacheBytes, {}, CacheAccess::ReadOnly);
            ADD_FAILURE() << missing;
        } catch (const kelvora::directory::SqliteError &error) {
            EXPECT_NE(std::string(error.what()).find("page cache " + missing), std::string::npos) << error.what();
        }
    }
}
