// The ldap backend against the test slapd: searches, paging, naming
// contexts, passwords, explicit domain searches and the TLS transports.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "platform/directory/Directory.h"
#include "tests/ldap/LdapTestSupport.h"
#include "tests/platform/TestApplication.h"

namespace {

using ovdir::Entry;
using ovdir::Filter;
using ovdir::Scope;
using ovdir::SearchRequest;
using namespace ldaptest;

Filter Match(Filter::Kind kind, std::string attribute, std::string value = {})
{
    Filter filter;
    filter.kind = kind;
    filter.attribute = std::move(attribute);
    filter.value = std::move(value);
    return filter;
}

SearchRequest Request(std::string base, Scope scope, Filter filter,
                      std::vector<std::string> attributes = {})
{
    SearchRequest request;
    request.base = std::move(base);
    request.scope = scope;
    request.filter = std::move(filter);
    request.attributes = std::move(attributes);
    return request;
}

// Every entry under base.
SearchRequest Everything(std::string base)
{
    return Request(std::move(base), Scope::Subtree, Match(Filter::Kind::Present, "objectclass"));
}

// The 2000 people of ou=Bulk, more than a page holds.
SearchRequest Bulk()
{
    return Request("ou=Bulk,o=ldaptest", Scope::OneLevel,
                   Match(Filter::Kind::Equals, "objectclass", "person"));
}

// The reader's settings with another URL for the configured directory.
ovdir::DirectorySettings ReaderAt(const std::string& url)
{
    ovdir::DirectorySettings settings = ReaderSettings();
    settings.directory = url;
    return settings;
}

// People() on a directory made from settings, as its first call.
unsigned SearchPeople(const ovdir::DirectorySettings& settings, std::vector<Entry>& found)
{
    return ovdir::MakeLdapDirectory(settings)->Search(People(), found);
}

std::vector<std::string> Dns(std::vector<Entry> entries)
{
    std::vector<std::string> dns;
    for (const Entry& entry : entries) dns.push_back(entry.dn);
    std::sort(dns.begin(), dns.end());
    return dns;
}

class LdapDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override { SetTimeouts(3000, 120); }
};

// Searches.

TEST_F(LdapDirectoryTest, ReturnsTheAskedAttributesWithLowerCaseNames)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    std::vector<Entry> found;
    SearchRequest request =
        Request("ou=People,o=ldaptest", Scope::OneLevel,
                Match(Filter::Kind::Equals, "uid", "ALICE"), {"mail", "displayname", "uid"});
    ASSERT_EQ(directory->Search(request, found), 0u);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].dn, "uid=alice,ou=People,o=ldaptest");
    ASSERT_NE(found[0].Find("mail"), nullptr);
    EXPECT_EQ(*found[0].Find("mail"),
              (std::vector<std::string>{"alice@ldaptest.test", "a.example@ldaptest.test"}));
    EXPECT_EQ(found[0].First("displayname"), "Alice \xC3\x84xample");
    EXPECT_EQ(found[0].First("uid"), "alice");
    EXPECT_EQ(found[0].Find("cn"), nullptr);
}

TEST_F(LdapDirectoryTest, NoAttributesAskedGivesTheDnAlone)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    std::vector<Entry> found;
    ASSERT_EQ(directory->Search(People(), found), 0u);
    ASSERT_EQ(found.size(), 3u);
    for (const Entry& entry : found) EXPECT_TRUE(entry.attributes.empty()) << entry.dn;
}

TEST_F(LdapDirectoryTest, ListsTwoThousandEntriesPastTheSizeLimit)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    std::vector<Entry> found;
    ASSERT_EQ(directory->Search(Bulk(), found), 0u);
    const std::vector<std::string> dns = Dns(found);
    EXPECT_EQ(dns.size(), 2000u);
    EXPECT_EQ(std::set<std::string>(dns.begin(), dns.end()).size(), 2000u);
    EXPECT_EQ(dns.front(), "uid=user0001,ou=Bulk,o=ldaptest");
    EXPECT_EQ(dns.back(), "uid=user2000,ou=Bulk,o=ldaptest");
}

TEST_F(LdapDirectoryTest, AQuickSearchStopsAtItsSizeLimit)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    SearchRequest request = Bulk();
    request.filter = Match(Filter::Kind::Initial, "uid", "user01");
    request.sizeLimit = 7;
    request.timeLimitMs = 2000;
    std::vector<Entry> found;
    ASSERT_EQ(directory->Search(request, found), 0u);
    EXPECT_EQ(found.size(), 7u);
    for (const Entry& entry : found) EXPECT_EQ(entry.dn.rfind("uid=user01", 0), 0u) << entry.dn;
}

TEST_F(LdapDirectoryTest, AServerWithSmallerPagesListsEverythingToo)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderAt("ldap://" + PlainAddress("notls")));
    std::vector<Entry> found;
    ASSERT_EQ(directory->Search(Bulk(), found), 0u);
    const std::vector<std::string> dns = Dns(found);
    EXPECT_EQ(dns.size(), 2000u);
    EXPECT_EQ(std::set<std::string>(dns.begin(), dns.end()).size(), 2000u);
}

TEST_F(LdapDirectoryTest, ThePageSizeThatWorkedIsKept)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    CallCounter counter;
    const SearchRequest bulk = Bulk();
    std::vector<Entry> found;
    ASSERT_EQ(directory->Search(bulk, found), 0u);
    // A page larger than the server's 1000 is refused once, then two pages.
    EXPECT_EQ(CallCounter::searches, 3);
    found.clear();
    ASSERT_EQ(directory->Search(bulk, found), 0u);
    EXPECT_EQ(CallCounter::searches, 5);
    EXPECT_EQ(found.size(), 2000u);
}

TEST_F(LdapDirectoryTest, AnonymousSearchesPageToo)
{
    ovdir::DirectorySettings settings;
    settings.directory = "ldap://" + PlainAddress();
    auto directory = ovdir::MakeLdapDirectory(settings);
    std::vector<Entry> found;
    ASSERT_EQ(directory->Search(Request("o=ldaptest", Scope::Subtree,
                                        Match(Filter::Kind::Contains, "uid", "user")),
                                found),
              0u);
    EXPECT_EQ(found.size(), 2000u);
}

TEST_F(LdapDirectoryTest, AMissingBaseIsNoSuchEntry)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    std::vector<Entry> found;
    EXPECT_EQ(directory->Search(Everything("ou=Nowhere,o=ldaptest"), found),
              ovdir::kStatusNoSuchEntry);
    EXPECT_TRUE(found.empty());
}

TEST_F(LdapDirectoryTest, ABaseThatIsNoDnIsMalformed)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    std::vector<Entry> found;
    EXPECT_EQ(directory->Search(Everything("jsmith"), found), ovdir::kStatusMalformedName);
}

TEST_F(LdapDirectoryTest, FilterCharactersMatchThemselves)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    std::vector<Entry> found;
    ASSERT_EQ(
        directory->Search(Request("ou=People,o=ldaptest", Scope::Subtree,
                                  Match(Filter::Kind::Equals, "cn", "STAR*(paren)\\back"), {"cn"}),
                          found),
        0u);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].First("cn"), "star*(paren)\\back");
}

TEST_F(LdapDirectoryTest, AStarInASearchTextIsNoWildcard)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    std::vector<Entry> found;
    ASSERT_EQ(directory->Search(Request("ou=People,o=ldaptest", Scope::Subtree,
                                        Match(Filter::Kind::Contains, "cn", "star*"), {"cn"}),
                                found),
              0u);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].First("cn"), "star*(paren)\\back");
}

TEST_F(LdapDirectoryTest, ContinuationReferencesArePassedOver)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    std::vector<Entry> found;
    ASSERT_EQ(directory->Search(
                  Request("o=ldaptest", Scope::Subtree, Match(Filter::Kind::Present, "ou")), found),
              0u);
    EXPECT_EQ(Dns(found), (std::vector<std::string>{"ou=Bulk,o=ldaptest", "ou=People,o=ldaptest"}));
}

// A referral is never followed; its record names where it points.
TEST_F(LdapDirectoryTest, ABaseBehindAReferralIsAReferral)
{
    TestApplication application;
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    std::vector<Entry> found;
    EXPECT_EQ(directory->Search(Everything("cn=x,ou=Elsewhere,o=ldaptest"), found),
              ovdir::kStatusReferral);
    EXPECT_NE(application.Records().at(0).find("LDAP result 10 (Referral) referred to "
                                               "ldap://unreachable.invalid/"),
              std::string::npos);
}

TEST_F(LdapDirectoryTest, ATypedServerIsAskedOnItsOwnConnection)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    CallCounter counter;
    SearchRequest request = People();
    std::vector<Entry> found;
    ASSERT_EQ(directory->Search(request, found), 0u);
    request.server = "localhost:" + ServerFile("main", "port");
    ASSERT_EQ(directory->Search(request, found), 0u);
    ASSERT_EQ(directory->Search(request, found), 0u);
    EXPECT_EQ(found.size(), 3u);  // each answer replaces the one before
    EXPECT_EQ(CallCounter::initializes, 2);
}

TEST_F(LdapDirectoryTest, ConnectionsAreKeptFromCallToCall)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    CallCounter counter;
    std::vector<Entry> found;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(directory->Search(People(), found), 0u);
    EXPECT_EQ(CallCounter::initializes, 1);
    EXPECT_EQ(CallCounter::binds, 1);
}

TEST_F(LdapDirectoryTest, AServerTextThatIsNoServerIsMalformed)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    SearchRequest request = People();
    request.server = "evil/?x";
    std::vector<Entry> found;
    EXPECT_EQ(directory->Search(request, found), ovdir::kStatusMalformedName);
}

TEST_F(LdapDirectoryTest, DefaultServerIsTheConfiguredHostAndPort)
{
    EXPECT_EQ(ovdir::MakeLdapDirectory(ReaderSettings())->DefaultServer(), PlainAddress());
}

TEST_F(LdapDirectoryTest, NamingContextsComeFromTheRootDse)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    std::vector<std::string> contexts;
    ASSERT_EQ(directory->NamingContexts(contexts), 0u);
    EXPECT_EQ(contexts, (std::vector<std::string>{"o=ldaptest", "dc=ldaptest,dc=test"}));
}

// The service account.

TEST_F(LdapDirectoryTest, AWrongServicePasswordIsABindFailure)
{
    ovdir::DirectorySettings settings = ReaderSettings();
    settings.bindPassword = "wrong";
    std::vector<Entry> found;
    EXPECT_EQ(SearchPeople(settings, found), ovdir::kStatusBindFailed);
}

TEST_F(LdapDirectoryTest, AnEmptyServicePasswordIsNeverSent)
{
    ovdir::DirectorySettings settings = ReaderSettings();
    settings.bindPassword.clear();
    CallCounter counter;
    std::vector<Entry> found;
    EXPECT_EQ(SearchPeople(settings, found), ovdir::kStatusBindFailed);
    EXPECT_EQ(CallCounter::binds, 0);
    EXPECT_EQ(CallCounter::searches, 0);
}

TEST_F(LdapDirectoryTest, AnUnusableDirectoryUrlIsUnreachable)
{
    std::vector<Entry> found;
    EXPECT_EQ(SearchPeople(ReaderAt("ldap://bad host"), found), ovdir::kStatusUnreachable);
}

// Passwords of users.

TEST_F(LdapDirectoryTest, TheRightPasswordIsAccepted)
{
    bool accepted = false;
    EXPECT_EQ(ovdir::MakeLdapDirectory(ReaderSettings())
                  ->CheckPassword("uid=alice,ou=People,o=ldaptest", "alice-pass", accepted),
              0u);
    EXPECT_TRUE(accepted);
}

TEST_F(LdapDirectoryTest, AWrongPasswordIsNotAccepted)
{
    bool accepted = true;
    EXPECT_EQ(ovdir::MakeLdapDirectory(ReaderSettings())
                  ->CheckPassword("uid=alice,ou=People,o=ldaptest", "alice-PASS", accepted),
              0u);
    EXPECT_FALSE(accepted);
}

TEST_F(LdapDirectoryTest, AnEmptyPasswordIsNeitherAcceptedNorSent)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    CallCounter counter;
    bool accepted = true;
    EXPECT_EQ(directory->CheckPassword("uid=alice,ou=People,o=ldaptest", "", accepted), 0u);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(CallCounter::binds, 0);
}

TEST_F(LdapDirectoryTest, APasswordCheckLeavesTheServiceConnectionAlone)
{
    auto directory = ovdir::MakeLdapDirectory(ReaderSettings());
    std::vector<Entry> found;
    ASSERT_EQ(directory->Search(People(), found), 0u);
    bool accepted = false;
    ASSERT_EQ(directory->CheckPassword("uid=alice,ou=People,o=ldaptest", "alice-pass", accepted),
              0u);
    // Still bound as the reader, which alone may not read alice's password
    // but may search as before.
    found.clear();
    ASSERT_EQ(directory->Search(People(), found), 0u);
    EXPECT_EQ(found.size(), 3u);
}

// Explicit domain searches.

struct DomainAnswer {
    unsigned status;
    int searchStatus;
    std::vector<std::string> domains;
};

DomainAnswer Domains(const std::string& server, bool ssl, const std::string& password,
                     const std::string& caFile, int limit = 100)
{
    ovdir::DirectorySettings settings = ReaderSettings();
    settings.caCertFile = caFile;
    DomainAnswer answer{0, -1, {}};
    answer.status = ovdir::MakeLdapDomainSource(settings, *ovdir::MakeLdapDirectory(settings))
                        ->ExplicitDomains(server, "cn=reader,o=ldaptest", password, ssl, limit,
                                          answer.domains, answer.searchStatus);
    return answer;
}

TEST_F(LdapDirectoryTest, DomainsOverSslWithTheCa)
{
    const DomainAnswer answer = Domains(LdapsAddress(), true, "reader-secret", CaFile());
    EXPECT_EQ(answer.status, 0u);
    EXPECT_EQ(answer.searchStatus, 0);
    EXPECT_EQ(answer.domains, std::vector<std::string>{"dc=ldaptest,dc=test"});
}

TEST_F(LdapDirectoryTest, DomainsOverSslWithoutTheCaIsAnSslFailure)
{
    const DomainAnswer answer = Domains(LdapsAddress(), true, "reader-secret", "");
    EXPECT_EQ(answer.status, 0u);
    EXPECT_EQ(answer.searchStatus, 6);
    EXPECT_TRUE(answer.domains.empty());
}

TEST_F(LdapDirectoryTest, DomainsOverSslAgainstAPlainPortIsAnSslFailure)
{
    const DomainAnswer answer = Domains(PlainAddress(), true, "reader-secret", CaFile());
    EXPECT_EQ(answer.searchStatus, 6);
}

TEST_F(LdapDirectoryTest, DomainsWithoutSslOnThePlainPort)
{
    const DomainAnswer answer = Domains(PlainAddress(), false, "reader-secret", "");
    EXPECT_EQ(answer.status, 0u);
    EXPECT_EQ(answer.searchStatus, 0);
    EXPECT_EQ(answer.domains, std::vector<std::string>{"dc=ldaptest,dc=test"});
}

TEST_F(LdapDirectoryTest, DomainsWithAWrongPasswordAreInvalidCredentials)
{
    const DomainAnswer answer = Domains(LdapsAddress(), true, "wrong", CaFile());
    EXPECT_EQ(answer.status, 0u);
    EXPECT_EQ(answer.searchStatus, 5);
}

TEST_F(LdapDirectoryTest, DomainsWithAnEmptyPasswordAreInvalidCredentialsUnsent)
{
    CallCounter counter;
    const DomainAnswer answer = Domains(PlainAddress(), false, "", "");
    EXPECT_EQ(answer.searchStatus, 5);
    EXPECT_EQ(CallCounter::binds, 0);
}

// A connection lost under the listing's first search fails the search, and
// its record says the server could not be reached.
TEST_F(LdapDirectoryTest, DomainsOnAConnectionLostAtTheFirstSearchAreAFailedSearch)
{
    TestApplication application;
    CallCounter counter;
    CallCounter::failSearches = 1;
    const DomainAnswer answer = Domains(PlainAddress(), false, "reader-secret", "");
    EXPECT_EQ(answer.searchStatus, 3);
    ASSERT_EQ(application.Records().size(), 1u);
    EXPECT_EQ(application.Records()[0].rfind("0x30A20005 ", 0), 0u) << application.Records()[0];
}

TEST_F(LdapDirectoryTest, DomainsFromAClosedPortAreAConnectionFailure)
{
    const DomainAnswer answer = Domains(ClosedPort(), false, "reader-secret", "");
    EXPECT_EQ(answer.status, 0u);
    EXPECT_EQ(answer.searchStatus, 2);
    const DomainAnswer overSsl = Domains(ClosedPort(), true, "reader-secret", CaFile());
    EXPECT_EQ(overSsl.searchStatus, 2);
}

TEST_F(LdapDirectoryTest, ALimitOfZeroSetsNoCap)
{
    const DomainAnswer answer = Domains(PlainAddress(), false, "reader-secret", "", 0);
    EXPECT_EQ(answer.searchStatus, 0);
    EXPECT_EQ(answer.domains, std::vector<std::string>{"dc=ldaptest,dc=test"});
}

// Transports of the configured directory.

TEST_F(LdapDirectoryTest, LdapsWithTheCaAnswers)
{
    ovdir::DirectorySettings settings = ReaderAt("ldaps://" + LdapsAddress());
    settings.caCertFile = CaFile();
    std::vector<Entry> found;
    EXPECT_EQ(SearchPeople(settings, found), 0u);
    EXPECT_EQ(found.size(), 3u);
}

TEST_F(LdapDirectoryTest, LdapsWithoutTheCaIsATlsFailure)
{
    std::vector<Entry> found;
    EXPECT_EQ(SearchPeople(ReaderAt("ldaps://" + LdapsAddress()), found), ovdir::kStatusTlsFailed);
}

TEST_F(LdapDirectoryTest, LdapsWithAMissingCaFileIsATlsFailure)
{
    ovdir::DirectorySettings settings = ReaderAt("ldaps://" + LdapsAddress());
    settings.caCertFile = ServerFolder("main") + "/no-such-ca.pem";
    std::vector<Entry> found;
    EXPECT_EQ(SearchPeople(settings, found), ovdir::kStatusTlsFailed);
    // A FIFO or a device there fails the same way instead of hanging the
    // TLS set-up or reading without end.
    const std::string fifo = ServerFolder("main") + "/ca-fifo-" + std::to_string(::getpid());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& file : {fifo, std::string("/dev/zero")}) {
        settings.caCertFile = file;
        EXPECT_EQ(SearchPeople(settings, found), ovdir::kStatusTlsFailed) << file;
    }
    ::unlink(fifo.c_str());
}

TEST_F(LdapDirectoryTest, StartTlsUpgradesThePlainPort)
{
    ovdir::DirectorySettings settings = ReaderSettings();
    settings.startTls = true;
    settings.caCertFile = CaFile();
    CallCounter counter;
    std::vector<Entry> found;
    EXPECT_EQ(SearchPeople(settings, found), 0u);
    EXPECT_EQ(found.size(), 3u);
    EXPECT_EQ(CallCounter::startTls, 1);
}

TEST_F(LdapDirectoryTest, StartTlsWithoutTheCaFailsBeforeTheBind)
{
    ovdir::DirectorySettings settings = ReaderSettings();
    settings.startTls = true;
    CallCounter counter;
    std::vector<Entry> found;
    EXPECT_EQ(SearchPeople(settings, found), ovdir::kStatusTlsFailed);
    EXPECT_EQ(CallCounter::binds, 0);
}

TEST_F(LdapDirectoryTest, StartTlsAgainstAServerWithoutTlsNeverFallsBack)
{
    ovdir::DirectorySettings settings = ReaderAt("ldap://" + PlainAddress("notls"));
    settings.startTls = true;
    settings.caCertFile = CaFile();
    CallCounter counter;
    std::vector<Entry> found;
    auto directory = ovdir::MakeLdapDirectory(settings);
    EXPECT_EQ(directory->Search(People(), found), ovdir::kStatusTlsFailed);
    EXPECT_EQ(directory->Search(People(), found), ovdir::kStatusTlsFailed);
    EXPECT_EQ(CallCounter::binds, 0);
    EXPECT_EQ(CallCounter::searches, 0);
    bool accepted = true;
    EXPECT_EQ(directory->CheckPassword("uid=alice,ou=People,o=ldaptest", "alice-pass", accepted),
              ovdir::kStatusTlsFailed);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(CallCounter::binds, 0);
}

}  // namespace
