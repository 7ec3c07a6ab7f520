// Reading typed lines, the selection word and hidden answers from the console.
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "console/OvConsoleIo.h"

namespace {

class FakeEcho : public OvEchoControl {
public:
    explicit FakeEcho(bool terminal) : terminal_(terminal) {}
    bool HideInput() override
    {
        calls += 'H';
        ++hides;
        hidden = terminal_;
        return terminal_;
    }
    void ShowInput() override
    {
        calls += 'S';
        ++shows;
        hidden = false;
    }
    void ProtectMemory() override { calls += 'P'; }
    void ForgetInput() override { calls += 'F'; }
    // P(rotect), H(ide), F(orget), S(how) in the order they came.
    std::string calls;
    int hides = 0;
    int shows = 0;
    bool hidden = false;

private:
    bool terminal_;
};

class ConsoleIoTest : public ::testing::Test {
protected:
    OvConsoleIo& Console(const std::string& typed, OvEchoControl* echo = nullptr)
    {
        in.str(typed);
        io.reset(new OvConsoleIo(in, out, wideOut, echo));
        return *io;
    }
    std::istringstream in;
    std::ostringstream out;
    std::wostringstream wideOut;
    std::unique_ptr<OvConsoleIo> io;
};

TEST_F(ConsoleIoTest, LineIsTakenWithoutItsLineFeed)
{
    std::string answer = "old";
    EXPECT_TRUE(Console("first\nsecond\n").ReadLine(answer));
    EXPECT_EQ(answer, "first");
    EXPECT_TRUE(io->ReadLine(answer));
    EXPECT_EQ(answer, "second");
}

TEST_F(ConsoleIoTest, BlanksAroundTheAnswerStay)
{
    std::string answer;
    Console("  a b  \n").ReadLine(answer);
    EXPECT_EQ(answer, "  a b  ");
}

TEST_F(ConsoleIoTest, EmptyLineGivesEmptyAnswer)
{
    std::string answer = "old";
    EXPECT_TRUE(Console("\nnext\n").ReadLine(answer));
    EXPECT_EQ(answer, "");
}

TEST_F(ConsoleIoTest, LongLineKeepsRoomAndNextReadStartsOnNextLine)
{
    std::string answer;
    Console(std::string(1500, 'x') + "\nnext\n").ReadLine(answer);
    EXPECT_EQ(answer, std::string(1023, 'x'));
    EXPECT_TRUE(io->ReadLine(answer));
    EXPECT_EQ(answer, "next");
}

TEST_F(ConsoleIoTest, LineOfExactlyRoomIsKeptWhole)
{
    std::string answer;
    Console(std::string(1023, 'y') + "\nnext\n").ReadLine(answer);
    EXPECT_EQ(answer, std::string(1023, 'y'));
    io->ReadLine(answer);
    EXPECT_EQ(answer, "next");
}

TEST_F(ConsoleIoTest, SmallRoomCutsAndDropsTheRest)
{
    std::string answer;
    Console("00000\n0\n").ReadLine(answer, 3);
    EXPECT_EQ(answer, "000");
    io->ReadLine(answer, 3);
    EXPECT_EQ(answer, "0");
}

TEST_F(ConsoleIoTest, AnswerEndsAtNul)
{
    std::string answer;
    Console(std::string("ab\0cd\nnext\n", 11)).ReadLine(answer);
    EXPECT_EQ(answer, "ab");
    io->ReadLine(answer);
    EXPECT_EQ(answer, "next");
}

TEST_F(ConsoleIoTest, LastLineWithoutLineFeedIsALine)
{
    std::string answer;
    EXPECT_TRUE(Console("last").ReadLine(answer));
    EXPECT_EQ(answer, "last");
    EXPECT_FALSE(io->ReadLine(answer));
}

TEST_F(ConsoleIoTest, EndOfInputGivesEmptyAnswerAndFalse)
{
    std::string answer = "old";
    EXPECT_FALSE(Console("").ReadLine(answer));
    EXPECT_EQ(answer, "");
    EXPECT_FALSE(io->ReadLine(answer));
}

TEST_F(ConsoleIoTest, WordSkipsBlanksAndEmptyLines)
{
    std::string word;
    EXPECT_TRUE(Console("\n\n   \t12\n").ReadWord(word));
    EXPECT_EQ(word, "12");
}

TEST_F(ConsoleIoTest, WordDropsTheRestOfItsLine)
{
    std::string word;
    std::string answer;
    Console("3 more words\nanswer\n").ReadWord(word);
    EXPECT_EQ(word, "3");
    io->ReadLine(answer);
    EXPECT_EQ(answer, "answer");
}

TEST_F(ConsoleIoTest, WordEndingTheLineLeavesTheNextLineAlone)
{
    std::string word;
    std::string answer;
    Console("2\n\nctx\n").ReadWord(word);
    io->ReadLine(answer);
    EXPECT_EQ(answer, "");
    io->ReadLine(answer);
    EXPECT_EQ(answer, "ctx");
}

TEST_F(ConsoleIoTest, NoWordBeforeEndOfInput)
{
    std::string word = "old";
    EXPECT_FALSE(Console("  \n \n").ReadWord(word));
    EXPECT_EQ(word, "");
}

TEST_F(ConsoleIoTest, WordAtEndOfInputWithoutLineFeed)
{
    std::string word;
    EXPECT_TRUE(Console("0").ReadWord(word));
    EXPECT_EQ(word, "0");
    EXPECT_FALSE(io->ReadWord(word));
}

TEST_F(ConsoleIoTest, OverlongWordIsCutAndItsLineDropped)
{
    std::string word;
    std::string answer;
    Console(std::string(3000, '1') + " x\nnext\n").ReadWord(word);
    EXPECT_EQ(word, std::string(1023, '1'));
    io->ReadLine(answer);
    EXPECT_EQ(answer, "next");
}

TEST_F(ConsoleIoTest, ReadingFlushesWhatWasWritten)
{
    std::string answer;
    OvConsoleIo& console = Console("x\n");
    console.Out() << "prompt: ";
    console.ReadLine(answer);
    EXPECT_EQ(out.str(), "prompt: ");
}

TEST_F(ConsoleIoTest, HiddenLineOnATerminalAddsTheLineFeed)
{
    FakeEcho echo(true);
    std::string answer;
    Console("secret\n", &echo).ReadHiddenLine(answer);
    EXPECT_EQ(answer, "secret");
    EXPECT_EQ(out.str(), "\n");
    EXPECT_EQ(echo.hides, 1);
    EXPECT_EQ(echo.shows, 1);
    EXPECT_FALSE(echo.hidden);
    // The process is protected before the secret arrives, the input's
    // buffer forgotten before anything else happens.
    EXPECT_EQ(echo.calls, "PHFS");
}

TEST_F(ConsoleIoTest, HiddenLineElsewhereChangesNothing)
{
    FakeEcho echo(false);
    std::string answer;
    Console("secret\n", &echo).ReadHiddenLine(answer);
    EXPECT_EQ(answer, "secret");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(echo.shows, 0);
    EXPECT_EQ(echo.calls, "PHF");
}

TEST_F(ConsoleIoTest, HiddenLineAtEndOfInputShowsInputAgain)
{
    FakeEcho echo(true);
    std::string answer;
    EXPECT_FALSE(Console("", &echo).ReadHiddenLine(answer));
    EXPECT_FALSE(echo.hidden);
    EXPECT_EQ(echo.shows, 1);
}

}  // namespace
