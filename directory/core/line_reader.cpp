#include "directory/core/line_reader.h"

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kelvora::directory::facts {

namespace {

// Large enough that the per-read overhead of zlib and libarchive vanishes;
// a line never straddles more than two fills.
constexpr std::size_t kBufferSize = 1 << 20;

} // namespace

class LineReader::Source {
public:
    virtual ~Source() = default;
    // Up to size bytes into data; 0 at the end. Throws ImportError.
    virtual std::size_t Read(char *data, std::size_t size) = 0;
};

namespace {

class PlainSource final : public LineReader::Source {
public:
    PlainSource(std::FILE *file, const std::string &path)
        : m_file(file)
        , m_path(path)
    {
    }
    ~PlainSource() override { std::fclose(m_file); }

    std::size_t Read(char *data, std::size_t size) override
    {
        const std::size_t count = std::fread(data, 1, size, m_file);
        if (count == 0 && std::ferror(m_file))
            throw ImportError(m_path + ": read error");
        return count;
    }

private:
    std::FILE *m_file;
    std::string m_path;
};

class GzipSource final : public LineReader::Source {
public:
    explicit GzipSource(const std::string &path)
        : m_path(path)
    {
        m_file = gzopen(path.c_str(), "rb");
        if (!m_file)
            throw ImportError(path + ": cannot open");
        gzbuffer(m_file, kBufferSize);
    }
    ~GzipSource() override { gzclose(m_file); }

    std::size_t Read(char *data, std::size_t size) override
    {
        const int count = gzread(m_file, data, static_cast<unsigned>(size));
        int code = Z_OK;
        const char *message = gzerror(m_file, &code);
        // A cut-short stream reads to its last byte and then reports
        // Z_BUF_ERROR; any error means the file is not whole.
        if (count < 0 || (code != Z_OK && code != Z_STREAM_END))
            throw ImportError(m_path + ": damaged gzip data (" + message + ")");
        return static_cast<std::size_t>(count);
    }

private:
    gzFile m_file = nullptr;
    std::string m_path;
};

class ZipSource final : public LineReader::Source {
public:
    explicit ZipSource(const std::string &path)
        : m_path(path)
    {
        m_archive = archive_read_new();
        if (!m_archive)
            throw ImportError(path + ": out of memory");
        archive_read_support_format_zip(m_archive);
        if (archive_read_open_filename(m_archive, path.c_str(), kBufferSize) != ARCHIVE_OK)
            Fail("cannot open zip archive");
        // The rankings ship as one file in a zip; folders and the macOS
        // resource entries before it are passed over.
        archive_entry *entry = nullptr;
        for (;;) {
            const int code = archive_read_next_header(m_archive, &entry);
            if (code == ARCHIVE_EOF)
                Fail("zip archive holds no file");
            if (code < ARCHIVE_WARN)
                Fail("damaged zip archive");
            if (archive_entry_filetype(entry) == AE_IFREG &&
                std::strncmp(archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "",
                             "__MACOSX/", 9) != 0)
                return;
        }
    }
    ~ZipSource() override { archive_read_free(m_archive); }

    std::size_t Read(char *data, std::size_t size) override
    {
        const la_ssize_t count = archive_read_data(m_archive, data, size);
        if (count < 0)
            Fail("damaged zip data");
        return static_cast<std::size_t>(count);
    }

private:
    [[noreturn]] void Fail(const std::string &what)
    {
        const char *reason = archive_error_string(m_archive);
        const std::string message = m_path + ": " + what + (reason ? std::string(" (") + reason + ")" : "");
        archive_read_free(m_archive);
        m_archive = nullptr;
        throw ImportError(message);
    }

    archive *m_archive = nullptr;
    std::string m_path;
};

// The first bytes of a stream, read to tell its kind, handed out again
// before the rest.
class PeekedStream final {
public:
    PeekedStream(std::unique_ptr<ByteStream> stream, std::size_t peek)
        : m_stream(std::move(stream))
    {
        m_peeked.resize(peek);
        std::size_t filled = 0;
        while (filled < peek) {
            const std::size_t count = m_stream->Read(m_peeked.data() + filled, peek - filled);
            if (count == 0)
                break;
            filled += count;
        }
        m_peeked.resize(filled);
    }

    const std::string &Peeked() const { return m_peeked; }

    std::size_t Read(char *data, std::size_t size)
    {
        if (m_offset < m_peeked.size()) {
            const std::size_t count = std::min(size, m_peeked.size() - m_offset);
            std::memcpy(data, m_peeked.data() + m_offset, count);
            m_offset += count;
            return count;
        }
        return m_stream->Read(data, size);
    }

private:
    std::unique_ptr<ByteStream> m_stream;
    std::string m_peeked;
    std::size_t m_offset = 0;
};

class PlainStreamSource final : public LineReader::Source {
public:
    explicit PlainStreamSource(std::unique_ptr<PeekedStream> stream)
        : m_stream(std::move(stream))
    {
    }

    std::size_t Read(char *data, std::size_t size) override { return m_stream->Read(data, size); }

private:
    std::unique_ptr<PeekedStream> m_stream;
};

// gzip members one after another, inflated as the bytes arrive; the stream
// ending inside a member is a cut-short file.
class GzipStreamSource final : public LineReader::Source {
public:
    GzipStreamSource(std::unique_ptr<PeekedStream> stream, std::string name)
        : m_stream(std::move(stream))
        , m_name(std::move(name))
        , m_input(kInputSize)
    {
        constexpr int kGzipOnly = 15 + 16;   // largest window, gzip header
        if (inflateInit2(&m_zlib, kGzipOnly) != Z_OK)
            throw ImportError(m_name + ": cannot start gzip decoding");
    }
    ~GzipStreamSource() override { inflateEnd(&m_zlib); }

    std::size_t Read(char *data, std::size_t size) override
    {
        m_zlib.next_out = reinterpret_cast<Bytef *>(data);
        m_zlib.avail_out = static_cast<uInt>(std::min<std::size_t>(size, UINT32_MAX));
        while (m_zlib.avail_out > 0) {
            if (m_zlib.avail_in == 0) {
                const std::size_t count = m_stream->Read(m_input.data(), m_input.size());
                if (count == 0) {
                    if (m_inMember)
                        throw ImportError(m_name + ": damaged gzip data (cut short)");
                    break;
                }
                m_zlib.next_in = reinterpret_cast<Bytef *>(m_input.data());
                m_zlib.avail_in = static_cast<uInt>(count);
            }
            if (!m_inMember) {
                inflateReset(&m_zlib);
                m_inMember = true;
            }
            const int code = inflate(&m_zlib, Z_NO_FLUSH);
            if (code == Z_STREAM_END) {
                m_inMember = false;
                continue;
            }
            if (code != Z_OK && code != Z_BUF_ERROR)
                throw ImportError(m_name + ": damaged gzip data (" +
                                  (m_zlib.msg ? m_zlib.msg : "inflate failed") + ")");
        }
        return size - m_zlib.avail_out;
    }

private:
    static constexpr std::size_t kInputSize = 256 * 1024;

    std::unique_ptr<PeekedStream> m_stream;
    std::string m_name;
    std::vector<char> m_input;
    z_stream m_zlib = {};
    bool m_inMember = false;
};

} // namespace

LineReader::LineReader(std::unique_ptr<ByteStream> stream, const std::string &name)
    : m_buffer(kBufferSize)
{
    auto peeked = std::make_unique<PeekedStream>(std::move(stream), 4);
    const std::string &magic = peeked->Peeked();
    if (magic.size() >= 2 && static_cast<unsigned char>(magic[0]) == 0x1f &&
        static_cast<unsigned char>(magic[1]) == 0x8b)
        m_source = std::make_unique<GzipStreamSource>(std::move(peeked), name);
    else if (magic == std::string_view("PK\x03\x04", 4))
        throw ImportError(name + ": a zip archive is read from a file only");
    else
        m_source = std::make_unique<PlainStreamSource>(std::move(peeked));
}

LineReader::LineReader(const std::string &path)
    : m_buffer(kBufferSize)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        throw ImportError(path + ": " + std::strerror(errno));
    unsigned char magic[4] = {};
    const std::size_t count = std::fread(magic, 1, sizeof(magic), file);
    if (count >= 2 && magic[0] == 0x1f && magic[1] == 0x8b) {
        std::fclose(file);
        m_source = std::make_unique<GzipSource>(path);
    } else if (count == 4 && std::memcmp(magic, "PK\x03\x04", 4) == 0) {
        std::fclose(file);
        m_source = std::make_unique<ZipSource>(path);
    } else {
        std::rewind(file);
        m_source = std::make_unique<PlainSource>(file, path);
    }
}

LineReader::~LineReader() = default;

bool LineReader::Fill()
{
    if (m_exhausted)
        return false;
    if (m_begin > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    // Next() never holds more than one line's limit, so this cannot happen;
    // ending here would pass a cut-short file for a whole one.
    if (m_end == m_buffer.size())
        throw ImportError("line buffer overrun");
    const std::size_t count = m_source->Read(m_buffer.data() + m_end, m_buffer.size() - m_end);
    if (count == 0) {
        m_exhausted = true;
        return false;
    }
    m_end += count;
    return true;
}

bool LineReader::Next(std::string_view &line, bool &tooLong)
{
    bool skipping = false;   // inside a line longer than kMaxLineLength
    const auto emit = [&](std::size_t lineStart, std::size_t length) {
        if (length > 0 && m_buffer[lineStart + length - 1] == '\r')
            --length;
        tooLong = skipping || length > kMaxLineLength;
        line = tooLong ? std::string_view() : std::string_view(m_buffer.data() + lineStart, length);
        return true;
    };

    std::size_t searched = 0;   // bytes after m_begin known to hold no LF
    for (;;) {
        const char *start = m_buffer.data() + m_begin + searched;
        const std::size_t available = m_end - m_begin - searched;
        if (const auto *newline = static_cast<const char *>(std::memchr(start, '\n', available))) {
            const std::size_t lineStart = m_begin;
            const std::size_t length = static_cast<std::size_t>(newline - m_buffer.data()) - lineStart;
            m_begin = lineStart + length + 1;
            m_bytesRead += length + 1;
            return emit(lineStart, length);
        }
        if (m_end - m_begin > kMaxLineLength + 1) {
            // Too long already: drop what is held and read on to its end.
            m_bytesRead += m_end - m_begin;
            m_begin = m_end;
            skipping = true;
        }
        searched = m_end - m_begin;
        if (!Fill()) {
            if (m_begin == m_end) {
                tooLong = skipping;
                line = {};
                return skipping;
            }
            // A last line without a line end.
            const std::size_t lineStart = m_begin;
            const std::size_t length = m_end - m_begin;
            m_begin = m_end;
            m_bytesRead += length;
            return emit(lineStart, length);
        }
    }
}

} // namespace kelvora::directory::facts
