#include "platform/profile.h"

#include "text/text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora {

namespace {

// Attempts at a fresh temporary name before giving up; names only collide when
// another save of the same file runs at the same moment.
constexpr int kTemporaryNameAttempts = 100;
constexpr std::size_t kReadChunkSize = 64 * 1024;

// Blanks around names and values; a CR of a CR LF line end among them.
constexpr std::string_view kBlanks = " \t\r";

// Appends text with every CR LF, lone CR and lone LF turned into one blank.
void appendOneLine(std::string &out, std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            out += ' ';
        } else if (c == '\n') {
            out += ' ';
        } else {
            out += c;
        }
    }
}

std::string describeErrno(const std::string &what, const std::string &path)
{
    const int error = errno;
    return what + " " + path + ": " + std::strerror(error);
}

bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Saving over a link must change the file it points to, not replace the link.
std::filesystem::path resolveTarget(const std::string &path)
{
    std::error_code error;
    if (!std::filesystem::is_symlink(path, error))
        return path;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::path(path) : resolved;
}

} // namespace

ProfileFile ProfileFile::Load(const std::string &path)
{
    const FileBytes file = ReadFileBytes(path, kMaxProfileFileSize);
    if (file.status == FileReadStatus::Read || file.status == FileReadStatus::TooLarge)
        return Parse(file.bytes);
    return ProfileFile();
}

ProfileFile ProfileFile::Parse(std::string_view bytes)
{
    ProfileFile profile;
    Section *current = nullptr;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view line = Trim(bytes.substr(0, end), kBlanks);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);

        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            std::string_view name = line.substr(1);
            const std::size_t close = name.rfind(']');
            if (close != std::string_view::npos)
                name = name.substr(0, close);
            profile.m_sections.push_back(Section{std::string(Trim(name, kBlanks)), {}});
            current = &profile.m_sections.back();
            profile.m_firstSection.try_emplace(LowerCase(std::string(current->name)), profile.m_sections.size() - 1);
            continue;
        }
        if (!current)
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            current->entries.push_back(Entry{std::string(line), {}});
        } else {
            current->entries.push_back(Entry{std::string(Trim(line.substr(0, equals), kBlanks)),
                                             std::string(Trim(line.substr(equals + 1), kBlanks))});
        }
    }
    return profile;
}

std::vector<std::string> ProfileFile::SectionNames() const
{
    // The area's last byte is the zero that closes the list, so names and
    // their zero bytes share the bytes before it.
    constexpr std::size_t room = kSectionNamesAreaSize - 1;
    std::vector<std::string> names;
    std::size_t used = 0;
    for (const Section &section : m_sections) {
        if (section.name.empty())
            continue;
        if (used + section.name.size() + 1 <= room) {
            names.push_back(section.name);
            used += section.name.size() + 1;
            continue;
        }
        // A cut name still needs its own zero byte.
        if (used + 1 < room)
            names.push_back(section.name.substr(0, room - used - 1));
        break;
    }
    return names;
}

const ProfileFile::Section *ProfileFile::findSection(std::string_view name) const
{
    const auto found = m_firstSection.find(LowerCase(std::string(name)));
    return found == m_firstSection.end() ? nullptr : &m_sections[found->second];
}

bool ProfileFile::HasKeys(std::string_view section) const
{
    const Section *found = findSection(section);
    return found && !found->entries.empty();
}

std::optional<std::string> ProfileFile::Value(std::string_view section, std::string_view key) const
{
    const Section *found = findSection(section);
    if (!found)
        return std::nullopt;
    for (const Entry &entry : found->entries) {
        if (EqualsIgnoreCase(entry.key, key))
            return entry.value.substr(0, kMaxValueLength);
    }
    return std::nullopt;
}

void ProfileWriter::Section(std::string_view name)
{
    m_text += '[';
    appendOneLine(m_text, name);
    m_text += "]\r\n";
}

void ProfileWriter::Key(std::string_view name, std::string_view value)
{
    appendOneLine(m_text, name);
    m_text += '=';
    appendOneLine(m_text, value);
    m_text += "\r\n";
}

FileBytes ReadFileBytes(const std::string &path, std::size_t maxBytes)
{
    FileBytes result;
    // O_NONBLOCK keeps open() from waiting for a writer on a FIFO.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.status = (errno == ENOENT || errno == ENOTDIR) ? FileReadStatus::Missing
                                                              : FileReadStatus::Failed;
        return result;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        result.status = FileReadStatus::Failed;
        return result;
    }
    result.status = FileReadStatus::Read;
    // Read one byte past the limit to tell "exactly the limit" from "longer".
    char chunk[kReadChunkSize];
    for (;;) {
        const std::size_t wanted = std::min(kReadChunkSize, maxBytes + 1 - result.bytes.size());
        const ssize_t got = ::read(fd, chunk, wanted);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            result.status = FileReadStatus::Failed;
            result.bytes.clear();
            break;
        }
        if (got == 0)
            break;
        result.bytes.append(chunk, static_cast<std::size_t>(got));
        if (result.bytes.size() > maxBytes) {
            result.bytes.resize(maxBytes);
            result.status = FileReadStatus::TooLarge;
            break;
        }
    }
    ::close(fd);
    return result;
}

std::string SaveAtomically(const std::string &path, std::string_view text)
{
    return SaveAtomicallyThrough(path, [text](int fd, const std::string &temporary) {
        return writeAll(fd, text) ? std::string() : describeErrno("cannot write", temporary);
    });
}

std::string SaveAtomicallyThrough(const std::string &path, const TemporaryFileWriter &write)
{
    try {
        const std::filesystem::path target = resolveTarget(path);
        std::filesystem::path folder = target.parent_path();
        if (folder.empty())
            folder = ".";
        const std::string baseName = "." + target.filename().string() + ".tmp-" +
                                     std::to_string(::getpid()) + "-";

        std::string temporary;
        int fd = -1;
        for (int attempt = 0; attempt < kTemporaryNameAttempts && fd < 0; ++attempt) {
            temporary = (folder / (baseName + std::to_string(attempt))).string();
            fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST)
                return describeErrno("cannot create a temporary file in", folder.string());
        }
        if (fd < 0)
            return "no free temporary name in " + folder.string();

        // Keep the permissions of the file being replaced.
        struct stat previous {};
        if (::stat(target.c_str(), &previous) == 0 && S_ISREG(previous.st_mode))
            ::fchmod(fd, previous.st_mode & 07777);

        // A writer that reopens the file by name writes the same inode, so
        // flushing this descriptor flushes its data too.
        std::string error;
        try {
            error = write(fd, temporary);
        } catch (const std::exception &exception) {
            error = std::string("cannot write ") + temporary + ": " + exception.what();
        }
        if (error.empty() && ::fsync(fd) != 0)
            error = describeErrno("cannot flush", temporary);
        if (::close(fd) != 0 && error.empty())
            error = describeErrno("cannot close", temporary);
        if (error.empty() && ::rename(temporary.c_str(), target.c_str()) != 0)
            error = describeErrno("cannot replace", target.string());
        if (!error.empty()) {
            ::unlink(temporary.c_str());
            return error;
        }

        // Make the rename itself durable; a failure here loses nothing.
        const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd >= 0) {
            ::fsync(folderFd);
            ::close(folderFd);
        }
        return {};
    } catch (const std::exception &exception) {
        return std::string("cannot save ") + path + ": " + exception.what();
    }
}

} // namespace kelvora
