#include "platform/registry.h"

#include "platform/profile.h"
#include "text/text.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace kelvora {

namespace {

constexpr std::string_view kFileHeader = "; Kelvora settings\n";
constexpr std::string_view kFileExtension = ".reg";
constexpr std::string_view kStringTag = "sz:";
constexpr std::string_view kIntegerTag = "dword:";
constexpr std::size_t kIntegerDigits = 8;
constexpr char kHexDigits[] = "0123456789abcdef";

void appendQuoted(std::string &out, std::string_view text)
{
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            out += "\\x";
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0x0f];
        } else {
            out += c;
        }
    }
    out += '"';
}

// Reads a quoted text from the front of line and removes it from line.
std::optional<std::string> takeQuoted(std::string_view &line)
{
    if (line.empty() || line.front() != '"')
        return std::nullopt;
    std::string text;
    std::size_t i = 1;
    for (; i < line.size() && line[i] != '"'; ++i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        if (byte < 0x20 || byte == 0x7f)
            return std::nullopt;
        if (line[i] != '\\') {
            text += line[i];
            continue;
        }
        if (++i >= line.size())
            return std::nullopt;
        if (line[i] == '"' || line[i] == '\\') {
            text += line[i];
        } else if (line[i] == 'x' && i + 2 < line.size() && HexDigitValue(line[i + 1]) >= 0 &&
                   HexDigitValue(line[i + 2]) >= 0) {
            text += static_cast<char>(HexDigitValue(line[i + 1]) * 16 + HexDigitValue(line[i + 2]));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    if (i >= line.size())
        return std::nullopt;
    line.remove_prefix(i + 1);
    return text;
}

std::optional<std::int32_t> parseInteger(std::string_view digits)
{
    if (digits.size() != kIntegerDigits)
        return std::nullopt;
    std::uint32_t bits = 0;
    for (const char c : digits) {
        const int value = HexDigitValue(c);
        if (value < 0)
            return std::nullopt;
        bits = bits << 4 | static_cast<std::uint32_t>(value);
    }
    return static_cast<std::int32_t>(bits);
}

bool parseValue(std::string_view text, RegistryValue &value)
{
    if (text.starts_with(kStringTag)) {
        text.remove_prefix(kStringTag.size());
        std::optional<std::string> string = takeQuoted(text);
        if (!string || !text.empty())
            return false;
        value = std::move(*string);
        return true;
    }
    if (text.starts_with(kIntegerTag)) {
        const std::optional<std::int32_t> number = parseInteger(text.substr(kIntegerTag.size()));
        if (!number)
            return false;
        value = *number;
        return true;
    }
    return false;
}

std::string configurationRoot()
{
    // Only an absolute $XDG_CONFIG_HOME counts; a relative one is to be ignored.
    const char *configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome && configHome[0] == '/')
        return configHome;
    const char *home = std::getenv("HOME");
    if (home && home[0] != '\0')
        return std::string(home) + "/.config";
    if (const passwd *entry = ::getpwuid(::getuid()); entry && entry->pw_dir && entry->pw_dir[0] != '\0')
        return std::string(entry->pw_dir) + "/.config";
    return {};
}

// Splits "\Software\A\B" into {"A", "B"}; nullopt for a path that cannot name a file.
std::optional<std::vector<std::string>> keyParts(std::string_view path)
{
    while (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    std::vector<std::string> parts;
    while (!path.empty()) {
        const std::size_t end = path.find('\\');
        const std::string_view part = path.substr(0, end);
        if (part.empty() || part == "." || part == ".." ||
            part.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos)
            return std::nullopt;
        parts.emplace_back(part);
        path.remove_prefix(end == std::string_view::npos ? path.size() : end + 1);
    }
    if (!parts.empty() && EqualsIgnoreCase(parts.front(), "Software"))
        parts.erase(parts.begin());
    if (parts.empty())
        return std::nullopt;
    return parts;
}

// The entry of folder named name in any letter case; name itself when none exists.
std::filesystem::path entryIn(const std::filesystem::path &folder, const std::string &name)
{
    std::error_code error;
    if (std::filesystem::exists(folder / name, error))
        return folder / name;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string existing = it->path().filename().string();
        if (EqualsIgnoreCase(existing, name))
            return it->path();
    }
    return folder / name;
}

} // namespace

bool RegistryNameLess::operator()(std::string_view left, std::string_view right) const
{
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto a = static_cast<unsigned char>(LowerAscii(left[i]));
        const auto b = static_cast<unsigned char>(LowerAscii(right[i]));
        if (a != b)
            return a < b;
    }
    return left.size() < right.size();
}

std::optional<RegistryValues> ParseRegistryText(std::string_view text)
{
    RegistryValues values;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == ';')
            continue;

        std::optional<std::string> name = takeQuoted(line);
        if (!name || line.empty() || line.front() != '=')
            return std::nullopt;
        RegistryValue value;
        if (!parseValue(line.substr(1), value))
            return std::nullopt;
        values.try_emplace(std::move(*name), std::move(value));
    }
    return values;
}

std::string FormatRegistryText(const RegistryValues &values)
{
    std::string text(kFileHeader);
    for (const auto &[name, value] : values) {
        appendQuoted(text, name);
        text += '=';
        if (const auto *string = std::get_if<std::string>(&value)) {
            text += kStringTag;
            appendQuoted(text, *string);
        } else {
            const auto bits = static_cast<std::uint32_t>(std::get<std::int32_t>(value));
            text += kIntegerTag;
            for (int shift = 28; shift >= 0; shift -= 4)
                text += kHexDigits[(bits >> shift) & 0x0f];
        }
        text += '\n';
    }
    return text;
}

RegistryKey::RegistryKey(std::string rootFolder)
    : m_rootFolder(std::move(rootFolder))
{
}

RegistryKey::~RegistryKey()
{
    CloseKey();
}

bool RegistryKey::OpenKey(const std::string &path, bool canCreate)
{
    CloseKey();
    const std::optional<std::vector<std::string>> parts = keyParts(path);
    const std::string root = m_rootFolder.empty() ? configurationRoot() : m_rootFolder;
    if (!parts || root.empty())
        return false;

    try {
        std::filesystem::path folder = root;
        for (std::size_t i = 0; i + 1 < parts->size(); ++i)
            folder = entryIn(folder, (*parts)[i]);
        const std::filesystem::path file = entryIn(folder, parts->back() + std::string(kFileExtension));

        const FileBytes bytes = ReadFileBytes(file.string(), kMaxRegistryFileSize);
        switch (bytes.status) {
        case FileReadStatus::Read:
            m_values = ParseRegistryText(bytes.bytes).value_or(RegistryValues{});
            break;
        case FileReadStatus::TooLarge:
            m_values.clear();
            break;
        case FileReadStatus::Failed:
            return false;
        case FileReadStatus::Missing: {
            if (!canCreate)
                return false;
            std::error_code error;
            std::filesystem::create_directories(folder, error);
            if (error || !SaveAtomically(file.string(), FormatRegistryText({})).empty())
                return false;
            m_values.clear();
            break;
        }
        }
        m_filePath = file.string();
        m_open = true;
        return true;
    } catch (const std::exception &) {
        m_values.clear();
        return false;
    }
}

void RegistryKey::CloseKey()
{
    // Every write is already on disk; closing only forgets the key.
    m_open = false;
    m_filePath.clear();
    m_values.clear();
}

bool RegistryKey::ValueExists(const std::string &name) const
{
    return m_open && m_values.find(name) != m_values.end();
}

// A typed read: a missing value or one stored with another type is an error,
// as a registry read of the wrong type would be.
template <typename T>
static T readTyped(bool open, const RegistryValues &values, const std::string &name,
                   const char *typeName)
{
    const auto found = values.find(name);
    if (!open || found == values.end())
        throw RegistryError("Value \"" + name + "\" does not exist");
    const auto *value = std::get_if<T>(&found->second);
    if (!value)
        throw RegistryError("Value \"" + name + "\" is not " + typeName);
    return *value;
}

std::string RegistryKey::ReadString(const std::string &name) const
{
    return readTyped<std::string>(m_open, m_values, name, "a string");
}

std::int32_t RegistryKey::ReadInteger(const std::string &name) const
{
    return readTyped<std::int32_t>(m_open, m_values, name, "an integer");
}

void RegistryKey::WriteString(const std::string &name, const std::string &value)
{
    Write(name, value);
}

void RegistryKey::WriteInteger(const std::string &name, std::int32_t value)
{
    Write(name, value);
}

// The file is written before the copy in memory changes, so a failed write
// leaves both as they were.
void RegistryKey::Write(const std::string &name, RegistryValue value)
{
    if (!m_open)
        throw RegistryError("No key is open");
    RegistryValues updated = m_values;
    updated.insert_or_assign(name, std::move(value));
    Store(updated);
    m_values = std::move(updated);
}

void RegistryKey::Store(const RegistryValues &values) const
{
    const std::string error = SaveAtomically(m_filePath, FormatRegistryText(values));
    if (!error.empty())
        throw RegistryError("Failed to set data for the key: " + error);
}

} // namespace kelvora
