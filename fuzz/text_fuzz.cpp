// Text helpers: input = pattern, replacement (each ended by "\ "), then the
// text; two 64-bit slice arguments are taken from the input's end.
#include "fuzz/fuzz_check.h"
#include "web/text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>

using kelvora::fuzz::Require;

namespace {

constexpr std::size_t kMaxArgumentLength = 64;

bool isUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}

bool containsIgnoreCase(const std::string &text, const std::string &pattern)
{
    return !pattern.empty() && kelvora::Pos(kelvora::LowerCase(pattern), kelvora::LowerCase(text)) != 0;
}

void checkLowerCase(const std::string &text)
{
    const std::string lower = kelvora::LowerCase(text);
    Require(lower.size() == text.size(), "LowerCase keeps the length");
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char expected = isUpper(text[i]) ? static_cast<char>(text[i] + 32) : text[i];
        Require(lower[i] == expected, "LowerCase changes only A..Z");
    }
}

std::string naiveLowerCase(std::string text)
{
    for (char &c : text) {
        if (isUpper(c))
            c = static_cast<char>(c + 32);
    }
    return text;
}

void checkFindIgnoreCase(const std::string &pattern, const std::string &text, long long index)
{
    const auto from = static_cast<std::size_t>(std::clamp(index, 0LL, static_cast<long long>(text.size()) + 1));
    const std::size_t expected = pattern.empty() || from > text.size()
                                     ? std::string::npos
                                     : naiveLowerCase(text).find(naiveLowerCase(pattern), from);
    Require(kelvora::FindIgnoreCase(text, pattern, from) == expected,
            "FindIgnoreCase is the leftmost case-free occurrence at or after its start");
    const std::size_t first = pattern.empty() ? std::string::npos : naiveLowerCase(text).find(naiveLowerCase(pattern));
    Require(kelvora::PosIgnoreCase(pattern, text) == (first == std::string::npos ? 0 : first + 1),
            "PosIgnoreCase is the leftmost case-free 1-based position");
}

void checkPosAndCopy(const std::string &pattern, const std::string &text, long long index, long long count)
{
    const std::size_t position = kelvora::Pos(pattern, text);
    const std::size_t found = (pattern.empty() || text.empty()) ? std::string::npos : text.find(pattern);
    Require(position == (found == std::string::npos ? 0 : found + 1), "Pos is the leftmost 1-based position");
    if (!pattern.empty())
        Require(kelvora::Contains(text, pattern) == (text.find(pattern) != std::string::npos),
                "Contains finds exact bytes");

    const long long start = std::max(index, 1LL);
    std::string expected;
    if (!text.empty() && count >= 0 && start <= static_cast<long long>(text.size()))
        expected = text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count));
    Require(kelvora::Copy(text, index, count) == expected, "Copy clamps its slice");
    const std::string tail = kelvora::CopyFrom(text, index);
    Require(tail == (start <= static_cast<long long>(text.size())
                         ? text.substr(static_cast<std::size_t>(start - 1))
                         : std::string()),
            "CopyFrom runs to the end");
}

void checkReplace(const std::string &pattern, const std::string &replacement, const std::string &text)
{
    // A replacement that shares a character with the pattern may rebuild it
    // with its neighbours forever; the function then gives up after a large
    // work budget, too slow to fuzz. Callers replace by the empty text or by
    // texts disjoint from the pattern (" " by "%20", "\r\n" by ""), which
    // must always leave no occurrence, however occurrences join.
    const std::string lowerPattern = kelvora::LowerCase(pattern);
    if (kelvora::LowerCase(replacement).find_first_of(lowerPattern) != std::string::npos)
        return;
    const std::string result = kelvora::ReplaceAllIgnoreCase(text, pattern, replacement);
    if (pattern.empty() || !containsIgnoreCase(text, pattern))
        Require(result == text, "ReplaceAllIgnoreCase leaves a text without the pattern alone");
    else
        Require(!containsIgnoreCase(result, pattern), "ReplaceAllIgnoreCase leaves no occurrence");
}

void checkHostHelpers(const std::string &text)
{
    const std::string clean = kelvora::CleanResultHost(text);
    Require(clean.find_first_of("<>/") == std::string::npos, "CleanResultHost has no '<', '>' or '/'");
    Require(std::none_of(clean.begin(), clean.end(), isUpper), "CleanResultHost is lower-case");
    Require(clean.size() <= text.size(), "CleanResultHost never grows");

    const std::string stripped = kelvora::StripScheme(text);
    Require(std::none_of(stripped.begin(), stripped.end(), isUpper), "StripScheme is lower-case");
    Require(stripped.size() <= text.size(), "StripScheme never grows");
    const std::string bare = kelvora::BareHost(text);
    Require(bare.size() <= stripped.size(), "BareHost never grows");

    const std::string digits = kelvora::StripNumberPunctuation(text);
    Require(digits.find_first_of(",. ") == std::string::npos, "StripNumberPunctuation removes , . and blanks");
    Require(digits.size() == text.size() - static_cast<std::size_t>(std::count_if(text.begin(), text.end(),
                                 [](char c) { return c == ',' || c == '.' || c == ' '; })),
            "StripNumberPunctuation removes nothing else");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string pattern = input.ConsumeRandomLengthString(kMaxArgumentLength);
    const std::string replacement = input.ConsumeRandomLengthString(kMaxArgumentLength);
    const long long index = input.ConsumeIntegralInRange<long long>(-4, 1LL << 40);
    const long long count = input.ConsumeIntegralInRange<long long>(-4, 1LL << 40);
    const std::string text = input.ConsumeRemainingBytesAsString();

    checkLowerCase(text);
    checkPosAndCopy(pattern, text, index, count);
    checkFindIgnoreCase(pattern, text, index);
    checkReplace(pattern, replacement, text);
    checkHostHelpers(text);
    return 0;
}
