#include "web/traffic.h"

#include "web/http.h"
#include "web/services.h"
#include "web/text.h"

#include <algorithm>
#include <array>
#include <exception>
#include <string_view>

namespace kelvora {

namespace {

constexpr int httpPort = 80;
constexpr const char *noRank = "999999999";
constexpr std::string_view rankMarker = "traffic rank for ";
constexpr std::string_view rankEnd = "<br>";
constexpr std::string_view relatedMarker = "people who visit this page also visit:";
constexpr std::string_view relatedItemEnd = "</li>";
constexpr std::string_view relatedNameStart = "<span class=\"smallg\">";
constexpr std::string_view relatedNameEnd = "</span";
constexpr std::string_view noRelated = "there are no related";
constexpr std::string_view sinceMarker = "online since:";
constexpr std::size_t maxSinceLength = 40;
constexpr std::array<std::string_view, 20> lineEndingTags = {
    "br", "p", "li", "td", "th", "tr", "div", "hr", "ul", "ol",
    "table", "dl", "dt", "dd", "h1", "h2", "h3", "h4", "h5", "h6",
};

// Text from 1-based position to the end; positions below 1 count as 1.
std::string_view From(std::string_view text, std::size_t position)
{
    const std::size_t offset = position > 0 ? position - 1 : 0;
    return offset < text.size() ? text.substr(offset) : std::string_view();
}

// The element name of a tag's inside ("/TD class=x" gives "TD"), in its case.
std::string_view TagName(std::string_view inside)
{
    if (!inside.empty() && inside.front() == '/')
        inside.remove_prefix(1);
    std::size_t length = 0;
    while (length < inside.size() && (IsAsciiLetter(inside[length]) || IsDigit(inside[length])))
        ++length;
    return inside.substr(0, length);
}

// Elements whose start or end breaks the text onto another line or cell.
bool EndsLine(std::string_view name)
{
    return std::any_of(lineEndingTags.begin(), lineEndingTags.end(),
                       [name](std::string_view tag) { return EqualsIgnoreCase(tag, name); });
}

} // namespace

std::string TrafficPageUrl(const std::string &host)
{
    return "http://" + TrafficHost() + "/data/details/?url=www." + BareHost(host);
}

std::string FetchTrafficPage(const std::string &host, const PageHooks &hooks)
{
    std::string page;
    std::exception_ptr error;
    try {
        HttpGet(TrafficPageUrl(host), page, httpPort);
    } catch (...) {
        error = std::current_exception();
    }
    hooks.Pump();
    page = ReplaceAllIgnoreCase(LowerCase(std::move(page)), "\r\n", "");
    if (error)
        std::rethrow_exception(error);
    return page;
}

std::string ParseTrafficRank(const std::string &page, const PageHooks &hooks)
{
    std::string digits;
    try {
        hooks.Pump();
        // Only '>' and digits are taken from the segment, so the page's own
        // letter case does no harm and needs no lower-cased copy.
        std::string_view segment = From(page, PosIgnoreCase(rankMarker, page));
        // Up to and including the "<" of the first "<br>"; nothing without one.
        segment = segment.substr(0, PosIgnoreCase(rankEnd, segment));
        for (std::size_t j = 1; j < segment.size(); ++j) {
            if (segment[j - 1] == '>' && IsDigit(segment[j]))
                digits += segment[j];
        }
    } catch (...) {
        digits.clear();
    }
    if (digits.empty())
        return noRank;
    return digits;
}

std::string ParseCompetitor(const std::string &page, const PageHooks &hooks)
{
    std::string result;
    try {
        hooks.Pump();
        std::string_view segment = From(page, Pos(relatedMarker, page) + relatedMarker.size());
        segment = segment.substr(0, Pos(relatedItemEnd, segment));
        segment = From(segment, Pos(relatedNameStart, segment) + relatedNameStart.size());
        const std::size_t end = Pos(relatedNameEnd, segment);
        segment = end > 0 ? segment.substr(0, end - 1) : std::string_view();
        if (!Contains(segment, noRelated))
            result = segment;
    } catch (...) {
        result.clear();
    }
    return result;
}

std::string ParseOnlineSince(const std::string &page)
{
    try {
        const std::size_t marker = PosIgnoreCase(sinceMarker, page);
        if (marker == 0)
            return {};
        std::size_t i = marker - 1 + sinceMarker.size();
        // The date may sit in an inline element ("online since:</b> <i>..."),
        // but never beyond the marker's line: a following line or table cell
        // holds some other figure.
        while (i < page.size()) {
            if (IsAsciiSpace(page[i])) {
                ++i;
            } else if (page[i] == '<') {
                const std::size_t close = page.find('>', i);
                if (close == std::string::npos)
                    return {};
                if (EndsLine(TagName(std::string_view(page).substr(i + 1, close - i - 1))))
                    return {};
                i = close + 1;
            } else {
                break;
            }
        }
        std::size_t end = page.find('<', i);
        if (end == std::string::npos)
            end = page.size();
        std::string_view since = TrimWhitespace(std::string_view(page).substr(i, end - i));
        return std::string(TrimWhitespace(since.substr(0, maxSinceLength)));
    } catch (...) {
        return {};
    }
}

} // namespace kelvora
