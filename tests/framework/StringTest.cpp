// Narrow and wide strings: UTF-8 both ways, whatever the process locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <sstream>

#include "framework/OvString.h"

namespace {

class StringConversion : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::unsetenv("LANG");
        ::unsetenv("LC_ALL");
        ::unsetenv("LC_CTYPE");
        std::setlocale(LC_ALL, "");
    }
};

std::string RoundTrip(const std::string& text) { return makeString(makeWideString(text)); }

TEST_F(StringConversion, LatinNameRoundTrips)
{
    EXPECT_EQ(RoundTrip("J\xC3\xBCrgen M\xC3\xBCller"), "J\xC3\xBCrgen M\xC3\xBCller");
}

TEST_F(StringConversion, LatinNameDecodesToItsCodePoints)
{
    EXPECT_EQ(makeWideString("J\xC3\xBCrgen"), std::wstring(L"J\u00FCrgen"));
}

TEST_F(StringConversion, ChineseDecodesAndRoundTrips)
{
    const std::string text = "\xE4\xB8\xAD\xE6\x96\x87";
    EXPECT_EQ(makeWideString(text), std::wstring(L"\u4E2D\u6587"));
    EXPECT_EQ(RoundTrip(text), text);
}

TEST_F(StringConversion, EmojiIsOneWideCharacter)
{
    const std::string text = "\xF0\x9F\x98\x80";
    const std::wstring wide = makeWideString(text).wide();
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_EQ(static_cast<unsigned>(wide[0]), 0x1F600u);
    EXPECT_EQ(makeString(OvWString(wide)), text);
}

TEST_F(StringConversion, InvalidBytesRoundTrip)
{
    // A stray continuation byte, a cut sequence, an overlong slash, an
    // encoded surrogate and bytes that never occur in UTF-8.
    const std::string samples[] = {"a\x80z",       "ab\xC3",   "\xC0\xAF",
                                   "\xED\xA0\x80", "\xFE\xFF", "\xF4\x90\x80\x80"};
    for (const std::string& sample : samples) EXPECT_EQ(RoundTrip(sample), sample);
}

TEST_F(StringConversion, InvalidByteTravelsAsLowSurrogate)
{
    const std::wstring wide = makeWideString("\xFF").wide();
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_EQ(static_cast<unsigned>(wide[0]), 0xDCFFu);
}

TEST_F(StringConversion, WideCharacterWithoutUtf8FormBecomesQuestionMark)
{
    std::wstring wide;
    wide += static_cast<wchar_t>(0xD800);
    wide += L'x';
    wide += static_cast<wchar_t>(0x110000);
    EXPECT_EQ(makeString(OvWString(wide)), "?x?");
    EXPECT_EQ(OvWString(wide).wide(), L"?x?");
}

TEST_F(StringConversion, EmptyAndNulTextsConvert)
{
    EXPECT_EQ(RoundTrip(""), "");
    EXPECT_EQ(RoundTrip(std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(makeString(OvWString(std::wstring(L"a\0b", 3))), std::string("a\0b", 3));
}

TEST(OvStringTest, NullTextIsEmpty)
{
    EXPECT_TRUE(OvString(static_cast<const char*>(nullptr)).empty());
    EXPECT_TRUE(OvWString(static_cast<const wchar_t*>(nullptr)).empty());
}

TEST(OvStringTest, SizeFormIsEmpty) { EXPECT_TRUE(OvWString(std::size_t{0}).empty()); }

TEST(OvStringTest, StreamsWriteTheText)
{
    std::ostringstream narrow;
    narrow << OvString("server");
    EXPECT_EQ(narrow.str(), "server");
    std::wostringstream wide;
    OvWString text(L"name");
    wide << text;
    EXPECT_EQ(wide.str(), L"name");
}

TEST(OvStringTest, CopyKeepsTheText)
{
    OvString original("abc");
    OvString copy(original);
    OvString assigned;
    assigned = original;
    EXPECT_EQ(copy.str(), "abc");
    EXPECT_STREQ(assigned.c_str(), "abc");
}

}  // namespace
