#pragma once

#include <memory>
#include <string>
#include <vector>

#include "directory/core/server.h"
#include "directory/live/live_service.h"

// A live gateway serving on a free loopback port, for tests and benchmarks
// that run the program (or an HTTP client) against it.
namespace kelvora::live::testing {

class GatewayServer final {
public:
    // rules: --connect-to rules (e.g. FakeUpstream::Rules()); the test CA is
    // trusted; the cache is cacheFile; factsFile the facts database (empty:
    // none).
    GatewayServer(const std::string &engine, const std::vector<std::string> &rules, const std::string &cacheFile,
                  directory::live::LiveSettings settings = {}, const std::string &factsFile = {});
    ~GatewayServer();
    GatewayServer(const GatewayServer &) = delete;
    GatewayServer &operator=(const GatewayServer &) = delete;

    int Port() const;
    // Points the program's search, traffic and home-page requests here:
    // KELVORA_SEARCH_HOST, KELVORA_TRAFFIC_HOST and KELVORA_RESOLVE.
    void RouteProgram() const;
    directory::live::LiveService &Service() { return *m_service; }

private:
    std::unique_ptr<directory::live::LiveService> m_service;
    std::unique_ptr<directory::DirectoryServer> m_server;
};

} // namespace kelvora::live::testing
