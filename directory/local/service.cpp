#include "directory/local/service.h"

#include "directory/core/pages.h"
#include "directory/core/query.h"

namespace kelvora::directory {

LocalAnswers::LocalAnswers(const Store &store)
    : m_store(store)
{
}

Reply LocalAnswers::Search(const SearchRequest &request)
{
    const SearchText &parsed = request.parsed;
    const ListingPage page = parsed.kind == SearchText::Kind::Links
                                 ? m_store.SearchBacklinks(parsed.linkKey, request.first - 1, request.pageSize)
                                 : m_store.SearchKeywords(parsed.ftsQuery, request.first - 1, request.pageSize);
    return {200, RenderSearchPage(request.text, page, request.first, request.pageSize)};
}

Reply LocalAnswers::Details(const DetailsRequest &request)
{
    // The program always asks for "www." + host; HostKey drops it again and
    // so finds a site stored with or without it.
    const std::optional<Site> site = request.key.empty() ? std::nullopt : m_store.FindSite(request.key);
    if (!site)
        return {200, RenderUnknownDetailsPage()};
    return {200, RenderDetailsPage(*site, m_store.RelatedHosts(site->id))};
}

Reply LocalAnswers::Home(std::string_view hostLine)
{
    const std::string key = HostKey(hostLine);
    const std::optional<Site> site = key.empty() ? std::nullopt : m_store.FindSite(key);
    if (!site)
        return {200, RenderServicePage(m_store.SiteCount())};
    return {200, RenderHomePage(*site, m_store.OutboundHosts(site->id))};
}

Reply Respond(const Store &store, std::string_view path, std::string_view query, std::string_view hostLine)
{
    LocalAnswers answers(store);
    return Route(answers, path, query, hostLine);
}

} // namespace kelvora::directory
