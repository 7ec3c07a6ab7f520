// The menu loop: the menu and help texts, and which selections run what.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FakeServices.h"
#include "apps/UserServiceCommand/OvMenu.h"

namespace {

const char* const kMenu =
    "\n1. GetUser\n\n2. GetUsers\n\n3. GetGroups\n\n4. GetDomains\n\n5. GetUserGroups\n"
    "\n6. GetUsersForGroup\n\n7. GetFullUserName ( Deprecated )\n\n8. GetQualifiedNameForUser\n"
    "\n9. TestUserAuthentication\n\n10. GetWorkstations ( Deprecated )\n"
    "\n11. GetServersForDomain\n\n12. GetTrustedDomains\n\n13. GetUserLoginAndFullName\n"
    "\n14. GetUserInfoFromName\n\n15. GetUserInfoFromEmail\n"
    "\n16. GetUserEmailAddr ( Deprecated )\n\n17. SearchUsersFromName\n"
    "\n18. SearchGroupsFromName\n\n19. SearchOrgUnitsFromName\n\n20. GetDomainsSsl\n"
    "\n?. Help\n\n0. Exit\n";

const char* const kHelp =
    "\n1. GetUser <Get the user from Xid given a client workstation IP>\n"
    "\n2. GetUsers <Get the users within a given context>\n"
    "\n3. GetGroups <Get the groups within a given context>\n"
    "\n4. GetDomains <Get the domains given an LDAP type>\n"
    "\n5. GetUserGroups <Get the groups of a given user's FQDN>\n"
    "\n6. GetUsersForGroup <Get the user members of a given group FQDN>\n"
    "\n7. GetFullUserName <Get the full name of a given user FQDN>\n"
    "\n8. GetQualifiedNameForUser <Get the FQDN given a domain user>\n"
    "\n9. TestUserAuthentication <Test credentials for a given user>\n"
    "\n10. GetWorkstations <Get the workststions for a given domain context>\n"
    "\n11. GetServersForDomain <Get the DC IPs for a given domain context>\n"
    "\n12. GetTrustedDomains <Get the trusted domains>\n"
    "\n13. GetUserLoginAndFullName <Get the user login and full name of a given user FQDN>\n"
    "\n14. GetUserInfoFromName <Get the user info of a given user FQDN>\n"
    "\n15. GetUserInfoFromEmail <Get the user info of a given user email address>\n"
    "\n16. GetUserEmailAddr <Get the email address given a user FQDN>\n"
    "\n17. SearchUsersFromName <Search for a user>\n"
    "\n18. SearchGroupsFromName <Search for a group>\n"
    "\n19. SearchOrgUnitsFromName <Search for an OU>\n"
    "\n20. GetDomainsSsl <Advanced domain search>\n";

const char* const kHints = "\nEnter selection 1-20\n? for help\nor 0 to exit\n";

TEST(MenuTextTest, MenuIsTheTwentyCommandsHelpAndExit)
{
    std::ostringstream out;
    PrintMenu(out, kOvCommands, kOvCommandCount);
    EXPECT_EQ(out.str(), kMenu);
}

TEST(MenuTextTest, HelpLeavesOutTheDeprecatedMarks)
{
    std::ostringstream out;
    PrintHelp(out, kOvCommands, kOvCommandCount);
    EXPECT_EQ(out.str(), kHelp);
}

TEST(MenuTableTest, SelectionsAreOneToTwentyInOrder)
{
    for (std::size_t i = 0; i < kOvCommandCount; ++i) {
        EXPECT_EQ(kOvCommands[i].selection, std::to_string(i + 1));
        EXPECT_NE(kOvCommands[i].run, nullptr);
    }
}

// Records which rows ran and what each could still read.
std::vector<std::string> g_ran;

void RecordingCommand(OvCommandContext& context)
{
    std::string next;
    context.io.ReadLine(next);
    g_ran.push_back(next);
}

class MenuLoopTest : public ::testing::Test {
protected:
    MenuLoopTest()
    {
        g_ran.clear();
        for (std::size_t i = 0; i < kOvCommandCount; ++i) {
            rows[i] = kOvCommands[i];
            rows[i].run = RecordingCommand;
        }
    }
    std::string Run(const std::string& typed)
    {
        ScriptedConsole console(typed);
        RunMenuLoop(console.context, rows, kOvCommandCount);
        return console.Output();
    }
    static std::string Cycle() { return std::string(kMenu) + "\n\nSelection: "; }
    OvCommandRow rows[kOvCommandCount];
};

TEST_F(MenuLoopTest, ZeroLeavesWithTwoLineFeeds)
{
    EXPECT_EQ(Run("0\n"), Cycle() + "\n\n");
    EXPECT_TRUE(g_ran.empty());
}

TEST_F(MenuLoopTest, EndOfInputLeavesAsZeroDoes) { EXPECT_EQ(Run(""), Cycle() + "\n\n"); }

TEST_F(MenuLoopTest, EndOfInputAfterBlankLinesLeaves)
{
    EXPECT_EQ(Run("\n\n  \n"), Cycle() + "\n\n");
}

TEST_F(MenuLoopTest, QuestionMarkGivesHelpThenHints)
{
    EXPECT_EQ(Run("?\n0\n"), Cycle() + kHelp + kHints + Cycle() + "\n\n");
}

TEST_F(MenuLoopTest, OtherNonDigitsGiveOnlyHints)
{
    EXPECT_EQ(Run("??\nhelp\n0\n"), Cycle() + kHints + Cycle() + kHints + Cycle() + "\n\n");
}

TEST_F(MenuLoopTest, HighByteIsNoDigit)
{
    EXPECT_EQ(Run("\xC3\xA9\n0\n"), Cycle() + kHints + Cycle() + "\n\n");
}

TEST_F(MenuLoopTest, UnmatchedDigitSelectionsPrintNothing)
{
    EXPECT_EQ(Run("00\n21\n05\n0x\n007\n0\n"),
              Cycle() + Cycle() + Cycle() + Cycle() + Cycle() + Cycle() + "\n\n");
    EXPECT_TRUE(g_ran.empty());
}

TEST_F(MenuLoopTest, ExtraWordsAreNotAnswers)
{
    Run("3 and more\nanswer\n0\n");
    ASSERT_EQ(g_ran.size(), 1u);
    EXPECT_EQ(g_ran[0], "answer");
}

TEST_F(MenuLoopTest, LeadingBlanksAndEmptyLinesBeforeASelection)
{
    const std::string output = Run("\n\n   12\nx\n0\n");
    ASSERT_EQ(g_ran.size(), 1u);
    EXPECT_EQ(g_ran[0], "x");
    // Waiting through empty lines does not print the menu again.
    EXPECT_EQ(output, Cycle() + Cycle() + "\n\n");
}

TEST_F(MenuLoopTest, EveryRowRunsForItsOwnSelection)
{
    std::string typed;
    for (int i = 1; i <= 20; ++i) typed += std::to_string(i) + "\nrow" + std::to_string(i) + "\n";
    Run(typed + "0\n");
    ASSERT_EQ(g_ran.size(), 20u);
    for (int i = 1; i <= 20; ++i) EXPECT_EQ(g_ran[i - 1], "row" + std::to_string(i));
}

TEST(DispatchTest, OnlyWholeStringsMatch)
{
    ScriptedConsole console("");
    OvCommandRow rows[1] = {
        {"1", "One", false, "", [](OvCommandContext&) { g_ran.push_back("1"); }}};
    g_ran.clear();
    EXPECT_FALSE(Dispatch("1 ", console.context, rows, 1));
    EXPECT_FALSE(Dispatch("01", console.context, rows, 1));
    EXPECT_TRUE(Dispatch("1", console.context, rows, 1));
    EXPECT_EQ(g_ran.size(), 1u);
}

}  // namespace
