#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace kelvora {

// Raised by a typed read of a value stored with another type, or by a write
// that cannot be stored. Callers catch it the way they would a registry error.
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A stored value: a string or a 32-bit integer.
using RegistryValue = std::variant<std::string, std::int32_t>;

// Orders value names without regard to ASCII letter case, as the registry
// compares them.
struct RegistryNameLess {
    using is_transparent = void;
    bool operator()(std::string_view left, std::string_view right) const;
};
using RegistryValues = std::map<std::string, RegistryValue, RegistryNameLess>;

// Settings files larger than this read as an empty key.
inline constexpr std::size_t kMaxRegistryFileSize = 1024u * 1024u;

// The text of a settings file: an optional comment header and one line per
// value, '"name"=sz:"text"' or '"name"=dword:0000002a' (eight hex digits, the
// integer's 32 bits). In quoted texts a backslash escapes '\\' and '"', and
// "\xHH" stands for any byte; control bytes and bytes from 0x80 up are always
// written that way, so the file is plain ASCII and any 8-bit string survives.
// Lines end with LF (CR LF is accepted); blank lines and lines starting with
// ';' are ignored. nullopt when any line is malformed; the first of two values
// with the same name wins.
std::optional<RegistryValues> ParseRegistryText(std::string_view text);
std::string FormatRegistryText(const RegistryValues &values);

// The per-user settings store that stands in for the registry. A key path such
// as "\Software\Torvane\Kelvora1Software\Setup" maps to one file below the
// user's configuration folder ($XDG_CONFIG_HOME, default ~/.config): the path's
// parts become folders and the last part the file "<last>.reg"; a first part
// "Software" is left out, so the key above is the file
// "Torvane/Kelvora1Software/Setup.reg". Parts match existing folders and files
// in any letter case; a part that is empty inside the path, ".", "..", or holds
// '/' makes the path invalid. Each value keeps its type (string or 32-bit
// integer), so a value of the wrong type is detected exactly as a registry read
// would detect it.
class RegistryKey {
public:
    // Root folder override for tests; empty means $XDG_CONFIG_HOME or ~/.config.
    explicit RegistryKey(std::string rootFolder = {});
    ~RegistryKey();
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;

    // Opens the key; with canCreate false a missing key fails (returns false).
    // A file that exists but cannot be parsed (or is larger than
    // kMaxRegistryFileSize) opens as an empty key; one that cannot be read fails.
    bool OpenKey(const std::string &path, bool canCreate);
    // Closes the key. Nothing is pending: every write is already on disk.
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
    using Value = RegistryValue;
    void Write(const std::string &name, RegistryValue value);
    void Store(const RegistryValues &values) const;

    std::string m_rootFolder;
    std::string m_filePath;
    bool m_open = false;
    RegistryValues m_values;   // names keep the letter case they were first written with
};

// The key that holds the search dialog's three values.
inline constexpr const char *kSetupKeyPath = "\\Software\\Torvane\\Kelvora1Software\\Setup";

} // namespace kelvora
