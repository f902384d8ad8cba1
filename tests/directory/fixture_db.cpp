#include "tests/directory/fixture_db.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "directory/csv_import.h"
#include "directory/dataset.h"

namespace kelvora::directory::testing {

namespace {

std::vector<std::string> &Folders()
{
    static std::vector<std::string> folders;
    return folders;
}

void RemoveFolders()
{
    for (const std::string &folder : Folders()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}

} // namespace

std::string TemporaryFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvora-dir-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    if (Folders().empty())
        std::atexit(RemoveFolders);
    Folders().push_back(pattern);
    return pattern;
}

std::string WriteTemporaryFile(const std::string &name, const std::string &text)
{
    const std::string path = TemporaryFolder() + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

const std::string &FixtureDatabase()
{
    static const std::string path = [] {
        std::ifstream csv(KELVORA_DIRECTORY_FIXTURE, std::ios::binary);
        if (!csv)
            throw std::runtime_error("fixture missing: " KELVORA_DIRECTORY_FIXTURE);
        const std::string database = TemporaryFolder() + "/fixture.db";
        WriteDataSet(database, ReadCsvSites(csv), "fixture");
        return database;
    }();
    return path;
}

const Store &FixtureStore()
{
    static const Store store(FixtureDatabase());
    return store;
}

} // namespace kelvora::directory::testing
