#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <variant>

namespace kelvora {

// Raised by a typed read of a value stored with another type, or by a write
// that cannot be stored. Callers catch it the way they would a registry error.
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The per-user settings store that stands in for the registry. A key path such
// as "\Software\Torvane\Kelvora1Software\Setup" maps to one file below the
// user's configuration folder ($XDG_CONFIG_HOME, default ~/.config): the path's
// parts become folders and the last part the file "<last>.reg". Each value keeps
// its type (string or 32-bit integer), so a value of the wrong type is detected
// exactly as a registry read would detect it.
class RegistryKey {
public:
    // Root folder override for tests; empty means $XDG_CONFIG_HOME or ~/.config.
    explicit RegistryKey(std::string rootFolder = {});
    ~RegistryKey();
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;

    // Opens the key; with canCreate false a missing key fails (returns false).
    // A file that exists but cannot be parsed opens as an empty key.
    bool OpenKey(const std::string &path, bool canCreate);
    // Writes pending changes (atomically: temporary file, then rename) and closes.
    void CloseKey();

    bool ValueExists(const std::string &name) const;
    // Throws RegistryError when the value is missing or is not a string.
    std::string ReadString(const std::string &name) const;
    // Throws RegistryError when the value is missing or is not a 32-bit integer.
    std::int32_t ReadInteger(const std::string &name) const;
    // Each write is stored at once (atomic replace); throws RegistryError when
    // the key is not open or the file cannot be written.
    void WriteString(const std::string &name, const std::string &value);
    void WriteInteger(const std::string &name, std::int32_t value);

    // The file behind the open key (empty when none is open).
    const std::string &FilePath() const { return m_filePath; }

private:
    using Value = std::variant<std::string, std::int32_t>;
    void Store() const;

    std::string m_rootFolder;
    std::string m_filePath;
    bool m_open = false;
    std::map<std::string, Value> m_values;   // names compared case-insensitively on lookup
};

// The key that holds the search dialog's three values.
inline constexpr const char *kSetupKeyPath = "\\Software\\Torvane\\Kelvora1Software\\Setup";

} // namespace kelvora
