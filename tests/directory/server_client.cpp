#include "tests/directory/server_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>

namespace kelvora::directory::testing {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Length of the whole response at the start of bytes; 0 when incomplete.
std::size_t ResponseLength(const std::string &bytes, bool head)
{
    const std::size_t end = bytes.find("\r\n\r\n");
    if (end == std::string::npos)
        return 0;
    const std::string headText = bytes.substr(0, end + 2);
    std::size_t body = 0;
    const std::size_t length = headText.find("\r\nContent-Length: ");
    if (length != std::string::npos && !head)
        body = std::stoul(headText.substr(length + 18));
    const std::size_t total = end + 4 + body;
    return bytes.size() >= total ? total : 0;
}

} // namespace

RawClient::RawClient(int port, const char *source)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<std::uint16_t>(port));
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) != 0) {
        ::close(fd);
        return;
    }
    m_fd = fd;
}

RawClient::~RawClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

RawClient::RawClient(RawClient &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{
}

RawClient &RawClient::operator=(RawClient &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool RawClient::Send(const std::string &bytes)
{
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const ssize_t sent = ::send(m_fd, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        offset += static_cast<std::size_t>(sent);
    }
    return true;
}

void RawClient::ShutdownSending()
{
    ::shutdown(m_fd, SHUT_WR);
}

std::string RawClient::ReadResponses(std::size_t count, std::chrono::milliseconds limit, bool head)
{
    std::string received;
    const auto deadline = Clock::now() + limit;
    char buffer[16384];
    while (SplitResponses(received, head).size() < count) {
        pollfd ready{m_fd, POLLIN, 0};
        if (::poll(&ready, 1, MillisecondsUntil(deadline)) <= 0)
            break;
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        received.append(buffer, static_cast<std::size_t>(got));
    }
    return received;
}

bool RawClient::ReadUntilClosed(std::string &received, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    char buffer[16384];
    for (;;) {
        pollfd ready{m_fd, POLLIN, 0};
        if (::poll(&ready, 1, MillisecondsUntil(deadline)) <= 0)
            return false;
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return true;
        received.append(buffer, static_cast<std::size_t>(got));
    }
}

bool RawClient::ClosedByServer(std::string &received)
{
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            received.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        return got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    }
}

std::vector<std::string> SplitResponses(const std::string &bytes, bool head)
{
    std::vector<std::string> responses;
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const std::string rest = bytes.substr(offset);
        const std::size_t length = ResponseLength(rest, head);
        if (length == 0)
            break;
        responses.push_back(rest.substr(0, length));
        offset += length;
    }
    return responses;
}

std::string StatusLineOf(const std::string &response)
{
    return response.substr(0, response.find("\r\n"));
}

bool HasHeader(const std::string &response, const std::string &line)
{
    const std::size_t end = response.find("\r\n\r\n");
    return response.substr(0, end == std::string::npos ? response.size() : end + 2).find("\r\n" + line + "\r\n") !=
           std::string::npos;
}

} // namespace kelvora::directory::testing
