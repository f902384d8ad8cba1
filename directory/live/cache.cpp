#include "directory/live/cache.h"

#include <filesystem>
#include <utility>
#include <vector>

#include "directory/sqlite.h"

namespace kelvora::directory::live {

namespace {

constexpr const char *kFormat = "kelvora-web-cache-1";
// Expired answers are swept after this many stores, so that a long run does
// not carry answers nobody can use any more.
constexpr int kStoresPerSweep = 256;
// Answers dropped per round when the bound is passed.
constexpr std::int64_t kDropBatch = 32;

constexpr const char *kSchema = R"(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS answers(
  key TEXT PRIMARY KEY,
  stored_at INTEGER NOT NULL,
  expires_at INTEGER NOT NULL,
  status INTEGER NOT NULL,
  truncated INTEGER NOT NULL,
  final_url TEXT NOT NULL,
  body BLOB NOT NULL,
  size INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS answers_by_age ON answers(stored_at);
)";

std::int64_t SizeOf(const std::string &key, const CachedAnswer &answer)
{
    return static_cast<std::int64_t>(key.size() + answer.finalUrl.size() + answer.body.size());
}

} // namespace

struct WebCache::Statements {
    explicit Statements(const std::string &path)
        : db(path, OpenMode::Create)
    {
        // WAL lets readers go on while an answer is written, and keeps a
        // crash from leaving a half-written answer behind.
        db.Execute("PRAGMA journal_mode=WAL");
        db.Execute("PRAGMA synchronous=NORMAL");
        db.Execute(kSchema);
        find = std::make_unique<Statement>(db,
            "SELECT status, truncated, final_url, body, stored_at FROM answers WHERE key = ?1 AND expires_at > ?2");
        fresh = std::make_unique<Statement>(db, "SELECT 1 FROM answers WHERE key = ?1 AND expires_at > ?2");
        sizeOfKey = std::make_unique<Statement>(db, "SELECT size FROM answers WHERE key = ?1");
        store = std::make_unique<Statement>(db,
            "INSERT OR REPLACE INTO answers(key, stored_at, expires_at, status, truncated, final_url, body, size)"
            " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
        total = std::make_unique<Statement>(db, "SELECT coalesce(sum(size), 0) FROM answers");
        oldest = std::make_unique<Statement>(db, "SELECT key, size FROM answers ORDER BY stored_at, rowid LIMIT ?1");
        remove = std::make_unique<Statement>(db, "DELETE FROM answers WHERE key = ?1");
        expired = std::make_unique<Statement>(db, "DELETE FROM answers WHERE expires_at <= ?1");
    }

    Connection db;
    std::unique_ptr<Statement> find, fresh, sizeOfKey, store, total, oldest, remove, expired;
    int storesSinceSweep = 0;
};

WebCache::WebCache(const std::string &path, std::int64_t maxBytes, Clock clock)
    : m_maxBytes(maxBytes)
    , m_clock(std::move(clock))
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code ignored;
    if (!parent.empty())
        std::filesystem::create_directories(parent, ignored);
    m_statements = std::make_unique<Statements>(path);

    Statement format(m_statements->db, "SELECT value FROM meta WHERE key = 'format'");
    if (format.Step()) {
        if (format.Text(0) != kFormat)
            throw SqliteError("not a Kelvora web cache (format " + format.Text(0) + ")");
    } else {
        Statement(m_statements->db, "INSERT INTO meta(key, value) VALUES('format', ?1)")
            .Bind(1, std::string_view(kFormat))
            .Run();
    }
    const std::lock_guard lock(m_mutex);
    DropExpired();
    Statement &total = *m_statements->total;
    total.Reset();
    m_size = total.Step() ? total.Integer(0) : 0;
    DropOldest();
}

WebCache::~WebCache() = default;

std::int64_t WebCache::Now() const
{
    if (m_clock)
        return m_clock();
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::optional<CachedAnswer> WebCache::Find(const std::string &key)
{
    const std::lock_guard lock(m_mutex);
    Statement &find = *m_statements->find;
    find.Reset();
    find.Bind(1, std::string_view(key)).Bind(2, Now());
    if (!find.Step())
        return std::nullopt;
    CachedAnswer answer;
    answer.status = static_cast<long>(find.Integer(0));
    answer.truncated = find.Integer(1) != 0;
    answer.finalUrl = find.Text(2);
    answer.body = find.Text(3);
    answer.storedAt = find.Integer(4);
    find.Reset();
    return answer;
}

bool WebCache::HasFresh(const std::string &key)
{
    const std::lock_guard lock(m_mutex);
    Statement &fresh = *m_statements->fresh;
    fresh.Reset();
    fresh.Bind(1, std::string_view(key)).Bind(2, Now());
    const bool found = fresh.Step();
    fresh.Reset();
    return found;
}

void WebCache::Store(const std::string &key, const CachedAnswer &answer, std::chrono::seconds timeToLive)
{
    const std::int64_t size = SizeOf(key, answer);
    if (size > m_maxBytes)
        return;
    const std::lock_guard lock(m_mutex);
    const std::int64_t now = Now();
    Statements &s = *m_statements;

    s.sizeOfKey->Reset();
    s.sizeOfKey->Bind(1, std::string_view(key));
    const std::int64_t replaced = s.sizeOfKey->Step() ? s.sizeOfKey->Integer(0) : 0;
    s.sizeOfKey->Reset();

    s.store->Reset();
    s.store->Bind(1, std::string_view(key))
        .Bind(2, now)
        .Bind(3, now + static_cast<std::int64_t>(timeToLive.count()))
        .Bind(4, static_cast<std::int64_t>(answer.status))
        .Bind(5, static_cast<std::int64_t>(answer.truncated ? 1 : 0))
        .Bind(6, std::string_view(answer.finalUrl))
        .Bind(7, std::string_view(answer.body))
        .Bind(8, size);
    s.store->Run();
    s.store->Reset();   // lets go of the body's copy
    m_size += size - replaced;

    if (++s.storesSinceSweep >= kStoresPerSweep) {
        s.storesSinceSweep = 0;
        DropExpired();
    }
    DropOldest();
}

std::int64_t WebCache::Size()
{
    const std::lock_guard lock(m_mutex);
    return m_size;
}

void WebCache::DropExpired()
{
    Statements &s = *m_statements;
    s.expired->Reset();
    s.expired->Bind(1, Now());
    s.expired->Run();
    s.total->Reset();
    m_size = s.total->Step() ? s.total->Integer(0) : 0;
    s.total->Reset();
}

void WebCache::DropOldest()
{
    Statements &s = *m_statements;
    while (m_size > m_maxBytes) {
        std::vector<std::pair<std::string, std::int64_t>> victims;
        s.oldest->Reset();
        s.oldest->Bind(1, kDropBatch);
        while (s.oldest->Step())
            victims.emplace_back(s.oldest->Text(0), s.oldest->Integer(1));
        s.oldest->Reset();
        if (victims.empty()) {
            m_size = 0;
            return;
        }
        for (const auto &[key, size] : victims) {
            if (m_size <= m_maxBytes)
                break;
            s.remove->Reset();
            s.remove->Bind(1, std::string_view(key));
            s.remove->Run();
            m_size -= size;
        }
    }
}

} // namespace kelvora::directory::live
