#include "tests/live/gateway_server.h"

#include <cstdio>
#include <cstdlib>

#include "tests/live/test_pki.h"

namespace kelvora::live::testing {

GatewayServer::GatewayServer(const std::string &engine, const std::vector<std::string> &rules,
                             const std::string &cacheFile, directory::live::LiveSettings settings,
                             const std::string &factsFile)
{
    using namespace directory::live;
    std::string error;
    LiveOptions options;
    options.engine = ParseEngine(engine, error).value();
    for (const std::string &rule : rules)
        options.connectTo.push_back(ParseConnectTo(rule).value());
    options.caFile = SharedPki().caFile;
    options.cacheFile = cacheFile;
    options.factsFile = factsFile;
    if (!settings.log)
        settings.log = [](const std::string &) {};
    m_service = std::make_unique<LiveService>(options, settings);
    m_server = std::make_unique<directory::DirectoryServer>(m_service->Responder());
    if (!m_server->Bind("127.0.0.1", 0, error) || !m_server->ServeInBackground(error)) {
        std::fprintf(stderr, "gateway server: %s\n", error.c_str());
        std::abort();
    }
}

GatewayServer::~GatewayServer()
{
    m_server.reset();   // no request may reach the service while it goes
}

int GatewayServer::Port() const
{
    return m_server->Port();
}

void GatewayServer::RouteProgram() const
{
    const std::string address = "127.0.0.1:" + std::to_string(Port());
    ::setenv("KELVORA_SEARCH_HOST", address.c_str(), 1);
    ::setenv("KELVORA_TRAFFIC_HOST", address.c_str(), 1);
    ::setenv("KELVORA_RESOLVE", ("*=" + address).c_str(), 1);
}

} // namespace kelvora::live::testing
