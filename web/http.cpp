#include "web/http.h"

#include "web/http_response.h"
#include "web/text.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kelvora {

namespace {

using Clock = std::chrono::steady_clock;

// A server that never answers must not hold the user interface for ever.
constexpr std::chrono::seconds kConnectTimeout{10};
constexpr std::chrono::seconds kIdleTimeout{15};
constexpr std::chrono::seconds kCallTimeout{60};

constexpr const char *kAccept = "text/html, */*";
constexpr const char *kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
constexpr const char *kResolveVariable = "KELVORA_RESOLVE";

struct Endpoint {
    in_addr address{};
    std::uint16_t port = 0;
};

struct Target {
    std::string scheme;
    std::string host;
    std::string path;      // request target, starting with "/"
    std::optional<int> port;
};

// A control byte would end the request line early (CR, LF) or truncate it
// (NUL) on the wire and let the URL smuggle headers or a second request.
bool holdsControlByte(const std::string &url)
{
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return true;
    }
    return false;
}

std::optional<Target> splitUrl(std::string url)
{
    if (holdsControlByte(url))
        return std::nullopt;
    for (char &c : url) {
        if (c == '\\')
            c = '/';
    }
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos)
        return std::nullopt;

    Target target;
    target.scheme = url.substr(0, schemeEnd);
    const std::string rest = url.substr(schemeEnd + 3);
    const std::size_t slash = rest.find('/');
    const std::string hostPart = rest.substr(0, slash);
    target.path = slash == std::string::npos ? std::string() : rest.substr(slash);

    const std::size_t colon = hostPart.find(':');
    target.host = hostPart.substr(0, colon);
    if (colon != std::string::npos) {
        std::int64_t port = 0;
        if (ParseDecimal(hostPart.substr(colon + 1), port))
            target.port = port < 0 || port > 65535 ? -1 : static_cast<int>(port);
    }

    if (target.path.empty() || target.path[0] != '/')
        target.path = "/" + target.path;
    // A fragment in the last path segment is the browser's, not the server's.
    const std::size_t hash = target.path.find('#', target.path.rfind('/'));
    if (hash != std::string::npos)
        target.path.erase(hash);
    return target;
}

bool parseDottedQuad(const std::string &text, in_addr &address)
{
    std::uint32_t value = 0;
    std::size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.')
                return false;
            ++i;
        }
        const std::size_t start = i;
        unsigned number = 0;
        while (i < text.size() && IsDigit(text[i]) && i - start < 3)
            number = number * 10 + static_cast<unsigned>(text[i++] - '0');
        if (i == start || number > 255)
            return false;
        value = value << 8 | number;
    }
    if (i != text.size())
        return false;
    address.s_addr = htonl(value);
    return true;
}

bool resolveHost(const std::string &host, in_addr &address)
{
    if (LowerCase(host) == "localhost") {
        address.s_addr = htonl(INADDR_LOOPBACK);
        return true;
    }
    if (parseDottedQuad(host, address))
        return true;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    address = reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

// KELVORA_RESOLVE="HOST=ADDR:PORT,...": the first entry whose HOST is "*" or
// the URL's host (any letter case) gives the place to connect to instead.
std::optional<Endpoint> resolveOverride(const std::string &host)
{
    const char *setting = std::getenv(kResolveVariable);
    if (setting == nullptr)
        return std::nullopt;
    const std::string entries = setting;
    const std::string wanted = LowerCase(host);
    std::size_t start = 0;
    while (start <= entries.size()) {
        std::size_t end = entries.find(',', start);
        if (end == std::string::npos)
            end = entries.size();
        std::string entry = entries.substr(start, end - start);
        start = end + 1;
        // Blanks around an entry are for readability only.
        entry.erase(0, entry.find_first_not_of(' '));
        entry.erase(entry.find_last_not_of(' ') + 1);

        const std::size_t equals = entry.find('=');
        const std::size_t colon = entry.rfind(':');
        if (equals == std::string::npos || colon == std::string::npos || colon < equals)
            continue;
        const std::string name = LowerCase(entry.substr(0, equals));
        if (name != "*" && name != wanted)
            continue;
        std::int64_t port = 0;
        Endpoint endpoint;
        if (!ParseDecimal(entry.substr(colon + 1), port) || port < 1 || port > 65535
            || !resolveHost(entry.substr(equals + 1, colon - equals - 1), endpoint.address))
            continue;
        endpoint.port = static_cast<std::uint16_t>(port);
        return endpoint;
    }
    return std::nullopt;
}

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

// Waits for events on fd until deadline and returns what poll reported; 0 on
// time-out or error.
short waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd entry{fd, events, 0};
        const int timeout = millisecondsUntil(deadline);
        const int ready = ::poll(&entry, 1, timeout);
        if (ready > 0)
            return entry.revents;
        if (ready == 0 || errno != EINTR)
            return 0;
    }
}

// Closes with a shutdown for sending first, whatever happened before.
class Socket {
public:
    Socket() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {}
    ~Socket()
    {
        if (m_fd >= 0) {
            ::shutdown(m_fd, SHUT_WR);
            ::close(m_fd);
        }
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;

    int fd() const { return m_fd; }

private:
    int m_fd;
};

bool connectTo(const Socket &socket, const Endpoint &endpoint, Clock::time_point callDeadline)
{
    // The local port is left to connect, which may reuse a port that lingers
    // in TIME_WAIT towards another peer. Chosen at bind time, every port that
    // still lingers anywhere is passed over, and after a few thousand
    // connections (one search makes 61) each bind scans for a free one.
    const int late = 1;
    ::setsockopt(socket.fd(), IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &late, sizeof late);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(socket.fd(), reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0)
        return false;

    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr = endpoint.address;
    remote.sin_port = htons(endpoint.port);
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr *>(&remote), sizeof remote) == 0)
        return true;
    if (errno != EINPROGRESS)
        return false;
    const auto deadline = std::min(callDeadline, Clock::now() + kConnectTimeout);
    const short ready = waitFor(socket.fd(), POLLOUT, deadline);
    if (ready == 0)
        return false;
    // A failed connect always reports POLLERR or POLLHUP; only then is the
    // reason worth a system call.
    if ((ready & (POLLERR | POLLHUP)) == 0)
        return true;
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

bool sendAll(const Socket &socket, const std::string &bytes, Clock::time_point callDeadline)
{
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t sent = ::send(socket.fd(), bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (sent > 0) {
            offset += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return false;
        if (!waitFor(socket.fd(), POLLOUT, std::min(callDeadline, Clock::now() + kIdleTimeout)))
            return false;
    }
    return true;
}

class SocketSource final : public ByteSource {
public:
    SocketSource(const Socket &socket, Clock::time_point callDeadline)
        : m_socket(socket), m_callDeadline(callDeadline)
    {
    }

    long long read(char *data, std::size_t size) override
    {
        // The answer cannot be there the moment the request has gone out, so
        // the first read waits before it asks rather than after a miss.
        if (m_firstRead) {
            m_firstRead = false;
            if (!waitFor(m_socket.fd(), POLLIN, std::min(m_callDeadline, Clock::now() + kIdleTimeout)))
                return -1;
        }
        for (;;) {
            const ssize_t received = ::recv(m_socket.fd(), data, size, 0);
            if (received >= 0)
                return received;
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return -1;
            if (!waitFor(m_socket.fd(), POLLIN, std::min(m_callDeadline, Clock::now() + kIdleTimeout)))
                return -1;
        }
    }

private:
    const Socket &m_socket;
    Clock::time_point m_callDeadline;
    bool m_firstRead = true;
};

std::string requestBytes(const Target &target)
{
    std::string request;
    request.reserve(target.path.size() + target.host.size() + 128);
    request.append("GET ").append(target.path).append(" HTTP/1.1\r\n");
    request.append("Host: ").append(target.host).append("\r\n");
    request.append("Accept: ").append(kAccept).append("\r\n");
    request.append("User-Agent: ").append(kUserAgent).append("\r\n");
    request.append("\r\n");
    return request;
}

void fetch(const std::string &url, std::string &buffer, int port, HttpGetStatus &status)
{
    const auto callDeadline = Clock::now() + kCallTimeout;
    const std::optional<Target> target = splitUrl(url);
    if (!target || LowerCase(target->scheme) == "https")
        return;

    Endpoint endpoint;
    if (const auto override = resolveOverride(target->host)) {
        endpoint = *override;
    } else {
        const int chosen = target->port.value_or(port);
        if (chosen < 0 || chosen > 65535 || !resolveHost(target->host, endpoint.address))
            return;
        endpoint.port = static_cast<std::uint16_t>(chosen);
    }

    Socket socket;
    if (socket.fd() < 0 || !connectTo(socket, endpoint, callDeadline)
        || !sendAll(socket, requestBytes(*target), callDeadline))
        return;
    SocketSource source(socket, callDeadline);
    const ResponseOutcome outcome = ReadResponse(source, buffer);
    status.answered = outcome.headComplete;
    status.code = outcome.headComplete ? outcome.head.status : 0;
}

std::atomic<std::uint64_t> callsBegun{0};

} // namespace

std::uint64_t HttpGetCalls()
{
    return callsBegun.load(std::memory_order_relaxed);
}

void HttpGet(const std::string &url, std::string &buffer, int port)
{
    HttpGetStatus ignored;
    HttpGet(url, buffer, port, ignored);
}

void HttpGet(const std::string &url, std::string &buffer, int port, HttpGetStatus &status)
{
    callsBegun.fetch_add(1, std::memory_order_relaxed);
    status = HttpGetStatus();
    try {
        fetch(url, buffer, port, status);
    } catch (...) {
        // Errors end the call silently; the buffer and status are all the caller sees.
    }
}

} // namespace kelvora
