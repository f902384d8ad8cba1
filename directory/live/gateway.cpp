#include "directory/live/gateway.h"

#include <algorithm>

#include "directory/core/pages.h"
#include "directory/core/query.h"
#include "directory/live/address.h"
#include "directory/live/listing.h"
#include "directory/live/text.h"
#include "text/text.h"

namespace kelvora::directory::live {

namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;
constexpr int kUnavailable = 503;
constexpr std::string_view kPlainText = "text/plain; charset=utf-8";

// What a site that cannot be fetched gets: its name and no anchor, so its
// outbound count is 0 and its title reads as the host.
std::string UnreachablePage(const std::string &host)
{
    const std::string name = HtmlEscape(host);
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" + name +
           "</title>\n</head>\n<body>\n<p>" + name + " could not be fetched.</p>\n</body>\n</html>\n";
}

bool HasWordCharacter(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
               byte >= 0x80;
    });
}

// A request's text as the log shows it: one line, bounded.
std::string ForLog(const std::string &text)
{
    constexpr std::size_t kMaxLogText = 200;
    std::string line = text.substr(0, kMaxLogText);
    for (char &c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    return line;
}

} // namespace

LiveGateway::LiveGateway(SearchEngine engine, Fetcher &fetcher, std::vector<ConnectToRule> connectTo,
                         const Store *store, const facts::FactsStore *facts, Log log)
    : m_engine(std::move(engine))
    , m_fetcher(fetcher)
    , m_connectTo(std::move(connectTo))
    , m_store(store)
    , m_log(std::move(log))
    , m_siteFacts(facts, fetcher, [this](const std::string &host) { return MayList(host); }, m_log)
{
    m_prefetcher.AddStep([this](const ListedSite &site) {
        FetchRequest request = HomePageRequest(site.host);
        request.page = site.page;
        m_fetcher.Warm(request);
    });
    m_prefetcher.AddStep([this](const ListedSite &site) {
        // A site of the data set keeps its stored facts: nothing to fetch.
        if (m_store != nullptr && m_store->FindSite(HostKey(site.host)))
            return;
        m_siteFacts.Prefetch(site);
    });
}

FetchRequest LiveGateway::HomePageRequest(const std::string &host)
{
    FetchRequest request;
    request.url = "https://" + host + "/";
    request.fallback = SchemeFallback::HttpAfterHttps;
    request.timeToLive = kPageTimeToLive;
    return request;
}

Reply LiveGateway::Respond(std::string_view path, std::string_view query, std::string_view hostLine)
{
    return Route(*this, path, query, hostLine);
}

bool LiveGateway::MayList(const std::string &host) const
{
    return MayContact(host, kHttpsPort, m_connectTo) || MayContact(host, kHttpPort, m_connectTo);
}

Reply LiveGateway::Search(const SearchRequest &request)
{
    const std::string &text = request.text;
    const std::int64_t first = request.first;
    const std::int64_t pageSize = request.pageSize;
    const SearchText &parsed = request.parsed;
    if (parsed.kind == SearchText::Kind::Keywords)
        return KeywordSearch(text, first, pageSize);

    // Backlinks: a data set's for its own sites, the facts database's for
    // any other.
    if (m_store != nullptr && !parsed.linkKey.empty() && m_store->FindSite(parsed.linkKey)) {
        const ListingPage page = m_store->SearchBacklinks(parsed.linkKey, first - 1, pageSize);
        return {200, RenderSearchPage(text, page, first, pageSize)};
    }
    return {200, m_siteFacts.BacklinkPage(text, parsed.linkKey, first, pageSize)};
}

Reply LiveGateway::KeywordSearch(const std::string &text, std::int64_t first, std::int64_t pageSize)
{
    // The text goes to the engine as the program sent it, quotes and all,
    // so that a phrase stays a phrase.
    const std::string engineQuery(Trim(text, " \t\r\n"));
    if (!HasWordCharacter(engineQuery))
        return {200, RenderSearchPage(text, ListingPage{}, first, pageSize)};

    const std::size_t wanted = static_cast<std::size_t>(first - 1 + pageSize);
    const std::string logName = "search " + ForLog(engineQuery) + ": " + m_engine.Name();
    // One deadline for all upstream pages, so the program always gets its
    // answer before it gives up on us.
    const auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
    // The sites listed will need their registries: the bootstrap comes side
    // by side with the engine's answer rather than after it.
    m_siteFacts.WarmRdapBootstrap();
    // An address, in any spelling, names no site: it is never listed.
    HostCollector collector([this](const std::string &host) { return !IsAddressLiteral(host) && MayList(host); });
    std::int64_t engineTotal = -1;
    std::int64_t entriesSeen = 0;
    int pages = 0;
    for (int page = 1; page <= kMaxUpstreamPages && collector.Count() < wanted; ++page) {
        FetchRequest request = m_engine.PageRequest(engineQuery, page);
        request.priority = TransferPriority::Engine;
        std::shared_future<FetchResult> answer = m_fetcher.Fetch(request);
        EngineAnswer read;
        if (answer.wait_until(deadline) == std::future_status::ready) {
            read = m_engine.Read(answer.get());
        } else {
            FetchResult late;
            late.error = "no answer within the time limit";
            read = m_engine.Read(late);
        }
        if (!read.ok) {
            m_log(logName + " page " + std::to_string(page) + ": " + read.error);
            // A first page that fails leaves nothing to list: the program is
            // told why in one line rather than shown an empty page it would
            // take for "no results". A later one leaves what the earlier
            // pages found.
            if (page == 1)
                return {kUnavailable, ForLog(m_engine.Name() + ": " + read.error), std::string(kPlainText)};
            break;
        }
        ++pages;
        collector.Add(read.entries);
        if (read.total >= 0)
            engineTotal = read.total;
        entriesSeen += static_cast<std::int64_t>(read.entries.size());
        // Engines that know no total say 0; one that gave as many as it
        // said it has has no further page.
        if (!read.more || (read.total > 0 && entriesSeen >= read.total))
            break;
    }

    const std::vector<Listing> &all = collector.Listings();
    ListingPage page;
    page.total = ResultsTotal(engineTotal, all.size());
    const std::size_t begin = std::min(all.size(), static_cast<std::size_t>(first - 1));
    const std::size_t end = std::min(all.size(), begin + static_cast<std::size_t>(pageSize));
    page.items.assign(all.begin() + static_cast<std::ptrdiff_t>(begin), all.begin() + static_cast<std::ptrdiff_t>(end));
    m_log(logName + ": " + std::to_string(all.size()) + " hosts from " + std::to_string(pages) +
          " page(s), listing " + std::to_string(page.items.size()));

    std::vector<std::string> hosts;
    hosts.reserve(page.items.size());
    for (const Listing &item : page.items)
        hosts.push_back(item.host);
    m_siteFacts.RememberListing(hosts);
    m_prefetcher.Start(hosts, engineQuery);
    return {200, RenderSearchPage(text, page, first, pageSize)};
}

Reply LiveGateway::Details(const DetailsRequest &request)
{
    const std::string &asked = request.url;
    const std::string &key = request.key;
    if (m_store != nullptr && !key.empty()) {
        if (const std::optional<Site> site = m_store->FindSite(key))
            return {200, RenderDetailsPage(*site, m_store->RelatedHosts(site->id))};
    }
    return {200, m_siteFacts.DetailsPage(asked, std::chrono::steady_clock::now() + kAnswerWait)};
}

Reply LiveGateway::Home(std::string_view hostLine)
{
    const std::string host = HostName(hostLine);
    // Counted only when shown: counting a large data set's sites costs
    // milliseconds, which every site's home page would pay.
    const auto servicePage = [this] {
        return Reply{200, RenderServicePage(m_store != nullptr ? m_store->SiteCount() : 0)};
    };
    // Not a site at all (no host name, or this machine and its network,
    // e.g. someone visiting the gateway itself): the service's own page.
    if (!IsStorableHost(host) || !MayList(host))
        return servicePage();

    std::shared_future<FetchResult> answer = m_fetcher.Fetch(HomePageRequest(host));
    if (answer.wait_for(kAnswerWait) != std::future_status::ready) {
        m_log("home page " + host + ": no answer in time");
        return {200, UnreachablePage(host)};
    }
    const FetchResult &result = answer.get();
    if (result.Answered())
        return {200, result.body};
    if (result.outcome == FetchResult::Outcome::NotCached)
        return servicePage();
    m_log("home page " + host + ": " + result.error);
    return {200, UnreachablePage(host)};
}

} // namespace kelvora::directory::live
