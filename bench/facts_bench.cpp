// The full-size Tranco import (1 M lines, generated here: never committed)
// into a fresh facts database, as plain text and as a zip archive.
#include "directory/facts/facts_db.h"
#include "directory/facts/importers.h"

#include <benchmark/benchmark.h>

#include <archive.h>
#include <archive_entry.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace facts = kelvora::directory::facts;

namespace {

constexpr std::size_t kTrancoLines = 1'000'000;

// A Tranco-shaped list: "RANK,DOMAIN" with names of the usual lengths and a
// mix of suffixes, in no alphabetical order (as the real list is ranked).
std::string MakeTrancoList(std::size_t lines)
{
    static const char *const kSuffixes[] = {"com", "org", "net", "de", "co.uk", "io", "com.br", "ru", "jp"};
    std::mt19937_64 random(14);
    std::string list;
    list.reserve(lines * 24);
    std::string name;
    for (std::size_t rank = 1; rank <= lines; ++rank) {
        name.clear();
        const std::size_t length = 4 + random() % 12;
        for (std::size_t i = 0; i < length; ++i)
            name += static_cast<char>('a' + random() % 26);
        list += std::to_string(rank);
        list += ',';
        if (random() % 8 == 0)
            list += "www.";
        list += name;
        list += '.';
        list += kSuffixes[random() % std::size(kSuffixes)];
        list += '\n';
    }
    return list;
}

struct Files {
    std::string folder;
    std::string csv;
    std::string zip;
};

const Files &TrancoFiles()
{
    static const Files files = [] {
        Files made;
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvora-facts-bench-XXXXXX").string();
        made.folder = mkdtemp(pattern.data());
        made.csv = made.folder + "/top-1m.csv";
        made.zip = made.folder + "/top-1m.csv.zip";
        const std::string list = MakeTrancoList(kTrancoLines);
        std::ofstream(made.csv, std::ios::binary) << list;

        archive *zip = archive_write_new();
        archive_write_set_format_zip(zip);
        archive_write_open_filename(zip, made.zip.c_str());
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, "top-1m.csv");
        archive_entry_set_size(entry, static_cast<la_int64_t>(list.size()));
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_write_header(zip, entry);
        archive_write_data(zip, list.data(), list.size());
        archive_entry_free(entry);
        archive_write_free(zip);
        return made;
    }();
    return files;
}

void Import(benchmark::State &state, const std::string &file)
{
    const std::string database = TrancoFiles().folder + "/facts.db";
    for (auto _ : state) {
        state.PauseTiming();
        for (const char *suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(database + suffix);
        state.ResumeTiming();
        facts::FactsWriter writer(database);
        const facts::ImportSummary summary = facts::ImportTranco(file, writer);
        if (summary.kept < kTrancoLines * 9 / 10)
            state.SkipWithError("hosts went missing");
        state.counters["hosts"] = static_cast<double>(summary.kept);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kTrancoLines));
}

void ImportTrancoCsv(benchmark::State &state)
{
    Import(state, TrancoFiles().csv);
}

void ImportTrancoZip(benchmark::State &state)
{
    Import(state, TrancoFiles().zip);
}

} // namespace

BENCHMARK(ImportTrancoCsv)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(ImportTrancoZip)->Unit(benchmark::kSecond)->Iterations(1);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(TrancoFiles().folder);
    return 0;
}
