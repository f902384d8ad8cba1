#pragma once

#include <chrono>
#include <string>
#include <vector>

// A raw loopback client for the server tests: exact bytes out, exact bytes
// back, every wait bounded.
namespace kelvora::directory::testing {

class RawClient final {
public:
    // Connects to 127.0.0.1:port from source (another loopback address gives
    // another client address). Check Connected().
    explicit RawClient(int port, const char *source = "127.0.0.1");
    ~RawClient();
    RawClient(RawClient &&other) noexcept;
    RawClient &operator=(RawClient &&other) noexcept;
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool Connected() const { return m_fd >= 0; }
    int Descriptor() const { return m_fd; }
    bool Send(const std::string &bytes);
    void ShutdownSending();
    // Reads until count whole responses (Content-Length bodies; HEAD answers
    // when head is set) are in, the server closes, or limit passes.
    std::string ReadResponses(std::size_t count, std::chrono::milliseconds limit, bool head = false);
    // Reads until the server closes (true) or limit passes (false).
    bool ReadUntilClosed(std::string &received, std::chrono::milliseconds limit);
    // True once the server has closed; reads what is there without waiting.
    bool ClosedByServer(std::string &received);

private:
    int m_fd = -1;
};

// The responses in bytes, split at their Content-Length ends; a HEAD answer
// (head set) has no body. A trailing part that is not a whole response is left out.
std::vector<std::string> SplitResponses(const std::string &bytes, bool head = false);
std::string StatusLineOf(const std::string &response);
bool HasHeader(const std::string &response, const std::string &line);

} // namespace kelvora::directory::testing
