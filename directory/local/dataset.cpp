#include "directory/local/dataset.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "directory/core/query.h"
#include "directory/core/sqlite.h"
#include "directory/local/schema.h"
#include "text/text.h"

namespace kelvora::directory {

std::vector<std::string> SplitKeywords(const std::string &keywords)
{
    std::vector<std::string> words;
    std::unordered_set<std::string> seen;
    std::string word;
    auto flush = [&] {
        if (!word.empty() && seen.insert(word).second)
            words.push_back(word);
        word.clear();
    };
    for (char c : keywords) {
        if (c == ' ' || c == ',' || c == ';' || c == '\t' || c == '\n' || c == '\r')
            flush();
        else
            word += LowerAscii(c);
    }
    flush();
    return words;
}

void RelatedScorer::Add(std::size_t other, double weight, std::int64_t popularity)
{
    const auto [slot, added] = m_slot.try_emplace(other, m_candidates.size());
    if (added)
        m_candidates.push_back({other, 0.0, popularity});
    m_candidates[slot->second].score += weight;
}

std::vector<std::size_t> RelatedScorer::TakeBest(std::size_t count)
{
    const auto better = [](const Candidate &a, const Candidate &b) {
        if (a.score != b.score)
            return a.score > b.score;
        if (a.popularity != b.popularity)
            return a.popularity > b.popularity;
        return a.index < b.index;
    };
    const std::size_t keep = std::min(count, m_candidates.size());
    std::partial_sort(m_candidates.begin(), m_candidates.begin() + static_cast<std::ptrdiff_t>(keep),
                      m_candidates.end(), better);
    std::vector<std::size_t> best;
    best.reserve(keep);
    for (std::size_t i = 0; i < keep; ++i)
        best.push_back(m_candidates[i].index);
    m_candidates.clear();
    m_slot.clear();
    return best;
}

namespace {

// How much sharing a keyword says about two sites: the rarer, the more. A
// keyword of one site or of too many says nothing (0).
double KeywordWeight(std::size_t sites, std::size_t sharing)
{
    if (sharing < 2 || sharing > kMaxKeywordSpread)
        return 0.0;
    return std::log(static_cast<double>(sites) / static_cast<double>(sharing)) + 1.0;
}

} // namespace

std::vector<std::vector<std::size_t>> ComputeRelated(
    const std::vector<std::vector<std::string>> &keywords,
    const std::vector<std::int64_t> &popularity)
{
    const std::size_t count = keywords.size();
    std::unordered_map<std::string, std::vector<std::size_t>> postings;
    for (std::size_t site = 0; site < count; ++site) {
        for (const std::string &word : keywords[site])
            postings[word].push_back(site);
    }

    std::vector<std::vector<std::size_t>> related(count);
    RelatedScorer scorer;
    for (std::size_t site = 0; site < count; ++site) {
        for (const std::string &word : keywords[site]) {
            const std::vector<std::size_t> &sharing = postings[word];
            const double weight = KeywordWeight(count, sharing.size());
            if (weight == 0.0)
                continue;
            for (std::size_t other : sharing) {
                if (other != site)
                    scorer.Add(other, weight, other < popularity.size() ? popularity[other] : 0);
            }
        }
        related[site] = scorer.TakeBest(kRelatedPerSite);
    }
    return related;
}

namespace {

// Page cache of the file being written and of its scratch tables (KiB): a
// bound that does not grow with the input. Larger caches were no faster on a
// million sites, since the system's file cache holds the pages as well.
constexpr const char *kWriterCacheSql = "PRAGMA main.cache_size = -16384; PRAGMA temp.cache_size = -8192";

// Scratch tables of the import, in SQLite's temporary database (a file of
// its own, deleted with the connection): the popularity and rank a source
// gave, and each site's keywords in order.
constexpr const char *kScratchSql = R"sql(
CREATE TEMP TABLE given(id INTEGER PRIMARY KEY, popularity INTEGER, rank INTEGER);
CREATE TEMP TABLE site_words(site INTEGER NOT NULL, position INTEGER NOT NULL, word TEXT NOT NULL,
                             PRIMARY KEY(site, position)) WITHOUT ROWID;
)sql";

// Derived figures, once every site is in. A link to a site of the data set
// shows that site's own host; popularity counts the distinct sites linking
// (each site's links are distinct and never to itself); rank is the place in
// the popularity order, ties by host. Figures a source gave win.
constexpr const char *kDeriveSql = R"sql(
UPDATE outbound SET host = s.host FROM sites AS s WHERE s.key = outbound.target_key AND outbound.host <> s.host;
UPDATE sites SET popularity = c.links
  FROM (SELECT target_key, count(*) AS links FROM outbound GROUP BY target_key) AS c
  WHERE c.target_key = sites.key;
UPDATE sites SET popularity = g.popularity FROM temp.given AS g WHERE g.id = sites.id AND g.popularity IS NOT NULL;
UPDATE sites SET rank = r.position
  FROM (SELECT id, row_number() OVER (ORDER BY popularity DESC, host) AS position FROM sites) AS r
  WHERE r.id = sites.id;
UPDATE sites SET rank = g.rank FROM temp.given AS g WHERE g.id = sites.id AND g.rank IS NOT NULL;
)sql";

// What the related sites are computed from, each table stored in the order
// it is read in: the informative keywords (shared by 2 to ?1 sites) with the
// number of sites sharing each, every site's informative keywords in order,
// and for each such keyword the sites carrying it with their popularity.
constexpr const char *kTermsSql[] = {
    "CREATE TEMP TABLE words(id INTEGER PRIMARY KEY, word TEXT NOT NULL UNIQUE, sites INTEGER NOT NULL)",
    R"sql(INSERT INTO temp.words(word, sites)
          SELECT word, count(*) FROM temp.site_words GROUP BY word HAVING count(*) BETWEEN 2 AND ?1
          ORDER BY word)sql",
    R"sql(CREATE TEMP TABLE site_terms(site INTEGER NOT NULL, position INTEGER NOT NULL, word INTEGER NOT NULL,
                                   sharing INTEGER NOT NULL, PRIMARY KEY(site, position)) WITHOUT ROWID)sql",
    R"sql(INSERT INTO temp.site_terms
          SELECT sw.site, sw.position, w.id, w.sites FROM temp.site_words AS sw JOIN temp.words AS w ON w.word = sw.word
          ORDER BY sw.site, sw.position)sql",
    R"sql(CREATE TEMP TABLE postings(word INTEGER NOT NULL, site INTEGER NOT NULL, popularity INTEGER NOT NULL,
                                 PRIMARY KEY(word, site)) WITHOUT ROWID)sql",
    R"sql(INSERT INTO temp.postings
          SELECT t.word, t.site, s.popularity FROM temp.site_terms AS t JOIN sites AS s ON s.id = t.site
          ORDER BY t.word, t.site)sql",
};

void RemoveFile(const std::string &path)
{
    std::remove(path.c_str());
}

// Opens a new file at temporary, removing any left there.
std::string Fresh(const std::string &temporary)
{
    RemoveFile(temporary);
    return temporary;
}

// The file's tables and its first rows. Indexes only the reader needs are
// dropped, their definitions kept in deferred, and built once the rows are
// in: a sort then, instead of an insert at a random place for every row.
// Returns true for the member it initialises, which must come before the
// statements prepared on the tables.
bool CreateTables(Connection &db, const std::string &source, std::vector<std::string> &deferred)
{
    // The file is renamed into place only when complete, and synced at its
    // single commit, so a crash leaves at worst a stray temporary file, which
    // the next import removes; no journal is needed.
    db.Execute("PRAGMA journal_mode = OFF");
    db.Execute("PRAGMA temp_store = FILE");
    db.Execute("PRAGMA temp.journal_mode = OFF");
    db.Execute(kWriterCacheSql);
    db.Execute(kSchemaSql);
    db.Execute(kScratchSql);
    std::vector<std::string> names;
    {
        Statement indexes(db, "SELECT name, sql FROM sqlite_schema WHERE type = 'index' AND sql IS NOT NULL");
        while (indexes.Step()) {
            names.push_back(indexes.Text(0));
            deferred.push_back(indexes.Text(1));
        }
    }
    for (const std::string &name : names)
        db.Execute(("DROP INDEX \"" + name + "\"").c_str());
    db.Execute("BEGIN");
    Statement meta(db, "INSERT INTO meta(key, value) VALUES (?1, ?2)");
    meta.Bind(1, std::string_view("format")).Bind(2, std::string_view(kDataFormat)).Run();
    meta.Reset();
    meta.Bind(1, std::string_view("source")).Bind(2, source).Run();
    return true;
}

} // namespace

struct DataSetWriter::State {
    State(std::string pathToWrite, const std::string &source)
        : path(std::move(pathToWrite))
        , temporary(path + ".tmp")
        , db(Fresh(temporary), OpenMode::Create)
        , tablesCreated(CreateTables(db, source, deferredIndexes))
    {
    }

    std::string path;
    std::string temporary;
    Connection db;
    std::vector<std::string> deferredIndexes;
    bool tablesCreated;
    Statement insertSite{db,
                         "INSERT OR IGNORE INTO sites(id, host, key, title, description, keywords, contact, "
                         "online_since, popularity, rank) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, 0, 0)"};
    Statement insertLink{db, "INSERT INTO outbound(site_id, position, host, target_key) VALUES (?1, ?2, ?3, ?4)"};
    Statement insertGiven{db, "INSERT INTO temp.given(id, popularity, rank) VALUES (?1, ?2, ?3)"};
    Statement insertSiteWord{db, "INSERT INTO temp.site_words(site, position, word) VALUES (?1, ?2, ?3)"};
    WriteSummary summary;
    std::int64_t sites = 0;
};

namespace {

// Related sites, one site at a time: its informative keywords in order, and
// for each the sites carrying it in index order, which is the order
// ComputeRelated() adds them in, so both give the same sites.
void WriteRelated(Connection &db, std::size_t siteCount)
{
    Statement terms(db, "SELECT site, word, sharing FROM temp.site_terms ORDER BY site, position");
    Statement sharing(db, "SELECT site, popularity FROM temp.postings WHERE word = ?1 ORDER BY site");
    Statement insert(db, "INSERT INTO related(site_id, position, related_id) VALUES (?1, ?2, ?3)");
    RelatedScorer scorer;
    std::int64_t site = 0;
    auto finishSite = [&] {
        std::int64_t position = 0;
        for (const std::size_t other : scorer.TakeBest(kRelatedPerSite)) {
            insert.Bind(1, site).Bind(2, ++position).Bind(3, static_cast<std::int64_t>(other) + 1).Run();
            insert.Reset();
        }
    };
    while (terms.Step()) {
        const std::int64_t termSite = terms.Integer(0);
        if (termSite != site) {
            finishSite();
            site = termSite;
        }
        const double weight = KeywordWeight(siteCount, static_cast<std::size_t>(terms.Integer(2)));
        sharing.Bind(1, terms.Integer(1));
        while (sharing.Step()) {
            const std::int64_t other = sharing.Integer(0);
            if (other != site)
                scorer.Add(static_cast<std::size_t>(other - 1), weight, sharing.Integer(1));
        }
        sharing.Reset();
    }
    finishSite();
}

} // namespace

DataSetWriter::DataSetWriter(std::string path, std::string source)
    : m_state(std::make_unique<State>(std::move(path), source))
{
}

DataSetWriter::~DataSetWriter()
{
    if (!m_state)
        return;   // committed
    const std::string temporary = m_state->temporary;
    m_state.reset();   // closes the file first
    RemoveFile(temporary);
}

void DataSetWriter::Add(SiteInput input)
{
    State &state = *m_state;
    const std::string host = HostName(input.host);
    const std::string key = HostKey(host);
    if (!IsStorableHost(host) || !IsStorableHost(key)) {
        ++state.summary.skipped;
        return;
    }
    const std::int64_t id = state.sites + 1;
    Statement &site = state.insertSite;
    site.Bind(1, id).Bind(2, host).Bind(3, key).Bind(4, input.title).Bind(5, input.description);
    site.Bind(6, input.keywords).Bind(7, input.contact).Bind(8, input.onlineSince).Run();
    site.Reset();
    if (state.db.Changes() == 0) {   // a host seen before
        ++state.summary.skipped;
        return;
    }
    state.sites = id;

    std::unordered_set<std::string> seen;
    std::int64_t position = 0;
    for (const std::string &target : input.outbound) {
        const std::string linkHost = HostName(target);
        std::string linkKey = HostKey(linkHost);
        if (!IsStorableHost(linkHost) || !IsStorableHost(linkKey) || linkKey == key)
            continue;
        if (!seen.insert(linkKey).second)
            continue;
        state.insertLink.Bind(1, id).Bind(2, ++position).Bind(3, linkHost).Bind(4, linkKey).Run();
        state.insertLink.Reset();
    }
    state.summary.links += static_cast<std::size_t>(position);

    if (input.popularity || input.rank) {
        Statement &given = state.insertGiven;
        given.Bind(1, id);
        input.popularity ? given.Bind(2, *input.popularity) : given.BindNull(2);
        input.rank ? given.Bind(3, *input.rank) : given.BindNull(3);
        given.Run();
        given.Reset();
    }

    position = 0;
    for (const std::string &word : SplitKeywords(input.keywords)) {
        state.insertSiteWord.Bind(1, id).Bind(2, ++position).Bind(3, word).Run();
        state.insertSiteWord.Reset();
    }
}

WriteSummary DataSetWriter::Commit()
{
    State &state = *m_state;
    if (state.sites == 0)
        throw NoSitesError("no valid site record (" + std::to_string(state.summary.skipped) + " skipped)");
    for (const std::string &sql : state.deferredIndexes)
        state.db.Execute(sql.c_str());
    state.db.Execute(kDeriveSql);

    for (const char *sql : kTermsSql) {
        Statement step(state.db, sql);
        if (std::string_view(sql).find("?1") != std::string_view::npos)
            step.Bind(1, static_cast<std::int64_t>(kMaxKeywordSpread));
        step.Run();
    }
    WriteRelated(state.db, static_cast<std::size_t>(state.sites));
    state.db.Execute("INSERT INTO sites_fts(sites_fts) VALUES ('rebuild')");
    state.db.Execute("COMMIT");
    state.db.Execute("PRAGMA optimize");
    WriteSummary summary = state.summary;
    summary.sites = static_cast<std::size_t>(state.sites);
    const std::string path = state.path;
    const std::string temporary = state.temporary;
    m_state.reset();   // closes the file, dropping the scratch tables
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        RemoveFile(temporary);
        throw std::runtime_error("cannot replace " + path);
    }
    return summary;
}

WriteSummary WriteDataSet(const std::string &path, std::vector<SiteInput> sites, const std::string &source)
{
    DataSetWriter writer(path, source);
    for (SiteInput &site : sites)
        writer.Add(std::move(site));
    return writer.Commit();
}

struct RankUpdate::State {
    explicit State(const std::string &path)
        : db(path, OpenMode::ReadWrite)
    {
    }
    Connection db;
    std::unordered_map<std::string, std::int64_t> best;   // every site key → best rank offered
};

void RequireDataSet(const Connection &db)
{
    bool ours = false;
    try {
        Statement format(db, "SELECT value FROM meta WHERE key = 'format'");
        ours = format.Step() && format.Text(0) == kDataFormat;
    } catch (const SqliteError &error) {
        if (std::string_view(error.what()).find("no such table") == std::string_view::npos)
            throw;
    }
    if (!ours)
        throw SqliteError("not a directory data set");
}

RankUpdate::RankUpdate(const std::string &path)
    : m_state(std::make_unique<State>(path))
{
    RequireDataSet(m_state->db);
    Statement keys(m_state->db, "SELECT key FROM sites");
    while (keys.Step())
        m_state->best.emplace(keys.Text(0), 0);
}

RankUpdate::~RankUpdate() = default;

void RankUpdate::Offer(std::string_view host, std::int64_t rank)
{
    if (rank <= 0)
        return;
    const auto found = m_state->best.find(HostKey(host));
    if (found == m_state->best.end())
        return;
    if (found->second == 0 || rank < found->second)
        found->second = rank;
}

std::size_t RankUpdate::Commit()
{
    std::size_t changed = 0;
    m_state->db.Execute("BEGIN IMMEDIATE");
    Statement update(m_state->db, "UPDATE sites SET rank = ?2 WHERE key = ?1");
    for (const auto &[key, rank] : m_state->best) {
        if (rank == 0)
            continue;
        update.Bind(1, key).Bind(2, rank).Run();
        update.Reset();
        ++changed;
    }
    m_state->db.Execute("COMMIT");
    return changed;
}

} // namespace kelvora::directory
