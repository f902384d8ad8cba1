#include "tests/facts/compressed_files.h"

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <fstream>
#include <stdexcept>

namespace kelvora::directory::facts::testing {

void WriteGzip(const std::string &path, const std::vector<std::string> &members)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc);
    for (const std::string &member : members) {
        // Appending opens a new member, as `cat a.gz b.gz` would.
        gzFile file = gzopen(path.c_str(), "ab");
        if (!file || gzwrite(file, member.data(), static_cast<unsigned>(member.size())) !=
                         static_cast<int>(member.size()))
            throw std::runtime_error("cannot write " + path);
        gzclose(file);
    }
}

void WriteZip(const std::string &path, const std::vector<std::pair<std::string, std::string>> &entries)
{
    archive *zip = archive_write_new();
    archive_write_set_format_zip(zip);
    if (archive_write_open_filename(zip, path.c_str()) != ARCHIVE_OK)
        throw std::runtime_error("cannot write " + path);
    for (const auto &[name, content] : entries) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, name.c_str());
        const bool folder = !name.empty() && name.back() == '/';
        archive_entry_set_filetype(entry, folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(entry, folder ? 0755 : 0644);
        archive_entry_set_size(entry, folder ? 0 : static_cast<la_int64_t>(content.size()));
        archive_write_header(zip, entry);
        if (!folder)
            archive_write_data(zip, content.data(), content.size());
        archive_entry_free(entry);
    }
    archive_write_free(zip);
}

} // namespace kelvora::directory::facts::testing
