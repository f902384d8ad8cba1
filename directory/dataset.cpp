#include "directory/dataset.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "directory/query.h"
#include "directory/schema.h"
#include "directory/sqlite.h"

namespace kelvora::directory {

namespace {

struct PreparedSite {
    SiteInput input;
    std::string host;
    std::string key;
    std::vector<std::pair<std::string, std::string>> outbound;   // host, key
    std::int64_t popularity = 0;
    std::int64_t rank = 0;
};

// Normalises hosts, drops invalid and repeated sites (the first one wins)
// and each site's repeated, invalid and self links.
std::vector<PreparedSite> Prepare(std::vector<SiteInput> &sites, WriteSummary &summary)
{
    std::vector<PreparedSite> prepared;
    std::unordered_map<std::string, std::size_t> byKey;
    for (SiteInput &input : sites) {
        PreparedSite site;
        site.host = HostName(input.host);
        site.key = HostKey(site.host);
        if (!IsStorableHost(site.host) || !IsStorableHost(site.key) ||
            !byKey.emplace(site.key, prepared.size()).second) {
            ++summary.skipped;
            continue;
        }
        site.input = std::move(input);
        prepared.push_back(std::move(site));
    }
    for (PreparedSite &site : prepared) {
        std::unordered_set<std::string> seen;
        for (const std::string &target : site.input.outbound) {
            std::string host = HostName(target);
            std::string key = HostKey(host);
            if (!IsStorableHost(host) || !IsStorableHost(key) || key == site.key ||
                !seen.insert(key).second)
                continue;
            // A link to a site of the data set shows that site's own host.
            if (const auto found = byKey.find(key); found != byKey.end())
                host = prepared[found->second].host;
            site.outbound.emplace_back(std::move(host), std::move(key));
        }
        summary.links += site.outbound.size();
    }
    return prepared;
}

void DerivePopularityAndRank(std::vector<PreparedSite> &sites)
{
    std::unordered_map<std::string, std::int64_t> inbound;
    for (const PreparedSite &site : sites) {
        for (const auto &link : site.outbound)
            ++inbound[link.second];
    }
    for (PreparedSite &site : sites) {
        const auto found = inbound.find(site.key);
        const std::int64_t derived = found == inbound.end() ? 0 : found->second;
        site.popularity = site.input.popularity.value_or(derived);
    }
    std::vector<std::size_t> order(sites.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (sites[a].popularity != sites[b].popularity)
            return sites[a].popularity > sites[b].popularity;
        return sites[a].host < sites[b].host;
    });
    for (std::size_t position = 0; position < order.size(); ++position) {
        PreparedSite &site = sites[order[position]];
        site.rank = site.input.rank.value_or(static_cast<std::int64_t>(position) + 1);
    }
}

} // namespace

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
            word += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    flush();
    return words;
}

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
    std::vector<double> score(count, 0.0);
    std::vector<std::size_t> touched;
    for (std::size_t site = 0; site < count; ++site) {
        for (const std::string &word : keywords[site]) {
            const std::vector<std::size_t> &sharing = postings[word];
            if (sharing.size() < 2 || sharing.size() > kMaxKeywordSpread)
                continue;
            const double weight = std::log(static_cast<double>(count) / sharing.size()) + 1.0;
            for (std::size_t other : sharing) {
                if (other == site)
                    continue;
                if (score[other] == 0.0)
                    touched.push_back(other);
                score[other] += weight;
            }
        }
        auto better = [&](std::size_t a, std::size_t b) {
            if (score[a] != score[b])
                return score[a] > score[b];
            const std::int64_t popA = a < popularity.size() ? popularity[a] : 0;
            const std::int64_t popB = b < popularity.size() ? popularity[b] : 0;
            if (popA != popB)
                return popA > popB;
            return a < b;
        };
        const std::size_t keep = std::min(kRelatedPerSite, touched.size());
        std::partial_sort(touched.begin(), touched.begin() + static_cast<std::ptrdiff_t>(keep),
                          touched.end(), better);
        related[site].assign(touched.begin(), touched.begin() + static_cast<std::ptrdiff_t>(keep));
        for (std::size_t other : touched)
            score[other] = 0.0;
        touched.clear();
    }
    return related;
}

WriteSummary WriteDataSet(const std::string &path, std::vector<SiteInput> sites,
                          const std::string &source)
{
    WriteSummary summary;
    std::vector<PreparedSite> prepared = Prepare(sites, summary);
    DerivePopularityAndRank(prepared);
    std::vector<std::vector<std::string>> keywords;
    std::vector<std::int64_t> popularity;
    for (const PreparedSite &site : prepared) {
        keywords.push_back(SplitKeywords(site.input.keywords));
        popularity.push_back(site.popularity);
    }
    const std::vector<std::vector<std::size_t>> related = ComputeRelated(keywords, popularity);

    const std::string temporary = path + ".tmp";
    std::remove(temporary.c_str());
    try {
        Connection db(temporary, OpenMode::Create);
        // The file is renamed into place only when complete, and synced at
        // its single commit, so a crash leaves at worst a stray temporary
        // file; no journal is needed.
        db.Execute("PRAGMA journal_mode = OFF");
        db.Execute(kSchemaSql);
        db.Execute("BEGIN");
        Statement meta(db, "INSERT INTO meta(key, value) VALUES (?1, ?2)");
        meta.Bind(1, std::string_view("format")).Bind(2, std::string_view(kDataFormat)).Run();
        meta.Reset();
        meta.Bind(1, std::string_view("source")).Bind(2, source).Run();

        Statement insertSite(db,
                             "INSERT INTO sites(id, host, key, title, description, keywords, "
                             "contact, online_since, popularity, rank) "
                             "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
        Statement insertLink(
            db, "INSERT INTO outbound(site_id, position, host, target_key) VALUES (?1, ?2, ?3, ?4)");
        Statement insertRelated(
            db, "INSERT INTO related(site_id, position, related_id) VALUES (?1, ?2, ?3)");
        for (std::size_t index = 0; index < prepared.size(); ++index) {
            const PreparedSite &site = prepared[index];
            const auto id = static_cast<std::int64_t>(index) + 1;
            insertSite.Bind(1, id).Bind(2, site.host).Bind(3, site.key).Bind(4, site.input.title);
            insertSite.Bind(5, site.input.description).Bind(6, site.input.keywords);
            insertSite.Bind(7, site.input.contact).Bind(8, site.input.onlineSince);
            insertSite.Bind(9, site.popularity).Bind(10, site.rank).Run();
            insertSite.Reset();
            std::int64_t position = 0;
            for (const auto &link : site.outbound) {
                insertLink.Bind(1, id).Bind(2, ++position).Bind(3, link.first).Bind(4, link.second);
                insertLink.Run();
                insertLink.Reset();
            }
            position = 0;
            for (std::size_t other : related[index]) {
                insertRelated.Bind(1, id).Bind(2, ++position);
                insertRelated.Bind(3, static_cast<std::int64_t>(other) + 1).Run();
                insertRelated.Reset();
            }
        }
        db.Execute("INSERT INTO sites_fts(sites_fts) VALUES ('rebuild')");
        db.Execute("COMMIT");
        db.Execute("PRAGMA optimize");
    } catch (...) {
        std::remove(temporary.c_str());
        throw;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot replace " + path);
    }
    summary.sites = prepared.size();
    return summary;
}

struct RankUpdate::State {
    explicit State(const std::string &path)
        : db(path, OpenMode::ReadWrite)
    {
    }
    Connection db;
    std::unordered_map<std::string, std::int64_t> best;   // every site key → best rank offered
};

RankUpdate::RankUpdate(const std::string &path)
    : m_state(std::make_unique<State>(path))
{
    bool ours = false;
    try {
        Statement format(m_state->db, "SELECT value FROM meta WHERE key = 'format'");
        ours = format.Step() && format.Text(0) == kDataFormat;
    } catch (const SqliteError &error) {
        if (std::string_view(error.what()).find("no such table") == std::string_view::npos)
            throw;
    }
    if (!ours)
        throw SqliteError("not a directory data set");
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
