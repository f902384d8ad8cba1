#include "directory/core/sqlite.h"

#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>

namespace kelvora::directory {

namespace {

// Waits this long for a writer's lock before a query gives up.
constexpr int kBusyTimeoutMs = 2000;

[[noreturn]] void Fail(sqlite3 *db, const std::string &what)
{
    throw SqliteError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

// A file: URI naming path, with the characters a URI gives a meaning
// escaped.
std::string FileUri(const std::string &path, const char *parameters)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '%' || c == '?' || c == '#' || byte < 0x21 || byte >= 0x7F) {
            uri += '%';
            uri += kHex[byte >> 4];
            uri += kHex[byte & 0xF];
        } else {
            uri += c;
        }
    }
    return uri + "?" + parameters;
}

} // namespace

bool CannotWrite(const std::string &path)
{
    const std::filesystem::path file(path);
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    return ::access(path.c_str(), W_OK) != 0 || ::access(folder.c_str(), W_OK) != 0;
}

Connection::Connection(const std::string &path, OpenMode mode)
{
    int flags = SQLITE_OPEN_NOMUTEX;
    std::string name = path;
    switch (mode) {
    case OpenMode::ReadOnly: flags |= SQLITE_OPEN_READONLY; break;
    case OpenMode::ReadWrite: flags |= SQLITE_OPEN_READWRITE; break;
    case OpenMode::Create: flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE; break;
    case OpenMode::Immutable:
        flags |= SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
        name = FileUri(path, "immutable=1");
        break;
    }
    if (sqlite3_open_v2(name.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw SqliteError(message);
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(m_db, 1);
}

Connection::~Connection()
{
    sqlite3_close_v2(m_db);
}

void Connection::Execute(const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : sqlite3_errmsg(m_db);
        sqlite3_free(message);
        throw SqliteError(text);
    }
}

std::int64_t Connection::Changes() const
{
    return sqlite3_changes64(m_db);
}

Statement::Statement(const Connection &connection, const char *sql)
    : m_db(connection.Handle())
{
    // Preparing is where a file that is not a database shows: its message
    // alone is the clearest one-line reason.
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr) !=
        SQLITE_OK)
        throw SqliteError(sqlite3_errmsg(m_db));
}

Statement::~Statement()
{
    sqlite3_finalize(m_statement);
}

Statement &Statement::Bind(int index, std::string_view text)
{
    if (sqlite3_bind_text64(m_statement, index, text.data(), text.size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8) != SQLITE_OK)
        Fail(m_db, "bind");
    return *this;
}

Statement &Statement::Bind(int index, std::int64_t value)
{
    if (sqlite3_bind_int64(m_statement, index, value) != SQLITE_OK)
        Fail(m_db, "bind");
    return *this;
}

Statement &Statement::BindNull(int index)
{
    if (sqlite3_bind_null(m_statement, index) != SQLITE_OK)
        Fail(m_db, "bind");
    return *this;
}

bool Statement::Step()
{
    const int code = sqlite3_step(m_statement);
    if (code == SQLITE_ROW)
        return true;
    if (code == SQLITE_DONE)
        return false;
    Fail(m_db, "query");
}

void Statement::Run()
{
    while (Step()) {
    }
}

void Statement::Reset()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

std::string Statement::Text(int column) const
{
    const auto *text = sqlite3_column_text(m_statement, column);
    const int size = sqlite3_column_bytes(m_statement, column);
    return text ? std::string(reinterpret_cast<const char *>(text), static_cast<std::size_t>(size))
                : std::string();
}

std::int64_t Statement::Integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

} // namespace kelvora::directory
