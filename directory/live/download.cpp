#include "directory/live/download.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "directory/live/address.h"
#include "directory/live/extra_ca.h"
#include "directory/live/text.h"

namespace kelvora::directory::live {

namespace {

// The wait for network activity while the reader wants bytes.
constexpr int kPollIntervalMs = 200;
constexpr std::string_view kProxyVariables[] = {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy",
                                                "ALL_PROXY"};

bool ProxyConfigured()
{
    for (std::string_view name : kProxyVariables) {
        const char *value = std::getenv(std::string(name).c_str());
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

std::string AddressText(const sockaddr *address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, text, sizeof text);
    else if (address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr, text, sizeof text);
    return text;
}

} // namespace

struct Download::Impl {
    DownloadRequest request;
    CURL *easy = nullptr;
    CURLM *multi = nullptr;
    curl_slist *headers = nullptr;
    curl_slist *connectTo = nullptr;
    curl_slist *resolve = nullptr;
    std::vector<X509 *> extraCertificates;

    // Private addresses a --connect-to rule names; a rule naming a host
    // rather than an address allows any, as does a proxy the user set.
    std::set<std::string> allowedAddresses;
    bool allowAnyAddress = false;
    std::string refusal;

    std::string buffer;
    std::size_t offset = 0;
    bool paused = false;
    bool started = false;
    bool done = false;
    CURLcode result = CURLE_OK;
    char error[CURL_ERROR_SIZE] = {};

    DownloadHead head;
    bool headComplete = false;
    long pendingStatus = 0;       // of the head being read
    bool pendingLocation = false;

    ~Impl()
    {
        if (multi != nullptr && easy != nullptr)
            curl_multi_remove_handle(multi, easy);
        if (easy != nullptr)
            curl_easy_cleanup(easy);
        if (multi != nullptr)
            curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
        curl_slist_free_all(connectTo);
        curl_slist_free_all(resolve);
        for (X509 *certificate : extraCertificates)
            X509_free(certificate);
    }

    std::size_t Available() const { return buffer.size() - offset; }

    void CompleteHead()
    {
        headComplete = true;
        head.status = pendingStatus;
        curl_off_t length = -1;
        if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0)
            head.length = static_cast<std::uint64_t>(length);
        char *effective = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
        head.finalUrl = effective != nullptr ? effective : request.url;
    }

    // Each head line, of every answer on the way (1xx, redirects, the final
    // one); the final head is the first that is neither.
    static std::size_t Header(char *data, std::size_t size, std::size_t count, void *user)
    {
        auto *impl = static_cast<Impl *>(user);
        const std::size_t bytes = size * count;
        std::string_view line(data, bytes);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        if (impl->headComplete)
            return bytes;   // trailers
        if (StartsWithIgnoreCase(line, "HTTP/")) {
            const std::size_t space = line.find(' ');
            impl->pendingStatus = 0;
            impl->pendingLocation = false;
            impl->head.etag.clear();
            impl->head.lastModified.clear();
            impl->head.retryAfter.clear();
            if (space != std::string_view::npos && line.size() >= space + 4)
                impl->pendingStatus = std::strtol(std::string(line.substr(space + 1, 3)).c_str(), nullptr, 10);
            return bytes;
        }
        if (line.empty()) {
            const bool interim = impl->pendingStatus >= 100 && impl->pendingStatus < 200;
            const bool followed = impl->pendingStatus >= 300 && impl->pendingStatus < 400 && impl->pendingLocation;
            if (!interim && !followed)
                impl->CompleteHead();
            return bytes;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return bytes;
        const std::string_view name = line.substr(0, colon);
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        if (EqualsIgnoreCase(name, "ETag"))
            impl->head.etag = std::string(value);
        else if (EqualsIgnoreCase(name, "Last-Modified"))
            impl->head.lastModified = std::string(value);
        else if (EqualsIgnoreCase(name, "Retry-After"))
            impl->head.retryAfter = std::string(value);
        else if (EqualsIgnoreCase(name, "Location"))
            impl->pendingLocation = true;
        return bytes;
    }

    // Holds at most about kDownloadBufferBytes; beyond, the transfer pauses
    // until the reader has taken them.
    static std::size_t Write(char *data, std::size_t size, std::size_t count, void *user)
    {
        auto *impl = static_cast<Impl *>(user);
        if (!impl->headComplete)
            impl->CompleteHead();
        if (impl->Available() >= kDownloadBufferBytes) {
            impl->paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (impl->offset > 0 && impl->offset == impl->buffer.size()) {
            impl->buffer.clear();
            impl->offset = 0;
        }
        impl->buffer.append(data, size * count);
        return size * count;
    }

    static curl_socket_t OpenSocket(void *user, curlsocktype, curl_sockaddr *address)
    {
        auto *impl = static_cast<Impl *>(user);
        if (!impl->allowAnyAddress && !IsPublicAddress(&address->addr) &&
            impl->allowedAddresses.count(AddressText(&address->addr)) == 0) {
            impl->refusal = "refused: " + AddressText(&address->addr) + " is not a public address";
            return CURL_SOCKET_BAD;
        }
        return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    }

    static CURLcode AddExtraCertificates(CURL *, void *context, void *user)
    {
        auto *certificates = static_cast<std::vector<X509 *> *>(user);
        X509_STORE *store = SSL_CTX_get_cert_store(static_cast<SSL_CTX *>(context));
        for (X509 *certificate : *certificates)
            X509_STORE_add_cert(store, certificate);
        ERR_clear_error();
        return CURLE_OK;
    }
};

Download::Download(const NetworkConfig &config, DownloadRequest request)
    : m_impl(std::make_unique<Impl>())
{
    InitialiseCurlOnce();
    Impl &impl = *m_impl;
    impl.request = std::move(request);
    const std::optional<UrlParts> parts = SplitUrl(impl.request.url);
    if (!parts)
        throw DownloadError("not an http or https address: " + impl.request.url);
    if (!MayContact(parts->host, parts->port, config.connectTo)) {
        impl.refusal = "refused: " + parts->host + " is not a public address";
        impl.done = true;
        impl.result = CURLE_COULDNT_CONNECT;
        return;
    }
    if (!config.extraCaFile.empty()) {
        try {
            impl.extraCertificates = LoadCaCertificates(config.extraCaFile);
        } catch (const std::runtime_error &error) {
            throw DownloadError(error.what());
        }
    }
    impl.allowAnyAddress = ProxyConfigured();
    for (const ConnectToRule &rule : config.connectTo) {
        impl.connectTo = curl_slist_append(impl.connectTo, rule.text.c_str());
        std::string target = rule.toHost;
        if (target.size() >= 2 && target.front() == '[' && target.back() == ']')
            target = target.substr(1, target.size() - 2);
        if (LiteralIsPublic(target).has_value())
            impl.allowedAddresses.insert(target);
        else if (!target.empty())
            impl.allowAnyAddress = true;
    }
    for (const std::string &entry : config.resolve)
        impl.resolve = curl_slist_append(impl.resolve, entry.c_str());
    for (const std::string &header : impl.request.headers)
        impl.headers = curl_slist_append(impl.headers, header.c_str());

    impl.easy = curl_easy_init();
    impl.multi = curl_multi_init();
    if (impl.easy == nullptr || impl.multi == nullptr)
        throw DownloadError("cannot start libcurl");
    CURL *easy = impl.easy;
    curl_easy_setopt(easy, CURLOPT_URL, impl.request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxDownloadRedirects);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, std::string(kUserAgent).c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, impl.headers);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kConnectTimeLimit.count()));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kStallBytesPerSecond);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(kStallTime.count()));
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::Header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &impl);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::Write);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &impl);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &Impl::OpenSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &impl);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, impl.error);
    if (impl.connectTo != nullptr)
        curl_easy_setopt(easy, CURLOPT_CONNECT_TO, impl.connectTo);
    if (impl.resolve != nullptr)
        curl_easy_setopt(easy, CURLOPT_RESOLVE, impl.resolve);
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    if (!config.caBundle.empty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, config.caBundle.c_str());
    if (!impl.extraCertificates.empty()) {
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Impl::AddExtraCertificates);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &impl.extraCertificates);
    }
}

Download::~Download() = default;

void Download::Pump()
{
    Impl &impl = *m_impl;
    if (!impl.started) {
        impl.started = true;
        if (curl_multi_add_handle(impl.multi, impl.easy) != CURLM_OK) {
            impl.done = true;
            impl.result = CURLE_FAILED_INIT;
            return;
        }
    }
    int running = 0;
    curl_multi_perform(impl.multi, &running);
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(impl.multi, &left)) {
        if (message->msg == CURLMSG_DONE) {
            impl.done = true;
            impl.result = message->data.result;
        }
    }
    if (!impl.done && impl.Available() == 0 && !impl.paused)
        curl_multi_poll(impl.multi, nullptr, 0, kPollIntervalMs, nullptr);
}

void Download::Fail()
{
    const Impl &impl = *m_impl;
    if (!impl.refusal.empty())
        throw DownloadError(impl.refusal);
    std::string reason = impl.result == CURLE_PARTIAL_FILE ? "the answer was cut short"
                         : impl.result == CURLE_OPERATION_TIMEDOUT
                             ? "the transfer stalled or timed out"
                             : curl_easy_strerror(impl.result);
    if (impl.error[0] != '\0')
        reason += std::string(" (") + impl.error + ")";
    throw DownloadError(reason);
}

const DownloadHead &Download::Head()
{
    Impl &impl = *m_impl;
    while (!impl.headComplete) {
        if (impl.done) {
            if (impl.result != CURLE_OK || impl.pendingStatus == 0)
                Fail();
            impl.CompleteHead();
            break;
        }
        Pump();
    }
    return impl.head;
}

std::size_t Download::Read(char *data, std::size_t size)
{
    Head();
    Impl &impl = *m_impl;
    while (impl.Available() == 0) {
        if (impl.paused) {
            impl.paused = false;
            curl_easy_pause(impl.easy, CURLPAUSE_CONT);
            continue;
        }
        if (impl.done) {
            if (impl.result != CURLE_OK)
                Fail();
            return 0;
        }
        Pump();
    }
    const std::size_t count = std::min(size, impl.Available());
    std::memcpy(data, impl.buffer.data() + impl.offset, count);
    impl.offset += count;
    m_received += count;
    return count;
}

} // namespace kelvora::directory::live
