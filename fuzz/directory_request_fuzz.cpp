// Request framing of the directory server: input = the bytes a client sends
// on one connection; the numbers for a generated request come from the
// input's end. Whatever arrives, a framed request must not depend on the
// bytes after it (pipelining) nor be framed differently once more bytes come.
#include "directory/core/http_request.h"
#include "fuzz/fuzz_check.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>

using kelvora::fuzz::Require;
namespace directory = kelvora::directory;
using Kind = directory::RequestFraming::Kind;

namespace {

bool Same(const directory::Request &a, const directory::Request &b)
{
    return a.method == b.method && a.path == b.path && a.query == b.query && a.host == b.host &&
           a.keepAlive == b.keepAlive;
}

void checkFraming(const std::string &input)
{
    directory::Request request;
    const directory::RequestFraming framing = directory::ParseRequest(input, request);
    switch (framing.kind) {
    case Kind::Invalid:
        Require(framing.status == 400 || framing.status == 413 || framing.status == 414,
                "a refused request is answered 400, 413 or 414");
        return;
    case Kind::Incomplete:
        Require(framing.needed == 0 || framing.needed > input.size(), "an incomplete request needs more bytes");
        Require(framing.needed <= input.size() + directory::kMaxRequestBody + directory::kMaxRequestHead,
                "a request waits for at most its bounded body");
        return;
    case Kind::Complete:
        break;
    }
    const std::size_t used = framing.consumed;
    Require(used > 0 && used <= input.size(), "a complete request lies within the input");
    Require(request.path.find('\0') == std::string::npos || input.find("%00") != std::string::npos,
            "a zero byte in the path comes only from %00");

    // The bytes after a request change nothing about it: the next request
    // of a pipeline starts exactly there.
    directory::Request alone;
    const directory::RequestFraming exact = directory::ParseRequest(input.substr(0, used), alone);
    Require(exact.kind == Kind::Complete && exact.consumed == used && Same(alone, request),
            "a request is framed alike without the bytes after it");
    directory::Request followed;
    const directory::RequestFraming pipelined = directory::ParseRequest(input + input, followed);
    Require(pipelined.kind == Kind::Complete && pipelined.consumed == used && Same(followed, request),
            "a request is framed alike with another behind it");

    // Cut anywhere before its end, it is still to come, never refused.
    for (const std::size_t cut : {used - 1, used / 2, used / 3, std::size_t{1}}) {
        if (cut >= used)
            continue;
        directory::Request partial;
        Require(directory::ParseRequest(input.substr(0, cut), partial).kind == Kind::Incomplete,
                "a request cut short is incomplete");
    }
}

// A well-formed request built from fuzz data frames back to what was put in.
void checkRoundTrip(FuzzedDataProvider &numbers, const std::string &bytes)
{
    static constexpr const char *kMethods[] = {"GET", "HEAD", "POST", "X-Y"};
    const std::string method = kMethods[numbers.ConsumeIntegralInRange<int>(0, 3)];
    std::string target = "/";
    for (const char c : bytes.substr(0, numbers.ConsumeIntegralInRange<std::size_t>(0, 200))) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte > 0x20 && byte != 0x7f)
            target += c;
    }
    const std::size_t length = numbers.ConsumeIntegralInRange<std::size_t>(0, 300);
    const bool close = numbers.ConsumeBool();
    std::string request = method + " " + target + " HTTP/1.1\r\nHost:  site.test \r\n";
    if (close)
        request += "Connection: close\r\n";
    request += "Content-Length: " + std::to_string(length) + "\r\n\r\n" + std::string(length, 'b');

    directory::Request framed;
    const directory::RequestFraming framing = directory::ParseRequest(request + "GET /", framed);
    Require(framing.kind == Kind::Complete && framing.consumed == request.size(),
            "a well-formed request is framed to its end");
    const std::size_t question = target.find('?');
    Require(framed.method == method && framed.host == "site.test" && framed.keepAlive == !close,
            "method, Host and Connection read back");
    Require(framed.query == (question == std::string::npos ? "" : target.substr(question + 1)),
            "the query is the raw target after its first \"?\"");
    Require(framed.path.size() <= question, "the path ends before the query");
}

void checkAnswer(FuzzedDataProvider &numbers, const std::string &bytes)
{
    directory::Answer answer;
    answer.status = numbers.ConsumeIntegralInRange<int>(100, 599);
    answer.body = bytes;
    answer.headOnly = numbers.ConsumeBool();
    answer.close = numbers.ConsumeBool();
    const std::string out = directory::FormatAnswer(answer);
    const std::size_t end = out.find("\r\n\r\n");
    Require(end != std::string::npos, "an answer has a head");
    const std::string head = out.substr(0, end + 2);
    const bool bodiless = answer.status < 200 || answer.status == 204 || answer.status == 304;
    Require(out.size() - end - 4 == (bodiless || answer.headOnly ? 0 : bytes.size()),
            "the body follows the head exactly");
    Require(bodiless || head.find("\r\nContent-Length: " + std::to_string(bytes.size()) + "\r\n") != std::string::npos,
            "the length is the body's");
    Require((head.find("\r\nConnection: close\r\n") != std::string::npos) == answer.close,
            "Connection: close exactly when closing");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto first = input.ConsumeIntegral<std::uint64_t>();
    const auto second = input.ConsumeIntegral<std::uint64_t>();
    const std::string bytes = input.ConsumeRemainingBytesAsString();

    checkFraming(bytes);
    std::uint8_t seed[16];
    for (int i = 0; i < 8; ++i) {
        seed[i] = static_cast<std::uint8_t>(first >> (8 * i));
        seed[8 + i] = static_cast<std::uint8_t>(second >> (8 * i));
    }
    FuzzedDataProvider numbers(seed, sizeof seed);
    checkRoundTrip(numbers, bytes);
    checkAnswer(numbers, bytes);
    return 0;
}
