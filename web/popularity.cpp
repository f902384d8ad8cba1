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
