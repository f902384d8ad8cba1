#include "directory/live/workers.h"

#include <algorithm>

namespace kelvora::directory::live {

Workers::Workers(std::size_t threads, std::size_t maxQueued)
    : m_maxQueued(maxQueued)
{
    threads = std::max<std::size_t>(threads, 1);
    m_threads.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { Run(); });
}

Workers::~Workers()
{
    Stop();
}

bool Workers::Post(Task task)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping || m_tasks.size() >= m_maxQueued)
            return false;
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
    return true;
}

void Workers::Stop()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping && m_threads.empty())
            return;
        m_stopping = true;
        m_tasks.clear();
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
    m_threads.clear();
}

void Workers::Run()
{
    for (;;) {
        Task task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_stopping)
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        // One failing task must not end the thread that serves the others.
        try {
            task();
        } catch (...) {
        }
    }
}

} // namespace kelvora::directory::live
