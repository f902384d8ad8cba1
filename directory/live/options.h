#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "directory/core/program.h"
#include "directory/live/connect_to.h"

// The live mode's command line:
//   kelvora-directory --live [--search-engine ENGINE] [--listen ADDR:PORT]
//       [--cache FILE] [--offline] [--connect-to HOST1:PORT1:HOST2:PORT2]...
//       [--ca-file FILE] [--data FILE] [--facts FILE] [--engine-rate N]
namespace kelvora::directory::live {

// Each kind has its row in Engines() (engines.h).
struct EngineChoice {
    enum class Kind { Searxng, Marginalia, Brave };
    Kind kind = Kind::Marginalia;
    std::string baseUrl;   // an engine taking a URL: the instance, without a trailing "/"
    std::string key;       // an engine taking a key: the API key
};

constexpr std::string_view kDefaultEngine = "marginalia:public";
constexpr std::string_view kDefaultMarginaliaKey = "public";

// An engine of Engines() as ENGINE names it: "name:URL" (an http or https
// URL), "name:KEY", or "name" alone where the key has a default
// ("searxng:URL", "marginalia[:KEY]", "brave:KEY"); nullopt with a reason
// otherwise.
std::optional<EngineChoice> ParseEngine(std::string_view text, std::string &error);

struct LiveOptions {
    EngineChoice engine;
    std::string listenAddress = kDefaultListenAddress;
    int listenPort = kDefaultListenPort;
    std::string cacheFile;   // empty: DefaultCachePath()
    bool offline = false;
    std::vector<ConnectToRule> connectTo;
    std::string caFile;      // extra trusted certificates (PEM), beside the system's
    std::string dataFile;    // a data set whose sites keep their stored facts
    // The site-facts database; ParseLiveOptions makes it
    // facts::DefaultFactsPath() when not given. Empty: no facts at all.
    std::string factsFile;
    // Engine requests a second (--engine-rate); 0: the engine's default
    // (Brave one a second, the others unpaced).
    double engineRate = 0;
};

// ${XDG_CACHE_HOME:-~/.cache}/kelvora/web-cache.db
std::string DefaultCachePath();

// Reads the options after "--live" (which may appear among them, once).
// nullopt with a one-line reason on a usage error.
std::optional<LiveOptions> ParseLiveOptions(const std::vector<std::string> &arguments,
                                            std::string &error);

} // namespace kelvora::directory::live
