#include "tests/facts/list_publisher.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>

#include "tests/live/test_pki.h"

namespace kelvora::directory::facts::testing {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(5);

} // namespace

struct ListPublisher::Server {
    explicit Server(const live::testing::TestPki &pki)
        : tls(pki.server.certificate.c_str(), pki.server.key.c_str())
    {
    }

    httplib::SSLServer tls;
    int port = 0;
    std::thread thread;
};

const std::vector<std::string> &PublisherHosts()
{
    static const std::vector<std::string> hosts = {"tranco-list.eu", "downloads.majestic.com",
                                                   "data.commoncrawl.org"};
    return hosts;
}

ListPublisher::ListPublisher()
    : m_server(std::make_unique<Server>(live::testing::SharedPki()))
{
    m_server->tls.Get(".*", [this](const httplib::Request &request, httplib::Response &response) {
        PublisherRequest seen;
        seen.host = request.get_header_value("Host");
        if (const std::size_t colon = seen.host.find(':'); colon != std::string::npos)
            seen.host.resize(colon);
        seen.path = request.path;
        seen.ifNoneMatch = request.get_header_value("If-None-Match");
        seen.ifModifiedSince = request.get_header_value("If-Modified-Since");
        PublishedFile file;
        PublisherFault fault = PublisherFault::None;
        bool found = false;
        std::optional<std::string> retryAfter;
        {
            const std::lock_guard lock(m_mutex);
            m_requests.push_back(seen);
            const auto limited = m_rateLimits.find(seen.host);
            if (limited != m_rateLimits.end() && limited->second.second > 0) {
                --limited->second.second;
                retryAfter = limited->second.first;
            }
            const auto published = m_files.find(seen.host + seen.path);
            found = published != m_files.end();
            if (found)
                file = published->second;
            const auto faulty = m_faults.find(seen.host);
            if (faulty != m_faults.end())
                fault = faulty->second;
        }
        if (retryAfter) {
            response.status = 429;
            response.set_header("Retry-After", *retryAfter);
            response.set_content("slow down", "text/plain");
            return;
        }
        if (fault == PublisherFault::ServerError) {
            response.status = 500;
            response.set_content("overloaded", "text/plain");
            return;
        }
        if (!found) {
            response.status = 404;
            response.set_content("no such file", "text/plain");
            return;
        }
        if (!file.etag.empty())
            response.set_header("ETag", file.etag);
        if (!file.lastModified.empty())
            response.set_header("Last-Modified", file.lastModified);
        const bool sameTag = !file.etag.empty() && seen.ifNoneMatch == file.etag;
        const bool sameDate =
            seen.ifNoneMatch.empty() && !file.lastModified.empty() && seen.ifModifiedSince == file.lastModified;
        if (sameTag || sameDate) {
            response.status = 304;
            return;
        }
        if (fault == PublisherFault::CutShort) {
            auto body = std::make_shared<std::string>(std::move(file.body));
            response.set_content_provider(body->size(), "application/octet-stream",
                                          [body](std::size_t offset, std::size_t, httplib::DataSink &sink) {
                                              if (offset > 0)
                                                  return false;   // the connection closes here
                                              sink.write(body->data(), body->size() / 2);
                                              return true;
                                          });
            return;
        }
        response.set_content(file.body, "application/octet-stream");
    });
    if (!m_server->tls.is_valid()) {
        std::fprintf(stderr, "list publisher: the TLS server did not take the test certificate\n");
        std::abort();
    }
    m_server->port = m_server->tls.bind_to_any_port("127.0.0.1");
    m_server->thread = std::thread([this] { m_server->tls.listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (!m_server->tls.is_running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "list publisher: the server did not start\n");
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

ListPublisher::~ListPublisher()
{
    m_server->tls.stop();
    m_server->thread.join();
}

void ListPublisher::Publish(const std::string &host, const std::string &path, PublishedFile file)
{
    const std::lock_guard lock(m_mutex);
    m_files[host + path] = std::move(file);
}

void ListPublisher::SetFault(const std::string &host, PublisherFault fault)
{
    const std::lock_guard lock(m_mutex);
    m_faults[host] = fault;
}

void ListPublisher::SetRateLimit(const std::string &host, const std::string &retryAfter, int times)
{
    const std::lock_guard lock(m_mutex);
    m_rateLimits[host] = {retryAfter, times};
}

std::vector<std::string> ListPublisher::Rules() const
{
    std::vector<std::string> rules;
    for (const std::string &host : PublisherHosts())
        rules.push_back(host + ":443:127.0.0.1:" + std::to_string(m_server->port));
    return rules;
}

std::vector<PublisherRequest> ListPublisher::Requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

} // namespace kelvora::directory::facts::testing
