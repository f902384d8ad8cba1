#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "directory/core/backend.h"

// The directory's HTTP/1.1 server. One thread watches every connection:
// it accepts, reads request heads under a deadline and within size bounds,
// keeps idle kept-alive connections without tying up a worker, and answers
// pipelined requests in order. Complete GET and HEAD requests go to a pool of
// worker threads; beyond the connection caps or a full queue the answer is
// 503 with "Connection: close" rather than a wait.
namespace kelvora::directory {

struct ServerLimits {
    // Open connections in all (also kept below the descriptor limit) and
    // from one client address.
    std::size_t maxConnections = 8192;
    std::size_t maxConnectionsPerAddress = 1024;
    // Threads that call the responder, and requests that may wait for one.
    std::size_t workerThreads = 128;
    std::size_t maxQueuedRequests = 512;
    std::size_t maxRequestsPerConnection = 1000;
    // A whole request (head and body) from its first byte; an idle
    // connection (none of a request yet); an answer that the client does not
    // take in, without progress.
    std::chrono::milliseconds requestDeadline{10'000};
    std::chrono::milliseconds idleTimeout{5'000};
    std::chrono::milliseconds writeTimeout{5'000};
};

class DirectoryServer final {
public:
    // Answers one GET or HEAD: its path, raw query string (after "?") and
    // Host line. Called on the server's worker threads, several at a time.
    using Responder =
        std::function<Reply(std::string_view path, std::string_view query, std::string_view hostLine)>;

    // Serves backend through Route(); backend must outlive the server.
    explicit DirectoryServer(Backend &backend);
    explicit DirectoryServer(Responder responder);
    ~DirectoryServer();   // stops and joins
    DirectoryServer(const DirectoryServer &) = delete;
    DirectoryServer &operator=(const DirectoryServer &) = delete;

    // Replaces the default limits; call before Bind().
    void SetLimits(const ServerLimits &limits);
    // Binds address:port (port 0 picks a free port) and listens; false with
    // a reason. Once it succeeds, connections are taken in and Serve()
    // cannot fail.
    bool Bind(const std::string &address, int port, std::string &error);
    int Port() const;
    // Serves until Stop(); call after a successful Bind().
    void Serve();
    // Serves on a thread of its own; returns once connections are accepted.
    bool ServeInBackground(std::string &error);
    // Ends Serve() (also one not yet begun) from any thread; joins the
    // background thread.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace kelvora::directory
