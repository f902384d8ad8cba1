#include "web/popularity.h"

#include "web/http.h"
#include "web/services.h"
#include "web/text.h"

#include <string_view>

namespace kelvora {

namespace {

// Only this much of the page after "of about" is looked at.
constexpr std::size_t totalWindowLength = 300;
constexpr int httpPort = 80;

// Leftmost occurrence of a lower-case pattern in text, ignoring ASCII case;
// npos when absent. Spares a lower-cased copy of the whole page.
std::size_t FindIgnoreCase(std::string_view text, std::string_view lowerPattern)
{
    if (lowerPattern.empty() || text.size() < lowerPattern.size())
        return std::string_view::npos;
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c; };
    const std::size_t last = text.size() - lowerPattern.size();
    for (std::size_t i = 0; i <= last; ++i) {
        if (lower(text[i]) != lowerPattern[0])
            continue;
        std::size_t j = 1;
        while (j < lowerPattern.size() && lower(text[i + j]) == lowerPattern[j])
            ++j;
        if (j == lowerPattern.size())
            return i;
    }
    return std::string_view::npos;
}

} // namespace

std::string ReadLinkPopularity(const std::string &page)
{
    const std::size_t start = FindIgnoreCase(page, "of about");
    if (start == std::string_view::npos)
        return "0";
    const std::string window = LowerCase(page.substr(start, totalWindowLength));
    const auto a = static_cast<long long>(Pos(">", window));
    const auto b = static_cast<long long>(Pos("</", window));
    std::string result = StripNumberPunctuation(Copy(window, a + 1, b - a - 1));
    if (result.empty())
        return "0";
    return result;
}

std::string GetLinkPopularity(const std::string &host, const PageHooks &hooks)
{
    std::string result = "0";
    try {
        hooks.SetStatus(host);
        hooks.Pump();
        const std::string url = BacklinkSearchUrl(host);
        std::string page;
        bool fetchFailed = false;
        try {
            HttpGet(url, page, httpPort);
        } catch (...) {
            // The reading below still runs over whatever arrived; the failure
            // only decides the result afterwards.
            fetchFailed = true;
        }
        hooks.Pump();
        result = ReadLinkPopularity(page);
        hooks.Pump();
        if (fetchFailed)
            result.clear();
    } catch (...) {
        result.clear();
    }
    return result;
}

} // namespace kelvora
