#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "directory/core/backend.h"
#include "directory/live/connect_to.h"
#include "directory/live/engines.h"
#include "directory/live/fetch.h"
#include "directory/live/prefetch.h"
#include "directory/live/site_facts.h"
#include "directory/local/store.h"

// Answers the program's three kinds of request from the live web, in the
// same page shapes as the local directory:
//   /search?p=TEXT&n=N&b=B      the engine's results, one entry per host
//   /search?p=link%3A...        backlinks: the data set's, else the site facts'
//   /data/details/?url=www.HOST the data set's facts, else the site facts
//   GET / with Host: SITE       the site's live home page
// Called on the server's worker threads, several at once; a request may wait
// for its fetch.
namespace kelvora::directory::live {

// Upstream pages asked for one results page at most.
constexpr int kMaxUpstreamPages = 10;
// Longest wait for an upstream answer; below the program's own 15 s without
// a byte, so that it always gets an answer (a short page at worst).
constexpr std::chrono::milliseconds kAnswerWait{14'000};

class LiveGateway final : public Backend {
public:
    using Log = std::function<void(const std::string &line)>;

    // store may be null (no --data), facts too (no facts database); they and
    // fetcher must outlive the gateway.
    LiveGateway(SearchEngine engine, Fetcher &fetcher, std::vector<ConnectToRule> connectTo, const Store *store,
                const facts::FactsStore *facts, Log log);

    Reply Respond(std::string_view path, std::string_view query, std::string_view hostLine);

    Reply Search(const SearchRequest &request) override;
    Reply Details(const DetailsRequest &request) override;
    Reply Home(std::string_view hostLine) override;

    // Steps started for every listed site: the home page's, then the site
    // facts'.
    Prefetcher &Prefetch() { return m_prefetcher; }
    SiteFacts &Facts() { return m_siteFacts; }

    // The home page of host: https first, then http; kept 7 days.
    static FetchRequest HomePageRequest(const std::string &host);

private:
    Reply KeywordSearch(const std::string &text, std::int64_t first, std::int64_t pageSize);
    bool MayList(const std::string &host) const;

    SearchEngine m_engine;
    Fetcher &m_fetcher;
    std::vector<ConnectToRule> m_connectTo;
    const Store *m_store;
    Log m_log;
    SiteFacts m_siteFacts;
    Prefetcher m_prefetcher;
};

} // namespace kelvora::directory::live
