#pragma once

#include <chrono>
#include <functional>

namespace kelvora::testsupport {

// Polls condition every few milliseconds until it holds (true) or limit
// passes (false), so a test waiting on another thread never hangs.
bool WaitFor(const std::function<bool()> &condition,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

} // namespace kelvora::testsupport
