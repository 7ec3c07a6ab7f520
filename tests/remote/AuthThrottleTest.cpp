// Waits after failed authentications: the free failures, the doubling and
// its cap, what a success clears, forgetting, and the bound on what is kept.
#include <gtest/gtest.h>

#include <string>

#include "platform/remote/AuthThrottle.h"

using ovremote::AuthThrottle;
using std::chrono::minutes;
using std::chrono::seconds;

namespace {

const AuthThrottle::Clock::time_point kStart{std::chrono::hours(24)};

void Fail(AuthThrottle& throttle, const std::string& client, const std::string& login,
          unsigned times, AuthThrottle::Clock::time_point when = kStart)
{
    for (unsigned i = 0; i < times; ++i) throttle.Record(client, login, false, when);
}

}  // namespace

TEST(AuthThrottleTest, WaitDoublesAfterTheFreeFailuresUpToTheCap)
{
    const struct {
        unsigned failures;
        seconds later;
        seconds wait;
    } rows[] = {
        {0, seconds(0), seconds(0)},    {2, seconds(0), seconds(0)},
        {3, seconds(0), seconds(1)},    {4, seconds(0), seconds(2)},
        {5, seconds(0), seconds(4)},    {5, seconds(3), seconds(1)},
        {5, seconds(4), seconds(0)},    {11, seconds(0), seconds(256)},
        {12, seconds(0), seconds(300)}, {80, seconds(0), seconds(300)},
        {80, seconds(299), seconds(1)}, {80, seconds(300), seconds(0)},
    };
    for (const auto& row : rows) {
        AuthThrottle throttle;
        Fail(throttle, "ipv4:10.0.0.1", "jsmith", row.failures);
        EXPECT_EQ(throttle.Wait("ipv4:10.0.0.1", "jsmith", kStart + row.later), row.wait)
            << row.failures << " failures, " << row.later.count() << " s later";
    }
}

TEST(AuthThrottleTest, EachKeyCountsOnItsOwn)
{
    AuthThrottle throttle;
    // One guess each from three clients at one login: the login waits,
    // from any client; the clients themselves do not.
    for (const char* client : {"ipv4:10.0.0.1", "ipv4:10.0.0.2", "ipv4:10.0.0.3"})
        Fail(throttle, client, "jsmith", 1);
    EXPECT_EQ(throttle.Wait("ipv4:10.0.0.4", "jsmith", kStart), seconds(1));
    EXPECT_EQ(throttle.Wait("ipv4:10.0.0.1", "administrator", kStart), seconds(0));
    // Guesses at three logins from one client: that client waits for any.
    for (const char* login : {"a", "b", "c"}) Fail(throttle, "ipv4:10.0.0.9", login, 1);
    EXPECT_EQ(throttle.Wait("ipv4:10.0.0.9", "jsmith2", kStart), seconds(1));
}

TEST(AuthThrottleTest, SuccessClearsTheLoginNotTheClient)
{
    AuthThrottle throttle;
    Fail(throttle, "ipv4:10.0.0.1", "jsmith", 3);
    throttle.Record("ipv4:10.0.0.1", "jsmith", true, kStart);
    EXPECT_EQ(throttle.Wait("ipv4:10.0.0.2", "jsmith", kStart), seconds(0));
    EXPECT_EQ(throttle.Wait("ipv4:10.0.0.1", "other", kStart), seconds(1));
}

TEST(AuthThrottleTest, FailuresLongAgoAreForgotten)
{
    AuthThrottle throttle;
    Fail(throttle, "ipv4:10.0.0.1", "jsmith", 10);
    Fail(throttle, "ipv4:10.0.0.1", "jsmith", 1, kStart + minutes(16));
    EXPECT_EQ(throttle.Wait("ipv4:10.0.0.1", "jsmith", kStart + minutes(16)), seconds(0));
}

TEST(AuthThrottleTest, KeptKeysAreBoundedTheOldestGoFirst)
{
    AuthThrottle throttle;
    Fail(throttle, "ipv4:10.0.0.1", "jsmith", 5);
    // Each failure keeps two keys: a client's and a login's.
    for (std::size_t i = 0; i < AuthThrottle::kMaxKeys / 2; ++i)
        throttle.Record("ipv4:10.1." + std::to_string(i), "user" + std::to_string(i), false,
                        kStart + seconds(1));
    Fail(throttle, "ipv4:10.0.0.2", "newest", 3, kStart + seconds(2));
    EXPECT_EQ(throttle.Wait("ipv4:10.0.0.1", "jsmith", kStart + seconds(2)), seconds(0));
    EXPECT_EQ(throttle.Wait("ipv4:10.0.0.2", "newest", kStart + seconds(2)), seconds(1));
}
