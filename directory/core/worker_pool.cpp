#include "directory/core/worker_pool.h"

namespace kelvora::directory {

WorkerPool::WorkerPool(std::size_t threads, std::size_t maxQueued)
    : m_maxQueued(maxQueued)
{
    m_threads.reserve(threads);
    try {
        for (std::size_t i = 0; i < threads; ++i)
            m_threads.emplace_back([this] { Run(); });
    } catch (...) {
        Stop();
        throw;
    }
}

WorkerPool::~WorkerPool()
{
    Stop();
}

bool WorkerPool::TrySubmit(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping || m_queue.size() >= m_maxQueued)
            return false;
        m_queue.push_back(std::move(job));
    }
    m_ready.notify_one();
    return true;
}

void WorkerPool::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_ready.notify_all();
    for (std::thread &thread : m_threads) {
        if (thread.joinable())
            thread.join();
    }
    m_threads.clear();
}

void WorkerPool::Run()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        try {
            job();
        } catch (...) {
            // A failing job must not take its worker with it.
        }
    }
}

} // namespace kelvora::directory
