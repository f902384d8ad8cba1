#include "directory/local/store.h"

#include "directory/core/sqlite.h"
#include "directory/local/dataset.h"

namespace kelvora::directory {

namespace {

// Idle connections kept for reuse; more may exist while requests run.
constexpr std::size_t kMaxIdleSessions = 128;

constexpr const char *kSiteColumns =
    "id, host, key, title, description, keywords, contact, online_since, popularity, rank";

Site ReadSite(const Statement &statement)
{
    Site site;
    site.id = statement.Integer(0);
    site.host = statement.Text(1);
    site.key = statement.Text(2);
    site.title = statement.Text(3);
    site.description = statement.Text(4);
    site.keywords = statement.Text(5);
    site.contact = statement.Text(6);
    site.onlineSince = statement.Text(7);
    site.popularity = statement.Integer(8);
    site.rank = statement.Integer(9);
    return site;
}

std::string SiteQuery(const char *where)
{
    return std::string("SELECT ") + kSiteColumns + " FROM sites WHERE " + where;
}

// The hosts a site's list statement yields, in its order.
std::vector<std::string> hostsOf(Statement &list, std::int64_t siteId)
{
    std::vector<std::string> hosts;
    list.Bind(1, siteId);
    while (list.Step())
        hosts.push_back(list.Text(0));
    return hosts;
}

} // namespace

struct Store::Session {
    explicit Session(const std::string &path)
        : connection(path, OpenMode::ReadOnly)
        , findSite(connection, SiteQuery("key = ?1").c_str())
        , siteCount(connection, "SELECT count(*) FROM sites")
        , keywordTotal(connection, "SELECT count(*) FROM sites_fts WHERE sites_fts MATCH ?1")
        // Scores are rounded so that sites about equally relevant are told
        // apart by popularity rather than by tiny differences in length.
        , keywordPage(connection,
                      "SELECT s.host, s.title, s.description FROM "
                      "(SELECT rowid AS id, round(bm25(sites_fts, 10.0, 3.0, 5.0), 1) AS score "
                      " FROM sites_fts WHERE sites_fts MATCH ?1) AS m "
                      "JOIN sites AS s ON s.id = m.id "
                      "ORDER BY m.score, s.popularity DESC, s.rank, s.id LIMIT ?2 OFFSET ?3")
        , backlinkPage(connection,
                       "SELECT s.host, s.title, s.description FROM sites AS s "
                       "WHERE s.id IN (SELECT site_id FROM outbound WHERE target_key = ?1) "
                       "AND s.key <> ?1 "
                       "ORDER BY s.popularity DESC, s.rank, s.id LIMIT ?2 OFFSET ?3")
        , backlinkCount(connection,
                        "SELECT count(DISTINCT site_id) FROM outbound WHERE target_key = ?1")
        , related(connection,
                  "SELECT s.host FROM related AS r JOIN sites AS s ON s.id = r.related_id "
                  "WHERE r.site_id = ?1 ORDER BY r.position")
        , outbound(connection, "SELECT host FROM outbound WHERE site_id = ?1 ORDER BY position")
    {
        connection.Execute("PRAGMA query_only = 1");
    }

    Connection connection;
    Statement findSite;
    Statement siteCount;
    Statement keywordTotal;
    Statement keywordPage;
    Statement backlinkPage;
    Statement backlinkCount;
    Statement related;
    Statement outbound;
};

// Borrows an idle session (or opens one) and gives it back afterwards, with
// its statement reset, also when the query threw.
class Store::Lease final {
public:
    explicit Lease(const Store &store)
        : m_store(store)
    {
        {
            std::lock_guard lock(store.m_mutex);
            if (!store.m_idle.empty()) {
                m_session = std::move(store.m_idle.back());
                store.m_idle.pop_back();
            }
        }
        if (!m_session)
            m_session = std::make_unique<Session>(store.m_path);
    }
    ~Lease()
    {
        for (Statement *statement :
             {&m_session->findSite, &m_session->siteCount, &m_session->keywordTotal,
              &m_session->keywordPage, &m_session->backlinkPage, &m_session->backlinkCount, &m_session->related,
              &m_session->outbound})
            statement->Reset();
        std::lock_guard lock(m_store.m_mutex);
        if (m_store.m_idle.size() < kMaxIdleSessions)
            m_store.m_idle.push_back(std::move(m_session));
    }
    Lease(const Lease &) = delete;
    Lease &operator=(const Lease &) = delete;

    Session *operator->() const { return m_session.get(); }

private:
    const Store &m_store;
    std::unique_ptr<Session> m_session;
};

Store::Store(std::string path)
    : m_path(std::move(path))
{
    // Checked on a bare connection first: a session's statements would fail
    // on another database with a less telling message.
    RequireDataSet(Connection(m_path, OpenMode::ReadOnly));
    Lease lease(*this);
}

Store::~Store() = default;

std::optional<Site> Store::FindSite(const std::string &key) const
{
    Lease lease(*this);
    Statement &statement = lease->findSite;
    statement.Bind(1, key);
    if (!statement.Step())
        return std::nullopt;
    return ReadSite(statement);
}

std::int64_t Store::SiteCount() const
{
    Lease lease(*this);
    return lease->siteCount.Step() ? lease->siteCount.Integer(0) : 0;
}

ListingPage Store::SearchKeywords(const std::string &ftsQuery, std::int64_t offset,
                                  std::int64_t limit) const
{
    ListingPage page;
    if (ftsQuery.empty())
        return page;
    Lease lease(*this);
    Statement &total = lease->keywordTotal;
    total.Bind(1, ftsQuery);
    if (total.Step())
        page.total = total.Integer(0);
    if (offset >= page.total)
        return page;
    Statement &rows = lease->keywordPage;
    rows.Bind(1, ftsQuery).Bind(2, limit).Bind(3, offset);
    while (rows.Step())
        page.items.push_back({rows.Text(0), rows.Text(1), rows.Text(2)});
    return page;
}

ListingPage Store::SearchBacklinks(const std::string &key, std::int64_t offset,
                                   std::int64_t limit) const
{
    ListingPage page;
    if (key.empty())
        return page;
    Lease lease(*this);
    Statement &site = lease->findSite;
    site.Bind(1, key);
    if (site.Step()) {
        page.total = site.Integer(8);
    } else {
        Statement &count = lease->backlinkCount;
        count.Bind(1, key);
        if (count.Step())
            page.total = count.Integer(0);
    }
    Statement &rows = lease->backlinkPage;
    rows.Bind(1, key).Bind(2, limit).Bind(3, offset);
    while (rows.Step())
        page.items.push_back({rows.Text(0), rows.Text(1), rows.Text(2)});
    return page;
}

std::vector<std::string> Store::RelatedHosts(std::int64_t siteId) const
{
    Lease lease(*this);
    return hostsOf(lease->related, siteId);
}

std::vector<std::string> Store::OutboundHosts(std::int64_t siteId) const
{
    Lease lease(*this);
    return hostsOf(lease->outbound, siteId);
}

} // namespace kelvora::directory
