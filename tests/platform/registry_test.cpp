#include "platform/registry.h"

#include "tests/platform/temporary_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace kelvora {
namespace {

namespace fs = std::filesystem;

using testing::readFile;
using testing::TemporaryFolder;

void writeFile(const fs::path &path, const std::string &bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string allBytes()
{
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes;
}

const fs::path kSetupFile = fs::path("Torvane") / "Kelvora1Software" / "Setup.reg";

TEST(RegistryKey, MissingKeyFailsWithoutCreateAndLeavesNothingBehind)
{
    TemporaryFolder root;
    RegistryKey key(root.path().string());
    EXPECT_FALSE(key.OpenKey(kSetupKeyPath, false));
    EXPECT_FALSE(key.ValueExists("keyterm"));
    EXPECT_THROW(key.ReadString("keyterm"), RegistryError);
    EXPECT_THROW(key.WriteString("keyterm", "x"), RegistryError);
    EXPECT_TRUE(fs::is_empty(root.path()));
}

TEST(RegistryKey, CreateMakesFoldersAndAnEmptyKeyThatOpensLater)
{
    TemporaryFolder root;
    {
        RegistryKey key(root.path().string());
        ASSERT_TRUE(key.OpenKey(kSetupKeyPath, true));
        EXPECT_EQ(key.FilePath(), (root.path() / kSetupFile).string());
        EXPECT_FALSE(key.ValueExists("keyterm"));
    }
    EXPECT_TRUE(fs::is_regular_file(root.path() / kSetupFile));
    RegistryKey again(root.path().string());
    EXPECT_TRUE(again.OpenKey(kSetupKeyPath, false));
}

TEST(RegistryKey, ValuesOfBothTypesSurviveAReopen)
{
    TemporaryFolder root;
    {
        RegistryKey key(root.path().string());
        ASSERT_TRUE(key.OpenKey(kSetupKeyPath, true));
        key.WriteString("keyterm", "web \"hosting\" \\ tools");
        key.WriteString("home", "");
        key.WriteInteger("skip", 99);
        key.WriteInteger("low", -5);
        key.WriteInteger("min", INT32_MIN);
        key.CloseKey();
    }
    RegistryKey key(root.path().string());
    ASSERT_TRUE(key.OpenKey(kSetupKeyPath, false));
    EXPECT_EQ(key.ReadString("keyterm"), "web \"hosting\" \\ tools");
    EXPECT_TRUE(key.ValueExists("home"));
    EXPECT_EQ(key.ReadString("home"), "");
    EXPECT_EQ(key.ReadInteger("skip"), 99);
    EXPECT_EQ(key.ReadInteger("low"), -5);
    EXPECT_EQ(key.ReadInteger("min"), INT32_MIN);
}

TEST(RegistryKey, AnyBytesInAStringSurvive)
{
    TemporaryFolder root;
    const std::string bytes = allBytes() + "\r\n\"=sz:\"" + allBytes();
    {
        RegistryKey key(root.path().string());
        ASSERT_TRUE(key.OpenKey(kSetupKeyPath, true));
        key.WriteString(std::string("odd\nname\0", 9), bytes);
    }
    // The file stays plain ASCII, one line per value.
    for (const char c : readFile(root.path() / kSetupFile)) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(c == '\n' || (byte >= 0x20 && byte < 0x7f)) << int(byte);
    }
    RegistryKey key(root.path().string());
    ASSERT_TRUE(key.OpenKey(kSetupKeyPath, false));
    EXPECT_EQ(key.ReadString(std::string("odd\nname\0", 9)), bytes);
}

TEST(RegistryKey, WrongTypeOrMissingValueThrows)
{
    TemporaryFolder root;
    RegistryKey key(root.path().string());
    ASSERT_TRUE(key.OpenKey(kSetupKeyPath, true));
    key.WriteInteger("keyterm", 7);
    key.WriteString("skip", "7");
    EXPECT_TRUE(key.ValueExists("keyterm"));
    EXPECT_THROW(key.ReadString("keyterm"), RegistryError);
    EXPECT_THROW(key.ReadInteger("skip"), RegistryError);
    EXPECT_THROW(key.ReadString("home"), RegistryError);
    EXPECT_THROW(key.ReadInteger("home"), RegistryError);
    // A later write of the other type replaces the value and its type.
    key.WriteString("keyterm", "seo");
    EXPECT_EQ(key.ReadString("keyterm"), "seo");
}

TEST(RegistryKey, NamesAndKeyPathsIgnoreLetterCase)
{
    TemporaryFolder root;
    {
        RegistryKey key(root.path().string());
        ASSERT_TRUE(key.OpenKey(kSetupKeyPath, true));
        key.WriteString("KeyTerm", "first");
        key.WriteString("KEYTERM", "second");
    }
    RegistryKey key(root.path().string());
    ASSERT_TRUE(key.OpenKey("\\SOFTWARE\\torvane\\KELVORA1SOFTWARE\\setup", false));
    EXPECT_EQ(key.FilePath(), (root.path() / kSetupFile).string());
    EXPECT_EQ(key.ReadString("keyterm"), "second");
    // The name keeps the letter case it was created with.
    EXPECT_NE(readFile(root.path() / kSetupFile).find("\"KeyTerm\"=sz:\"second\""), std::string::npos);
}

TEST(RegistryKey, InvalidKeyPathsFail)
{
    TemporaryFolder root;
    RegistryKey key(root.path().string());
    for (const char *path : {"", "\\", "\\Software", "\\Software\\..\\x", "\\Software\\a\\\\b",
                             "\\Software\\a/b", "\\Software\\.\\x"}) {
        EXPECT_FALSE(key.OpenKey(path, true)) << path;
    }
    EXPECT_TRUE(fs::is_empty(root.path()));
}

TEST(RegistryKey, MalformedOrOversizedFileOpensAsAnEmptyKey)
{
    const std::string cases[] = {
        std::string("\"keyterm\"=sz:\"ok\"\n\"skip\"=dword:63\n"),            // short integer
        std::string("\"keyterm\"=sz:\"unterminated\n"),
        std::string("\"keyterm\"=sz:\"bad \\q escape\"\n"),
        std::string("\"keyterm\"=sz:\"ok\" trailing\n"),
        std::string("keyterm=web\n"),
        std::string("\"keyterm\"=sz:\"\x01\"\n"),
        std::string(kMaxRegistryFileSize + 1, ';'),
    };
    for (const std::string &bytes : cases) {
        TemporaryFolder root;
        writeFile(root.path() / kSetupFile, bytes);
        RegistryKey key(root.path().string());
        ASSERT_TRUE(key.OpenKey(kSetupKeyPath, false));
        EXPECT_FALSE(key.ValueExists("keyterm")) << bytes.substr(0, 60);
    }
}

TEST(RegistryKey, ReadsHandWrittenFilesWithCrLfAndComments)
{
    TemporaryFolder root;
    writeFile(root.path() / kSetupFile,
              "; comment\r\n\r\n\"keyterm\"=sz:\"caf\\xE9\"\r\n\"skip\"=dword:FFFFFFFB\r\n"
              "\"KEYTERM\"=sz:\"ignored\"");
    RegistryKey key(root.path().string());
    ASSERT_TRUE(key.OpenKey(kSetupKeyPath, false));
    EXPECT_EQ(key.ReadString("keyterm"), "caf\xe9");
    EXPECT_EQ(key.ReadInteger("skip"), -5);
}

TEST(RegistryKey, FailedWriteThrowsAndKeepsTheOldFile)
{
    TemporaryFolder root;
    RegistryKey key(root.path().string());
    ASSERT_TRUE(key.OpenKey(kSetupKeyPath, true));
    key.WriteString("keyterm", "kept");
    const std::string before = readFile(root.path() / kSetupFile);

    // Renaming over a folder fails whoever runs the test, root included.
    fs::remove(root.path() / kSetupFile);
    fs::create_directory(root.path() / kSetupFile);
    EXPECT_THROW(key.WriteString("keyterm", "lost"), RegistryError);
    EXPECT_EQ(key.ReadString("keyterm"), "kept");
    fs::remove(root.path() / kSetupFile);
    writeFile(root.path() / kSetupFile, before);

    // No temporary file is left beside the settings file.
    key.WriteInteger("skip", 3);
    int entries = 0;
    for ([[maybe_unused]] const auto &entry : fs::directory_iterator((root.path() / kSetupFile).parent_path()))
        ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(RegistryKey, CreateFailsWhenAFolderCannotBeMade)
{
    TemporaryFolder root;
    writeFile(root.path() / "Torvane", "a file where a folder belongs");
    RegistryKey key(root.path().string());
    EXPECT_FALSE(key.OpenKey(kSetupKeyPath, true));
    EXPECT_EQ(key.FilePath(), "");
}

TEST(RegistryKey, DefaultRootFollowsXdgConfigHome)
{
    TemporaryFolder root;
    const char *saved = std::getenv("XDG_CONFIG_HOME");
    const std::string previous = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", root.path().c_str(), 1);
    RegistryKey key;
    const bool opened = key.OpenKey(kSetupKeyPath, true);
    const std::string file = key.FilePath();
    if (saved)
        ::setenv("XDG_CONFIG_HOME", previous.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    ASSERT_TRUE(opened);
    EXPECT_EQ(file, (root.path() / kSetupFile).string());
}

} // namespace
} // namespace kelvora
