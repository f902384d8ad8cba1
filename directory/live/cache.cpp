#include "directory/live/cache.h"

#include <sqlite3.h>

#include <filesystem>
#include <utility>
#include <vector>

#include "directory/core/sqlite.h"

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

// The write-ahead log is checkpointed once it holds this many pages, as
// SQLite does by itself. A reader of another connection can keep it from
// starting over, so past the second bound a checkpoint waits for the readers
// and empties it; what is left is cut back to the size limit.
constexpr int kCheckpointPages = 1000;
constexpr int kRestartPages = 6000;
constexpr std::int64_t kMaxWalBytes = 16LL * 1024 * 1024;

std::int64_t SizeOf(const std::string &key, const CachedAnswer &answer)
{
    return static_cast<std::int64_t>(key.size() + answer.finalUrl.size() + answer.body.size());
}

// Resets a statement when the scope ends, also by an exception: a
// statement left stepped holds a read snapshot, which keeps other
// connections' checkpoints from finishing.
class ResetAfterUse final {
public:
    explicit ResetAfterUse(Statement &statement)
        : m_statement(statement)
    {
        m_statement.Reset();
    }
    ~ResetAfterUse() { m_statement.Reset(); }
    ResetAfterUse(const ResetAfterUse &) = delete;
    ResetAfterUse &operator=(const ResetAfterUse &) = delete;

private:
    Statement &m_statement;
};

int CheckpointAfterCommit(void *, sqlite3 *db, const char *name, int pages)
{
    if (pages >= kRestartPages)
        sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    else if (pages >= kCheckpointPages)
        sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return SQLITE_OK;
}

// A reason from SQLite (or the file system) as the gateway reports it.
SqliteError CacheError(const std::string &path, const std::string &reason)
{
    return SqliteError("cannot use the page cache " + path + ": " + reason +
                       " (it holds only copies of upstream answers: deleting the file is safe)");
}

OpenMode OpenModeFor(const std::string &path, CacheAccess access)
{
    if (access == CacheAccess::ReadWrite)
        return OpenMode::Create;
    return CannotWrite(path) ? OpenMode::Immutable : OpenMode::ReadOnly;
}

} // namespace

struct WebCache::Statements {
    Statements(const std::string &path, CacheAccess access)
        : db(path, OpenModeFor(path, access))
    {
        if (access == CacheAccess::ReadWrite) {
            // WAL lets readers go on while an answer is written, and keeps a
            // crash from leaving a half-written answer behind.
            db.Execute("PRAGMA journal_mode=WAL");
            db.Execute("PRAGMA synchronous=NORMAL");
            db.Execute(("PRAGMA journal_size_limit=" + std::to_string(kMaxWalBytes)).c_str());
            sqlite3_wal_hook(db.Handle(), &CheckpointAfterCommit, nullptr);
            db.Execute(kSchema);
        }
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

WebCache::WebCache(const std::string &path, std::int64_t maxBytes, Clock clock, CacheAccess access)
    : m_readOnly(access == CacheAccess::ReadOnly)
    , m_maxBytes(maxBytes)
    , m_clock(std::move(clock))
{
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw CacheError(path, "it is a folder, not a file");
    if (m_readOnly && !std::filesystem::exists(path, error))
        throw CacheError(path, "no such file");
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!m_readOnly && !parent.empty())
        std::filesystem::create_directories(parent, error);
    try {
        Open(path, access);
    } catch (const SqliteError &failure) {
        m_statements.reset();
        throw CacheError(path, failure.what());
    }
}

void WebCache::Open(const std::string &path, CacheAccess access)
{
    m_statements = std::make_unique<Statements>(path, access);
    std::optional<std::string> format;
    {
        Statement read(m_statements->db, "SELECT value FROM meta WHERE key = 'format'");
        if (read.Step())
            format = read.Text(0);
    }
    if (format && *format != kFormat)
        throw SqliteError("not a Kelvora web cache (format " + *format + ")");
    if (m_readOnly) {
        if (!format)
            throw SqliteError("not a Kelvora web cache (no format)");
        const std::lock_guard lock(m_mutex);
        ResetAfterUse use(*m_statements->total);
        m_size = m_statements->total->Step() ? m_statements->total->Integer(0) : 0;
        return;
    }
    if (!format) {
        Statement(m_statements->db, "INSERT INTO meta(key, value) VALUES('format', ?1)")
            .Bind(1, std::string_view(kFormat))
            .Run();
    }
    const std::lock_guard lock(m_mutex);
    DropExpired();
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
    ResetAfterUse use(find);
    find.Bind(1, std::string_view(key)).Bind(2, Now());
    if (!find.Step())
        return std::nullopt;
    CachedAnswer answer;
    answer.status = static_cast<long>(find.Integer(0));
    answer.truncated = find.Integer(1) != 0;
    answer.finalUrl = find.Text(2);
    answer.body = find.Text(3);
    answer.storedAt = find.Integer(4);
    return answer;
}

bool WebCache::HasFresh(const std::string &key)
{
    const std::lock_guard lock(m_mutex);
    Statement &fresh = *m_statements->fresh;
    ResetAfterUse use(fresh);
    fresh.Bind(1, std::string_view(key)).Bind(2, Now());
    return fresh.Step();
}

void WebCache::Store(const std::string &key, const CachedAnswer &answer, std::chrono::seconds timeToLive)
{
    const std::int64_t size = SizeOf(key, answer);
    if (size > m_maxBytes || m_readOnly)
        return;
    const std::lock_guard lock(m_mutex);
    const std::int64_t now = Now();
    Statements &s = *m_statements;

    std::int64_t replaced = 0;
    {
        ResetAfterUse use(*s.sizeOfKey);
        s.sizeOfKey->Bind(1, std::string_view(key));
        replaced = s.sizeOfKey->Step() ? s.sizeOfKey->Integer(0) : 0;
    }

    ResetAfterUse use(*s.store);   // also lets go of the body's copy
    s.store->Bind(1, std::string_view(key))
        .Bind(2, now)
        .Bind(3, now + static_cast<std::int64_t>(timeToLive.count()))
        .Bind(4, static_cast<std::int64_t>(answer.status))
        .Bind(5, static_cast<std::int64_t>(answer.truncated ? 1 : 0))
        .Bind(6, std::string_view(answer.finalUrl))
        .Bind(7, std::string_view(answer.body))
        .Bind(8, size);
    s.store->Run();
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
    {
        ResetAfterUse use(*s.expired);
        s.expired->Bind(1, Now());
        s.expired->Run();
    }
    ResetAfterUse use(*s.total);
    m_size = s.total->Step() ? s.total->Integer(0) : 0;
}

void WebCache::DropOldest()
{
    Statements &s = *m_statements;
    while (m_size > m_maxBytes) {
        std::vector<std::pair<std::string, std::int64_t>> victims;
        {
            ResetAfterUse use(*s.oldest);
            s.oldest->Bind(1, kDropBatch);
            while (s.oldest->Step())
                victims.emplace_back(s.oldest->Text(0), s.oldest->Integer(1));
        }
        if (victims.empty()) {
            m_size = 0;
            return;
        }
        for (const auto &[key, size] : victims) {
            if (m_size <= m_maxBytes)
                break;
            ResetAfterUse use(*s.remove);
            s.remove->Bind(1, std::string_view(key));
            s.remove->Run();
            m_size -= size;
        }
    }
}

} // namespace kelvora::directory::live
