#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "directory/live/fetch.h"
#include "directory/live/options.h"

// The search engines the gateway asks: how a page of results is requested
// and how its JSON answer is read. The readers are pure (bytes in, entries
// out) and accept any bytes.
namespace kelvora::directory::live {

// Results asked for per upstream page.
constexpr int kEnginePageSize = 20;
// Deeper than any engine answer nests; deeper input is refused unread.
constexpr int kMaxJsonDepth = 64;

struct EngineEntry {
    std::string url;
    std::string title;     // as the engine gives it (may hold markup)
    std::string snippet;
};

struct EngineAnswer {
    bool ok = false;
    std::string error;                // why not ok, for the log
    std::vector<EngineEntry> entries; // in the engine's order
    std::int64_t total = -1;          // the engine's estimate; -1 when it gives none
    bool more = true;                 // whether a further page may hold results
};

// {"number_of_results": N, "results": [{"url", "title", "content"}, ...]}
EngineAnswer ReadSearxngAnswer(std::string_view json);
// {"web": {"results": [{"url", "title", "description"}]},
//  "query": {"more_results_available": bool}}; no "web" means no results.
EngineAnswer ReadBraveAnswer(std::string_view json);
// {"query", "license", "results": [{"url", "title", "description"}]}
EngineAnswer ReadMarginaliaAnswer(std::string_view json);

class SearchEngine final {
public:
    explicit SearchEngine(EngineChoice choice);

    // "searxng", "marginalia" or "brave", for the log.
    std::string Name() const;
    // The request for one page (1-based) of results for query, sent as it
    // stands (quotes kept). The cache key leaves out any API key. SearXNG's
    // request may reach the instance's own origin on a private address (the
    // user's choice), and carries the Accept and Accept-Language its limiter
    // asks of a browser.
    FetchRequest PageRequest(const std::string &query, int page) const;
    // Judges an upstream answer: no answer, a rate limit (429, 503), a
    // refused key, SearXNG's JSON format turned off (403), another error
    // status, a cut body and malformed JSON each give a one-line reason that
    // says what to do about it where something can be done.
    EngineAnswer Read(const FetchResult &result) const;

private:
    std::string Host() const;
    std::string NoAnswerReason(const FetchResult &result) const;

    EngineChoice m_choice;
    std::string m_acceptLanguage;   // from the user's locale
};

} // namespace kelvora::directory::live
