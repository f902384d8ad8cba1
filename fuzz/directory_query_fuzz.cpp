// Directory service query decoding and building: input = a query key (ended
// by "\ "), then the text; the count bounds are taken from the input's end.
// Every full-text query built is run against a real FTS5 table, which must
// accept it: no user byte may act as query syntax.
#include "directory/core/query.h"
#include "fuzz/fuzz_check.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <string>

using kelvora::fuzz::Require;
namespace directory = kelvora::directory;

namespace {

constexpr std::size_t kMaxKeyLength = 16;
constexpr std::int64_t kMaxCountBound = 1'000'000'000'000;

// One in-memory table with the service's tokenizer, kept for the whole run.
sqlite3_stmt *matchStatement()
{
    static sqlite3_stmt *statement = [] {
        sqlite3 *db = nullptr;
        sqlite3_open(":memory:", &db);
        sqlite3_exec(db,
                     "CREATE VIRTUAL TABLE t USING fts5(name, title,"
                     " tokenize='porter unicode61 remove_diacritics 2');"
                     "INSERT INTO t VALUES('example.test', 'web hosting and domains');",
                     nullptr, nullptr, nullptr);
        sqlite3_stmt *prepared = nullptr;
        sqlite3_prepare_v2(db, "SELECT count(*) FROM t WHERE t MATCH ?1", -1, &prepared, nullptr);
        Require(prepared != nullptr, "the FTS5 table can be set up");
        return prepared;
    }();
    return statement;
}

void checkFtsQuery(const std::string &text)
{
    const std::string query = directory::BuildFtsQuery(text);
    if (query.empty())
        return;
    Require(query.front() == '"' && query.back() == '"', "every term is one quoted string");
    sqlite3_stmt *statement = matchStatement();
    sqlite3_reset(statement);
    sqlite3_bind_text(statement, 1, query.data(), static_cast<int>(query.size()), SQLITE_TRANSIENT);
    const int result = sqlite3_step(statement);
    if (result != SQLITE_ROW)
        std::fprintf(stderr, "FTS5 refused: %s\n", query.c_str());
    Require(result == SQLITE_ROW, "FTS5 accepts every built query");
}

void checkHostKey(const std::string &text)
{
    const std::string key = directory::HostKey(text);
    Require(std::none_of(key.begin(), key.end(), [](char c) { return c >= 'A' && c <= 'Z'; }),
            "HostKey is lower-case");
    Require(key.find_first_of("/?#:") == std::string::npos, "HostKey holds no path, query or port");
    Require(key.empty() || key.back() != '.', "HostKey has no trailing dot");
    if (directory::IsStorableHost(key)) {
        Require(key.size() >= 3 && key.size() <= 253 && key.find('.') != std::string::npos,
                "a storable host has a plausible length and a dot");
        Require(key.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-.") == std::string::npos,
                "a storable host holds only host characters");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string key = input.ConsumeRandomLengthString(kMaxKeyLength);
    const auto minimum = input.ConsumeIntegralInRange<std::int64_t>(0, kMaxCountBound);
    const auto maximum = input.ConsumeIntegralInRange<std::int64_t>(minimum, kMaxCountBound);
    const auto fallback = input.ConsumeIntegral<std::int64_t>();
    const std::string text = input.ConsumeRemainingBytesAsString();

    const std::string decoded = directory::PercentDecode(text);
    Require(decoded.size() <= text.size(), "PercentDecode never grows");
    if (text.find_first_of("%+") == std::string::npos)
        Require(decoded == text, "PercentDecode keeps plain text");
    if (const std::optional<std::string> value = directory::QueryValue(text, key))
        Require(value->size() <= text.size(), "QueryValue is part of the query");

    const directory::SearchText search = directory::ParseSearchText(decoded);
    if (search.kind == directory::SearchText::Kind::Keywords)
        checkFtsQuery(decoded);
    checkHostKey(text);

    const std::int64_t count = directory::ParseCount(text, fallback, minimum, maximum);
    Require(count == fallback || (count >= minimum && count <= maximum), "ParseCount stays within its bounds");
    return 0;
}
