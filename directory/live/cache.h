#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// The gateway's store of upstream answers: one SQLite file in WAL mode, so
// that answers survive a restart and can be replayed offline. Each answer is
// kept for its own time to live; when the file's answers pass the size
// bound, the oldest are dropped first. Safe to use from many threads.
namespace kelvora::directory::live {

constexpr std::int64_t kDefaultCacheBytes = 512LL * 1024 * 1024;

// ReadOnly: answers are only read (offline replay); nothing is stored or
// swept, and a file that cannot be written is opened immutable.
enum class CacheAccess { ReadWrite, ReadOnly };

struct CachedAnswer {
    long status = 0;
    std::string finalUrl;
    std::string body;
    bool truncated = false;
    std::int64_t storedAt = 0;   // seconds since the epoch
};

class WebCache final {
public:
    // Seconds since the epoch; tests move it on to see answers expire.
    using Clock = std::function<std::int64_t()>;

    // Creates the file and its folder when missing (ReadWrite). Several
    // caches, also in other processes, may share one file. Throws
    // SqliteError with a one-line reason naming the file when it cannot be
    // used as a cache.
    explicit WebCache(const std::string &path, std::int64_t maxBytes = kDefaultCacheBytes,
                      Clock clock = {}, CacheAccess access = CacheAccess::ReadWrite);
    ~WebCache();
    WebCache(const WebCache &) = delete;
    WebCache &operator=(const WebCache &) = delete;

    // The answer stored under key while it is fresh.
    std::optional<CachedAnswer> Find(const std::string &key);
    bool HasFresh(const std::string &key);
    // Replaces any answer under key. An answer larger than the whole bound
    // is not kept, nor any in a ReadOnly cache.
    void Store(const std::string &key, const CachedAnswer &answer, std::chrono::seconds timeToLive);

    // Bytes of the bodies and addresses held.
    std::int64_t Size();
    std::int64_t Now() const;

private:
    void Open(const std::string &path, CacheAccess access);
    void DropExpired();
    void DropOldest();

    struct Statements;
    std::mutex m_mutex;
    bool m_readOnly;
    std::int64_t m_maxBytes;
    Clock m_clock;
    std::int64_t m_size = 0;
    std::unique_ptr<Statements> m_statements;
};

} // namespace kelvora::directory::live
