#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Reading one HTTP/1.1 response: status line, header lines, body. The reader
// pulls bytes from a ByteSource, so the same code serves a socket (HttpGet) and
// a test or fuzzer feeding bytes from memory.
namespace kelvora {

// Receive area: no single read asks for more than this.
constexpr std::size_t kReceivePiece = 32768;
// Hostile replies must not exhaust memory: a header line, the whole head and
// the body are bounded. A head beyond its bounds fails the call; a body is cut.
constexpr std::size_t kMaxHeaderLine = 64 * 1024;
constexpr std::size_t kMaxResponseHead = 1024 * 1024;
constexpr std::size_t kMaxHeaderLines = 10000;
constexpr std::size_t kMaxBody = 64u * 1024 * 1024;
// Interim (1xx) responses skipped before the final one; their heads count
// towards kMaxResponseHead as well.
constexpr std::size_t kMaxInterimResponses = 32;

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads between 1 and size bytes into data and returns their number;
    // 0 when the peer has closed, -1 when the connection broke or timed out.
    virtual long long read(char *data, std::size_t size) = 0;
};

struct ResponseHead {
    int status = 0;
    // Name and value as received (value without leading white space, folded
    // continuation lines joined with one blank), in order.
    std::vector<std::pair<std::string, std::string>> headers;

    // Value of the first header of that name in any letter case; empty if none.
    std::string value(const std::string &name) const;
};

struct ResponseOutcome {
    bool headComplete = false;   // status line and headers up to the empty line
    bool bodyComplete = false;   // body read by its rule to the end, not cut
    ResponseHead head;
};

// Reads a response from source and appends its body to buffer, whatever the
// status code. Interim 1xx responses are skipped. Nothing is appended unless
// the final head is complete and valid; a body that breaks off leaves the
// bytes received so far. Body rules, first that applies: status 204 or 304,
// no body; Transfer-Encoding containing "chunked" in any letter case, chunked
// (a chunk size ends at ";", a blank or a tab); a Content-Length of 0 or more,
// exactly that many bytes; otherwise everything up to the close.
ResponseOutcome ReadResponse(ByteSource &source, std::string &buffer);

// Decimal integer with an optional sign; false when text is not one or is out
// of range. Exposed for the tests.
bool ParseDecimal(const std::string &text, std::int64_t &value);
// Hexadecimal digits only; false when text is not such a number or is
// longer than 64 bits.
bool ParseHex(const std::string &text, std::uint64_t &value);

} // namespace kelvora
