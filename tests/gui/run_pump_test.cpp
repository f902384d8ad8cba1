// When a run's pump processes events and when it returns at once.
#include "app/run_pump.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvora {
namespace {

using namespace std::chrono_literals;

// A script of what happens between pumps: 'p' asks for a pump, 'n' begins a
// network call, 't' lets 1 ms pass, 'u' lets 100 µs pass; 'P' asks for a pump
// that itself takes 5 ms and begins a network call (a command run inside it).
// The result has one letter per asked pump: 'y' it ran, '.' it returned.
struct Case {
    const char *name;
    const char *script;
    const char *pumped;
};

std::string play(const std::string &script)
{
    CoalescedPump::Clock::time_point now{};
    std::uint64_t calls = 0;
    std::string pumped;
    bool ran = false;
    bool inside = false;
    const auto work = [&] {
        ran = true;
        if (inside) {
            now += 5ms;
            ++calls;
        }
    };
    CoalescedPump pump(work, [&] { return calls; }, [&] { return now; });
    for (const char step : script) {
        switch (step) {
        case 'n': ++calls; break;
        case 't': now += 1ms; break;
        case 'u': now += 100us; break;
        case 'p':
        case 'P':
            ran = false;
            inside = step == 'P';
            pump();
            pumped += ran ? 'y' : '.';
            break;
        }
    }
    return pumped;
}

TEST(CoalescedPump, RunsAfterEveryNetworkCallAndSkipsQuickRepeats)
{
    const Case cases[] = {
        {"the first pump runs", "p", "y"},
        {"an immediate repeat returns", "ppp", "y.."},
        {"each network call earns one pump", "pnpnpp", "yyy."},
        {"one pump for several calls", "pnnnpp", "yy."},
        {"a harvest row: pumps around three fetches", "pupnpupupnpupnpupupp", "y.y..y.y..."},
        {"the window is two milliseconds", "ptptp", "y.y"},
        {"just under the window still returns", "puuuuuuuuuuuuuuuuuuup", "y."},
        {"a quiet stretch ends the window", "pttp", "yy"},
        {"the window runs from the pump's end", "Pp", "y."},
        {"calls inside a pump do not earn the next", "Pptp", "y.."},
        {"but the clock still does", "Pptttp", "y.y"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(play(c.script), c.pumped) << c.name << ": " << c.script;
}

} // namespace
} // namespace kelvora
