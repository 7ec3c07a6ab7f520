// The user service over a small directory held in memory: names, sorting,
// membership, searches and authentication.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "platform/embedded/EmbeddedDirectory.h"
#include "platform/embedded/SampleData.h"
#include "platform/userservices/UserService.h"
#include "tests/platform/FailingDirectory.h"

using namespace ovdir;

namespace {

const char kDirectory[] = R"(dn: dc=corp,dc=test
objectClass: domain
dc: corp

dn: ou=People,dc=corp,dc=test
objectClass: organizationalUnit
ou: People

dn: cn=bob Zed,ou=People,dc=corp,dc=test
objectClass: person
objectClass: inetOrgPerson
cn: bob Zed
uid: bzed
mail: shared@corp.test
userPassword: pw-bob

dn: cn=Alice Young,ou=People,dc=corp,dc=test
objectClass: person
cn: Alice Young
displayName: Alice Y.
uid: ayoung
mail: alice@corp.test

dn: cn=Carl Xu,ou=People,dc=corp,dc=test
objectClass: person
objectClass: adAccount
cn: Carl Xu
sAMAccountName: cxu
mail: SHARED@corp.test

dn: cn=Star*)(uid=*,ou=People,dc=corp,dc=test
objectClass: person
cn: Star*)(uid=*
uid: star

dn: cn=NoMail,ou=People,dc=corp,dc=test
objectClass: person
cn: NoMail
uid: nomail

dn: cn=ws1,ou=People,dc=corp,dc=test
objectClass: person
objectClass: device
objectClass: computer
cn: ws1

dn: ou=Groups,dc=corp,dc=test
objectClass: organizationalUnit
ou: Groups

dn: cn=Team,ou=Groups,dc=corp,dc=test
objectClass: groupOfNames
cn: Team
member: CN=BOB ZED, ou=people,dc=corp,dc=test
member: cn=Inner,ou=Groups,dc=corp,dc=test

dn: cn=Inner,ou=Groups,dc=corp,dc=test
objectClass: group
cn: Inner
member: cn=Team,ou=Groups,dc=corp,dc=test
member: cn=alice young,ou=people,dc=corp,dc=test
member: cn=bob Zed,ou=People,dc=corp,dc=test
member: cn=Gone,ou=People,dc=corp,dc=test

dn: cn=Posix,ou=Groups,dc=corp,dc=test
objectClass: posixGroup
cn: Posix
memberUid: cxu
memberUid: ghost

dn: cn=Unique,ou=Groups,dc=corp,dc=test
objectClass: groupOfUniqueNames
cn: Unique
uniqueMember: cn=Alice Young,ou=People,dc=corp,dc=test#'01'B

dn: cn=System,dc=corp,dc=test
objectClass: container
cn: System

dn: cn=t1,cn=System,dc=corp,dc=test
objectClass: trustedDomain
cn: t1
trustPartner: zeta.test

dn: cn=alpha.test,cn=System,dc=corp,dc=test
objectClass: trustedDomain
cn: alpha.test

dn: ou=Domain Controllers,dc=corp,dc=test
objectClass: organizationalUnit
ou: Domain Controllers

dn: cn=DC-B,ou=Domain Controllers,dc=corp,dc=test
objectClass: computer
cn: DC-B
dNSHostName: b.corp.test
ipHostNumber: 10.0.0.2

dn: cn=DC-A,ou=Domain Controllers,dc=corp,dc=test
objectClass: computer
cn: DC-A
ipHostNumber: 10.0.0.1

dn: ou=Empty,dc=corp,dc=test
objectClass: organizationalUnit
ou: Empty

dn: ou=R/D,dc=corp,dc=test
objectClass: organizationalUnit
ou: R/D

dn: cn=Dee/Dum\, Jr.,ou=R/D,dc=corp,dc=test
objectClass: person
cn: Dee/Dum, Jr.
uid: dee

dn: dc=other,dc=test
objectClass: dcObject
objectClass: organization
dc: other
o: Other

dn: cn=Bob Other,dc=other,dc=test
objectClass: person
cn: Bob Other
uid: bzed
userPassword: pw-other

dn: o=Config
objectClass: organization
o: Config
)";

const std::string kPeople = "ou=People,dc=corp,dc=test/";

std::vector<std::string> Narrow(const std::vector<OvWString>& list)
{
    std::vector<std::string> out;
    for (const OvWString& item : list) out.push_back(makeString(item));
    return out;
}

class UserServiceTest : public ::testing::Test {
protected:
    UserServiceTest()
        : directory_(EmbeddedDirectory::FromText(kDirectory, "test")), service_(*directory_)
    {
    }

    std::vector<std::string> List(unsigned (UserService::*operation)(const OvWString&,
                                                                     std::vector<OvWString>&),
                                  const std::string& argument, unsigned expected = 0)
    {
        std::vector<OvWString> out;
        EXPECT_EQ((service_.*operation)(makeWideString(argument), out), expected) << argument;
        return Narrow(out);
    }

    std::vector<std::string> Search(unsigned (UserService::*operation)(const OvWString&,
                                                                       const OvWString&, bool&,
                                                                       std::vector<OvWString>&),
                                    const std::string& name, bool exact)
    {
        std::vector<OvWString> out;
        EXPECT_EQ((service_.*operation)(makeWideString("LDAP://h dc=corp,dc=test"),
                                        makeWideString(name), exact, out),
                  0u);
        return Narrow(out);
    }

    std::unique_ptr<EmbeddedDirectory> directory_;
    UserService service_;
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(UserServiceTest, UsersAreSortedIgnoringCaseAndComputersLeftOut)
{
    const std::string p = "LDAP://srv:389 " + kPeople;
    EXPECT_EQ(List(&UserService::GetUsers, "ldap://srv:389 dc=corp,dc=test"),
              (Names{p + "Alice Young", p + "bob Zed", p + "Carl Xu", p + "NoMail",
                     p + "Star*)(uid=*", "LDAP://srv:389 ou=R/D,dc=corp,dc=test/Dee/Dum, Jr."}));
}

// An LDAP server matches (objectClass=person) against entries that list only
// a class derived from it; the embedded directory must answer the same.
TEST(ObjectClassTest, DerivedClassesCountAsTheirSuperiors)
{
    auto directory = EmbeddedDirectory::FromText(R"(dn: dc=corp,dc=test
objectClass: domain
dc: corp

dn: cn=Only Inet,dc=corp,dc=test
objectClass: inetOrgPerson
cn: Only Inet
sn: Inet

dn: cn=Only Org,dc=corp,dc=test
objectClass: organizationalPerson
cn: Only Org
sn: Org

dn: cn=ws9,dc=corp,dc=test
objectClass: computer
cn: ws9

dn: cn=Kurt,dc=corp,dc=test
objectClass: OpenLDAPperson
cn: Kurt

dn: cn=Looped,dc=corp,dc=test
objectClass: loopA
cn: Looped

dn: cn=Subschema
objectClass: subschema
objectClasses: ( 1.9.1 NAME 'loopA' SUP loopB )
objectClasses: ( 1.9.2 NAME 'loopB' SUP ( loopA $ top ) )
)",
                                                 "test");
    UserService service(*directory);
    std::vector<OvWString> users;
    ASSERT_EQ(service.GetUsers(makeWideString("LDAP://h dc=corp,dc=test"), users), 0u);
    // OpenLDAP's own person class counts; a cycle the file declares ends.
    EXPECT_EQ(Narrow(users),
              (Names{"LDAP://h dc=corp,dc=test/Kurt", "LDAP://h dc=corp,dc=test/Only Inet",
                     "LDAP://h dc=corp,dc=test/Only Org"}));
    std::vector<OvWString> workstations;
    ASSERT_EQ(service.GetWorkstations(makeWideString("CORP"), workstations), 0u);
    EXPECT_EQ(Narrow(workstations), Names{"ws9"});
}

TEST_F(UserServiceTest, EveryPrintedUserCanBeTypedBack)
{
    const Names users = List(&UserService::GetUsers, "LDAP://srv:389 dc=corp,dc=test");
    ASSERT_FALSE(users.empty());
    for (const std::string& user : users) {
        OvWString full, login;
        EXPECT_EQ(service_.GetUserLoginAndFullName(makeWideString(user), full, login), 0u) << user;
    }
}

TEST_F(UserServiceTest, SlashesInDnAndNameAreBothRead)
{
    OvWString full, login;
    ASSERT_EQ(service_.GetUserLoginAndFullName(
                  makeWideString("LDAP://h ou=R/D,dc=corp,dc=test/Dee/Dum, Jr."), full, login),
              0u);
    EXPECT_EQ(makeString(login), "dee");
}

TEST_F(UserServiceTest, EmptyContainerGivesEmptyList)
{
    EXPECT_EQ(List(&UserService::GetUsers, "LDAP://h ou=Empty,dc=corp,dc=test"), Names{});
}

TEST_F(UserServiceTest, ListingErrors)
{
    List(&UserService::GetUsers, "LDAP://h ou=Nowhere,dc=corp,dc=test", kStatusNoSuchEntry);
    List(&UserService::GetUsers, "LDAP://h", kStatusMalformedName);
    List(&UserService::GetUsers, "FTP://h dc=corp,dc=test", kStatusUnsupportedType);
}

TEST_F(UserServiceTest, GroupsOfEveryKind)
{
    const std::string g = "LDAP://h ou=Groups,dc=corp,dc=test/";
    EXPECT_EQ(List(&UserService::GetGroups, "LDAP://h dc=corp,dc=test"),
              (Names{g + "Inner", g + "Posix", g + "Team", g + "Unique"}));
}

TEST_F(UserServiceTest, DomainsAreNamingContextsThatAreDomains)
{
    EXPECT_EQ(List(&UserService::GetDomains, "ads"),
              (Names{"LDAP://localhost dc=corp,dc=test", "LDAP://localhost dc=other,dc=test"}));
    List(&UserService::GetDomains, "WinNT", kStatusUnsupportedType);
}

TEST_F(UserServiceTest, NestedMembersListedOnceThroughACycle)
{
    const std::string p = "LDAP://h " + kPeople;
    EXPECT_EQ(List(&UserService::GetUsersForGroup, "LDAP://h ou=Groups,dc=corp,dc=test/team"),
              (Names{p + "Alice Young", p + "bob Zed"}));
}

TEST_F(UserServiceTest, MemberUidAndUniqueMember)
{
    const std::string p = "LDAP://h " + kPeople;
    EXPECT_EQ(List(&UserService::GetUsersForGroup, "LDAP://h ou=Groups,dc=corp,dc=test/Posix"),
              (Names{p + "Carl Xu"}));
    EXPECT_EQ(List(&UserService::GetUsersForGroup, "LDAP://h ou=Groups,dc=corp,dc=test/Unique"),
              (Names{p + "Alice Young"}));
}

// A group with many members in one container: the container is read in one
// search, capped at a few times the members there, and the members past the
// cap are looked up one by one. The answer is the same as with a lookup for
// each member, and any failing read fails the listing.
TEST(LargeGroupTest, MembersOfAContainerReadTogetherOrOneByOne)
{
    std::string ldif =
        "dn: dc=big,dc=test\nobjectClass: domain\ndc: big\n\n"
        "dn: ou=Many,dc=big,dc=test\nobjectClass: organizationalUnit\nou: Many\n\n"
        "dn: ou=Other,dc=big,dc=test\nobjectClass: organizationalUnit\nou: Other\n\n"
        "dn: cn=Outside,ou=Other,dc=big,dc=test\nobjectClass: person\ncn: Outside\n\n"
        "dn: cn=Inner,ou=Many,dc=big,dc=test\nobjectClass: groupOfNames\ncn: Inner\n"
        "member: cn=Outside,ou=Other,dc=big,dc=test\n\n";
    std::string group =
        "dn: cn=Big,dc=big,dc=test\nobjectClass: groupOfNames\ncn: Big\n"
        "member: cn=Inner,ou=Many,dc=big,dc=test\n"
        "member: cn=Gone,ou=Many,dc=big,dc=test\n";
    Names expected;
    for (int i = 0; i < 400; ++i) {
        const std::string name = "User " + std::to_string(1000 + i);
        ldif +=
            "dn: cn=" + name + ",ou=Many,dc=big,dc=test\nobjectClass: person\ncn: " + name + "\n\n";
        if (i % 6 != 0) continue;
        group += "member: cn=" + name + ",ou=Many,dc=big,dc=test\n";
        expected.push_back("LDAP://h ou=Many,dc=big,dc=test/" + name);
    }
    expected.push_back("LDAP://h ou=Other,dc=big,dc=test/Outside");
    auto embedded = EmbeddedDirectory::FromText(ldif + group, "test");
    ovtest::FailingDirectory failing(*embedded);
    UserService service(failing);
    const OvWString context = makeWideString("LDAP://h dc=big,dc=test/Big");
    std::vector<OvWString> users;
    ASSERT_EQ(service.GetUsersForGroup(context, users), 0u);
    EXPECT_EQ(Narrow(users), expected);
    const int calls = failing.Calls();
    // Resolving the group, its domain, one read of ou=Many, the members past
    // its cap, the one below Inner: far fewer than the members.
    EXPECT_LT(calls, 40);
    // The whole expansion is bounded: it takes 140 entries and member values
    // (the group's own included) and 21 searches.
    const std::tuple<std::size_t, std::size_t, unsigned> limits[] = {
        {139, 21, kStatusExpansionTooLarge}, {140, 20, kStatusExpansionTooLarge}, {140, 21, 0}};
    for (const auto& [entries, searches, status] : limits) {
        UserService bounded(failing, {entries, searches});
        EXPECT_EQ(bounded.GetUsersForGroup(context, users), status) << entries << " " << searches;
    }
    for (int call = 0; call < calls; ++call) {
        failing.FailAt(call, kStatusRefused, 1000);
        users.clear();
        EXPECT_EQ(service.GetUsersForGroup(context, users), kStatusRefused) << "call " << call;
        EXPECT_TRUE(users.empty()) << "call " << call;
    }
}

TEST_F(UserServiceTest, AnEntryOfAnotherKindSaysWhatItIsNot)
{
    List(&UserService::GetUsersForGroup, "LDAP://h " + kPeople + "Carl Xu", kStatusNotGroup);
    List(&UserService::GetUsersForGroup, "LDAP://h dc=corp,dc=test/People", kStatusNotGroup);
    List(&UserService::GetUsers, "LDAP://h " + kPeople + "Carl Xu", kStatusNotContainer);
    List(&UserService::GetGroups, "LDAP://h ou=Groups,dc=corp,dc=test/Team", kStatusNotContainer);
    List(&UserService::GetUsers, "LDAP://h " + kPeople + "Nobody", kStatusNoSuchEntry);
}

TEST_F(UserServiceTest, UserGroupsAreDirectOnes)
{
    const std::string g = "LDAP://h ou=Groups,dc=corp,dc=test/";
    EXPECT_EQ(List(&UserService::GetUserGroups, "LDAP://h " + kPeople + "bob zed"),
              (Names{g + "Inner", g + "Team"}));
    EXPECT_EQ(List(&UserService::GetUserGroups, "LDAP://h " + kPeople + "Carl Xu"),
              (Names{g + "Posix"}));
}

TEST_F(UserServiceTest, FqdnOrOwnDnNamesAUser)
{
    OvWString name;
    ASSERT_EQ(service_.GetFullUserName(makeWideString("LDAP://h " + kPeople + "ALICE YOUNG"), name),
              0u);
    EXPECT_EQ(makeString(name), "Alice Y.");
    name.clear();
    ASSERT_EQ(service_.GetFullUserName(
                  makeWideString("LDAP://h cn=bob Zed,ou=People,dc=corp,dc=test"), name),
              0u);
    EXPECT_EQ(makeString(name), "bob Zed");
    EXPECT_EQ(
        service_.GetFullUserName(makeWideString("LDAP://h ou=Groups,dc=corp,dc=test/Team"), name),
        kStatusNotUser);
    EXPECT_EQ(service_.GetFullUserName(makeWideString("LDAP://h " + kPeople + "Nobody"), name),
              kStatusNoSuchEntry);
}

TEST_F(UserServiceTest, LoginFallsBackToAccountName)
{
    OvWString full, login;
    ASSERT_EQ(service_.GetUserLoginAndFullName(makeWideString("LDAP://h " + kPeople + "Carl Xu"),
                                               full, login),
              0u);
    EXPECT_EQ(makeString(full), "Carl Xu");
    EXPECT_EQ(makeString(login), "cxu");
}

TEST_F(UserServiceTest, UserWithoutEmail)
{
    OvWString mail;
    EXPECT_EQ(service_.GetUserEmailAddr(makeWideString("LDAP://h " + kPeople + "NoMail"), mail),
              kStatusNoEmail);
    EXPECT_TRUE(mail.empty());
}

TEST_F(UserServiceTest, QualifiedNameFromDomainLogin)
{
    OvWString fqdn;
    ASSERT_EQ(service_.GetQualifiedNameForUser(makeWideString("default://corp\\CXU"), fqdn), 0u);
    EXPECT_EQ(makeString(fqdn), "LDAP://localhost " + kPeople + "Carl Xu");
    EXPECT_EQ(service_.GetQualifiedNameForUser(makeWideString("default://nope\\cxu"), fqdn),
              kStatusNoSuchEntry);
    EXPECT_EQ(service_.GetQualifiedNameForUser(makeWideString("corp\\cxu"), fqdn),
              kStatusMalformedName);
}

TEST_F(UserServiceTest, EmailSharedByTwoUsersIsAmbiguous)
{
    OvWString fqdn, full, login;
    EXPECT_EQ(service_.GetUserInfoFromEmail(makeWideString("Shared@corp.test"), fqdn, full, login),
              kStatusAmbiguous);
    EXPECT_TRUE(fqdn.empty() && full.empty() && login.empty());
    ASSERT_EQ(service_.GetUserInfoFromEmail(makeWideString("ALICE@corp.test"), fqdn, full, login),
              0u);
    EXPECT_EQ(makeString(fqdn), "LDAP://localhost " + kPeople + "Alice Young");
    EXPECT_EQ(makeString(full), "Alice Y.");
    EXPECT_EQ(makeString(login), "ayoung");
}

TEST_F(UserServiceTest, SearchTextIsNeverFilterSyntax)
{
    EXPECT_EQ(Search(&UserService::SearchUsersFromName, "*)(uid=*", false),
              (Names{"LDAP://h " + kPeople + "Star*)(uid=*"}));
    EXPECT_EQ(Search(&UserService::SearchUsersFromName, "*", true), Names{});
}

TEST_F(UserServiceTest, ExactAndContainingSearches)
{
    EXPECT_EQ(Search(&UserService::SearchUsersFromName, "alice y.", true),
              (Names{"LDAP://h " + kPeople + "Alice Young"}));
    EXPECT_EQ(Search(&UserService::SearchUsersFromName, "alice", true), Names{});
    EXPECT_EQ(Search(&UserService::SearchUsersFromName, "ZED", false),
              (Names{"LDAP://h " + kPeople + "bob Zed"}));
    EXPECT_EQ(Search(&UserService::SearchGroupsFromName, "n", false),
              (Names{"LDAP://h ou=Groups,dc=corp,dc=test/Inner",
                     "LDAP://h ou=Groups,dc=corp,dc=test/Unique"}));
    EXPECT_EQ(Search(&UserService::SearchOrgUnitsFromName, "PEOPLE", true),
              (Names{"LDAP://h ou=People,dc=corp,dc=test"}));
}

TEST_F(UserServiceTest, AuthenticationChecksThePassword)
{
    OvWString full;
    bool authenticated = true;
    ASSERT_EQ(service_.TestUserAuthentication(makeWideString("corp\\bzed"),
                                              makeWideString("pw-bob"), full, authenticated),
              0u);
    EXPECT_EQ(makeString(full), "bob Zed");
    EXPECT_TRUE(authenticated);
    ASSERT_EQ(service_.TestUserAuthentication(makeWideString("corp\\bzed"), makeWideString("pw-bo"),
                                              full, authenticated),
              0u);
    EXPECT_FALSE(authenticated);
}

TEST_F(UserServiceTest, EmptyPasswordNeverAuthenticates)
{
    OvWString full;
    bool authenticated = true;
    ASSERT_EQ(
        service_.TestUserAuthentication(makeWideString("ayoung"), OvWString(), full, authenticated),
        0u);
    EXPECT_EQ(makeString(full), "Alice Y.");
    EXPECT_FALSE(authenticated);
}

TEST_F(UserServiceTest, AuthenticationOfUnknownOrAmbiguousLogin)
{
    OvWString full;
    bool authenticated = false;
    EXPECT_EQ(service_.TestUserAuthentication(makeWideString("nobody"), makeWideString("x"), full,
                                              authenticated),
              kStatusNoSuchEntry);
    EXPECT_EQ(service_.TestUserAuthentication(makeWideString("bzed"), makeWideString("pw-bob"),
                                              full, authenticated),
              kStatusAmbiguous);
    EXPECT_TRUE(full.empty());
}

TEST_F(UserServiceTest, TrustedDomainsNamedByPartnerElseCn)
{
    EXPECT_EQ(List(&UserService::GetTrustedDomains, "LDAP://h dc=corp,dc=test"),
              (Names{"alpha.test", "zeta.test"}));
    EXPECT_EQ(List(&UserService::GetTrustedDomains, "LDAP://h dc=other,dc=test"), Names{});
    List(&UserService::GetTrustedDomains, "LDAP://h ou=People,dc=corp,dc=test", kStatusNoSuchEntry);
}

TEST_F(UserServiceTest, WorkstationsOfADomainByShortName)
{
    EXPECT_EQ(List(&UserService::GetWorkstations, "CORP"), (Names{"DC-A", "DC-B", "ws1"}));
    List(&UserService::GetWorkstations, "nope", kStatusNoSuchEntry);
}

TEST_F(UserServiceTest, ExplicitDomainsWithRightAndWrongCredentials)
{
    std::vector<OvWString> domains;
    int limit = 100;
    bool ssl = true;
    int searchStatus = -1;
    {
        OvWIFFLEPassword password(makeWideString("pw-bob"), false);
        ASSERT_EQ(
            service_.GetDomainsSsl(makeWideString("LDAP://10.1.1.1:3268 dc=corp,dc=test"),
                                   makeWideString("cn=bob zed,ou=people,dc=corp,dc=test"), password,
                                   makeWideString("ADS"), limit, ssl, domains, searchStatus),
            0u);
    }
    EXPECT_EQ(searchStatus, kDomainSearchSuccess);
    EXPECT_EQ(Narrow(domains), (Names{"LDAP://10.1.1.1:3268 dc=corp,dc=test",
                                      "LDAP://10.1.1.1:3268 dc=other,dc=test"}));
    OvWIFFLEPassword wrong(makeWideString("pw-bo"), false);
    ASSERT_EQ(service_.GetDomainsSsl(makeWideString("LDAP://10.1.1.1:3268"),
                                     makeWideString("cn=bob zed,ou=people,dc=corp,dc=test"), wrong,
                                     makeWideString("NDS"), limit, ssl, domains, searchStatus),
              0u);
    EXPECT_EQ(searchStatus, kDomainSearchInvalidCredentials);
    EXPECT_TRUE(domains.empty());
}

TEST_F(UserServiceTest, ExplicitDomainsCappedAndEmptyPasswordRefused)
{
    std::vector<OvWString> domains;
    int limit = 1;
    bool ssl = false;
    int searchStatus = -1;
    OvWIFFLEPassword password(makeWideString("pw-bob"), false);
    ASSERT_EQ(
        service_.GetDomainsSsl(makeWideString("LDAP://h"),
                               makeWideString("cn=bob Zed,ou=People,dc=corp,dc=test"), password,
                               makeWideString("iPlanet"), limit, ssl, domains, searchStatus),
        0u);
    EXPECT_EQ(domains.size(), 1u);
    OvWIFFLEPassword empty(OvWString(), false);
    ASSERT_EQ(service_.GetDomainsSsl(makeWideString("LDAP://h"),
                                     makeWideString("cn=bob Zed,ou=People,dc=corp,dc=test"), empty,
                                     makeWideString("ADS"), limit, ssl, domains, searchStatus),
              0u);
    EXPECT_EQ(searchStatus, kDomainSearchInvalidCredentials);
    EXPECT_EQ(service_.GetDomainsSsl(makeWideString("LDAP://h"), makeWideString("x"), password,
                                     makeWideString("SQL"), limit, ssl, domains, searchStatus),
              kStatusUnsupportedType);
}

TEST(SampleDirectoryTest, PromptExamplesAnswer)
{
    auto directory = EmbeddedDirectory::FromText(SampleDirectoryLdif(), "sample");
    UserService service(*directory);
    OvWString fqdn, full, login;
    ASSERT_EQ(
        service.GetUserInfoFromName(makeWideString("default://EXAMPLE\\jsmith"), fqdn, full, login),
        0u);
    EXPECT_EQ(makeString(fqdn), "LDAP://localhost ou=Sales,dc=example,dc=com/John Smith");
    EXPECT_EQ(makeString(full), "John Smith");
    OvWString mail;
    ASSERT_EQ(service.GetUserEmailAddr(
                  makeWideString("LDAP://127.0.0.1 ou=Sales,dc=example,dc=com/John Smith"), mail),
              0u);
    EXPECT_EQ(makeString(mail), "jsmith@example.com");
    bool authenticated = false;
    ASSERT_EQ(service.TestUserAuthentication(makeWideString("administrator"),
                                             makeWideString("Admin#2024"), full, authenticated),
              0u);
    EXPECT_TRUE(authenticated);
    std::vector<OvWString> users;
    ASSERT_EQ(service.GetUsersForGroup(
                  makeWideString("LDAP://127.0.0.1 cn=Users,dc=example,dc=com/Sales Team"), users),
              0u);
    EXPECT_EQ(Narrow(users),
              (Names{"LDAP://127.0.0.1 ou=Sales,dc=example,dc=com/John Smith",
                     "LDAP://127.0.0.1 ou=Sales,dc=example,dc=com/J\xC3\xBCrgen M\xC3\xBCller",
                     "LDAP://127.0.0.1 ou=Sales,dc=example,dc=com/Mary Jones"}));
    std::vector<OvWString> groups;
    ASSERT_EQ(
        service.GetGroups(makeWideString("LDAP://127.0.0.1 ou=Sales,dc=example,dc=com"), groups),
        0u);
    EXPECT_EQ(Narrow(groups), Names{"LDAP://127.0.0.1 ou=Sales,dc=example,dc=com/Sales Managers"});
}

// Completion of typed contexts: containers by the start of their DN, then the
// users and groups of a container by the start of their name.
TEST_F(UserServiceTest, CompletionOfContexts)
{
    struct Row {
        const char* typed;
        unsigned limit;
        unsigned status;
        Names words;
    };
    const Row rows[] = {
        {"LDAP://h ou=p", 100, 0, {"ou=People,dc=corp,dc=test"}},
        {"ldap://h:389   OU=R", 100, 0, {"ou=R/D,dc=corp,dc=test"}},
        {"LDAP://h dc=", 100, 0, {"dc=corp,dc=test", "dc=other,dc=test"}},
        {"LDAP://h ou=People,dc=corp", 100, 0, {"ou=People,dc=corp,dc=test"}},
        {"LDAP://h ou=Nowhere", 100, 0, {}},
        {"LDAP://h ou=People,dc=corp,dc=test/",
         100,
         0,
         {"Alice Young", "bob Zed", "Carl Xu", "NoMail", "Star*)(uid=*"}},
        {"LDAP://h ou=People,dc=corp,dc=test/B", 100, 0, {"bob Zed"}},
        {"LDAP://h ou=People,dc=corp,dc=test/Star*", 100, 0, {"Star*)(uid=*"}},
        {"LDAP://h ou=Groups,dc=corp,dc=test/", 100, 0, {"Inner", "Posix", "Team", "Unique"}},
        {"LDAP://h ou=R/D,dc=corp,dc=test/d", 100, 0, {"Dee/Dum, Jr."}},
        {"LDAP://h ou=People,dc=corp,dc=test/", 2, 0, {"Alice Young", "bob Zed"}},
        {"LDAP://h ou=Nowhere,dc=corp,dc=test/", 100, kStatusNoSuchEntry, {}},
        {"LDAP://h", 100, kStatusMalformedName, {}},
        {"LDAP://h no dn/x", 100, kStatusMalformedName, {}},
        {"XYZ://h ou=", 100, kStatusUnsupportedType, {}},
    };
    for (const Row& row : rows) {
        std::vector<OvWString> words;
        EXPECT_EQ(service_.CompleteContext(makeWideString(row.typed), row.limit, 2000, words),
                  row.status)
            << row.typed;
        EXPECT_EQ(Narrow(words), row.words) << row.typed;
    }
    std::vector<OvWString> words;
    EXPECT_EQ(service_.CompleteContext(makeWideString("LDAP://h ou="), 100, 0, words),
              kStatusTimeout);
}
