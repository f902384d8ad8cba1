#include "directory/core/user_files.h"

#include <cstdlib>

namespace kelvora::directory {

std::string UserFilePath(UserFolder folder, std::string_view name)
{
    const bool data = folder == UserFolder::Data;
    const char *xdg = std::getenv(data ? "XDG_DATA_HOME" : "XDG_CACHE_HOME");
    std::string path;
    if (xdg != nullptr && *xdg != '\0') {
        path = xdg;
    } else {
        const char *home = std::getenv("HOME");
        path = std::string(home != nullptr ? home : ".") + (data ? "/.local/share" : "/.cache");
    }
    path += "/kelvora/";
    path += name;
    return path;
}

} // namespace kelvora::directory
