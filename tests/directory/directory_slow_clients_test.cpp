// Slow and idle clients held against the server for half a minute must not
// delay anyone else: the server ends them on its deadlines, and a normal
// request sent meanwhile is answered at once.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>
#include <vector>

#include "directory/core/server.h"
#include "tests/directory/fixture_db.h"
#include "tests/directory/server_client.h"

using namespace kelvora::directory;
using namespace std::chrono_literals;
using namespace kelvora::directory::testing;

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr std::size_t kDrippers = 200;
constexpr std::size_t kIdlers = 500;
constexpr auto kHold = 30s;
constexpr auto kDripInterval = 3s;
constexpr auto kNormalInterval = 250ms;
constexpr auto kAnswerWithin = 1s;
// Client and server ends of every connection live in this one process.
constexpr rlim_t kDescriptorsNeeded = 2 * (kDrippers + kIdlers) + 600;

const std::string kRequest = "GET /data/details/?url=www.seedbank.test HTTP/1.1\r\nHost: x\r\n\r\n";

struct HeldClient {
    RawClient client;
    bool drips = false;
    std::size_t sent = 0;
    Clock::time_point opened;
    Clock::time_point firstByte;
    Clock::time_point nextByte;
    std::string received;
};

struct Tally {
    std::size_t timedOut = 0;          // drippers answered 408
    std::size_t dripEnds = 0;
    std::size_t idleEnds = 0;
    Seconds longestDrip{0};            // from a dripper's first byte to its end
    Seconds longestIdle{0};
    std::size_t reconnectFailures = 0;
};

// Keeps kDrippers connections sending the request a byte every 3 s and
// kIdlers connections silent, reopening any the server ends.
class Crowd final {
public:
    explicit Crowd(int port) : m_port(port)
    {
        const auto now = Clock::now();
        for (std::size_t i = 0; i < kDrippers + kIdlers; ++i) {
            HeldClient held{RawClient(port), i < kDrippers, 0, now, now, now, {}};
            // Spread the drips over the interval rather than in one burst.
            held.nextByte = now + kDripInterval * static_cast<long>(i) / static_cast<long>(kDrippers);
            m_clients.push_back(std::move(held));
        }
    }

    void RunUntil(const std::atomic<bool> &stop)
    {
        std::vector<pollfd> ready(m_clients.size());
        while (!stop) {
            for (std::size_t i = 0; i < m_clients.size(); ++i)
                ready[i] = {m_clients[i].client.Descriptor(), POLLIN, 0};
            ::poll(ready.data(), ready.size(), 50);
            const auto now = Clock::now();
            for (std::size_t i = 0; i < m_clients.size(); ++i) {
                HeldClient &held = m_clients[i];
                if (ready[i].revents != 0 && held.client.ClosedByServer(held.received))
                    Ended(held, now);
                if (held.drips && now >= held.nextByte && held.sent + 1 < kRequest.size()) {
                    if (held.sent == 0)
                        held.firstByte = now;
                    held.client.Send(kRequest.substr(held.sent++, 1));
                    held.nextByte = now + kDripInterval;
                }
            }
        }
    }

    const Tally &tally() const { return m_tally; }

private:
    void Ended(HeldClient &held, Clock::time_point now)
    {
        if (held.drips) {
            ++m_tally.dripEnds;
            if (StatusLineOf(held.received) == "HTTP/1.1 408 Request Timeout")
                ++m_tally.timedOut;
            m_tally.longestDrip = std::max(m_tally.longestDrip, Seconds(now - held.firstByte));
        } else {
            ++m_tally.idleEnds;
            m_tally.longestIdle = std::max(m_tally.longestIdle, Seconds(now - held.opened));
        }
        held.client = RawClient(m_port);
        if (!held.client.Connected())
            ++m_tally.reconnectFailures;
        held.sent = 0;
        held.received.clear();
        held.opened = now;
        held.nextByte = now;
    }

    int m_port;
    std::vector<HeldClient> m_clients;
    Tally m_tally;
};

} // namespace

TEST(SlowClients, DripsAndIdleConnectionsDoNotDelayOthers)
{
    DirectoryServer server(FixtureAnswers());
    std::string error;
    ASSERT_TRUE(server.Bind("127.0.0.1", 0, error)) << error;   // also raises the descriptor limit
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < kDescriptorsNeeded)
        GTEST_SKIP() << "needs " << kDescriptorsNeeded << " descriptors, the limit is " << limit.rlim_cur;
    ASSERT_TRUE(server.ServeInBackground(error)) << error;

    Crowd crowd(server.Port());
    std::atomic<bool> stop{false};
    std::thread holder([&] { crowd.RunUntil(stop); });

    std::size_t normal = 0;
    std::size_t answered = 0;
    Seconds slowest{0};
    const auto end = Clock::now() + kHold;
    while (Clock::now() < end) {
        const auto start = Clock::now();
        RawClient client(server.Port());
        std::string reply;
        if (client.Send(kRequest))
            reply = client.ReadResponses(1, 5000ms);
        const Seconds took = Clock::now() - start;
        ++normal;
        const auto responses = SplitResponses(reply);
        if (responses.size() == 1 && StatusLineOf(reply) == "HTTP/1.1 200 OK" &&
            reply.find("Traffic rank for www.seedbank.test") != std::string::npos)
            ++answered;
        EXPECT_LT(took, kAnswerWithin) << "request " << normal << ": " << StatusLineOf(reply);
        slowest = std::max(slowest, took);
        std::this_thread::sleep_for(kNormalInterval);
    }
    stop = true;
    holder.join();

    const Tally &tally = crowd.tally();
    RecordProperty("normal_requests", static_cast<int>(normal));
    RecordProperty("slowest_ms", static_cast<int>(slowest.count() * 1000));
    std::cout << normal << " normal requests, slowest " << slowest.count() * 1000 << " ms; "
              << tally.dripEnds << " drips ended (" << tally.timedOut << " with 408, longest "
              << tally.longestDrip.count() << " s), " << tally.idleEnds << " idle ended (longest "
              << tally.longestIdle.count() << " s)\n";
    EXPECT_EQ(answered, normal);
    EXPECT_GE(normal, 60u);
    // Every dripper was cut off by the whole-request deadline, every idle
    // connection by the idle time-out, and each could come back.
    EXPECT_GE(tally.timedOut, kDrippers);
    EXPECT_EQ(tally.timedOut, tally.dripEnds);
    EXPECT_LT(tally.longestDrip, Seconds(12));
    EXPECT_GE(tally.idleEnds, kIdlers);
    EXPECT_LT(tally.longestIdle, Seconds(7));
    EXPECT_EQ(tally.reconnectFailures, 0u);
}
