#include "directory/core/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <iostream>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "directory/core/http_request.h"
#include "directory/core/pages.h"
#include "directory/core/worker_pool.h"

namespace kelvora::directory {

namespace {

using Clock = std::chrono::steady_clock;

// Connections waiting to be accepted: a burst of clients must not see
// dropped handshakes and a second's retry.
constexpr int kListenBacklog = 1024;
// Descriptors kept free for the data set's connections and the responder's
// own work when the connection cap is derived from the descriptor limit.
constexpr rlim_t kReservedDescriptors = 512;
constexpr std::size_t kMinConnections = 16;
// Refused connections get their 503 while at most this many wait to close;
// beyond that they are closed without a word.
constexpr std::size_t kMaxRefusedConnections = 256;
// After the last answer the server stops sending and reads on for a while,
// so that unread request bytes cannot turn its close into a reset that
// destroys the answer in the client's receive buffer.
constexpr auto kLingerTime = std::chrono::milliseconds(1000);
// How often deadlines are checked.
constexpr auto kSweepInterval = std::chrono::milliseconds(50);
constexpr std::size_t kReceivePiece = 16 * 1024;
// Input held per connection: enough for a request with its largest body.
constexpr std::size_t kMaxBufferedInput = kMaxRequestHead + kMaxRequestBody + kReceivePiece;
constexpr int kMaxEvents = 256;
constexpr auto kStartTimeout = std::chrono::seconds(5);
constexpr auto kStartPoll = std::chrono::milliseconds(2);

// epoll tags of the two descriptors that are not connections.
constexpr std::uint64_t kListenTag = 1;
constexpr std::uint64_t kWakeTag = 2;
constexpr std::uint64_t kFirstConnectionId = 16;

struct Connection {
    enum class State {
        Reading,     // taking in a request (or idle between requests)
        Working,     // a worker answers; nothing is read meanwhile
        Writing,     // sending an answer
        Lingering,   // answered for the last time; draining until the close
    };

    int fd = -1;
    std::uint64_t id = 0;
    std::string peer;
    bool counted = true;   // holds a place under the caps (refused ones do not)
    State state = State::Reading;
    std::uint32_t interest = 0;

    std::string input;
    std::size_t scanned = 0;      // input searched for a head's end up to here
    bool lineFeedSeen = false;    // input holds the end of a request line
    std::size_t needed = 0;       // input size at which the request is complete
    bool requestStarted = false;
    bool peerClosed = false;
    std::size_t served = 0;

    std::string output;
    std::size_t sent = 0;
    bool closeAfterOutput = false;

    Clock::time_point deadline;
};

struct Finished {
    std::uint64_t id;
    std::string bytes;
    bool close;
};

void CloseDescriptor(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::string PeerAddress(const sockaddr_storage &address)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto *v4 = reinterpret_cast<const sockaddr_in *>(&address);
        ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    } else if (address.ss_family == AF_INET6) {
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&address);
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    }
    return text;
}

// The soft descriptor limit raised to the hard one: the connection caps,
// not a default of 1,024 descriptors, should decide how many clients fit.
rlim_t RaiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur;
}

} // namespace

struct DirectoryServer::Impl {
    explicit Impl(Responder responderToUse)
        : responder(std::move(responderToUse))
    {
    }
    ~Impl();

    bool Listen(const std::string &address, int port);
    void Loop();
    void Shutdown();

    void AcceptAll();
    void Refuse(int fd);
    void OnEvent(Connection &connection, std::uint32_t events);
    void ReadAvailable(Connection &connection);
    void ProcessInput(Connection &connection);
    bool TakeRequest(Connection &connection);
    bool HeadMayBeComplete(Connection &connection) const;
    void Dispatch(Connection &connection, Request request);
    Answer AnswerFor(const Connection &connection, bool close) const;
    void AnswerError(Connection &connection, int status, bool close, bool allow = false);
    void StartWriting(Connection &connection, std::string bytes, bool close);
    void Flush(Connection &connection);
    void Resume(std::uint64_t id);
    void StartLingering(Connection &connection);
    void TakeFinished();
    void Sweep();
    void SetInterest(Connection &connection, std::uint32_t events);
    void Close(std::uint64_t id);

    Responder responder;
    ServerLimits limits;
    std::size_t maxConnections = 0;
    int listenFd = -1;
    int epollFd = -1;
    int wakeFd = -1;
    int spareFd = -1;   // given up to accept and drop a client when out of descriptors
    int port = 0;

    std::atomic<bool> stopping{false};
    std::atomic<bool> running{false};
    std::thread thread;
    std::unique_ptr<WorkerPool> workers;

    std::unordered_map<std::uint64_t, std::unique_ptr<Connection>> connections;
    std::unordered_map<std::string, std::size_t> perAddress;
    std::size_t counted = 0;
    std::size_t refused = 0;
    std::uint64_t nextId = kFirstConnectionId;

    std::mutex finishedMutex;
    std::vector<Finished> finished;
};

DirectoryServer::Impl::~Impl()
{
    Shutdown();   // also when Serve() never ran
    CloseDescriptor(epollFd);
    CloseDescriptor(wakeFd);
    CloseDescriptor(spareFd);
}

bool DirectoryServer::Impl::Listen(const std::string &address, int requestedPort)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (::getaddrinfo(address.c_str(), std::to_string(requestedPort).c_str(), &hints, &found) != 0)
        return false;
    for (const addrinfo *candidate = found; candidate && listenFd < 0; candidate = candidate->ai_next) {
        const int fd = ::socket(candidate->ai_family, candidate->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                candidate->ai_protocol);
        if (fd < 0)
            continue;
        // SO_REUSEADDR only: a second directory on the same port must fail
        // to bind rather than share it.
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, candidate->ai_addr, candidate->ai_addrlen) == 0 && ::listen(fd, kListenBacklog) == 0) {
            listenFd = fd;
            break;
        }
        ::close(fd);
    }
    ::freeaddrinfo(found);
    if (listenFd < 0)
        return false;

    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(listenFd, reinterpret_cast<sockaddr *>(&bound), &length);
    port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                             : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);

    const rlim_t descriptors = RaiseDescriptorLimit();
    const rlim_t room = descriptors > kReservedDescriptors * 2 ? descriptors - kReservedDescriptors
                                                                : descriptors / 2;
    maxConnections = std::min<std::size_t>(limits.maxConnections, std::max<rlim_t>(kMinConnections, room));

    epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    spareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (epollFd < 0 || wakeFd < 0)
        return false;
    epoll_event listenEvent{EPOLLIN, {.u64 = kListenTag}};
    epoll_event wakeEvent{EPOLLIN, {.u64 = kWakeTag}};
    if (::epoll_ctl(epollFd, EPOLL_CTL_ADD, listenFd, &listenEvent) != 0 ||
        ::epoll_ctl(epollFd, EPOLL_CTL_ADD, wakeFd, &wakeEvent) != 0)
        return false;
    workers = std::make_unique<WorkerPool>(limits.workerThreads, limits.maxQueuedRequests);
    return true;
}

void DirectoryServer::Impl::Loop()
{
    running = true;
    std::vector<epoll_event> events(kMaxEvents);
    auto lastSweep = Clock::now();
    while (!stopping) {
        const int count = ::epoll_wait(epollFd, events.data(), kMaxEvents,
                                       static_cast<int>(kSweepInterval.count()));
        for (int i = 0; i < count && !stopping; ++i) {
            const std::uint64_t tag = events[i].data.u64;
            if (tag == kListenTag) {
                AcceptAll();
            } else if (tag == kWakeTag) {
                std::uint64_t ignored = 0;
                while (::read(wakeFd, &ignored, sizeof ignored) > 0) {
                }
                TakeFinished();
            } else if (const auto found = connections.find(tag); found != connections.end()) {
                OnEvent(*found->second, events[i].events);
            }
        }
        if (Clock::now() - lastSweep >= kSweepInterval) {
            Sweep();
            lastSweep = Clock::now();
        }
    }
    Shutdown();
}

void DirectoryServer::Impl::Shutdown()
{
    if (workers)
        workers->Stop();
    for (auto &entry : connections)
        CloseDescriptor(entry.second->fd);
    connections.clear();
    perAddress.clear();
    counted = 0;
    refused = 0;
    CloseDescriptor(listenFd);
    running = false;
}

void DirectoryServer::Impl::AcceptAll()
{
    for (;;) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr *>(&address), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if ((errno == EMFILE || errno == ENFILE) && spareFd >= 0) {
                // Out of descriptors: take the client in on the spare one and
                // drop it, or it would stay pending and wake the loop for ever.
                CloseDescriptor(spareFd);
                const int dropped = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
                if (dropped >= 0)
                    ::close(dropped);
                spareFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                continue;
            }
            return;   // EAGAIN, or an error the next wake-up retries
        }
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        const std::string peer = PeerAddress(address);
        const auto fromPeer = perAddress.find(peer);
        if (counted >= maxConnections ||
            (fromPeer != perAddress.end() && fromPeer->second >= limits.maxConnectionsPerAddress)) {
            Refuse(fd);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connection->id = nextId++;
        connection->peer = peer;
        connection->deadline = Clock::now() + limits.idleTimeout;
        Connection &added = *connection;
        epoll_event event{EPOLLIN | EPOLLRDHUP, {.u64 = added.id}};
        if (::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event) != 0) {
            ::close(fd);
            continue;
        }
        added.interest = event.events;
        ++perAddress[peer];
        ++counted;
        connections.emplace(added.id, std::move(connection));
    }
}

// Beyond the caps a client learns at once that it should come back later,
// instead of waiting in a queue of unknown length.
void DirectoryServer::Impl::Refuse(int fd)
{
    if (refused >= kMaxRefusedConnections) {
        ::close(fd);
        return;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    connection->id = nextId++;
    connection->counted = false;
    epoll_event event{0, {.u64 = connection->id}};
    if (::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event) != 0) {
        ::close(fd);
        return;
    }
    ++refused;
    Connection &added = *connection;
    connections.emplace(added.id, std::move(connection));
    AnswerError(added, 503, true);
}

void DirectoryServer::Impl::OnEvent(Connection &connection, std::uint32_t events)
{
    switch (connection.state) {
    case Connection::State::Reading:
    case Connection::State::Lingering:
        if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))
            ReadAvailable(connection);
        return;
    case Connection::State::Working:
        // Nothing is asked for while a worker answers: this is a reset.
        if (events & (EPOLLHUP | EPOLLERR))
            Close(connection.id);
        return;
    case Connection::State::Writing:
        if (events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) {
            const std::uint64_t id = connection.id;
            Flush(connection);
            Resume(id);
        }
        return;
    }
}

void DirectoryServer::Impl::ReadAvailable(Connection &connection)
{
    char piece[kReceivePiece];
    const bool lingering = connection.state == Connection::State::Lingering;
    // A client that keeps sending must not keep the loop from the others.
    std::size_t budget = kMaxBufferedInput;
    while (budget > 0 && (lingering || connection.input.size() < kMaxBufferedInput)) {
        const ssize_t received = ::recv(connection.fd, piece, sizeof piece, 0);
        if (received > 0) {
            budget -= std::min(budget, static_cast<std::size_t>(received));
            if (!lingering)
                connection.input.append(piece, static_cast<std::size_t>(received));
            continue;
        }
        if (received < 0 && errno == EINTR)
            continue;
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (received < 0 || lingering) {
            Close(connection.id);
            return;
        }
        connection.peerClosed = true;
        break;
    }
    if (!lingering)
        ProcessInput(connection);
}

// Cheap test before a full parse, so that a head arriving a byte at a time
// costs linear, not quadratic, time: looks for the blank line ending a head
// only in bytes not searched before.
bool DirectoryServer::Impl::HeadMayBeComplete(Connection &connection) const
{
    const std::string &input = connection.input;
    if (connection.needed > 0)
        return input.size() >= connection.needed;
    const std::size_t from = connection.scanned > 2 ? connection.scanned - 2 : 0;
    if (!connection.lineFeedSeen && input.find('\n', from) != std::string::npos)
        connection.lineFeedSeen = true;
    const bool headEnd = input.find("\n\n", from) != std::string::npos ||
                         input.find("\n\r\n", from) != std::string::npos;
    connection.scanned = input.size();
    return headEnd || input.size() > kMaxRequestHead ||
           (!connection.lineFeedSeen && input.size() > kMaxRequestLine);
}

// Answers the requests complete in the input, one at a time and in order;
// a request that goes to a worker ends the turn until its answer is out.
void DirectoryServer::Impl::ProcessInput(Connection &first)
{
    const std::uint64_t id = first.id;
    for (;;) {
        const auto found = connections.find(id);
        if (found == connections.end() || found->second->state != Connection::State::Reading)
            return;
        Connection &connection = *found->second;
        if (!TakeRequest(connection))
            return;
    }
}

// Frames and hands on one request; false when no more can be done now.
bool DirectoryServer::Impl::TakeRequest(Connection &connection)
{
    std::string &input = connection.input;
    if (!connection.requestStarted) {
        // Line breaks between requests are tolerated and carry no request.
        const std::size_t start = input.find_first_not_of("\r\n");
        input.erase(0, start == std::string::npos ? input.size() : start);
        if (!input.empty()) {
            connection.requestStarted = true;
            connection.deadline = Clock::now() + limits.requestDeadline;
        }
    }
    if (input.empty()) {
        if (connection.peerClosed)
            Close(connection.id);
        return false;
    }
    if (!HeadMayBeComplete(connection)) {
        // A client that stopped sending halfway gets no answer.
        if (connection.peerClosed)
            Close(connection.id);
        return false;
    }
    Request request;
    const RequestFraming framing = ParseRequest(input, request);
    switch (framing.kind) {
    case RequestFraming::Kind::Incomplete:
        connection.needed = framing.needed;
        if (connection.peerClosed)
            Close(connection.id);
        return false;
    case RequestFraming::Kind::Invalid:
        AnswerError(connection, framing.status, true);
        return false;
    case RequestFraming::Kind::Complete:
        break;
    }
    input.erase(0, framing.consumed);
    connection.scanned = 0;
    connection.lineFeedSeen = false;
    connection.needed = 0;
    connection.requestStarted = false;
    Dispatch(connection, std::move(request));
    return true;
}

void DirectoryServer::Impl::Dispatch(Connection &connection, Request request)
{
    ++connection.served;
    const bool close = !request.keepAlive || connection.served >= limits.maxRequestsPerConnection;
    if (request.method != "GET" && request.method != "HEAD") {
        AnswerError(connection, 405, close, true);
        return;
    }
    const std::uint64_t id = connection.id;
    auto job = [this, id, close, answer = AnswerFor(connection, close), request = std::move(request)]() mutable {
        answer.headOnly = request.method == "HEAD";
        try {
            Reply reply = responder(request.path, request.query, request.host);
            answer.status = reply.status;
            answer.body = std::move(reply.body);
            answer.contentType = std::move(reply.contentType);
        } catch (const std::exception &error) {
            std::cerr << "kelvora-directory: " << request.path << ": " << error.what() << '\n';
            answer.status = 500;
            answer.body = RenderErrorPage(500, ReasonPhrase(500));
        } catch (...) {
            answer.status = 500;
            answer.body = RenderErrorPage(500, ReasonPhrase(500));
        }
        std::string bytes = FormatAnswer(answer);
        {
            std::lock_guard lock(finishedMutex);
            finished.push_back({id, std::move(bytes), close});
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
    };
    connection.state = Connection::State::Working;
    SetInterest(connection, 0);
    if (!workers->TrySubmit(std::move(job)))
        AnswerError(connection, 503, true);
}

// An answer's connection handling: whether it closes, and what the
// Keep-Alive line offers when it does not.
Answer DirectoryServer::Impl::AnswerFor(const Connection &connection, bool close) const
{
    Answer answer;
    answer.close = close;
    answer.keepAliveSeconds =
        static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(limits.idleTimeout).count());
    answer.keepAliveLeft =
        limits.maxRequestsPerConnection - std::min(connection.served, limits.maxRequestsPerConnection);
    return answer;
}

void DirectoryServer::Impl::AnswerError(Connection &connection, int status, bool close, bool allow)
{
    Answer answer = AnswerFor(connection, close);
    answer.status = status;
    answer.body = RenderErrorPage(status, ReasonPhrase(status));
    answer.allowHeader = allow;
    StartWriting(connection, FormatAnswer(answer), close);
}

void DirectoryServer::Impl::StartWriting(Connection &connection, std::string bytes, bool close)
{
    connection.state = Connection::State::Writing;
    connection.output = std::move(bytes);
    connection.sent = 0;
    connection.closeAfterOutput = close;
    connection.deadline = Clock::now() + limits.writeTimeout;
    Flush(connection);
}

void DirectoryServer::Impl::Flush(Connection &connection)
{
    while (connection.sent < connection.output.size()) {
        const ssize_t sent = ::send(connection.fd, connection.output.data() + connection.sent,
                                    connection.output.size() - connection.sent, MSG_NOSIGNAL);
        if (sent > 0) {
            connection.sent += static_cast<std::size_t>(sent);
            connection.deadline = Clock::now() + limits.writeTimeout;
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            SetInterest(connection, EPOLLOUT);
            return;
        }
        Close(connection.id);
        return;
    }
    connection.output.clear();
    connection.output.shrink_to_fit();
    if (connection.closeAfterOutput) {
        StartLingering(connection);
        return;
    }
    connection.state = Connection::State::Reading;
    connection.deadline = Clock::now() + limits.idleTimeout;
    SetInterest(connection, EPOLLIN | EPOLLRDHUP);
}

// After an answer has gone out: requests that came in the meantime, or in
// the same packet, go next.
void DirectoryServer::Impl::Resume(std::uint64_t id)
{
    const auto found = connections.find(id);
    if (found != connections.end() && found->second->state == Connection::State::Reading)
        ProcessInput(*found->second);
}

void DirectoryServer::Impl::StartLingering(Connection &connection)
{
    ::shutdown(connection.fd, SHUT_WR);
    connection.state = Connection::State::Lingering;
    connection.input.clear();
    connection.input.shrink_to_fit();
    connection.deadline = Clock::now() + kLingerTime;
    SetInterest(connection, EPOLLIN | EPOLLRDHUP);
}

void DirectoryServer::Impl::TakeFinished()
{
    std::vector<Finished> taken;
    {
        std::lock_guard lock(finishedMutex);
        taken.swap(finished);
    }
    for (Finished &done : taken) {
        const auto found = connections.find(done.id);
        if (found == connections.end())
            continue;   // the client went away meanwhile
        StartWriting(*found->second, std::move(done.bytes), done.close);
        Resume(done.id);
    }
}

void DirectoryServer::Impl::Sweep()
{
    const auto now = Clock::now();
    std::vector<std::uint64_t> expired;
    for (const auto &[id, connection] : connections) {
        if (connection->state != Connection::State::Working && now >= connection->deadline)
            expired.push_back(id);
    }
    for (const std::uint64_t id : expired) {
        const auto found = connections.find(id);
        if (found == connections.end())
            continue;
        Connection &connection = *found->second;
        // A request begun and not finished in time is told so; an idle
        // connection, a stalled reader and a lingering close just end.
        if (connection.state == Connection::State::Reading && connection.requestStarted)
            AnswerError(connection, 408, true);
        else
            Close(id);
    }
}

void DirectoryServer::Impl::SetInterest(Connection &connection, std::uint32_t events)
{
    if (connection.interest == events)
        return;
    epoll_event event{events, {.u64 = connection.id}};
    ::epoll_ctl(epollFd, EPOLL_CTL_MOD, connection.fd, &event);
    connection.interest = events;
}

void DirectoryServer::Impl::Close(std::uint64_t id)
{
    const auto found = connections.find(id);
    if (found == connections.end())
        return;
    Connection &connection = *found->second;
    CloseDescriptor(connection.fd);   // also leaves the epoll set
    if (connection.counted) {
        --counted;
        const auto address = perAddress.find(connection.peer);
        if (address != perAddress.end() && --address->second == 0)
            perAddress.erase(address);
    } else {
        --refused;
    }
    connections.erase(found);
}

DirectoryServer::DirectoryServer(Backend &backend)
    : DirectoryServer([&backend](std::string_view path, std::string_view query, std::string_view hostLine) {
        return Route(backend, path, query, hostLine);
    })
{
}

DirectoryServer::DirectoryServer(Responder responder)
    : m_impl(std::make_unique<Impl>(std::move(responder)))
{
}

DirectoryServer::~DirectoryServer()
{
    Stop();
}

void DirectoryServer::SetLimits(const ServerLimits &limits)
{
    m_impl->limits = limits;
}

bool DirectoryServer::Bind(const std::string &address, int port, std::string &error)
{
    if (!m_impl->Listen(address, port)) {
        CloseDescriptor(m_impl->listenFd);
        m_impl->port = -1;
        error = "cannot listen on " + address + ":" + std::to_string(port) +
                " (address in use or not available)";
        return false;
    }
    return true;
}

int DirectoryServer::Port() const
{
    return m_impl->port;
}

void DirectoryServer::Serve()
{
    if (m_impl->listenFd < 0 || m_impl->stopping)
        return;
    m_impl->Loop();
}

bool DirectoryServer::ServeInBackground(std::string &error)
{
    if (m_impl->listenFd < 0) {
        error = "the server is not bound";
        return false;
    }
    m_impl->thread = std::thread([this] { Serve(); });
    const auto deadline = Clock::now() + kStartTimeout;
    while (!m_impl->running) {
        if (Clock::now() > deadline || m_impl->stopping) {
            error = "the server did not start";
            return false;
        }
        std::this_thread::sleep_for(kStartPoll);
    }
    return true;
}

void DirectoryServer::Stop()
{
    m_impl->stopping = true;
    if (m_impl->wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_impl->wakeFd, &one, sizeof one);
    }
    if (m_impl->thread.joinable() && m_impl->thread.get_id() != std::this_thread::get_id())
        m_impl->thread.join();
}

} // namespace kelvora::directory
