// Fuzz targets stay off the network: the readers' fetch wrappers link against
// this HttpGet, which behaves like a connection that failed (nothing arrives).
#include "web/http.h"

namespace kelvora {

void HttpGet(const std::string &, std::string &, int)
{
}

void HttpGet(const std::string &, std::string &, int, HttpGetStatus &status)
{
    status = HttpGetStatus();
}

} // namespace kelvora
