#include "directory/live/failure_cache.h"

#include "directory/live/rate_limit.h"

namespace kelvora::directory::live {

namespace {

constexpr long kNoAnswerStatus = 0;
constexpr long kTooManyRequests = 429;

} // namespace

std::optional<std::chrono::seconds> FailureTimeToLive(const FetchResult &result)
{
    if (result.outcome == FetchResult::Outcome::Failed)
        return kNetworkFailureTimeToLive;
    if (!result.Answered() || result.status < 400)
        return std::nullopt;
    if (result.status == kTooManyRequests)
        return result.retryAfter.value_or(kFirstBackOff);
    return result.status >= 500 ? kServerErrorTimeToLive : kClientErrorTimeToLive;
}

CachedAnswer FailureRecord(const FetchResult &result)
{
    CachedAnswer record;
    record.finalUrl = result.finalUrl;
    record.truncated = result.truncated;
    if (result.Answered()) {
        record.status = result.status;
        record.body = result.body;
    } else {
        record.status = kNoAnswerStatus;
        record.body = result.error;
    }
    return record;
}

bool IsNoAnswerRecord(const CachedAnswer &answer)
{
    return answer.status == kNoAnswerStatus;
}

FetchResult NoAnswerFromRecord(const CachedAnswer &answer)
{
    FetchResult result;
    result.outcome = FetchResult::Outcome::Failed;
    result.error = answer.body + " (remembered)";
    result.finalUrl = answer.finalUrl;
    result.fromCache = true;
    return result;
}

} // namespace kelvora::directory::live
