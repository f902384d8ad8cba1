#pragma once

#include <functional>
#include <string>

// What the kelvora-directory program's modes share: its name and exit codes,
// the listen option, and serving until it is told to stop.
namespace kelvora::directory {

class DirectoryServer;

constexpr const char *kProgramName = "kelvora-directory";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char *kDefaultListenAddress = "127.0.0.1";
constexpr int kDefaultListenPort = 8355;

// "ADDR:PORT" split at its last ":" (so "::1:80" is ::1 and 80): a non-empty
// address and a port of at most five digits up to 65535; false for anything
// else.
bool ParseListen(const std::string &text, std::string &address, int &port);

// Blocks SIGINT and SIGTERM in the calling thread and ignores SIGPIPE. Call
// before any thread starts, so that every thread inherits the mask and only
// ServeUntilSignalled takes the signals.
void BlockStopSignals();

// Serves until SIGINT or SIGTERM (blocked by BlockStopSignals()). The signal
// is taken by a thread of ours, so the stop runs as ordinary code; onSignal
// runs there first (e.g. to end what the server's workers wait for).
void ServeUntilSignalled(DirectoryServer &server, std::function<void()> onSignal = {});

} // namespace kelvora::directory
