#include "web/http.h"
#include "web/http_response.h"

#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <random>
#include <string>

using namespace std::chrono_literals;

// Replies that try to hold HttpGet for ever or make it swallow unbounded
// memory. Each case must end within the fetch's time limits (15 s without a
// byte, 60 s per call) and keep the process small; the slow cases run as
// separate ctest tests with their own time-out.
namespace kelvora {
namespace {

using testsupport::Close;
using testsupport::Drip;
using testsupport::Hold;
using testsupport::LoopbackServer;
using testsupport::Reset;
using testsupport::Script;
using testsupport::Send;
using testsupport::SendRepeated;
using testsupport::Sleep;

using Seconds = std::chrono::duration<double>;

constexpr long kMaxPeakRssKiB = 200 * 1024;
// Generous against a loaded machine, yet far below any limit being missed.
constexpr Seconds kQuick{10};

struct Fetched {
    std::string buffer;
    Seconds elapsed;
};

Fetched timedFetch(const LoopbackServer &server)
{
    Fetched fetched;
    const auto start = std::chrono::steady_clock::now();
    HttpGet(server.url("/hostile"), fetched.buffer, 80);
    fetched.elapsed = std::chrono::steady_clock::now() - start;
    return fetched;
}

long peakRssKiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class HostileServer : public ::testing::Test {
protected:
    void TearDown() override
    {
        const long peak = peakRssKiB();
        RecordProperty("peak_rss_kib", static_cast<int>(peak));
        EXPECT_LT(peak, kMaxPeakRssKiB) << "peak RSS " << peak << " KiB";
    }
};

std::string binaryBlock(std::size_t size)
{
    std::mt19937 random(7);
    std::string block(size, '\0');
    for (char &c : block) {
        do {
            c = static_cast<char>(random());
        } while (c == '\n' || c == ' ');
    }
    return block;
}

// --- Cases that end on a bound, quickly ---------------------------------

TEST_F(HostileServer, HeadersForever)
{
    LoopbackServer server({Send("HTTP/1.1 200 OK\r\n"), SendRepeated("X-Again: and again\r\n", 0)});
    const Fetched fetched = timedFetch(server);
    EXPECT_EQ(fetched.buffer, "");
    EXPECT_LT(fetched.elapsed, kQuick);
}

TEST_F(HostileServer, HundredMegabyteHeaderLine)
{
    LoopbackServer server(
        {Send("HTTP/1.1 200 OK\r\nX-Long: "), SendRepeated(std::string(1 << 20, 'a'), 100), Send("\r\n\r\nbody"), Close()});
    const Fetched fetched = timedFetch(server);
    EXPECT_EQ(fetched.buffer, "");
    EXPECT_LT(fetched.elapsed, kQuick);
    // The client gave up long before the end of the line.
    EXPECT_LT(server.bytesSent(), 100u << 20);
}

TEST_F(HostileServer, HugeChunkSize)
{
    LoopbackServer server({Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\n"),
                           SendRepeated(std::string(1 << 16, 'c'), 0)});
    const Fetched fetched = timedFetch(server);
    EXPECT_EQ(fetched.buffer.size(), kMaxBody);
    EXPECT_EQ(fetched.buffer.find_first_not_of('c'), std::string::npos);
    EXPECT_LT(fetched.elapsed, kQuick);
}

TEST_F(HostileServer, EndlessBody)
{
    LoopbackServer server({Send("HTTP/1.1 200 OK\r\n\r\n"), SendRepeated(std::string(1 << 16, 'e'), 0)});
    const Fetched fetched = timedFetch(server);
    EXPECT_EQ(fetched.buffer.size(), kMaxBody);
    EXPECT_EQ(fetched.buffer.find_first_not_of('e'), std::string::npos);
    EXPECT_LT(fetched.elapsed, kQuick);
}

TEST_F(HostileServer, ResetInHeaders)
{
    LoopbackServer server({Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nX-Half"), Sleep(200ms), Reset()});
    const Fetched fetched = timedFetch(server);
    EXPECT_EQ(fetched.buffer, "");
    EXPECT_LT(fetched.elapsed, kQuick);
}

TEST_F(HostileServer, ResetInBody)
{
    constexpr std::size_t kSent = 1 << 20;
    LoopbackServer server({Send("HTTP/1.1 200 OK\r\nContent-Length: 10000000\r\n\r\n"),
                           SendRepeated(std::string(1024, 'r'), kSent / 1024), Sleep(300ms), Reset()});
    const Fetched fetched = timedFetch(server);
    // What arrived before the reset, no more and nothing else.
    EXPECT_GT(fetched.buffer.size(), 0u);
    EXPECT_LE(fetched.buffer.size(), kSent);
    EXPECT_EQ(fetched.buffer.find_first_not_of('r'), std::string::npos);
    EXPECT_LT(fetched.elapsed, kQuick);
}

TEST_F(HostileServer, BinaryStatusLine)
{
    {
        LoopbackServer server({Send(binaryBlock(4096) + "\r\n\r\nbody"), Close()});
        const Fetched fetched = timedFetch(server);
        EXPECT_EQ(fetched.buffer, "");
        EXPECT_LT(fetched.elapsed, kQuick);
    }
    {
        // Without a line feed at all, the line bound ends it.
        LoopbackServer server({SendRepeated(binaryBlock(4096), 0)});
        const Fetched fetched = timedFetch(server);
        EXPECT_EQ(fetched.buffer, "");
        EXPECT_LT(fetched.elapsed, kQuick);
    }
}

TEST_F(HostileServer, HundredThousandHeaderLines)
{
    std::string head = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 100000; ++i)
        head += "X-" + std::to_string(i) + ": v\r\n";
    LoopbackServer server({Send(head + "Content-Length: 4\r\n\r\nbody"), Close()});
    const Fetched fetched = timedFetch(server);
    EXPECT_EQ(fetched.buffer, "");
    EXPECT_LT(fetched.elapsed, kQuick);
}

TEST_F(HostileServer, EndlessInterimResponses)
{
    LoopbackServer server({SendRepeated("HTTP/1.1 100 Continue\r\n\r\n", 0)});
    const Fetched fetched = timedFetch(server);
    EXPECT_EQ(fetched.buffer, "");
    EXPECT_LT(fetched.elapsed, kQuick);
}

TEST_F(HostileServer, HugeInterimHeads)
{
    // Each interim head stays under the head bound, together they exceed it.
    const std::string interim = "HTTP/1.1 100 Continue\r\nX-Pad: " + std::string(60000, 'p') + "\r\n\r\n";
    LoopbackServer server({SendRepeated(interim, 30), Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"), Hold()});
    const Fetched fetched = timedFetch(server);
    EXPECT_EQ(fetched.buffer, "");
    EXPECT_LT(fetched.elapsed, kQuick);
}

TEST_F(HostileServer, EmptyBodiesOnAConnectionKeptOpen)
{
    // Complete at once: waiting for a close that never comes would freeze the window.
    for (const std::string head : {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n",
                                   "HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n",
                                   "HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n"}) {
        LoopbackServer server({Send(head), Hold()});
        const Fetched fetched = timedFetch(server);
        EXPECT_EQ(fetched.buffer, "") << head;
        EXPECT_LT(fetched.elapsed, Seconds(5)) << head;
    }
}

TEST_F(HostileServer, ChunkedFramingThatOverridesALength)
{
    // A Content-Length far beyond the chunks must not make the fetch wait for bytes that never come.
    LoopbackServer server({Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nTransfer-Encoding: CHUNKED\r\n\r\n"
                                "5;ext=\"a;b\"\r\nhello\r\n0\r\n\r\n"),
                           Hold()});
    const Fetched fetched = timedFetch(server);
    EXPECT_EQ(fetched.buffer, "hello");
    EXPECT_LT(fetched.elapsed, Seconds(5));
}

TEST_F(HostileServer, EndlessChunkExtension)
{
    // A size line that never ends hits the line bound: the chunks before it stay.
    LoopbackServer server({Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n1;"),
                           SendRepeated("x=y;", 0)});
    const Fetched fetched = timedFetch(server);
    EXPECT_EQ(fetched.buffer, "ok");
    EXPECT_LT(fetched.elapsed, kQuick);
}

// --- Cases that end on a time limit --------------------------------------

TEST_F(HostileServer, NeverAnswers)
{
    LoopbackServer server({Hold()});
    const Fetched fetched = timedFetch(server);
    EXPECT_EQ(fetched.buffer, "");
    EXPECT_GE(fetched.elapsed, Seconds(14.5));
    EXPECT_LT(fetched.elapsed, Seconds(25));
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(HostileServer, SilenceAfterBodyWithoutLength)
{
    LoopbackServer server({Send("HTTP/1.1 200 OK\r\n\r\npartial page"), Hold()});
    const Fetched fetched = timedFetch(server);
    EXPECT_EQ(fetched.buffer, "partial page");
    EXPECT_GE(fetched.elapsed, Seconds(14.5));
    EXPECT_LT(fetched.elapsed, Seconds(25));
}

TEST_F(HostileServer, SlowDrip)
{
    // One byte a second never trips the 15-second silence, so the 60-second
    // call limit ends it: the 19-byte head arrives, then about 40 body bytes.
    const std::string body(100, 'd');
    LoopbackServer server({Drip("HTTP/1.1 200 OK\r\n\r\n" + body, 1000ms), Close()});
    const Fetched fetched = timedFetch(server);
    EXPECT_GE(fetched.elapsed, Seconds(59.5));
    EXPECT_LT(fetched.elapsed, Seconds(70));
    EXPECT_GE(fetched.buffer.size(), 35u);
    EXPECT_LE(fetched.buffer.size(), 42u);
    EXPECT_EQ(fetched.buffer.find_first_not_of('d'), std::string::npos);
}

} // namespace
} // namespace kelvora
