// The blank trimmers shared by both readers.
#include <gtest/gtest.h>

#include <cstring>

#include "config/IniReaders.h"
#include "framework/OvString.h"

namespace {

TEST(TrimLineBlanks, RemovesBlanksAtBothEnds)
{
    EXPECT_EQ(OvTrimLineBlanks(" \t key = value \r\n"), "key = value");
}

TEST(TrimLineBlanks, AllBlankGivesEmpty) { EXPECT_EQ(OvTrimLineBlanks(" \t\r\n "), ""); }

TEST(TrimLineBlanks, OtherWhitespaceIsKept) { EXPECT_EQ(OvTrimLineBlanks("\vx\f"), "\vx\f"); }

TEST(TrimLineBlanksInPlace, MovesTheTextToTheStart)
{
    char text[] = "  \tvalue with blanks \r\n";
    TrimLineBlanksInPlace(text);
    EXPECT_STREQ(text, "value with blanks");
}

TEST(TrimLineBlanksInPlace, AllBlankGivesEmpty)
{
    char text[] = " \t\r\n";
    TrimLineBlanksInPlace(text);
    EXPECT_STREQ(text, "");
}

TEST(TrimLineBlanksInPlace, NothingToTrimLeavesTheText)
{
    char text[] = "x";
    TrimLineBlanksInPlace(text);
    EXPECT_STREQ(text, "x");
}

}  // namespace
