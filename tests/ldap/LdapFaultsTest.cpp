// The ldap backend when things go wrong: a server that stops and comes back,
// a connection lost under a search, a listener that never answers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "platform/directory/Directory.h"
#include "tests/ldap/LdapTestSupport.h"

namespace {

using ovdir::Entry;
using ovdir::SearchRequest;
using namespace ldaptest;

int Fixture(const std::string& arguments)
{
    const std::string command = std::string("bash ") + OV_LDAP_SOURCE_DIR + "/slapd-fixture.sh " +
                                arguments + " >/dev/null";
    return std::system(command.c_str());
}

// A private server, so that stopping it disturbs no other test.
class PrivateServer {
public:
    PrivateServer() : folder_(ServerFolder("private-" + std::to_string(::getpid())))
    {
        started_ = Fixture("start " + folder_ + " " + OV_LDAP_SOURCE_DIR + "/ldaptest.ldif") == 0;
        EXPECT_TRUE(started_) << "could not start a private slapd in " << folder_;
    }
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;
    ~PrivateServer()
    {
        Fixture("stop " + folder_);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    bool Started() const { return started_; }
    bool Stop() { return Fixture("stop " + folder_) == 0; }
    bool Restart() { return Fixture("restart " + folder_) == 0; }
    std::string Address() const
    {
        std::ifstream in(folder_ + "/port");
        std::string port;
        std::getline(in, port);
        return "127.0.0.1:" + port;
    }

private:
    std::string folder_;
    bool started_ = false;
};

class LdapFaultsTest : public ::testing::Test {
protected:
    void SetUp() override { SetTimeouts(3000, 120); }
    void TearDown() override { SetTimeouts(3000, 120); }
};

TEST_F(LdapFaultsTest, AStoppedServerIsUnreachableAndAnswersWhenBack)
{
    PrivateServer server;
    ASSERT_TRUE(server.Started());
    ovdir::DirectorySettings settings;
    settings.directory = "ldap://" + server.Address();
    auto directory = ovdir::MakeLdapDirectory(settings);
    std::vector<Entry> found;
    ASSERT_EQ(directory->Search(People(), found), 0u);

    ASSERT_TRUE(server.Stop());
    found.clear();
    EXPECT_EQ(directory->Search(People(), found), ovdir::kStatusUnreachable);
    EXPECT_TRUE(found.empty());
    std::vector<std::string> contexts;
    EXPECT_EQ(directory->NamingContexts(contexts), ovdir::kStatusUnreachable);

    ASSERT_TRUE(server.Restart());
    EXPECT_EQ(directory->Search(People(), found), 0u);
    EXPECT_EQ(found.size(), 3u);
}

TEST_F(LdapFaultsTest, AServerRestartedBetweenCallsIsReconnectedOnce)
{
    PrivateServer server;
    ASSERT_TRUE(server.Started());
    ovdir::DirectorySettings settings;
    settings.directory = "ldap://" + server.Address();
    auto directory = ovdir::MakeLdapDirectory(settings);
    std::vector<Entry> found;
    ASSERT_EQ(directory->Search(People(), found), 0u);
    ASSERT_TRUE(server.Stop());
    ASSERT_TRUE(server.Restart());
    CallCounter counter;
    found.clear();
    EXPECT_EQ(directory->Search(People(), found), 0u);
    EXPECT_EQ(found.size(), 3u);
    EXPECT_EQ(CallCounter::initializes, 1);
}

TEST_F(LdapFaultsTest, AConnectionLostUnderASearchIsReopenedOnce)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    std::vector<Entry> found;
    ASSERT_EQ(directory->Search(People(), found), 0u);
    CallCounter counter;
    CallCounter::failSearches = 1;
    found.clear();
    EXPECT_EQ(directory->Search(People(), found), 0u);
    EXPECT_EQ(found.size(), 3u);
    EXPECT_EQ(CallCounter::initializes, 1);
}

TEST_F(LdapFaultsTest, AConnectionLostTwiceIsUnreachableNotALoop)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    std::vector<Entry> found;
    ASSERT_EQ(directory->Search(People(), found), 0u);
    CallCounter counter;
    CallCounter::failSearches = 100;
    EXPECT_EQ(directory->Search(People(), found), ovdir::kStatusUnreachable);
    EXPECT_EQ(CallCounter::searches, 2);
    EXPECT_EQ(CallCounter::initializes, 1);
}

TEST_F(LdapFaultsTest, AFreshConnectionLostIsNotRetried)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    CallCounter counter;
    CallCounter::failSearches = 100;
    std::vector<Entry> found;
    EXPECT_EQ(directory->Search(People(), found), ovdir::kStatusUnreachable);
    EXPECT_EQ(CallCounter::searches, 1);
}

TEST_F(LdapFaultsTest, AClosedPortIsUnreachable)
{
    ovdir::DirectorySettings settings;
    settings.directory = "ldap://" + ClosedPort();
    std::vector<Entry> found;
    EXPECT_EQ(ovdir::MakeLdapDirectory(settings)->Search(People(), found),
              ovdir::kStatusUnreachable);
}

// A listener that accepts and never answers: each way of connecting gives up
// with a time-out instead of waiting for the 120 s method time-out. The bound
// is far above the 700 ms connection time-out so that a loaded or sanitised
// run does not fail; it only tells "gave up" from "hung".
constexpr double kNoHang = 20.0;

class SilentServerTest : public LdapFaultsTest {
protected:
    void SetUp() override { SetTimeouts(700, 120); }

    template <class Call>
    double Seconds(Call call)
    {
        const auto start = std::chrono::steady_clock::now();
        call();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    // Settings of the configured directory at the listener.
    ovdir::DirectorySettings AtListener(const std::string& scheme,
                                        ovdir::DirectorySettings settings = ReaderSettings())
    {
        settings.directory = scheme + "://" + listener_.Address();
        return Timed(std::move(settings));
    }

    // A search through the settings must give up with a time-out.
    void ExpectSearchTimesOut(const ovdir::DirectorySettings& settings)
    {
        std::vector<Entry> found;
        unsigned status = 0;
        const double took =
            Seconds([&] { status = ovdir::MakeLdapDirectory(settings)->Search(People(), found); });
        EXPECT_EQ(status, ovdir::kStatusTimeout);
        EXPECT_LT(took, kNoHang);
    }

    // An explicit domain search of the listener must end as a connection failure.
    void ExpectDomainsConnectionFailure(bool ssl)
    {
        int searchStatus = -1;
        std::vector<std::string> domains;
        unsigned status = 1;
        const double took = Seconds([&] {
            status = ovdir::MakeLdapDomainSource(ReaderSettings(),
                                                 *ovdir::MakeLdapDirectory(ReaderSettings()))
                         ->ExplicitDomains(listener_.Address(), "cn=reader,o=ldaptest",
                                           "reader-secret", ssl, 100, domains, searchStatus);
        });
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(searchStatus, 2);
        EXPECT_LT(took, kNoHang);
    }

    SilentListener listener_;
};

TEST_F(SilentServerTest, APlainBindTimesOut) { ExpectSearchTimesOut(AtListener("ldap")); }

TEST_F(SilentServerTest, AnAnonymousConnectionTimesOutToo)
{
    ExpectSearchTimesOut(AtListener("ldap", ovdir::DirectorySettings()));
}

TEST_F(SilentServerTest, StartTlsGivesUp)
{
    ovdir::DirectorySettings settings = AtListener("ldap");
    settings.startTls = true;
    settings.caCertFile = CaFile();
    ExpectSearchTimesOut(settings);
}

TEST_F(SilentServerTest, ATlsHandshakeGivesUp)
{
    ovdir::DirectorySettings settings = AtListener("ldaps");
    settings.caCertFile = CaFile();
    ExpectSearchTimesOut(settings);
}

TEST_F(SilentServerTest, APasswordCheckGivesUp)
{
    const ovdir::DirectorySettings settings = AtListener("ldap");
    bool accepted = true;
    unsigned status = 0;
    const double took = Seconds([&] {
        status = ovdir::MakeLdapDirectory(settings)->CheckPassword("uid=alice,ou=People,o=ldaptest",
                                                                   "alice-pass", accepted);
    });
    EXPECT_EQ(status, ovdir::kStatusTimeout);
    EXPECT_FALSE(accepted);
    EXPECT_LT(took, kNoHang);
}

TEST_F(SilentServerTest, AnExplicitDomainSearchOverSslIsAConnectionFailure)
{
    ExpectDomainsConnectionFailure(true);
}

TEST_F(SilentServerTest, AnExplicitDomainSearchIsAConnectionFailure)
{
    ExpectDomainsConnectionFailure(false);
}

}  // namespace
