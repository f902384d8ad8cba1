#include "directory/live/facts_update.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <thread>

#include "directory/core/program.h"
#include "directory/facts/facts_db.h"
#include "directory/facts/facts_status.h"
#include "directory/facts/import_common.h"
#include "directory/facts/importers.h"
#include "directory/live/connect_to.h"
#include "directory/live/download.h"

namespace kelvora::directory::facts {

namespace {

using Clock = std::chrono::steady_clock;
using detail::Grouped;

constexpr const char *kPrefix = "kelvora-directory: facts: ";
constexpr std::size_t kCopyChunk = 256 * 1024;

class UpdateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct UpdateCommand {
    std::string facts = DefaultFactsPath();
    std::vector<const FactsSource *> sources;
    std::string release;
    bool force = false;
    live::NetworkConfig network;
};

std::string Megabytes(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

// Writes ProgressText lines for one transfer, at most one an interval.
class Progress final {
public:
    Progress(std::ostream &out, std::string label)
        : m_out(out)
        , m_label(std::move(label))
        , m_start(Clock::now())
        , m_last(m_start)
    {
    }

    void SetTotal(std::uint64_t total) { m_total = total; }

    void Update(std::uint64_t bytes)
    {
        const auto now = Clock::now();
        if (now - m_last < kUpdateProgressInterval)
            return;
        m_last = now;
        m_out << kPrefix << m_label << ": " << ProgressText(bytes, m_total, now - m_start) << std::endl;
    }

private:
    std::ostream &m_out;
    std::string m_label;
    std::uint64_t m_total = 0;
    Clock::time_point m_start;
    Clock::time_point m_last;
};

// A file beside the database that a download goes into; removed when done
// with, whatever happened.
class TemporaryFile final {
public:
    explicit TemporaryFile(const std::string &facts, std::string_view label)
    {
        std::string pattern = facts + "." + std::string(label) + "-XXXXXX";
        const int descriptor = mkstemp(pattern.data());
        if (descriptor < 0)
            throw UpdateError("cannot create a temporary file beside " + facts + ": " + std::strerror(errno));
        m_path = pattern;
        m_file = fdopen(descriptor, "wb");
        if (m_file == nullptr) {
            ::close(descriptor);
            std::remove(m_path.c_str());
            throw UpdateError("cannot write " + m_path);
        }
    }
    ~TemporaryFile()
    {
        if (m_file != nullptr)
            std::fclose(m_file);
        std::remove(m_path.c_str());
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    void Write(const char *data, std::size_t size)
    {
        if (std::fwrite(data, 1, size, m_file) != size)
            throw UpdateError("cannot write " + m_path + ": " + std::strerror(errno));
    }
    void Close()
    {
        const int result = std::fclose(m_file);
        m_file = nullptr;
        if (result != 0)
            throw UpdateError("cannot write " + m_path + ": " + std::strerror(errno));
    }
    const std::string &Path() const { return m_path; }

private:
    std::string m_path;
    std::FILE *m_file = nullptr;
};

// The Common Crawl ranks as the download delivers them; a transfer that
// breaks off fails the import.
class DownloadStream final : public ByteStream {
public:
    DownloadStream(live::Download &download, Progress &progress, std::string url)
        : m_download(download)
        , m_progress(progress)
        , m_url(std::move(url))
    {
    }

    std::size_t Read(char *data, std::size_t size) override
    {
        try {
            const std::size_t count = m_download.Read(data, size);
            m_progress.Update(m_download.Received());
            return count;
        } catch (const live::DownloadError &error) {
            throw ImportError(m_url + ": " + error.what());
        }
    }

private:
    live::Download &m_download;
    Progress &m_progress;
    std::string m_url;
};

std::string UrlOf(const UpdateCommand &command, const FactsSource &source)
{
    return source.address(command.release);
}

std::vector<std::string> ConditionalHeaders(const std::optional<ListRecord> &previous, const std::string &url,
                                            bool force)
{
    std::vector<std::string> headers;
    if (force || !previous || previous->origin != url)
        return headers;
    // Validators went into a request line: none may break it.
    const auto clean = [](const std::string &value) {
        return value.find_first_of("\r\n") == std::string::npos && !value.empty();
    };
    if (clean(previous->etag))
        headers.push_back("If-None-Match: " + previous->etag);
    if (clean(previous->lastModified))
        headers.push_back("If-Modified-Since: " + previous->lastModified);
    return headers;
}

ListRecord RecordOf(const std::string &url, const live::DownloadHead &head, std::uint64_t bytes,
                    std::uint64_t rows)
{
    ListRecord record;
    record.origin = url;
    record.listDate = HttpDateDay(head.lastModified);
    record.updated = RecordTime(std::chrono::system_clock::now());
    record.bytes = bytes;
    record.rows = rows;
    record.etag = head.etag;
    record.lastModified = head.lastModified;
    return record;
}

// Starts the download and waits for its head. A publisher that says it is
// busy (429, 503) and when to come back is asked once more after that wait,
// if it is short; otherwise the update fails with what it said.
std::unique_ptr<live::Download> Open(const live::NetworkConfig &network, const live::DownloadRequest &request,
                                     const std::string &name, std::ostream &out)
{
    for (int attempt = 1;; ++attempt) {
        auto download = std::make_unique<live::Download>(network, request);
        const live::DownloadHead &head = download->Head();
        if (head.status != 429 && head.status != 503)
            return download;
        const std::optional<std::chrono::seconds> wait =
            RetryAfterDelay(head.retryAfter, std::chrono::system_clock::now());
        const std::string waitText = wait ? std::to_string(wait->count()) + " s" : std::string();
        if (attempt == 1 && wait && *wait <= kLongestRetryWait) {
            out << kPrefix << name << ": " << request.url << " answered HTTP " << head.status
                << ", asking to wait " << waitText << "; trying again then" << std::endl;
            std::this_thread::sleep_for(*wait);
            continue;
        }
        throw UpdateError(request.url + " answered HTTP " + std::to_string(head.status) +
                          (wait ? ", asking to wait " + waitText : std::string()) + "; try again later");
    }
}

// The body into a temporary file beside the database.
std::unique_ptr<TemporaryFile> DownloadToFile(live::Download &download, const UpdateCommand &command,
                                              const std::string &name, const std::string &url, Progress &progress)
{
    auto file = std::make_unique<TemporaryFile>(command.facts, name);
    std::vector<char> chunk(kCopyChunk);
    while (const std::size_t count = download.Read(chunk.data(), chunk.size())) {
        if (download.Received() > kMaxListBytes)
            throw UpdateError(url + " sent more than " + Megabytes(kMaxListBytes));
        file->Write(chunk.data(), count);
        progress.Update(download.Received());
    }
    file->Close();
    return file;
}

ImportSummary ImportFile(const FactsSource &source, const std::string &url, const TemporaryFile &file,
                         FactsWriter &writer, const ImportOptions &options)
{
    try {
        return source.readFile(file.Path(), writer, options);
    } catch (const ImportError &error) {
        // The reader names the temporary file; the user knows the address.
        std::string reason = error.what();
        if (reason.rfind(file.Path() + ": ", 0) == 0)
            reason.erase(0, file.Path().size() + 2);
        throw ImportError(url + ": " + reason);
    }
}

// Fetches and imports one list; throws UpdateError, ImportError or
// SqliteError when it fails, with the facts unchanged.
void FetchAndImport(const UpdateCommand &command, const FactsSource &source,
                    const std::optional<ListRecord> &previous, std::ostream &out)
{
    const std::string name(source.name);
    const std::string url = UrlOf(command, source);
    const std::unique_ptr<live::Download> opened =
        Open(command.network, {url, ConditionalHeaders(previous, url, command.force)}, name, out);
    live::Download &download = *opened;
    const live::DownloadHead &head = download.Head();
    if (head.status == 304 && previous) {
        out << kPrefix << name << ": unchanged since "
            << (previous->listDate.empty() ? previous->updated : previous->listDate) << " (" << url
            << " answered 304 Not Modified)\n";
        return;
    }
    if (head.status != 200)
        throw UpdateError(url + " answered HTTP " + std::to_string(head.status));
    if (head.length && *head.length > kMaxListBytes)
        throw UpdateError(url + " is " + Megabytes(*head.length) + ", more than any list asked for");

    Progress progress(out, name);
    progress.SetTotal(head.length.value_or(0));
    // A list in a file is downloaded whole before the database is touched;
    // a streamed one (gigabytes) goes into it as it arrives.
    const std::unique_ptr<TemporaryFile> file =
        source.readStream ? nullptr : DownloadToFile(download, command, name, url, progress);
    FactsWriter writer(command.facts);
    ImportOptions options;
    options.progressInterval = kUpdateProgressInterval;
    if (file)
        options.progress = [&out](const std::string &line) { out << kPrefix << line << std::endl; };
    options.beforeCommit = [&](const ImportSummary &imported) {
        writer.SetRecord(source.source, RecordOf(url, head, download.Received(), imported.kept));
    };
    const ImportSummary summary =
        file ? ImportFile(source, url, *file, writer, options)
             : source.readStream(std::make_unique<DownloadStream>(download, progress, url), url, writer, options);

    const std::string listDate = HttpDateDay(head.lastModified);
    out << kPrefix << name << ": read " << Grouped(summary.lines) << " lines (" << Grouped(summary.skipped)
        << " skipped): " << Grouped(summary.kept) << " hosts in " << command.facts << " ("
        << Megabytes(download.Received()) << " from " << url
        << (listDate.empty() ? std::string() : ", list of " + listDate) << ")\n";
}

void UpdateList(const UpdateCommand &command, const FactsSource &source, const std::optional<ListRecord> &previous,
                std::ostream &out)
{
    try {
        FetchAndImport(command, source, previous, out);
    } catch (const live::DownloadError &error) {
        throw UpdateError(UrlOf(command, source) + ": " + error.what());
    }
}

int Usage(std::ostream &err, const std::string &message)
{
    err << kPrefix << message << " (try: kelvora-directory facts --help)\n";
    return kExitUsage;
}

std::vector<std::string> ReleasedSourceNames()
{
    std::vector<std::string> names;
    for (const FactsSource &source : FactsSources()) {
        if (source.address && !source.releaseExample.empty())
            names.emplace_back(source.name);
    }
    return names;
}

// What --source takes: the lists fetched by default, "all", then those
// fetched by release.
std::vector<std::string> UpdateChoices()
{
    std::vector<std::string> choices;
    for (const FactsSource &source : FactsSources()) {
        if (FetchedByDefault(source))
            choices.emplace_back(source.name);
    }
    choices.emplace_back("all");
    for (std::string &name : ReleasedSourceNames())
        choices.push_back(std::move(name));
    return choices;
}

// Reads the options; a usage error's message in error.
std::optional<UpdateCommand> ParseUpdate(const std::vector<std::string> &arguments, std::string &error)
{
    UpdateCommand command;
    std::string sourceName = "all";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "--force") {
            command.force = true;
            continue;
        }
        if (argument != "--facts" && argument != "--source" && argument != "--release" &&
            argument != "--connect-to" && argument != "--ca-file") {
            error = "unexpected '" + argument + "'";
            return std::nullopt;
        }
        if (i + 1 >= arguments.size()) {
            error = argument + " needs a value";
            return std::nullopt;
        }
        const std::string &value = arguments[++i];
        if (argument == "--facts") {
            command.facts = value;
        } else if (argument == "--source") {
            sourceName = value;
        } else if (argument == "--release") {
            command.release = value;
        } else if (argument == "--ca-file") {
            command.network.extraCaFile = value;
        } else {
            const std::optional<live::ConnectToRule> rule = live::ParseConnectTo(value);
            if (!rule) {
                error = "--connect-to wants HOST1:PORT1:HOST2:PORT2, not '" + value + "'";
                return std::nullopt;
            }
            command.network.connectTo.push_back(*rule);
        }
    }
    if (sourceName == "all") {
        for (const FactsSource &source : FactsSources()) {
            if (FetchedByDefault(source))
                command.sources.push_back(&source);
        }
    } else if (const FactsSource *source = FindFactsSource(sourceName); source && source->address) {
        command.sources = {source};
    } else {
        error = "unknown source '" + sourceName + "' (" + JoinedAsChoice(UpdateChoices()) + ")";
        return std::nullopt;
    }
    const FactsSource &first = *command.sources.front();
    const bool released = !first.releaseExample.empty();
    if (released && first.address(command.release).empty()) {
        error = command.release.empty() ? std::string(first.name) + " needs --release NAME (e.g. " +
                                              std::string(first.releaseExample) + ")"
                                        : "not a " + std::string(first.releaseKind) + " name: '" + command.release +
                                              "'";
        return std::nullopt;
    }
    if (!released && !command.release.empty()) {
        error = "--release goes with --source " + JoinedAsChoice(ReleasedSourceNames());
        return std::nullopt;
    }
    return command;
}

} // namespace

std::string ProgressText(std::uint64_t bytes, std::uint64_t total, std::chrono::duration<double> elapsed)
{
    const double seconds = std::max(elapsed.count(), 0.001);
    const double rate = static_cast<double>(bytes) / seconds;
    std::string text = Megabytes(bytes);
    if (total > 0)
        text += " of " + Megabytes(total);
    char speed[48];
    std::snprintf(speed, sizeof speed, ", %.1f MB/s", rate / 1e6);
    text += speed;
    if (total > bytes && rate > 0) {
        const double left = static_cast<double>(total - bytes) / rate;
        text += ", " + std::to_string(static_cast<long long>(std::ceil(left))) + " s left";
    }
    return text;
}

std::optional<std::chrono::seconds> RetryAfterDelay(std::string_view value, std::chrono::system_clock::time_point now)
{
    constexpr std::size_t kMaxDigits = 9;
    if (!value.empty() && value.size() <= kMaxDigits &&
        value.find_first_not_of("0123456789") == std::string_view::npos)
        return std::chrono::seconds(std::stol(std::string(value)));
    std::tm parts{};
    const std::string text(value);
    if (strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S", &parts) == nullptr)
        return std::nullopt;
    const auto at = std::chrono::system_clock::from_time_t(timegm(&parts));
    return std::max(std::chrono::seconds(0), std::chrono::ceil<std::chrono::seconds>(at - now));
}

std::string HttpDateDay(std::string_view httpDate)
{
    std::tm parts{};
    const std::string text(httpDate);
    const char *end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S", &parts);
    if (end == nullptr)
        return {};
    char day[16];
    std::strftime(day, sizeof day, "%Y-%m-%d", &parts);
    return day;
}

int RunFactsUpdate(const std::vector<std::string> &arguments, std::ostream &out, std::ostream &err)
{
    std::string error;
    const std::optional<UpdateCommand> command = ParseUpdate(arguments, error);
    if (!command)
        return Usage(err, error);

    std::vector<std::pair<Source, ListRecord>> records;
    try {
        const std::filesystem::path parent = std::filesystem::path(command->facts).parent_path();
        if (!parent.empty())
            std::filesystem::create_directories(parent);
        records = ReadListRecords(command->facts);
    } catch (const std::exception &failure) {
        err << kPrefix << command->facts << ": " << failure.what() << '\n';
        return kExitFailure;
    }
    int exitCode = 0;
    for (const FactsSource *source : command->sources) {
        std::optional<ListRecord> previous;
        for (const auto &[recorded, record] : records) {
            if (recorded == source->source)
                previous = record;
        }
        try {
            UpdateList(*command, *source, previous, out);
        } catch (const std::exception &failure) {
            err << kPrefix << source->name << ": " << failure.what() << " (facts unchanged)\n";
            exitCode = kExitFailure;
        }
    }
    return exitCode;
}

} // namespace kelvora::directory::facts
