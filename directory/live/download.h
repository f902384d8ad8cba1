#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "directory/live/network.h"

// One long transfer whose body the caller reads as it arrives, for files far
// larger than the gateway's page limit (the open rank lists). It goes out as
// the gateway's fetches do: libcurl, the same --connect-to rules, extra CA
// and user agent, no private or special-use address unless a rule sends it
// there. Unlike the gateway it honours the proxy variables (http_proxy,
// https_proxy, no_proxy), since a user fetching files asks for it, and it
// has no whole-call time limit: a transfer ends when it stalls instead.
//
//   Download download(config, {"https://example.org/list.csv", {}});
//   if (download.Head().status == 200)
//       while (std::size_t count = download.Read(buffer, sizeof buffer)) ...
namespace kelvora::directory::live {

// A transfer slower than this many bytes a second for kStallTime ends.
constexpr long kStallBytesPerSecond = 1024;
constexpr std::chrono::seconds kStallTime{60};
// Redirects followed (publishers send their stable address on to a file).
constexpr long kMaxDownloadRedirects = 5;
// Bytes held between the network and the reader; the transfer pauses beyond.
constexpr std::size_t kDownloadBufferBytes = 1 << 20;

class DownloadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DownloadRequest {
    std::string url;                    // absolute http:// or https:// URL
    std::vector<std::string> headers;   // extra request lines, "Name: value"
};

// The final answer's status line and headers (after redirects).
struct DownloadHead {
    long status = 0;
    std::optional<std::uint64_t> length;   // Content-Length, when sent
    std::string etag;
    std::string lastModified;
    std::string retryAfter;   // of a 429 or 503: seconds or an HTTP date
    std::string finalUrl;
};

class Download final {
public:
    // Starts nothing yet; config's time limit and body limit do not apply.
    // Throws DownloadError when the extra CA file holds no certificate.
    Download(const NetworkConfig &config, DownloadRequest request);
    ~Download();
    Download(const Download &) = delete;
    Download &operator=(const Download &) = delete;

    // Waits for the final answer's head. Throws DownloadError when there is
    // no answer (connection, TLS, a refused address, too many redirects).
    const DownloadHead &Head();
    // Up to size bytes of the body; 0 at its end. Throws DownloadError when
    // the transfer breaks off or stalls, including a body shorter than its
    // Content-Length.
    std::size_t Read(char *data, std::size_t size);
    // Body bytes received so far.
    std::uint64_t Received() const { return m_received; }

private:
    struct Impl;

    void Pump();
    [[noreturn]] void Fail();

    std::unique_ptr<Impl> m_impl;
    std::uint64_t m_received = 0;
};

} // namespace kelvora::directory::live
