// Runs a fuzz target's entry point on every committed input for it: the seed
// corpus and the inputs kept from crashes that were fixed. A violated property
// aborts, which fails the test.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

std::size_t replayFolder(const std::filesystem::path &folder)
{
    std::size_t count = 0;
    if (!std::filesystem::is_directory(folder))
        return count;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        std::fprintf(stderr, "replaying %s\n", entry.path().c_str());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
        ++count;
    }
    return count;
}

TEST(FuzzReplay, CommittedInputsKeepTheirProperties)
{
    const std::size_t seeds = replayFolder(KELVORA_FUZZ_CORPUS);
    replayFolder(KELVORA_FUZZ_REGRESSIONS);
    EXPECT_GT(seeds, 0u) << "no seed corpus in " << KELVORA_FUZZ_CORPUS;
}

} // namespace
