#include "tests/support/loopback_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace kelvora::testsupport {

namespace {

// Short poll slices keep every loop responsive to the destructor.
constexpr int kPollSliceMs = 20;
constexpr int kListenBacklog = 64;
constexpr std::size_t kSendBlock = 256 * 1024;

void setNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool headComplete(const std::string &head)
{
    return head.find("\r\n\r\n") != std::string::npos || head.find("\n\n") != std::string::npos;
}

} // namespace

Step Send(std::string bytes)
{
    Step step;
    step.kind = Step::Kind::Send;
    step.bytes = std::move(bytes);
    return step;
}

Step SendRepeated(std::string bytes, std::size_t times)
{
    Step step;
    step.kind = Step::Kind::SendRepeated;
    step.bytes = std::move(bytes);
    step.times = times;
    return step;
}

Step Drip(std::string bytes, std::chrono::milliseconds interval)
{
    Step step;
    step.kind = Step::Kind::Drip;
    step.bytes = std::move(bytes);
    step.delay = interval;
    return step;
}

Step Sleep(std::chrono::milliseconds duration)
{
    Step step;
    step.kind = Step::Kind::Sleep;
    step.delay = duration;
    return step;
}

Step Close()
{
    return Step{};
}

Step Hold()
{
    Step step;
    step.kind = Step::Kind::Hold;
    return step;
}

Step Reset()
{
    Step step;
    step.kind = Step::Kind::Reset;
    return step;
}

struct LoopbackServer::Connection {
    std::thread thread;
    std::atomic<bool> done{false};
};

LoopbackServer::LoopbackServer(Script script)
    : m_scriptFor([script = std::move(script)](const std::string &) { return script; })
{
    start();
}

LoopbackServer::LoopbackServer(Handler handler)
    : m_scriptFor([handler = std::move(handler)](const std::string &head) {
          return Script{Send(handler(head)), Close()};
      })
{
    start();
}

LoopbackServer::LoopbackServer(ScriptHandler handler)
    : m_scriptFor(std::move(handler))
{
    start();
}

void LoopbackServer::start()
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        throw std::runtime_error("loopback server: socket failed");
    const int reuse = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listenFd, kListenBacklog) != 0
        || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(m_listenFd);
        throw std::runtime_error("loopback server: cannot listen on 127.0.0.1");
    }
    m_port = ntohs(address.sin_port);
    setNonBlocking(m_listenFd);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer()
{
    {
        // Under the lock, so a sleeper between its check and its wait still wakes.
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_acceptor.joinable())
        m_acceptor.join();
    // The acceptor has stopped, so nothing is added to the list any more.
    for (auto &connection : m_active)
        connection->thread.join();
    ::close(m_listenFd);
}

std::string LoopbackServer::url(const std::string &path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<std::string> LoopbackServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool LoopbackServer::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, limit, [&] { return m_requests.size() >= count; });
}

void LoopbackServer::acceptLoop()
{
    while (!m_stopping) {
        pollfd entry{m_listenFd, POLLIN, 0};
        if (::poll(&entry, 1, kPollSliceMs) <= 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            continue;
        ++m_connections;
        reapFinished();
        auto connection = std::make_unique<Connection>();
        Connection *raw = connection.get();
        {
            std::lock_guard lock(m_mutex);
            m_active.push_back(std::move(connection));
        }
        raw->thread = std::thread([this, fd, raw] {
            serve(fd);
            raw->done = true;
        });
    }
}

void LoopbackServer::reapFinished()
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_active.begin(); it != m_active.end();) {
        if ((*it)->done && (*it)->thread.joinable()) {
            (*it)->thread.join();
            it = m_active.erase(it);
        } else {
            ++it;
        }
    }
}

void LoopbackServer::serve(int fd)
{
    std::string head = readRequestHead(fd);
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(head);
    }
    m_changed.notify_all();

    Script script;
    try {
        script = m_scriptFor(head);
    } catch (...) {
        script = {Reset()};
    }
    if (play(fd, script))
        ::close(fd);
}

std::string LoopbackServer::readRequestHead(int fd)
{
    std::string head;
    const auto deadline = std::chrono::steady_clock::now() + kRequestHeadTimeout;
    char piece[4096];
    while (!m_stopping && head.size() < kMaxRequestHead && !headComplete(head)
           && std::chrono::steady_clock::now() < deadline) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, kPollSliceMs) <= 0)
            continue;
        // Read only what the head can still take, so nothing past it is consumed.
        const std::size_t room = std::min(sizeof piece, kMaxRequestHead - head.size());
        const ssize_t received = ::recv(fd, piece, room, 0);
        if (received > 0)
            head.append(piece, static_cast<std::size_t>(received));
        else if (received == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return head;
}

// Plays the script; returns whether the caller still has to close the socket.
bool LoopbackServer::play(int fd, const Script &script)
{
    for (const Step &step : script) {
        switch (step.kind) {
        case Step::Kind::Send:
            if (!sendAll(fd, step.bytes.data(), step.bytes.size()))
                return true;
            break;
        case Step::Kind::SendRepeated:
            if (step.bytes.empty())
                break;
            for (std::size_t i = 0; step.times == 0 || i < step.times; ++i) {
                if (!sendAll(fd, step.bytes.data(), step.bytes.size()))
                    return true;
            }
            break;
        case Step::Kind::Drip:
            for (char byte : step.bytes) {
                if (!sendAll(fd, &byte, 1) || !sleepFor(step.delay))
                    return true;
            }
            break;
        case Step::Kind::Sleep:
            if (!sleepFor(step.delay))
                return true;
            break;
        case Step::Kind::Close:
            return true;
        case Step::Kind::Hold:
            while (sleepFor(std::chrono::hours(1))) {
            }
            return true;
        case Step::Kind::Reset: {
            const linger abort{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            ::close(fd);
            return false;
        }
        }
    }
    return true;
}

// False when the peer has gone or the server is stopping.
bool LoopbackServer::sendAll(int fd, const char *data, std::size_t size)
{
    std::size_t offset = 0;
    while (offset < size) {
        if (m_stopping)
            return false;
        pollfd entry{fd, POLLOUT, 0};
        const int ready = ::poll(&entry, 1, kPollSliceMs);
        if (ready <= 0)
            continue;
        if (entry.revents & (POLLERR | POLLHUP))
            return false;
        const std::size_t chunk = std::min(kSendBlock, size - offset);
        const ssize_t sent = ::send(fd, data + offset, chunk, MSG_NOSIGNAL);
        if (sent > 0) {
            offset += static_cast<std::size_t>(sent);
            m_bytesSent += static_cast<std::uint64_t>(sent);
        } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
    }
    return true;
}

// False when the server is stopping.
bool LoopbackServer::sleepFor(std::chrono::milliseconds duration)
{
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_for(lock, duration, [this] { return m_stopping.load(); });
}

std::uint16_t ClosedLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace kelvora::testsupport
