#include "directory/core/pages.h"

namespace kelvora::directory {

namespace {

constexpr std::string_view kPageEnd = "</body>\n</html>\n";

std::string PageStart(std::string_view title)
{
    std::string page = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>";
    page += HtmlEscape(title);
    page += "</title>\n</head>\n<body>\n";
    return page;
}

// Every digit in an element of its own, right after its ">", so that the
// rank reader, which takes only digits directly following a ">", gets them
// all; the thousands commas stand between the elements.
std::string RankDigits(std::int64_t rank)
{
    std::string digits;
    for (char c : FormatThousands(rank)) {
        if (c >= '0' && c <= '9') {
            digits += "<b>";
            digits += c;
            digits += "</b>";
        } else {
            digits += c;
        }
    }
    return digits;
}

void AppendLines(std::string &page, std::string_view text)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        if (!line.empty()) {
            page += HtmlEscape(line);
            page += "<br>\n";
        }
        start = end + 1;
    }
}

} // namespace

std::string HtmlEscape(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&#39;"; break;
        // A lone CR would be joined to a following LF by the program's
        // CR LF removal; stored texts keep their lines with LF alone.
        case '\r': escaped += ' '; break;
        case '\0': break;
        default: escaped += c;
        }
    }
    return escaped;
}

std::string FormatThousands(std::int64_t value)
{
    const bool negative = value < 0;
    // Works on the unsigned magnitude so that INT64_MIN is printed correctly.
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value)
                                       : static_cast<std::uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += ',';
        grouped += digits[i];
    }
    return negative ? "-" + grouped : grouped;
}

std::string RenderSearchPage(std::string_view query, const ListingPage &page, std::int64_t first,
                             std::int64_t pageSize)
{
    // Nothing before the total may say "of about", and nothing between the
    // total and the first result may hold "<li>" or "<em": the query is shown
    // only after the total, escaped.
    std::string html = PageStart("Kelvora Directory search");
    html += "<h1>Kelvora Directory</h1>\n<p>Results ";
    const std::int64_t shown = static_cast<std::int64_t>(page.items.size());
    if (shown > 0)
        html += "<b>" + std::to_string(first) + " - " + std::to_string(first + shown - 1) + "</b> ";
    html += "of about <strong>" + FormatThousands(page.total) + "</strong> for <b>";
    html += HtmlEscape(query);
    html += "</b></p>\n";
    if (shown > 0) {
        html += "<ol start=\"" + std::to_string(first) + "\">\n";
        for (const Listing &item : page.items) {
            html += "<li><em class=\"url\">" + HtmlEscape(item.host) + "/</em> ";
            html += "<a href=\"http://" + HtmlEscape(item.host) + "/\">" + HtmlEscape(item.title) +
                    "</a><br>\n";
            html += "<span class=\"abstract\">" + HtmlEscape(item.description) + "</span></li>\n";
        }
        html += "</ol>\n";
    } else {
        html += "<p>No sites found.</p>\n";
    }
    if (first + shown <= page.total && shown > 0 && shown >= pageSize)
        html += "<p>More results: b=" + std::to_string(first + shown) + "</p>\n";
    html += kPageEnd;
    return html;
}

std::string RenderDetailsPage(const DetailsContent &details)
{
    const std::string host = HtmlEscape(details.host);
    std::string html = PageStart("Site details");
    html += "<h1>Site details</h1>\n<p>";
    if (details.rank)
        html += "Traffic rank for " + host + ": " + RankDigits(*details.rank) + "<br>\n";
    // An unknown date leaves the line out: a reader looking past an empty
    // value would take the next line's text for the date.
    if (!details.onlineSince.empty())
        html += "Online since: " + HtmlEscape(details.onlineSince) + "<br>\n";
    // The rank reader, finding no rank line, reads from the page's start to
    // the first "<br>": this one comes before any site name that begins
    // with a digit, so the reading finds no digits.
    html += "Link popularity: " + FormatThousands(details.popularity) + "<br>\n</p>\n";
    html += "<h2>People who visit this page also visit:</h2>\n";
    if (details.relatedHosts.empty()) {
        html += "<p>There are no related sites.</p>\n";
    } else {
        html += "<ol>\n";
        for (const std::string &related : details.relatedHosts) {
            const std::string name = HtmlEscape(related);
            html += "<li><a href=\"http://" + name + "/\">" + name + "</a> <span class=\"smallg\">" +
                    name + "</span></li>\n";
        }
        html += "</ol>\n";
    }
    html += "<h2>Contact</h2>\n<!--contact-->\n<p>\n";
    html += "Site: " + host + "<br>\n";
    for (const std::string &line : details.contactLines)
        AppendLines(html, line);
    html += "</p>\n<!--/contact-->\n";
    html += kPageEnd;
    return html;
}

std::string RenderDetailsPage(const Site &site, const std::vector<std::string> &relatedHosts)
{
    return RenderDetailsPage(DetailsContent{site.host, site.rank, site.onlineSince, site.popularity, relatedHosts,
                                     {site.contact}});
}

std::string RenderUnknownDetailsPage()
{
    std::string html = PageStart("Site details");
    html += "<h1>Site details</h1>\n<p>This site is not in the directory.</p>\n";
    html += kPageEnd;
    return html;
}

std::string RenderHomePage(const Site &site, const std::vector<std::string> &outboundHosts)
{
    // Only the outbound anchors carry an absolute address, so that a count
    // of such anchors on this page is the number of outbound links.
    std::string html = PageStart(site.title);
    html += "<h1>" + HtmlEscape(site.title) + "</h1>\n<p>" + HtmlEscape(site.description) + "</p>\n";
    if (!outboundHosts.empty()) {
        html += "<h2>Links</h2>\n<ul>\n";
        for (const std::string &target : outboundHosts) {
            const std::string name = HtmlEscape(target);
            html += "<li><a href=\"http://" + name + "/\">" + name + "</a></li>\n";
        }
        html += "</ul>\n";
    }
    html += kPageEnd;
    return html;
}

std::string RenderServicePage(std::int64_t siteCount)
{
    std::string html = PageStart("Kelvora Directory");
    html += "<h1>Kelvora Directory</h1>\n<p>A local directory of " + FormatThousands(siteCount) +
            " sites for Kelvora: keyword and backlink search at /search?p=..., site details at "
            "/data/details/?url=..., and each site's home page for its own host name.</p>\n";
    html += "<form action=\"/search\" method=\"get\"><input name=\"p\"> "
            "<input type=\"submit\" value=\"Search\"></form>\n";
    html += kPageEnd;
    return html;
}

std::string RenderErrorPage(int status, std::string_view reason)
{
    std::string html = PageStart(std::to_string(status) + " " + std::string(reason));
    html += "<h1>" + std::to_string(status) + " " + HtmlEscape(reason) + "</h1>\n";
    html += kPageEnd;
    return html;
}

} // namespace kelvora::directory
