#include "directory/live/engines.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "directory/live/language.h"
#include "directory/live/rate_limit.h"
#include "directory/live/text.h"
#include "text/text.h"

namespace kelvora::directory::live {

namespace {

using Json = nlohmann::json;

constexpr std::string_view kBraveUrl = "https://api.search.brave.com/res/v1/web/search";
constexpr std::string_view kMarginaliaUrl = "https://api2.marginalia-search.com/search";
constexpr std::string_view kJsonAccept = "Accept: application/json";
// SearXNG's limiter answers 429 to an Accept without text/html.
constexpr std::string_view kSearxngAccept = "Accept: application/json, text/html;q=0.8";
// How long a rate-limited engine is said to need when it does not say.
constexpr std::chrono::seconds kDefaultRetryWait{60};
constexpr std::string_view kJsonFormatOff =
    "the JSON format is turned off (HTTP 403); add \"search: formats: [html, json]\" to settings.yml";

// Nesting depth of the JSON text, counted outside strings, so that a hostile
// answer cannot make the parser or the destructor recurse without bound.
bool NestsTooDeep(std::string_view text)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxJsonDepth)
                return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

// The code unit of a \uXXXX escape starting at at; -1 when there is none.
int EscapedUnit(std::string_view text, std::size_t at)
{
    if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u')
        return -1;
    int unit = 0;
    for (std::size_t i = at + 2; i < at + 6; ++i) {
        const int digit = HexDigitValue(text[i]);
        if (digit < 0)
            return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

// The text with every \u escape of an unpaired UTF-16 surrogate made
// \ufffd. JSON's grammar allows them but they stand for no character, and
// the parser would refuse the whole answer for one bad title. Copies only
// when there is something to mend.
std::string_view MendLoneSurrogates(std::string_view text, std::string &mended)
{
    constexpr int kHighFirst = 0xD800, kLowFirst = 0xDC00, kLowLast = 0xDFFF;
    constexpr std::size_t kEscapeLength = 6;
    std::size_t copied = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!inString) {
            inString = c == '"';
            continue;
        }
        if (c == '"') {
            inString = false;
            continue;
        }
        if (c != '\\')
            continue;
        const int unit = EscapedUnit(text, i);
        if (unit < kHighFirst || unit > kLowLast) {
            ++i;   // the escaped character, whatever it is
            continue;
        }
        if (unit < kLowFirst) {
            const int next = EscapedUnit(text, i + kEscapeLength);
            if (next >= kLowFirst && next <= kLowLast) {
                i += 2 * kEscapeLength - 1;   // a proper pair
                continue;
            }
        }
        mended.append(text.substr(copied, i - copied));
        mended += "\\ufffd";
        copied = i + kEscapeLength;
        i = copied - 1;
    }
    if (copied == 0)
        return text;
    mended.append(text.substr(copied));
    return mended;
}

EngineAnswer Failure(std::string reason)
{
    EngineAnswer answer;
    answer.error = std::move(reason);
    answer.more = false;
    return answer;
}

bool Parse(std::string_view text, Json &json, EngineAnswer &failure)
{
    if (NestsTooDeep(text)) {
        failure = Failure("malformed JSON (nested deeper than " + std::to_string(kMaxJsonDepth) + ")");
        return false;
    }
    std::string mended;
    const std::string_view sound = MendLoneSurrogates(text, mended);
    json = Json::parse(sound.begin(), sound.end(), nullptr, false);
    if (json.is_discarded()) {
        failure = Failure("malformed JSON");
        return false;
    }
    if (!json.is_object()) {
        failure = Failure("malformed JSON (not an object)");
        return false;
    }
    return true;
}

std::string StringField(const Json &object, const char *name)
{
    const auto found = object.find(name);
    if (found == object.end() || !found->is_string())
        return {};
    return found->get_ref<const std::string &>();
}

// Entries of a results array; items without a string "url" are skipped.
bool ReadEntries(const Json &results, const char *snippetField, EngineAnswer &answer)
{
    if (!results.is_array())
        return false;
    answer.entries.reserve(results.size());
    for (const Json &item : results) {
        if (!item.is_object())
            continue;
        EngineEntry entry;
        entry.url = StringField(item, "url");
        if (entry.url.empty())
            continue;
        entry.title = StringField(item, "title");
        entry.snippet = StringField(item, snippetField);
        answer.entries.push_back(std::move(entry));
    }
    return true;
}

// A non-negative count from an integer or a floating-point number.
std::int64_t CountField(const Json &object, const char *name)
{
    const auto found = object.find(name);
    if (found == object.end())
        return -1;
    if (found->is_number_unsigned())
        return static_cast<std::int64_t>(std::min<std::uint64_t>(
            found->get<std::uint64_t>(), static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())));
    if (found->is_number_integer())
        return std::max<std::int64_t>(found->get<std::int64_t>(), -1);
    if (found->is_number_float()) {
        const double value = found->get<double>();
        if (!std::isfinite(value) || value < 0)
            return -1;
        if (value >= 9.0e18)
            return std::numeric_limits<std::int64_t>::max();
        return static_cast<std::int64_t>(value);
    }
    return -1;
}

} // namespace

EngineAnswer ReadSearxngAnswer(std::string_view text)
{
    Json json;
    EngineAnswer answer;
    if (!Parse(text, json, answer))
        return answer;
    const auto results = json.find("results");
    if (results == json.end() || !ReadEntries(*results, "content", answer))
        return Failure("malformed answer (no \"results\" list)");
    answer.ok = true;
    answer.total = CountField(json, "number_of_results");
    answer.more = !answer.entries.empty();
    return answer;
}

EngineAnswer ReadBraveAnswer(std::string_view text)
{
    Json json;
    EngineAnswer answer;
    if (!Parse(text, json, answer))
        return answer;
    answer.ok = true;
    answer.more = false;
    // Brave leaves "web" out when nothing was found.
    const auto web = json.find("web");
    if (web != json.end()) {
        const auto results = web->is_object() ? web->find("results") : web->end();
        if (!web->is_object() || results == web->end() || !ReadEntries(*results, "description", answer))
            return Failure("malformed answer (no \"web\".\"results\" list)");
        answer.more = static_cast<int>(answer.entries.size()) >= kEnginePageSize;
    }
    const auto query = json.find("query");
    if (query != json.end() && query->is_object()) {
        const auto more = query->find("more_results_available");
        if (more != query->end() && more->is_boolean())
            answer.more = more->get<bool>() && !answer.entries.empty();
    }
    return answer;
}

EngineAnswer ReadMarginaliaAnswer(std::string_view text)
{
    Json json;
    EngineAnswer answer;
    if (!Parse(text, json, answer))
        return answer;
    const auto results = json.find("results");
    if (results == json.end() || !ReadEntries(*results, "description", answer))
        return Failure("malformed answer (no \"results\" list)");
    answer.ok = true;
    answer.more = static_cast<int>(answer.entries.size()) >= kEnginePageSize;
    return answer;
}

namespace {

void BuildSearxngRequest(const EngineChoice &choice, const std::string &, const std::string &encodedQuery, int page,
                         const std::string &acceptLanguage, FetchRequest &request)
{
    request.url = choice.baseUrl + "/search?q=" + encodedQuery + "&format=json&pageno=" + std::to_string(page);
    request.headers.emplace_back(kSearxngAccept);
    request.headers.push_back("Accept-Language: " + acceptLanguage);
    if (const std::optional<UrlParts> parts = SplitUrl(choice.baseUrl))
        request.privateOrigin = Origin(*parts);
}

void BuildMarginaliaRequest(const EngineChoice &choice, const std::string &query, const std::string &encodedQuery,
                            int page, const std::string &, FetchRequest &request)
{
    request.headers.emplace_back(kJsonAccept);
    request.url = std::string(kMarginaliaUrl) + "?query=" + encodedQuery + "&count=" +
                  std::to_string(kEnginePageSize) + "&page=" + std::to_string(page);
    request.headers.push_back("API-Key: " + choice.key);
    request.cacheKey = "marginalia:" + std::to_string(page) + ":" + query;
}

void BuildBraveRequest(const EngineChoice &choice, const std::string &query, const std::string &encodedQuery,
                       int page, const std::string &, FetchRequest &request)
{
    request.headers.emplace_back(kJsonAccept);
    request.url = std::string(kBraveUrl) + "?q=" + encodedQuery + "&count=" + std::to_string(kEnginePageSize) +
                  "&offset=" + std::to_string(page - 1);
    request.headers.push_back("X-Subscription-Token: " + choice.key);
    request.cacheKey = "brave:" + std::to_string(page) + ":" + query;
}

constexpr EngineDescription kEngines[] = {
    {EngineChoice::Kind::Searxng, "searxng", EngineValue::Url, {}, {}, std::chrono::milliseconds::zero(),
     kJsonFormatOff, BuildSearxngRequest, ReadSearxngAnswer},
    {EngineChoice::Kind::Marginalia, "marginalia", EngineValue::OptionalKey, kDefaultMarginaliaKey, kMarginaliaUrl,
     std::chrono::milliseconds::zero(), {}, BuildMarginaliaRequest, ReadMarginaliaAnswer},
    {EngineChoice::Kind::Brave, "brave", EngineValue::Key, {}, kBraveUrl, kBraveInterval, {}, BuildBraveRequest,
     ReadBraveAnswer},
};

} // namespace

std::span<const EngineDescription> Engines()
{
    return kEngines;
}

const EngineDescription &Describe(EngineChoice::Kind kind)
{
    for (const EngineDescription &engine : kEngines) {
        if (engine.kind == kind)
            return engine;
    }
    // Every kind has its row; reaching here is a programming error.
    std::abort();
}

std::string EngineForm(const EngineDescription &engine)
{
    const std::string name(engine.name);
    switch (engine.value) {
    case EngineValue::Url: return name + ":URL";
    case EngineValue::Key: return name + ":KEY";
    case EngineValue::OptionalKey: return name + "[:KEY]";
    }
    return name;
}

std::string EngineForms(DefaultEngineShown shown)
{
    const std::string_view defaultName = kDefaultEngine.substr(0, kDefaultEngine.find(':'));
    std::string forms;
    for (std::size_t i = 0; i < std::size(kEngines); ++i) {
        if (i > 0)
            forms += i + 1 == std::size(kEngines) ? " or " : ", ";
        forms += EngineForm(kEngines[i]);
        if (shown == DefaultEngineShown::Yes && kEngines[i].name == defaultName)
            forms += " (default " + std::string(kDefaultEngine) + ")";
    }
    return forms;
}

SearchEngine::SearchEngine(EngineChoice choice)
    : m_choice(std::move(choice))
    , m_description(&Describe(m_choice.kind))
    , m_acceptLanguage(AcceptLanguageFor(UserLocale()))
{
}

std::string SearchEngine::Name() const
{
    return std::string(m_description->name);
}

FetchRequest SearchEngine::PageRequest(const std::string &query, int page) const
{
    FetchRequest request;
    request.timeToLive = kSearchTimeToLive;
    request.rememberFailures = false;
    m_description->buildRequest(m_choice, query, PercentEncode(query), page, m_acceptLanguage, request);
    // Only a readable answer is worth replaying; an error page or a rate
    // limit is asked for again next time.
    const SearchEngine engine = *this;
    request.keep = [engine](const FetchResult &result) { return engine.Read(result).ok; };
    return request;
}

std::string SearchEngine::Host() const
{
    const std::string_view address = m_description->endpoint.empty() ? m_choice.baseUrl : m_description->endpoint;
    const std::optional<UrlParts> parts = SplitUrl(address);
    return parts ? parts->host : std::string(address);
}

std::string SearchEngine::NoAnswerReason(const FetchResult &result) const
{
    if (result.outcome == FetchResult::Outcome::NotCached)
        return result.error.empty() ? "not in the cache (offline)" : result.error;
    if (result.outcome == FetchResult::Outcome::Refused)
        return "no answer from " + Host() + " (" + result.error + ")";
    // Asked to wait by an earlier answer: nothing was sent this time.
    if (result.outcome == FetchResult::Outcome::NotKnownYet && result.retryAfter)
        return "rate limited; try again in " + std::to_string(result.retryAfter->count()) +
               " s or set KELVORA_SEARCH_ENGINE";
    // libcurl's reasons read "summary: details"; the summary fits one line.
    std::string why = result.error.substr(0, result.error.find(": "));
    if (why == "Couldn't connect to server")
        why = "could not connect";
    else if (why == "Couldn't resolve host name")
        why = "could not find its address";
    else if (why.empty())
        why = "no reason given";
    return "no answer from " + Host() + " (" + why + ")";
}

EngineAnswer SearchEngine::Read(const FetchResult &result) const
{
    if (!result.Answered())
        return Failure(NoAnswerReason(result));
    const std::string status = "(HTTP " + std::to_string(result.status) + ")";
    if (result.status == 429 || result.status == 503) {
        const std::chrono::seconds wait = result.retryAfter.value_or(kDefaultRetryWait);
        return Failure(std::string(result.status == 429 ? "rate limited " : "busy ") + status + "; try again in " +
                       std::to_string(wait.count()) + " s or set KELVORA_SEARCH_ENGINE");
    }
    if (!m_description->forbidden.empty() && result.status == 403)
        return Failure(std::string(m_description->forbidden));
    if (m_description->value != EngineValue::Url && (result.status == 401 || result.status == 403))
        return Failure("the API key was refused " + status + "; give a valid one as " + Name() + ":KEY");
    if (result.status >= 500)
        return Failure("server error " + status);
    if (result.status < 200 || result.status > 299)
        return Failure("answered HTTP " + std::to_string(result.status));
    if (result.truncated)
        return Failure("answer larger than the size limit");
    return m_description->readAnswer(result.body);
}

} // namespace kelvora::directory::live
