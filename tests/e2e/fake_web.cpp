#include "tests/e2e/fake_web.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "tests/support/fake_service.h"
#include "web/text.h"

namespace kelvora::e2e {

namespace {

constexpr const char *kBacklinkPrefix = "link%3Ahttp%3A%2F%2F";
constexpr const char *kTrafficPathPrefix = "/data/details/?url=";
constexpr int kLocalAnchors = 2;

std::string response(const std::string &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: "
           + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string notFound()
{
    return response("<html><body>not found</body></html>");
}

// Target and Host line of a request head.
void splitHead(const std::string &head, std::string &target, std::string &host)
{
    const std::size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const std::size_t first = line.find(' ');
    const std::size_t last = line.rfind(' ');
    if (first != std::string::npos && last > first)
        target = line.substr(first + 1, last - first - 1);
    const std::size_t hostAt = head.find("\r\nHost: ");
    if (hostAt != std::string::npos) {
        const std::size_t valueAt = hostAt + 8;
        host = head.substr(valueAt, head.find("\r\n", valueAt) - valueAt);
    }
}

std::string queryValue(const std::string &target)
{
    const std::size_t at = target.find("?p=");
    if (at == std::string::npos)
        return {};
    const std::size_t end = target.find('&', at);
    return target.substr(at + 3, end == std::string::npos ? std::string::npos : end - at - 3);
}

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The host name without any port.
std::string hostName(const std::string &hostLine)
{
    return hostLine.substr(0, hostLine.find(':'));
}

std::string trafficPage(const std::string &bareHost)
{
    const SiteFigures figures = FakeWeb::figuresFor(bareHost);
    std::string rank;
    for (std::size_t i = 0; i < figures.trafficRank.size(); ++i) {
        if (i == 2)
            rank += ",";
        rank += "<b>" + figures.trafficRank.substr(i, 1) + "</b>";
    }
    // Mixed letter case and CR LF line ends, as a real page has them.
    return "<HTML><HEAD><TITLE>Details for www." + bareHost + "</TITLE></HEAD>\r\n<BODY>\r\n"
           "<div class=\"rank\">Traffic Rank for " + bareHost + ": <a href=\"/r\">" + rank
           + "</a><br>\r\n</div>\r\n"
           "<p>Online Since: <b>" + figures.onlineSince + "</b></p>\r\n"
           "<h3>People who visit this page also visit:</h3><ol><li><a href=\"/data/details/?url="
           + figures.competitor + "\">" + figures.competitor + "</a> <span class=\"smallg\">"
           + figures.competitor + "</span></li>\r\n<li>another.test</li></ol>\r\n</BODY></HTML>\r\n";
}

std::string homePage(const std::string &bareHost)
{
    const SiteFigures figures = FakeWeb::figuresFor(bareHost);
    std::string body = "<html><head><title>" + bareHost + "</title></head><body>\n";
    for (int i = 0; i < kLocalAnchors; ++i)
        body += "<a href=\"/page" + std::to_string(i) + ".html\">page</a>\n";
    for (std::int32_t i = 0; i < figures.outbound; ++i)
        body += "<A HREF=\"http://partner" + std::to_string(i) + ".test/\">partner</A>\n";
    return body + "</body></html>\n";
}

} // namespace

FakeWeb::FakeWeb()
    : m_server(std::make_unique<testsupport::LoopbackServer>(
          [this](const std::string &head) { return answer(head); }))
{
}

FakeWeb::~FakeWeb() = default;

std::uint16_t FakeWeb::port() const
{
    return m_server->port();
}

void FakeWeb::routeEverything() const
{
    ::setenv("KELVORA_SEARCH_HOST", kSearchHost, 1);
    ::setenv("KELVORA_TRAFFIC_HOST", kTrafficHost, 1);
    const std::string resolve = "*=127.0.0.1:" + std::to_string(port());
    ::setenv("KELVORA_RESOLVE", resolve.c_str(), 1);
}

void FakeWeb::setResults(const std::string &queryValue, std::vector<std::string> hosts)
{
    const std::lock_guard lock(m_mutex);
    m_results[queryValue] = std::move(hosts);
}

void FakeWeb::setPopularityText(const std::string &bareHost, const std::string &text)
{
    const std::lock_guard lock(m_mutex);
    m_popularityText[bareHost] = text;
}

void FakeWeb::clearPopularityText(const std::string &bareHost)
{
    const std::lock_guard lock(m_mutex);
    m_popularityText.erase(bareHost);
}

void FakeWeb::setRequestHook(RequestHook hook)
{
    const std::lock_guard lock(m_mutex);
    m_hook = std::move(hook);
}

std::vector<std::string> FakeWeb::requestHeads() const
{
    return m_server->requests();
}

std::vector<std::string> FakeWeb::requestLines() const
{
    std::vector<std::string> lines;
    for (const std::string &head : m_server->requests())
        lines.push_back(head.substr(0, head.find("\r\n")));
    return lines;
}

std::vector<std::string> FakeWeb::defaultHosts()
{
    std::vector<std::string> hosts;
    for (int i = 1; i <= kDefaultResults; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "www.site%02d.test", i);
        hosts.emplace_back(name);
    }
    return hosts;
}

SiteFigures FakeWeb::figuresFor(const std::string &host)
{
    const std::string bare = BareHost(host);
    const std::uint32_t hash = testsupport::StableHash(bare);
    SiteFigures figures;
    figures.popularity = std::to_string(1000 + hash % 9000);
    figures.trafficRank = std::to_string(10000 + (hash / 9000) % 90000);
    figures.onlineSince = std::to_string(1 + hash % 28) + "-mar-" + std::to_string(1995 + hash % 25);
    figures.outbound = static_cast<std::int32_t>(hash % 6);
    figures.competitor = "rival-" + bare;
    return figures;
}

std::string FakeWeb::answer(const std::string &head)
{
    RequestHook hook;
    {
        const std::lock_guard lock(m_mutex);
        hook = m_hook;
    }
    if (hook)
        hook(head);

    std::string target;
    std::string hostLine;
    splitHead(head, target, hostLine);
    const std::string host = LowerCase(hostName(hostLine));

    if (host == kSearchHost && startsWith(target, "/search?")) {
        const std::string value = queryValue(target);
        std::vector<std::string> hosts;
        bool known = false;
        {
            const std::lock_guard lock(m_mutex);
            const auto found = m_results.find(value);
            if (found != m_results.end()) {
                hosts = found->second;
                known = true;
            }
        }
        if (known)
            return response(resultsPage(hosts));
        if (startsWith(value, kBacklinkPrefix))
            return response(backlinkPage(BareHost(value.substr(std::char_traits<char>::length(kBacklinkPrefix)))));
        if (startsWith(value, "%22"))
            return response(resultsPage(defaultHosts()));
        return notFound();
    }
    if (host == kTrafficHost && startsWith(target, kTrafficPathPrefix))
        return response(trafficPage(BareHost(target.substr(std::char_traits<char>::length(kTrafficPathPrefix)))));
    if (target == "/" && !host.empty())
        return response(homePage(BareHost(host)));
    return notFound();
}

std::string FakeWeb::resultsPage(const std::vector<std::string> &hosts) const
{
    std::string page = "<html><head><title>Search results</title></head><body>\n"
                       "<div id=\"top\"><ul><li><a href=\"/images\">Images</a></li></ul></div>\n"
                       "<p>Results 1 - " + std::to_string(hosts.size()) + " of about <b>"
                       + std::to_string(hosts.size() * 1000) + "</b> for the query</p>\n<ol>\n";
    int index = 0;
    for (const std::string &host : hosts) {
        ++index;
        page += "<li><div><a class=\"yschttl\" href=\"http://" + host + "/\"><b>Result</b> "
                + std::to_string(index) + "</a></div><div class=\"abstr\">About this site.</div>"
                "<span class=\"url\"><EM>" + host + "</EM>/</span></li>\n";
    }
    return page + "</ol>\n</body></html>\n";
}

std::string FakeWeb::backlinkPage(const std::string &bareHost) const
{
    const std::string digits = figuresFor(bareHost).popularity;
    std::string total = digits.substr(0, 1) + "," + digits.substr(1);
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_popularityText.find(bareHost);
        if (found != m_popularityText.end())
            total = found->second;
    }
    return "<html><body><p>Results 1 - 10 Of About <strong>" + total + "</strong> for link:"
           + bareHost + "</p><ol><li>a linking page</li></ol></body></html>\n";
}

} // namespace kelvora::e2e
