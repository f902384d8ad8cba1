#include "tests/support/wait_for.h"

#include <thread>

namespace kelvora::testsupport {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(5);

} // namespace

bool WaitFor(const std::function<bool()> &condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

} // namespace kelvora::testsupport
