#include "tests/support/files.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace kelvora::testsupport {

namespace {

std::mutex g_foldersMutex;

std::vector<std::string> &FoldersToRemove()
{
    static std::vector<std::string> folders;
    return folders;
}

void RemoveFolders()
{
    const std::lock_guard lock(g_foldersMutex);
    for (const std::string &folder : FoldersToRemove()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}

} // namespace

std::string TemporaryFolder()
{
    const std::lock_guard lock(g_foldersMutex);
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvora-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed for " + pattern);
    if (FoldersToRemove().empty())
        std::atexit(RemoveFolders);
    FoldersToRemove().push_back(pattern);
    return pattern;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

} // namespace kelvora::testsupport
