#include "app/run_pump.h"

#include <utility>

namespace kelvora {

CoalescedPump::CoalescedPump(std::function<void()> pump, std::function<std::uint64_t()> networkCalls,
                             std::function<Clock::time_point()> now)
    : m_pump(std::move(pump)), m_networkCalls(std::move(networkCalls)), m_now(std::move(now))
{
}

void CoalescedPump::operator()()
{
    const std::uint64_t calls = m_networkCalls();
    if (m_pumped && calls == m_callsAtLastPump && m_now() - m_lastPump < kWindow)
        return;
    m_pump();
    // Timed from the pump's end: a pump that ran a long command (a dialog
    // shown mid-run) still leaves the next step its window.
    m_pumped = true;
    m_lastPump = m_now();
    m_callsAtLastPump = m_networkCalls();
}

} // namespace kelvora
