// Contexts, FQDNs, logins and DNs as the services read and print them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/directory/Directory.h"
#include "platform/directory/Names.h"
#include "platform/directory/SchemaDescription.h"

using namespace ovdir;

namespace {

std::string Formatted(const char* text)
{
    Dn dn;
    EXPECT_TRUE(Dn::Parse(text, dn)) << text;
    return dn.Format();
}

}  // namespace

TEST(DnTest, BlanksAroundSeparatorsAreIgnored)
{
    EXPECT_EQ(Formatted(" cn = John Smith ,  ou=Sales, dc=example,dc=com "),
              "cn=John Smith,ou=Sales,dc=example,dc=com");
}

TEST(DnTest, EscapesAreResolvedAndWrittenBack)
{
    Dn dn;
    ASSERT_TRUE(Dn::Parse("cn=Smith\\, John+uid=js,dc=x", dn));
    EXPECT_EQ(dn.RdnValue(), "Smith, John");
    EXPECT_EQ(dn.Format(), "cn=Smith\\, John+uid=js,dc=x");
    ASSERT_TRUE(Dn::Parse("cn=J\\C3\\BCrgen,dc=x", dn));
    EXPECT_EQ(dn.RdnValue(), "J\xC3\xBCrgen");
}

TEST(DnTest, EscapedTrailingBlankStaysUnescapedOneGoes)
{
    Dn dn;
    ASSERT_TRUE(Dn::Parse("cn=a\\ ,dc=x", dn));
    EXPECT_EQ(dn.RdnValue(), "a ");
    EXPECT_EQ(dn.Format(), "cn=a\\ ,dc=x");
    ASSERT_TRUE(Dn::Parse("cn=a  ,dc=x", dn));
    EXPECT_EQ(dn.RdnValue(), "a");
    // An escaped tab at either end prints escaped too, so it reads back.
    ASSERT_TRUE(Dn::Parse("cn=\\09a\\09,dc=x", dn));
    EXPECT_EQ(dn.RdnValue(), "\ta\t");
    EXPECT_EQ(dn.Format(), "cn=\\09a\\09,dc=x");
    Dn again;
    ASSERT_TRUE(Dn::Parse(dn.Format(), again));
    EXPECT_EQ(again.RdnValue(), "\ta\t");
}

TEST(DnTest, TabsAtAValuesEndsPrintSoThatTheyReadBack)
{
    for (const char* text : {"cn=\\09admin,dc=x", "cn=admin\\09,dc=x", "ou=\\09 Sales\\09,dc=x"}) {
        Dn dn;
        ASSERT_TRUE(Dn::Parse(text, dn)) << text;
        EXPECT_EQ(dn.Format(), text);
        Dn again;
        ASSERT_TRUE(Dn::Parse(dn.Format(), again));
        EXPECT_EQ(again.RdnValue(), dn.RdnValue()) << text;
    }
    EXPECT_EQ(Formatted("cn=a\tb,dc=x"), "cn=a\tb,dc=x");  // inside a value a tab is plain
}

TEST(DnTest, MalformedTextsAreRefused)
{
    Dn dn;
    for (const char* text :
         {"cn", "=x", "cn=x,", "cn=x,,dc=y", "cn=x\\", "cn=x\\4", "c n=x", "cn=\"open"})
        EXPECT_FALSE(Dn::Parse(text, dn)) << text;
}

TEST(DnTest, NormalisedFormIgnoresCaseBlanksAndAvaOrder)
{
    EXPECT_EQ(NormalizeDn("CN=John  Smith, OU=Sales,DC=Example,DC=com"),
              NormalizeDn("cn=john smith,ou=sales,dc=example,dc=com"));
    EXPECT_EQ(NormalizeDn("cn=a+uid=b,dc=x"), NormalizeDn("uid=B+cn=A,dc=x"));
    EXPECT_EQ(NormalizeDn("cn=J\xC3\x9CRGEN,dc=x"), NormalizeDn("cn=j\xC3\xBCrgen,dc=x"));
    EXPECT_NE(NormalizeDn("cn=a\\,b,dc=x"), NormalizeDn("cn=a,b=,dc=x"));
}

TEST(DnTest, UnparseableTextNeverEqualsARealDn)
{
    EXPECT_NE(NormalizeDn("cn=x,"), NormalizeDn("cn=x"));
}

TEST(DnTest, WithinComparesWholeRdns)
{
    Dn user, domain, other;
    ASSERT_TRUE(Dn::Parse("cn=A,ou=Sales,DC=Example,dc=com", user));
    ASSERT_TRUE(Dn::Parse("dc=example,dc=com", domain));
    ASSERT_TRUE(Dn::Parse("dc=ample,dc=com", other));
    EXPECT_TRUE(user.IsWithin(domain));
    EXPECT_TRUE(domain.IsWithin(domain));
    EXPECT_FALSE(user.IsWithin(other));
    EXPECT_FALSE(domain.IsWithin(user));
}

TEST(ContextTest, ReadsTypeServerPortAndDn)
{
    Context context;
    ASSERT_EQ(ParseContext("ldap://127.0.0.1:389   cn=Users, dc=example,dc=com", context), 0u);
    EXPECT_EQ(context.type, "ldap");
    EXPECT_EQ(context.server, "127.0.0.1:389");
    EXPECT_EQ(context.dn.Format(), "cn=Users,dc=example,dc=com");
}

TEST(ContextTest, EveryDirectoryTypeIsSpokenToOverLdap)
{
    Context context;
    for (const char* text : {"LDAP://h dc=x", "ads://h dc=x", "Nds://h dc=x", "iPlanet://h dc=x"})
        EXPECT_EQ(ParseContext(text, context), 0u) << text;
    EXPECT_EQ(ParseContext("LDAPS://h dc=x", context), kStatusUnsupportedType);
    EXPECT_EQ(ParseContext("WinNT://h dc=x", context), kStatusUnsupportedType);
}

TEST(ContextTest, MalformedContextsAreRefused)
{
    Context context;
    for (const char* text : {"", "dc=example,dc=com", "LDAP:// dc=x", "LDAP://h", "://h dc=x",
                             "LDAP://h:0 dc=x", "LDAP://h:70000 dc=x", "LDAP://h:12a dc=x",
                             "LDAP://h dc=x,", "LD AP://h dc=x", "LDAP://h(x) dc=x"})
        EXPECT_EQ(ParseContext(text, context), kStatusMalformedName) << text;
}

TEST(ContextTest, DnMayBeLeftOutWhereAServerIsEnough)
{
    Context context;
    ASSERT_EQ(ParseContext("LDAP://10.0.0.1:3268", context, false), 0u);
    EXPECT_EQ(context.server, "10.0.0.1:3268");
    EXPECT_TRUE(context.dn.Empty());
}

// One rule for servers, whether a context names one or a directory URL does:
// the server becomes part of an LDAP URL.
TEST(ServerTest, AcceptsHostsAddressesAndPorts)
{
    for (const char* server : {"127.0.0.1", "127.0.0.1:389", "dc1.example.com:3268", "[::1]",
                               "[::1]:636", "Host_Name", "host:1", "host:65535", "[::1]:65535"}) {
        EXPECT_TRUE(ValidServer(server)) << server;
        Context context;
        EXPECT_EQ(ParseContext(std::string("LDAP://") + server + " dc=x", context), 0u) << server;
    }
}

TEST(ServerTest, RefusesWhatWouldChangeTheUrl)
{
    for (const char* server :
         {"",          "host:",       "host:0",  "host:65536",  "host:12a",   "host/x",
          "a b",       "host?x",      "[::1",    "[::1]x",      "-host",      ".host",
          "user@host", "h:1:2",       "[::1]:0", "[::1]:65536", "host:99999", "host:000001",
          "[:]",       "h\xc3\xb4st", "host\x80"}) {
        EXPECT_FALSE(ValidServer(server)) << server;
        Context context;
        EXPECT_EQ(ParseContext(std::string("LDAP://") + server + " dc=x", context),
                  kStatusMalformedName)
            << server;
    }
}

TEST(FqdnTest, WholeTextFirstThenSplitsFromTheLastSlash)
{
    std::vector<FqdnReading> readings;
    ASSERT_EQ(ReadFqdn("LDAP://h ou=A/B,dc=x/John Smith", readings), 0u);
    ASSERT_EQ(readings.size(), 3u);
    EXPECT_EQ(readings[0].context.dn.Format(), "ou=A/B,dc=x/John Smith");
    EXPECT_EQ(readings[0].name, "");
    EXPECT_EQ(readings[1].context.dn.Format(), "ou=A/B,dc=x");
    EXPECT_EQ(readings[1].name, "John Smith");
    EXPECT_EQ(readings[2].context.dn.Format(), "ou=A");
    EXPECT_EQ(readings[2].name, "B,dc=x/John Smith");
}

TEST(FqdnTest, UnsupportedTypeIsReportedAsSuch)
{
    std::vector<FqdnReading> readings;
    EXPECT_EQ(ReadFqdn("FOO://h dc=x/John", readings), kStatusUnsupportedType);
    EXPECT_EQ(ReadFqdn("John Smith", readings), kStatusMalformedName);
}

TEST(LoginTest, DomainLogin)
{
    Login login;
    ASSERT_EQ(ParseDomainLogin("DEFAULT://EXAMPLE\\jsmith", login), 0u);
    EXPECT_EQ(login.domain, "EXAMPLE");
    EXPECT_EQ(login.login, "jsmith");
    for (const char* text :
         {"EXAMPLE\\jsmith", "default://jsmith", "default://\\jsmith", "default://EXAMPLE\\", ""})
        EXPECT_EQ(ParseDomainLogin(text, login), kStatusMalformedName) << text;
}

TEST(LoginTest, PlainLoginWithOrWithoutDomain)
{
    Login login;
    ASSERT_EQ(ParsePlainLogin("jsmith", login), 0u);
    EXPECT_EQ(login.domain, "");
    EXPECT_EQ(login.login, "jsmith");
    ASSERT_EQ(ParsePlainLogin("EXAMPLE\\jsmith", login), 0u);
    EXPECT_EQ(login.domain, "EXAMPLE");
    EXPECT_EQ(ParsePlainLogin("", login), kStatusMalformedName);
    EXPECT_EQ(ParsePlainLogin("\\jsmith", login), kStatusMalformedName);
}

TEST(PrintTest, UsersPrintAsParentAndNamingValue)
{
    Dn dn;
    ASSERT_TRUE(Dn::Parse("cn=Smith\\, John,ou=Sales,dc=example,dc=com", dn));
    EXPECT_EQ(FormatEntryName("10.0.0.1:389", dn),
              "LDAP://10.0.0.1:389 ou=Sales,dc=example,dc=com/Smith, John");
    EXPECT_EQ(FormatContext("localhost", dn.Parent()),
              "LDAP://localhost ou=Sales,dc=example,dc=com");
    EXPECT_EQ(DomainShortName(dn), "example");
}

TEST(PrintTest, ListsSortIgnoringCaseWithoutDuplicates)
{
    std::vector<std::string> names = {"b", "A", "a", "C", "\xC3\x84rger", "\xC3\xA4rger"};
    SortNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "b", "C", "\xC3\x84rger"}));
    // Names gathered as entries arrive sort the same way.
    NameSorter sorter;
    for (const char* name : {"b", "A", "a", "C", "\xC3\x84rger", "\xC3\xA4rger"}) sorter.Add(name);
    std::vector<std::string> sorted;
    for (const KeyedName& name : sorter.Finish()) sorted.push_back(name.second);
    EXPECT_EQ(sorted, names);
}

// Listings in every arrival order and of lengths around the run length: the
// sorter gives what SortNames gives, duplicates across runs dropped too.
TEST(PrintTest, SorterAgreesWithSortNamesAcrossRuns)
{
    const std::size_t run = NameSorter::kRunLength;
    enum class Order { Ascending, Descending, Shuffled, Interleaved };
    for (const std::size_t count :
         {std::size_t{0}, std::size_t{1}, run - 1, run, run + 1, 2 * run, 5 * run + 3}) {
        for (const Order order :
             {Order::Ascending, Order::Descending, Order::Shuffled, Order::Interleaved}) {
            std::vector<std::string> arriving;
            for (std::size_t i = 0; i < count; ++i) {
                // Every seventh name again in upper case: a duplicate by key.
                const std::size_t n = order == Order::Interleaved ? (i % 2 ? i : count - i) : i;
                arriving.push_back("cn=User " + std::to_string(n % (count / 3 + 1)) + "-" +
                                   std::to_string(n));
                if (i % 7 == 0) arriving.push_back("CN=USER " + arriving.back().substr(8));
            }
            if (order == Order::Descending) std::reverse(arriving.begin(), arriving.end());
            if (order == Order::Shuffled)
                std::shuffle(arriving.begin(), arriving.end(),
                             std::mt19937(static_cast<unsigned>(count)));
            NameSorter sorter;
            sorter.Add("left from a listing that started over");
            sorter.Clear();
            for (const std::string& name : arriving) sorter.Add(name);
            std::vector<std::string> sorted;
            for (const KeyedName& name : sorter.Finish()) sorted.push_back(name.second);
            std::vector<std::string> expected = arriving;
            SortNames(expected);
            EXPECT_EQ(sorted, expected) << count << " names, order " << static_cast<int>(order);
        }
    }
}

TEST(CaseTest, FoldsBeyondAscii)
{
    EXPECT_TRUE(EqualsIgnoringCase("J\xC3\x9CRGEN M\xC3\x9CLLER", "j\xC3\xBCrgen m\xC3\xBCller"));
    EXPECT_TRUE(
        EqualsIgnoringCase("\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD", "\xD0\xB8\xD0\xB2\xD0\xB0\xD0\xBD"));
    EXPECT_FALSE(EqualsIgnoringCase("abc", "abd"));
    EXPECT_EQ(PrepareValue("  John   SMITH "), "john smith");
    EXPECT_EQ(FoldCase("\xFF\xC3"), "\xFF\xC3");
}

// The listing's formatter takes shortcuts; it must print exactly what the
// full parser prints, and refuse what the parser refuses.
TEST(EntryNameFormatterTest, SameNamesAsTheFullParser)
{
    const char* texts[] = {
        "cn=John Smith,ou=Sales,dc=example,dc=com",
        "cn = John Smith , ou=Sales, dc=example,dc=com",
        "CN=Mary Jones,OU=Sales,DC=example,DC=com",
        "cn=Smith\\, John,ou=Sales,dc=example,dc=com",
        "cn=\\ lead,ou=Sales,dc=example,dc=com",
        "cn=a+uid=b,ou=Sales,dc=example,dc=com",
        "cn=#04024869,ou=Sales,dc=example,dc=com",
        "cn=J\xC3\xBCrgen M\xC3\xBCller,ou=Sales,dc=example,dc=com",
        "uid=x,ou=R\\/D,dc=example,dc=com",
        "cn=x,ou=Sales,,dc=com",
        "cn=,ou=Sales,dc=com",
        "=x,ou=Sales,dc=com",
        "dc=com",
        "",
    };
    EntryNameFormatter formatter("srv:389");
    for (int pass = 0; pass < 2; ++pass) {  // the second pass reads cached parents
        for (const char* text : texts) {
            Dn dn;
            const bool parses = Dn::Parse(text, dn) && !dn.Empty();
            std::string name;
            ASSERT_EQ(formatter.Format(text, name), parses) << text;
            if (parses) {
                EXPECT_EQ(name, FormatEntryName("srv:389", dn)) << text;
            }
        }
    }
}

// Schema descriptions as servers and subschema entries hold them, and texts
// that are none (one of them once made the reader keep what it had read).
TEST(SchemaDescriptions, OidNamesAndSuperclassesOrNothing)
{
    struct Row {
        const char* text;
        bool reads;
        const char* oid;
        std::vector<std::string> names, superiors;
    };
    const Row rows[] = {
        {"( 2.5.6.6 NAME 'person' DESC 'RFC2256: a person' SUP top STRUCTURAL "
         "MUST ( sn $ cn ) MAY ( userPassword $ seeAlso ) )",
         true,
         "2.5.6.6",
         {"person"},
         {"top"}},
        {"(1.2.3 NAME ('staffPerson' 'staff') sup ( inetOrgPerson $ posixAccount ) "
         "X-ORIGIN 'site' )",
         true,
         "1.2.3",
         {"staffPerson", "staff"},
         {"inetOrgPerson", "posixAccount"}},
        {"( 2.5.4.3 NAME ( 'cn' 'commonName' ) SUP name SINGLE-VALUE )",
         true,
         "2.5.4.3",
         {"cn", "commonName"},
         {"name"}},
        {"( 1.2.3 NAME 'x' SUP inetOrgPerTRUCTURAL MUST ( cn ) X-ORIGIN Tx' )", false, "", {}, {}},
        {"( 1.2.3 NAME 'x' MUST ( cn )", false, "", {}, {}},
        {"( 1.2.3 NAME ( 'x' ( 'y' ) ) )", false, "", {}, {}},
        {"( 'x' )", false, "", {}, {}},
        {"( 1.2.3 NAME )", false, "", {}, {}},
        {"", false, "", {}, {}},
    };
    for (const Row& row : rows) {
        SchemaDescription read;
        ASSERT_EQ(ReadSchemaDescription(row.text, read), row.reads) << row.text;
        if (!row.reads) continue;
        EXPECT_EQ(read.oid, row.oid);
        EXPECT_EQ(read.names, row.names) << row.text;
        EXPECT_EQ(read.superiors, row.superiors) << row.text;
    }
}
