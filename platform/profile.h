#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Profile (INI) files, read and written with the rules of the Windows
// profile-file functions so that results files behave the same everywhere:
//
// - A line ends at LF; a CR before it, and blanks (space, tab) around names and
//   values, do not count. Lines whose first non-blank byte is ';' are comments.
// - "[name]" starts a section (the name is trimmed; a line without the closing
//   ']' takes the rest of the line as the name). Lines before the first section
//   are ignored.
// - In a section, "key=value" splits at the first '='; a non-empty line without
//   '=' is a key with the empty value. Names match in any ASCII letter case.
// - Duplicate sections or keys: look-ups find the first one; every section
//   line still takes its place in the list of section names.
// - A value is read cut to kMaxValueLength bytes (a 2048-byte buffer holding the
//   text and its terminating zero). Quotes around a value are kept as they are.
// - SectionNames() models the 16384-byte area of the Windows call: each name
//   takes its length plus one zero byte, and the area's last byte closes the
//   list. Names that fit are listed whole; the first name that does not fit is
//   listed cut to the room left (when any is left) and ends the list. Sections
//   with an empty name are not listed.
namespace kelvora {

inline constexpr std::size_t kProfileValueBufferSize = 2048;
inline constexpr std::size_t kMaxValueLength = kProfileValueBufferSize - 1;
inline constexpr std::size_t kSectionNamesAreaSize = 16384;
// Bytes read from a profile file at most; anything beyond is ignored, so a
// huge or endless file cannot exhaust memory.
inline constexpr std::size_t kMaxProfileFileSize = 64u * 1024u * 1024u;

class ProfileFile {
public:
    // Reads the file at path; a missing or unreadable file has no sections.
    static ProfileFile Load(const std::string &path);
    // Parses profile text in one linear pass.
    static ProfileFile Parse(std::string_view bytes);

    // The names of all sections in file order, cut to the 16384-byte area.
    std::vector<std::string> SectionNames() const;
    // True when the first section of this name holds at least one key.
    bool HasKeys(std::string_view section) const;
    // The value of key in the first section of this name, cut to
    // kMaxValueLength; nullopt when the section or key is absent.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;

private:
    struct Entry {
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };
    const Section *findSection(std::string_view name) const;

    std::vector<Section> m_sections;
    // Lower-cased name -> index of the first section of that name.
    std::unordered_map<std::string, std::size_t> m_firstSection;
};

// Builds profile text with CR LF line ends, the form Windows writes. Line
// breaks inside a name or value become blanks, so the file stays valid and
// every other line survives.
class ProfileWriter {
public:
    void Section(std::string_view name);
    void Key(std::string_view name, std::string_view value);
    const std::string &Text() const { return m_text; }

private:
    std::string m_text;
};

// What ReadFileBytes found. Missing covers a path that names nothing; Failed a
// path that cannot be opened or is not a regular file; TooLarge a file longer
// than the limit, of which bytes hold the first maxBytes.
enum class FileReadStatus { Read, Missing, Failed, TooLarge };
struct FileBytes {
    FileReadStatus status = FileReadStatus::Missing;
    std::string bytes;
};
// Reads a regular file without blocking on special files (FIFOs, devices).
FileBytes ReadFileBytes(const std::string &path, std::size_t maxBytes);

// Replaces the file at path with text: writes a temporary file beside it,
// flushes it to disk and renames it over the target, so the previous file stays
// whole if anything fails. A symbolic link at path is followed. Returns the
// empty text on success, otherwise a description of what failed. Never throws.
[[nodiscard]] std::string SaveAtomically(const std::string &path, std::string_view text);

// Writes the temporary file of an atomic save: fd is open for writing on the
// empty file named temporaryPath (a writer may also reopen it by that name).
// Returns the empty text on success, otherwise the reason.
using TemporaryFileWriter = std::function<std::string(int fd, const std::string &temporaryPath)>;

// SaveAtomically for writers that produce the file themselves: the target is
// replaced only when write succeeded and the file reached the disk; on any
// failure the temporary file is removed and the previous file stays whole.
[[nodiscard]] std::string SaveAtomicallyThrough(const std::string &path, const TemporaryFileWriter &write);

} // namespace kelvora
