// The console error records: one line each, fields left out as the record's data says.
#include <clocale>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "console/OvConsoleApplication.h"
#include "framework/OvOS.h"

namespace {

class ConsoleLogStreamTest : public ::testing::Test {
protected:
    ConsoleLogStreamTest() : stream(mutex, output) { OvOS::InitializeMutex(mutex); }
    ~ConsoleLogStreamTest() override { OvOS::DeleteMutex(mutex); }

    // Starts a record the way the application's GetErrorStream does.
    OvLogStream& Record(unsigned code, unsigned moduleId, const char* location, int line,
                        int severity)
    {
        stream.Reset();
        stream.SetErrorData(code, moduleId, location, line, severity);
        return stream;
    }

    void* mutex = nullptr;
    std::ostringstream output;
    OvConsoleApplication::OvConsoleLogStream stream;
};

// A record without parameters: which fields appear, and how.
struct FieldsCase {
    const char* name;
    unsigned code;
    unsigned moduleId;
    const char* location;
    int line;
    int severity;
    const char* expected;
};

const FieldsCase kFieldsCases[] = {
    {"ParameterFileRecordReadsAsDocumented", 0x20710004, 0x718000, "OvIniParameters", 268, -1,
     "Error: Code=0x20710004 ModuleId=0x718000 Location=OvIniParameters:268\n"},
    {"SeverityIsPrintedInHexWhenGiven", 0x1, 0x2, nullptr, 0, 3,
     "Error: Code=0x1 ModuleId=0x2 Severity=0x3\n"},
    {"NegativeSeverityIsItsTwosComplement", 0x1, 0x2, nullptr, 0, -2,
     "Error: Code=0x1 ModuleId=0x2 Severity=0xfffffffe\n"},
    {"CodesAreLowerCaseWithoutLeadingZeros", 0xABCDEF01, 0x0, nullptr, 0, -1,
     "Error: Code=0xabcdef01 ModuleId=0x0\n"},
    {"NullLocationLeavesOutLocationAndLine", 0x5, 0x6, nullptr, 42, -1,
     "Error: Code=0x5 ModuleId=0x6\n"},
    {"EmptyLocationLeavesOutLocationAndLine", 0x5, 0x6, "", 42, -1,
     "Error: Code=0x5 ModuleId=0x6\n"},
    {"LineZeroLeavesOutTheColon", 0x5, 0x6, "Here", 0, -1,
     "Error: Code=0x5 ModuleId=0x6 Location=Here\n"},
    {"NegativeLineLeavesOutTheColon", 0x5, 0x6, "Here", -4, -1,
     "Error: Code=0x5 ModuleId=0x6 Location=Here\n"},
};

class ConsoleLogStreamFieldsTest : public ConsoleLogStreamTest,
                                   public ::testing::WithParamInterface<FieldsCase> {};

TEST_P(ConsoleLogStreamFieldsTest, RecordHasTheFieldsItsDataCallsFor)
{
    const FieldsCase& c = GetParam();
    Record(c.code, c.moduleId, c.location, c.line, c.severity) << ends;
    EXPECT_EQ(output.str(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Fields, ConsoleLogStreamFieldsTest, ::testing::ValuesIn(kFieldsCases),
                         [](const ::testing::TestParamInfo<FieldsCase>& param) {
                             return std::string(param.param.name);
                         });

// A server's or a file's text never acts on the terminal: escaped as printed.
TEST_F(ConsoleLogStreamTest, TwoParametersAreListedInOrder)
{
    Record(0x5, 0x6, "Here\x1B", 7, -1) << std::string("A") << std::string("B\r\n") << ends;
    EXPECT_EQ(output.str(),
              "Error: Code=0x5 ModuleId=0x6 Location=Here\\1b:7 Parameters: (A, B\\0d\\0a)\n");
}

TEST_F(ConsoleLogStreamTest, EmptyParameterStillCounts)
{
    Record(0x5, 0x6, nullptr, 0, -1) << std::string() << ends;
    EXPECT_EQ(output.str(), "Error: Code=0x5 ModuleId=0x6 Parameters: ()\n");
}

TEST_F(ConsoleLogStreamTest, NumbersAfterARecordAreDecimal)
{
    Record(0xff, 0xff, nullptr, 0, 15) << ends;
    output << 255;
    EXPECT_EQ(output.str(), "Error: Code=0xff ModuleId=0xff Severity=0xf\n255");
}

TEST_F(ConsoleLogStreamTest, RecordAfterHexOutputStillPrintsDecimalLine)
{
    output << std::hex;
    Record(0x1, 0x1, "L", 10, -1) << ends;
    EXPECT_EQ(output.str(), "Error: Code=0x1 ModuleId=0x1 Location=L:10\n");
}

TEST_F(ConsoleLogStreamTest, UnconvertibleCharactersBecomeQuestionMarks)
{
    // The test process runs in the "C" locale, which has no form for ü.
    Record(0x1, 0x2, nullptr, 0, -1) << std::string("J\xC3\xBCrgen M\xC3\xBCller") << ends;
    EXPECT_EQ(output.str(), "Error: Code=0x1 ModuleId=0x2 Parameters: (J?rgen M?ller)\n");
}

TEST_F(ConsoleLogStreamTest, ConvertibleParameterIsWrittenInTheLocale)
{
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
    Record(0x1, 0x2, nullptr, 0, -1) << std::string("J\xC3\xBCrgen") << ends;
    std::setlocale(LC_CTYPE, "C");
    EXPECT_EQ(output.str(), "Error: Code=0x1 ModuleId=0x2 Parameters: (J\xC3\xBCrgen)\n");
}

TEST_F(ConsoleLogStreamTest, WritingTheRecordReleasesTheMutex)
{
    Record(0x1, 0x2, nullptr, 0, -1) << ends;
    // Would block for ever if the record had kept the mutex.
    OvOS::LockMutex(mutex);
    OvOS::UnlockMutex(mutex);
    SUCCEED();
}

TEST_F(ConsoleLogStreamTest, ParametersOfOneRecordDoNotLeakIntoTheNext)
{
    Record(0x1, 0x2, nullptr, 0, -1) << std::string("first") << ends;
    Record(0x3, 0x4, nullptr, 0, -1) << ends;
    EXPECT_EQ(output.str(),
              "Error: Code=0x1 ModuleId=0x2 Parameters: (first)\n"
              "Error: Code=0x3 ModuleId=0x4\n");
}

TEST(NarrowForRecordTest, AsciiPassesUnchanged)
{
    EXPECT_EQ(OvNarrowForRecord(L"plain text"), "plain text");
}

TEST(NarrowForRecordTest, EveryUnconvertibleCharacterIsOneQuestionMark)
{
    EXPECT_EQ(OvNarrowForRecord(L"\u4e2d\u6587x"), "??x");
}

}  // namespace
