#include "directory/core/backend.h"

#include "directory/core/pages.h"

namespace kelvora::directory {

namespace {

SearchRequest ParseSearch(std::string_view query)
{
    SearchRequest request;
    request.text = QueryValue(query, "p").value_or(std::string());
    if (request.text.size() > kMaxSearchText)
        request.text.resize(kMaxSearchText);
    request.pageSize = ParseCount(QueryValue(query, "n").value_or(""), kDefaultPageSize, 1, kMaxPageSize);
    request.first = ParseCount(QueryValue(query, "b").value_or(""), 1, 1, kMaxFirstResult);
    request.parsed = ParseSearchText(request.text);
    return request;
}

DetailsRequest ParseDetails(std::string_view query)
{
    DetailsRequest request;
    request.url = QueryValue(query, "url").value_or(std::string());
    request.key = HostKey(request.url);
    return request;
}

} // namespace

Reply Route(Backend &backend, std::string_view path, std::string_view query, std::string_view hostLine)
{
    if (path == "/search")
        return backend.Search(ParseSearch(query));
    if (path == "/data/details/" || path == "/data/details")
        return backend.Details(ParseDetails(query));
    if (path == "/")
        return backend.Home(hostLine);
    return {404, RenderErrorPage(404, "Not Found")};
}

} // namespace kelvora::directory
