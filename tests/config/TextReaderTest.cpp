// The text reader: sections, keys, comments, blanks and its failures.
#include <gtest/gtest.h>

#include <cerrno>
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

// Files in which Key of [S] is found, and the value read.
struct FoundCase {
    const char* name;
    const char* content;
    const char* value;
};

const FoundCase kFoundCases[] = {
    {"FindsTheKeyOfTheSection", "[Other]\nKey=no\n[S]\nA=1\nKey=yes\n", "yes"},
    {"BlanksAroundEqualsAndAtLineEndsAreIgnored", "  [S]  \r\n\t Key \t=  two words \r\n",
     "two words"},
    {"IndentedHeaderIsAHeader", "   [S]\nKey=1\n", "1"},
    {"FirstOfTwoEqualKeysWins", "[S]\nKey=first\nKey=second\n", "first"},
    {"ValueOfBlanksIsEmpty", "[S]\nKey=   \t\n", ""},
    {"SplitsAtTheFirstEquals", "[S]\nKey = a=b\n", "a=b"},
    {"LineWithoutEqualsIsSkipped", "[S]\nKey\nKey=1", "1"},
    {"LastLineWithoutLineFeedIsRead", "[S]\nKey=end", "end"},
};

class TextReaderFound : public TextReader, public ::testing::WithParamInterface<FoundCase> {};

TEST_P(TextReaderFound, ReadsTheValue)
{
    std::string value = "x";
    EXPECT_TRUE(Read(GetParam().content, value));
    EXPECT_EQ(value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Files, TextReaderFound, ::testing::ValuesIn(kFoundCases),
                         [](const ::testing::TestParamInfo<FoundCase>& param) {
                             return std::string(param.param.name);
                         });

// Files in which Key of [S] is not found, and the status that says why.
struct MissingCase {
    const char* name;
    const char* content;
    unsigned status;
};

const MissingCase kMissingCases[] = {
    {"CommentedKeyIsNotFound", "[S]\n#Key=1\n", kIniKeyMissing},
    {"IndentedCommentIsAComment", "[S]\n   # Key=1\n", kIniKeyMissing},
    {"KeyNameIsCaseSensitive", "[S]\nkey=1\n", kIniKeyMissing},
    {"SectionNameIsCaseSensitive", "[s]\nKey=1\n", kIniSectionMissing},
    {"OtherHeaderEndsTheSearchEvenIfTheSectionComesAgain", "[S]\nA=1\n[T]\n[S]\nKey=1\n",
     kIniKeyMissing},
    {"RepeatedHeaderOfTheSectionEndsTheSearch", "[S]\n[S]\nKey=1\n", kIniKeyMissing},
    {"HeaderWithTrailingTextIsNotTheSection", "[S] ; note\nKey=1\n", kIniSectionMissing},
};

class TextReaderMissing : public TextReader, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(TextReaderMissing, FailsWithItsStatusAndLeavesTheValue)
{
    std::string value = "unchanged";
    EXPECT_FALSE(Read(GetParam().content, value));
    EXPECT_EQ(GetLastIniReadStatus(), GetParam().status);
    EXPECT_EQ(value, "unchanged");
}

INSTANTIATE_TEST_SUITE_P(Files, TextReaderMissing, ::testing::ValuesIn(kMissingCases),
                         [](const ::testing::TestParamInfo<MissingCase>& param) {
                             return std::string(param.param.name);
                         });

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

int RefuseSharedLock(int)
{
    errno = EWOULDBLOCK;
    return -1;
}

TEST_F(TextReader, LockHeldElsewhereIsTriedTenTimesThenMissing)
{
    CloseCount() = 0;
    CurrentIniFileSystem().lockShared = RefuseSharedLock;
    CurrentIniFileSystem().close = CountingClose;
    std::string value;
    EXPECT_FALSE(Read("[S]\nKey=1\n", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniFileMissing);
    EXPECT_EQ(WaitLog::Count(), 10);
    EXPECT_EQ(CloseCount(), 10);
}

TEST_F(TextReader, FailedReadEndsTheScanAndClosesTheFile)
{
    CloseCount() = 0;
    CurrentIniFileSystem().read = FailingRead;
    CurrentIniFileSystem().close = CountingClose;
    std::string value;
    EXPECT_FALSE(Read("[S]\nKey=1\n", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniFileMissing);
    EXPECT_EQ(CloseCount(), 1);
}

}  // namespace
