// kelvora-directory: the local directory service and its data-set importers.
#include <ext/stdio_filebuf.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "directory/core/program.h"
#include "directory/core/server.h"
#include "directory/core/user_files.h"
#include "directory/facts/facts_command.h"
#include "directory/facts/sources.h"
#include "directory/live/engines.h"
#include "directory/live/facts_update.h"
#include "directory/live/live_service.h"
#include "directory/local/csv_import.h"
#include "directory/local/dataset.h"
#include "directory/local/debian_import.h"
#include "directory/local/rank_import.h"
#include "directory/local/service.h"
#include "directory/local/store.h"

namespace {

using namespace kelvora::directory;

// Usage lines longer than this are wrapped: the lists of engines and
// sources grow with their tables.
constexpr std::size_t kUsageWidth = 77;

// Each line of text greedily wrapped at kUsageWidth.
std::string Wrapped(const std::string &text)
{
    std::string wrapped;
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        const std::size_t lineEnd = std::min(text.find('\n', lineStart), text.size());
        std::size_t column = 0;
        std::size_t wordStart = lineStart;
        while (wordStart < lineEnd) {
            const std::size_t wordEnd = std::min(text.find(' ', wordStart), lineEnd);
            const std::size_t length = wordEnd - wordStart;
            if (column > 0 && column + 1 + length > kUsageWidth) {
                wrapped += '\n';
                column = 0;
            } else if (column > 0) {
                wrapped += ' ';
                ++column;
            }
            wrapped.append(text, wordStart, length);
            column += length;
            wordStart = wordEnd + 1;
        }
        wrapped += '\n';
        lineStart = lineEnd + 1;
    }
    return wrapped;
}

std::string UsageText()
{
    namespace facts = kelvora::directory::facts;
    namespace live = kelvora::directory::live;
    return "Usage: kelvora-directory [--listen ADDR:PORT] [--data FILE]\n"
           "       kelvora-directory import-debian OUT.db [--packages FILE]\n"
           "       kelvora-directory import-csv FILE OUT.db\n"
           "       kelvora-directory import-tranco FILE DB\n"
           "       kelvora-directory import-hostranks FILE DB\n"
           "       kelvora-directory --live [--search-engine ENGINE] [--listen ADDR:PORT]\n"
           "                         [--cache FILE] [--offline] [--connect-to H1:P1:H2:P2]...\n"
           "                         [--ca-file FILE] [--data FILE] [--facts FILE] [--engine-rate N]\n"
           "       kelvora-directory facts import SOURCE FILE... [--facts FILE]\n"
           "       kelvora-directory facts update [--source " +
           facts::DefaultUpdateChoices() +
           "] [--facts FILE]\n"
           "       kelvora-directory facts status [--facts FILE]\n"
           "\n"
           "Serves a read-only site directory over HTTP for Kelvora: keyword and\n"
           "backlink search at /search?p=..., site details at /data/details/?url=...,\n"
           "and each site's home page at / for its own Host name.\n"
           "\n"
           "  --listen ADDR:PORT  address to listen on (default 127.0.0.1:8355)\n"
           "  --data FILE         data set to serve (default\n"
           "                      ${XDG_DATA_HOME:-~/.local/share}/kelvora/directory.db)\n"
           "  --help              show this text\n"
           "\n"
           "import-debian builds a data set from the machine's package catalogue\n"
           "(apt-cache dumpavail, or FILE); import-csv from a CSV file (see\n"
           "docs/directory.md); import-tranco and import-hostranks set traffic ranks\n"
           "of an existing data set from a Tranco list or Common Crawl host ranks.\n"
           "\n" +
           Wrapped("--live answers the same requests from the live web: ENGINE is " +
                   live::EngineForms(live::DefaultEngineShown::Yes) +
                   "; answers are\n"
                   "cached in FILE (default ${XDG_CACHE_HOME:-~/.cache}/kelvora/web-cache.db),\n"
                   "and --offline answers from it alone. See docs/live.md. Traffic ranks, link\n"
                   "popularity and linking domains come from the facts database of --facts\n"
                   "(default ${XDG_DATA_HOME:-~/.local/share}/kelvora/facts.db), which the facts\n"
                   "commands fill from Tranco, Majestic and Common Crawl files (SOURCE is " +
                   facts::ImportSourceNames() +
                   "); facts update fetches Tranco and Majestic\n"
                   "from their publishers (see kelvora-directory facts --help and docs/facts.md).");
}

int UsageError(const std::string &message)
{
    std::cerr << kProgramName << ": " << message << " (try --help)\n";
    return kExitUsage;
}

int Failure(const std::string &message)
{
    std::cerr << kProgramName << ": " << message << '\n';
    return kExitFailure;
}

int Serve(const std::vector<std::string> &arguments)
{
    std::string address = kDefaultListenAddress;
    int port = kDefaultListenPort;
    std::string data = UserFilePath(UserFolder::Data, "directory.db");
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "--listen" || argument == "--data") {
            if (i + 1 >= arguments.size())
                return UsageError(argument + " needs a value");
            const std::string &value = arguments[++i];
            if (argument == "--data")
                data = value;
            else if (!ParseListen(value, address, port))
                return UsageError("--listen wants ADDR:PORT, not '" + value + "'");
        } else {
            return UsageError("unknown option '" + argument + "'");
        }
    }
    if (!std::filesystem::exists(data))
        return Failure("no data set at " + data +
                       " (build one with: kelvora-directory import-debian " + data + ")");

    std::unique_ptr<Store> store;
    std::int64_t sites = 0;
    try {
        store = std::make_unique<Store>(data);
        // Read before anything is announced: a damaged file fails here.
        sites = store->SiteCount();
    } catch (const std::exception &error) {
        return Failure("cannot use data set " + data + ": " + error.what());
    }

    BlockStopSignals();

    LocalAnswers answers(*store);
    DirectoryServer server(answers);
    std::string error;
    if (!server.Bind(address, port, error))
        return Failure(error);
    std::cout << kProgramName << ": serving " << sites << " sites from " << data
              << " on http://" << address << ':' << server.Port() << '/' << '\n'
              << kProgramName << ": a local data set knows only its own sites (by default those of this"
                 " machine's package catalogue), so business keywords find nothing here;"
                 " for the real web start the live mode (--live)" << std::endl;
    ServeUntilSignalled(server);
    return 0;
}

std::string LeftAsItWas(const std::string &out)
{
    return std::filesystem::exists(out) ? out + " is left as it was" : "nothing was written";
}

int ImportDebian(const std::vector<std::string> &arguments)
{
    std::string out;
    std::string packagesFile;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--packages" && i + 1 < arguments.size())
            packagesFile = arguments[++i];
        else if (out.empty() && arguments[i].rfind("--", 0) != 0)
            out = arguments[i];
        else
            return UsageError("import-debian: unexpected '" + arguments[i] + "'");
    }
    if (out.empty())
        return UsageError("import-debian needs OUT.db");

    // The catalogue is read as it comes, from the file or from apt-cache.
    DebianSummary debian;
    std::vector<SiteInput> sites;
    std::string origin = packagesFile;
    if (packagesFile.empty()) {
        origin = "apt-cache dumpavail";
        FILE *pipe = popen("apt-cache dumpavail", "r");
        if (!pipe)
            return Failure("cannot run apt-cache dumpavail");
        {
            __gnu_cxx::stdio_filebuf<char> buffer(pipe, std::ios::in);
            std::istream in(&buffer);
            sites = ReadDebianSites(in, debian);
        }
        if (pclose(pipe) != 0)
            return Failure("apt-cache dumpavail failed");
    } else {
        std::ifstream file(packagesFile, std::ios::binary);
        if (!file)
            return Failure("cannot read " + packagesFile);
        sites = ReadDebianSites(file, debian);
    }
    // Not a catalogue at all (random bytes, some other file): nothing may
    // replace a good data set.
    if (debian.packages == 0)
        return Failure(origin + ": not a package catalogue (no package stanza); " + LeftAsItWas(out));
    WriteSummary summary;
    try {
        summary = WriteDataSet(out, std::move(sites), "debian");
    } catch (const NoSitesError &) {
        return Failure(origin + ": no package with a usable homepage among " + std::to_string(debian.packages) +
                       "; " + LeftAsItWas(out));
    } catch (const std::exception &error) {
        return Failure("cannot write " + out + ": " + error.what());
    }
    std::cout << kProgramName << ": " << debian.packages << " packages, " << debian.withHomepage
              << " with a homepage: wrote " << summary.sites << " sites and " << summary.links
              << " links to " << out << '\n';
    return 0;
}

int ImportCsv(const std::vector<std::string> &arguments)
{
    if (arguments.size() != 2)
        return UsageError("import-csv needs FILE and OUT.db");
    const std::string &input = arguments[0];
    const std::string &out = arguments[1];
    std::ifstream file(input, std::ios::binary);
    if (!file)
        return Failure("cannot read " + input);
    // Record by record into the new file: memory does not grow with the input.
    WriteSummary summary;
    try {
        std::unique_ptr<CsvSiteReader> reader;
        std::unique_ptr<DataSetWriter> writer;
        try {
            reader = std::make_unique<CsvSiteReader>(file);
        } catch (const std::runtime_error &error) {
            return Failure(input + ": " + error.what());
        }
        writer = std::make_unique<DataSetWriter>(out, "csv");
        SiteInput site;
        for (;;) {
            try {
                if (!reader->Next(site))
                    break;
            } catch (const std::runtime_error &error) {
                return Failure(input + ": " + error.what() + "; " + LeftAsItWas(out));
            }
            writer->Add(std::move(site));
        }
        try {
            summary = writer->Commit();
        } catch (const NoSitesError &error) {
            return Failure(input + ": " + error.what() + "; " + LeftAsItWas(out));
        }
    } catch (const std::exception &error) {
        return Failure("cannot write " + out + ": " + error.what());
    }
    std::cout << kProgramName << ": wrote " << summary.sites << " sites and " << summary.links
              << " links to " << out << " (" << summary.skipped << " records skipped)\n";
    return 0;
}

int ImportRanks(const std::vector<std::string> &arguments, bool hostRanks)
{
    if (arguments.size() != 2)
        return UsageError(std::string(hostRanks ? "import-hostranks" : "import-tranco") +
                          " needs FILE and DB");
    std::ifstream file(arguments[0], std::ios::binary);
    if (!file)
        return Failure("cannot read " + arguments[0]);
    if (!std::filesystem::exists(arguments[1]))
        return Failure("no data set at " + arguments[1]);
    std::unique_ptr<RankUpdate> ranks;
    try {
        ranks = std::make_unique<RankUpdate>(arguments[1]);
    } catch (const std::exception &error) {
        return Failure("cannot use data set " + arguments[1] + ": " + error.what());
    }
    RankUpdate &update = *ranks;
    const RankReadSummary read = hostRanks ? ReadHostRanks(file, update) : ReadTrancoRanks(file, update);
    const std::size_t changed = update.Commit();
    std::cout << kProgramName << ": read " << read.lines << " lines (" << read.malformed
              << " skipped): set the rank of " << changed << " sites\n";
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const bool help = std::find(arguments.begin(), arguments.end(), "--help") != arguments.end() ||
                      std::find(arguments.begin(), arguments.end(), "-h") != arguments.end();
    if (arguments.size() >= 2 && arguments[0] == "facts" && arguments[1] == "update" && !help)
        return kelvora::directory::facts::RunFactsUpdate({arguments.begin() + 2, arguments.end()}, std::cout,
                                                         std::cerr);
    if (!arguments.empty() && arguments[0] == "facts")
        return kelvora::directory::facts::RunFactsCommand({arguments.begin() + 1, arguments.end()},
                                                          std::cout, std::cerr);
    for (const std::string &argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            std::cout << UsageText();
            return 0;
        }
    }
    try {
        if (!arguments.empty() && arguments[0].rfind("import-", 0) == 0) {
            const std::string command = arguments[0];
            arguments.erase(arguments.begin());
            if (command == "import-debian")
                return ImportDebian(arguments);
            if (command == "import-csv")
                return ImportCsv(arguments);
            if (command == "import-tranco")
                return ImportRanks(arguments, false);
            if (command == "import-hostranks")
                return ImportRanks(arguments, true);
            return UsageError("unknown command '" + command + "'");
        }
        for (const std::string &argument : arguments) {
            if (argument == "--live")
                return kelvora::directory::live::RunLive(arguments);
        }
        return Serve(arguments);
    } catch (const std::exception &error) {
        return Failure(error.what());
    }
}
