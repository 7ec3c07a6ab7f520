// The ldap backend against servers that misbehave on purpose (a scripted
// loopback server whose first connection is broken and whose later ones are
// relayed to the real test server): each misbehaviour ends the request with
// an error status, and the next request, on a new connection, is answered.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/directory/Directory.h"
#include "tests/ldap/LdapTestSupport.h"
#include "tests/platform/TestApplication.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// What libldap allocates while this lives is not checked for leaks.
#if defined(__SANITIZE_ADDRESS__)
using LibraryLeaksIgnored = __lsan::ScopedDisabler;
#else
struct LibraryLeaksIgnored {
    LibraryLeaksIgnored() {}
};
#endif

using ovdir::Entry;
using namespace ldaptest;

// The scripted server for one mode; stopped when destroyed.
class HostileServer {
public:
    explicit HostileServer(const std::string& mode)
    {
        const std::string upstream = ServerFile("main", "port");
        const std::string command = std::string("exec python3 ") + OV_LDAP_SOURCE_DIR +
                                    "/hostile-server.py " + mode + " " + upstream;
        pipe_ = ::popen(command.c_str(), "r");
        if (pipe_ == nullptr || std::fscanf(pipe_, "%d %d", &port_, &pid_) != 2) {
            ADD_FAILURE() << "the scripted server did not start: " << command;
        }
    }
    HostileServer(const HostileServer&) = delete;
    HostileServer& operator=(const HostileServer&) = delete;
    ~HostileServer()
    {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        if (pipe_ != nullptr) ::pclose(pipe_);
    }
    ovdir::DirectorySettings Settings() const
    {
        ovdir::DirectorySettings settings = ReaderSettings();
        settings.directory = "ldap://127.0.0.1:" + std::to_string(port_);
        return settings;
    }

private:
    FILE* pipe_ = nullptr;
    int port_ = 0;
    int pid_ = 0;
};

// Resident memory of this process in bytes.
long ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

class HostileServerTest : public ::testing::Test {
protected:
    // A short method time-out, as the services' parameters would give it.
    void SetUp() override { SetTimeouts(3000, 1); }
    void TearDown() override { SetTimeouts(3000, 120); }

    // The first search fails with one of the expected statuses, its record
    // saying what happened; the next is answered.
    void ExpectFailureThenAnswer(const std::string& mode, std::initializer_list<unsigned> statuses,
                                 std::size_t maxEntries = ovdir::kDefaultMaxEntries,
                                 const std::string& said = "")
    {
        HostileServer server(mode);
        ovdir::DirectorySettings settings = server.Settings();
        settings.maxEntries = maxEntries;
        auto directory = ovdir::MakeLdapDirectory(settings);
        std::vector<Entry> found;
        const unsigned status = directory->Search(People(), found);
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), status), statuses.end())
            << mode << ": status 0x" << std::hex << status;
        EXPECT_TRUE(found.empty()) << mode;
        ASSERT_FALSE(application_.Records().empty()) << mode;
        EXPECT_NE(application_.Records().back().find(said), std::string::npos)
            << application_.Records().back();
        found.clear();
        EXPECT_EQ(directory->Search(People(), found), 0u) << mode << ": the next request";
        EXPECT_EQ(found.size(), 3u) << mode;
    }

    TestApplication application_;
};

TEST_F(HostileServerTest, ClosesAtOnce)
{
    ExpectFailureThenAnswer("close", {ovdir::kStatusUnreachable});
}

TEST_F(HostileServerTest, AnswersGarbage)
{
    ExpectFailureThenAnswer("garbage", {ovdir::kStatusUnreachable, ovdir::kStatusRefused});
}

TEST_F(HostileServerTest, CutsAnEntryInHalf)
{
    ExpectFailureThenAnswer("half", {ovdir::kStatusUnreachable}, ovdir::kDefaultMaxEntries,
                            "(Can't contact LDAP server) the connection ended in the middle");
}

// Refused as soon as the header is read, not allocated and waited for.
TEST_F(HostileServerTest, AnnouncesAMessageOfTwoGigabytes)
{
    // Waiting for the 2 GB would outlast the test's own time limit.
    SetTimeouts(3000, 600);
    ExpectFailureThenAnswer("huge", {ovdir::kStatusUnreachable}, ovdir::kDefaultMaxEntries,
                            "larger than the limit of 64 MiB");
}

TEST_F(HostileServerTest, FallsSilentAfterTheBind)
{
    ExpectFailureThenAnswer("silent", {ovdir::kStatusTimeout});
}

// Past the entry limit the answer is dropped, and what it took of memory is
// given back to the system.
TEST_F(HostileServerTest, StreamsEntriesWithoutEnd)
{
    const long before = ResidentBytes();
    ExpectFailureThenAnswer("endless", {ovdir::kStatusTooManyEntries}, 20000);
    // 20,000 entries of more than 2 KB each were held at the peak. Under
    // AddressSanitizer freed memory waits in its quarantine instead.
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(ResidentBytes() - before, 20L << 20);
#else
    (void)before;
#endif
}

// A quick request (completion) keeps its limits against a server that never
// stops: it ends at its entry limit with what it asked for, and at its time
// limit however steadily the entries come (not after 20 s with 100 entries).
TEST_F(HostileServerTest, QuickRequestsStopAtTheirLimits)
{
    for (const bool endless : {true, false}) {
        HostileServer server(endless ? "endless" : "trickle");
        ovdir::SearchRequest quick = People();
        quick.sizeLimit = 100;
        quick.timeLimitMs = 1500;
        std::vector<Entry> found;
        EXPECT_EQ(ovdir::MakeLdapDirectory(server.Settings())->Search(quick, found),
                  endless ? 0u : ovdir::kStatusTimeout);
        EXPECT_TRUE(!endless || found.size() == 100u) << found.size();
    }
}

// An answer that libldap cannot decode fails the request; the connection it
// came on is given up without bringing the process down.
TEST_F(HostileServerTest, SendsAnEntryThatDoesNotDecode)
{
    // libldap keeps the request record of an answer it cannot decode and
    // frees it with nothing it hands back: no leak of the backend's.
    const LibraryLeaksIgnored ignored;
    ExpectFailureThenAnswer("undecodable", {ovdir::kStatusRefused, ovdir::kStatusUnreachable});
}

// A page after the first that the server refuses ends the search with an
// error: only the first page is asked for again with a smaller size, so
// nothing is read twice and no part is taken for the whole.
TEST_F(HostileServerTest, RefusesALaterPage)
{
    ExpectFailureThenAnswer("laterpage", {ovdir::kStatusRefused});
}

// A paged-results control without a value is no cookie: the listing ends
// with what came, and the process does not abort in libldap's parser.
TEST_F(HostileServerTest, SendsAPageControlWithoutAValue)
{
    HostileServer server("nocookie");
    auto directory = ovdir::MakeLdapDirectory(server.Settings());
    std::vector<Entry> found;
    EXPECT_EQ(directory->Search(People(), found), 0u);
    EXPECT_EQ(found.size(), 1u);
}

}  // namespace
