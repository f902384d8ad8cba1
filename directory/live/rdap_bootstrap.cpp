#include "directory/live/rdap_bootstrap.h"

#include <libpsl.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "directory/core/query.h"
#include "directory/facts/domains.h"
#include "directory/live/rate_limit.h"
#include "directory/live/text.h"

namespace kelvora::directory::live {

namespace {

using Json = nlohmann::json;

constexpr int kMaxBootstrapDepth = 16;

std::string WithSlash(std::string url)
{
    if (url.empty() || url.back() != '/')
        url.push_back('/');
    return url;
}

// RDAP answers as the registries send them; kept as long as other facts.
constexpr std::chrono::seconds kRdapTimeToLive = std::chrono::hours(24 * 30);

} // namespace

std::string IcannRegistrableDomain(std::string_view host)
{
    const std::string key = facts::FactsKey(host);
    if (key.empty())
        return {};
    // The longest ICANN public suffix decides; the label before it makes the
    // registrable domain. libpsl's implicit "*" rule counts an unlisted
    // top-level name as a suffix, as registries do.
    std::size_t previous = std::string::npos;
    std::size_t at = 0;
    while (true) {
        const std::string suffix = key.substr(at);
        if (psl_is_public_suffix2(psl_builtin(), suffix.c_str(), PSL_TYPE_ICANN) != 0)
            return previous == std::string::npos ? std::string() : key.substr(previous);
        const std::size_t dot = key.find('.', at);
        if (dot == std::string::npos)
            return {};
        previous = at;
        at = dot + 1;
    }
}

RdapBootstrap RdapBootstrap::Parse(std::string_view json)
{
    RdapBootstrap bootstrap;
    if (json.size() > kMaxBootstrapBytes)
        return bootstrap;
    int depth = 0;
    bool tooDeep = false;
    const Json::parser_callback_t guard = [&depth, &tooDeep](int, Json::parse_event_t event, Json &) {
        if (event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start)
            tooDeep = tooDeep || ++depth > kMaxBootstrapDepth;
        else if (event == Json::parse_event_t::object_end || event == Json::parse_event_t::array_end)
            --depth;
        return !tooDeep;
    };
    const Json root = Json::parse(json.begin(), json.end(), guard, false);
    if (tooDeep || !root.is_object())
        return bootstrap;
    const auto services = root.find("services");
    if (services == root.end() || !services->is_array())
        return bootstrap;
    for (const Json &service : *services) {
        // [["com", "net"], ["https://rdap.example/", "http://rdap.example/"]]
        if (!service.is_array() || service.size() < 2 || !service[0].is_array() || !service[1].is_array())
            continue;
        std::string server;
        for (const Json &url : service[1]) {
            if (url.is_string() && StartsWithIgnoreCase(url.get_ref<const std::string &>(), "https://") &&
                SplitUrl(url.get_ref<const std::string &>())) {
                server = WithSlash(url.get<std::string>());
                break;
            }
        }
        if (server.empty())
            continue;
        for (const Json &suffix : service[0]) {
            if (suffix.is_string() && !suffix.get_ref<const std::string &>().empty())
                bootstrap.m_servers.emplace(LowerCase(suffix.get<std::string>()), server);
        }
    }
    return bootstrap;
}

std::string RdapBootstrap::ServerFor(std::string_view domain) const
{
    // Label by label from the whole name down to its top-level label: the
    // first listed is the longest match.
    std::string name = LowerCase(std::string(domain));
    std::size_t at = 0;
    while (at < name.size()) {
        const auto found = m_servers.find(name.substr(at));
        if (found != m_servers.end())
            return found->second;
        const std::size_t dot = name.find('.', at);
        if (dot == std::string::npos)
            break;
        at = dot + 1;
    }
    return {};
}

RdapLookup::RdapLookup(Fetcher &fetcher, HostPacer *pacer)
    : m_fetcher(fetcher)
    , m_pacer(pacer)
{
}

FetchRequest RdapLookup::BootstrapRequest()
{
    FetchRequest request;
    request.url = std::string(kRdapBootstrapUrl);
    request.headers.emplace_back("Accept: application/json");
    request.timeToLive = kRdapBootstrapTimeToLive;
    return request;
}

FetchRequest RdapLookup::DomainRequest(const std::string &base, const std::string &domain)
{
    FetchRequest request;
    request.url = base + "domain/" + domain;
    request.headers.emplace_back("Accept: application/rdap+json, application/json;q=0.9");
    request.timeToLive = kRdapTimeToLive;
    // A registry's answer that waits behind its pace is left out of the
    // page now and comes into the cache for a later one.
    request.whenHeld = HeldAnswer::NotKnownYet;
    return request;
}

FetchRequest RdapLookup::RequestFrom(const FetchResult &bootstrap, const std::string &domain)
{
    if (!bootstrap.Answered() || bootstrap.status != 200)
        return {};
    std::shared_ptr<const RdapBootstrap> parsed;
    {
        // IANA's file is read once per version, not once per site.
        const std::size_t hash = std::hash<std::string>{}(bootstrap.body);
        const std::lock_guard lock(m_mutex);
        if (!m_parsed || hash != m_parsedHash) {
            m_parsed = std::make_shared<const RdapBootstrap>(RdapBootstrap::Parse(bootstrap.body));
            m_parsedHash = hash;
        }
        parsed = m_parsed;
    }
    const std::string base = parsed->ServerFor(domain);
    if (base.empty())
        return {};
    FetchRequest request = DomainRequest(base, domain);
    if (m_pacer != nullptr) {
        if (const std::optional<UrlParts> parts = SplitUrl(request.url))
            m_pacer->SetLimitOnce(parts->host, PaceLimit{kRdapBurst, kRdapInterval});
    }
    return request;
}

std::shared_future<FetchResult> RdapLookup::Fetch(std::string_view host,
                                                  std::chrono::steady_clock::time_point deadline)
{
    const std::string domain = IcannRegistrableDomain(host);
    if (domain.empty())
        return {};
    const std::shared_future<FetchResult> bootstrap = m_fetcher.Fetch(BootstrapRequest());
    if (bootstrap.wait_until(deadline) != std::future_status::ready)
        return {};
    const FetchRequest request = RequestFrom(bootstrap.get(), domain);
    if (request.url.empty())
        return {};
    return m_fetcher.Fetch(request);
}

void RdapLookup::Warm(std::string_view host, std::uint64_t page)
{
    const std::string domain = IcannRegistrableDomain(host);
    if (domain.empty())
        return;
    FetchRequest bootstrap = BootstrapRequest();
    bootstrap.priority = TransferPriority::Prefetch;
    bootstrap.page = page;
    m_fetcher.Fetch(bootstrap, [this, domain, page](const FetchResult &answer) {
        FetchRequest request = RequestFrom(answer, domain);
        if (request.url.empty())
            return;
        request.page = page;
        m_fetcher.Warm(request);
    });
}

} // namespace kelvora::directory::live
