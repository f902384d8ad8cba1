#include "directory/service.h"

#include "directory/pages.h"
#include "directory/query.h"

namespace kelvora::directory {

namespace {

Reply Search(const Store &store, std::string_view query)
{
    std::string text = QueryValue(query, "p").value_or(std::string());
    if (text.size() > kMaxSearchText)
        text.resize(kMaxSearchText);
    const std::int64_t pageSize =
        ParseCount(QueryValue(query, "n").value_or(""), kDefaultPageSize, 1, kMaxPageSize);
    const std::int64_t first =
        ParseCount(QueryValue(query, "b").value_or(""), 1, 1, kMaxFirstResult);

    const SearchText parsed = ParseSearchText(text);
    const ListingPage page = parsed.kind == SearchText::Kind::Links
                                 ? store.SearchBacklinks(parsed.linkKey, first - 1, pageSize)
                                 : store.SearchKeywords(parsed.ftsQuery, first - 1, pageSize);
    return {200, RenderSearchPage(text, page, first, pageSize)};
}

Reply Details(const Store &store, std::string_view query)
{
    // The program always asks for "www." + host; HostKey drops it again and
    // so finds a site stored with or without it.
    const std::string key = HostKey(QueryValue(query, "url").value_or(std::string()));
    const std::optional<Site> site = key.empty() ? std::nullopt : store.FindSite(key);
    if (!site)
        return {200, RenderUnknownDetailsPage()};
    return {200, RenderDetailsPage(*site, store.RelatedHosts(site->id))};
}

Reply Home(const Store &store, std::string_view hostLine)
{
    const std::string key = HostKey(hostLine);
    const std::optional<Site> site = key.empty() ? std::nullopt : store.FindSite(key);
    if (!site)
        return {200, RenderServicePage(store.SiteCount())};
    return {200, RenderHomePage(*site, store.OutboundHosts(site->id))};
}

} // namespace

Reply Respond(const Store &store, std::string_view path, std::string_view query,
              std::string_view hostLine)
{
    if (path == "/search")
        return Search(store, query);
    if (path == "/data/details/" || path == "/data/details")
        return Details(store, query);
    if (path == "/")
        return Home(store, hostLine);
    return {404, RenderErrorPage(404, "Not Found")};
}

} // namespace kelvora::directory
