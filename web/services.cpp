#include "web/services.h"

#include "web/text.h"

#include <cstdlib>

namespace kelvora {

namespace {

constexpr const char *defaultServiceHost = "127.0.0.1:8355";

std::string HostFromEnvironment(const char *name)
{
    const char *value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        return defaultServiceHost;
    return value;
}

} // namespace

std::string SearchHost()
{
    return HostFromEnvironment("KELVORA_SEARCH_HOST");
}

std::string TrafficHost()
{
    return HostFromEnvironment("KELVORA_TRAFFIC_HOST");
}

std::string EncodeQueryValue(std::string value)
{
    value = ReplaceAllIgnoreCase(std::move(value), " ", "%20");
    value = ReplaceAllIgnoreCase(std::move(value), ":", "%3A");
    return ReplaceAllIgnoreCase(std::move(value), "/", "%2F");
}

std::string BacklinkSearchUrl(const std::string &target)
{
    return "http://" + SearchHost() + "/search?p=" + EncodeQueryValue("link:http://" + target);
}

} // namespace kelvora
