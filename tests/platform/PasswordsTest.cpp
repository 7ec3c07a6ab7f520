// Password checks against userPassword values.
#include <gtest/gtest.h>

#include "platform/embedded/Passwords.h"

using ovdir::PasswordMatches;

namespace {

// Stored forms of "Secret123" ({SSHA}, {SHA}) and "Guten.Tag1" ({CRYPT}).
const char kSsha[] = "{SSHA}GbmO+wvmryEfwFsHqfhL9iDdUKoXnANaEeBCew==";
const char kSha[] = "{SHA}FWFILBKSIiSW05u0PrYWGRhKUck=";
const char kCrypt[] =
    "{CRYPT}$6$Xq3pL9vR$evMlBcMuMwKsnI1WvWo7IxN.d04NZH0nVZsMTHbuH.dfh0mrZdS4aL/"
    "lMatYuD35osPlhqrzpIRQ4ur/wVDY2.";

}  // namespace

TEST(PasswordTest, SaltedSha) { EXPECT_TRUE(PasswordMatches(kSsha, "Secret123")); }
TEST(PasswordTest, PlainSha) { EXPECT_TRUE(PasswordMatches(kSha, "Secret123")); }
TEST(PasswordTest, Crypt) { EXPECT_TRUE(PasswordMatches(kCrypt, "Guten.Tag1")); }
TEST(PasswordTest, ClearText) { EXPECT_TRUE(PasswordMatches("Alice#1", "Alice#1")); }
TEST(PasswordTest, SchemeIgnoresCase)
{
    EXPECT_TRUE(PasswordMatches(std::string("{ssha}") + (kSsha + 6), "Secret123"));
}

TEST(PasswordTest, WrongPasswordsFail)
{
    EXPECT_FALSE(PasswordMatches(kSsha, "secret123"));
    EXPECT_FALSE(PasswordMatches(kSha, "Secret1234"));
    EXPECT_FALSE(PasswordMatches(kCrypt, "Guten.Tag"));
    EXPECT_FALSE(PasswordMatches("Alice#1", "Alice#"));
}

TEST(PasswordTest, EmptyPasswordNeverMatches)
{
    EXPECT_FALSE(PasswordMatches(kSsha, ""));
    EXPECT_FALSE(PasswordMatches("", ""));
    EXPECT_FALSE(PasswordMatches("{CRYPT}", ""));
}

TEST(PasswordTest, BrokenStoredValuesNeverMatch)
{
    EXPECT_FALSE(PasswordMatches("{SSHA}not base64!", "Secret123"));
    EXPECT_FALSE(PasswordMatches("{SHA}YQ==", "Secret123"));
    EXPECT_FALSE(PasswordMatches("{CRYPT}*", "*"));
    EXPECT_FALSE(PasswordMatches("{MD4}abc", "abc"));
}
