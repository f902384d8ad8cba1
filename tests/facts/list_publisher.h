#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A loopback HTTPS stand-in for the publishers of the open rank lists
// (tranco-list.eu, downloads.majestic.com, data.commoncrawl.org), with the
// test CA's certificate: files with ETag and Last-Modified, conditional
// answers, and the faults a download must survive.
namespace kelvora::directory::facts::testing {

struct PublishedFile {
    std::string body;
    std::string etag;           // empty: none sent
    std::string lastModified;   // an HTTP date; empty: none sent
};

enum class PublisherFault {
    None,
    CutShort,      // the whole Content-Length is declared, half the body sent
    ServerError,   // 500
};

struct PublisherRequest {
    std::string host;
    std::string path;
    std::string ifNoneMatch;
    std::string ifModifiedSince;
};

class ListPublisher final {
public:
    ListPublisher();
    ~ListPublisher();
    ListPublisher(const ListPublisher &) = delete;
    ListPublisher &operator=(const ListPublisher &) = delete;

    // Answers https://host/path with file; any other path is 404.
    void Publish(const std::string &host, const std::string &path, PublishedFile file);
    void SetFault(const std::string &host, PublisherFault fault);
    // The next times requests to host are answered 429 with this
    // Retry-After, before any fault or file.
    void SetRateLimit(const std::string &host, const std::string &retryAfter, int times);

    // --connect-to rules sending port 443 of the publishers' hosts here.
    std::vector<std::string> Rules() const;
    std::vector<PublisherRequest> Requests() const;

private:
    struct Server;

    mutable std::mutex m_mutex;
    std::map<std::string, PublishedFile> m_files;   // by host + path
    std::map<std::string, PublisherFault> m_faults;
    std::map<std::string, std::pair<std::string, int>> m_rateLimits;
    std::vector<PublisherRequest> m_requests;
    std::unique_ptr<Server> m_server;
};

// The publishers' host names, which the test certificate holds.
const std::vector<std::string> &PublisherHosts();

} // namespace kelvora::directory::facts::testing
