// Waits after failed authentications (AuthThrottle.h).
#include "platform/remote/AuthThrottle.h"

#include <algorithm>

namespace ovremote {

std::chrono::seconds AuthThrottle::WaitOf(const std::string& key, Clock::time_point now)
{
    const auto found = keys_.find(key);
    if (found == keys_.end() || found->second.count < kFreeFailures) return {};
    const unsigned doublings = std::min(found->second.count - kFreeFailures, 20u);
    const std::chrono::seconds wait = std::min(std::chrono::seconds(1ll << doublings), maxWait_);
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(now - found->second.last);
    return waited >= wait ? std::chrono::seconds(0) : wait - waited;
}

std::chrono::seconds AuthThrottle::Wait(const std::string& client, const std::string& login,
                                        Clock::time_point now)
{
    std::lock_guard<std::mutex> guard(lock_);
    return std::max(WaitOf("client " + client, now), WaitOf("login " + login, now));
}

void AuthThrottle::Fail(const std::string& key, Clock::time_point now)
{
    Failures& failures = keys_[key];
    if (now - failures.last > kMemory) failures.count = 0;
    ++failures.count;
    failures.last = now;
}

void AuthThrottle::Record(const std::string& client, const std::string& login, bool accepted,
                          Clock::time_point now)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (accepted) {
        keys_.erase("login " + login);
        return;
    }
    Forget(now);
    Fail("client " + client, now);
    Fail("login " + login, now);
}

// Drops keys whose last failure is older than the memory, and, when there
// are still too many, those with the oldest failures.
void AuthThrottle::Forget(Clock::time_point now)
{
    if (keys_.size() < kMaxKeys) return;
    for (auto it = keys_.begin(); it != keys_.end();)
        it = now - it->second.last > kMemory ? keys_.erase(it) : std::next(it);
    while (keys_.size() >= kMaxKeys) {
        auto oldest = std::min_element(
            keys_.begin(), keys_.end(),
            [](const auto& a, const auto& b) { return a.second.last < b.second.last; });
        keys_.erase(oldest);
    }
}

}  // namespace ovremote
