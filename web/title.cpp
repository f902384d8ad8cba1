#include "web/title.h"

#include "web/http.h"
#include "web/text.h"

namespace kelvora {

namespace {

constexpr int httpPort = 80;
constexpr long long startTagLength = 7; // "<title>"

} // namespace

std::string FetchPage(const std::string &url, const PageHooks &hooks)
{
    std::string text;
    try {
        HttpGet(url, text, httpPort);
    } catch (...) {
        // Keep whatever arrived.
    }
    try {
        hooks.Pump();
    } catch (...) {
    }
    return text;
}

std::string ExtractTitle(const std::string &page)
{
    try {
        const auto start = static_cast<long long>(PosIgnoreCase("<title>", page)) + startTagLength;
        const auto end = static_cast<long long>(PosIgnoreCase("</title>", page));
        return ReplaceAllIgnoreCase(Copy(page, start, end - start), "\r\n", "");
    } catch (...) {
        return {};
    }
}

} // namespace kelvora
