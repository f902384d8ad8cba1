// The full-size Tranco import (1 M lines, generated here: never committed)
// into a fresh facts database, as plain text and as a zip archive; and the
// contact extraction from home pages of common and of the largest size.
#include "directory/facts/contacts.h"
#include "directory/facts/facts_db.h"
#include "directory/facts/importers.h"
#include "directory/facts/phone_text.h"

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

bool g_filesMade = false;

const Files &TrancoFiles()
{
    static const Files files = [] {
        g_filesMade = true;
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

// A home page of about size bytes: a navigation bar, article blocks with
// links, inline markup and numbers, forms, and the contact data in its
// footer.
std::string MakeHomePage(std::size_t size)
{
    std::string page = "<!DOCTYPE html><html><head><title>Shop</title>"
                       "<script type=\"application/ld+json\">{\"@type\":\"Organization\","
                       "\"email\":\"info@shop.test\",\"telephone\":\"+1 555 0101\"}</script></head><body>"
                       "<nav><a href=\"/\">Home</a><a href=\"/about\">About</a><a href=\"/kontakt\">Kontakt</a>"
                       "<form action=\"/search\"><input name=\"q\"></form></nav><main>";
    for (int block = 0; page.size() < size; ++block) {
        page += "<article><h2>Product " + std::to_string(block) + "</h2><div class=\"card\"><p>Our <b>best</b> "
                "garden tools, <i>made to last</i>, with free delivery. <a href=\"/p/" + std::to_string(block) +
                "\">Details</a> and <a href=\"https://review.test/p" + std::to_string(block) +
                "\">reviews</a>.</p><ul><li>steel</li><li>oak</li><li>12 months warranty</li></ul></div></article>\n";
    }
    page += "</main><footer>Mail <a href=\"mailto:sales@shop.test\">sales@shop.test</a>, "
            "press [at] shop [dot] test, <a href=\"tel:+1-555-0102\">call us</a>. Telefon +1 201-555-0123, "
            "Fax +1 201-555-0124."
            "<form action=\"/send\"><input type=\"email\" name=\"from\"><textarea></textarea></form>"
            "</footer></body></html>";
    return page;
}

void ExtractContactsFromHomePage(benchmark::State &state)
{
    const std::string page = MakeHomePage(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        const facts::PageContacts contacts = facts::ExtractContacts(page, "https://www.shop.test/");
        if (contacts.items.size() != 7)
            state.SkipWithError("contact items went missing");
        benchmark::DoNotOptimize(contacts.items.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

// The phone finder's worst case: 4 MiB of labelled numbers, numbers in
// links and label words without numbers, every one a candidate.
void ExtractContactsFromNumberPage(benchmark::State &state)
{
    std::string page = "<html lang=\"de-DE\"><body>";
    for (int line = 0; page.size() < static_cast<std::size_t>(state.range(0)); ++line)
        page += "<p>Tel. 089 " + std::to_string(1'000'000 + line) + " · Fax 089 1234567 · Hotline call us <a href=\"/p/" +
                std::to_string(line) + "\">030 " + std::to_string(2'000'000 + line) + "</a></p>\n";
    page += "</body></html>";
    for (auto _ : state) {
        const facts::PageContacts contacts = facts::ExtractContacts(page, "https://www.shop.test/");
        if (contacts.items.size() != facts::kMaxContactItems)
            state.SkipWithError("numbers went missing");
        benchmark::DoNotOptimize(contacts.items.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

// The phone finder alone on a page's visible text: the label scan over all
// of it and the matcher on as many snippets as it is allowed.
void FindLabelledPhoneNumbersInText(benchmark::State &state)
{
    std::string text;
    for (int line = 0; text.size() < static_cast<std::size_t>(state.range(0)); ++line)
        text += line % 1000 == 999 ? "Tel. 089 " + std::to_string(1'000'000 + line) + ", Fax 089 1234567\n"
                                   : "Our garden tools, made to last: 12 months warranty, 2 years of service.\n";
    for (auto _ : state) {
        const std::vector<facts::FoundPhone> found = facts::FindLabelledPhoneNumbers(text, "DE");
        if (found.empty())
            state.SkipWithError("numbers went missing");
        benchmark::DoNotOptimize(found.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

} // namespace

BENCHMARK(ImportTrancoCsv)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(ImportTrancoZip)->Unit(benchmark::kSecond)->Iterations(1);
// 100 KB is a common home page; 4 MiB the most the gateway fetches.
BENCHMARK(ExtractContactsFromHomePage)->Unit(benchmark::kMillisecond)->Arg(100 << 10)->Arg(4 << 20);
BENCHMARK(ExtractContactsFromNumberPage)->Unit(benchmark::kMillisecond)->Arg(4 << 20);
BENCHMARK(FindLabelledPhoneNumbersInText)->Unit(benchmark::kMillisecond)->Arg(4 << 20);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_filesMade)
        std::filesystem::remove_all(TrancoFiles().folder);
    return 0;
}
