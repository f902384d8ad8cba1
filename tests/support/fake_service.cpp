#include "tests/support/fake_service.h"

#include <cstdlib>
#include <utility>

namespace kelvora::testsupport {

std::string OkResponse(const std::string &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::uint32_t StableHash(std::string_view text)
{
    std::uint32_t hash = 2166136261u;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

std::string RequestLine(const std::string &head)
{
    return head.substr(0, head.find("\r\n"));
}

ScopedFakeService::ScopedFakeService(const char *hostVariable, const std::string &body)
    : ScopedFakeService(hostVariable, LoopbackServer::Handler([body](const std::string &) { return OkResponse(body); }))
{
}

ScopedFakeService::ScopedFakeService(const char *hostVariable, LoopbackServer::Handler handler)
    : server(std::move(handler))
    , m_hostVariable(hostVariable)
{
    setenv(m_hostVariable, ("127.0.0.1:" + std::to_string(server.port())).c_str(), 1);
}

ScopedFakeService::~ScopedFakeService()
{
    unsetenv(m_hostVariable);
}

} // namespace kelvora::testsupport
