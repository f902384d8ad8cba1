#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "directory/service.h"
#include "directory/store.h"

// The directory's HTTP/1.1 server: GET and HEAD of every path go to
// Respond(); each connection's reads and writes are bounded in time and the
// request line, headers and body in size.
namespace kelvora::directory {

class DirectoryServer final {
public:
    // Answers one GET or HEAD: its path, raw query string (after "?") and
    // Host line. Called on the server's worker threads, several at a time.
    using Responder =
        std::function<Reply(std::string_view path, std::string_view query, std::string_view hostLine)>;

    // Serves the data set through Respond().
    explicit DirectoryServer(const Store &store);
    explicit DirectoryServer(Responder responder);
    ~DirectoryServer();   // stops and joins
    DirectoryServer(const DirectoryServer &) = delete;
    DirectoryServer &operator=(const DirectoryServer &) = delete;

    // Binds address:port (port 0 picks a free port); false with a reason.
    bool Bind(const std::string &address, int port, std::string &error);
    int Port() const;
    // Serves until Stop(); call after a successful Bind().
    void Serve();
    // Serves on a thread of its own; returns once connections are accepted.
    bool ServeInBackground(std::string &error);
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace kelvora::directory
