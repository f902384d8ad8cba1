#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A real TCP server on 127.0.0.1 for tests: it listens on an ephemeral port,
// runs on its own threads and is stopped and joined by its destructor. Every
// wait inside it has a time limit, so a test can never hang on it.
//
// For each accepted connection the server first reads the request head (up to
// and including the empty line, at most kMaxRequestHead bytes, at most
// kRequestHeadTimeout) and records the exact bytes it read. Then it answers in
// one of three modes, chosen by the constructor:
//
//   - a fixed script, played for every connection:
//       LoopbackServer server({Send("HTTP/1.1 200 OK\r\n\r\nhello"), Close()});
//   - a handler returning the raw response bytes; the connection is closed
//     after they are sent (fake services answering by path and Host line):
//       LoopbackServer server([](const std::string &head) {
//           return std::string("HTTP/1.1 200 OK\r\n\r\n") + head;
//       });
//   - a handler returning a script, for per-request slow or broken replies:
//       LoopbackServer server([](const std::string &head) -> Script {...});
//
// A script that ends without Close, Hold or Reset closes the connection. A
// step that sends stops the script when the peer has gone (no SIGPIPE).
// Connections are served on their own threads, so a held connection does not
// delay the next one.
//
// Typical use with HttpGet:
//   LoopbackServer server({Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")});
//   std::string page;
//   kelvora::HttpGet(server.url("/a"), page, 80);
//   EXPECT_EQ(server.requests().at(0), "GET /a HTTP/1.1\r\n...");
namespace kelvora::testsupport {

struct Step {
    enum class Kind { Send, SendRepeated, Drip, Sleep, Close, Hold, Reset };

    Kind kind = Kind::Close;
    std::string bytes;
    std::size_t times = 0;                 // SendRepeated: 0 = until the peer or server stops
    std::chrono::milliseconds delay{0};    // Sleep, Drip
};
using Script = std::vector<Step>;

// Sends the bytes as they stand.
Step Send(std::string bytes);
// Sends the bytes `times` times in a row; times == 0 repeats until the peer
// stops reading or closes, or the server is destroyed. The bytes are held
// once, so gigabytes can be served from a small block.
Step SendRepeated(std::string bytes, std::size_t times);
// Sends the bytes one at a time with `interval` after each (a slow drip).
Step Drip(std::string bytes, std::chrono::milliseconds interval);
// Waits; cut short when the server is destroyed.
Step Sleep(std::chrono::milliseconds duration);
// Orderly close (FIN).
Step Close();
// Keeps the connection open, sending nothing, until the server is destroyed.
Step Hold();
// Aborts the connection (SO_LINGER 0, then close): the peer sees a reset.
Step Reset();

// A loopback port with nothing listening on it: bound for a moment to learn
// a free one, then closed, so a connection there is refused.
std::uint16_t ClosedLoopbackPort();

class LoopbackServer final {
public:
    using Handler = std::function<std::string(const std::string &requestHead)>;
    using ScriptHandler = std::function<Script(const std::string &requestHead)>;

    static constexpr std::size_t kMaxRequestHead = 64 * 1024;
    static constexpr std::chrono::milliseconds kRequestHeadTimeout{5000};

    explicit LoopbackServer(Script script);
    explicit LoopbackServer(Handler handler);
    explicit LoopbackServer(ScriptHandler handler);
    ~LoopbackServer();

    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    std::uint16_t port() const { return m_port; }
    // "http://127.0.0.1:PORT" followed by path.
    std::string url(const std::string &path = "/") const;

    // Request heads in the order they were read (a head that was cut short by
    // the peer or the limits is recorded as far as it came).
    std::vector<std::string> requests() const;
    std::size_t connectionCount() const { return m_connections.load(); }
    // Bytes the server has sent on all connections together.
    std::uint64_t bytesSent() const { return m_bytesSent.load(); }
    // Waits until `count` request heads are recorded; false on time-out.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds limit) const;

private:
    struct Connection;

    void start();
    void acceptLoop();
    void serve(int fd);
    std::string readRequestHead(int fd);
    bool play(int fd, const Script &script);
    bool sendAll(int fd, const char *data, std::size_t size);
    bool sleepFor(std::chrono::milliseconds duration);
    void reapFinished();

    ScriptHandler m_scriptFor;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<std::size_t> m_connections{0};
    std::atomic<std::uint64_t> m_bytesSent{0};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_requests;
    std::list<std::unique_ptr<Connection>> m_active;
    std::thread m_acceptor;
};

} // namespace kelvora::testsupport
