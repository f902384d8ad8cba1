#pragma once

#include <string>

// What the kelvora-directory program's modes share: its name and exit codes
// and the listen option.
namespace kelvora::directory {

constexpr const char *kProgramName = "kelvora-directory";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char *kDefaultListenAddress = "127.0.0.1";
constexpr int kDefaultListenPort = 8355;

// "ADDR:PORT" split at its last ":" (so "::1:80" is ::1 and 80): a non-empty
// address and a port of at most five digits up to 65535; false for anything
// else.
bool ParseListen(const std::string &text, std::string &address, int &port);

} // namespace kelvora::directory
