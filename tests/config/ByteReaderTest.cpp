// The byte and integer readers: headers, keys, numbers, long values and their failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "ConfigTestSupport.h"
#include "config/IniReaders.h"

namespace {

using configtest::SeamGuard;
using configtest::TempFolder;
using configtest::WaitLog;

class ByteReader : public ::testing::Test {
protected:
    int ReadInt(const std::string& content, int& value, const char* section = "S",
                const char* key = "Key")
    {
        const std::string file = folder_.Write("orvane.ini", content);
        return ReadIniInt(file.c_str(), section, key, value);
    }
    int ReadText(const std::string& content, std::string& value)
    {
        const std::string file = folder_.Write("orvane.ini", content);
        char buffer[kIniValueSize];
        std::memset(buffer, 'z', sizeof buffer);
        const int status = ReadIniValue(file.c_str(), "S", "Key", buffer);
        if (status == 0) value = buffer;
        return status;
    }
    TempFolder folder_;
    SeamGuard seam_;
};

TEST_F(ByteReader, ReadsTheNumber)
{
    int value = 0;
    EXPECT_EQ(ReadInt("[T]\nKey=1\n[S]\nKey=42\n", value), 0);
    EXPECT_EQ(value, 42);
}

TEST_F(ByteReader, BlanksAroundEqualsAndAtLineEndsAreIgnored)
{
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\r\n  Key \t=\t 7 \r\n", value), 0);
    EXPECT_EQ(value, 7);
}

TEST_F(ByteReader, IndentedHeaderIsNoHeader)
{
    int value = 0;
    EXPECT_EQ(ReadInt("  [S]\nKey=1\n", value), static_cast<int>(kIniSectionMissing));
}

TEST_F(ByteReader, HeaderWordMayBeFollowedByText)
{
    int value = 0;
    EXPECT_EQ(ReadInt("[S] ; note\nKey=3\n", value), 0);
    EXPECT_EQ(value, 3);
}

TEST_F(ByteReader, CommentedKeyIsReadUnderAnotherName)
{
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\n#Key=1\n", value), static_cast<int>(kIniKeyMissing));
    EXPECT_EQ(ReadInt("[S]\n#Key=1\n", value, "S", "#Key"), 0);
    EXPECT_EQ(value, 1);
}

TEST_F(ByteReader, NamesAreCaseSensitive)
{
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\nkey=1\n", value), static_cast<int>(kIniKeyMissing));
    EXPECT_EQ(ReadInt("[s]\nKey=1\n", value), static_cast<int>(kIniSectionMissing));
}

TEST_F(ByteReader, FirstOfTwoEqualKeysWins)
{
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\nKey=1\nKey=2\n", value), 0);
    EXPECT_EQ(value, 1);
}

TEST_F(ByteReader, OtherHeaderEndsTheSearchEvenIfTheSectionComesAgain)
{
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\n[T]\n[S]\nKey=1\n", value), static_cast<int>(kIniKeyMissing));
}

TEST_F(ByteReader, RepeatedHeaderOfTheSectionContinuesIt)
{
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\nA=1\n[S]\nKey=5\n", value), 0);
    EXPECT_EQ(value, 5);
}

TEST_F(ByteReader, NonNumericValueGivesZero)
{
    int value = 9;
    EXPECT_EQ(ReadInt("[S]\nKey=abc\n", value), 0);
    EXPECT_EQ(value, 0);
}

TEST_F(ByteReader, LeadingDigitsAreTheNumber)
{
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\nKey=12abc\n", value), 0);
    EXPECT_EQ(value, 12);
    EXPECT_EQ(ReadInt("[S]\nKey=-5\n", value), 0);
    EXPECT_EQ(value, -5);
}

TEST_F(ByteReader, HugeNumberSaturates)
{
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\nKey=99999999999999999999\n", value), 0);
    EXPECT_EQ(value, INT_MAX);
    EXPECT_EQ(ReadInt("[S]\nKey=-99999999999999999999\n", value), 0);
    EXPECT_EQ(value, INT_MIN);
}

TEST_F(ByteReader, MissingValueLeavesTheNumberAlone)
{
    int value = 9;
    EXPECT_EQ(ReadInt("[S]\n", value), static_cast<int>(kIniKeyMissing));
    EXPECT_EQ(value, 9);
}

TEST_F(ByteReader, ValueOfBlanksIsEmpty)
{
    std::string value = "x";
    EXPECT_EQ(ReadText("[S]\nKey=  \n", value), 0);
    EXPECT_EQ(value, "");
}

TEST_F(ByteReader, LongValueIsCutToTheBuffer)
{
    std::string value;
    EXPECT_EQ(ReadText("[S]\nKey=" + std::string(900, '7') + "\n", value), 0);
    EXPECT_EQ(value, std::string(kIniValueSize - 1, '7'));
}

TEST_F(ByteReader, KeyAfterALongLineIsFound)
{
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\nA=" + std::string(5000, 'x') + "\nKey=8\n", value), 0);
    EXPECT_EQ(value, 8);
}

TEST_F(ByteReader, LastLineWithoutLineFeedIsRead)
{
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\nKey=4", value), 0);
    EXPECT_EQ(value, 4);
}

TEST_F(ByteReader, MissingFileFailsAtOnce)
{
    int value = 0;
    EXPECT_EQ(ReadIniInt(folder_.File("missing.ini").c_str(), "S", "Key", value),
              static_cast<int>(kIniFileMissing));
    EXPECT_EQ(WaitLog::Count(), 0);
}

TEST_F(ByteReader, DoesNotTouchTheTextReadersStatus)
{
    std::string text;
    ReadIniString(folder_.File("missing.ini"), "S", "Key", text);
    int value = 0;
    EXPECT_EQ(ReadInt("[T]\n", value), static_cast<int>(kIniSectionMissing));
    EXPECT_EQ(GetLastIniReadStatus(), kIniFileMissing);
}

int g_lockCalls = 0;
int g_unlockCalls = 0;
int g_lockErrno = 0;
int g_closeCalls = 0;

int RefuseRangeLock(int fd, bool locking, off_t length)
{
    if (!locking) {
        ++g_unlockCalls;
        return DefaultIniFileSystem().lockRange(fd, locking, length);
    }
    ++g_lockCalls;
    errno = g_lockErrno;
    return -1;
}

int CountRangeLock(int fd, bool locking, off_t length)
{
    EXPECT_EQ(length, 10000);
    ++(locking ? g_lockCalls : g_unlockCalls);
    return DefaultIniFileSystem().lockRange(fd, locking, length);
}

int CountingClose(int fd)
{
    ++g_closeCalls;
    return DefaultIniFileSystem().close(fd);
}

class ByteReaderLocking : public ByteReader {
protected:
    void SetUp() override
    {
        g_lockCalls = g_unlockCalls = g_closeCalls = 0;
        CurrentIniFileSystem().close = CountingClose;
    }
};

TEST_F(ByteReaderLocking, LocksAndUnlocksTheHeadOfTheFile)
{
    CurrentIniFileSystem().lockRange = CountRangeLock;
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\nKey=1\n", value), 0);
    EXPECT_EQ(g_lockCalls, 1);
    EXPECT_EQ(g_unlockCalls, 1);
    EXPECT_EQ(g_closeCalls, 1);
}

TEST_F(ByteReaderLocking, RegionHeldElsewhereIsTriedTenTimes)
{
    g_lockErrno = EAGAIN;
    CurrentIniFileSystem().lockRange = RefuseRangeLock;
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\nKey=1\n", value), static_cast<int>(kIniFileMissing));
    EXPECT_EQ(g_lockCalls, 10);
    EXPECT_EQ(WaitLog::Count(), 9);
    EXPECT_EQ(g_closeCalls, 1);
}

TEST_F(ByteReaderLocking, AccessDeniedCountsAsHeldElsewhere)
{
    g_lockErrno = EACCES;
    CurrentIniFileSystem().lockRange = RefuseRangeLock;
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\nKey=1\n", value), static_cast<int>(kIniFileMissing));
    EXPECT_EQ(g_lockCalls, 10);
}

TEST_F(ByteReaderLocking, OtherLockFailureGivesUpAtOnce)
{
    g_lockErrno = ENOLCK;
    CurrentIniFileSystem().lockRange = RefuseRangeLock;
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\nKey=1\n", value), static_cast<int>(kIniFileMissing));
    EXPECT_EQ(g_lockCalls, 1);
    EXPECT_EQ(WaitLog::Count(), 0);
    EXPECT_EQ(g_closeCalls, 1);
}

ssize_t FailingRead(int, void*, std::size_t)
{
    errno = EIO;
    return -1;
}

TEST_F(ByteReaderLocking, FailedReadEndsTheScan)
{
    CurrentIniFileSystem().read = FailingRead;
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\nKey=1\n", value), static_cast<int>(kIniSectionMissing));
    EXPECT_EQ(g_closeCalls, 1);
}

}  // namespace
