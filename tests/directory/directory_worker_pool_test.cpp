// The bounded worker pool: order, refusal when full, and what Stop() ends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "directory/core/worker_pool.h"
#include "tests/support/wait_for.h"

using kelvora::directory::WorkerPool;
using kelvora::testsupport::WaitFor;
using namespace std::chrono_literals;

TEST(WorkerPool, RunsJobsInOrderRefusesWhatOverflowsAndStopsWithoutTheWaitingOnes)
{
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false;
    bool holding = false;
    std::vector<int> ran;
    WorkerPool pool(1, 2);
    const auto task = [&](int number) {
        return [&, number] {
            std::unique_lock lock(mutex);
            holding = true;
            changed.wait(lock, [&] { return release || number != 0; });
            ran.push_back(number);
        };
    };
    ASSERT_TRUE(pool.TrySubmit(task(0)));   // holds the one thread
    ASSERT_TRUE(WaitFor([&] {
        const std::lock_guard lock(mutex);
        return holding;
    }));
    EXPECT_TRUE(pool.TrySubmit(task(1)));
    EXPECT_TRUE(pool.TrySubmit(task(2)));
    EXPECT_FALSE(pool.TrySubmit(task(3)));   // two are waiting already
    {
        const std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    ASSERT_TRUE(WaitFor([&] {
        const std::lock_guard lock(mutex);
        return ran.size() == 3;
    }));
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));

    // Stop waits for the running task and drops the waiting ones.
    std::atomic<int> slowRan{0};
    std::atomic<bool> slowStarted{false};
    pool.TrySubmit([&] {
        slowStarted = true;
        std::this_thread::sleep_for(50ms);
        ++slowRan;
    });
    ASSERT_TRUE(WaitFor([&] { return slowStarted.load(); }));
    pool.TrySubmit([&] { ++slowRan; });
    pool.Stop();
    EXPECT_EQ(slowRan.load(), 1);
    EXPECT_FALSE(pool.TrySubmit([] {}));
}
