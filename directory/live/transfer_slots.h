#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>

// Who a transfer is for, and how many of the network's slots each kind may
// hold, so that background work never makes the program wait: engine pages
// and the program's own requests always find a free slot, and one results
// page's prefetch cannot take every slot meant for prefetching (a page of
// sites that answer a byte a second would otherwise block the next search).
namespace kelvora::directory::live {

enum class TransferPriority { Engine, Program, Prefetch };

// What a caller gets while its request waits behind a host's rate limit:
// the answer when it comes, or at once "not known yet" (the fetch goes on in
// the background and its answer is cached for a later request).
enum class HeldAnswer { Wait, NotKnownYet };

// Transfers at once in all, and the share of them that prefetching and
// anything but engine pages may hold.
constexpr int kMaxTransfersInAll = 48;
constexpr int kMaxPrefetchTransfers = 32;
constexpr int kMaxPrefetchTransfersPerPage = 24;
constexpr int kMaxNonEngineTransfers = 44;
// Prefetch requests queued at most (behind rate limits or busy slots); the
// oldest are dropped beyond it.
constexpr std::size_t kMaxQueuedPrefetches = 1'000;

// Shared by a fetch and its network transfer: a program request joining a
// queued prefetch raises its priority; the network says when the transfer
// waits behind a rate limit.
struct TransferState {
    std::atomic<TransferPriority> priority{TransferPriority::Program};
    std::atomic<bool> held{false};
    // Called once, on the network's thread, when the transfer is first held.
    std::function<void()> onHeld;
};

// The network loop's count of running transfers by kind and results page.
class TransferSlots final {
public:
    bool MayStart(TransferPriority priority, std::uint64_t page) const;
    void Started(TransferPriority priority, std::uint64_t page);
    void Ended(TransferPriority priority, std::uint64_t page);

private:
    int m_all = 0;
    int m_engine = 0;
    int m_prefetch = 0;
    std::map<std::uint64_t, int> m_perPage;
};

} // namespace kelvora::directory::live
