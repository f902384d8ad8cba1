// The engines' JSON readers on answers of the shapes each engine sends, how
// an upstream answer is judged, and how entries become one listing per host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "directory/live/engines.h"
#include "directory/live/language.h"
#include "directory/live/listing.h"

using namespace kelvora::directory::live;

namespace {

// Shaped after the engines' documented answers, extra fields included.
constexpr const char *kSearxng = R"({
  "query": "\"garden tools\"", "number_of_results": 48200,
  "results": [
    {"url": "https://www.a.test/", "title": "A <b>garden</b>", "content": "Tools for A",
     "engine": "brave", "parsed_url": ["https", "www.a.test", "/", "", "", ""], "score": 4.2,
     "category": "general", "positions": [1, 3], "engines": ["brave", "mojeek"]},
    {"title": "no url here"},
    "not an object",
    {"url": 17, "title": "a number for an address"},
    {"url": "https://www.b.test/x", "content": null}
  ],
  "answers": [], "corrections": [], "infoboxes": [], "suggestions": ["x"],
  "unresponsive_engines": [["google", "timeout"]]
})";

constexpr const char *kBrave = R"({
  "type": "search",
  "query": {"original": "\"garden tools\"", "more_results_available": true, "spellcheck_off": true},
  "mixed": {"type": "mixed", "main": [{"type": "web", "index": 0, "all": false}]},
  "web": {"type": "search", "family_friendly": true, "results": [
    {"title": "A garden", "url": "https://www.a.test/", "is_source_local": false,
     "description": "Best <strong>garden tools</strong>", "language": "en",
     "profile": {"name": "A", "url": "https://www.a.test/"}, "meta_url": {"hostname": "www.a.test"}}
  ]}
})";

constexpr const char *kMarginalia = R"({
  "license": "CC-BY-NC-SA 4.0", "query": "\"garden tools\"",
  "results": [
    {"url": "https://www.a.test/", "title": "A garden", "description": "Tools", "quality": -3.2,
     "details": [{"keyword": "garden"}]},
    {"url": "http://www.b.test/", "title": "B", "description": ""}
  ]
})";

FetchResult Answered(long status, std::string body, bool truncated = false)
{
    FetchResult result;
    result.outcome = FetchResult::Outcome::Answered;
    result.status = status;
    result.body = std::move(body);
    result.truncated = truncated;
    return result;
}

EngineChoice Choice(EngineChoice::Kind kind, std::string key = {}, std::string base = {})
{
    EngineChoice choice;
    choice.kind = kind;
    choice.key = std::move(key);
    choice.baseUrl = std::move(base);
    return choice;
}

} // namespace

TEST(EngineReaders, ReadTheEntriesOfEachEnginesAnswer)
{
    const EngineAnswer searxng = ReadSearxngAnswer(kSearxng);
    ASSERT_TRUE(searxng.ok) << searxng.error;
    ASSERT_EQ(searxng.entries.size(), 2u);
    EXPECT_EQ(searxng.entries[0].url, "https://www.a.test/");
    EXPECT_EQ(searxng.entries[0].title, "A <b>garden</b>");
    EXPECT_EQ(searxng.entries[0].snippet, "Tools for A");
    EXPECT_EQ(searxng.entries[1].url, "https://www.b.test/x");
    EXPECT_EQ(searxng.entries[1].snippet, "");
    EXPECT_EQ(searxng.total, 48200);
    EXPECT_TRUE(searxng.more);

    const EngineAnswer brave = ReadBraveAnswer(kBrave);
    ASSERT_TRUE(brave.ok) << brave.error;
    ASSERT_EQ(brave.entries.size(), 1u);
    EXPECT_EQ(brave.entries[0].snippet, "Best <strong>garden tools</strong>");
    EXPECT_EQ(brave.total, -1);
    EXPECT_TRUE(brave.more);   // Brave says so

    const EngineAnswer marginalia = ReadMarginaliaAnswer(kMarginalia);
    ASSERT_TRUE(marginalia.ok) << marginalia.error;
    ASSERT_EQ(marginalia.entries.size(), 2u);
    EXPECT_EQ(marginalia.entries[1].url, "http://www.b.test/");
    EXPECT_FALSE(marginalia.more);   // fewer than a page

    // Brave leaves "web" out when nothing was found.
    const EngineAnswer none = ReadBraveAnswer(R"({"type": "search", "query": {"original": "x"}})");
    EXPECT_TRUE(none.ok);
    EXPECT_TRUE(none.entries.empty());
    EXPECT_FALSE(none.more);
}

TEST(EngineReaders, TotalsOfAnyNumberShape)
{
    const struct {
        const char *number;
        std::int64_t total;
    } cases[] = {
        {"0", 0}, {"1.5e6", 1500000}, {"-4", -1}, {"\"12\"", -1}, {"1e300", INT64_MAX}, {"18446744073709551615", INT64_MAX},
    };
    for (const auto &c : cases) {
        const std::string json = std::string(R"({"results": [], "number_of_results": )") + c.number + "}";
        const EngineAnswer answer = ReadSearxngAnswer(json);
        EXPECT_TRUE(answer.ok) << c.number;
        EXPECT_EQ(answer.total, c.total) << c.number;
        EXPECT_FALSE(answer.more) << c.number;   // an empty page ends the paging
    }
}

TEST(EngineReaders, AnUnpairedSurrogateEscapeSpoilsOnlyItsOwnString)
{
    const std::string replacement = "\xEF\xBF\xBD";   // U+FFFD
    const struct {
        const char *title;      // as escaped in the JSON text
        std::string expected;   // as read
    } cases[] = {
        {R"(lone low \udc80 here)", "lone low " + replacement + " here"},
        {R"(lone high \uD83D)", "lone high " + replacement},
        {R"(\ud83d\ud83d\ude00)", replacement + "\xF0\x9F\x98\x80"},   // a high one, then a pair
        {R"(low then high \udc00\ud800!)", "low then high " + replacement + replacement + "!"},
        {R"(pair \ud83d\ude00 kept)", "pair \xF0\x9F\x98\x80 kept"},
        {R"(escaped \\udc80 backslash)", "escaped \\udc80 backslash"},
        {R"(plain \u00e9)", "plain \xC3\xA9"},
    };
    for (const auto &c : cases) {
        const std::string json = std::string(R"({"number_of_results": 3, "results": [)"
                                              R"({"url": "https://www.a.test/", "title": "A", "content": "\udc80"},)"
                                              R"({"url": "https://www.b.test/", "title": ")") +
                                 c.title +
                                 R"(", "content": "b"},)"
                                 R"({"url": "https://www.c.test/", "title": "C", "content": "c"}]})";
        const EngineAnswer answer = ReadSearxngAnswer(json);
        ASSERT_TRUE(answer.ok) << c.title << ": " << answer.error;
        ASSERT_EQ(answer.entries.size(), 3u) << c.title;
        EXPECT_EQ(answer.entries[0].snippet, replacement);
        EXPECT_EQ(answer.entries[1].title, c.expected) << c.title;
        EXPECT_EQ(answer.entries[2].title, "C");
    }
    // Outside a string an escape is still malformed JSON.
    EXPECT_FALSE(ReadMarginaliaAnswer(R"({"results": [] \udc80})").ok);
}

TEST(EngineReaders, RefuseWhatIsNotTheirAnswer)
{
    const std::string deep = std::string(R"({"results": [)") + std::string(70, '[') + std::string(70, ']') + "]}";
    const struct {
        std::string json;
        const char *error;
    } cases[] = {
        {"", "malformed JSON"},
        {"null", "malformed JSON (not an object)"},
        {"[]", "malformed JSON (not an object)"},
        {"{\"results\": [", "malformed JSON"},
        {"{\"results\": \"many\"}", "no \"results\" list"},
        {"{}", "no \"results\" list"},
        {"{\"results\": [{\"url\": \"\xff\xfe\"}]}", "malformed JSON"},
        {deep, "nested deeper than 64"},
        {"<html>rate limit page</html>", "malformed JSON"},
    };
    for (const auto &c : cases) {
        for (const auto reader : {&ReadSearxngAnswer, &ReadMarginaliaAnswer}) {
            const EngineAnswer answer = reader(c.json);
            EXPECT_FALSE(answer.ok) << c.json.substr(0, 40);
            EXPECT_NE(answer.error.find(c.error), std::string::npos) << answer.error;
            EXPECT_TRUE(answer.entries.empty());
        }
    }
    EXPECT_FALSE(ReadBraveAnswer(R"({"web": "none"})").ok);
    EXPECT_FALSE(ReadBraveAnswer(R"({"web": {"results": 3}})").ok);
    // Brackets inside strings are text, not nesting.
    EXPECT_TRUE(ReadMarginaliaAnswer("{\"results\": [], \"x\": \"" + std::string(100, '[') + "\"}").ok);
}

TEST(SearchEngine, JudgesAnswersBeforeReadingThemAndSaysWhatToDo)
{
    const SearchEngine marginalia(Choice(EngineChoice::Kind::Marginalia, "public"));
    const SearchEngine brave(Choice(EngineChoice::Kind::Brave, "sekret"));
    const SearchEngine searxng(Choice(EngineChoice::Kind::Searxng, "", "http://localhost:8080/searx"));
    FetchResult unreachable;
    unreachable.error = "Couldn't connect to server: Failed to connect to api.search.brave.com port 443";
    FetchResult nameless;
    nameless.error = "Couldn't resolve host name: Could not resolve host: localhost";
    FetchResult refused;
    refused.outcome = FetchResult::Outcome::Refused;
    refused.error = "refused: 10.0.0.1 is not a public address";
    FetchResult offline;
    offline.outcome = FetchResult::Outcome::NotCached;
    offline.error = "not in the cache (offline)";
    FetchResult waitTwoMinutes = Answered(429, "{}");
    waitTwoMinutes.retryAfter = std::chrono::seconds(120);
    const struct {
        const SearchEngine *engine;
        FetchResult result;
        const char *error;
    } cases[] = {
        {&brave, unreachable, "no answer from api.search.brave.com (could not connect)"},
        {&searxng, nameless, "no answer from localhost (could not find its address)"},
        {&marginalia, refused, "no answer from api2.marginalia-search.com (refused: 10.0.0.1 is not a public address)"},
        {&searxng, offline, "not in the cache (offline)"},
        {&marginalia, Answered(429, "{}"), "rate limited (HTTP 429); try again in 60 s or set KELVORA_SEARCH_ENGINE"},
        {&searxng, waitTwoMinutes, "rate limited (HTTP 429); try again in 120 s or set KELVORA_SEARCH_ENGINE"},
        {&marginalia, Answered(503, kMarginalia), "busy (HTTP 503); try again in 60 s or set KELVORA_SEARCH_ENGINE"},
        {&searxng, Answered(403, "<html>Forbidden</html>"),
         "the JSON format is turned off (HTTP 403); add \"search: formats: [html, json]\" to settings.yml"},
        {&brave, Answered(401, "{}"), "the API key was refused (HTTP 401); give a valid one as brave:KEY"},
        {&marginalia, Answered(403, "{}"), "the API key was refused (HTTP 403); give a valid one as marginalia:KEY"},
        {&searxng, Answered(502, "bad gateway"), "server error (HTTP 502)"},
        {&marginalia, Answered(404, kMarginalia), "answered HTTP 404"},
        {&marginalia, Answered(301, kMarginalia), "answered HTTP 301"},
        {&marginalia, Answered(200, kMarginalia, true), "answer larger than the size limit"},
    };
    for (const auto &c : cases) {
        const EngineAnswer answer = c.engine->Read(c.result);
        EXPECT_FALSE(answer.ok) << c.error;
        EXPECT_EQ(answer.error, c.error);
        EXPECT_EQ(answer.error.find('\n'), std::string::npos);
    }
    EXPECT_TRUE(marginalia.Read(Answered(200, kMarginalia)).ok);
    EXPECT_TRUE(searxng.Read(Answered(200, R"({"results": []})")).ok);   // nothing found is an answer
}

TEST(SearchEngine, AcceptLanguageComesFromTheUsersLocale)
{
    const struct {
        const char *locale;
        const char *language;
    } cases[] = {
        {"de_DE.UTF-8", "de-DE,de;q=0.9,en;q=0.5"},
        {"en_GB.UTF-8", "en-GB,en;q=0.9"},
        {"fr", "fr,en;q=0.5"},
        {"EN_us", "en-US,en;q=0.9"},
        {"sr_RS@latin", "sr-RS,sr;q=0.9,en;q=0.5"},
        {"es_419.UTF-8", "es-419,es;q=0.9,en;q=0.5"},
        {"ast_ES.UTF-8", "ast-ES,ast;q=0.9,en;q=0.5"},
        {"C", "en"},
        {"C.UTF-8", "en"},
        {"POSIX", "en"},
        {"", "en"},
        {"de_DE\r\nX-Evil: 1", "en"},
        {"toolong_XX", "en"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(AcceptLanguageFor(c.locale), c.language) << c.locale;
}

TEST(SearchEngine, RequestsKeepTheQueryAndKeepKeysOutOfTheCache)
{
    const std::string query = "\"garden tools\" & more";
    const FetchRequest searxng =
        SearchEngine(Choice(EngineChoice::Kind::Searxng, "", "https://searx.test/sub")).PageRequest(query, 2);
    EXPECT_EQ(searxng.url, "https://searx.test/sub/search?q=%22garden%20tools%22%20%26%20more&format=json&pageno=2");
    EXPECT_EQ(searxng.timeToLive, kSearchTimeToLive);

    const FetchRequest brave = SearchEngine(Choice(EngineChoice::Kind::Brave, "sekret")).PageRequest(query, 3);
    EXPECT_EQ(brave.url, "https://api.search.brave.com/res/v1/web/search?q=%22garden%20tools%22%20%26%20more"
                         "&count=20&offset=2");
    EXPECT_NE(std::find(brave.headers.begin(), brave.headers.end(), "X-Subscription-Token: sekret"),
              brave.headers.end());

    const FetchRequest marginalia = SearchEngine(Choice(EngineChoice::Kind::Marginalia, "sekret")).PageRequest(query, 1);
    EXPECT_EQ(marginalia.url,
              "https://api2.marginalia-search.com/search?query=%22garden%20tools%22%20%26%20more&count=20&page=1");
    EXPECT_NE(std::find(marginalia.headers.begin(), marginalia.headers.end(), "API-Key: sekret"),
              marginalia.headers.end());

    // SearXNG's limiter wants what a browser sends; its own origin may be
    // private, nothing else may.
    EXPECT_NE(std::find(searxng.headers.begin(), searxng.headers.end(), "Accept: application/json, text/html;q=0.8"),
              searxng.headers.end());
    EXPECT_EQ(std::count_if(searxng.headers.begin(), searxng.headers.end(),
                            [](const std::string &header) { return header.rfind("Accept-Language: ", 0) == 0; }),
              1);
    EXPECT_EQ(searxng.privateOrigin, "https://searx.test");
    EXPECT_EQ(brave.privateOrigin, "");
    EXPECT_EQ(marginalia.privateOrigin, "");

    for (const FetchRequest *request : {&searxng, &brave, &marginalia}) {
        EXPECT_EQ(request->Key().find("sekret"), std::string::npos) << request->Key();
        EXPECT_EQ(std::count_if(request->headers.begin(), request->headers.end(),
                                [](const std::string &header) { return header.rfind("Accept: ", 0) == 0; }),
                  1);
        // Only a readable answer is worth keeping.
        ASSERT_TRUE(request->keep);
        EXPECT_FALSE(request->keep(Answered(200, "<html>busy</html>")));
        EXPECT_FALSE(request->keep(Answered(503, kMarginalia)));
    }
    EXPECT_TRUE(marginalia.keep(Answered(200, kMarginalia)));
    EXPECT_NE(std::find(marginalia.headers.begin(), marginalia.headers.end(), "Accept: application/json"),
              marginalia.headers.end());
}

TEST(HostCollector, OneListingPerHostInOrderWithPlainTexts)
{
    HostCollector collector([](const std::string &host) { return host != "blocked.test"; });
    collector.Add({
        {"https://www.a.test/1", "A <b>one</b>", "first &amp; best"},
        {"https://blocked.test/", "Blocked", ""},
        {"https://WWW.A.TEST/2", "A two", "dropped"},
        {"javascript:alert(1)", "Script", ""},
        {"https://www.b.test/", std::string(500, 'T'), std::string(1000, 'D')},
    });
    collector.Add({{"http://www.a.test/3", "A three", ""}, {"https://c.test/", "C", ""}});
    const std::vector<kelvora::directory::Listing> &listings = collector.Listings();
    ASSERT_EQ(listings.size(), 3u);
    EXPECT_EQ(listings[0].host, "www.a.test");
    EXPECT_EQ(listings[0].title, "A one");
    EXPECT_EQ(listings[0].description, "first & best");
    EXPECT_EQ(listings[1].host, "www.b.test");
    EXPECT_EQ(listings[1].title.size(), kMaxTitleBytes);
    EXPECT_EQ(listings[1].description.size(), kMaxDescriptionBytes);
    EXPECT_EQ(listings[2].host, "c.test");

    EXPECT_EQ(ResultsTotal(1000, 3), 1000);
    EXPECT_EQ(ResultsTotal(2, 3), 3);
    EXPECT_EQ(ResultsTotal(-1, 0), 0);
}
