#include "directory/live/prefetch.h"

namespace kelvora::directory::live {

void Prefetcher::AddStep(PrefetchStep step)
{
    const std::lock_guard lock(m_mutex);
    m_steps.push_back(std::move(step));
}

void Prefetcher::SetEnabled(bool enabled)
{
    const std::lock_guard lock(m_mutex);
    m_enabled = enabled;
}

void Prefetcher::Start(const std::vector<std::string> &hosts, const std::string &query) const
{
    std::vector<PrefetchStep> steps;
    std::uint64_t page = 0;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_enabled)
            return;
        steps = m_steps;
        page = ++m_pages;
    }
    // Host by host, so that the first rows the program asks for are the
    // first to be under way.
    for (const std::string &host : hosts) {
        const ListedSite site{host, hosts, query, page};
        for (const PrefetchStep &step : steps)
            step(site);
    }
}

} // namespace kelvora::directory::live
