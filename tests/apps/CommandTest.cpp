// The commands against stand-in services: what each asks, passes and prints.
#include <gtest/gtest.h>

#include "FakeServices.h"
#include "apps/UserServiceCommand/OvCommands.h"

namespace {

class CommandTest : public ::testing::Test {
protected:
    CommandTest() : services(FakeServices::Get()) { services.Reset(); }
    FakeServices& services;
};

TEST_F(CommandTest, UserServiceIsAcquiredOnceForTwoCommands)
{
    ScriptedConsole console("a\nb\n");
    const int before = services.userFactory.creates;
    GetUsersCommand(console.context);
    GetGroupsCommand(console.context);
    EXPECT_EQ(services.userFactory.creates - before, 1);
}

TEST_F(CommandTest, ListingEchoesThenListsUnderHeading)
{
    services.user.list = {L"LDAP://localhost cn=Users,dc=example,dc=com/John Smith"};
    ScriptedConsole console("LDAP://localhost cn=Users,dc=example,dc=com\n");
    GetUsersCommand(console.context);
    EXPECT_EQ(console.Output(),
              "\nContext: DSType://<server> <fqdn>\n"
              "Example: LDAP://127.0.0.1 cn=users,dc=example,dc=com\n: "
              "Call with LDAP://localhost cn=Users,dc=example,dc=com\n"
              "Users:\n\tLDAP://localhost cn=Users,dc=example,dc=com/John Smith\n");
}

TEST_F(CommandTest, FailedListingHasNoHeading)
{
    services.user.status = 0x30A20003u;
    ScriptedConsole console("\n");
    GetTrustedDomainsCommand(console.context);
    EXPECT_EQ(console.Output(),
              "\nDomain: DSType://<server><domain>\nExample: LDAP://127.0.0.1 dc=example,dc=com: "
              "Call with \n\ntext of 30a20003\n Error #815923203\n");
}

TEST_F(CommandTest, AuthenticationNeverShowsThePassword)
{
    services.user.text = L"John Smith";
    services.user.authenticated = false;
    ScriptedConsole console("jsmith\nwrong\n");
    TestUserAuthenticationCommand(console.context);
    EXPECT_EQ(console.Output(),
              "\nUsername <username or domain\\username>: "
              "\nPassword <domain password -hidden>: "
              "Full Name: John Smith\nWas not authenticated.\n");
    EXPECT_EQ(services.user.arguments, (std::vector<OvWString>{L"jsmith", L"wrong"}));
}

TEST_F(CommandTest, AuthenticatedUser)
{
    services.user.text = L"John Smith";
    services.user.authenticated = true;
    ScriptedConsole console("jsmith\nright\n");
    TestUserAuthenticationCommand(console.context);
    EXPECT_NE(console.Output().find("Full Name: John Smith\nWas authenticated.\n"),
              std::string::npos);
}

TEST_F(CommandTest, InfoFromNamePrintsLabelsEvenWhenItFails)
{
    services.user.status = 0x30A20003u;
    ScriptedConsole console("default://EXAMPLE\\nobody\n");
    GetUserInfoFromNameCommand(console.context);
    EXPECT_EQ(console.Output(),
              "\nUser default://<domain>\\<user>\nExample: default://EXAMPLE\\jsmith\n: "
              "Call with default://EXAMPLE\\nobody\n"
              "FQDN:\t\t\nFull Name:\t\nLogin Name:\t\n");
}

TEST_F(CommandTest, SearchEchoSpellsTheFlag)
{
    ScriptedConsole console("LDAP://localhost dc=example,dc=com\nsmith\n0\n");
    SearchUsersFromNameCommand(console.context);
    EXPECT_NE(console.Output().find(
                  "Call with LDAP://localhost dc=example,dc=com and smith exactMatch  false \n"
                  "Users:\n"),
              std::string::npos);
    EXPECT_FALSE(services.user.flag);
}

TEST_F(CommandTest, DomainSearchStatusFourHasNoTextOfItsOwn)
{
    services.user.searchStatus = 4;
    services.user.list = {L"LDAP://127.0.0.1 dc=example,dc=com"};
    ScriptedConsole console(
        "LDAP://127.0.0.1:3268 dc=example,dc=com\ncn=Administrator\npw\nADS\n\n");
    GetDomainsSslCommand(console.context);
    EXPECT_NE(console.Output().find("Call with LDAP://127.0.0.1:3268 dc=example,dc=com\n"
                                    "Status:\tUnknown error code\n\nDomains:\n"
                                    "\tLDAP://127.0.0.1 dc=example,dc=com\n"),
              std::string::npos);
    EXPECT_EQ(services.user.limit, 100);
    EXPECT_TRUE(services.user.flag);
    EXPECT_EQ(services.user.arguments,
              (std::vector<OvWString>{L"LDAP://127.0.0.1:3268 dc=example,dc=com",
                                      L"cn=Administrator", L"pw", L"ADS"}));
    EXPECT_EQ(console.Output().find("pw\n"), std::string::npos);
}

TEST_F(CommandTest, DomainSearchNegativeStatusIsUnknown)
{
    services.user.searchStatus = -1;
    ScriptedConsole console("s\nu\np\nt\n0\n");
    GetDomainsSslCommand(console.context);
    EXPECT_NE(console.Output().find("Status:\tUnknown error code\n\nDomains:\n"),
              std::string::npos);
    EXPECT_FALSE(services.user.flag);
}

TEST_F(CommandTest, ServerNamesGoToTheWideStream)
{
    services.directory.servers = {{L"dc\u00e9", "10.0.0.1"}};
    ScriptedConsole console("LDAP://localhost dc=example,dc=com\n");
    const int created = services.directoryFactory.creates;
    const int released = services.directoryFactory.releases;
    GetServersForDomainCommand(console.context);
    EXPECT_EQ(console.WideOutput(), L"\tname:dc\u00e9");
    EXPECT_NE(console.Output().find("servers:\n ip:10.0.0.1\n"), std::string::npos);
    EXPECT_EQ(services.directoryFactory.creates - created, 1);
    EXPECT_EQ(services.directoryFactory.releases - released, 1);
}

TEST_F(CommandTest, DirectoryServiceIsReleasedAfterAFailure)
{
    services.directory.status = 0x30A20005u;
    ScriptedConsole console("x\n");
    const int released = services.directoryFactory.releases;
    GetServersForDomainCommand(console.context);
    EXPECT_EQ(services.directoryFactory.releases - released, 1);
    EXPECT_EQ(console.Output().find("servers:"), std::string::npos);
}

TEST_F(CommandTest, ZeroAddressCallsNoService)
{
    ScriptedConsole console("0.0.0.0\n");
    const int created = services.transIdFactory.creates;
    GetUserCommand(console.context);
    EXPECT_EQ(console.Output(), "Enter the IP address of the client machine. \n\nIP: ");
    EXPECT_EQ(services.transIdFactory.creates, created);
}

TEST_F(CommandTest, TransIdServiceIsReleasedAfterAFailure)
{
    services.transId.status = 0x30A2000Au;
    ScriptedConsole console("127.0.0.1\n");
    const int released = services.transIdFactory.releases;
    GetUserCommand(console.context);
    EXPECT_EQ(services.transIdFactory.releases - released, 1);
    EXPECT_NE(console.Output().find(" Error #815923210\n"), std::string::npos);
}

TEST_F(CommandTest, LoginAndFullNamePromptEndsInParenthesis)
{
    services.user.text = L"John Smith";
    services.user.secondText = L"jsmith";
    ScriptedConsole console("x\n");
    GetUserLoginAndFullNameCommand(console.context);
    EXPECT_EQ(console.Output(),
              "\nUser (DSType://<server><user fqdn\n"
              "Example: LDAP://127.0.0.1 ou=Sales,dc=example,dc=com/john smith\n): "
              "Full Username: John Smith\nLogin Name: jsmith\n");
}

TEST_F(CommandTest, CommandsWithoutEchoPrintNoCallLine)
{
    services.user.text = L"x";
    ScriptedConsole console("a\nb\n");
    GetFullUserNameCommand(console.context);
    GetQualifiedNameForUserCommand(console.context);
    EXPECT_EQ(console.Output().find("Call with"), std::string::npos);
}

}  // namespace
