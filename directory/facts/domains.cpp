#include "directory/facts/domains.h"

#include <libpsl.h>

#include "directory/core/query.h"
#include "text/host.h"

namespace kelvora::directory::facts {

std::string FactsKey(std::string_view host)
{
    std::string name = HostName(host, WwwPrefix::DroppedWhileDotRemains);
    if (!IsStorableHost(name))
        return {};
    return name;
}

std::string RegistrableDomain(std::string_view key)
{
    if (!IsStorableHost(key))
        return {};
    // psl_builtin() is a static table: no allocation, safe from any thread.
    const std::string name(key);
    const char *domain = psl_registrable_domain(psl_builtin(), name.c_str());
    return domain ? std::string(domain) : std::string();
}

std::vector<std::string> LookupNames(std::string_view host)
{
    std::vector<std::string> names;
    std::string key = FactsKey(host);
    if (key.empty())
        return names;
    std::string domain = RegistrableDomain(key);
    names.push_back(std::move(key));
    if (!domain.empty() && domain != names.front())
        names.push_back(std::move(domain));
    return names;
}

bool SameRegistrableDomain(std::string_view first, std::string_view second)
{
    const std::string firstKey = FactsKey(first);
    const std::string secondKey = FactsKey(second);
    if (firstKey.empty() || secondKey.empty())
        return false;
    if (firstKey == secondKey)
        return true;
    const std::string firstDomain = RegistrableDomain(firstKey);
    return !firstDomain.empty() && firstDomain == RegistrableDomain(secondKey);
}

} // namespace kelvora::directory::facts
