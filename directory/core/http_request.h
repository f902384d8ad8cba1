#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// HTTP/1.1 request framing of the directory server, free of sockets so that
// it can be tested and fuzzed on bytes alone: where a request in a
// connection's input ends, what it asks for, and the bytes of an answer.
namespace kelvora::directory {

// Bounds of one request. Beyond them the request is answered with an error
// and the connection closed.
constexpr std::size_t kMaxRequestLine = 8 * 1024;
constexpr std::size_t kMaxRequestHeaderLine = 8 * 1024;
constexpr std::size_t kMaxRequestHeaders = 100;
constexpr std::size_t kMaxRequestHead = 64 * 1024;
// GET requests carry no body worth reading; a larger one is refused (413).
constexpr std::size_t kMaxRequestBody = 64 * 1024;

struct Request {
    std::string method;
    std::string path;    // the target before its first "?", %XX decoded
    std::string query;   // the raw target after its first "?"
    std::string host;    // the first Host line's value
    // False when the client asked to close (Connection: close) or speaks
    // HTTP/1.0, and when a Transfer-Encoding body leaves the rest of the
    // connection's bytes unframed.
    bool keepAlive = true;
};

struct RequestFraming {
    enum class Kind {
        Incomplete,   // more bytes are needed
        Complete,     // request holds it; consumed bytes belong to it
        Invalid,      // answer status and close
    };
    Kind kind = Kind::Incomplete;
    std::size_t consumed = 0;
    int status = 0;
    // Incomplete with the head in but not yet its body: the input size at
    // which the request will be complete, so the caller need not parse again
    // before (0 when not known).
    std::size_t needed = 0;
};

// Frames the first request of input (empty lines before it are skipped).
// A request with a Content-Length body is complete once the body is in; the
// body itself is not kept.
RequestFraming ParseRequest(std::string_view input, Request &request);

// The reason phrase of a status ("Not Found"), "Unknown" for codes without one.
const char *ReasonPhrase(int status);

struct Answer {
    int status = 200;
    std::string body;          // an HTML page, unless contentType says otherwise
    std::string contentType;   // empty: "text/html; charset=utf-8"
    bool headOnly = false;     // HEAD: the headers of the GET answer, no body
    bool close = false;        // "Connection: close" and the connection ends
    bool allowHeader = false;  // "Allow: GET, HEAD" (405)
    // Keep-Alive line when not closing: idle time-out, requests still accepted.
    long keepAliveSeconds = 0;
    std::size_t keepAliveLeft = 0;
};

// The bytes of an answer: status line, Allow, Connection, Content-Length,
// Content-Type (text/html; charset=utf-8 unless the answer names another)
// and Keep-Alive, then the body.
// 1xx, 204 and 304 carry neither body nor length.
std::string FormatAnswer(const Answer &answer);

} // namespace kelvora::directory
