#include "app/results_file.h"

#include <gtest/gtest.h>

#include <string>

QT_BEGIN_NAMESPACE
// Readable failure messages for Qt texts.
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

using kelvora::ResultRow;
using kelvora::ResultsFileContent;

namespace {

ResultRow row(const char *caption, bool ticked, QStringList cells)
{
    return ResultRow{QString::fromLatin1(caption), ticked, std::move(cells)};
}

QStringList captions(const ResultsFileContent &content)
{
    QStringList list;
    for (const ResultRow &r : content.rows)
        list << r.caption;
    return list;
}

} // namespace

TEST(ResultsFile, RowsFollowItemNumbersBelowTheSectionCount)
{
    struct Case {
        const char *name;
        std::string file;
        QStringList expected;
    };
    const Case cases[] = {
        {"sections out of order",
         "[Option]\r\nResult=r\r\n[item2]\r\nwebsite=c.test\r\n[item0]\r\nwebsite=a.test\r\n"
         "[item1]\r\nwebsite=b.test\r\n",
         {"a.test", "b.test", "c.test"}},
        // Three sections in all, so item5 lies beyond the numbers looked at.
        {"gap beyond the count",
         "[item0]\r\nwebsite=a.test\r\n[item5]\r\nwebsite=f.test\r\n[Option]\r\nDate=d\r\n",
         {"a.test"}},
        {"missing number skipped",
         "[item0]\r\nwebsite=a.test\r\n[item2]\r\nwebsite=c.test\r\n[x]\r\nk=v\r\n",
         {"a.test", "c.test"}},
        {"section without keys counts as absent",
         "[item0]\r\n[item1]\r\nwebsite=b.test\r\n",
         {"b.test"}},
        {"names in other letter cases",
         "[ITEM0]\r\nWEBSITE=a.test\r\n[Item1]\r\n  WebSite  =  b.test  \r\n",
         {"a.test", "b.test"}},
        {"LF-only lines", "[item0]\nwebsite=a.test\n", {"a.test"}},
        {"not an INI file", std::string("\x00\xff garbage\r\n=x\r\n", 16), {}},
        {"empty file", "", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(captions(kelvora::ParseResultsFile(c.file)), c.expected);
    }
}

TEST(ResultsFile, CellsTicksAndLabelsAreRead)
{
    const ResultsFileContent content = kelvora::ParseResultsFile(
        "[item0]\r\nwebsite=www.example.test\r\nSE-rank=1\r\npopularity=1230\r\nAlexa=45678\r\n"
        "Since=2001\r\nAgreement=70\r\nCompete=other.test\r\ncheck=0\r\n"
        "[item1]\r\nwebsite=only.test\r\n"
        "[Option]\r\nResult=Results for x\r\nDate=Date/Time: now\r\n");
    ASSERT_EQ(content.rows.size(), 2u);
    EXPECT_EQ(content.rows[0].cells,
              QStringList({"1", "1230", "45678", "2001", "70", "other.test"}));
    EXPECT_FALSE(content.rows[0].ticked);
    // Only a caption: six empty cells and a ticked box.
    EXPECT_EQ(content.rows[1].caption, "only.test");
    EXPECT_EQ(content.rows[1].cells, QStringList({"", "", "", "", "", ""}));
    EXPECT_TRUE(content.rows[1].ticked);
    EXPECT_EQ(content.result, "Results for x");
    EXPECT_EQ(content.date, "Date/Time: now");

    const ResultsFileContent noOption =
        kelvora::ParseResultsFile("[item0]\r\nwebsite=a\r\n[item1]\r\nwebsite=b\r\n");
    EXPECT_EQ(noOption.rows.size(), 2u);
    EXPECT_TRUE(noOption.result.isEmpty());
    EXPECT_TRUE(noOption.date.isEmpty());
}

TEST(ResultsFile, CheckValues)
{
    struct Case {
        const char *value;   // nullptr: key missing
        bool ticked;
    };
    const Case cases[] = {
        {"0", false}, {"1", true}, {"7", true}, {"0x1F", true}, {"0X0", false},
        {"0x", true}, {"no", true}, {nullptr, true}, {"", true}, {"-0", false},
        {"00", false}, {"0x00000000000000", false}, {"99999999999", true}, {"1x", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(missing)");
        const std::string value = c.value ? c.value : "";
        EXPECT_EQ(kelvora::CheckValueTicks(c.value ? &value : nullptr), c.ticked);
        const std::string file = "[item0]\r\nwebsite=a\r\n"
                                 + (c.value ? "check=" + value + "\r\n" : std::string());
        const ResultsFileContent content = kelvora::ParseResultsFile(file);
        ASSERT_EQ(content.rows.size(), 1u);
        EXPECT_EQ(content.rows[0].ticked, c.ticked);
    }
}

TEST(ResultsFile, ExampleTableIsWrittenKeyByKey)
{
    ResultsFileContent content;
    content.rows.push_back(row("www.example.test", true, {"1", "1230", "45678", "", "", "other.test"}));
    content.result = "Results for websites related to www.partner.test";
    content.date = "Date/Time: 6/12/26 21:30:00";
    EXPECT_EQ(kelvora::FormatResultsFile(content),
              "[item0]\r\nwebsite=www.example.test\r\nSE-rank=1\r\npopularity=1230\r\n"
              "Alexa=45678\r\nSince=\r\nAgreement=\r\nCompete=other.test\r\ncheck=1\r\n"
              "[Option]\r\nResult=Results for websites related to www.partner.test\r\n"
              "Date=Date/Time: 6/12/26 21:30:00\r\n");

    EXPECT_EQ(kelvora::FormatResultsFile({}), "[Option]\r\nResult=\r\nDate=\r\n");
}

TEST(ResultsFile, LineBreaksInValuesBecomeBlanksAndOtherRowsSurvive)
{
    ResultsFileContent content;
    content.rows.push_back(row("a.test", true, {"1", "2\r\n[item0]", "3", "x\ny", "z\rw", "c"}));
    content.rows.push_back(row("b.test", false, {"2", "", "", "", "", ""}));
    content.result = "first\r\nsecond";
    const ResultsFileContent back = kelvora::ParseResultsFile(kelvora::FormatResultsFile(content));
    ASSERT_EQ(back.rows.size(), 2u);
    EXPECT_EQ(back.rows[0].cells, QStringList({"1", "2 [item0]", "3", "x y", "z w", "c"}));
    EXPECT_EQ(back.rows[1].caption, "b.test");
    EXPECT_FALSE(back.rows[1].ticked);
    EXPECT_EQ(back.result, "first second");
}
