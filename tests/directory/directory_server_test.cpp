// The server's connection handling over real loopback sockets: pipelining,
// half-closed clients, deadlines, caps and a busy worker pool.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "directory/core/server.h"
#include "tests/directory/fixture_db.h"
#include "tests/directory/server_client.h"

using namespace kelvora::directory;
using namespace std::chrono_literals;
using namespace kelvora::directory::testing;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kWait = 5000ms;
const std::string kDetails = "GET /data/details/?url=www.seedbank.test HTTP/1.1\r\nHost: x\r\n\r\n";

class Running final {
public:
    explicit Running(DirectoryServer &server, const ServerLimits &limits = ServerLimits())
        : m_server(server)
    {
        std::string error;
        m_server.SetLimits(limits);
        m_bound = m_server.Bind("127.0.0.1", 0, error) && m_server.ServeInBackground(error);
        EXPECT_TRUE(m_bound) << error;
    }
    int Port() const { return m_server.Port(); }

private:
    DirectoryServer &m_server;
    bool m_bound = false;
};

// A responder that holds every request until released, like a live source
// waiting on an upstream site.
class Gate final {
public:
    Reply Respond(std::string_view path)
    {
        std::unique_lock lock(m_mutex);
        ++m_waiting;
        m_changed.notify_all();
        m_changed.wait_for(lock, 10s, [this] { return m_open; });
        return {200, "<html>" + std::string(path) + "</html>"};
    }
    bool WaitForWaiting(int count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kWait, [&] { return m_waiting >= count; });
    }
    void Open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_waiting = 0;
    bool m_open = false;
};

} // namespace

TEST(ServerConnections, PipelinedRequestsAreAnsweredInOrder)
{
    DirectoryServer server(FixtureAnswers());
    Running running(server);
    RawClient client(running.Port());
    ASSERT_TRUE(client.Connected());
    // Three requests in one write, the last asking to close.
    ASSERT_TRUE(client.Send("GET /nowhere HTTP/1.1\r\nHost: x\r\n\r\n" + kDetails +
                            "GET / HTTP/1.1\r\nHost: www.toolshed.test\r\nConnection: close\r\n\r\n"));
    std::string received;
    EXPECT_TRUE(client.ReadUntilClosed(received, kWait));
    const auto responses = SplitResponses(received);
    ASSERT_EQ(responses.size(), 3u) << received;
    EXPECT_EQ(StatusLineOf(responses[0]), "HTTP/1.1 404 Not Found");
    EXPECT_NE(responses[1].find("Traffic rank for www.seedbank.test"), std::string::npos);
    EXPECT_NE(responses[2].find("<title>The Toolshed"), std::string::npos) << responses[2];
    EXPECT_TRUE(HasHeader(responses[2], "Connection: close"));
    EXPECT_FALSE(HasHeader(responses[1], "Connection: close"));

    // A pipelined HEAD answer has no body, so the GET's answer follows its head directly.
    RawClient again(running.Port());
    ASSERT_TRUE(again.Send("HEAD /search?p=garden HTTP/1.1\r\nHost: x\r\n\r\n"
                           "GET /data/details/?url=www.seedbank.test HTTP/1.1\r\nConnection: close\r\n\r\n"));
    std::string both;
    EXPECT_TRUE(again.ReadUntilClosed(both, kWait));
    const std::size_t headEnd = both.find("\r\n\r\n") + 4;
    EXPECT_EQ(StatusLineOf(both), "HTTP/1.1 200 OK");
    const std::string second = both.substr(headEnd);
    EXPECT_EQ(StatusLineOf(second), "HTTP/1.1 200 OK") << both;
    const auto rest = SplitResponses(second);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_NE(rest[0].find("Traffic rank for www.seedbank.test"), std::string::npos);
}

TEST(ServerConnections, AnswersRequestsSentBeforeTheClientShutItsSendingSide)
{
    DirectoryServer server(FixtureAnswers());
    Running running(server);
    for (const std::string &requests : {kDetails, kDetails + kDetails}) {
        RawClient client(running.Port());
        ASSERT_TRUE(client.Send(requests));
        client.ShutdownSending();   // as a client fed from a pipe does
        std::string received;
        EXPECT_TRUE(client.ReadUntilClosed(received, kWait));
        const auto responses = SplitResponses(received);
        ASSERT_EQ(responses.size(), requests.size() / kDetails.size()) << received;
        for (const std::string &response : responses)
            EXPECT_NE(response.find("Traffic rank for www.seedbank.test"), std::string::npos);
    }
    // Half a request and then the shutdown: nothing to answer, the connection ends.
    RawClient partial(running.Port());
    ASSERT_TRUE(partial.Send("GET /data/details/?url=www.seedbank.test HTTP/1.1\r\nHo"));
    partial.ShutdownSending();
    std::string received;
    EXPECT_TRUE(partial.ReadUntilClosed(received, kWait));
    EXPECT_EQ(received, "");
}

TEST(ServerConnections, DeadlinesEndSlowHeadsAndIdleConnections)
{
    ServerLimits limits;
    limits.requestDeadline = 800ms;
    limits.idleTimeout = 400ms;
    DirectoryServer server(FixtureAnswers());
    Running running(server, limits);

    // A head dripping in, a byte every 100 ms, is cut off at the whole-head
    // deadline although no single wait is long.
    RawClient drip(running.Port());
    const auto start = Clock::now();
    std::string received;
    bool closed = false;
    for (std::size_t i = 0; i < kDetails.size() - 1 && !closed; ++i) {
        drip.Send(kDetails.substr(i, 1));
        std::this_thread::sleep_for(100ms);
        closed = drip.ClosedByServer(received);
    }
    if (!closed)
        closed = drip.ReadUntilClosed(received, kWait);
    const auto dripTime = Clock::now() - start;
    EXPECT_TRUE(closed);
    EXPECT_EQ(StatusLineOf(received), "HTTP/1.1 408 Request Timeout");
    EXPECT_TRUE(HasHeader(received, "Connection: close"));
    EXPECT_GE(dripTime, 750ms);
    EXPECT_LT(dripTime, 2500ms);

    // A connection that says nothing, and one idle after its answer, are closed.
    RawClient silent(running.Port());
    RawClient kept(running.Port());
    ASSERT_TRUE(kept.Send(kDetails));
    EXPECT_EQ(SplitResponses(kept.ReadResponses(1, kWait)).size(), 1u);
    const auto idleStart = Clock::now();
    std::string nothing;
    EXPECT_TRUE(silent.ReadUntilClosed(nothing, kWait));
    EXPECT_TRUE(kept.ReadUntilClosed(nothing, kWait));
    EXPECT_EQ(nothing, "");
    EXPECT_LT(Clock::now() - idleStart, 2000ms);
}

TEST(ServerConnections, ConnectionsBeyondTheCapsGet503AndAClose)
{
    ServerLimits limits;
    limits.maxConnectionsPerAddress = 3;
    limits.maxConnections = 5;
    DirectoryServer server(FixtureAnswers());
    Running running(server, limits);

    std::vector<RawClient> held;
    for (int i = 0; i < 3; ++i)
        held.emplace_back(running.Port(), "127.0.0.1");
    auto refused = [&](const char *source) {
        RawClient client(running.Port(), source);
        client.Send(kDetails);
        std::string received;
        const bool closed = client.ReadUntilClosed(received, kWait);
        return closed && StatusLineOf(received) == "HTTP/1.1 503 Service Unavailable" &&
               HasHeader(received, "Connection: close");
    };
    // A fourth from the same address is refused; other addresses still fit.
    EXPECT_TRUE(refused("127.0.0.1"));
    held.emplace_back(running.Port(), "127.0.0.2");
    held.emplace_back(running.Port(), "127.0.0.3");
    // Five in all: now anyone is refused.
    EXPECT_TRUE(refused("127.0.0.4"));

    // Every held connection is still served, and a freed place is taken again.
    ASSERT_TRUE(held[0].Send(kDetails));
    EXPECT_EQ(SplitResponses(held[0].ReadResponses(1, kWait)).size(), 1u);
    held.pop_back();
    std::this_thread::sleep_for(200ms);   // the server sees the close
    RawClient next(running.Port(), "127.0.0.4");
    ASSERT_TRUE(next.Send(kDetails));
    const std::string answer = next.ReadResponses(1, kWait);
    EXPECT_EQ(StatusLineOf(answer), "HTTP/1.1 200 OK");
}

TEST(ServerConnections, BusyWorkersAnswer503InsteadOfQueueingWithoutBound)
{
    Gate gate;
    DirectoryServer server([&gate](std::string_view path, std::string_view, std::string_view) {
        return gate.Respond(path);
    });
    ServerLimits limits;
    limits.workerThreads = 2;
    limits.maxQueuedRequests = 1;
    Running running(server, limits);

    std::vector<RawClient> waiting;
    for (int i = 0; i < 3; ++i) {
        waiting.emplace_back(running.Port());
        waiting.back().Send("GET /held" + std::to_string(i) + " HTTP/1.1\r\nHost: x\r\n\r\n");
        if (i < 2) {
            ASSERT_TRUE(gate.WaitForWaiting(i + 1));
        }
    }
    std::this_thread::sleep_for(100ms);   // the third is queued
    // Both workers blocked and the queue full: the next request is refused at once.
    const auto start = Clock::now();
    RawClient extra(running.Port());
    ASSERT_TRUE(extra.Send("GET /extra HTTP/1.1\r\nHost: x\r\n\r\n"));
    std::string received;
    EXPECT_TRUE(extra.ReadUntilClosed(received, kWait));
    EXPECT_EQ(StatusLineOf(received), "HTTP/1.1 503 Service Unavailable");
    EXPECT_TRUE(HasHeader(received, "Connection: close"));
    EXPECT_LT(Clock::now() - start, 1000ms);

    gate.Open();
    for (int i = 0; i < 3; ++i) {
        const std::string answer = waiting[i].ReadResponses(1, kWait);
        EXPECT_EQ(StatusLineOf(answer), "HTTP/1.1 200 OK") << i;
        EXPECT_NE(answer.find("<html>/held" + std::to_string(i) + "</html>"), std::string::npos);
    }
}

TEST(ServerConnections, StopEndsServeEvenBeforeItBegan)
{
    DirectoryServer server(FixtureAnswers());
    std::string error;
    ASSERT_TRUE(server.Bind("127.0.0.1", 0, error)) << error;
    server.Stop();
    const auto start = Clock::now();
    server.Serve();   // returns at once
    EXPECT_LT(Clock::now() - start, 1000ms);
}
