#include <gtest/gtest.h>

#include "directory/core/query.h"
#include "directory/core/sqlite.h"
#include "tests/support/cases.h"

using namespace kelvora::directory;
using kelvora::testsupport::Case;

TEST(PercentDecode, DecodesEscapesAndPlusAndKeepsBrokenEscapes)
{
    const Case<const char *, std::string> cases[] = {
        {"%22web+hosting%22", "\"web hosting\""},
        {"link%3Ahttp%3A%2F%2Fwww.a.test", "link:http://www.a.test"},
        {"%2f%2F", "//"},
        {"100%", "100%"},
        {"%4", "%4"},
        {"%zz%41", "%zzA"},
        {"a%00b", std::string("a\0b", 3)},
        {"%%41", "%A"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(PercentDecode(c.input), c.expected) << c.input;
    // A path or a mailto: address keeps its plus signs.
    EXPECT_EQ(PercentDecode("a+b%2Bc%41+", PlusSign::Kept), "a+b+cA+");
}

TEST(QueryValue, FindsTheFirstExactKey)
{
    EXPECT_EQ(QueryValue("p=%22a+b%22&ei=UTF-8&n=20&b=1", "p"), "\"a b\"");
    EXPECT_EQ(QueryValue("p=%22a+b%22&ei=UTF-8&n=20&b=1", "b"), "1");
    EXPECT_EQ(QueryValue("pp=1&p=2&p=3", "p"), "2");
    EXPECT_EQ(QueryValue("x&p", "p"), "");
    EXPECT_EQ(QueryValue("n=5", "p"), std::nullopt);
    EXPECT_EQ(QueryValue("", "p"), std::nullopt);
    // A program's unencoded "&" in a keyword splits the value, as on any engine.
    EXPECT_EQ(QueryValue("p=%22fish&chips%22&n=20", "p"), "\"fish");
}

TEST(HostKey, ReducesEverySpellingOfAHost)
{
    const struct {
        const char *text;
        const char *name;
        const char *key;
    } cases[] = {
        {"www.example.org", "www.example.org", "example.org"},
        {"HTTP://WWW.Example.ORG/", "www.example.org", "example.org"},
        {"https://example.org:8080/a?b#c", "example.org", "example.org"},
        {"  example.org.  ", "example.org", "example.org"},
        {"www.www.example.org", "www.www.example.org", "www.example.org"},
        {"news.example.org/x", "news.example.org", "news.example.org"},
        {"www.", "www", "www"},
        {"", "", ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(HostName(c.text), c.name) << c.text;
        EXPECT_EQ(HostKey(c.text), c.key) << c.text;
    }
}

TEST(IsStorableHost, AcceptsOnlyPlainDottedNames)
{
    for (const char *good : {"a.b", "www.example.org", "x-1.y-2.test"})
        EXPECT_TRUE(IsStorableHost(good)) << good;
    for (const char *bad : {"", "ab", "localhost", ".a.b", "a.b.", "a..b", "a b.c", "A.b", "a.b/",
                            "a<b.c", "a_b.c"})
        EXPECT_FALSE(IsStorableHost(bad)) << bad;
    EXPECT_FALSE(IsStorableHost(std::string(250, 'a') + ".test"));
}

TEST(ParseSearchText, TellsLinkQueriesFromKeywords)
{
    SearchText links = ParseSearchText("link:http://www.Example.org/");
    EXPECT_EQ(links.kind, SearchText::Kind::Links);
    EXPECT_EQ(links.linkKey, "example.org");
    EXPECT_EQ(ParseSearchText("  LINK:example.org").linkKey, "example.org");

    SearchText words = ParseSearchText("linking things");
    EXPECT_EQ(words.kind, SearchText::Kind::Keywords);
    EXPECT_EQ(words.ftsQuery, "\"linking\" \"things\"");
}

TEST(BuildFtsQuery, QuotesEveryTermAndPhrase)
{
    const Case<const char *> cases[] = {
        {"web server", "\"web\" \"server\""},
        {"\"web server\"", "\"web server\""},
        {"cheap \"web hosting\" uk", "\"cheap\" \"web hosting\" \"uk\""},
        {"\"unterminated phrase", "\"unterminated phrase\""},
        {"a\"b c\"d", "\"a\" \"b c\" \"d\""},
        {"NEAR(a b) OR c*", "\"NEAR(a\" \"b)\" \"OR\" \"c*\""},
        {"title:x -y ^z", "\"title:x\" \"-y\" \"^z\""},
        {"+++ \"\" ... \"  \"", ""},
        {"", ""},
        {"tab\there", "\"tab\" \"here\""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(BuildFtsQuery(c.input), c.expected) << c.input;
}

TEST(BuildFtsQuery, BoundsTheNumberOfTerms)
{
    std::string text;
    for (int i = 0; i < 100; ++i)
        text += "w" + std::to_string(i) + " ";
    const std::string query = BuildFtsQuery(text);
    std::size_t quotes = 0;
    for (char c : query)
        quotes += c == '"';
    EXPECT_EQ(quotes, 2 * kMaxQueryTerms);
}

// Hostile texts must reach FTS5 as plain words: the query always compiles
// and finds only rows holding the words literally.
TEST(BuildFtsQuery, NoQuerySyntaxReachesTheIndex)
{
    Connection db(":memory:", OpenMode::Create);
    db.Execute("CREATE VIRTUAL TABLE t USING fts5(body, tokenize='porter unicode61');"
               "INSERT INTO t(body) VALUES ('near or and not'), ('alpha beta'), ('gamma');");
    const Case<const char *, std::int64_t> cases[] = {
        {"NEAR OR", 1},
        {"alpha OR gamma", 0},
        {"alpha NOT beta", 0},
        {"body:alpha", 0},
        {"{body}: gamma", 0},
        {"alpha*", 1},
        {"\"beta alpha\"", 0},
        {"\"alpha beta\"", 1},
        {"(gamma", 1},
        // Bytes that form no token drop out instead of failing the query.
        {"\xff\xfe gamma", 1},
        {"gamma \x01\x02", 1},
    };
    Statement count(db, "SELECT count(*) FROM t WHERE t MATCH ?1");
    for (const auto &c : cases) {
        const std::string query = BuildFtsQuery(c.input);
        ASSERT_FALSE(query.empty()) << c.input;
        count.Bind(1, query);
        ASSERT_NO_THROW({
            ASSERT_TRUE(count.Step());
            EXPECT_EQ(count.Integer(0), c.expected) << c.input << " as " << query;
        });
        count.Reset();
    }
}

TEST(ParseCount, ClampsAndFallsBack)
{
    EXPECT_EQ(ParseCount("20", 10, 1, 100), 20);
    EXPECT_EQ(ParseCount("0", 10, 1, 100), 1);
    EXPECT_EQ(ParseCount("101", 10, 1, 100), 100);
    EXPECT_EQ(ParseCount("99999999999999999999999", 10, 1, 100), 100);
    EXPECT_EQ(ParseCount("9223372036854775807", 1, 1, INT64_MAX), INT64_MAX);
    EXPECT_EQ(ParseCount("-5", 10, 1, 100), 10);
    EXPECT_EQ(ParseCount("5x", 10, 1, 100), 10);
    EXPECT_EQ(ParseCount("", 10, 1, 100), 10);
    EXPECT_EQ(ParseCount(" 5", 10, 1, 100), 10);
    // A maximum below the digit read: the count is already too large.
    EXPECT_EQ(ParseCount("9", 10, 0, 5), 5);
    EXPECT_EQ(ParseCount("2", 10, 0, 0), 0);
    EXPECT_EQ(ParseCount("16", 10, 0, 15), 15);
}
