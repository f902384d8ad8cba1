#include "directory/live/transfer_slots.h"

namespace kelvora::directory::live {

bool TransferSlots::MayStart(TransferPriority priority, std::uint64_t page) const
{
    if (m_all >= kMaxTransfersInAll)
        return false;
    if (priority == TransferPriority::Engine)
        return true;
    if (m_all - m_engine >= kMaxNonEngineTransfers)
        return false;
    if (priority == TransferPriority::Program)
        return true;
    if (m_prefetch >= kMaxPrefetchTransfers)
        return false;
    const auto found = m_perPage.find(page);
    return found == m_perPage.end() || found->second < kMaxPrefetchTransfersPerPage;
}

void TransferSlots::Started(TransferPriority priority, std::uint64_t page)
{
    ++m_all;
    if (priority == TransferPriority::Engine)
        ++m_engine;
    if (priority == TransferPriority::Prefetch) {
        ++m_prefetch;
        ++m_perPage[page];
    }
}

void TransferSlots::Ended(TransferPriority priority, std::uint64_t page)
{
    --m_all;
    if (priority == TransferPriority::Engine)
        --m_engine;
    if (priority == TransferPriority::Prefetch) {
        --m_prefetch;
        const auto found = m_perPage.find(page);
        if (found != m_perPage.end() && --found->second <= 0)
            m_perPage.erase(found);
    }
}

} // namespace kelvora::directory::live
