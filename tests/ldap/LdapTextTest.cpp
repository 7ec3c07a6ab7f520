// The ldap backend's filter text, server names, directory URLs and DN parsing,
// and the reasons it gives for a server certificate it does not accept.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>

#include "LdapTestSupport.h"
#include "platform/ldapclient/LdapCertificate.h"
#include "platform/ldapclient/LdapSchema.h"
#include "platform/ldapclient/LdapServers.h"
#include "platform/ldapclient/LdapText.h"

namespace {

using ovdir::Filter;
namespace ldap = ovdir::ldap;

Filter Leaf(Filter::Kind kind, std::string attribute, std::string value = {})
{
    Filter filter;
    filter.kind = kind;
    filter.attribute = std::move(attribute);
    filter.value = std::move(value);
    return filter;
}

Filter Node(Filter::Kind kind, std::vector<Filter> children)
{
    Filter filter;
    filter.kind = kind;
    filter.children = std::move(children);
    return filter;
}

std::string Render(const Filter& filter)
{
    std::string text;
    EXPECT_TRUE(ldap::RenderFilter(filter, text));
    return text;
}

TEST(LdapFilterText, EscapesEveryFilterCharacter)
{
    EXPECT_EQ(ldap::EscapeFilterValue(std::string("*)(uid=*\\\0x", 11)),
              "\\2a\\29\\28uid=\\2a\\5c\\00x");
}

TEST(LdapFilterText, KeepsUtf8AndBlanks)
{
    EXPECT_EQ(ldap::EscapeFilterValue("J\xC3\xBCrgen M\xC3\xBCller"),
              "J\xC3\xBCrgen M\xC3\xBCller");
}

TEST(LdapFilterText, TypedTextCannotWidenAnEqualityMatch)
{
    EXPECT_EQ(Render(Leaf(Filter::Kind::Equals, "uid", "*)(uid=*")), "(uid=\\2a\\29\\28uid=\\2a)");
}

TEST(LdapFilterText, ContainsWrapsTheEscapedText)
{
    EXPECT_EQ(Render(Leaf(Filter::Kind::Contains, "cn", "a*b")), "(cn=*a\\2ab*)");
}

TEST(LdapFilterText, InitialEndsInTheWildcardAlone)
{
    EXPECT_EQ(Render(Leaf(Filter::Kind::Initial, "cn", "J(o*")), "(cn=J\\28o\\2a*)");
    EXPECT_EQ(Render(Leaf(Filter::Kind::Initial, "cn", "")), "(cn=*)");
}

TEST(LdapFilterText, ContainsNothingMatchesAnyValue)
{
    EXPECT_EQ(Render(Leaf(Filter::Kind::Contains, "cn", "")), "(cn=*)");
}

TEST(LdapFilterText, RendersNestedTrees)
{
    const Filter filter = Node(
        Filter::Kind::And,
        {Leaf(Filter::Kind::Equals, "objectclass", "person"),
         Node(Filter::Kind::Not, {Leaf(Filter::Kind::Equals, "objectclass", "computer")}),
         Node(Filter::Kind::Or,
              {Leaf(Filter::Kind::Present, "mail"), Leaf(Filter::Kind::Equals, "2.5.4.3", "x")})});
    EXPECT_EQ(Render(filter),
              "(&(objectclass=person)(!(objectclass=computer))(|(mail=*)(2.5.4.3=x)))");
}

TEST(LdapFilterText, RefusesAttributeNamesThatAreNotNames)
{
    std::string text;
    EXPECT_FALSE(ldap::RenderFilter(Leaf(Filter::Kind::Equals, "cn=*)(uid", "x"), text));
    EXPECT_FALSE(ldap::RenderFilter(Leaf(Filter::Kind::Present, ""), text));
    EXPECT_FALSE(ldap::RenderFilter(Leaf(Filter::Kind::Present, "1..2"), text));
}

TEST(LdapFilterText, RefusesNotWithoutExactlyOneChild)
{
    std::string text;
    EXPECT_FALSE(ldap::RenderFilter(Node(Filter::Kind::Not, {}), text));
}

// A server's schema: what it does not know is false, never Undefined.
TEST(LdapFilterText, ComparisonsTheSchemaCannotMakeAreFalse)
{
    ldap::KnownSchema stock;
    stock.Learn({"( 2.5.6.6 NAME 'person' SUP top STRUCTURAL MUST ( sn $ cn ) )",
                 "( 2.5.6.5 NAME ( 'organizationalUnit' 'ou-alias' ) SUP top STRUCTURAL )"},
                {"( 2.5.4.3 NAME ( 'cn' 'commonName' ) SUP name )",
                 "( 0.9.2342.19200300.100.1.3 NAME 'mail' EQUALITY caseIgnoreIA5Match )",
                 "( 1.1 NAME 'uid' )", "( 2.5.4.0 NAME 'objectClass' )"});
    ASSERT_TRUE(stock.known);
    const Filter computer = Leaf(Filter::Kind::Equals, "objectclass", "computer");
    const Filter person = Leaf(Filter::Kind::Equals, "objectclass", "person");
    const Filter account = Leaf(Filter::Kind::Equals, "samaccountname", "bob");
    const Filter uid = Leaf(Filter::Kind::Equals, "uid", "bob");
    struct Row {
        Filter filter;
        const char* stockText;    // the server above
        const char* unknownText;  // a server whose schema could not be read
    };
    const Row rows[] = {
        {Node(Filter::Kind::And, {person, Node(Filter::Kind::Not, {computer})}),
         "(objectclass=person)", "(&(objectclass=person)(!(objectclass=computer)))"},
        {Node(Filter::Kind::Or, {uid, account}), "(uid=bob)", "(|(uid=bob)(samaccountname=bob))"},
        {Node(Filter::Kind::And, {person, account}), "(!(objectClass=*))",
         "(&(objectclass=person)(samaccountname=bob))"},
        {Node(Filter::Kind::Not, {Node(Filter::Kind::Or, {computer, account})}), "(objectClass=*)",
         "(!(|(objectclass=computer)(samaccountname=bob)))"},
        {Leaf(Filter::Kind::Equals, "objectclass", "OU-ALIAS"), "(objectclass=OU-ALIAS)",
         "(objectclass=OU-ALIAS)"},
        {Leaf(Filter::Kind::Present, "CommonName"), "(CommonName=*)", "(CommonName=*)"},
        {Filter(), "(objectClass=*)", "(objectClass=*)"},
        {Node(Filter::Kind::And, {}), "(objectClass=*)", "(objectClass=*)"},
        {Node(Filter::Kind::Or, {}), "(!(objectClass=*))", "(!(objectClass=*))"},
        {Node(Filter::Kind::And, {person, Filter()}), "(objectclass=person)",
         "(objectclass=person)"},
    };
    for (const Row& row : rows) {
        std::string text;
        ASSERT_TRUE(ldap::RenderFilterFor(row.filter, stock, text)) << row.stockText;
        EXPECT_EQ(text, row.stockText);
        ASSERT_TRUE(ldap::RenderFilterFor(row.filter, ldap::KnownSchema(), text));
        EXPECT_EQ(text, row.unknownText);
    }
    std::string text;
    EXPECT_FALSE(ldap::RenderFilterFor(Leaf(Filter::Kind::Equals, "bad name", "x"),
                                       ldap::KnownSchema(), text));
    // A server that knows computers is asked to leave them out.
    ldap::KnownSchema directory = stock;
    directory.Learn({"( 1.2.840.113556.1.3.30 NAME 'computer' SUP user STRUCTURAL )"}, {});
    ASSERT_TRUE(ldap::RenderFilterFor(rows[0].filter, directory, text));
    EXPECT_EQ(text, "(&(objectclass=person)(!(objectclass=computer)))");
}

TEST(LdapDirectoryUrls, SplitsSchemeAndServer)
{
    std::string scheme, server;
    ASSERT_TRUE(ldap::SplitDirectoryUrl("LDAPS://Dc1.Example.com:636/", scheme, server));
    EXPECT_EQ(scheme, "ldaps");
    EXPECT_EQ(server, "Dc1.Example.com:636");
    ASSERT_TRUE(ldap::SplitDirectoryUrl("ldap://127.0.0.1", scheme, server));
    EXPECT_EQ(scheme, "ldap");
    EXPECT_EQ(server, "127.0.0.1");
}

TEST(LdapDirectoryUrls, RefusesOtherSchemesAndPaths)
{
    std::string scheme, server;
    for (const char* url : {"http://host", "ldap://", "ldap:///", "ldap://host/dc=example",
                            "ldapi://%2Fsocket", "host:389"}) {
        EXPECT_FALSE(ldap::SplitDirectoryUrl(url, scheme, server)) << url;
    }
}

// Servers as the user means them: the host ignoring case, the scheme's
// default port filled in.
TEST(LdapServerNames, SameServerAsTheUserMeansIt)
{
    struct Row {
        const char* scheme;
        const char* typed;
        const char* known;  // the server of an ldap:// or ldaps:// URL of the settings
        bool same;
    };
    const Row rows[] = {
        {"ldap", "DC1.Example.com", "ldap://dc1.example.com", true},
        {"ldap", "dc1.example.com:389", "ldap://dc1.example.com", true},
        {"ldaps", "dc1.example.com", "ldaps://dc1.example.com:636", true},
        {"ldap", "dc1.example.com.", "ldap://dc1.example.com", true},
        {"ldap", "[::1]", "ldap://[::1]:389", true},
        {"ldap", "dc1.example.com:636", "ldap://dc1.example.com", false},
        {"ldaps", "dc1.example.com", "ldaps://dc1.example.com:389", false},
        {"ldap", "dc2.example.com", "ldap://dc1.example.com", false},
        {"ldap", "127.0.0.1", "ldap://localhost", false},
        {"ldap", "dc1.example.com.evil.test", "ldap://dc1.example.com", false},
    };
    for (const Row& row : rows) {
        std::vector<ldap::ServerAddress> known;
        std::string bad;
        ASSERT_TRUE(ldap::ParseServerList(row.known, "", known, bad)) << row.known;
        ldap::ServerAddress typed;
        ASSERT_TRUE(ldap::ParseServer(row.scheme, row.typed, typed)) << row.typed;
        EXPECT_EQ(typed.Same(known.front()), row.same) << row.typed << " / " << row.known;
    }
}

TEST(LdapServerNames, ListsOfUrlsInTheirOrder)
{
    std::vector<ldap::ServerAddress> servers;
    std::string bad;
    ASSERT_TRUE(
        ldap::ParseServerList("  ldaps://dc1.example.com\tLDAP://dc2:3890/  ", "", servers, bad));
    ASSERT_EQ(servers.size(), 2u);
    EXPECT_EQ(servers[0].Url(), "ldaps://dc1.example.com");
    EXPECT_EQ(servers[0].port, 636u);
    EXPECT_EQ(servers[1].Url(), "ldap://dc2:3890");
    EXPECT_EQ(servers[1].port, 3890u);
    // Replicas may be bare servers, over the directory's scheme.
    ASSERT_TRUE(ldap::ParseServerList("dc3 ldap://dc4", "ldaps", servers, bad));
    EXPECT_EQ(servers[0].Url(), "ldaps://dc3");
    EXPECT_EQ(servers[1].Url(), "ldap://dc4");
    ASSERT_TRUE(ldap::ParseServerList("", "ldaps", servers, bad));
    EXPECT_TRUE(servers.empty());
    EXPECT_FALSE(ldap::ParseServerList("ldap://dc1 dc2", "", servers, bad));
    EXPECT_EQ(bad, "dc2");
    EXPECT_FALSE(ldap::ParseServerList("ldap://dc1 http://dc2", "ldap", servers, bad));
    EXPECT_EQ(bad, "http://dc2");
}

TEST(LdapDnParsing, GivesTheCanonicalForm)
{
    std::string dn;
    ASSERT_TRUE(ldap::NormaliseDn("CN=John Smith , OU=Sales,dc=example, dc=com", dn));
    EXPECT_EQ(dn, "CN=John Smith,OU=Sales,dc=example,dc=com");
}

TEST(LdapDnParsing, KeepsEscapedSpecialCharacters)
{
    std::string dn;
    ASSERT_TRUE(ldap::NormaliseDn("cn=Smith\\, John,dc=example,dc=com", dn));
    EXPECT_EQ(dn, "cn=Smith\\2C John,dc=example,dc=com");
}

TEST(LdapDnParsing, KeepsUtf8Values)
{
    std::string dn;
    ASSERT_TRUE(ldap::NormaliseDn("cn=J\xC3\xBCrgen M\xC3\xBCller,ou=Sales", dn));
    EXPECT_EQ(dn, "cn=J\xC3\xBCrgen M\xC3\xBCller,ou=Sales");
}

TEST(LdapDnParsing, EmptyIsTheRoot)
{
    std::string dn = "x";
    ASSERT_TRUE(ldap::NormaliseDn("", dn));
    EXPECT_EQ(dn, "");
}

TEST(LdapDnParsing, RefusesWhatIsNoDn)
{
    std::string dn;
    EXPECT_FALSE(ldap::NormaliseDn("jsmith", dn));
    EXPECT_FALSE(ldap::NormaliseDn("cn=a,,dc=b", dn));
    EXPECT_FALSE(ldap::NormaliseDn(std::string("cn=a\0,dc=b", 10), dn));
}

// The DER of a PEM certificate of the test servers' (made with their CA).
std::string Der(const std::string& pemFile)
{
    std::string der;
    if (FILE* in = std::fopen(pemFile.c_str(), "r")) {
        if (X509* certificate = PEM_read_X509(in, nullptr, nullptr, nullptr)) {
            unsigned char* bytes = nullptr;
            const int size = i2d_X509(certificate, &bytes);
            if (size > 0)
                der.assign(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(size));
            OPENSSL_free(bytes);
            X509_free(certificate);
        }
        std::fclose(in);
    }
    EXPECT_FALSE(der.empty()) << pemFile;
    return der;
}

TEST(LdapCertificateCheck, NamesTheFaultAndTheSettingThatFixesIt)
{
    const std::string server = Der(ldaptest::ServerFolder("main") + "/server.pem");
    const std::string ca = ldaptest::CaFile();
    EXPECT_EQ(ldap::CertificateProblem(server, ca, "127.0.0.1"), "");
    EXPECT_EQ(ldap::CertificateProblem(server, ca, "localhost"), "");
    EXPECT_EQ(ldap::CertificateProblem(server, ca, "127.0.0.2"),
              "the server's certificate is not for 127.0.0.2 (IP address mismatch): name the "
              "server as its certificate does");
    EXPECT_EQ(ldap::CertificateProblem(server, ca, "ldap.example.com"),
              "the server's certificate is not for ldap.example.com (hostname mismatch): name "
              "the server as its certificate does");
    EXPECT_EQ(ldap::CertificateProblem(server, "", "127.0.0.1"),
              "the server's certificate is signed by a CA not among the system's CA certificates "
              "(unable to get local issuer certificate): name the CA's certificate in "
              "TLSCACertFile");
    EXPECT_EQ(ldap::CertificateProblem(Der(ca), "", "Test CA"),
              "the server's certificate is self-signed (self-signed certificate): to trust it, "
              "name it in TLSCACertFile");
    EXPECT_EQ(ldap::CertificateProblem("not DER", ca, "127.0.0.1"),
              "the server's certificate could not be read");
    EXPECT_EQ(ldap::HostOfServer("[::1]:636"), "::1");
    EXPECT_EQ(ldap::HostOfServer("dc1.example.com:389"), "dc1.example.com");
}

}  // namespace
