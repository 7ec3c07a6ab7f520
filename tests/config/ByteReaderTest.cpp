// The byte and integer readers: headers, keys, numbers, long values and their failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "ConfigTestSupport.h"
#include "config/IniReaders.h"

namespace {

using configtest::CloseCount;
using configtest::CountingClose;
using configtest::FailingRead;
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

// Files read for the number under Key of [S]: the status, and the number
// afterwards (it starts as 9, which a failed read leaves alone).
struct IntCase {
    const char* name;
    const char* content;
    unsigned status;
    int value;
};

const IntCase kIntCases[] = {
    {"ReadsTheNumber", "[T]\nKey=1\n[S]\nKey=42\n", 0, 42},
    {"BlanksAroundEqualsAndAtLineEndsAreIgnored", "[S]\r\n  Key \t=\t 7 \r\n", 0, 7},
    {"IndentedHeaderIsNoHeader", "  [S]\nKey=1\n", kIniSectionMissing, 9},
    {"HeaderWordMayBeFollowedByText", "[S] ; note\nKey=3\n", 0, 3},
    {"FirstOfTwoEqualKeysWins", "[S]\nKey=1\nKey=2\n", 0, 1},
    {"OtherHeaderEndsTheSearchEvenIfTheSectionComesAgain", "[S]\n[T]\n[S]\nKey=1\n", kIniKeyMissing,
     9},
    {"RepeatedHeaderOfTheSectionContinuesIt", "[S]\nA=1\n[S]\nKey=5\n", 0, 5},
    {"NonNumericValueGivesZero", "[S]\nKey=abc\n", 0, 0},
    {"MissingValueLeavesTheNumberAlone", "[S]\n", kIniKeyMissing, 9},
    {"LastLineWithoutLineFeedIsRead", "[S]\nKey=4", 0, 4},
};

class ByteReaderInt : public ByteReader, public ::testing::WithParamInterface<IntCase> {};

TEST_P(ByteReaderInt, StatusAndNumber)
{
    int value = 9;
    EXPECT_EQ(ReadInt(GetParam().content, value), static_cast<int>(GetParam().status));
    EXPECT_EQ(value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Files, ByteReaderInt, ::testing::ValuesIn(kIntCases),
                         [](const ::testing::TestParamInfo<IntCase>& param) {
                             return std::string(param.param.name);
                         });

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

class ByteReaderLocking : public ByteReader {
protected:
    void SetUp() override
    {
        g_lockCalls = g_unlockCalls = 0;
        CloseCount() = 0;
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
    EXPECT_EQ(CloseCount(), 1);
}

TEST_F(ByteReaderLocking, RegionHeldElsewhereIsTriedTenTimes)
{
    g_lockErrno = EAGAIN;
    CurrentIniFileSystem().lockRange = RefuseRangeLock;
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\nKey=1\n", value), static_cast<int>(kIniFileMissing));
    EXPECT_EQ(g_lockCalls, 10);
    EXPECT_EQ(WaitLog::Count(), 9);
    EXPECT_EQ(CloseCount(), 1);
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
    EXPECT_EQ(CloseCount(), 1);
}

TEST_F(ByteReaderLocking, FailedReadEndsTheScan)
{
    CurrentIniFileSystem().read = FailingRead;
    int value = 0;
    EXPECT_EQ(ReadInt("[S]\nKey=1\n", value), static_cast<int>(kIniSectionMissing));
    EXPECT_EQ(CloseCount(), 1);
}

}  // namespace
