#include "platform/profile.h"

#include "tests/platform/temporary_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace kelvora {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

using testing::readFile;
using testing::TemporaryFolder;

std::size_t entryCount(const fs::path &folder)
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto &entry : fs::directory_iterator(folder))
        ++count;
    return count;
}

TEST(ProfileFile, NamesMatchInAnyCaseAndBlanksDoNotCount)
{
    const ProfileFile profile = ProfileFile::Parse(
        "  [ ITEM0 ]  \r\n"
        "  WebSite =  www.example.test \t\r\n"
        "check=0x1F\r\n"
        "empty=\r\n"
        "Result=a = b\r\n");
    EXPECT_EQ(profile.Value("item0", "website"), "www.example.test");
    EXPECT_EQ(profile.Value("Item0", "CHECK"), "0x1F");
    EXPECT_EQ(profile.Value("item0", "empty"), "");
    EXPECT_EQ(profile.Value("item0", "result"), "a = b");
    EXPECT_EQ(profile.Value("item0", "missing"), std::nullopt);
    EXPECT_EQ(profile.Value("item1", "website"), std::nullopt);
    EXPECT_EQ(profile.SectionNames(), Names{"ITEM0"});
}

TEST(ProfileFile, LfAndCrLfFilesReadAlike)
{
    const std::string lf = "[Option]\nResult=r\nDate=d\n[item0]\nwebsite=w";
    std::string crlf;
    for (const char c : lf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    for (const std::string &text : {lf, crlf}) {
        const ProfileFile profile = ProfileFile::Parse(text);
        EXPECT_EQ(profile.SectionNames(), (Names{"Option", "item0"}));
        EXPECT_EQ(profile.Value("option", "result"), "r");
        EXPECT_EQ(profile.Value("option", "date"), "d");
        EXPECT_EQ(profile.Value("item0", "website"), "w");
    }
}

TEST(ProfileFile, CommentsLinesBeforeSectionsAndDuplicates)
{
    const ProfileFile profile = ProfileFile::Parse(
        "website=before any section\n"
        "; [item9]\n"
        "[item2]\n"
        "; website=comment\n"
        "website=two\n"
        "website=second key ignored\n"
        "[item0]\n"
        "[ITEM2]\n"
        "website=duplicate section ignored\n"
        "[item1]\n"
        "bare line\n");
    EXPECT_EQ(profile.SectionNames(), (Names{"item2", "item0", "ITEM2", "item1"}));
    EXPECT_EQ(profile.Value("item2", "website"), "two");
    EXPECT_FALSE(profile.HasKeys("item0"));
    EXPECT_TRUE(profile.HasKeys("item2"));
    EXPECT_TRUE(profile.HasKeys("item1"));
    EXPECT_EQ(profile.Value("item1", "bare line"), "");
    EXPECT_FALSE(profile.HasKeys("item9"));
    EXPECT_FALSE(profile.HasKeys(""));
}

TEST(ProfileFile, ValuesAreCutAt2047Characters)
{
    const std::string longValue = std::string(2047, 'a') + "bcd";
    const ProfileFile profile = ProfileFile::Parse("[s]\nlong=" + longValue + "\nexact=" +
                                                   std::string(2047, 'x') + "\n");
    EXPECT_EQ(profile.Value("s", "long"), std::string(2047, 'a'));
    EXPECT_EQ(profile.Value("s", "exact"), std::string(2047, 'x'));
}

// Each name takes its length plus a zero byte; the area's last byte closes the list.
TEST(ProfileFile, SectionNamesAreCutAtTheAreaEnd)
{
    struct Case {
        std::size_t fullNames;   // of 9 characters, 10 bytes each
        std::size_t lastLength;  // of the name "zz...", followed by a section "after"
        std::size_t expectedCount;
        std::string expectedLast;
    };
    // 1638 full names use 16380 bytes, leaving 3 before the closing byte.
    const Case cases[] = {
        {1638, 2, 1639, "zz"},   // fits exactly; nothing after it
        {1638, 1, 1639, "z"},    // one byte left: too little for a cut name
        {1638, 3, 1639, "zz"},   // cut, and still counted as read
        {1638, 0, 1639, "af"},   // an empty name is not listed
        {100, 5, 102, "after"},
    };
    for (const Case &c : cases) {
        std::string text;
        for (std::size_t i = 0; i < c.fullNames; ++i) {
            const std::string number = std::to_string(i);
            text += "[s" + std::string(8 - number.size(), '0') + number + "]\nk=v\n";
        }
        text += "[" + std::string(c.lastLength, 'z') + "]\n[after]\n";
        const Names names = ProfileFile::Parse(text).SectionNames();
        ASSERT_EQ(names.size(), c.expectedCount) << c.fullNames << "+" << c.lastLength;
        EXPECT_EQ(names.back(), c.expectedLast);
        EXPECT_EQ(names.front(), "s00000000");
    }
}

TEST(ProfileFile, MissingFileHasNoSections)
{
    TemporaryFolder folder;
    EXPECT_TRUE(ProfileFile::Load((folder.path() / "absent.kvr").string()).SectionNames().empty());
    EXPECT_TRUE(ProfileFile::Load(folder.path().string()).SectionNames().empty());
}

TEST(ProfileWriter, WritesCrLfLinesThatReadBack)
{
    ProfileWriter writer;
    writer.Section("item0");
    writer.Key("website", "www.example.test");
    writer.Key("Since", "");
    writer.Key("check", "1");
    writer.Section("Option");
    writer.Key("Result", "line one\r\nline two\rthree\nfour");
    EXPECT_EQ(writer.Text(),
              "[item0]\r\nwebsite=www.example.test\r\nSince=\r\ncheck=1\r\n"
              "[Option]\r\nResult=line one line two three four\r\n");

    TemporaryFolder folder;
    const std::string path = (folder.path() / "results.kvr").string();
    ASSERT_EQ(SaveAtomically(path, writer.Text()), "");
    const ProfileFile profile = ProfileFile::Load(path);
    EXPECT_EQ(profile.SectionNames(), (Names{"item0", "Option"}));
    EXPECT_EQ(profile.Value("item0", "website"), "www.example.test");
    EXPECT_EQ(profile.Value("item0", "since"), "");
    EXPECT_EQ(profile.Value("option", "result"), "line one line two three four");
}

TEST(SaveAtomically, ReplacesTheFileAndLeavesNoTemporaryFile)
{
    TemporaryFolder folder;
    const fs::path path = folder.path() / "results.kvr";
    ASSERT_EQ(SaveAtomically(path.string(), "first, longer content"), "");
    ::chmod(path.c_str(), 0640);
    ASSERT_EQ(SaveAtomically(path.string(), "second"), "");
    EXPECT_EQ(readFile(path), "second");
    EXPECT_EQ(entryCount(folder.path()), 1u);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(SaveAtomically, FailureReportsAndKeepsThePreviousFile)
{
    TemporaryFolder folder;
    // A parent that is a regular file cannot hold a temporary file, even for root.
    const fs::path blocker = folder.path() / "plain";
    ASSERT_EQ(SaveAtomically(blocker.string(), "previous"), "");
    EXPECT_NE(SaveAtomically((blocker / "results.kvr").string(), "new"), "");
    // Renaming over a folder fails after the temporary file was written.
    const fs::path target = folder.path() / "folder.kvr";
    fs::create_directory(target);
    EXPECT_NE(SaveAtomically(target.string(), "new"), "");
    EXPECT_EQ(readFile(blocker), "previous");
    EXPECT_EQ(entryCount(folder.path()), 2u);

    if (::geteuid() != 0) {
        const fs::path locked = folder.path() / "locked";
        fs::create_directory(locked);
        ASSERT_EQ(SaveAtomically((locked / "a.kvr").string(), "kept"), "");
        ::chmod(locked.c_str(), 0500);
        EXPECT_NE(SaveAtomically((locked / "a.kvr").string(), "new"), "");
        ::chmod(locked.c_str(), 0700);
        EXPECT_EQ(readFile(locked / "a.kvr"), "kept");
    }
}

TEST(SaveAtomically, WritesThroughASymbolicLink)
{
    TemporaryFolder folder;
    const fs::path real = folder.path() / "real.kvr";
    const fs::path link = folder.path() / "link.kvr";
    ASSERT_EQ(SaveAtomically(real.string(), "old"), "");
    fs::create_symlink(real, link);
    ASSERT_EQ(SaveAtomically(link.string(), "new"), "");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(real), "new");
}

TEST(ReadFileBytes, ReportsLimitAndSpecialFiles)
{
    TemporaryFolder folder;
    const fs::path path = folder.path() / "f";
    ASSERT_EQ(SaveAtomically(path.string(), "abcdef"), "");
    FileBytes exact = ReadFileBytes(path.string(), 6);
    EXPECT_EQ(exact.status, FileReadStatus::Read);
    EXPECT_EQ(exact.bytes, "abcdef");
    FileBytes cut = ReadFileBytes(path.string(), 4);
    EXPECT_EQ(cut.status, FileReadStatus::TooLarge);
    EXPECT_EQ(cut.bytes, "abcd");
    EXPECT_EQ(ReadFileBytes((folder.path() / "none").string(), 4).status, FileReadStatus::Missing);

    // A FIFO without a writer must not block the reader.
    const fs::path fifo = folder.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadFileBytes(fifo.string(), 4).status, FileReadStatus::Failed);
}

} // namespace
} // namespace kelvora
