#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace kelvora {

// The message pump the page readers and the row harvest call between their
// steps, a dozen times per row. Each pump costs a trip through the event
// dispatcher and the display connection, and most follow another by a few
// microseconds of parsing: on a fast network they were a third of the run.
//
// The first pump after a network call always runs, so input that arrived
// while the call waited is handled at the same step as ever (and a command
// pressed mid-run lands at the same row). A pump that follows the last one
// within kWindow, with no network call begun between, returns at once: only
// what arrived in that moment can be waiting, and the next pump takes it.
class CoalescedPump {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kWindow{2};

    // pump processes the waiting events; networkCalls counts the network
    // calls begun so far (HttpGetCalls); now is the clock, replaceable in tests.
    CoalescedPump(std::function<void()> pump, std::function<std::uint64_t()> networkCalls,
                  std::function<Clock::time_point()> now = &Clock::now);

    void operator()();

private:
    std::function<void()> m_pump;
    std::function<std::uint64_t()> m_networkCalls;
    std::function<Clock::time_point()> m_now;
    bool m_pumped = false;
    Clock::time_point m_lastPump;
    std::uint64_t m_callsAtLastPump = 0;
};

} // namespace kelvora
