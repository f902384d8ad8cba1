// Request framing of the directory server, on bytes alone.
#include <gtest/gtest.h>

#include "directory/core/http_request.h"

using namespace kelvora::directory;
using Kind = RequestFraming::Kind;

namespace {

RequestFraming Frame(const std::string &input, Request &request)
{
    return ParseRequest(input, request);
}

} // namespace

TEST(ParseRequest, FramesCompleteRequestsAndWaitsForTheRest)
{
    Request request;
    const std::string get = "GET /data%2Fdetails/?url=www.a.test&x=%41?b HTTP/1.1\r\nHOST:  a.test:80 \r\n\r\n";
    RequestFraming framing = Frame("\r\n\r\n" + get + "GET / HTTP/1.1\r\n\r\n", request);
    ASSERT_EQ(framing.kind, Kind::Complete);
    EXPECT_EQ(framing.consumed, 4 + get.size());   // empty lines before it are its own
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, "/data/details/");
    EXPECT_EQ(request.query, "url=www.a.test&x=%41?b");
    EXPECT_EQ(request.host, "a.test:80");
    EXPECT_TRUE(request.keepAlive);

    // Bare line feeds end lines too.
    EXPECT_EQ(Frame("GET /x HTTP/1.1\nHost: b\n\n", request).kind, Kind::Complete);
    EXPECT_EQ(request.host, "b");

    // Every cut short of the end is incomplete, never a different request.
    for (std::size_t cut = 0; cut < get.size(); ++cut)
        EXPECT_EQ(Frame(get.substr(0, cut), request).kind, Kind::Incomplete) << cut;

    // A body is waited for, then skipped as part of the request.
    const std::string withBody = "GET /b HTTP/1.1\r\nContent-Length: 5\r\ncontent-length: 5\r\n\r\n";
    framing = Frame(withBody + "abc", request);
    EXPECT_EQ(framing.kind, Kind::Incomplete);
    EXPECT_EQ(framing.needed, withBody.size() + 5);
    framing = Frame(withBody + "abcdeGET", request);
    EXPECT_EQ(framing.kind, Kind::Complete);
    EXPECT_EQ(framing.consumed, withBody.size() + 5);
}

TEST(ParseRequest, ClosingRequests)
{
    const struct {
        std::string head;
        bool keepAlive;
    } cases[] = {
        {"GET / HTTP/1.1\r\nConnection: keep-alive\r\n\r\n", true},
        {"GET / HTTP/1.1\r\nConnection: Keep-Alive, CLOSE\r\n\r\n", false},
        {"GET / HTTP/1.0\r\n\r\n", false},
        // A body without a length cannot be skipped: the connection ends after the answer.
        {"GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabcde\r\n0\r\n\r\n", false},
    };
    for (const auto &c : cases) {
        Request request;
        const RequestFraming framing = ParseRequest(c.head, request);
        ASSERT_EQ(framing.kind, Kind::Complete) << c.head;
        EXPECT_EQ(request.keepAlive, c.keepAlive) << c.head;
    }
    Request request;
    const std::string chunked = "GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    EXPECT_EQ(ParseRequest(chunked + "5\r\nabcde", request).consumed, chunked.size());
}

TEST(ParseRequest, RefusesMalformedAndOversizedRequests)
{
    const struct {
        std::string input;
        int status;
    } cases[] = {
        {"garbage\r\n\r\n", 400},
        {"GET /search?p=a b HTTP/1.1\r\n\r\n", 400},
        {"GET  / HTTP/1.1\r\n\r\n", 400},
        {"GET / HTTP/2.0\r\n\r\n", 400},
        {"GET /\r\n\r\n", 400},
        {"G(T / HTTP/1.1\r\n\r\n", 400},
        {"GET /a\x01 HTTP/1.1\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nHost x\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nHost : x\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nX: a\r\n folded\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nX: a\rb\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", 400},
        {"GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nContent-Length: 65537\r\n\r\n", 413},
        {"GET / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n", 413},
        {"GET /" + std::string(kMaxRequestLine, 'a') + " HTTP/1.1\r\n\r\n", 414},
        // Too long before any line end is known to be too long.
        {"GET /" + std::string(kMaxRequestLine, 'a'), 414},
        {"GET / HTTP/1.1\r\nX: " + std::string(kMaxRequestHeaderLine, 'b'), 400},
        {"GET / HTTP/1.1\r\nX: " + std::string(kMaxRequestHeaderLine, 'b') + "\r\n\r\n", 400},
    };
    for (const auto &c : cases) {
        Request request;
        const RequestFraming framing = ParseRequest(c.input, request);
        EXPECT_EQ(framing.kind, Kind::Invalid) << c.input.substr(0, 60);
        EXPECT_EQ(framing.status, c.status) << c.input.substr(0, 60);
    }
    // Many headers, each within bounds, still end at the header count.
    std::string many = "GET / HTTP/1.1\r\n";
    for (std::size_t i = 0; i <= kMaxRequestHeaders; ++i)
        many += "X-" + std::to_string(i) + ": y\r\n";
    Request request;
    EXPECT_EQ(ParseRequest(many + "\r\n", request).status, 400);
}
