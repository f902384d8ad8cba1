#pragma once

#include <chrono>
#include <cstdint>
#include <span>
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

// How the text after "name:" in ENGINE is read.
enum class EngineValue {
    Url,           // the instance's http or https address, needed
    Key,           // an API key, needed
    OptionalKey,   // an API key, with a default when none is given
};

// One engine the gateway can ask. Adding an engine takes an answer reader,
// a kind and one row of Engines(); the option parser, the usage text, the
// gateway and the fuzz target find it there.
struct EngineDescription {
    EngineChoice::Kind kind;
    std::string_view name;       // as ENGINE names it; also in the log
    EngineValue value;
    std::string_view defaultKey; // OptionalKey: the key when none is given
    // The API's address; empty for an engine reached at the URL given.
    std::string_view endpoint;
    // The pace the engine asks of its clients when --engine-rate is not
    // given; zero: unpaced.
    std::chrono::milliseconds interval;
    // What HTTP 403 means when it is not a refused key; empty: the key was
    // refused.
    std::string_view forbidden;
    // Fills in the engine's own part of the request for one page: the
    // address from the percent-encoded query, headers and cache key.
    void (*buildRequest)(const EngineChoice &choice, const std::string &query, const std::string &encodedQuery,
                         int page, const std::string &acceptLanguage, FetchRequest &request);
    EngineAnswer (*readAnswer)(std::string_view json);
};

// Every engine, in the order the usage text lists them.
std::span<const EngineDescription> Engines();
const EngineDescription &Describe(EngineChoice::Kind kind);

// How ENGINE names one engine: "searxng:URL", "marginalia[:KEY]",
// "brave:KEY".
std::string EngineForm(const EngineDescription &engine);
enum class DefaultEngineShown { No, Yes };
// "searxng:URL, marginalia[:KEY] or brave:KEY", optionally with
// " (default marginalia:public)" after the default engine.
std::string EngineForms(DefaultEngineShown shown = DefaultEngineShown::No);

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
    const EngineDescription *m_description;
    std::string m_acceptLanguage;   // from the user's locale
};

} // namespace kelvora::directory::live
