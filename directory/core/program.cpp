#include "directory/core/program.h"

#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <thread>

#include "directory/core/server.h"

namespace kelvora::directory {

namespace {

constexpr int kMaxPort = 65535;
constexpr std::size_t kMaxPortDigits = 5;

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

} // namespace

bool ParseListen(const std::string &text, std::string &address, int &port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    const std::string portText = text.substr(colon + 1);
    if (portText.empty() || portText.size() > kMaxPortDigits ||
        portText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(portText);
    address = text.substr(0, colon);
    return port <= kMaxPort;
}

void BlockStopSignals()
{
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

// One Stop() is enough also when the signal comes before Serve() begins:
// the server then returns at once.
void ServeUntilSignalled(DirectoryServer &server, std::function<void()> onSignal)
{
    const sigset_t signals = StopSignals();
    std::thread stopper([&server, &signals, &onSignal] {
        int received = 0;
        sigwait(&signals, &received);
        if (onSignal)
            onSignal();
        server.Stop();
    });
    server.Serve();
    pthread_kill(stopper.native_handle(), SIGTERM);   // wakes it when no signal came
    stopper.join();
}

} // namespace kelvora::directory
