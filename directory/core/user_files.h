#pragma once

#include <string>
#include <string_view>

// Where the directory keeps its files when told nothing else: the XDG base
// folders, with the usual fallbacks under the home folder.
namespace kelvora::directory {

enum class UserFolder {
    Data,    // ${XDG_DATA_HOME:-~/.local/share}
    Cache,   // ${XDG_CACHE_HOME:-~/.cache}
};

// The folder's "kelvora/name". An unset or empty variable means the
// fallback; without HOME the fallback is relative to the working folder.
std::string UserFilePath(UserFolder folder, std::string_view name);

} // namespace kelvora::directory
