// The log stream base: record data, parameters, Reset and `ends`.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/OvApplication.h"

namespace {

class CountingStream : public OvLogStream {
public:
    void WriteRecord() override { ++written; }
    int written = 0;
};

TEST(LogStream, StartsWithoutSeverity)
{
    CountingStream stream;
    EXPECT_EQ(stream.GetSeverity(), -1);
    EXPECT_EQ(stream.GetLocation(), nullptr);
}

TEST(LogStream, KeepsTheErrorData)
{
    CountingStream stream;
    stream.SetErrorData(0x20710004u, 0x718000u, "OvIniParameters", 268, 3);
    EXPECT_EQ(stream.GetCode(), 0x20710004u);
    EXPECT_EQ(stream.GetModuleId(), 0x718000u);
    EXPECT_STREQ(stream.GetLocation(), "OvIniParameters");
    EXPECT_EQ(stream.GetLine(), 268);
    EXPECT_EQ(stream.GetSeverity(), 3);
}

TEST(LogStream, EndsWritesTheRecordOnce)
{
    CountingStream stream;
    stream << ends;
    EXPECT_EQ(stream.written, 1);
}

TEST(LogStream, NoParametersGiveAnEmptyList)
{
    CountingStream stream;
    std::vector<std::wstring> out;
    stream.FormatParameters(out);
    EXPECT_TRUE(out.empty());
}

TEST(LogStream, TextParametersComeBackInOrderAsWideText)
{
    CountingStream stream;
    stream << std::string("A") << std::string("J\xC3\xBCrgen");
    std::vector<std::wstring> out;
    stream.FormatParameters(out);
    EXPECT_EQ(out, (std::vector<std::wstring>{L"A", L"J\u00FCrgen"}));
}

TEST(LogStream, EveryValueTypeIsFormatted)
{
    CountingStream stream;
    stream.AddValue(eLogNumber, "42");
    stream.AddValue(eLogDateTime, "2026-12-08 16:00");
    stream.AddValue(eLogWideString, "w");
    std::vector<std::wstring> out;
    stream.FormatParameters(out, "%Y");
    EXPECT_EQ(out, (std::vector<std::wstring>{L"42", L"2026-12-08 16:00", L"w"}));
}

TEST(LogStream, ResetClearsDataAndParameters)
{
    CountingStream stream;
    stream.SetErrorData(1, 2, "here", 3, 4);
    stream << std::string("parameter");
    stream.Reset();
    std::vector<std::wstring> out;
    stream.FormatParameters(out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(stream.GetCode(), 0u);
    EXPECT_EQ(stream.GetModuleId(), 0u);
    EXPECT_EQ(stream.GetLocation(), nullptr);
    EXPECT_EQ(stream.GetLine(), 0);
    EXPECT_EQ(stream.GetSeverity(), -1);
}

}  // namespace
