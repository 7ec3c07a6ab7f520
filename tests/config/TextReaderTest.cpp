// The text reader: sections, keys, comments, blanks and its failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "ConfigTestSupport.h"
#include "config/IniReaders.h"

namespace {

using configtest::SeamGuard;
using configtest::TempFolder;
using configtest::WaitLog;

class TextReader : public ::testing::Test {
protected:
    // Reads Key of section [S] from a file with the given content.
    bool Read(const std::string& content, std::string& value, const std::string& section = "S",
              const std::string& key = "Key")
    {
        return ReadIniString(folder_.Write("orvane.ini", content), section, key, value);
    }
    TempFolder folder_;
    SeamGuard seam_;
};

TEST_F(TextReader, FindsTheKeyOfTheSection)
{
    std::string value;
    EXPECT_TRUE(Read("[Other]\nKey=no\n[S]\nA=1\nKey=yes\n", value));
    EXPECT_EQ(value, "yes");
}

TEST_F(TextReader, BlanksAroundEqualsAndAtLineEndsAreIgnored)
{
    std::string value;
    EXPECT_TRUE(Read("  [S]  \r\n\t Key \t=  two words \r\n", value));
    EXPECT_EQ(value, "two words");
}

TEST_F(TextReader, IndentedHeaderIsAHeader)
{
    std::string value;
    EXPECT_TRUE(Read("   [S]\nKey=1\n", value));
    EXPECT_EQ(value, "1");
}

TEST_F(TextReader, CommentedKeyIsNotFound)
{
    std::string value = "unchanged";
    EXPECT_FALSE(Read("[S]\n#Key=1\n", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniKeyMissing);
    EXPECT_EQ(value, "unchanged");
}

TEST_F(TextReader, IndentedCommentIsAComment)
{
    std::string value;
    EXPECT_FALSE(Read("[S]\n   # Key=1\n", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniKeyMissing);
}

TEST_F(TextReader, KeyNameIsCaseSensitive)
{
    std::string value;
    EXPECT_FALSE(Read("[S]\nkey=1\n", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniKeyMissing);
}

TEST_F(TextReader, SectionNameIsCaseSensitive)
{
    std::string value;
    EXPECT_FALSE(Read("[s]\nKey=1\n", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniSectionMissing);
}

TEST_F(TextReader, FirstOfTwoEqualKeysWins)
{
    std::string value;
    EXPECT_TRUE(Read("[S]\nKey=first\nKey=second\n", value));
    EXPECT_EQ(value, "first");
}

TEST_F(TextReader, OtherHeaderEndsTheSearchEvenIfTheSectionComesAgain)
{
    std::string value;
    EXPECT_FALSE(Read("[S]\nA=1\n[T]\n[S]\nKey=1\n", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniKeyMissing);
}

TEST_F(TextReader, RepeatedHeaderOfTheSectionEndsTheSearch)
{
    std::string value;
    EXPECT_FALSE(Read("[S]\n[S]\nKey=1\n", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniKeyMissing);
}

TEST_F(TextReader, ValueOfBlanksIsEmpty)
{
    std::string value = "x";
    EXPECT_TRUE(Read("[S]\nKey=   \t\n", value));
    EXPECT_EQ(value, "");
}

TEST_F(TextReader, SplitsAtTheFirstEquals)
{
    std::string value;
    EXPECT_TRUE(Read("[S]\nKey = a=b\n", value));
    EXPECT_EQ(value, "a=b");
}

TEST_F(TextReader, LineWithoutEqualsIsSkipped)
{
    std::string value;
    EXPECT_TRUE(Read("[S]\nKey\nKey=1", value));
    EXPECT_EQ(value, "1");
}

TEST_F(TextReader, LastLineWithoutLineFeedIsRead)
{
    std::string value;
    EXPECT_TRUE(Read("[S]\nKey=end", value));
    EXPECT_EQ(value, "end");
}

TEST_F(TextReader, HeaderWithTrailingTextIsNotTheSection)
{
    std::string value;
    EXPECT_FALSE(Read("[S] ; note\nKey=1\n", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniSectionMissing);
}

TEST_F(TextReader, MissingFileFailsAtOnce)
{
    std::string value;
    EXPECT_FALSE(ReadIniString(folder_.File("missing.ini"), "S", "Key", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniFileMissing);
    EXPECT_EQ(WaitLog::Count(), 0);
}

TEST_F(TextReader, SuccessKeepsTheLastFailedStatus)
{
    std::string value;
    EXPECT_FALSE(Read("[S]\n", value, "Absent"));
    EXPECT_TRUE(Read("[S]\nKey=1\n", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniSectionMissing);
}

TEST_F(TextReader, LongestLineIsRead)
{
    std::string value;
    const std::string longValue(4095 - 4, 'v');
    EXPECT_TRUE(Read("[S]\nKey=" + longValue + "\n", value));
    EXPECT_EQ(value, longValue);
}

TEST_F(TextReader, OverlongLineEndsTheScan)
{
    std::string value;
    EXPECT_FALSE(Read("[S]\nA=" + std::string(5000, 'x') + "\nKey=1\n", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniKeyMissing);
}

TEST_F(TextReader, DirectoryInPlaceOfTheFileCountsAsMissing)
{
    std::string value;
    const std::string folder = folder_.File("");
    EXPECT_FALSE(ReadIniString(folder, "S", "Key", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniFileMissing);
}

int g_openCalls = 0;
int g_failingOpens = 0;

int OpenFailingFirst(const char* path)
{
    if (++g_openCalls <= g_failingOpens) {
        errno = EACCES;
        return -1;
    }
    return DefaultIniFileSystem().open(path);
}

TEST_F(TextReader, UnopenableFileIsTriedTenTimesThenMissing)
{
    g_openCalls = 0;
    g_failingOpens = 1000;
    CurrentIniFileSystem().open = OpenFailingFirst;
    std::string value;
    EXPECT_FALSE(Read("[S]\nKey=1\n", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniFileMissing);
    EXPECT_EQ(g_openCalls, 10);
    EXPECT_EQ(WaitLog::Count(), 10);
}

TEST_F(TextReader, FileThatOpensOnALaterAttemptIsRead)
{
    g_openCalls = 0;
    g_failingOpens = 2;
    CurrentIniFileSystem().open = OpenFailingFirst;
    std::string value;
    EXPECT_TRUE(Read("[S]\nKey=1\n", value));
    EXPECT_EQ(value, "1");
    EXPECT_EQ(WaitLog::Count(), 2);
}

int g_closeCalls = 0;
int CountingClose(int fd)
{
    ++g_closeCalls;
    return DefaultIniFileSystem().close(fd);
}

int RefuseSharedLock(int)
{
    errno = EWOULDBLOCK;
    return -1;
}

TEST_F(TextReader, LockHeldElsewhereIsTriedTenTimesThenMissing)
{
    g_closeCalls = 0;
    CurrentIniFileSystem().lockShared = RefuseSharedLock;
    CurrentIniFileSystem().close = CountingClose;
    std::string value;
    EXPECT_FALSE(Read("[S]\nKey=1\n", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniFileMissing);
    EXPECT_EQ(WaitLog::Count(), 10);
    EXPECT_EQ(g_closeCalls, 10);
}

ssize_t FailingRead(int, void*, std::size_t)
{
    errno = EIO;
    return -1;
}

TEST_F(TextReader, FailedReadEndsTheScanAndClosesTheFile)
{
    g_closeCalls = 0;
    CurrentIniFileSystem().read = FailingRead;
    CurrentIniFileSystem().close = CountingClose;
    std::string value;
    EXPECT_FALSE(Read("[S]\nKey=1\n", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniFileMissing);
    EXPECT_EQ(g_closeCalls, 1);
}

}  // namespace
