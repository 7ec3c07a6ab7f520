// The commands' prompts: line, flag and address prompts, echo, lists, error report.
#include <arpa/inet.h>

#include <gtest/gtest.h>

#include "FakeServices.h"

namespace {

TEST(LinePromptTest, WritesLineFeedTextAndColon)
{
    ScriptedConsole console("answer\n");
    EXPECT_EQ(LinePrompt(console.context, "Context"), "answer");
    EXPECT_EQ(console.Output(), "\nContext: ");
}

TEST(LinePromptTest, TextEndingInLineFeedPutsColonOnItsOwnLine)
{
    ScriptedConsole console("x\n");
    LinePrompt(console.context, "Directory Service Type\nExample: LDAP\n");
    EXPECT_EQ(console.Output(), "\nDirectory Service Type\nExample: LDAP\n: ");
}

TEST(LinePromptTest, BlanksStayInTheAnswer)
{
    ScriptedConsole console("  padded  \n");
    EXPECT_EQ(LinePrompt(console.context, "User"), "  padded  ");
}

TEST(LinePromptTest, EndOfInputGivesEmptyAnswer)
{
    ScriptedConsole console("");
    EXPECT_EQ(LinePrompt(console.context, "User"), "");
}

class FlagPromptTest : public ::testing::TestWithParam<std::pair<const char*, bool>> {};

TEST_P(FlagPromptTest, OnlyZeroIsFalse)
{
    ScriptedConsole console(std::string(GetParam().first) + "\n");
    EXPECT_EQ(FlagPrompt(console.context, "exactMatch(0|1)"), GetParam().second);
    EXPECT_EQ(console.Output(), "\nexactMatch(0|1): ");
}

INSTANTIATE_TEST_SUITE_P(Answers, FlagPromptTest,
                         ::testing::Values(std::make_pair("0", false), std::make_pair("1", true),
                                           std::make_pair("", true), std::make_pair("00", true),
                                           std::make_pair(" 0", true), std::make_pair("0 ", true),
                                           std::make_pair("no", true),
                                           // cut to three characters: "0ab" is no "0"
                                           std::make_pair("0abcdef", true)));

TEST(FlagPromptCutTest, RestOfALongAnswerIsDropped)
{
    ScriptedConsole console("1234567\nnext\n");
    FlagPrompt(console.context, "sslEnable(0|1)");
    EXPECT_EQ(LinePrompt(console.context, "After"), "next");
}

TEST(FlagPromptCutTest, EndOfInputGivesTrue)
{
    ScriptedConsole console("");
    EXPECT_TRUE(FlagPrompt(console.context, "sslEnable(0|1)"));
}

TEST(AddressPromptTest, DottedAddressAsInAddr)
{
    ScriptedConsole console("10.1.2.3\n");
    in_addr expected{};
    inet_pton(AF_INET, "10.1.2.3", &expected);
    EXPECT_EQ(AddressPrompt(console.context), expected.s_addr);
    EXPECT_EQ(console.Output(), "\nIP: ");
}

TEST(AddressPromptTest, ZeroAddressIsZeroWithoutMessage)
{
    ScriptedConsole console("0.0.0.0\n");
    EXPECT_EQ(AddressPrompt(console.context), 0u);
    EXPECT_EQ(console.Output(), "\nIP: ");
}

TEST(AddressPromptTest, UnresolvableNameGivesMessageAndZero)
{
    ScriptedConsole console("no-such-host.invalid\n");
    EXPECT_EQ(AddressPrompt(console.context), 0u);
    EXPECT_EQ(console.Output(), "\nIP: \n!!! Couldn't translate given IP or hostname !!!\n");
}

TEST(EchoAndListTest, EchoShowsTheAnswerAsTyped)
{
    ScriptedConsole console("");
    EchoCall(console.context, " a ");
    EchoCall(console.context, "");
    EXPECT_EQ(console.Output(), "Call with  a \nCall with \n");
}

TEST(EchoAndListTest, ListEntriesAreTabIndented)
{
    ScriptedConsole console("");
    PrintList(console.context, "Users:\n", {L"a", L"b", L"J\u00fcrgen"});
    EXPECT_EQ(console.Output(), "Users:\n\ta\n\tb\n\tJ\xC3\xBCrgen\n");

    // Into a pipe the listing is flushed once; the bytes are the same.
    ScriptedConsole piped("");
    piped.context.io.SetFlushEachLine(false);
    PrintList(piped.context, "Users:\n", {L"a", L"b", L"J\u00fcrgen"});
    EXPECT_EQ(piped.Output(), console.Output());
}

TEST(EchoAndListTest, EmptyListIsTheHeadingAlone)
{
    ScriptedConsole console("");
    PrintList(console.context, "Groups:\n", {});
    EXPECT_EQ(console.Output(), "Groups:\n");
}

TEST(ErrorReportTest, MessageThenUnsignedCode)
{
    FakeServices::Get();
    ScriptedConsole console("");
    ReportError(console.context, 0x30A20003u);
    EXPECT_EQ(console.Output(), "\ntext of 30a20003\n Error #815923203\n");
}

TEST(ErrorReportTest, TopBitCodeIsPositive)
{
    FakeServices::Get();
    ScriptedConsole console("");
    ReportError(console.context, 0xFFFFFFFFu);
    EXPECT_EQ(console.Output(), "\ntext of ffffffff\n Error #4294967295\n");
}

TEST(ErrorReportTest, EventLogIsAcquiredOnceAndKept)
{
    FakeServices& services = FakeServices::Get();
    ScriptedConsole console("");
    ReportError(console.context, 1);
    ReportError(console.context, 2);
    EXPECT_EQ(services.eventLogFactory.creates, 1);
    EXPECT_EQ(services.eventLogFactory.releases, 0);
}

}  // namespace
