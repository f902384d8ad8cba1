#include "text/host.h"
#include "text/text.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

using namespace std::string_literals;

namespace kelvora {
namespace {

// The plain restart-from-the-first-character algorithm, kept here as the
// reference the linear implementation must match byte for byte. Gives up
// (nullopt) after maxSteps replacements.
std::optional<std::string> naiveReplaceAllIgnoreCase(std::string text, const std::string &pattern,
                                                     const std::string &replacement, int maxSteps = 100000)
{
    const std::string p = LowerCase(pattern);
    if (p.empty())
        return text;
    std::size_t k = Pos(p, LowerCase(text));
    for (int step = 0; k > 0; ++step) {
        if (step == maxSteps)
            return std::nullopt;
        text.erase(k - 1, p.size());
        text.insert(k - 1, replacement);
        k = Pos(p, LowerCase(text));
    }
    return text;
}

// Up to maxLength characters drawn from alphabet.
std::string randomText(std::mt19937 &random, const std::string &alphabet, std::size_t maxLength)
{
    std::string text(random() % (maxLength + 1), ' ');
    for (char &c : text)
        c = alphabet[random() % alphabet.size()];
    return text;
}

// ReplaceAllIgnoreCase measured against the reference; nullopt where the
// reference cannot tell: a replacement containing the pattern never
// terminates, and some others rebuild it forever with their neighbours.
std::optional<::testing::AssertionResult> agreesWithReference(const std::string &text, const std::string &pattern,
                                                              const std::string &replacement)
{
    if (!pattern.empty() && Contains(LowerCase(replacement), LowerCase(pattern)))
        return std::nullopt;
    const auto expected = naiveReplaceAllIgnoreCase(text, pattern, replacement, 2000);
    if (!expected)
        return std::nullopt;
    const std::string actual = ReplaceAllIgnoreCase(text, pattern, replacement);
    if (actual == *expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "text=" << text << " pattern=" << pattern << " replacement=" << replacement
                                         << " gave " << actual << " instead of " << *expected;
}

TEST(TextConventions, PosCopyAndLowerCase)
{
    EXPECT_EQ(Pos("b", "abcb"), 2u);
    EXPECT_EQ(Pos("B", "abcb"), 0u);   // exact bytes, with case
    EXPECT_EQ(Pos("", "abc"), 0u);
    EXPECT_EQ(Pos("a", ""), 0u);
    EXPECT_EQ(Pos("\0"s, "a\0b"s), 2u); // zero bytes are ordinary characters
    EXPECT_TRUE(Contains("abc", "bc"));
    EXPECT_FALSE(Contains("abc", ""));

    struct Case { long long index, count; std::string expected; };
    const Case cases[] = {
        {1, 2, "ab"}, {0, 2, "ab"}, {-5, 1, "a"}, {3, 10, "cde"}, {5, 1, "e"},
        {6, 1, ""}, {2, -1, ""}, {2, 0, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Copy("abcde", c.index, c.count), c.expected) << c.index << "," << c.count;
    EXPECT_EQ(Copy("", 1, 5), "");
    EXPECT_EQ(CopyFrom("abcde", 4), "de");
    EXPECT_EQ(CopyFrom("abcde", -3), "abcde");

    EXPECT_EQ(LowerCase("AZaz@[`{\xC0\xC9\xDF"), "azaz@[`{\xC0\xC9\xDF");
}

TEST(TextConventions, CaseFreeComparisonsAndTrimming)
{
    EXPECT_TRUE(StartsWithIgnoreCase("MailTo:x", "mailto:"));
    EXPECT_TRUE(StartsWithIgnoreCase("abc", ""));
    EXPECT_FALSE(StartsWithIgnoreCase("ma", "mailto:"));
    EXPECT_FALSE(StartsWithIgnoreCase("\xC4x", "\xE4"));   // bytes above 0x7F are not folded
    EXPECT_TRUE(EqualsIgnoreCase("Content-LENGTH", "content-length"));
    EXPECT_FALSE(EqualsIgnoreCase("close", "closed"));
    EXPECT_FALSE(EqualsIgnoreCase("[@", "{`"));              // only letters have a case

    EXPECT_EQ(TrimWhitespace(" \t\r\n\v\fa b\f\v\n\r\t "), "a b");
    EXPECT_EQ(TrimWhitespace(" \t\r\n"), "");
    EXPECT_EQ(TrimWhitespace("\0a\0"s), "\0a\0"s);            // zero bytes are no white space

    EXPECT_EQ(PercentEncode("\"web hosting\" & c#x/é"), "%22web%20hosting%22%20%26%20c%23x%2F%C3%A9");
    EXPECT_EQ(PercentEncode("a b+c", BlankEncoding::Plus), "a+b%2Bc");

    EXPECT_EQ(TrimLine(" \tContact: x \t\r"), "Contact: x");
    EXPECT_EQ(TrimLine("\rx\r\r"), "\rx");                     // a CR ends a line, it does not start one
    EXPECT_EQ(TrimLine(" \r"), "");
    EXPECT_EQ(TrimLine("\t\r \r"), "");
    EXPECT_EQ(TrimLine("\va\f"), "\va\f");
}

TEST(ReplaceAllIgnoreCase, EdgeCases)
{
    struct Case { std::string text, pattern, replacement, expected; };
    const Case cases[] = {
        {"Visit WWW.A.test or www.b.test", "www.", "", "Visit A.test or b.test"},
        {"abc", "", "x", "abc"},
        {"", "a", "x", ""},
        {"a b c", " ", "%20", "a%20b%20c"},
        {"100% a b", " ", "%20", "100%%20a%20b"},
        {"\r\r\n\n", "\r\n", "", ""},
        {"a\nb\rc\n\rd", "\r\n", "", "a\nb\rc\n\rd"},
        {"x\r\r\r\n\n\ny", "\r\n", "", "xy"},
        {"HeLLo hello", "LL", "L-", "HeL-o heL-o"},   // replacement keeps its own case
        {"AbAbab", "ab", "", ""},
        {"aaab", "ab", "b", "b"},                       // each replacement forms the next occurrence
        {"http:/http:///", "http://", "", ""},    // brought together across the cut
        {"\xC4\xE4", "\xE4", "x", "\xC4x"},             // bytes above 0x7F are not folded
        {"a\0B\0b"s, "\0b"s, "-", "a--"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ReplaceAllIgnoreCase(c.text, c.pattern, c.replacement), c.expected)
            << "text=" << c.text << " pattern=" << c.pattern;
}

TEST(ReplaceAllIgnoreCase, MatchesRestartingReferenceOnRandomTexts)
{
    std::mt19937 random(20261207);
    const std::string alphabets[] = {"aAb", "\r\n", "abB\r\n", "xX%"};
    int compared = 0;
    for (int round = 0; round < 20000; ++round) {
        const std::string &alphabet = alphabets[round % 4];
        const std::string text = randomText(random, alphabet, 40);
        const std::string pattern = randomText(random, alphabet, 4);
        const std::string replacement = randomText(random, alphabet, 3);
        const auto agrees = agreesWithReference(text, pattern, replacement);
        if (!agrees)
            continue;
        ASSERT_TRUE(*agrees);
        ++compared;
    }
    EXPECT_GT(compared, 10000);
}

TEST(ReplaceAllIgnoreCase, LongPatternsAndNestedJoins)
{
    // A pattern longer than the automaton bound takes the other matcher.
    const std::string pattern = std::string(1500, 'q') + "Z";
    const std::string text = "<" + std::string(1500, 'Q') + std::string(1500, 'q') + "zz>";
    EXPECT_EQ(ReplaceAllIgnoreCase(text, pattern, "q"), naiveReplaceAllIgnoreCase(text, pattern, "q"));

    // Bubbling: quadratic in the number of replacements, still exact.
    const std::string bubbles = std::string(300, 'a') + std::string(300, 'b');
    EXPECT_EQ(ReplaceAllIgnoreCase(bubbles, "ab", "ba"), std::string(300, 'b') + std::string(300, 'a'));

    // Deep joins unwind over the whole prefix in one pass.
    const std::string nested = std::string(100000, '\r') + std::string(100000, '\n');
    EXPECT_EQ(ReplaceAllIgnoreCase(nested, "\r\n", ""), "");
}

TEST(ReplaceAllIgnoreCase, RunawayGrowthIsCutOff)
{
    // "ab" -> "bba" doubles the b's each time an a passes them: exact for small
    // texts, but a^40 b would need 2^40 bytes, so the text comes back unchanged.
    EXPECT_EQ(ReplaceAllIgnoreCase("aaaaab", "ab", "bba"), std::string(32, 'b') + "aaaaa");
    const std::string runaway = std::string(40, 'a') + "b";
    EXPECT_EQ(ReplaceAllIgnoreCase(runaway, "AB", "bba"), runaway);
}

TEST(StripNumberPunctuation, RemovesCommasStopsAndBlanksOnly)
{
    EXPECT_EQ(StripNumberPunctuation("1,234.5 6"), "123456");
    EXPECT_EQ(StripNumberPunctuation(""), "");
    EXPECT_EQ(StripNumberPunctuation("1\t2"), "1\t2");
    EXPECT_EQ(StripNumberPunctuation("1\xA0" "2,a;b"), "1\xA0" "2a;b");
}

TEST(IsDigit, OnlyAsciiDigits)
{
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(IsDigit(static_cast<char>(c)), c >= '0' && c <= '9') << c;
}

TEST(UrlHelpers, HostCleaning)
{
    struct Case { std::string (*function)(std::string); std::string input, expected; };
    const Case cases[] = {
        {CleanResultHost, "www.Example.test/path/page.html", "www.example.test"},
        {CleanResultHost, "www.<b>shop</b>.test", "www.bshop.test"},
        {CleanResultHost, "<I>Big</I>.test</em> x</big>", "ibig.testem xig"},
        {CleanResultHost, "plain.test", "plain.test"},
        {CleanResultHost, "/starts.test", ""},
        {CleanResultHost, "a<</b/b>>.test", "a.test"},
        {StripScheme, "HTTPS://Secure.Example.test", "secure.example.test"},
        {StripScheme, "x.test/?u=http://y.test", "x.test/?u=y.test"},
        {StripScheme, "hthttp://tp://z.test", "z.test"},
        {BareHost, "http://www.example.test/", "example.test/"},
        {BareHost, "www.www.example.test", "example.test"},
        {BareHost, "wwww.x.test", "wx.test"},
        {BareHost, "news.example.test", "news.example.test"},
        {BareHost, "httpwww.://a.test", "a.test"},       // "http://" brought together by the "www." removal
        {BareHost, "httpswww.://a.test", "https://a.test"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.function(c.input), c.expected) << c.input;
}

} // namespace
} // namespace kelvora

namespace kelvora {
namespace {

std::string naiveLowerCase(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    }
    return text;
}

// Reference searches: a lower-cased copy and std::string::find.
std::size_t referenceFind(const std::string &text, const std::string &pattern, std::size_t from, bool ignoreCase)
{
    if (pattern.empty())
        return std::string::npos;
    return ignoreCase ? naiveLowerCase(text).find(naiveLowerCase(pattern), from) : text.find(pattern, from);
}

TEST(CaseFreeSearch, MatchesReferenceOnTrickyInputs)
{
    const std::string page = std::string(40, 'x') + "<TiTlE>Home</title>" + std::string(21, '\xC1');
    struct Case { std::string text, pattern; };
    const Case cases[] = {
        {"", ""}, {"", "a"}, {"a", ""}, {"abc", "abcd"},
        {"Abc", "a"}, {"xxA", "a"}, {"xxa", "A"},                    // at start and end, either case
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "AAB"},          // overlapping false starts
        {"abababababababababababababababababab", "BABA"},          // overlapping matches
        {std::string(33, '\r') + "\n", "\r\n"},                    // match in the last bytes only
        {"\xC1\xE1\xC1\xE1\xC1\xE1\xC1\xE1\xC1\xE1\xC1\xE1\xC1\xE1\xC1\xE1\xC1", "\xE1\xC1"},
        {"[@[@[@[@[@[@[@[@[@[@[@[@[@[@[@[@`{", "`{"},                // neighbours of the letters
        {std::string(20, '{') + "[", "{["}, {std::string(20, '@') + "`", "@`"},
        {"a\0b\0B\0c"s, "\0b\0c"s},                                 // zero bytes are ordinary
        {page, "<title>"}, {page, "</TITLE>"}, {page, "\xC1\xC1"}, {page, "\xE1"},
        {page, std::string(40, 'X')}, {page, std::string(41, 'x')}, {page, page}, {page, page + "x"},
    };
    for (const Case &c : cases) {
        for (std::size_t from : {std::size_t{0}, std::size_t{1}, std::size_t{17}, c.text.size(), c.text.size() + 1}) {
            const auto expected = from > c.text.size() ? std::string::npos : referenceFind(c.text, c.pattern, from, true);
            EXPECT_EQ(FindIgnoreCase(c.text, c.pattern, from), expected)
                << "text=" << c.text << " pattern=" << c.pattern << " from=" << from;
        }
        const std::size_t exact = referenceFind(c.text, c.pattern, 0, false);
        EXPECT_EQ(Pos(c.pattern, c.text), exact == std::string::npos ? 0 : exact + 1) << c.text;
        const std::size_t folded = referenceFind(c.text, c.pattern, 0, true);
        EXPECT_EQ(PosIgnoreCase(c.pattern, c.text), folded == std::string::npos ? 0 : folded + 1) << c.text;
        EXPECT_EQ(ContainsIgnoreCase(c.text, c.pattern), folded != std::string::npos) << c.text;
        EXPECT_EQ(LowerCase(c.text), naiveLowerCase(c.text));
    }
}

TEST(CaseFreeSearch, MatchesReferenceOnRandomPages)
{
    // Texts long enough for the block-wise scan, over small alphabets so that
    // near misses and matches across block edges are frequent.
    std::mt19937 random(20261209);
    const std::string alphabets[] = {"aAbB", "\r\n<>", "xX\xD8\xF8@`", std::string("q\0Q{[", 5)};
    for (int round = 0; round < 20000; ++round) {
        const std::string &alphabet = alphabets[round % 4];
        const std::string text = randomText(random, alphabet, 120);
        const std::string pattern = randomText(random, alphabet, 1 + round % 6);
        const std::size_t from = random() % (text.size() + 2);
        const auto expected = from > text.size() ? std::string::npos : referenceFind(text, pattern, from, true);
        ASSERT_EQ(FindIgnoreCase(text, pattern, from), expected) << "text=" << text << " pattern=" << pattern;
        const std::size_t exact = referenceFind(text, pattern, 0, false);
        ASSERT_EQ(Pos(pattern, text), exact == std::string::npos ? 0 : exact + 1) << text;
        ASSERT_EQ(LowerCase(text), naiveLowerCase(text));

        // Replacing over whole pages, in place (shorter replacement) and not.
        const auto agrees = agreesWithReference(text, pattern, randomText(random, alphabet, pattern.size() + 1));
        if (agrees)
            ASSERT_TRUE(*agrees);
    }
}

TEST(ReplaceAllIgnoreCase, ReplacementMayComeFromTheTextItself)
{
    // The text is rewritten in place; a replacement viewing the caller's
    // string must still be read as it was.
    const std::string zs(30, 'z');
    std::string text = "a\r\nb\r\n" + zs + "TAIL";   // long enough to live on the heap
    const std::string_view tail = std::string_view(text).substr(text.size() - 4);
    EXPECT_EQ(ReplaceAllIgnoreCase(std::move(text), "\r\n", tail), "aTAILbTAIL" + zs + "TAIL");
}

} // namespace
} // namespace kelvora
