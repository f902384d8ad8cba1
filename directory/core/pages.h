#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "directory/core/site.h"

// The service's HTML pages. The program reads them with fixed markers, so
// every stored or user text is HTML-escaped (no "<" can open a tag of its
// own) and the markers stand exactly where its readers look for them.
namespace kelvora::directory {

std::string HtmlEscape(std::string_view text);
// 1230 → "1,230"; negative values keep their sign.
std::string FormatThousands(std::int64_t value);

// Results page: the total as `of about <strong>N</strong>` before anything
// else that the program reads, then one <li> per listing with the host in
// an <em> element. first is the 1-based number of the first listing.
std::string RenderSearchPage(std::string_view query, const ListingPage &page, std::int64_t first,
                             std::int64_t pageSize);

// What a details page shows.
struct DetailsContent {
    std::string host;                   // as displayed
    std::optional<std::int64_t> rank;   // no rank line when unknown
    std::string onlineSince;            // no line when empty
    std::int64_t popularity = 0;
    std::vector<std::string> relatedHosts;
    std::vector<std::string> contactLines;
};

// Details page: traffic rank (one digit per element), online-since date,
// link popularity, related sites ("There are no related sites" when there
// are none) and the contact block, one line each.
std::string RenderDetailsPage(const DetailsContent &details);
// The details page of a site of the data set.
std::string RenderDetailsPage(const Site &site, const std::vector<std::string> &relatedHosts);
// Details page for a host outside the data set: none of the markers.
std::string RenderUnknownDetailsPage();

// A site's home page: title, description, one anchor per outbound link.
std::string RenderHomePage(const Site &site, const std::vector<std::string> &outboundHosts);
// What any other host sees at "/".
std::string RenderServicePage(std::int64_t siteCount);
std::string RenderErrorPage(int status, std::string_view reason);

} // namespace kelvora::directory
