#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// Thin RAII layer over SQLite: every value reaches SQL through a bound
// parameter, never through the statement text. Failures throw SqliteError.
namespace kelvora::directory {

class SqliteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Immutable: read-only, without locks or the WAL's shared-memory file, for
// a file on read-only media or in a folder this process cannot write, which
// nobody changes while it is open.
enum class OpenMode { ReadOnly, ReadWrite, Create, Immutable };

// Whether this process cannot write path or the folder holding it: a
// database there can only be opened Immutable.
bool CannotWrite(const std::string &path);

class Connection final {
public:
    Connection(const std::string &path, OpenMode mode);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    void Execute(const char *sql);   // statements without parameters or rows
    // Rows changed by the last INSERT, UPDATE or DELETE.
    std::int64_t Changes() const;
    sqlite3 *Handle() const { return m_db; }

private:
    sqlite3 *m_db = nullptr;
};

class Statement final {
public:
    Statement(const Connection &connection, const char *sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &Bind(int index, std::string_view text);
    Statement &Bind(int index, std::int64_t value);
    Statement &BindNull(int index);
    bool Step();           // true while a row is available
    void Run();            // steps to the end, ignoring rows
    void Reset();          // ready for new bindings
    std::string Text(int column) const;
    std::int64_t Integer(int column) const;

private:
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_statement = nullptr;
};

} // namespace kelvora::directory
