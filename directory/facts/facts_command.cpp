#include "directory/facts/facts_command.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>

#include "directory/core/program.h"
#include "directory/core/sqlite.h"
#include "directory/facts/facts_db.h"
#include "directory/facts/facts_status.h"
#include "directory/facts/importers.h"
#include "directory/facts/sources.h"

namespace kelvora::directory::facts {

namespace {

constexpr const char *kPrefix = "kelvora-directory: facts: ";

constexpr std::string_view kUsageStart = "Usage: ";
constexpr std::string_view kUsageIndent = "       ";
constexpr std::string_view kCommand = "kelvora-directory facts ";
// Where the description of each source and sub-command starts.
constexpr std::size_t kHelpColumn = 12;

std::string Pad(std::string_view text, std::size_t width)
{
    std::string padded(text);
    padded.resize(std::max(width, padded.size()), ' ');
    return padded;
}

// "  name      first line\n" and the further lines under the first.
std::string HelpEntry(std::string_view name, std::string_view help)
{
    std::string entry = Pad("  " + std::string(name) + "  ", kHelpColumn);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = help.find('\n', start);
        entry += std::string(help.substr(start, end - start)) + '\n';
        if (end == std::string_view::npos)
            return entry;
        start = end + 1;
        entry += std::string(kHelpColumn, ' ');
    }
}

std::string UsageText()
{
    std::string text;
    for (const FactsSource &source : FactsSources()) {
        const std::string line = std::string(text.empty() ? kUsageStart : kUsageIndent) + std::string(kCommand) +
                                 "import " + std::string(source.name) + " ";
        text += line + std::string(source.operands) + " [--facts FACTS.db]\n";
        if (source.linksFor == LinksFor::Taken)
            text += std::string(line.size(), ' ') + "[--links-for FILE]\n";
    }
    const std::string update = std::string(kUsageIndent) + std::string(kCommand) + "update ";
    text += update + "[--facts FACTS.db] [--source " + DefaultUpdateChoices() + "]\n" +
            std::string(update.size(), ' ') + "[--force] [--connect-to RULE]... [--ca-file FILE]\n";
    for (const FactsSource &source : FactsSources()) {
        if (source.address && !source.releaseExample.empty())
            text += update + "--source " + std::string(source.name) + " --release NAME [...]\n";
    }
    text += std::string(kUsageIndent) + std::string(kCommand) + "status [--facts FACTS.db] [--stale-after DAYS]\n";
    text += "\n"
            "Fills the site-facts database that live mode reads traffic ranks, link\n"
            "popularity and linking domains from. Each import replaces the facts of\n"
            "its source; files may be plain, .gz or .zip.\n"
            "\n";
    for (const FactsSource &source : FactsSources())
        text += HelpEntry(source.name, source.help);
    text += HelpEntry("update", "downloads and imports the Tranco list and the Majestic Million\n"
                                "from their publishers (an unchanged list is not fetched again;\n"
                                "--force fetches it all the same); --source cc-ranks streams the\n"
                                "domain ranks of Common Crawl web-graph release NAME");
    text += HelpEntry("status", "rows, list date, last update and size of each source; with\n"
                                "--stale-after DAYS, exit code 3 and one line when Tranco or\n"
                                "Majestic is missing or older than DAYS days");
    text += HelpEntry("--facts", "the database (default\n"
                                 "${XDG_DATA_HOME:-~/.local/share}/kelvora/facts.db)");
    return text;
}

struct Command {
    const FactsSource *source = nullptr;
    ImportFiles files;
    std::string facts = DefaultFactsPath();
};

int Usage(std::ostream &err, const std::string &message)
{
    err << kPrefix << message << " (try: kelvora-directory facts --help)\n";
    return kExitUsage;
}

// What a manual import records: the file read (the first one for the
// graph), its size, no list date and no validators.
ListRecord FileRecord(const std::string &file)
{
    ListRecord record;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(file, error);
    record.origin = error ? file : absolute.string();
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    record.bytes = error ? 0 : size;
    record.updated = RecordTime(std::chrono::system_clock::now());
    return record;
}

int Run(const Command &command, std::ostream &out)
{
    ImportOptions options;
    options.progress = [&out](const std::string &line) { out << kPrefix << line << std::endl; };

    const std::filesystem::path parent = std::filesystem::path(command.facts).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent);
    FactsWriter writer(command.facts);
    options.beforeCommit = [&writer, &command](const ImportSummary &summary) {
        ListRecord record = FileRecord(command.files.files[0]);
        record.rows = summary.kept;
        writer.SetRecord(command.source->source, record);
    };
    const std::string report = command.source->import(command.files, writer, options);
    out << kPrefix << command.source->name << ": " << report << " in " << command.facts << '\n';
    return 0;
}

} // namespace

int RunFactsCommand(const std::vector<std::string> &arguments, std::ostream &out, std::ostream &err)
{
    for (const std::string &argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            out << UsageText();
            return 0;
        }
    }
    if (!arguments.empty() && arguments[0] == "status")
        return RunFactsStatus({arguments.begin() + 1, arguments.end()}, out, err);
    if (arguments.size() < 2 || arguments[0] != "import")
        return Usage(err, "expected: facts import SOURCE FILE..., facts update or facts status");

    Command command;
    command.source = FindFactsSource(arguments[1]);
    if (command.source == nullptr)
        return Usage(err, "unknown source '" + arguments[1] + "'");
    const FactsSource &source = *command.source;
    std::vector<std::string> operands;
    for (std::size_t start = 0; start < source.operands.size();) {
        const std::size_t end = std::min(source.operands.find(' ', start), source.operands.size());
        operands.emplace_back(source.operands.substr(start, end - start));
        start = end + 1;
    }
    std::vector<std::string> &files = command.files.files;
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "--facts" || (argument == "--links-for" && source.linksFor == LinksFor::Taken)) {
            if (i + 1 >= arguments.size())
                return Usage(err, argument + " needs a value");
            if (argument == "--facts")
                command.facts = arguments[++i];
            else
                command.files.linksFor = arguments[++i];
        } else if (argument.rfind("--", 0) == 0 || files.size() == operands.size()) {
            return Usage(err, "unexpected '" + argument + "'");
        } else {
            files.push_back(argument);
        }
    }
    if (files.size() != operands.size()) {
        std::string wanted = operands[0];
        for (std::size_t i = 1; i < operands.size(); ++i)
            wanted += " and " + operands[i];
        return Usage(err, std::string(source.name) + " needs " + wanted);
    }
    try {
        return Run(command, out);
    } catch (const std::exception &error) {
        err << kPrefix << command.source->name << ": " << error.what() << " (facts unchanged)\n";
        return kExitFailure;
    }
}

} // namespace kelvora::directory::facts
