#include "directory/core/program.h"

#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <optional>
#include <thread>

#include "directory/core/server.h"
#include "text/host.h"

namespace kelvora::directory {

namespace {

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
    // Port 0 lets the system pick one.
    const std::optional<int> parsed = ParsePort(std::string_view(text).substr(colon + 1), PortZero::Allowed);
    if (!parsed)
        return false;
    port = *parsed;
    address = text.substr(0, colon);
    return true;
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
