#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Streams the lines of a ranking or graph file that may be plain text, gzip
// (.gz, also several members one after another) or a zip archive (its first
// file). The kind is told by the file's first bytes, not its name, so a
// renamed download still reads. Memory stays at one buffer whatever the
// file's size.
namespace kelvora::directory::facts {

// Longest line taken; a longer one is passed over and reported as such.
constexpr std::size_t kMaxLineLength = 4096;

class ImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Bytes that come from elsewhere than a file, such as a download. Read
// gives up to size bytes, 0 at the end, and throws ImportError when the rest
// cannot be had (a transfer that broke off), so that a cut-short stream is
// never taken for a whole one.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    virtual std::size_t Read(char *data, std::size_t size) = 0;
};

class LineReader final {
public:
    // Throws ImportError when the file cannot be opened or is an archive
    // without a file in it.
    explicit LineReader(const std::string &path);
    // Reads stream as it comes, plain or gzip (told by its first bytes);
    // name stands for it in messages. A zip archive needs a file and is
    // refused (ImportError).
    LineReader(std::unique_ptr<ByteStream> stream, const std::string &name);
    ~LineReader();
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    // The next line without its LF or CR LF; false at the end of the data.
    // tooLong tells that the line exceeded kMaxLineLength (line is then
    // empty). The view stays valid until the next call. Throws ImportError
    // when the data is damaged or cut short, so that an import never takes
    // a partial file for a whole one.
    bool Next(std::string_view &line, bool &tooLong);

    // Uncompressed bytes handed out so far, for progress lines.
    std::uint64_t BytesRead() const { return m_bytesRead; }

    class Source;

private:
    bool Fill();

    std::unique_ptr<Source> m_source;
    std::vector<char> m_buffer;
    std::size_t m_begin = 0;   // first byte not yet handed out
    std::size_t m_end = 0;     // end of the valid bytes
    bool m_exhausted = false;
    std::uint64_t m_bytesRead = 0;
};

} // namespace kelvora::directory::facts
