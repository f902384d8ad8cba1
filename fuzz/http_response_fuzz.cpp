// The HTTP response reader of HttpGet, fed from memory: input = the stream's
// piece size and how it ends (taken from the input's end), then the bytes a
// server sends, read as they stand and, as a body, framed in chunks. Also
// checks the decimal and hex number parsers.
#include "fuzz/fuzz_check.h"
#include "web/http_response.h"
#include "web/text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

using kelvora::fuzz::Require;

namespace {

constexpr std::size_t kMaxPiece = 512;
constexpr std::size_t kReadsAfterEnd = 8;
constexpr std::string_view kPrefix = "kept";

// Hands the stream out in pieces of at most m_piece bytes, then reports a
// close (0) or a broken connection (-1).
class MemorySource final : public kelvora::ByteSource {
public:
    MemorySource(std::string_view stream, std::size_t piece, bool breaks)
        : m_stream(stream), m_piece(piece), m_breaks(breaks)
    {
    }

    long long read(char *data, std::size_t size) override
    {
        Require(size >= 1 && size <= kelvora::kReceivePiece, "reads ask for 1 to kReceivePiece bytes");
        if (m_offset == m_stream.size()) {
            Require(++m_readsAfterEnd <= kReadsAfterEnd, "the reader stops at the end of the stream");
            return m_breaks ? -1 : 0;
        }
        const std::size_t count = std::min({size, m_piece, m_stream.size() - m_offset});
        std::memcpy(data, m_stream.data() + m_offset, count);
        m_offset += count;
        return static_cast<long long>(count);
    }

private:
    std::string_view m_stream;
    std::size_t m_piece;
    bool m_breaks;
    std::size_t m_offset = 0;
    std::size_t m_readsAfterEnd = 0;
};

void checkResponse(std::string_view stream, std::size_t piece, bool breaks)
{
    MemorySource source(stream, piece, breaks);
    std::string buffer(kPrefix);
    const kelvora::ResponseOutcome outcome = kelvora::ReadResponse(source, buffer);
    Require(buffer.starts_with(kPrefix), "the body is appended to what the buffer held");
    const std::string_view body = std::string_view(buffer).substr(kPrefix.size());
    Require(outcome.headComplete || body.empty(), "nothing is appended without a complete head");
    Require(!outcome.bodyComplete || outcome.headComplete, "a complete body needs a complete head");
    Require(body.size() <= stream.size(), "the body comes from the stream");
    if (!outcome.headComplete)
        return;

    const int status = outcome.head.status;
    Require(status < 100 || status > 199, "interim responses are skipped, never final");
    if (status == 204 || status == 304) {
        Require(body.empty() && outcome.bodyComplete, "204 and 304 have an empty, complete body");
        return;
    }
    if (kelvora::LowerCase(outcome.head.value("Transfer-Encoding")).find("chunked") != std::string::npos)
        return;   // checked by the round trip below
    std::int64_t length = 0;
    const bool hasLength = kelvora::ParseDecimal(outcome.head.value("Content-Length"), length) && length >= 0;
    if (hasLength) {
        Require(body.size() <= static_cast<std::uint64_t>(length), "a Content-Length body never runs long");
        Require(!outcome.bodyComplete || body.size() == static_cast<std::uint64_t>(length),
                "a complete Content-Length body has that length");
        Require(length != 0 || outcome.bodyComplete, "a length of 0 is complete at once");
        Require(stream.find(body) != std::string_view::npos, "a Content-Length body is sent bytes");
    } else {
        Require(stream.ends_with(body) || !outcome.bodyComplete, "a body up to the close is the stream's rest");
        Require(outcome.bodyComplete == !breaks, "a body up to the close is complete exactly on a close");
    }
}

// Frames body in chunks of the given sizes, with an extension on some size
// lines, behind interim responses, a coding name in mixed case and a
// Content-Length that chunked framing must override; the reader must give
// back exactly body, complete, and stop reading at the last chunk.
void checkChunkedRoundTrip(std::string_view body, std::string_view sizes, std::size_t piece, bool breaks)
{
    std::string stream = "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 3\r\n"
                         "Transfer-Encoding: gzip, ChUnKeD\r\n\r\n";
    std::size_t offset = 0;
    for (std::size_t i = 0; offset < body.size(); ++i) {
        const std::size_t wanted = i < sizes.size() ? static_cast<unsigned char>(sizes[i]) + 1 : body.size();
        const std::size_t size = std::min(wanted, body.size() - offset);
        char line[32];
        std::snprintf(line, sizeof line, i % 2 ? "%zX" : "%zx", size);
        stream += line;
        if (i % 3 == 1)
            stream += ";name=\"v;1\"";
        stream += "\r\n";
        stream.append(body.substr(offset, size));
        stream += "\r\n";
        offset += size;
    }
    stream += "0;end\r\n\r\nHTTP/1.1 200 OK\r\n\r\nnot part of the body";

    MemorySource source(stream, piece, breaks);
    std::string buffer;
    const kelvora::ResponseOutcome outcome = kelvora::ReadResponse(source, buffer);
    Require(outcome.headComplete && outcome.bodyComplete, "well-formed chunks are complete");
    Require(buffer == body, "chunks give back the body exactly");
}

void checkNumbers(std::int64_t number, std::uint64_t bits, const std::string &text)
{
    std::int64_t decimal = 0;
    Require(kelvora::ParseDecimal(std::to_string(number), decimal) && decimal == number,
            "ParseDecimal reads every 64-bit number");
    char hex[17];
    std::snprintf(hex, sizeof hex, "%" PRIx64, bits);
    std::uint64_t hexValue = 0;
    Require(kelvora::ParseHex(hex, hexValue) && hexValue == bits, "ParseHex reads every 64-bit number");

    if (kelvora::ParseDecimal(text, decimal)) {
        std::string_view digits = text;
        const bool negative = digits.starts_with('-');
        if (digits.starts_with('-') || digits.starts_with('+'))
            digits.remove_prefix(1);
        while (digits.size() > 1 && digits.front() == '0')
            digits.remove_prefix(1);
        const std::string expected = (negative && digits != "0" ? "-" : "") + std::string(digits);
        Require(std::to_string(decimal) == expected, "ParseDecimal accepts only what it reads exactly");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto piece = input.ConsumeIntegralInRange<std::size_t>(1, kMaxPiece);
    const bool breaks = input.ConsumeBool();
    const auto number = input.ConsumeIntegral<std::int64_t>();
    const auto bits = input.ConsumeIntegral<std::uint64_t>();
    const std::string stream = input.ConsumeRemainingBytesAsString();
    // The chunk sizes come from the number the hex parser reads, so the
    // input's layout stays as it was.
    std::string sizes(sizeof bits, '\0');
    std::memcpy(sizes.data(), &bits, sizeof bits);

    checkResponse(stream, piece, breaks);
    checkChunkedRoundTrip(stream, sizes, piece, breaks);
    checkNumbers(number, bits, stream.substr(0, stream.find('\n')));
    return 0;
}
