#include "web/http.h"
#include "web/http_response.h"

#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

using namespace std::chrono_literals;
using namespace std::string_literals;

namespace kelvora {
namespace {

using testsupport::Close;
using testsupport::Hold;
using testsupport::LoopbackServer;
using testsupport::Reset;
using testsupport::Send;
using testsupport::SendRepeated;
using testsupport::Sleep;

const std::string kRequestTail = "Accept: text/html, */*\r\n"
                                 "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                                 "\r\n";

// Hands out the bytes in pieces of a fixed size, then closes (0) or breaks (-1).
class MemorySource final : public ByteSource {
public:
    MemorySource(std::string bytes, std::size_t piece, bool breaks = false)
        : m_bytes(std::move(bytes)), m_piece(piece), m_breaks(breaks)
    {
    }

    long long read(char *data, std::size_t size) override
    {
        EXPECT_LE(size, kReceivePiece);
        if (m_offset == m_bytes.size())
            return m_breaks ? -1 : 0;
        const std::size_t take = std::min({size, m_piece, m_bytes.size() - m_offset});
        std::copy_n(m_bytes.data() + m_offset, take, data);
        m_offset += take;
        return static_cast<long long>(take);
    }

private:
    std::string m_bytes;
    std::size_t m_piece;
    bool m_breaks;
    std::size_t m_offset = 0;
};

// A head followed by filler bytes without end, to test the bounds without
// holding a large input in memory.
class EndlessSource final : public ByteSource {
public:
    explicit EndlessSource(std::string head) : m_head(std::move(head)) {}

    long long read(char *data, std::size_t size) override
    {
        if (m_offset < m_head.size()) {
            const std::size_t take = std::min(size, m_head.size() - m_offset);
            std::copy_n(m_head.data() + m_offset, take, data);
            m_offset += take;
            return static_cast<long long>(take);
        }
        std::fill_n(data, size, 'b');
        return static_cast<long long>(size);
    }

private:
    std::string m_head;
    std::size_t m_offset = 0;
};

// Sets KELVORA_RESOLVE for one test and removes it afterwards.
class ResolveOverride {
public:
    explicit ResolveOverride(const std::string &value) { ::setenv("KELVORA_RESOLVE", value.c_str(), 1); }
    ~ResolveOverride() { ::unsetenv("KELVORA_RESOLVE"); }
};

std::string fetch(const std::string &url, int port = 80)
{
    std::string buffer;
    HttpGet(url, buffer, port);
    return buffer;
}

TEST(HttpGet, RequestBytesOnTheWire)
{
    LoopbackServer server([](const std::string &) { return "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"s; });
    const std::string port = std::to_string(server.port());
    struct Case { std::string url; int portArgument; std::string firstTwoLines; };
    const Case cases[] = {
        {"http://127.0.0.1:" + port + "/a b\\c#frag", 1, "GET /a b/c HTTP/1.1\r\nHost: 127.0.0.1\r\n"},
        {"http://127.0.0.1:" + port, 1, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n"},
        {"http://127.0.0.1:" + port + "/search?p=link%3Ahttp%3A%2F%2Fexample.test", 1,
         "GET /search?p=link%3Ahttp%3A%2F%2Fexample.test HTTP/1.1\r\nHost: 127.0.0.1\r\n"},
        // Only a fragment in the last segment is dropped.
        {"http://127.0.0.1:" + port + "/a#b/c", 1, "GET /a#b/c HTTP/1.1\r\nHost: 127.0.0.1\r\n"},
        {"http://127.0.0.1:" + port + "/d/e#x#y", 1, "GET /d/e HTTP/1.1\r\nHost: 127.0.0.1\r\n"},
        // No port in the URL: the argument's; a port text that is no number: the argument's.
        {"http://127.0.0.1/p", server.port(), "GET /p HTTP/1.1\r\nHost: 127.0.0.1\r\n"},
        {"http://127.0.0.1:" + port + "?q=1", server.port(), "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n"},
        {"http://LocalHost:" + port + "/", 1, "GET / HTTP/1.1\r\nHost: LocalHost\r\n"},
        {"ftp://127.0.0.1:" + port + "/f", 1, "GET /f HTTP/1.1\r\nHost: 127.0.0.1\r\n"},
        {"http://127.000.0.01:" + port + "/", 1, "GET / HTTP/1.1\r\nHost: 127.000.0.01\r\n"},
    };
    std::size_t expectedRequests = 0;
    for (const Case &c : cases) {
        EXPECT_EQ(fetch(c.url, c.portArgument), "ok") << c.url;
        ASSERT_TRUE(server.waitForRequests(++expectedRequests, 5s));
        EXPECT_EQ(server.requests().back(), c.firstTwoLines + kRequestTail) << c.url;
    }
}

TEST(HttpGet, RefusedOrUnreachableLeavesBufferEmpty)
{
    LoopbackServer server({Send("HTTP/1.1 200 OK\r\n\r\nbody"), Close()});
    const std::string port = std::to_string(server.port());
    // Every call counts as begun, refused or not: the run's pump relies on it.
    const std::uint64_t callsBefore = HttpGetCalls();
    {
        // Even with every host sent to the server, https opens no connection.
        ResolveOverride resolve("*=127.0.0.1:" + port);
        EXPECT_EQ(fetch("https://127.0.0.1:" + port + "/"), "");
        EXPECT_EQ(fetch("HTTPS://x.test/"), "");
        EXPECT_EQ(fetch("no scheme here"), "");
    }
    EXPECT_EQ(server.connectionCount(), 0u);

    // A port nobody listens on: take one from a server that has gone.
    int closedPort = 0;
    {
        LoopbackServer gone({Close()});
        closedPort = gone.port();
    }
    EXPECT_EQ(fetch("http://127.0.0.1:" + std::to_string(closedPort) + "/"), "");
    EXPECT_EQ(fetch("http://127.0.0.1:99999/"), "");
    EXPECT_EQ(HttpGetCalls() - callsBefore, 5u);
}

TEST(HttpGet, ResolveOverrideSendsConnectionElsewhere)
{
    LoopbackServer server({Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nthere"), Close()});
    const std::string target = "127.0.0.1:" + std::to_string(server.port());
    {
        ResolveOverride resolve("other.test=127.0.0.1:1, Search.Example.TEST=" + target + ",*=127.0.0.1:1");
        EXPECT_EQ(fetch("http://search.example.test/search?p=x"), "there");
        ASSERT_TRUE(server.waitForRequests(1, 5s));
        EXPECT_EQ(server.requests()[0],
                  "GET /search?p=x HTTP/1.1\r\nHost: search.example.test\r\n" + kRequestTail);
        // The first match wins, here the wildcard pointing at a closed port.
        EXPECT_EQ(fetch("http://unlisted.test/"), "");
    }
    {
        ResolveOverride resolve("broken entry,*=" + target);
        EXPECT_EQ(fetch("http://any.test:8080/"), "there");
        ASSERT_TRUE(server.waitForRequests(2, 5s));
        EXPECT_EQ(server.requests()[1], "GET / HTTP/1.1\r\nHost: any.test\r\n" + kRequestTail);
    }
}

TEST(HttpGet, BodyWhateverTheStatusAndNoRedirects)
{
    struct Case { std::string response, expected; };
    const Case cases[] = {
        {"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/elsewhere\r\nContent-Length: 5\r\n\r\nmoved",
         "moved"},
        {"HTTP/1.1 404 Not Found\r\n\r\n<h1>gone</h1>", "<h1>gone</h1>"},
        {"HTTP/1.0 200\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n", "abcde"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n12345678", "1234"},
        {"<html>no status line</html>", ""},
    };
    for (const Case &c : cases) {
        // A held connection must not matter when the body has an end of its own.
        const bool ends = c.response.find("Content-Length") != std::string::npos
            || c.response.find("chunked") != std::string::npos;
        if (!ends)
            continue;
        LoopbackServer server({Send(c.response), Hold()});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(fetch(server.url("/")), c.expected) << c.response;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        EXPECT_EQ(server.connectionCount(), 1u);
    }
    for (const Case &c : cases) {
        LoopbackServer server({Send(c.response), Close()});
        EXPECT_EQ(fetch(server.url("/")), c.expected) << c.response;
        EXPECT_EQ(server.connectionCount(), 1u);
    }
}

TEST(HttpGet, ControlBytesInTheUrlAreRefusedBeforeAnythingIsSent)
{
    LoopbackServer server({Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"), Close()});
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
    for (const std::string &bad : {base + "/a\r\nX-Injected: 1", base + "/a\nb", base + "/a\rb", base + "/a\0b"s,
                                   base + "/a\tb", base + "/a\x7f", base + "\x1b/", "http://x.test\r\nHost: y/"s}) {
        EXPECT_EQ(fetch(bad), "") << bad;
    }
    EXPECT_EQ(server.connectionCount(), 0u);

    // Bytes above 0x7f are not control bytes of the request line: UTF-8 goes out as it stands.
    EXPECT_EQ(fetch(base + "/caf\xc3\xa9 \xe6\x97\xa5"), "ok");
    ASSERT_TRUE(server.waitForRequests(1, 5s));
    EXPECT_EQ(server.requests()[0], "GET /caf\xc3\xa9 \xe6\x97\xa5 HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kRequestTail);
}

// Replies whose body is complete at once must not wait for the server to
// close: the window waits for every fetch.
TEST(HttpGet, EmptyAndInterimRepliesEndAtOnceOnAHeldConnection)
{
    struct Case { std::string response, expected; };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", ""},
        {"HTTP/1.1 204 No Content\r\n\r\n", ""},
        {"HTTP/1.1 304 Not Modified\r\nContent-Length: 120\r\n\r\n", ""},
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "ok"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n3;a=b\r\nabc\r\n0\r\n\r\n", "abc"},
    };
    for (const Case &c : cases) {
        LoopbackServer server({Send(c.response), Hold()});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(fetch(server.url("/")), c.expected) << c.response;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << c.response;
    }
}

TEST(HttpGet, BrokenConnections)
{
    struct Case { testsupport::Script script; std::string expected; };
    const Case cases[] = {
        {{Send("HTTP/1.1 200 OK\r\nContent-Le"), Reset()}, ""},
        {{Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n"), Close()}, ""},
        {{Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd"), Close()}, "abcd"},
        // The pause lets the bytes arrive before the reset, which may discard them.
        {{Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd"), Sleep(300ms), Reset()}, "abcd"},
        {{Send("HTTP/1.1 200 OK\r\n\r\nuntil the"), Sleep(300ms), Reset()}, "until the"},
        {{Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nwxyz\r\n9\r\nab"), Close()}, "wxyzab"},
        {{Close()}, ""},
    };
    for (const Case &c : cases) {
        LoopbackServer server(c.script);
        EXPECT_EQ(fetch(server.url("/")), c.expected) << c.script.front().bytes;
    }
}

TEST(HttpGet, LargeBodyArrivesWhole)
{
    const std::string block(65536, 'k');
    LoopbackServer server({Send("HTTP/1.1 200 OK\r\nContent-Length: 8388608\r\n\r\n"), SendRepeated(block, 128),
                           Close()});
    const std::string page = fetch(server.url("/big"));
    EXPECT_EQ(page.size(), 8388608u);
    EXPECT_EQ(page.find_first_not_of('k'), std::string::npos);
}

struct ResponseCase {
    std::string name;
    std::string response;
    bool headComplete;
    std::string expected;
};

// Response parsing through the byte-source seam; every case is also fed one
// byte at a time and in uneven pieces, so no rule depends on how bytes arrive.
TEST(ReadResponse, BodyRulesAndHeadParsing)
{
    const ResponseCase cases[] = {
        {"status without reason", "HTTP/1.1 200\r\n\r\nbody", true, "body"},
        {"bare LF lines", "HTTP/1.1 200 OK\nContent-Length: 3\n\nabcdef", true, "abc"},
        {"no status line", "<html>hi</html>", false, ""},
        {"status not an integer", "HTTP/1.1 OK 200\r\n\r\nbody", false, ""},
        {"status with trailing text", "HTTP/1.1 200x OK\r\n\r\nbody", false, ""},
        {"head never ends", "HTTP/1.1 200 OK\r\nServer: x\r\n", false, ""},
        {"header name in any case", "HTTP/1.1 200 OK\r\ncontent-LENGTH: 2\r\n\r\nabc", true, "ab"},
        {"length 0 is an empty body", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nnot this", true, ""},
        {"negative length reads to close", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nall", true, "all"},
        {"length not a number", "HTTP/1.1 200 OK\r\nContent-Length: 2x\r\n\r\nabc", true, "abc"},
        {"huge length number", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nabc", true,
         "abc"},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1A\r\nabcdefghijklmnopqrstuvwxyz\r\n"
                    "0\r\n\r\n",
         true, "abcdefghijklmnopqrstuvwxyz"},
        {"chunked inside a list", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n2\r\nab\r\n0\r\n\r\n",
         true, "ab"},
        {"coding names in any case", "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n2\r\nab\r\n0\r\n\r\n",
         true, "ab"},
        {"upper-case coding name", "HTTP/1.1 200 OK\r\nTransfer-Encoding: CHUNKED\r\n\r\n2\r\nab\r\n0\r\n\r\n",
         true, "ab"},
        {"chunk extensions", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n"
                             "1a;name=value\r\nabcdefghijklmnopqrstuvwxyz\r\n1 ;x\r\n!\r\n0;last\r\n\r\n",
         true, "ababcdefghijklmnopqrstuvwxyz!"},
        {"text after a blank in the size line", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                                "3 ignored\r\nabc\r\n0\r\n\r\n",
         true, "abc"},
        {"chunked wins over a length", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n"
                                       "2\r\nab\r\n0\r\n\r\n",
         true, "ab"},
        {"chunked wins over a length given first", "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n"
                                                   "Transfer-Encoding: chunked\r\n\r\n2\r\nab\r\n0\r\n\r\n",
         true, "ab"},
        {"204 has no body", "HTTP/1.1 204 No Content\r\nContent-Length: 4\r\n\r\nnot this", true, ""},
        {"304 has no body", "HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n", true, ""},
        {"interim responses are skipped", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n"
                                          "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
         true, "ok"},
        {"interim response and nothing after", "HTTP/1.1 100 Continue\r\n\r\n", false, ""},
        {"the final head counts, not the interim one", "HTTP/1.1 100 Continue\r\nContent-Length: 1\r\n\r\n"
                                                       "HTTP/1.1 404 Not Found\r\n\r\ngone",
         true, "gone"},
        {"folded header value", "HTTP/1.1 200 OK\r\nTransfer-Encoding:\r\n\tchunked\r\n\r\n2\r\nab\r\n0\r\n\r\n",
         true, "ab"},
        {"first of two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 3\r\n\r\nabc", true,
         "a"},
        {"zero bytes in the body", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\na\0b"s, true, "a\0b"s},
    };
    for (const ResponseCase &c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{7}, kReceivePiece}) {
            MemorySource source(c.response, piece);
            std::string buffer;
            const ResponseOutcome outcome = ReadResponse(source, buffer);
            EXPECT_EQ(outcome.headComplete, c.headComplete) << c.name << " piece " << piece;
            EXPECT_EQ(buffer, c.expected) << c.name << " piece " << piece;
        }
    }
}

TEST(ReadResponse, LimitsKeepMemoryBounded)
{
    {
        // A header line beyond the line limit fails the head.
        EndlessSource source("HTTP/1.1 200 OK\r\nX: ");
        std::string buffer;
        EXPECT_FALSE(ReadResponse(source, buffer).headComplete);
        EXPECT_EQ(buffer, "");
    }
    {
        std::string many = "HTTP/1.1 200 OK\r\n";
        for (std::size_t i = 0; i <= kMaxHeaderLines; ++i)
            many += "X: y\r\n";
        MemorySource source(many + "\r\nbody", kReceivePiece);
        std::string buffer;
        EXPECT_FALSE(ReadResponse(source, buffer).headComplete);
    }
    {
        // A body beyond the bound is cut at it, announced or not.
        for (const std::string head : {"HTTP/1.1 200 OK\r\nContent-Length: 999999999999\r\n\r\n",
                                       "HTTP/1.1 200 OK\r\n\r\n",
                                       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5000000\r\n"}) {
            EndlessSource source(head);
            std::string buffer;
            const ResponseOutcome outcome = ReadResponse(source, buffer);
            EXPECT_TRUE(outcome.headComplete);
            EXPECT_FALSE(outcome.bodyComplete);
            EXPECT_EQ(buffer.size(), kMaxBody);
        }
    }
    {
        // Interim responses are bounded in number, so endless ones end the read.
        std::string interim;
        for (std::size_t i = 0; i < kMaxInterimResponses; ++i)
            interim += "HTTP/1.1 100 Continue\r\n\r\n";
        const std::string final = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        MemorySource enough(interim + final, kReceivePiece);
        std::string buffer;
        EXPECT_TRUE(ReadResponse(enough, buffer).bodyComplete);
        EXPECT_EQ(buffer, "ok");
        MemorySource tooMany(interim + "HTTP/1.1 102 Processing\r\n\r\n" + final, kReceivePiece);
        buffer.clear();
        EXPECT_FALSE(ReadResponse(tooMany, buffer).headComplete);
        EXPECT_EQ(buffer, "");
    }
    {
        MemorySource source("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\nffffffffffffffff\r\ncd",
                            kReceivePiece);
        std::string buffer;
        EXPECT_FALSE(ReadResponse(source, buffer).bodyComplete);
        EXPECT_EQ(buffer, "abcd");
    }
}

TEST(ReadResponse, BreakKeepsWhatArrived)
{
    MemorySource body("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc", 2, /*breaks=*/true);
    std::string buffer;
    const ResponseOutcome outcome = ReadResponse(body, buffer);
    EXPECT_TRUE(outcome.headComplete);
    EXPECT_FALSE(outcome.bodyComplete);
    EXPECT_EQ(buffer, "abc");

    MemorySource toClose("HTTP/1.1 200 OK\r\n\r\nxyz", 2, /*breaks=*/true);
    buffer.clear();
    EXPECT_FALSE(ReadResponse(toClose, buffer).bodyComplete);
    EXPECT_EQ(buffer, "xyz");
}

TEST(NumberParsing, DecimalAndHex)
{
    std::int64_t decimal = 0;
    EXPECT_TRUE(ParseDecimal("+42", decimal));
    EXPECT_EQ(decimal, 42);
    EXPECT_TRUE(ParseDecimal("-9223372036854775808", decimal));
    EXPECT_EQ(decimal, INT64_MIN);
    for (const char *bad : {"", "-", "9223372036854775808", " 1", "1 ", "0x10", "1e3"})
        EXPECT_FALSE(ParseDecimal(bad, decimal)) << bad;

    std::uint64_t hex = 0;
    EXPECT_TRUE(ParseHex("fFfFfFfFfFfFfFfF", hex));
    EXPECT_EQ(hex, UINT64_MAX);
    EXPECT_TRUE(ParseHex("001a", hex));
    EXPECT_EQ(hex, 26u);
    for (const char *bad : {"", "1a;x=y", "g", "10000000000000000", "-1", "0x1"})
        EXPECT_FALSE(ParseHex(bad, hex)) << bad;
}

} // namespace
} // namespace kelvora

namespace kelvora {
namespace {

// The status tells a server that never answered from one that answered with
// nothing; the bytes on the wire stay those of the plain call.
TEST(HttpGetStatus, TellsUnreachableFromAnsweredAndKeepsTheWireBytes)
{
    struct Case {
        std::string name;
        testsupport::Script script;   // empty: nothing listens on the port
        bool answered;
        int code;
        std::string buffer;
    };
    const std::string reason = "marginalia: rate limited (HTTP 429); try again in 60 s";
    const Case cases[] = {
        {"nothing listening", {}, false, 0, ""},
        {"closed before a head", {Close()}, false, 0, ""},
        {"reset before a head", {Reset()}, false, 0, ""},
        {"half a head", {Send("HTTP/1.1 200 OK\r\nContent-Le"), Close()}, false, 0, ""},
        {"no status line", {Send("<html>hello</html>"), Close()}, false, 0, ""},
        {"empty results page", {Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), Close()}, true, 200, ""},
        {"503 with a reason",
         {Send("HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: "
               + std::to_string(reason.size() + 1) + "\r\n\r\n" + reason + "\n"),
          Close()},
         true, 503, reason + "\n"},
        {"interim then 404", {Send("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 404 Gone\r\n\r\nx"), Close()}, true, 404,
         "x"},
    };
    for (const Case &c : cases) {
        std::string buffer;
        HttpGetStatus status;
        status.answered = !c.answered;   // must be overwritten
        status.code = 999;
        if (c.script.empty()) {
            HttpGet("http://127.0.0.1:" + std::to_string(testsupport::ClosedLoopbackPort()) + "/search?p=x",
                    buffer, 80, status);
        } else {
            LoopbackServer server(c.script);
            HttpGet(server.url("/search?p=x"), buffer, 80, status);
            ASSERT_TRUE(server.waitForRequests(1, 5s)) << c.name;
            EXPECT_EQ(server.requests()[0], "GET /search?p=x HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kRequestTail)
                << c.name;
        }
        EXPECT_EQ(status.answered, c.answered) << c.name;
        EXPECT_EQ(status.code, c.code) << c.name;
        EXPECT_EQ(buffer, c.buffer) << c.name;
    }

    // A refused URL and a host without an address never answer either.
    std::string buffer;
    HttpGetStatus status{true, 200};
    HttpGet("https://127.0.0.1:1/", buffer, 80, status);
    EXPECT_FALSE(status.answered);
    HttpGet("http:///no-host", buffer, 80, status);   // an empty name has no address
    EXPECT_FALSE(status.answered);
    EXPECT_EQ(status.code, 0);
}

} // namespace
} // namespace kelvora
