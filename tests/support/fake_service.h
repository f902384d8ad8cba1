#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tests/support/loopback_server.h"

namespace kelvora::testsupport {

// A complete 200 response carrying body with its Content-Length.
std::string OkResponse(const std::string &body);

// The first line of a recorded request head, without its CR LF.
std::string RequestLine(const std::string &head);

// A 32-bit FNV-1a hash: figures a fake derives from a name come out the same
// on every run and every machine.
std::uint32_t StableHash(std::string_view text);

// A loopback service that answers every request with body (or as handler
// says), named by the environment variable hostVariable (e.g.
// KELVORA_SEARCH_HOST) for as long as the object lives.
class ScopedFakeService {
public:
    ScopedFakeService(const char *hostVariable, const std::string &body);
    ScopedFakeService(const char *hostVariable, LoopbackServer::Handler handler);
    ~ScopedFakeService();
    ScopedFakeService(const ScopedFakeService &) = delete;
    ScopedFakeService &operator=(const ScopedFakeService &) = delete;

    LoopbackServer server;

private:
    const char *m_hostVariable;
};

} // namespace kelvora::testsupport
