#include "directory/live/rate_limit.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <ctime>
#include <vector>

namespace kelvora::directory::live {

namespace {

// Retry-After values longer than this are taken as this: a stop of a day
// is as good as forever for a running gateway, and the number stays small.
constexpr std::chrono::seconds kLongestRetryAfter{24 * 3600};
constexpr std::size_t kMaxRetryAfterLength = 64;

int MonthNumber(std::string_view name)
{
    static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (kMonths[i] == name)
            return static_cast<int>(i);
    }
    return -1;
}

bool AllDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The blank-separated words of text.
std::vector<std::string_view> Words(std::string_view text)
{
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && text[at] == ' ')
            ++at;
        const std::size_t end = std::min(text.find(' ', at), text.size());
        if (end > at)
            words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

std::optional<std::tm> ParseClock(std::string_view hms, std::tm tm)
{
    if (hms.size() != 8 || hms[2] != ':' || hms[5] != ':' || !AllDigits(hms.substr(0, 2)) ||
        !AllDigits(hms.substr(3, 2)) || !AllDigits(hms.substr(6, 2)))
        return std::nullopt;
    tm.tm_hour = std::stoi(std::string(hms.substr(0, 2)));
    tm.tm_min = std::stoi(std::string(hms.substr(3, 2)));
    tm.tm_sec = std::stoi(std::string(hms.substr(6, 2)));
    if (tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 60)
        return std::nullopt;
    return tm;
}

// RFC 9110's three date forms: "Sun, 06 Nov 1994 08:49:37 GMT",
// "Sunday, 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994".
std::optional<std::time_t> ParseHttpDate(std::string_view text)
{
    const std::vector<std::string_view> words = Words(text);
    std::string_view day, month, year, hms;
    if (words.size() == 6 && words[5] == "GMT") {
        day = words[1];
        month = words[2];
        year = words[3];
        hms = words[4];
    } else if (words.size() == 4 && words[3] == "GMT" && words[1].size() == 9 && words[1][2] == '-' &&
               words[1][6] == '-') {
        day = words[1].substr(0, 2);
        month = words[1].substr(3, 3);
        year = words[1].substr(7, 2);
        hms = words[2];
    } else if (words.size() == 5) {
        month = words[1];
        day = words[2];
        hms = words[3];
        year = words[4];
    } else {
        return std::nullopt;
    }
    if (!AllDigits(day) || day.size() > 2 || !AllDigits(year) || (year.size() != 4 && year.size() != 2))
        return std::nullopt;
    std::tm tm{};
    tm.tm_mon = MonthNumber(month);
    tm.tm_mday = std::stoi(std::string(day));
    int fullYear = std::stoi(std::string(year));
    if (year.size() == 2)
        fullYear += fullYear < 70 ? 2000 : 1900;   // RFC 9110: a two-digit year is within 50 years
    tm.tm_year = fullYear - 1900;
    if (tm.tm_mon < 0 || tm.tm_mday < 1 || tm.tm_mday > 31)
        return std::nullopt;
    const std::optional<std::tm> full = ParseClock(hms, tm);
    if (!full)
        return std::nullopt;
    std::tm copy = *full;
    return timegm(&copy);
}

} // namespace

std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value,
                                                    std::chrono::system_clock::time_point now)
{
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
        value.remove_suffix(1);
    if (value.empty() || value.size() > kMaxRetryAfterLength)
        return std::nullopt;
    if (AllDigits(value)) {
        // Ten digits already pass the longest stop: no overflow beyond that.
        if (value.size() > 9)
            return kLongestRetryAfter;
        return std::min(std::chrono::seconds(std::stoll(std::string(value))), kLongestRetryAfter);
    }
    const std::optional<std::time_t> date = ParseHttpDate(value);
    if (!date)
        return std::nullopt;
    const auto wait = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::from_time_t(*date) - now);
    return std::clamp(wait, std::chrono::seconds(0), kLongestRetryAfter);
}

TokenBucket::TokenBucket(PaceLimit limit, TimePoint now)
    : m_limit(limit)
    , m_tokens(std::max<std::size_t>(limit.burst, 1))
    , m_lastRefill(now)
{
    m_limit.burst = m_tokens;
}

void TokenBucket::Refill(TimePoint now)
{
    if (m_limit.interval.count() <= 0 || now <= m_lastRefill)
        return;
    if (m_tokens >= m_limit.burst) {
        m_lastRefill = now;
        return;
    }
    const auto earned = static_cast<std::size_t>((now - m_lastRefill) / m_limit.interval);
    if (earned == 0)
        return;
    m_tokens = std::min(m_limit.burst, m_tokens + earned);
    // A full bucket starts its next interval now; otherwise the part of an
    // interval already run counts towards the next token.
    if (m_tokens >= m_limit.burst)
        m_lastRefill = now;
    else
        m_lastRefill += std::chrono::duration_cast<TimePoint::duration>(m_limit.interval * static_cast<long>(earned));
}

bool TokenBucket::TryTake(TimePoint now)
{
    if (m_limit.interval.count() <= 0)
        return true;
    Refill(now);
    if (m_tokens == 0)
        return false;
    if (m_tokens == m_limit.burst)
        m_lastRefill = now;
    --m_tokens;
    return true;
}

TokenBucket::TimePoint TokenBucket::NextToken(TimePoint now)
{
    if (m_limit.interval.count() <= 0)
        return now;
    Refill(now);
    return m_tokens > 0 ? now : m_lastRefill + m_limit.interval;
}

HostPacer::HostPacer(Clock clock)
    : m_clock(std::move(clock))
{
}

HostPacer::TimePoint HostPacer::Now() const
{
    return m_clock ? m_clock() : std::chrono::steady_clock::now();
}

void HostPacer::SetLimit(const std::string &host, PaceLimit limit)
{
    const std::lock_guard lock(m_mutex);
    m_limits[host] = limit;
    m_hosts[host].bucket.reset();
}

void HostPacer::SetLimitOnce(const std::string &host, PaceLimit limit)
{
    const std::lock_guard lock(m_mutex);
    m_limits.emplace(host, limit);
}

HostPacer::Admission HostPacer::Admit(const std::string &host)
{
    return Check(host, true);
}

HostPacer::Admission HostPacer::Peek(const std::string &host)
{
    return Check(host, false);
}

HostPacer::Admission HostPacer::Check(const std::string &host, bool take)
{
    const TimePoint now = Now();
    const std::lock_guard lock(m_mutex);
    const auto limit = m_limits.find(host);
    auto state = m_hosts.find(host);
    if (state == m_hosts.end()) {
        // Unpaced hosts that were never stopped leave no state behind.
        if (limit == m_limits.end())
            return {};
        state = m_hosts.emplace(host, HostState{}).first;
    }
    if (now < state->second.stoppedUntil)
        return {Admission::Verdict::Stopped, state->second.stoppedUntil};
    if (limit == m_limits.end())
        return {};
    std::optional<TokenBucket> &bucket = state->second.bucket;
    if (!bucket)
        bucket.emplace(limit->second, now);
    if (!take) {
        const TimePoint next = bucket->NextToken(now);
        return next <= now ? Admission{} : Admission{Admission::Verdict::Wait, next};
    }
    if (bucket->TryTake(now))
        return {};
    return {Admission::Verdict::Wait, bucket->NextToken(now)};
}

std::chrono::seconds HostPacer::Stop(const std::string &host, std::optional<std::chrono::seconds> retryAfter)
{
    const TimePoint now = Now();
    const std::lock_guard lock(m_mutex);
    HostState &state = m_hosts[host];
    std::chrono::seconds stop;
    if (retryAfter) {
        stop = *retryAfter;
    } else {
        stop = state.lastBackOff.count() == 0 ? kFirstBackOff : std::min(state.lastBackOff * 2, kLongestStop);
        state.lastBackOff = stop;
    }
    state.stoppedUntil = std::max(state.stoppedUntil, now + stop);
    return stop;
}

void HostPacer::Answered(const std::string &host)
{
    const std::lock_guard lock(m_mutex);
    const auto state = m_hosts.find(host);
    if (state != m_hosts.end())
        state->second.lastBackOff = std::chrono::seconds(0);
}

} // namespace kelvora::directory::live
