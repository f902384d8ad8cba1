#include "directory/server.h"

#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <iostream>
#include <thread>

#include "directory/pages.h"
#include "directory/service.h"

namespace kelvora::directory {

namespace {

// A connection that sends or takes nothing for this long is closed.
constexpr time_t kReadTimeoutSeconds = 5;
constexpr time_t kWriteTimeoutSeconds = 5;
constexpr time_t kKeepAliveTimeoutSeconds = 5;
constexpr std::size_t kKeepAliveMaxRequests = 1000;
// GET requests carry no body worth reading.
constexpr std::size_t kMaxPayload = 64 * 1024;
// Enough workers for every connection of a busy client to be served at once,
// since a kept-alive connection holds its worker.
constexpr std::size_t kWorkerThreads = 96;
// Connections waiting to be accepted; the library asks for only 5, so a
// burst of clients would see dropped handshakes and a second's retry.
constexpr int kListenBacklog = 1024;
constexpr auto kStartTimeout = std::chrono::seconds(5);
constexpr auto kStartPoll = std::chrono::milliseconds(2);

const char *ReasonOf(int status)
{
    switch (status) {
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 500: return "Internal Server Error";
    default: return "Error";
    }
}

} // namespace

struct DirectoryServer::Impl {
    explicit Impl(Responder responderToUse)
        : responder(std::move(responderToUse))
    {
    }

    Responder responder;
    httplib::Server server;
    std::thread thread;
    int port = 0;
    int listeningSocket = -1;
};

DirectoryServer::DirectoryServer(const Store &store)
    : DirectoryServer([&store](std::string_view path, std::string_view query, std::string_view hostLine) {
        return Respond(store, path, query, hostLine);
    })
{
}

DirectoryServer::DirectoryServer(Responder responder)
    : m_impl(std::make_unique<Impl>(std::move(responder)))
{
    httplib::Server &server = m_impl->server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    server.set_read_timeout(kReadTimeoutSeconds);
    server.set_write_timeout(kWriteTimeoutSeconds);
    server.set_keep_alive_timeout(kKeepAliveTimeoutSeconds);
    server.set_keep_alive_max_count(kKeepAliveMaxRequests);
    server.set_payload_max_length(kMaxPayload);
    // Without SO_REUSEPORT, which the library sets by default, a second
    // directory on the same port fails to bind instead of sharing it.
    // Accepted connections inherit TCP_NODELAY: headers and body go out in
    // separate writes, and on a kept-alive connection the body would
    // otherwise wait for the client's delayed acknowledgement (40 ms).
    Impl *impl = m_impl.get();
    server.set_socket_options([impl](socket_t socket) {
        impl->listeningSocket = socket;
        int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof(yes));
    });

    const Responder *served = &impl->responder;
    server.set_pre_routing_handler([served](const httplib::Request &request,
                                            httplib::Response &response) {
        if (request.method != "GET" && request.method != "HEAD") {
            response.status = 405;
            response.set_header("Allow", "GET, HEAD");
            response.set_content(RenderErrorPage(405, ReasonOf(405)), "text/html; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }
        const std::string &target = request.target;
        const std::size_t question = target.find('?');
        const std::string_view query =
            question == std::string::npos ? std::string_view()
                                          : std::string_view(target).substr(question + 1);
        try {
            Reply reply = (*served)(request.path, query, request.get_header_value("Host"));
            response.status = reply.status;
            response.set_content(std::move(reply.body), "text/html; charset=utf-8");
        } catch (const std::exception &error) {
            std::cerr << "kelvora-directory: " << request.path << ": " << error.what() << '\n';
            response.status = 500;
            response.set_content(RenderErrorPage(500, ReasonOf(500)), "text/html; charset=utf-8");
        }
        return httplib::Server::HandlerResponse::Handled;
    });
    // The library refuses a target with a second "?", yet the program sends
    // keywords and addresses unencoded, so "what?" reaches us that way. Such
    // a request line is answered here from its raw target; its headers were
    // never read, so the connection is closed after the answer.
    server.set_error_handler([served](const httplib::Request &request, httplib::Response &response) {
        const std::string &target = request.target;
        const std::size_t question = target.find('?');
        if (response.status == 400 && (request.method == "GET" || request.method == "HEAD") &&
            !target.empty() && target.front() == '/' && question != std::string::npos &&
            target.find('?', question + 1) != std::string::npos) {
            try {
                Reply reply = (*served)(std::string_view(target).substr(0, question),
                                        std::string_view(target).substr(question + 1), "");
                response.status = reply.status;
                response.set_header("Connection", "close");
                response.set_content(std::move(reply.body), "text/html; charset=utf-8");
                return;
            } catch (const std::exception &error) {
                std::cerr << "kelvora-directory: " << target << ": " << error.what() << '\n';
                response.status = 500;
            }
        }
        // Errors the library answers itself (malformed requests, oversized
        // headers) get a short page too.
        if (response.body.empty())
            response.set_content(RenderErrorPage(response.status, ReasonOf(response.status)),
                                 "text/html; charset=utf-8");
    });
}

DirectoryServer::~DirectoryServer()
{
    Stop();
}

bool DirectoryServer::Bind(const std::string &address, int port, std::string &error)
{
    if (port == 0) {
        m_impl->port = m_impl->server.bind_to_any_port(address);
    } else if (m_impl->server.bind_to_port(address, port)) {
        m_impl->port = port;
    } else {
        m_impl->port = -1;
    }
    if (m_impl->port <= 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) +
                " (address in use or not available)";
        return false;
    }
    // Listening again on a listening socket only changes its backlog.
    if (m_impl->listeningSocket >= 0)
        ::listen(m_impl->listeningSocket, kListenBacklog);
    return true;
}

int DirectoryServer::Port() const
{
    return m_impl->port;
}

void DirectoryServer::Serve()
{
    m_impl->server.listen_after_bind();
}

bool DirectoryServer::ServeInBackground(std::string &error)
{
    m_impl->thread = std::thread([this] { Serve(); });
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (!m_impl->server.is_running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            error = "the server did not start";
            return false;
        }
        std::this_thread::sleep_for(kStartPoll);
    }
    return true;
}

void DirectoryServer::Stop()
{
    m_impl->server.stop();
    if (m_impl->thread.joinable())
        m_impl->thread.join();
}

} // namespace kelvora::directory
