#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A fixed set of threads running jobs from a bounded queue. A full queue
// refuses a job at once, so a caller can answer "busy" instead of letting
// work pile up without limit.
namespace kelvora::directory {

class WorkerPool final {
public:
    WorkerPool(std::size_t threads, std::size_t maxQueued);
    ~WorkerPool();   // Stop()
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // False when maxQueued jobs already wait or the pool is stopping.
    bool TrySubmit(std::function<void()> job);
    // Drops the jobs not yet started and joins the threads once their
    // current jobs have ended.
    void Stop();

private:
    void Run();

    std::size_t m_maxQueued;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_queue;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace kelvora::directory
