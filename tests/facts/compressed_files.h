#pragma once

#include <string>
#include <utility>
#include <vector>

// Writes the compressed forms the importers read, from text made in a test.
namespace kelvora::directory::facts::testing {

// A gzip file of one member per text (several make a multi-member file).
void WriteGzip(const std::string &path, const std::vector<std::string> &members);
// A zip archive holding (name, content) entries in order; a name ending in
// "/" is a folder.
void WriteZip(const std::string &path, const std::vector<std::pair<std::string, std::string>> &entries);

} // namespace kelvora::directory::facts::testing
