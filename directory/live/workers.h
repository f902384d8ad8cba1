#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A few threads for work that must not run on the network thread (parsing a
// fetched page can take a large part of a second) nor hold up the request
// that started it. Tasks run in the order posted.
namespace kelvora::directory::live {

class Workers final {
public:
    using Task = std::function<void()>;

    // threads: at least one; maxQueued: tasks waiting at most, further ones
    // are dropped (what is posted here is an optimisation, never a duty).
    Workers(std::size_t threads, std::size_t maxQueued);
    ~Workers();   // Stop()
    Workers(const Workers &) = delete;
    Workers &operator=(const Workers &) = delete;

    // False when the task was dropped: the queue is full or Stop() was called.
    bool Post(Task task);
    // Drops the waiting tasks, waits for the running ones and ends the
    // threads; later Post() calls do nothing. Called by the owner, never by
    // a task.
    void Stop();

private:
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
    std::size_t m_maxQueued;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace kelvora::directory::live
