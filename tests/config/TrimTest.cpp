// The blank trimmers shared by both readers.
#include <gtest/gtest.h>

#include <cstring>

#include "config/IniReaders.h"

namespace {

TEST(TrimBlanks, RemovesBlanksAtBothEnds)
{
    EXPECT_EQ(TrimBlanks(" \t key = value \r\n"), "key = value");
}

TEST(TrimBlanks, AllBlankGivesEmpty) { EXPECT_EQ(TrimBlanks(" \t\r\n "), ""); }

TEST(TrimBlanks, OtherWhitespaceIsKept) { EXPECT_EQ(TrimBlanks("\vx\f"), "\vx\f"); }

TEST(TrimBlanksInPlace, MovesTheTextToTheStart)
{
    char text[] = "  \tvalue with blanks \r\n";
    TrimBlanksInPlace(text);
    EXPECT_STREQ(text, "value with blanks");
}

TEST(TrimBlanksInPlace, AllBlankGivesEmpty)
{
    char text[] = " \t\r\n";
    TrimBlanksInPlace(text);
    EXPECT_STREQ(text, "");
}

TEST(TrimBlanksInPlace, NothingToTrimLeavesTheText)
{
    char text[] = "x";
    TrimBlanksInPlace(text);
    EXPECT_STREQ(text, "x");
}

}  // namespace
