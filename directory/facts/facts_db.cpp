#include "directory/facts/facts_db.h"

#include <algorithm>
#include <filesystem>
#include <iterator>

#include <nlohmann/json.hpp>

#include "directory/core/sqlite.h"
#include "directory/core/user_files.h"
#include "directory/facts/domains.h"

namespace kelvora::directory::facts {

namespace {

// Stored in meta under "format"; any other database is refused rather than
// written into.
constexpr const char *kFactsFormat = "kelvora-facts-1";

// One table per source, so that replacing a source is one DELETE, which
// SQLite carries out by dropping pages rather than row by row.
constexpr const char *kSchemaSql = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE tranco(key TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE majestic(key TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE cc_ranks(key TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE cc_indegree(key TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE cc_links(
  target TEXT NOT NULL,
  position INTEGER NOT NULL,
  source TEXT NOT NULL,
  PRIMARY KEY(target, position)) WITHOUT ROWID;
)sql";

// The page cache of an import: random-order keys into a B-tree stay fast
// while the tree's inner pages fit.
constexpr const char *kImportCachePragma = "PRAGMA cache_size = -65536";

struct SourceTable {
    const char *table;
    bool lowerIsBetter;
};

SourceTable TableOf(Source source)
{
    switch (source) {
    case Source::Tranco: return {"tranco", true};
    case Source::Majestic: return {"majestic", false};
    case Source::CcRanks: return {"cc_ranks", true};
    case Source::CcInDegree: return {"cc_indegree", false};
    }
    return {"tranco", true};
}

constexpr Source kSources[] = {Source::Tranco, Source::Majestic, Source::CcRanks, Source::CcInDegree};

std::string UpsertSql(Source source)
{
    const SourceTable table = TableOf(source);
    return std::string("INSERT INTO ") + table.table + "(key, value) VALUES(?1, ?2) " +
           "ON CONFLICT(key) DO UPDATE SET value = " + (table.lowerIsBetter ? "min" : "max") +
           "(value, excluded.value)";
}

std::string SelectSql(Source source)
{
    return std::string("SELECT value FROM ") + TableOf(source).table + " WHERE key = ?1";
}

enum class Format { Facts, Empty };

// Throws unless connection holds a facts database or none yet (an empty or
// new file, which is given the tables when create is set).
Format CheckFormat(Connection &connection, bool create)
{
    Statement objects(connection, "SELECT count(*) FROM sqlite_schema");
    objects.Step();
    if (objects.Integer(0) == 0) {
        if (!create)
            return Format::Empty;
        connection.Execute("BEGIN IMMEDIATE");
        connection.Execute(kSchemaSql);
        Statement format(connection, "INSERT INTO meta(key, value) VALUES('format', ?1)");
        format.Bind(1, std::string_view(kFactsFormat)).Run();
        connection.Execute("COMMIT");
        return Format::Facts;
    }
    Statement meta(connection,
                   "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name = 'meta'");
    meta.Step();
    if (meta.Integer(0) == 1) {
        Statement format(connection, "SELECT value FROM meta WHERE key = 'format'");
        if (format.Step() && format.Text(0) == kFactsFormat)
            return Format::Facts;
    }
    throw SqliteError("not a facts database");
}

} // namespace

std::string DefaultFactsPath()
{
    return UserFilePath(UserFolder::Data, "facts.db");
}

std::string_view SourceName(Source source)
{
    switch (source) {
    case Source::Tranco: return "tranco";
    case Source::Majestic: return "majestic";
    case Source::CcRanks: return "cc-ranks";
    case Source::CcInDegree: return "cc-graph";
    }
    return "tranco";
}

namespace {

// Records live in meta under "list:" and the source's name, as JSON.
std::string RecordKey(Source source)
{
    return "list:" + std::string(SourceName(source));
}

std::string RecordJson(const ListRecord &record)
{
    const nlohmann::json json = {{"origin", record.origin},   {"listDate", record.listDate},
                                 {"updated", record.updated}, {"bytes", record.bytes},
                                 {"rows", record.rows},       {"etag", record.etag},
                                 {"lastModified", record.lastModified}};
    return json.dump();
}

// A record damaged by hand reads as far as it goes.
ListRecord ParseRecord(const std::string &text)
{
    ListRecord record;
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object())
        return record;
    const auto textOf = [&json](const char *name) {
        const auto found = json.find(name);
        return found != json.end() && found->is_string() ? found->get<std::string>() : std::string();
    };
    const auto numberOf = [&json](const char *name) {
        const auto found = json.find(name);
        return found != json.end() && found->is_number_unsigned() ? found->get<std::uint64_t>() : 0;
    };
    record.origin = textOf("origin");
    record.listDate = textOf("listDate");
    record.updated = textOf("updated");
    record.bytes = numberOf("bytes");
    record.rows = numberOf("rows");
    record.etag = textOf("etag");
    record.lastModified = textOf("lastModified");
    return record;
}

std::optional<ListRecord> SelectRecord(Connection &connection, Source source)
{
    Statement select(connection, "SELECT value FROM meta WHERE key = ?1");
    select.Bind(1, std::string_view(RecordKey(source)));
    if (!select.Step())
        return std::nullopt;
    return ParseRecord(select.Text(0));
}

} // namespace

std::vector<std::pair<Source, ListRecord>> ReadListRecords(const std::string &path)
{
    std::vector<std::pair<Source, ListRecord>> records;
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return records;
    Connection connection(path, OpenMode::ReadOnly);
    if (CheckFormat(connection, false) != Format::Facts)
        return records;
    for (Source source : kSources) {
        if (std::optional<ListRecord> record = SelectRecord(connection, source))
            records.emplace_back(source, std::move(*record));
    }
    return records;
}

// ---------------------------------------------------------------- writer

struct FactsWriter::Impl {
    explicit Impl(const std::string &path)
        : connection(path, OpenMode::Create)
    {
        CheckFormat(connection, true);
        // WAL lets a running gateway read the previous facts during an
        // import; NORMAL syncing is safe with WAL and far faster.
        connection.Execute("PRAGMA journal_mode = WAL");
        connection.Execute("PRAGMA synchronous = NORMAL");
        connection.Execute(kImportCachePragma);
    }

    Statement &Upsert(Source source)
    {
        std::unique_ptr<Statement> &statement = upserts[static_cast<std::size_t>(source)];
        if (!statement)
            statement = std::make_unique<Statement>(connection, UpsertSql(source).c_str());
        return *statement;
    }

    Connection connection;
    std::unique_ptr<Statement> upserts[std::size(kSources)];
    std::unique_ptr<Statement> deleteLinks;
    std::unique_ptr<Statement> insertLink;
    bool open = false;
};

FactsWriter::FactsWriter(const std::string &path)
    : m_impl(std::make_unique<Impl>(path))
{
}

FactsWriter::~FactsWriter()
{
    if (m_impl && m_impl->open) {
        try {
            Rollback();
        } catch (const SqliteError &) {
            // Closing the connection rolls back all the same.
        }
    }
}

void FactsWriter::Begin(std::initializer_list<Source> sources)
{
    m_impl->connection.Execute("BEGIN IMMEDIATE");
    m_impl->open = true;
    for (Source source : sources) {
        m_impl->connection.Execute((std::string("DELETE FROM ") + TableOf(source).table).c_str());
        if (source == Source::CcInDegree)
            m_impl->connection.Execute("DELETE FROM cc_links");
    }
}

void FactsWriter::Put(Source source, std::string_view key, std::int64_t value)
{
    Statement &upsert = m_impl->Upsert(source);
    upsert.Bind(1, key).Bind(2, value).Run();
    upsert.Reset();
}

void FactsWriter::PutLinks(std::string_view target, const std::vector<std::string> &sources)
{
    if (!m_impl->deleteLinks) {
        m_impl->deleteLinks =
            std::make_unique<Statement>(m_impl->connection, "DELETE FROM cc_links WHERE target = ?1");
        m_impl->insertLink = std::make_unique<Statement>(
            m_impl->connection, "INSERT INTO cc_links(target, position, source) VALUES(?1, ?2, ?3)");
    }
    m_impl->deleteLinks->Bind(1, target).Run();
    m_impl->deleteLinks->Reset();
    const std::size_t count = std::min(sources.size(), kMaxLinkingDomains);
    for (std::size_t i = 0; i < count; ++i) {
        m_impl->insertLink->Bind(1, target).Bind(2, static_cast<std::int64_t>(i + 1)).Bind(3, sources[i]).Run();
        m_impl->insertLink->Reset();
    }
}

void FactsWriter::Commit(std::string_view note)
{
    Statement record(m_impl->connection,
                     "INSERT INTO meta(key, value) VALUES('last-import', ?1) "
                     "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    record.Bind(1, note).Run();
    m_impl->connection.Execute("COMMIT");
    m_impl->open = false;
}

void FactsWriter::Rollback()
{
    m_impl->open = false;
    m_impl->connection.Execute("ROLLBACK");
}

void FactsWriter::SetRecord(Source source, const ListRecord &record)
{
    Statement store(m_impl->connection,
                    "INSERT INTO meta(key, value) VALUES(?1, ?2) "
                    "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    const std::string key = RecordKey(source);
    const std::string value = RecordJson(record);
    store.Bind(1, std::string_view(key)).Bind(2, std::string_view(value)).Run();
}

std::optional<ListRecord> FactsWriter::Record(Source source)
{
    return SelectRecord(m_impl->connection, source);
}

std::size_t FactsWriter::Count(Source source)
{
    Statement count(m_impl->connection,
                    (std::string("SELECT count(*) FROM ") + TableOf(source).table).c_str());
    count.Step();
    return static_cast<std::size_t>(count.Integer(0));
}

// ---------------------------------------------------------------- store

namespace {

// Idle connections kept for reuse; more may exist while look-ups run.
constexpr std::size_t kMaxIdleSessions = 32;

} // namespace

struct FactsStore::Session {
    // A file this process cannot write (read-only media or folder) is read
    // immutable: a WAL database could not be opened otherwise.
    explicit Session(const std::string &path)
        : connection(path, CannotWrite(path) ? OpenMode::Immutable : OpenMode::ReadOnly)
    {
        connection.Execute("PRAGMA query_only = 1");
        // An import may be creating the file at this moment.
        ready = CheckFormat(connection, false) == Format::Facts;
        if (!ready)
            return;
        for (Source source : kSources)
            lookups[static_cast<std::size_t>(source)] =
                std::make_unique<Statement>(connection, SelectSql(source).c_str());
        links = std::make_unique<Statement>(
            connection, "SELECT source FROM cc_links WHERE target = ?1 ORDER BY position");
    }

    Connection connection;
    bool ready = false;   // holds the facts tables
    std::unique_ptr<Statement> lookups[std::size(kSources)];
    std::unique_ptr<Statement> links;
};

// Borrows an idle session, or opens one when the database exists; gives it
// back afterwards with its statements reset, also when a query threw.
class FactsStore::Lease final {
public:
    explicit Lease(const FactsStore &store)
        : m_store(store)
    {
        {
            std::lock_guard lock(store.m_mutex);
            if (!store.m_idle.empty()) {
                m_session = std::move(store.m_idle.back());
                store.m_idle.pop_back();
            }
        }
        std::error_code error;
        if (!m_session && std::filesystem::exists(store.m_path, error)) {
            m_session = std::make_unique<Session>(store.m_path);
            if (!m_session->ready)
                m_session.reset();
        }
    }
    ~Lease()
    {
        if (!m_session)
            return;
        for (auto &statement : m_session->lookups)
            statement->Reset();
        m_session->links->Reset();
        std::lock_guard lock(m_store.m_mutex);
        if (m_store.m_idle.size() < kMaxIdleSessions)
            m_store.m_idle.push_back(std::move(m_session));
    }
    Lease(const Lease &) = delete;
    Lease &operator=(const Lease &) = delete;

    Session *get() const { return m_session.get(); }

private:
    const FactsStore &m_store;
    std::unique_ptr<Session> m_session;
};

FactsStore::FactsStore(std::string path)
    : m_path(std::move(path))
{
    Lease check(*this);   // refuses a file of another kind at once
}

FactsStore::~FactsStore() = default;

std::optional<std::int64_t> FactsStore::Find(Source source, const std::vector<std::string> &names) const
{
    Lease lease(*this);
    if (!lease.get())
        return std::nullopt;
    Statement &lookup = *lease.get()->lookups[static_cast<std::size_t>(source)];
    for (const std::string &name : names) {
        lookup.Bind(1, name);
        const bool found = lookup.Step();
        const std::int64_t value = found ? lookup.Integer(0) : 0;
        lookup.Reset();
        if (found)
            return value;
    }
    return std::nullopt;
}

std::optional<std::int64_t> FactsStore::TrafficRank(std::string_view host) const
{
    const std::vector<std::string> names = LookupNames(host);
    if (std::optional<std::int64_t> rank = Find(Source::Tranco, names))
        return rank;
    return Find(Source::CcRanks, names);
}

std::int64_t FactsStore::LinkPopularity(std::string_view host) const
{
    const std::vector<std::string> names = LookupNames(host);
    if (std::optional<std::int64_t> count = Find(Source::Majestic, names))
        return *count;
    return Find(Source::CcInDegree, names).value_or(0);
}

std::vector<std::string> FactsStore::LinkingDomains(std::string_view host) const
{
    std::vector<std::string> domains;
    Lease lease(*this);
    if (!lease.get())
        return domains;
    Statement &links = *lease.get()->links;
    for (const std::string &name : LookupNames(host)) {
        links.Bind(1, name);
        while (links.Step())
            domains.push_back(links.Text(0));
        links.Reset();
        if (!domains.empty())
            break;
    }
    return domains;
}

} // namespace kelvora::directory::facts
