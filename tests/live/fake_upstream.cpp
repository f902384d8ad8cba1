#include "tests/live/fake_upstream.h"

#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tests/support/fake_service.h"

namespace kelvora::live::testing {

namespace {

constexpr int kBravePageSize = 20;
constexpr int kMarginaliaDefaultCount = 20;
// Enough workers that every request of a prefetch burst is answered at once.
constexpr std::size_t kWorkers = 48;
constexpr auto kStartTimeout = std::chrono::seconds(5);
constexpr int kListenBacklog = 1024;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

int IntParam(const UpstreamRequest &request, const std::string &name, int fallback)
{
    const std::string value = request.Param(name);
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos || value.size() > 6)
        return fallback;
    return std::stoi(value);
}

std::vector<Result> Slice(const std::vector<Result> &results, int start, int count)
{
    std::vector<Result> page;
    for (int i = start; i < start + count && i < static_cast<int>(results.size()); ++i)
        page.push_back(results[static_cast<std::size_t>(i)]);
    return page;
}

nlohmann::json Items(const std::vector<Result> &results, const char *snippetName)
{
    nlohmann::json items = nlohmann::json::array();
    for (const Result &result : results)
        items.push_back({{"url", result.url}, {"title", result.title}, {snippetName, result.snippet}});
    return items;
}

std::string DateFrom(std::uint32_t hash)
{
    char date[16];
    std::snprintf(date, sizeof date, "%04u-%02u-%02u", 1996 + hash % 25, 1 + (hash / 25) % 12,
                  1 + (hash / 300) % 28);
    return date;
}

std::string WithoutWww(const std::string &host)
{
    return host.rfind("www.", 0) == 0 ? host.substr(4) : host;
}

} // namespace

std::string UpstreamRequest::Header(const std::string &name) const
{
    for (const auto &[key, value] : headers) {
        if (Lower(key) == Lower(name))
            return value;
    }
    return {};
}

std::string UpstreamRequest::Param(const std::string &name) const
{
    const auto found = params.find(name);
    return found == params.end() ? std::string() : found->second;
}

struct FakeUpstream::Servers {
    Servers(const TestPki &pki)
        : tls(pki.server.certificate.c_str(), pki.server.key.c_str())
    {
    }

    httplib::SSLServer tls;
    httplib::Server plain;
    int tlsPort = 0;
    int plainPort = 0;
    int listening[2] = {-1, -1};
    std::thread tlsThread;
    std::thread plainThread;
};

FakeUpstream::FakeUpstream()
    : m_servers(std::make_unique<Servers>(SharedPki()))
{
    auto serve = [this](bool tls) {
        return [this, tls](const httplib::Request &request, httplib::Response &response) {
            UpstreamRequest seen;
            seen.tls = tls;
            seen.host = Lower(request.get_header_value("Host"));
            if (const std::size_t colon = seen.host.find(':'); colon != std::string::npos)
                seen.host.resize(colon);
            seen.target = request.target;
            seen.path = request.path;
            seen.params.insert(request.params.begin(), request.params.end());
            seen.headers.insert(request.headers.begin(), request.headers.end());
            {
                const std::lock_guard lock(m_mutex);
                m_requests.push_back(seen);
            }
            Track(seen.host, +1);
            const UpstreamAnswer answer = Answer(seen);
            Sleep(answer.delay);
            Track(seen.host, -1);
            response.status = answer.status;
            for (const auto &[name, value] : answer.headers)
                response.set_header(name.c_str(), value);
            response.set_content(answer.body, answer.contentType.c_str());
        };
    };
    for (httplib::Server *server : {static_cast<httplib::Server *>(&m_servers->tls), &m_servers->plain}) {
        server->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
        // Accepted connections inherit TCP_NODELAY: the library writes head
        // and body apart, and each answer would otherwise wait out the
        // client's delayed acknowledgement.
        server->set_socket_options([this, server](socket_t socket) {
            m_servers->listening[server == &m_servers->tls ? 0 : 1] = socket;
            int yes = 1;
            setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
            setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof(yes));
        });
        server->Get(".*", serve(server == &m_servers->tls));
    }
    if (!m_servers->tls.is_valid()) {
        std::fprintf(stderr, "fake upstream: the TLS server did not take the test certificate\n");
        std::abort();
    }
    m_servers->tlsPort = m_servers->tls.bind_to_any_port("127.0.0.1");
    m_servers->plainPort = m_servers->plain.bind_to_any_port("127.0.0.1");
    // The library listens with a backlog of 5: a prefetch burst would lose
    // handshakes and wait a second for their retry.
    for (const int socket : m_servers->listening)
        ::listen(socket, kListenBacklog);
    m_servers->tlsThread = std::thread([this] { m_servers->tls.listen_after_bind(); });
    m_servers->plainThread = std::thread([this] { m_servers->plain.listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (!m_servers->tls.is_running() || !m_servers->plain.is_running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "fake upstream: the servers did not start\n");
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

FakeUpstream::~FakeUpstream()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    m_servers->tls.stop();
    m_servers->plain.stop();
    m_servers->tlsThread.join();
    m_servers->plainThread.join();
}

int FakeUpstream::TlsPort() const
{
    return m_servers->tlsPort;
}

int FakeUpstream::PlainPort() const
{
    return m_servers->plainPort;
}

std::vector<std::string> FakeUpstream::Rules() const
{
    const std::string tls = "127.0.0.1:" + std::to_string(TlsPort());
    const std::string plain = "127.0.0.1:" + std::to_string(PlainPort());
    return {":443:" + tls, ":80:" + plain, ":8888:" + plain};
}

std::vector<std::string> FakeUpstream::RulesFor(const std::vector<std::string> &hosts) const
{
    std::vector<std::string> rules;
    std::vector<std::string> mapped = hosts;
    mapped.insert(mapped.end(), {kArchiveHost, kRdapHost, kRegistryHost, kBootstrapHost});
    for (const std::string &host : mapped) {
        for (const std::string &rule : Rules())
            rules.push_back(host + rule);
    }
    return rules;
}

void FakeUpstream::SetResults(const std::string &query, std::vector<Result> results, std::int64_t total)
{
    const std::lock_guard lock(m_mutex);
    m_results[query] = {std::move(results), total};
}

void FakeUpstream::SetHandler(const std::string &host, Handler handler)
{
    const std::lock_guard lock(m_mutex);
    m_handlers[host] = std::move(handler);
}

void FakeUpstream::SetDelay(std::chrono::milliseconds delay)
{
    const std::lock_guard lock(m_mutex);
    m_delay = delay;
}

std::vector<UpstreamRequest> FakeUpstream::Requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

std::optional<UpstreamRequest> FakeUpstream::FirstEngineRequest() const
{
    const std::lock_guard lock(m_mutex);
    const auto found = std::find_if(m_requests.begin(), m_requests.end(), [](const UpstreamRequest &request) {
        return request.host != kBootstrapHost;
    });
    if (found == m_requests.end())
        return std::nullopt;
    return *found;
}

std::size_t FakeUpstream::CountFor(const std::string &host, const std::string &path) const
{
    const std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(std::count_if(m_requests.begin(), m_requests.end(), [&](const UpstreamRequest &r) {
        return r.host == host && (path.empty() || r.path == path);
    }));
}

int FakeUpstream::MostAtOnce(const std::string &host) const
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_most.find(host);
    return found == m_most.end() ? 0 : found->second;
}

int FakeUpstream::MostAtOnceOverall() const
{
    const std::lock_guard lock(m_mutex);
    return m_mostOverall;
}

void FakeUpstream::Track(const std::string &host, int change)
{
    const std::lock_guard lock(m_mutex);
    const int now = m_running[host] += change;
    m_most[host] = std::max(m_most[host], now);
    m_runningOverall += change;
    m_mostOverall = std::max(m_mostOverall, m_runningOverall);
}

bool FakeUpstream::Sleep(std::chrono::milliseconds delay)
{
    std::unique_lock lock(m_mutex);
    return !m_stopped.wait_for(lock, delay, [this] { return m_stopping; });
}

UpstreamAnswer FakeUpstream::Answer(const UpstreamRequest &request)
{
    Handler handler;
    std::chrono::milliseconds delay;
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_handlers.find(request.host);
        if (found != m_handlers.end())
            handler = found->second;
        delay = m_delay;
    }
    UpstreamAnswer answer;
    if (handler) {
        answer = handler(request);
    } else if (request.host == "searx.test" || request.host == "api2.marginalia-search.com" ||
               request.host == "api.search.brave.com") {
        answer = EngineAnswer(request);
    } else if (request.host == kArchiveHost || request.host == kRdapHost || request.host == kRegistryHost ||
               request.host == kBootstrapHost) {
        answer = FactsAnswer(request);
    } else if (request.path == "/") {
        answer.body = HomePage(request.host);
    } else {
        answer.status = 404;
        answer.body = "<html><body>not here</body></html>";
    }
    answer.delay += delay;
    return answer;
}

UpstreamAnswer FakeUpstream::EngineAnswer(const UpstreamRequest &request)
{
    std::vector<Result> results;
    std::int64_t total = -1;
    {
        const std::lock_guard lock(m_mutex);
        const std::string query = request.host == "searx.test" || request.host == "api.search.brave.com"
                                      ? request.Param("q")
                                      : request.Param("query");
        const auto found = m_results.find(query);
        if (found != m_results.end()) {
            results = found->second.first;
            total = found->second.second;
        }
    }
    UpstreamAnswer answer;
    answer.contentType = "application/json";
    if (request.host == "searx.test") {
        const int page = std::max(1, IntParam(request, "pageno", 1));
        answer.body = SearxngJson(Slice(results, (page - 1) * kSearxngPageSize, kSearxngPageSize), total);
    } else if (request.host == "api2.marginalia-search.com") {
        const int count = IntParam(request, "count", kMarginaliaDefaultCount);
        const int page = std::max(1, IntParam(request, "page", 1));
        answer.body = MarginaliaJson(Slice(results, (page - 1) * count, count));
    } else {
        const int count = IntParam(request, "count", kBravePageSize);
        const int offset = IntParam(request, "offset", 0);
        const int start = offset * count;
        answer.body = BraveJson(Slice(results, start, count), start + count < static_cast<int>(results.size()));
    }
    return answer;
}

int FakeUpstream::OutboundFor(const std::string &host)
{
    return static_cast<int>(testsupport::StableHash(host) % 9) + 1;
}

std::string FakeUpstream::HomePage(const std::string &host)
{
    std::string page = "<html><head><title>Home of " + host + "</title></head><body>\n"
                       "<a href=\"/about.html\">about</a>\n";
    for (int i = 0; i < OutboundFor(host); ++i)
        page += "<a href=\"https://partner" + std::to_string(i) + ".example/\">partner</a>\n";
    return page + "</body></html>\n";
}

UpstreamAnswer FakeUpstream::FactsAnswer(const UpstreamRequest &request)
{
    UpstreamAnswer answer;
    answer.contentType = "application/json";
    const std::string domainPath = "/domain/";
    if (request.host == kBootstrapHost && request.path == "/rdap/dns.json") {
        answer.body = std::string(R"({"version": "1.0", "services": [[["test", "org", "com", "io"], ["http://)") +
                      kRegistryHost + "/\", \"https://" + kRegistryHost + "/\"]]]}";
    } else if (request.host == kArchiveHost && request.path == "/cdx/search/cdx") {
        answer.body = CdxJson(FirstCaptureFor(request.Param("url")));
    } else if (request.host == kRdapHost && request.path.rfind(domainPath, 0) == 0) {
        answer.status = 302;
        answer.headers.emplace_back("Location", std::string("https://") + kRegistryHost + request.path);
        answer.body = "{}";
    } else if (request.host == kRegistryHost && request.path.rfind(domainPath, 0) == 0) {
        const std::string domain = request.path.substr(domainPath.size());
        answer.contentType = "application/rdap+json";
        answer.body = RdapJson(domain, RegisteredFor(domain), kAbuseMail);
    } else {
        answer.status = 404;
        answer.body = "{\"errorCode\": 404}";
    }
    return answer;
}

std::string FakeUpstream::FirstCaptureFor(const std::string &host)
{
    return DateFrom(testsupport::StableHash("capture:" + WithoutWww(Lower(host))));
}

std::string FakeUpstream::RegisteredFor(const std::string &domain)
{
    return DateFrom(testsupport::StableHash("registered:" + Lower(domain)));
}

std::string FakeUpstream::CdxJson(const std::string &date)
{
    if (date.empty())
        return "[]";
    std::string timestamp;
    for (const char c : date) {
        if (c != '-')
            timestamp += c;
    }
    return R"([["timestamp"],[")" + timestamp + R"(120000"]])";
}

std::string FakeUpstream::RdapJson(const std::string &domain, const std::string &registered,
                                   const std::string &abuseMail)
{
    nlohmann::json abuse = {{"objectClassName", "entity"},
                            {"roles", {"abuse"}},
                            {"vcardArray", {"vcard", {{"version", nlohmann::json::object(), "text", "4.0"},
                                                      {"email", nlohmann::json::object(), "text", abuseMail}}}}};
    nlohmann::json registrar = {{"objectClassName", "entity"},
                                {"roles", {"registrar"}},
                                {"entities", {abuse}}};
    nlohmann::json json = {{"objectClassName", "domain"},
                           {"ldhName", domain},
                           {"events", {{{"eventAction", "registration"}, {"eventDate", registered + "T10:00:00Z"}},
                                       {{"eventAction", "expiration"}, {"eventDate", "2031-01-01T00:00:00Z"}}}},
                           {"entities", {registrar}}};
    return json.dump();
}

std::string FakeUpstream::SearxngJson(const std::vector<Result> &results, std::int64_t total)
{
    nlohmann::json json = {{"query", "q"}, {"results", Items(results, "content")}, {"answers", nlohmann::json::array()},
                           {"unresponsive_engines", nlohmann::json::array()}};
    if (total >= 0)
        json["number_of_results"] = total;
    return json.dump();
}

std::string FakeUpstream::MarginaliaJson(const std::vector<Result> &results)
{
    nlohmann::json json = {{"query", "q"}, {"license", "CC-BY-NC-SA 4.0"},
                           {"results", Items(results, "description")}};
    return json.dump();
}

std::string FakeUpstream::BraveJson(const std::vector<Result> &results, bool more)
{
    nlohmann::json json = {{"type", "search"},
                           {"query", {{"original", "q"}, {"more_results_available", more}}},
                           {"web", {{"type", "search"}, {"results", Items(results, "description")}}}};
    return json.dump();
}

} // namespace kelvora::live::testing
