#include "directory/live/options.h"

#include <cstdlib>

#include "directory/core/program.h"
#include "directory/core/user_files.h"
#include "directory/facts/facts_db.h"
#include "directory/live/engines.h"
#include "directory/live/text.h"

namespace kelvora::directory::live {

namespace {

const EngineDescription *FindEngine(const std::string &name)
{
    for (const EngineDescription &engine : Engines()) {
        if (engine.name == name)
            return &engine;
    }
    return nullptr;
}

} // namespace

std::optional<EngineChoice> ParseEngine(std::string_view text, std::string &error)
{
    const std::size_t colon = text.find(':');
    const std::string name = LowerCase(std::string(text.substr(0, colon)));
    const std::string_view value = colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
    const EngineDescription *description = FindEngine(name);
    if (description == nullptr) {
        error = "unknown search engine '" + std::string(text) + "' (" + EngineForms() + ")";
        return std::nullopt;
    }
    EngineChoice engine;
    engine.kind = description->kind;
    switch (description->value) {
    case EngineValue::OptionalKey:
        engine.key = value.empty() ? std::string(description->defaultKey) : std::string(value);
        break;
    case EngineValue::Key:
        engine.key = std::string(value);
        if (engine.key.empty()) {
            error = name + " needs an API key: " + EngineForm(*description);
            return std::nullopt;
        }
        break;
    case EngineValue::Url: {
        std::string base(value);
        while (!base.empty() && base.back() == '/')
            base.pop_back();
        const std::optional<UrlParts> parts = SplitUrl(base);
        if (!parts || base.find_first_of("?#") != std::string::npos) {
            error = name + " needs the instance's http or https URL: " + EngineForm(*description);
            return std::nullopt;
        }
        engine.baseUrl = base;
        break;
    }
    }
    // A key goes into a request line; no byte of it may break that line.
    for (unsigned char c : engine.key) {
        if (c < 0x21 || c == 0x7F) {
            error = "the search engine key holds a blank or control character";
            return std::nullopt;
        }
    }
    return engine;
}

namespace {

constexpr double kMaxEngineRate = 1000;

bool ParseEngineRate(const std::string &text, double &rate)
{
    if (text.empty() || text.size() > 16 || text.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !(value > 0) || value > kMaxEngineRate)
        return false;
    rate = value;
    return true;
}

} // namespace

std::string DefaultCachePath()
{
    return UserFilePath(UserFolder::Cache, "web-cache.db");
}

std::optional<LiveOptions> ParseLiveOptions(const std::vector<std::string> &arguments, std::string &error)
{
    LiveOptions options;
    std::string ignored;   // the default always parses
    options.engine = *ParseEngine(kDefaultEngine, ignored);
    bool sawLive = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "--live") {
            if (sawLive) {
                error = "--live given twice";
                return std::nullopt;
            }
            sawLive = true;
            continue;
        }
        if (argument == "--offline") {
            options.offline = true;
            continue;
        }
        const bool takesValue = argument == "--search-engine" || argument == "--listen" ||
                                argument == "--cache" || argument == "--connect-to" ||
                                argument == "--ca-file" || argument == "--data" ||
                                argument == "--facts" || argument == "--engine-rate";
        if (!takesValue) {
            error = "unknown option '" + argument + "'";
            return std::nullopt;
        }
        if (i + 1 >= arguments.size()) {
            error = argument + " needs a value";
            return std::nullopt;
        }
        const std::string &value = arguments[++i];
        if (argument == "--search-engine") {
            const std::optional<EngineChoice> engine = ParseEngine(value, error);
            if (!engine)
                return std::nullopt;
            options.engine = *engine;
        } else if (argument == "--listen") {
            if (!ParseListen(value, options.listenAddress, options.listenPort)) {
                error = "--listen wants ADDR:PORT, not '" + value + "'";
                return std::nullopt;
            }
        } else if (argument == "--cache") {
            options.cacheFile = value;
        } else if (argument == "--connect-to") {
            const std::optional<ConnectToRule> rule = ParseConnectTo(value);
            if (!rule) {
                error = "--connect-to wants HOST1:PORT1:HOST2:PORT2, not '" + value + "'";
                return std::nullopt;
            }
            options.connectTo.push_back(*rule);
        } else if (argument == "--ca-file") {
            options.caFile = value;
        } else if (argument == "--facts") {
            options.factsFile = value;
        } else if (argument == "--engine-rate") {
            if (!ParseEngineRate(value, options.engineRate)) {
                error = "--engine-rate wants requests a second (a number above 0, at most " +
                        std::to_string(static_cast<int>(kMaxEngineRate)) + "), not '" + value + "'";
                return std::nullopt;
            }
        } else {
            options.dataFile = value;
        }
    }
    if (options.cacheFile.empty())
        options.cacheFile = DefaultCachePath();
    if (options.factsFile.empty())
        options.factsFile = facts::DefaultFactsPath();
    return options;
}

} // namespace kelvora::directory::live
