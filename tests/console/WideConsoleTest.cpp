// Wide console output arrives as UTF-8 in the narrow stream, in order.
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "console/OvWideConsole.h"

namespace {

std::string Encode(const std::wstring& text)
{
    std::ostringstream narrow;
    OvUtf8WideBuffer buffer(narrow);
    std::wostream wide(&buffer);
    wide << text << std::flush;
    return narrow.str();
}

TEST(WideConsoleTest, AsciiIsUnchanged) { EXPECT_EQ(Encode(L"name:dc1"), "name:dc1"); }

TEST(WideConsoleTest, LatinAndCjkAreUtf8)
{
    EXPECT_EQ(Encode(L"J\u00fcrgen \u4e2d"), "J\xC3\xBCrgen \xE4\xB8\xAD");
}

TEST(WideConsoleTest, CharacterOutsideTheBasicPlaneIsFourBytes)
{
    EXPECT_EQ(Encode(L"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST(WideConsoleTest, CarriedBytesComeOutAsThemselves)
{
    EXPECT_EQ(Encode(std::wstring(1, static_cast<wchar_t>(0xDCFF))), "\xFF");
}

TEST(WideConsoleTest, LoneSurrogateBecomesQuestionMark)
{
    EXPECT_EQ(Encode(std::wstring(1, static_cast<wchar_t>(0xD800))), "?");
}

TEST(WideConsoleTest, WideAndNarrowWritesKeepTheirOrder)
{
    std::ostringstream narrow;
    OvUtf8WideBuffer buffer(narrow);
    std::wostream wide(&buffer);
    narrow << "servers:\n";
    wide << L"\tname:\u00e9" << std::flush;
    narrow << " ip:10.0.0.1\n";
    EXPECT_EQ(narrow.str(), "servers:\n\tname:\xC3\xA9 ip:10.0.0.1\n");
}

}  // namespace
