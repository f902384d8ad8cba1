#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <string>

using namespace std::chrono_literals;

namespace kelvora::testsupport {
namespace {

struct Reply {
    std::string bytes;
    bool reset = false;
};

// A plain blocking client with a receive time-out, independent of HttpGet.
int connectAndSend(std::uint16_t port, const std::string &request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    return fd;
}

Reply exchange(std::uint16_t port, const std::string &request)
{
    Reply reply;
    const int fd = connectAndSend(port, request);
    if (fd >= 0) {
        char piece[4096];
        ssize_t received;
        while ((received = ::recv(fd, piece, sizeof piece, 0)) > 0)
            reply.bytes.append(piece, static_cast<std::size_t>(received));
        reply.reset = received < 0;
        ::close(fd);
    }
    return reply;
}

TEST(LoopbackServer, ScriptsPlayInOrderAndRequestsAreRecorded)
{
    LoopbackServer server({Send("a"), SendRepeated("bc", 3), Drip("de", 1ms), Sleep(1ms), Send("f"), Close(),
                           Send("never")});
    EXPECT_EQ(exchange(server.port(), "GET /1 HTTP/1.1\r\n\r\n").bytes, "abcbcbcdef");
    EXPECT_EQ(exchange(server.port(), "GET /2 HTTP/1.1\nHost: x\n\n").bytes, "abcbcbcdef");
    ASSERT_TRUE(server.waitForRequests(2, 5s));
    EXPECT_EQ(server.requests(), (std::vector<std::string>{"GET /1 HTTP/1.1\r\n\r\n", "GET /2 HTTP/1.1\nHost: x\n\n"}));
    EXPECT_EQ(server.connectionCount(), 2u);
    EXPECT_EQ(server.bytesSent(), 20u);
    EXPECT_EQ(server.url("/p"), "http://127.0.0.1:" + std::to_string(server.port()) + "/p");
}

TEST(LoopbackServer, HandlersAnswerByRequest)
{
    LoopbackServer raw([](const std::string &head) {
        return head.find("Host: b.test") != std::string::npos ? std::string("B") : std::string("A");
    });
    EXPECT_EQ(exchange(raw.port(), "GET / HTTP/1.1\r\nHost: a.test\r\n\r\n").bytes, "A");
    EXPECT_EQ(exchange(raw.port(), "GET / HTTP/1.1\r\nHost: b.test\r\n\r\n").bytes, "B");

    LoopbackServer scripted([](const std::string &head) -> Script {
        if (head.rfind("GET /broken", 0) == 0)
            return {Send("x"), Sleep(200ms), Reset()};
        return {Send("fine")};
    });
    EXPECT_EQ(exchange(scripted.port(), "GET /ok HTTP/1.1\r\n\r\n").bytes, "fine");
    const Reply broken = exchange(scripted.port(), "GET /broken HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(broken.reset);
    EXPECT_EQ(broken.bytes, "x");
}

TEST(LoopbackServer, HeldConnectionsEndWithTheServer)
{
    const auto start = std::chrono::steady_clock::now();
    {
        LoopbackServer server({Hold()});
        const int first = connectAndSend(server.port(), "GET /1 HTTP/1.1\r\n\r\n");
        ASSERT_GE(first, 0);
        ASSERT_TRUE(server.waitForRequests(1, 5s));
        // A second connection is served although the first is held.
        const int second = connectAndSend(server.port(), "GET /2 HTTP/1.1\r\n\r\n");
        ASSERT_GE(second, 0);
        EXPECT_TRUE(server.waitForRequests(2, 5s));
        ::close(first);
        ::close(second);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

} // namespace
} // namespace kelvora::testsupport
