// Growing waits after failed authentications, per login and per client, so
// that the service daemon cannot be used to try passwords at speed.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace ovremote {

class AuthThrottle {
public:
    using Clock = std::chrono::steady_clock;

    // Failures taken without a wait; each further one doubles the wait
    // before the next attempt, from one second up to maxWait.
    static constexpr unsigned kFreeFailures = 3;
    // A key forgets its failures after this long without one.
    static constexpr std::chrono::minutes kMemory{15};
    // At most this many keys are remembered; the oldest go first.
    static constexpr std::size_t kMaxKeys = 100000;

    explicit AuthThrottle(std::chrono::seconds maxWait = std::chrono::seconds(300))
        : maxWait_(maxWait)
    {
    }

    // Zero when an attempt of login from client may be tested now, else how
    // long it must still wait (the longer of the two keys' waits).
    std::chrono::seconds Wait(const std::string& client, const std::string& login,
                              Clock::time_point now);
    // The attempt was tested: a failure counts against both keys; a success
    // clears the login's failures (not the client's: one good account must
    // not clear the way for guesses at others).
    void Record(const std::string& client, const std::string& login, bool accepted,
                Clock::time_point now);

private:
    struct Failures {
        unsigned count = 0;
        Clock::time_point last;
    };
    std::chrono::seconds WaitOf(const std::string& key, Clock::time_point now);
    void Fail(const std::string& key, Clock::time_point now);
    void Forget(Clock::time_point now);

    std::chrono::seconds maxWait_;
    std::mutex lock_;
    std::map<std::string, Failures> keys_;
};

}  // namespace ovremote
