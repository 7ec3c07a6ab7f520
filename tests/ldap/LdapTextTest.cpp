// The ldap backend's filter text, server names, directory URLs and DN parsing.
#include <gtest/gtest.h>

#include "platform/services/LdapDirectory.h"

namespace {

using ovdir::Filter;
namespace ldap = ovdir::ldap;

Filter Leaf(Filter::Kind kind, std::string attribute, std::string value = {}) {
    Filter filter;
    filter.kind = kind;
    filter.attribute = std::move(attribute);
    filter.value = std::move(value);
    return filter;
}

Filter Node(Filter::Kind kind, std::vector<Filter> children) {
    Filter filter;
    filter.kind = kind;
    filter.children = std::move(children);
    return filter;
}

std::string Render(const Filter& filter) {
    std::string text;
    EXPECT_TRUE(ldap::RenderFilter(filter, text));
    return text;
}

TEST(LdapFilterText, EscapesEveryFilterCharacter) {
    EXPECT_EQ(ldap::EscapeFilterValue(std::string("*)(uid=*\\\0x", 11)),
              "\\2a\\29\\28uid=\\2a\\5c\\00x");
}

TEST(LdapFilterText, KeepsUtf8AndBlanks) {
    EXPECT_EQ(ldap::EscapeFilterValue("J\xC3\xBCrgen M\xC3\xBCller"), "J\xC3\xBCrgen M\xC3\xBCller");
}

TEST(LdapFilterText, TypedTextCannotWidenAnEqualityMatch) {
    EXPECT_EQ(Render(Leaf(Filter::Kind::Equals, "uid", "*)(uid=*")), "(uid=\\2a\\29\\28uid=\\2a)");
}

TEST(LdapFilterText, ContainsWrapsTheEscapedText) {
    EXPECT_EQ(Render(Leaf(Filter::Kind::Contains, "cn", "a*b")), "(cn=*a\\2ab*)");
}

TEST(LdapFilterText, InitialEndsInTheWildcardAlone) {
    EXPECT_EQ(Render(Leaf(Filter::Kind::Initial, "cn", "J(o*")), "(cn=J\\28o\\2a*)");
    EXPECT_EQ(Render(Leaf(Filter::Kind::Initial, "cn", "")), "(cn=*)");
}

TEST(LdapFilterText, ContainsNothingMatchesAnyValue) {
    EXPECT_EQ(Render(Leaf(Filter::Kind::Contains, "cn", "")), "(cn=*)");
}

TEST(LdapFilterText, RendersNestedTrees) {
    const Filter filter = Node(
        Filter::Kind::And,
        {Leaf(Filter::Kind::Equals, "objectclass", "person"),
         Node(Filter::Kind::Not, {Leaf(Filter::Kind::Equals, "objectclass", "computer")}),
         Node(Filter::Kind::Or, {Leaf(Filter::Kind::Present, "mail"),
                                 Leaf(Filter::Kind::Equals, "2.5.4.3", "x")})});
    EXPECT_EQ(Render(filter),
              "(&(objectclass=person)(!(objectclass=computer))(|(mail=*)(2.5.4.3=x)))");
}

TEST(LdapFilterText, RefusesAttributeNamesThatAreNotNames) {
    std::string text;
    EXPECT_FALSE(ldap::RenderFilter(Leaf(Filter::Kind::Equals, "cn=*)(uid", "x"), text));
    EXPECT_FALSE(ldap::RenderFilter(Leaf(Filter::Kind::Present, ""), text));
    EXPECT_FALSE(ldap::RenderFilter(Leaf(Filter::Kind::Present, "1..2"), text));
}

TEST(LdapFilterText, RefusesNotWithoutExactlyOneChild) {
    std::string text;
    EXPECT_FALSE(ldap::RenderFilter(Node(Filter::Kind::Not, {}), text));
}

TEST(LdapServerNames, AcceptsHostsAddressesAndPorts) {
    for (const char* server : {"127.0.0.1", "127.0.0.1:389", "dc1.example.com:3268", "[::1]",
                               "[::1]:636", "Host_Name"}) {
        EXPECT_TRUE(ldap::ValidServer(server)) << server;
    }
}

TEST(LdapServerNames, RefusesWhatWouldChangeTheUrl) {
    for (const char* server : {"", "host:", "host:0", "host:65536", "host:12a", "host/x", "a b",
                               "host?x", "[::1", "[::1]x", "-host", "user@host", "h:1:2"}) {
        EXPECT_FALSE(ldap::ValidServer(server)) << server;
    }
}

TEST(LdapDirectoryUrls, SplitsSchemeAndServer) {
    std::string scheme, server;
    ASSERT_TRUE(ldap::SplitDirectoryUrl("LDAPS://Dc1.Example.com:636/", scheme, server));
    EXPECT_EQ(scheme, "ldaps");
    EXPECT_EQ(server, "Dc1.Example.com:636");
    ASSERT_TRUE(ldap::SplitDirectoryUrl("ldap://127.0.0.1", scheme, server));
    EXPECT_EQ(scheme, "ldap");
    EXPECT_EQ(server, "127.0.0.1");
}

TEST(LdapDirectoryUrls, RefusesOtherSchemesAndPaths) {
    std::string scheme, server;
    for (const char* url : {"http://host", "ldap://", "ldap:///", "ldap://host/dc=example",
                            "ldapi://%2Fsocket", "host:389"}) {
        EXPECT_FALSE(ldap::SplitDirectoryUrl(url, scheme, server)) << url;
    }
}

TEST(LdapDnParsing, GivesTheCanonicalForm) {
    std::string dn;
    ASSERT_TRUE(ldap::NormaliseDn("CN=John Smith , OU=Sales,dc=example, dc=com", dn));
    EXPECT_EQ(dn, "CN=John Smith,OU=Sales,dc=example,dc=com");
}

TEST(LdapDnParsing, KeepsEscapedSpecialCharacters) {
    std::string dn;
    ASSERT_TRUE(ldap::NormaliseDn("cn=Smith\\, John,dc=example,dc=com", dn));
    EXPECT_EQ(dn, "cn=Smith\\2C John,dc=example,dc=com");
}

TEST(LdapDnParsing, KeepsUtf8Values) {
    std::string dn;
    ASSERT_TRUE(ldap::NormaliseDn("cn=J\xC3\xBCrgen M\xC3\xBCller,ou=Sales", dn));
    EXPECT_EQ(dn, "cn=J\xC3\xBCrgen M\xC3\xBCller,ou=Sales");
}

TEST(LdapDnParsing, EmptyIsTheRoot) {
    std::string dn = "x";
    ASSERT_TRUE(ldap::NormaliseDn("", dn));
    EXPECT_EQ(dn, "");
}

TEST(LdapDnParsing, RefusesWhatIsNoDn) {
    std::string dn;
    EXPECT_FALSE(ldap::NormaliseDn("jsmith", dn));
    EXPECT_FALSE(ldap::NormaliseDn("cn=a,,dc=b", dn));
    EXPECT_FALSE(ldap::NormaliseDn(std::string("cn=a\0,dc=b", 10), dn));
}

}  // namespace
