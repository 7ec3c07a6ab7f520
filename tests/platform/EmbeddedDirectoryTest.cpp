// The embedded directory: searches, naming contexts, passwords, explicit
// domains, faults in the file, and speed on a large directory.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "TestApplication.h"
#include "platform/embedded/EmbeddedDirectory.h"
#include "platform/userservices/UserService.h"
#include "services/OvUserServiceBase.h"

using namespace ovdir;

namespace {

const char kDirectory[] = R"(dn: dc=x,dc=test
objectClass: domain
dc: x

dn: ou=A,dc=x,dc=test
objectClass: organizationalUnit
ou: A

dn: cn=One,ou=A,dc=x,dc=test
objectClass: person
cn: One
sn: First
userPassword: {SHA}FWFILBKSIiSW05u0PrYWGRhKUck=

dn: cn=Two,ou=A,dc=x,dc=test
objectClass: person
cn: Two
sn: Second

dn: cn=G,dc=x,dc=test
objectClass: groupOfNames
cn: G
member: CN=one, OU=a,DC=X,dc=test

dn: cn=Island
objectClass: container
cn: Island
)";

std::vector<std::string> Dns(const std::vector<Entry>& entries)
{
    std::vector<std::string> out;
    for (const Entry& entry : entries) out.push_back(entry.dn);
    return out;
}

class EmbeddedTest : public ::testing::Test {
protected:
    std::unique_ptr<EmbeddedDirectory> directory_ = EmbeddedDirectory::FromText(kDirectory, "test");

    std::vector<std::string> Found(const std::string& base, Scope scope, const Filter& filter,
                                   unsigned expected = 0)
    {
        SearchRequest request;
        request.base = base;
        request.scope = scope;
        request.filter = filter;
        std::vector<Entry> out;
        EXPECT_EQ(directory_->Search(request, out), expected);
        return Dns(out);
    }
};

using Dnl = std::vector<std::string>;

}  // namespace

TEST_F(EmbeddedTest, ScopesOfASearch)
{
    const Filter all = Filter::Present("objectclass");
    EXPECT_EQ(Found("OU=a, dc=X,dc=test", Scope::Base, all), (Dnl{"ou=A,dc=x,dc=test"}));
    EXPECT_EQ(Found("ou=A,dc=x,dc=test", Scope::OneLevel, all),
              (Dnl{"cn=One,ou=A,dc=x,dc=test", "cn=Two,ou=A,dc=x,dc=test"}));
    EXPECT_EQ(Found("dc=x,dc=test", Scope::Subtree, all).size(), 5u);
}

// Entries are found below their parent wherever the file lists them, and the
// children of one parent keep the file's order.
TEST(EmbeddedTreeTest, ChildrenBeforeTheirParentAreFoundBelowIt)
{
    auto directory = EmbeddedDirectory::FromText(
        "dn: cn=Late,ou=B,dc=y\ncn: Late\n\ndn: dc=y\ndc: y\n\n"
        "dn: cn=Deep,cn=Late,ou=B,dc=y\ncn: Deep\n\ndn: ou=B,dc=y\nou: B\n\n"
        "dn: cn=Early,ou=B,dc=y\ncn: Early\n",
        "tree");
    SearchRequest request;
    request.base = "ou=B,dc=y";
    std::vector<Entry> out;
    ASSERT_EQ(directory->Search(request, out), 0u);
    EXPECT_EQ(Dns(out), (Dnl{"ou=B,dc=y", "cn=Late,ou=B,dc=y", "cn=Deep,cn=Late,ou=B,dc=y",
                             "cn=Early,ou=B,dc=y"}));
    request.scope = Scope::OneLevel;
    request.attributes = {"cn"};
    ASSERT_EQ(directory->Search(request, out), 0u);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].dn, "cn=Early,ou=B,dc=y");
    EXPECT_EQ(out[1].First("cn"), "Early");
    std::vector<std::string> contexts;
    ASSERT_EQ(directory->NamingContexts(contexts), 0u);
    EXPECT_EQ(contexts, (Dnl{"dc=y"}));
}

TEST_F(EmbeddedTest, MissingBaseIsNoSuchEntry)
{
    Found("ou=B,dc=x,dc=test", Scope::Subtree, Filter::Present("cn"), kStatusNoSuchEntry);
}

TEST_F(EmbeddedTest, FiltersIgnoreCase)
{
    EXPECT_EQ(Found("dc=x,dc=test", Scope::Subtree,
                    Filter::And({Filter::Equals("objectclass", "PERSON"),
                                 Filter::Not(Filter::Contains("sn", "IRS"))})),
              (Dnl{"cn=Two,ou=A,dc=x,dc=test"}));
    EXPECT_EQ(Found("dc=x,dc=test", Scope::Subtree, Filter::Equals("cn", "  two ")),
              (Dnl{"cn=Two,ou=A,dc=x,dc=test"}));
}

TEST_F(EmbeddedTest, MembersCompareAsDns)
{
    EXPECT_EQ(
        Found("dc=x,dc=test", Scope::Subtree, Filter::Equals("member", "cn=One,ou=A,dc=x,dc=test")),
        (Dnl{"cn=G,dc=x,dc=test"}));
    EXPECT_EQ(Found("dc=x,dc=test", Scope::Subtree, Filter::Equals("member", "cn=One")), Dnl{});
}

TEST_F(EmbeddedTest, OnlyAskedAttributesComeBack)
{
    SearchRequest request;
    request.base = "cn=One,ou=A,dc=x,dc=test";
    request.scope = Scope::Base;
    request.filter = Filter::Present("objectclass");
    request.attributes = {"sn", "mail"};
    std::vector<Entry> out;
    ASSERT_EQ(directory_->Search(request, out), 0u);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0].attributes.size(), 1u);
    EXPECT_EQ(out[0].First("sn"), "First");
}

TEST_F(EmbeddedTest, NamingContextsAreEntriesWithoutParent)
{
    std::vector<std::string> contexts;
    ASSERT_EQ(directory_->NamingContexts(contexts), 0u);
    EXPECT_EQ(contexts, (Dnl{"dc=x,dc=test", "cn=Island"}));
}

TEST_F(EmbeddedTest, PasswordChecks)
{
    bool accepted = false;
    ASSERT_EQ(directory_->CheckPassword("cn=one,ou=a,dc=x,dc=test", "Secret123", accepted), 0u);
    EXPECT_TRUE(accepted);
    ASSERT_EQ(directory_->CheckPassword("cn=One,ou=A,dc=x,dc=test", "secret123", accepted), 0u);
    EXPECT_FALSE(accepted);
    ASSERT_EQ(directory_->CheckPassword("cn=One,ou=A,dc=x,dc=test", "", accepted), 0u);
    EXPECT_FALSE(accepted);
    ASSERT_EQ(directory_->CheckPassword("cn=Two,ou=A,dc=x,dc=test", "", accepted), 0u);
    EXPECT_FALSE(accepted);
    ASSERT_EQ(directory_->CheckPassword("cn=Nobody", "Secret123", accepted), 0u);
    EXPECT_FALSE(accepted);
}

TEST_F(EmbeddedTest, ExplicitDomainsIgnoreServerAndCheckCredentials)
{
    std::vector<std::string> domains;
    int searchStatus = -1;
    ASSERT_EQ(directory_->ExplicitDomains("nowhere.invalid:1", "cn=One,ou=A,dc=x,dc=test",
                                          "Secret123", true, 100, domains, searchStatus),
              0u);
    EXPECT_EQ(searchStatus, kDomainSearchSuccess);
    EXPECT_EQ(domains, (Dnl{"dc=x,dc=test"}));
    ASSERT_EQ(directory_->ExplicitDomains("h", "cn=One,ou=A,dc=x,dc=test", "wrong", false, 100,
                                          domains, searchStatus),
              0u);
    EXPECT_EQ(searchStatus, kDomainSearchInvalidCredentials);
    EXPECT_TRUE(domains.empty());
}

TEST_F(EmbeddedTest, DefaultServerIsLocalhost)
{
    EXPECT_EQ(directory_->DefaultServer(), "localhost");
}

class BrokenFileTest : public ::testing::Test {
protected:
    TestApplication application_;

    std::string Write(const std::string& name, const std::string& text)
    {
        const std::string path = ::testing::TempDir() + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
};

TEST_F(BrokenFileTest, FaultIsReportedOnceAndEveryCallFails)
{
    const std::string path = Write("broken.ldif", "dn: dc=x\ndc: x\n\ndn: cn=a,dc=x\ncn a\n");
    auto directory = EmbeddedDirectory::FromFile(path);
    UserService service(*directory);
    std::vector<OvWString> list;
    EXPECT_EQ(service.GetUsers(makeWideString("LDAP://h dc=x"), list), kStatusLoadFailed);
    EXPECT_EQ(service.GetDomains(makeWideString("LDAP"), list), kStatusLoadFailed);
    bool accepted = true;
    EXPECT_EQ(directory->CheckPassword("dc=x", "p", accepted), kStatusLoadFailed);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(application_.Records(),
              (Dnl{"0x30A20008 0x30A200 " + path + ":5 line without a colon"}));
}

TEST_F(BrokenFileTest, TheShippedBrokenFilesNameTheirLines)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/broken-base64.ldif", ":9 bad base64 value"},
        {"/broken-no-colon.ldif", ":7 line without a colon"},
        {"/broken-change-record.ldif", ":7 change records are not supported"},
    };
    for (const auto& [file, suffix] : cases) {
        const std::string path = std::string(OV_TEST_DATA) + file;
        auto directory = EmbeddedDirectory::FromFile(path);
        std::vector<std::string> contexts;
        EXPECT_EQ(directory->NamingContexts(contexts), kStatusLoadFailed) << file;
        ASSERT_FALSE(application_.Records().empty());
        EXPECT_EQ(application_.Records().back(), "0x30A20008 0x30A200 " + path + suffix);
    }
}

// A file that cannot be read is a load failure with the system's reason; a
// folder or FIFO is never an empty directory, and a FIFO never blocks.
TEST_F(BrokenFileTest, UnreadableFileSaysWhy)
{
    const std::string folder = ::testing::TempDir() + "ldif-folder";
    const std::string fifo = ::testing::TempDir() + "ldif-fifo";
    ::mkdir(folder.c_str(), 0700);
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {"/nonexistent/directory.ldif", "No such file or directory (ENOENT)"},
        {folder, "Is a directory (EISDIR)"},
        {fifo, "not a regular file (a FIFO, device or socket)"},
        {"/dev/zero", "not a regular file (a FIFO, device or socket)"},
    };
    for (const auto& [path, reason] : cases) {
        const std::size_t before = application_.Records().size();
        auto directory = EmbeddedDirectory::FromFile(path);
        std::vector<std::string> contexts;
        EXPECT_EQ(directory->NamingContexts(contexts), kStatusLoadFailed) << path;
        ASSERT_EQ(application_.Records().size(), before + 1) << path;
        EXPECT_EQ(
            application_.Records().back(),
            "0x30A20008 0x30A200 " + path + ":0 the directory file cannot be read: " + reason);
    }
    ::unlink(fifo.c_str());
    ::rmdir(folder.c_str());
}

TEST_F(BrokenFileTest, DuplicateEntry)
{
    const std::string path = Write("duplicate.ldif", "dn: dc=x\ndc: x\n\ndn: DC=X\ndc: x\n");
    auto directory = EmbeddedDirectory::FromFile(path);
    std::vector<std::string> contexts;
    EXPECT_EQ(directory->NamingContexts(contexts), kStatusLoadFailed);
    EXPECT_EQ(application_.Records(), (Dnl{"0x30A20008 0x30A200 " + path +
                                           ":4 an entry with this DN stands earlier in the file"}));
}

TEST(TestDataTest, TestDirectoryAndSampleLoad)
{
    for (const std::string& path :
         {std::string(OV_TEST_DATA) + "/directory.ldif",
          std::string(OV_TEST_DATA) + "/directory-ad.ldif", std::string(OV_SAMPLE_LDIF)}) {
        auto directory = EmbeddedDirectory::FromFile(path);
        std::vector<std::string> contexts;
        EXPECT_EQ(directory->NamingContexts(contexts), 0u) << path;
        EXPECT_EQ(contexts, (Dnl{"dc=example,dc=com"}));
    }
}

// A large container lists completely and in order. How fast it does is
// measured by bench/run.sh, not here: a timed test fails on a slow machine.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kLargeCount = 20000;  // instrumented allocation is slow
#else
constexpr int kLargeCount = 100000;
#endif

TEST(LargeDirectoryTest, LargeContainerListsCompletelyInOrder)
{
    std::string text =
        "dn: dc=big,dc=test\nobjectClass: domain\ndc: big\n\n"
        "dn: ou=People,dc=big,dc=test\nobjectClass: organizationalUnit\nou: People\n";
    char entry[256];
    for (int i = 0; i < kLargeCount; ++i) {
        std::snprintf(entry, sizeof entry,
                      "\ndn: cn=User %06d,ou=People,dc=big,dc=test\nobjectClass: top\n"
                      "objectClass: person\nobjectClass: inetOrgPerson\ncn: User %06d\n"
                      "sn: %06d\nuid: u%06d\nmail: u%06d@big.test\n",
                      kLargeCount - 1 - i, kLargeCount - 1 - i, i, i, i);
        text += entry;
    }
    auto directory = EmbeddedDirectory::FromText(std::move(text), "big");
    UserService service(*directory);
    std::vector<OvWString> users;
    ASSERT_EQ(service.GetUsers(makeWideString("LDAP://h ou=People,dc=big,dc=test"), users), 0u);
    ASSERT_EQ(users.size(), static_cast<std::size_t>(kLargeCount));
    EXPECT_EQ(makeString(users.front()), "LDAP://h ou=People,dc=big,dc=test/User 000000");
    char last[64];
    std::snprintf(last, sizeof last, "LDAP://h ou=People,dc=big,dc=test/User %06d",
                  kLargeCount - 1);
    EXPECT_EQ(makeString(users.back()), last);
}
