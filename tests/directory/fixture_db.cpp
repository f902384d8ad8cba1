#include "tests/directory/fixture_db.h"

#include <gtest/gtest.h>

#include <fstream>

#include "directory/local/csv_import.h"
#include "directory/local/dataset.h"
#include "tests/support/files.h"

namespace kelvora::directory::testing {

std::string WriteTemporaryFile(const std::string &name, const std::string &text)
{
    const std::string path = testsupport::TemporaryFolder() + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

const std::string &FixtureDatabase()
{
    static const std::string path = [] {
        std::ifstream csv(KELVORA_DIRECTORY_FIXTURE, std::ios::binary);
        if (!csv)
            throw std::runtime_error("fixture missing: " KELVORA_DIRECTORY_FIXTURE);
        const std::string database = testsupport::TemporaryFolder() + "/fixture.db";
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

Backend &FixtureAnswers()
{
    static LocalAnswers answers(FixtureStore());
    return answers;
}

} // namespace kelvora::directory::testing
