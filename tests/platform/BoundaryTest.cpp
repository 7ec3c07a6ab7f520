// Ranges and uniqueness at the layer that enforces them, at both ends: ports
// of a server, letters that fold, the embedded directory's domain limit, and
// two entries with one naming value under one container.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/Utf8.h"
#include "platform/directory/Names.h"
#include "platform/embedded/EmbeddedDirectory.h"
#include "platform/userservices/UserService.h"
#include "services/OvUserServiceBase.h"

using namespace ovdir;

namespace {

// Ports.

struct PortCase {
    const char* context;
    unsigned status;
};

const PortCase kPorts[] = {
    {"LDAP://h:0 dc=x", kStatusMalformedName},
    {"LDAP://h:1 dc=x", 0},
    {"LDAP://h:65535 dc=x", 0},
    {"LDAP://h:65536 dc=x", kStatusMalformedName},
    {"LDAP://h:00001 dc=x", 0},
    {"LDAP://h:000001 dc=x", kStatusMalformedName},
    {"LDAP://[::1]:65535 dc=x", 0},
    {"LDAP://[::1]:65536 dc=x", kStatusMalformedName},
    {"LDAP://[::1]:0 dc=x", kStatusMalformedName},
    {"LDAP://h: dc=x", kStatusMalformedName},
};

TEST(BoundaryTest, PortsFromOneTo65535)
{
    for (const PortCase& row : kPorts) {
        Context context;
        EXPECT_EQ(ParseContext(row.context, context), row.status) << row.context;
    }
}

// Case folding: the first and last letter of each folded range, and the
// letters next to a range that stay as they are.

std::string Utf8(std::uint32_t codePoint)
{
    std::string text;
    ovutf8::Encode(codePoint, text);
    return text;
}

struct FoldRow {
    std::uint32_t letter;
    std::uint32_t folded;
};

const FoldRow kFolds[] = {
    {'A', 'a'},       {'Z', 'z'},       {'@', '@'},       {'[', '['},       {'a', 'a'},
    {0x00C0, 0x00E0}, {0x00D6, 0x00F6}, {0x00D7, 0x00D7}, {0x00D8, 0x00F8}, {0x00DE, 0x00FE},
    {0x00DF, 0x00DF}, {0x00E0, 0x00E0}, {0x00FE, 0x00FE}, {0x0100, 0x0101}, {0x0136, 0x0137},
    {0x0137, 0x0137}, {0x0138, 0x0138}, {0x0139, 0x013A}, {0x0147, 0x0148}, {0x0149, 0x0149},
    {0x014A, 0x014B}, {0x0176, 0x0177}, {0x0178, 0x00FF}, {0x0179, 0x017A}, {0x017D, 0x017E},
    {0x017F, 0x017F}, {0x0390, 0x0390}, {0x0391, 0x03B1}, {0x03A1, 0x03C1}, {0x03A2, 0x03A2},
    {0x03A3, 0x03C3}, {0x03AB, 0x03CB}, {0x03AC, 0x03AC}, {0x03FF, 0x03FF}, {0x0400, 0x0450},
    {0x040F, 0x045F}, {0x0410, 0x0430}, {0x042F, 0x044F}, {0x0430, 0x0430}, {0x0450, 0x0450},
};

TEST(BoundaryTest, FirstAndLastLetterOfEveryFoldedRange)
{
    for (const FoldRow& row : kFolds) {
        const std::string letter = "x" + Utf8(row.letter) + "y";
        const std::string folded = "x" + Utf8(row.folded) + "y";
        EXPECT_EQ(FoldCase(letter), folded) << std::hex << "U+" << row.letter;
        EXPECT_TRUE(EqualsIgnoringCase(letter, folded)) << std::hex << "U+" << row.letter;
        EXPECT_EQ(PrepareValue(letter), FoldCase(folded)) << std::hex << "U+" << row.letter;
    }
}

// The embedded directory's cap on the domains of an explicit search: at most
// that many, none at 0 or below.

const char kThreeDomains[] =
    "dn: dc=one,dc=test\nobjectClass: domain\n\n"
    "dn: cn=admin,dc=one,dc=test\nobjectClass: person\nuserPassword: pw\n\n"
    "dn: o=NoDomain\nobjectClass: organization\n\n"
    "dn: dc=two,dc=test\nobjectClass: dcObject\n\n"
    "dn: dc=three,dc=test\nobjectClass: domain\n";

struct LimitCase {
    int limit;
    std::size_t domains;
};

const LimitCase kLimits[] = {{-1, 3}, {0, 3}, {1, 1}, {2, 2}, {3, 3}, {4, 3}};

TEST(BoundaryTest, EmbeddedDomainLimitZeroOneAndN)
{
    auto directory = EmbeddedDirectory::FromText(kThreeDomains, "domains");
    for (const LimitCase& row : kLimits) {
        std::vector<std::string> domains;
        int searchStatus = -1;
        ASSERT_EQ(directory->ExplicitDomains("h", "cn=admin,dc=one,dc=test", "pw", false, row.limit,
                                             domains, searchStatus),
                  0u);
        EXPECT_EQ(searchStatus, kDomainSearchSuccess);
        EXPECT_EQ(domains.size(), row.domains) << "limit " << row.limit;
    }
}

// One naming value twice under a container is ambiguous, whatever the naming
// attribute: Pat under ou=People (by cn and by uid), Staff under ou=Other. Pat
// under another container, or Lee as a mere uid value of a second entry, is not.
const char kNamesakes[] = R"(dn: dc=amb,dc=test
objectClass: domain

dn: ou=People,dc=amb,dc=test
objectClass: organizationalUnit

dn: cn=Pat,ou=People,dc=amb,dc=test
objectClass: inetOrgPerson
cn: Pat
mail: pat1@amb.test

dn: uid=PAT,ou=People,dc=amb,dc=test
objectClass: inetOrgPerson
uid: PAT
mail: pat2@amb.test

dn: cn=Lee,ou=People,dc=amb,dc=test
objectClass: inetOrgPerson
cn: Lee
mail: lee@amb.test

dn: cn=Lee Other,ou=People,dc=amb,dc=test
objectClass: inetOrgPerson
uid: Lee

dn: ou=Other,dc=amb,dc=test
objectClass: organizationalUnit

dn: cn=Pat,ou=Other,dc=amb,dc=test
objectClass: inetOrgPerson
cn: Pat
mail: pat3@amb.test

dn: cn=Staff,ou=Other,dc=amb,dc=test
objectClass: groupOfNames
cn: Staff

dn: uid=staff,ou=Other,dc=amb,dc=test
objectClass: posixGroup
uid: staff
)";

struct NameCase {
    const char* fqdn;
    unsigned status;
    const char* mail;  // of the one user, with status 0
};

const NameCase kNames[] = {
    {"LDAP://h ou=People,dc=amb,dc=test/Pat", kStatusAmbiguous, ""},
    {"LDAP://h ou=People,dc=amb,dc=test/ pat ", kStatusAmbiguous, ""},
    {"LDAP://h ou=Other,dc=amb,dc=test/Pat", 0, "pat3@amb.test"},
    {"LDAP://h cn=Pat,ou=People,dc=amb,dc=test", 0, "pat1@amb.test"},
    {"LDAP://h uid=pat,ou=People,dc=amb,dc=test", 0, "pat2@amb.test"},
    {"LDAP://h ou=People,dc=amb,dc=test/Lee", 0, "lee@amb.test"},
    {"LDAP://h ou=People,dc=amb,dc=test/Nobody", kStatusNoSuchEntry, ""},
};

TEST(BoundaryTest, OneNamingValueTwiceUnderOneContainerIsAmbiguous)
{
    auto directory = EmbeddedDirectory::FromText(kNamesakes, "namesakes");
    UserService service(*directory);
    for (const NameCase& row : kNames) {
        const OvWString fqdn = makeWideString(row.fqdn);
        OvWString mail, fullName, login;
        std::vector<OvWString> groups;
        EXPECT_EQ(service.GetUserEmailAddr(fqdn, mail), row.status) << row.fqdn;
        EXPECT_EQ(makeString(mail), row.mail) << row.fqdn;
        EXPECT_EQ(service.GetFullUserName(fqdn, fullName), row.status) << row.fqdn;
        EXPECT_EQ(service.GetUserLoginAndFullName(fqdn, fullName, login), row.status) << row.fqdn;
        EXPECT_EQ(service.GetUserGroups(fqdn, groups), row.status) << row.fqdn;
    }
    std::vector<OvWString> members;
    EXPECT_EQ(
        service.GetUsersForGroup(makeWideString("LDAP://h ou=Other,dc=amb,dc=test/Staff"), members),
        kStatusAmbiguous);
    EXPECT_TRUE(members.empty());
}

}  // namespace
