#include "directory/core/http_request.h"

#include <algorithm>
#include <cstdint>

#include "directory/core/query.h"
#include "text/text.h"

namespace kelvora::directory {

namespace {

using Kind = RequestFraming::Kind;

RequestFraming Invalid(int status)
{
    return {Kind::Invalid, 0, status, 0};
}

// RFC 9110 token characters: method and header names.
bool IsTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

// Control bytes other than tab would let a value or target end early
// further down the line; they are refused.
bool HoldsControl(std::string_view text, bool tabAllowed)
{
    return std::any_of(text.begin(), text.end(), [tabAllowed](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && !(tabAllowed && c == '\t')) || byte == 0x7f;
    });
}

// Optional white space around header values and list tokens.
constexpr std::string_view kBlanks = " \t";

// Comma-separated tokens of a Connection line, in any letter case.
bool ListsToken(std::string_view value, std::string_view token)
{
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(',', start);
        if (end == std::string_view::npos)
            end = value.size();
        if (EqualsIgnoreCase(Trim(value.substr(start, end - start), kBlanks), token))
            return true;
        start = end + 1;
    }
    return false;
}

// A decimal length; false when it is not one. Values beyond the body bound
// saturate, which is all the caller needs to know about them.
bool ParseLength(std::string_view text, std::uint64_t &length)
{
    if (text.empty())
        return false;
    length = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        length = std::min<std::uint64_t>(length * 10 + static_cast<unsigned>(c - '0'), UINT32_MAX);
    }
    return true;
}

bool ParseRequestLine(std::string_view line, Request &request, int &status)
{
    status = 400;
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos)
        return false;
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, second - first - 1);
    const std::string_view version = line.substr(second + 1);
    if (!IsToken(method) || target.empty() || HoldsControl(target, false))
        return false;
    if (version == "HTTP/1.0")
        request.keepAlive = false;
    else if (version != "HTTP/1.1")
        return false;

    request.method = std::string(method);
    const std::size_t question = target.find('?');
    request.path = PercentDecode(target.substr(0, question), PlusSign::Kept);
    if (question != std::string_view::npos)
        request.query = std::string(target.substr(question + 1));
    return true;
}

} // namespace

RequestFraming ParseRequest(std::string_view input, Request &request)
{
    request = Request();
    std::size_t at = 0;
    // Empty lines before a request line are tolerated.
    while (at < input.size() && (input[at] == '\r' || input[at] == '\n') && at < kMaxRequestHead)
        ++at;

    // A line's bound leaves room for the CR of its line end.
    std::size_t lineEnd = input.find('\n', at);
    if (lineEnd == std::string_view::npos)
        return input.size() - at > kMaxRequestLine + 1 ? Invalid(414) : RequestFraming();
    std::string_view line = input.substr(at, lineEnd - at);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.size() > kMaxRequestLine)
        return Invalid(414);
    int status = 0;
    if (!ParseRequestLine(line, request, status))
        return Invalid(status);

    bool hostSeen = false;
    bool lengthSeen = false;
    std::uint64_t length = 0;
    bool chunked = false;
    for (std::size_t headers = 0;; ++headers) {
        at = lineEnd + 1;
        if (at > kMaxRequestHead)
            return Invalid(400);
        lineEnd = input.find('\n', at);
        if (lineEnd == std::string_view::npos) {
            const std::size_t pending = input.size() - at;
            if (pending > kMaxRequestHeaderLine + 1 || input.size() > kMaxRequestHead)
                return Invalid(400);
            return RequestFraming();
        }
        line = input.substr(at, lineEnd - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            break;
        if (line.size() > kMaxRequestHeaderLine || headers >= kMaxRequestHeaders)
            return Invalid(400);
        // Folded lines are obsolete; a name must be a token right before ":".
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !IsToken(line.substr(0, colon)))
            return Invalid(400);
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = Trim(line.substr(colon + 1), kBlanks);
        if (HoldsControl(value, true))
            return Invalid(400);
        if (EqualsIgnoreCase(name, "Host")) {
            if (!hostSeen)
                request.host = std::string(value);
            hostSeen = true;
        } else if (EqualsIgnoreCase(name, "Content-Length")) {
            // Lengths that disagree could frame the request two ways.
            std::uint64_t stated = 0;
            if (!ParseLength(value, stated) || (lengthSeen && stated != length))
                return Invalid(400);
            length = stated;
            lengthSeen = true;
        } else if (EqualsIgnoreCase(name, "Transfer-Encoding")) {
            chunked = true;
        } else if (EqualsIgnoreCase(name, "Connection")) {
            if (ListsToken(value, "close"))
                request.keepAlive = false;
        }
    }
    const std::size_t headEnd = lineEnd + 1;
    if (headEnd > kMaxRequestHead)
        return Invalid(400);
    if (chunked) {
        // Such a body is not read: the answer ends the connection instead,
        // so none of its bytes is ever taken for a request.
        request.keepAlive = false;
        return {Kind::Complete, headEnd, 0, 0};
    }
    if (length > kMaxRequestBody)
        return Invalid(413);
    if (input.size() - headEnd < length)
        return {Kind::Incomplete, 0, 0, headEnd + static_cast<std::size_t>(length)};
    return {Kind::Complete, headEnd + static_cast<std::size_t>(length), 0, 0};
}

const char *ReasonPhrase(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Unknown";
    }
}

std::string FormatAnswer(const Answer &answer)
{
    const bool bodiless = (answer.status >= 100 && answer.status < 200) || answer.status == 204 ||
                          answer.status == 304;
    std::string bytes;
    bytes.reserve(256 + (answer.headOnly || bodiless ? 0 : answer.body.size()));
    bytes.append("HTTP/1.1 ").append(std::to_string(answer.status)).append(" ");
    bytes.append(ReasonPhrase(answer.status)).append("\r\n");
    if (answer.allowHeader)
        bytes.append("Allow: GET, HEAD\r\n");
    if (answer.close)
        bytes.append("Connection: close\r\n");
    if (!bodiless) {
        bytes.append("Content-Length: ").append(std::to_string(answer.body.size())).append("\r\n");
        bytes.append("Content-Type: ")
            .append(answer.contentType.empty() ? "text/html; charset=utf-8" : answer.contentType)
            .append("\r\n");
    }
    if (!answer.close)
        bytes.append("Keep-Alive: timeout=").append(std::to_string(answer.keepAliveSeconds)).append(", max=")
            .append(std::to_string(answer.keepAliveLeft)).append("\r\n");
    bytes.append("\r\n");
    if (!answer.headOnly && !bodiless)
        bytes.append(answer.body);
    return bytes;
}

} // namespace kelvora::directory
