#include "directory/facts/facts_status.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <ostream>

#include "directory/core/program.h"
#include "directory/facts/import_common.h"
#include "directory/facts/sources.h"

namespace kelvora::directory::facts {

namespace {

using detail::Grouped;

constexpr const char *kPrefix = "kelvora-directory: facts: ";
constexpr int kMaxStaleDays = 100'000;

// Days since 1970-01-01 of the YYYY-MM-DD at the start of text; nullopt
// when it holds no real day.
std::optional<int> DayNumber(const std::string &text)
{
    unsigned year = 0;
    unsigned month = 0;
    unsigned day = 0;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2u", &year, &month, &day) != 3)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(year)), std::chrono::month(month),
                                           std::chrono::day(day)};
    if (!date.ok())
        return std::nullopt;
    return std::chrono::sys_days(date).time_since_epoch().count();
}

int DayNumber(std::chrono::system_clock::time_point time)
{
    return std::chrono::floor<std::chrono::days>(time).time_since_epoch().count();
}

std::string Megabytes(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

const ListRecord *FindRecord(const std::vector<std::pair<Source, ListRecord>> &records, Source source)
{
    for (const auto &[recorded, record] : records) {
        if (recorded == source)
            return &record;
    }
    return nullptr;
}

int Usage(std::ostream &err, const std::string &message)
{
    err << kPrefix << message << " (try: kelvora-directory facts --help)\n";
    return kExitUsage;
}

} // namespace

std::string RecordTime(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::optional<std::string> StaleReason(const std::vector<std::pair<Source, ListRecord>> &records,
                                       std::chrono::system_clock::time_point today, int days)
{
    for (const FactsSource &source : FactsSources()) {
        if (!FetchedByDefault(source))
            continue;
        const ListRecord *record = FindRecord(records, source.source);
        const std::string name(source.name);
        if (record == nullptr)
            return "no " + name + " list yet";
        std::optional<int> dated = DayNumber(record->listDate);
        if (!dated)
            dated = DayNumber(record->updated);
        const int age = dated ? DayNumber(today) - *dated : days + 1;
        if (age > days)
            return "the " + name + " list is " + (dated ? std::to_string(age) + " days old" : "of unknown age");
    }
    return std::nullopt;
}

int RunFactsStatus(const std::vector<std::string> &arguments, std::ostream &out, std::ostream &err)
{
    std::string facts = DefaultFactsPath();
    std::optional<int> staleAfter;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument != "--facts" && argument != "--stale-after")
            return Usage(err, "unexpected '" + argument + "'");
        if (i + 1 >= arguments.size())
            return Usage(err, argument + " needs a value");
        const std::string &value = arguments[++i];
        if (argument == "--facts") {
            facts = value;
            continue;
        }
        const std::int64_t days = detail::ParseValue(value, 0);
        if (days < 0 || days > kMaxStaleDays)
            return Usage(err, "--stale-after wants a number of days, not '" + value + "'");
        staleAfter = static_cast<int>(days);
    }

    std::vector<std::pair<Source, ListRecord>> records;
    try {
        records = ReadListRecords(facts);
    } catch (const std::exception &error) {
        err << kPrefix << facts << ": " << error.what() << '\n';
        return kExitFailure;
    }
    std::error_code missing;
    const bool exists = std::filesystem::exists(facts, missing);
    if (staleAfter) {
        if (!exists) {
            out << "no facts database at " << facts << '\n';
            return kExitStale;
        }
        if (std::optional<std::string> reason =
                StaleReason(records, std::chrono::system_clock::now(), *staleAfter)) {
            out << *reason << " in " << facts << '\n';
            return kExitStale;
        }
        return 0;
    }
    if (!exists) {
        out << kPrefix << "no facts database at " << facts << " yet (kelvora-directory facts update fills it)\n";
        return 0;
    }
    out << kPrefix << facts << '\n';
    for (const FactsSource &source : FactsSources()) {
        out << "  " << source.name << ": ";
        const ListRecord *record = FindRecord(records, source.source);
        if (record == nullptr) {
            out << "none\n";
            continue;
        }
        out << Grouped(record->rows) << " rows, list of "
            << (record->listDate.empty() ? std::string("unknown date") : record->listDate) << ", updated "
            << record->updated << ", " << Megabytes(record->bytes) << ", from " << record->origin << '\n';
    }
    return 0;
}

} // namespace kelvora::directory::facts
