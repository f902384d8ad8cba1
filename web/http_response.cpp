#include "web/http_response.h"

#include "web/text.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <sys/mman.h>

namespace kelvora {

namespace {

// A large body spends most of its time in page faults on fresh memory; huge
// pages cut their number by 512. Only a hint: the kernel may ignore it.
constexpr std::size_t kHugePageHintFrom = 4u << 20;
constexpr std::uintptr_t kHugePage = 2u << 20;

void reserveBody(std::string &body, std::size_t capacity)
{
    body.reserve(capacity);
#ifdef MADV_HUGEPAGE
    if (body.capacity() < kHugePageHintFrom)
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(body.data());
    const std::uintptr_t end = start + body.capacity();
    const std::uintptr_t alignedStart = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t alignedEnd = end & ~(kHugePage - 1);
    if (alignedEnd > alignedStart)
        ::madvise(reinterpret_cast<void *>(alignedStart), alignedEnd - alignedStart, MADV_HUGEPAGE);
#endif
}

// Past this size a growing body moves straight to its bound, sparing the
// copies (and the peak memory) of doubling through 16 and 32 MiB.
constexpr std::size_t kJumpToBoundFrom = 8u << 20;

// Appends, growing the body in large steps so the hint above applies.
void appendBody(std::string &body, const char *data, std::size_t size)
{
    if (body.size() + size > body.capacity()) {
        std::size_t capacity = body.capacity() * 2;
        if (capacity > kJumpToBoundFrom)
            capacity = kMaxBody;
        reserveBody(body, std::max(capacity, body.size() + size));
    }
    body.append(data, size);
}

// Buffers the source in one receive area and hands out lines and raw bytes.
class ResponseReader {
public:
    // Only received bytes are ever read, so the area is not zeroed first.
    explicit ResponseReader(ByteSource &source)
        : m_source(source), m_area(std::make_unique_for_overwrite<char[]>(kReceivePiece))
    {
    }

    // Reads one line up to LF, dropping LF and a CR right before it. False when
    // the source ends first or the line would exceed limit bytes.
    bool readLine(std::string &line, std::size_t limit)
    {
        line.clear();
        for (;;) {
            if (m_begin == m_end && !fill())
                return false;
            const char *start = m_area.get() + m_begin;
            const std::size_t available = m_end - m_begin;
            const void *feed = std::memchr(start, '\n', available);
            const std::size_t take = feed ? static_cast<const char *>(feed) - start : available;
            if (line.size() + take > limit)
                return false;
            line.append(start, take);
            if (feed) {
                m_begin += take + 1;
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                return true;
            }
            m_begin = m_end;
        }
    }

    // Appends up to count bytes to out; false when the source ends first.
    bool readExact(std::string &out, std::size_t count)
    {
        while (count > 0) {
            if (m_begin == m_end && !fill())
                return false;
            const std::size_t take = std::min(count, m_end - m_begin);
            appendBody(out, m_area.get() + m_begin, take);
            m_begin += take;
            count -= take;
        }
        return true;
    }

    // Appends everything up to the close, at most limit bytes in total. True
    // when the source closed in an orderly way within the limit.
    bool readToClose(std::string &out, std::size_t limit)
    {
        for (;;) {
            if (m_begin == m_end && !fill())
                return m_closed;
            const std::size_t take = std::min(limit - out.size(), m_end - m_begin);
            appendBody(out, m_area.get() + m_begin, take);
            m_begin += take;
            if (out.size() >= limit)
                return false;
        }
    }

private:
    bool fill()
    {
        const long long received = m_source.read(m_area.get(), kReceivePiece);
        if (received <= 0) {
            m_closed = received == 0;
            return false;
        }
        m_begin = 0;
        m_end = static_cast<std::size_t>(received);
        return true;
    }

    ByteSource &m_source;
    std::unique_ptr<char[]> m_area;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    bool m_closed = false;
};

// Reads one status line and its headers. total counts the head bytes read so
// far, interim heads included, against kMaxResponseHead.
bool readHead(ResponseReader &reader, ResponseHead &head, std::size_t &total)
{
    std::string line;
    if (!reader.readLine(line, kMaxHeaderLine))
        return false;
    total += line.size() + 2;
    if (total > kMaxResponseHead)
        return false;

    // The status code lies between the first blank and the next one (or the end).
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos)
        return false;
    const std::size_t next = line.find(' ', blank + 1);
    std::int64_t status = 0;
    if (!ParseDecimal(line.substr(blank + 1, next == std::string::npos ? std::string::npos : next - blank - 1),
                      status)
        || status < std::numeric_limits<int>::min() || status > std::numeric_limits<int>::max())
        return false;
    head.status = static_cast<int>(status);

    for (std::size_t count = 0;; ++count) {
        if (count > kMaxHeaderLines || !reader.readLine(line, kMaxHeaderLine))
            return false;
        total += line.size() + 2;
        if (total > kMaxResponseHead)
            return false;
        if (line.empty())
            return true;
        if (line[0] == ' ' || line[0] == '\t') {
            if (!head.headers.empty()) {
                const std::size_t text = line.find_first_not_of(" \t");
                if (text != std::string::npos)
                    head.headers.back().second.append(" ").append(line, text);
            }
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::size_t valueStart = line.find_first_not_of(" \t", colon + 1);
        if (valueStart == std::string::npos)
            valueStart = line.size();
        head.headers.emplace_back(line.substr(0, colon), line.substr(valueStart));
    }
}

// Chunked transfer: size lines, chunks, and one dropped line after each.
bool readChunked(ResponseReader &reader, std::string &buffer)
{
    std::string line;
    for (;;) {
        if (!reader.readLine(line, kMaxHeaderLine))
            return false;
        // A chunk extension (";name=value") or blanks may follow the size.
        std::uint64_t size = 0;
        if (!ParseHex(line.substr(0, line.find_first_of("; \t")), size))
            size = 0;
        if (size == 0)
            break;
        const std::size_t room = kMaxBody - buffer.size();
        // The announced size is known: make room once rather than by doubling.
        const std::size_t needed = buffer.size() + static_cast<std::size_t>(std::min<std::uint64_t>(size, room));
        if (needed > buffer.capacity())
            reserveBody(buffer, std::max(needed, std::min(buffer.capacity() * 2, kMaxBody)));
        if (size > room) {
            reader.readExact(buffer, room);
            return false;
        }
        if (!reader.readExact(buffer, static_cast<std::size_t>(size)) || !reader.readLine(line, kMaxHeaderLine))
            return false;
    }
    // The line after the last chunk; trailers beyond it are not read.
    reader.readLine(line, kMaxHeaderLine);
    return true;
}

} // namespace

std::string ResponseHead::value(const std::string &name) const
{
    const std::string wanted = LowerCase(name);
    for (const auto &[headerName, headerValue] : headers) {
        if (LowerCase(headerName) == wanted)
            return headerValue;
    }
    return {};
}

bool ParseDecimal(const std::string &text, std::int64_t &value)
{
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+'))
        i = 1;
    if (i == text.size())
        return false;
    std::uint64_t magnitude = 0;
    const std::uint64_t bound = negative ? std::uint64_t(std::numeric_limits<std::int64_t>::max()) + 1
                                         : std::uint64_t(std::numeric_limits<std::int64_t>::max());
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i]))
            return false;
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (magnitude > (bound - digit) / 10)
            return false;
        magnitude = magnitude * 10 + digit;
    }
    value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

bool ParseHex(const std::string &text, std::uint64_t &value)
{
    if (text.empty() || text.size() > 16)
        return false;
    std::uint64_t result = 0;
    for (const char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0)
            return false;
        result = result << 4 | static_cast<unsigned>(digit);
    }
    value = result;
    return true;
}

ResponseOutcome ReadResponse(ByteSource &source, std::string &buffer)
{
    ResponseOutcome outcome;
    ResponseReader reader(source);
    std::size_t headBytes = 0;
    // Interim (1xx) responses announce the real one, which follows them.
    for (std::size_t interim = 0;; ++interim) {
        outcome.head = ResponseHead();
        if (interim > kMaxInterimResponses || !readHead(reader, outcome.head, headBytes))
            return outcome;
        if (outcome.head.status < 100 || outcome.head.status > 199)
            break;
    }
    outcome.headComplete = true;

    // The body is appended after what the caller's buffer already holds; the
    // bound counts the body only.
    std::string body;
    std::int64_t length = -1;
    const bool lengthGiven = ParseDecimal(outcome.head.value("Content-Length"), length);
    if (outcome.head.status == 204 || outcome.head.status == 304) {
        // These never carry a body, whatever their headers say.
        outcome.bodyComplete = true;
    } else if (Contains(LowerCase(outcome.head.value("Transfer-Encoding")), "chunked")) {
        // Coding names are case-insensitive, and chunked framing overrides any
        // Content-Length, which a proxy may have left in by mistake.
        outcome.bodyComplete = readChunked(reader, body);
    } else if (lengthGiven && length >= 0) {
        const auto wanted = static_cast<std::uint64_t>(length);
        const std::size_t accepted = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, kMaxBody));
        reserveBody(body, accepted);
        outcome.bodyComplete = reader.readExact(body, accepted) && accepted == wanted;
    } else {
        outcome.bodyComplete = reader.readToClose(body, kMaxBody);
    }
    if (buffer.empty())
        buffer = std::move(body);
    else
        buffer.append(body);
    return outcome;
}

} // namespace kelvora
