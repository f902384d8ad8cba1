#include "directory/live/live_service.h"

#include <filesystem>
#include <iostream>
#include <mutex>

#include "directory/core/program.h"
#include "directory/live/text.h"

namespace kelvora::directory::live {

namespace {

void LogToStandardError(const std::string &line)
{
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    std::cerr << kProgramName << ": " << line << std::endl;
}

// The archive's and the engine's pace; each RDAP registry gets its own when
// the bootstrap names it.
void SetPaces(HostPacer &pacer, const LiveOptions &options)
{
    pacer.SetLimit(std::string(kArchiveHost), PaceLimit{kArchiveBurst, kArchiveInterval});
    const std::optional<UrlParts> engine = SplitUrl(SearchEngine(options.engine).PageRequest("pace", 1).url);
    if (!engine)
        return;
    if (options.engineRate > 0) {
        const auto interval = std::chrono::milliseconds(static_cast<long long>(1000.0 / options.engineRate));
        pacer.SetLimit(engine->host, PaceLimit{1, std::max(interval, std::chrono::milliseconds(1))});
    } else if (const std::chrono::milliseconds interval = Describe(options.engine.kind).interval;
               interval > std::chrono::milliseconds::zero()) {
        pacer.SetLimit(engine->host, PaceLimit{1, interval});
    }
}

} // namespace

LiveService::LiveService(const LiveOptions &options, LiveSettings settings)
{
    auto log = settings.log ? settings.log : LogToStandardError;
    if (!options.dataFile.empty()) {
        if (!std::filesystem::exists(options.dataFile))
            throw std::runtime_error("no data set at " + options.dataFile);
        m_store = std::make_unique<Store>(options.dataFile);
    }
    if (!options.factsFile.empty()) {
        try {
            m_facts = std::make_unique<facts::FactsStore>(options.factsFile);
        } catch (const std::exception &error) {
            throw std::runtime_error("facts database " + options.factsFile + ": " + error.what());
        }
    }
    // Offline, the cache is only read: a copy on read-only media will do.
    m_cache = std::make_unique<WebCache>(options.cacheFile, settings.cacheBytes, settings.clock,
                                         options.offline ? CacheAccess::ReadOnly : CacheAccess::ReadWrite);
    if (!options.offline) {
        NetworkConfig config;
        config.connectTo = options.connectTo;
        config.extraCaFile = options.caFile;
        config.caBundle = settings.caBundle;
        config.resolve = settings.resolve;
        config.timeLimit = settings.timeLimit;
        config.maxBodyBytes = settings.maxBodyBytes;
        if (const std::optional<UrlParts> engine = SplitUrl(options.engine.baseUrl))
            config.redirectPorts.push_back(engine->port);
        config.pacingClock = settings.pacingClock;
        m_network = std::make_unique<NetworkFetcher>(std::move(config));
        SetPaces(m_network->Pacer(), options);
    }
    m_fetcher = std::make_unique<Fetcher>(*m_cache, m_network.get(), log);
    m_gateway = std::make_unique<LiveGateway>(SearchEngine(options.engine), *m_fetcher, options.connectTo,
                                              m_store.get(), m_facts.get(), log);
    m_gateway->Prefetch().SetEnabled(settings.prefetch);
}

LiveService::~LiveService()
{
    // The page readers stop first, as they start fetches; then the network,
    // whose last callbacks still reach the fetcher and the cache.
    m_gateway->Facts().Stop();
    m_network.reset();
}

Reply LiveService::Respond(std::string_view path, std::string_view query, std::string_view hostLine)
{
    return m_gateway->Respond(path, query, hostLine);
}

void LiveService::Abort()
{
    if (m_network)
        m_network->Abort();
}

DirectoryServer::Responder LiveService::Responder()
{
    return [this](std::string_view path, std::string_view query, std::string_view hostLine) {
        return Respond(path, query, hostLine);
    };
}

int RunLive(const std::vector<std::string> &arguments)
{
    std::string error;
    const std::optional<LiveOptions> options = ParseLiveOptions(arguments, error);
    if (!options) {
        std::cerr << kProgramName << ": " << error << " (try --help)\n";
        return kExitUsage;
    }
    // Before the service starts its threads.
    BlockStopSignals();

    std::unique_ptr<LiveService> service;
    try {
        service = std::make_unique<LiveService>(*options);
    } catch (const std::exception &failure) {
        std::cerr << kProgramName << ": " << failure.what() << '\n';
        return kExitFailure;
    }

    DirectoryServer server(service->Responder());
    if (!server.Bind(options->listenAddress, options->listenPort, error)) {
        std::cerr << kProgramName << ": " << error << '\n';
        return kExitFailure;
    }
    std::cout << kProgramName << ": live" << (options->offline ? " (offline, from the cache)" : "") << " on http://"
              << options->listenAddress << ':' << server.Port() << "/ with cache " << options->cacheFile
              << " and facts " << options->factsFile << std::endl;
    ServeUntilSignalled(server, [&service] { service->Abort(); });
    return 0;
}

} // namespace kelvora::directory::live
