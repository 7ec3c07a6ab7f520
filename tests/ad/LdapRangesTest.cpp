// Range options of attribute descriptions, as Active Directory names the
// parts of a large attribute's values.
#include <gtest/gtest.h>

#include "platform/ldapclient/LdapRanges.h"

namespace {

namespace ldap = ovdir::ldap;

struct Row {
    const char* description;
    bool ranged;
    const char* attribute;
    unsigned long low;
    unsigned long high;
    bool last;
};

TEST(LdapValueRanges, ParsesTheRangeOption)
{
    const Row rows[] = {
        {"member;range=0-1499", true, "member", 0, 1499, false},
        {"member;range=4500-*", true, "member", 4500, 0, true},
        {"Member;Range=1500-2999", true, "Member", 1500, 2999, false},
        // Other options stay with the attribute, in their place.
        {"member;binary;range=0-9", true, "member;binary", 0, 9, false},
        {"member;range=0-9;x-tag", true, "member;x-tag", 0, 9, false},
        {"member;range=5-5", true, "member", 5, 5, false},
        {"member", false, "", 0, 0, false},
        {"member;binary", false, "", 0, 0, false},
        {"member;range=", false, "", 0, 0, false},
        {"member;range=10", false, "", 0, 0, false},
        {"member;range=-5", false, "", 0, 0, false},
        {"member;range=9-5", false, "", 0, 0, false},
        {"member;range=1-x", false, "", 0, 0, false},
        {"member;range=1-*x", false, "", 0, 0, false},
        {";range=0-1", false, "", 0, 0, false},
        {"member;range=99999999999999999999-*", false, "", 0, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.description);
        ldap::ValueRange range;
        ASSERT_EQ(ldap::ParseValueRange(row.description, range), row.ranged);
        if (!row.ranged) continue;
        EXPECT_EQ(range.attribute, row.attribute);
        EXPECT_EQ(range.low, row.low);
        EXPECT_EQ(range.last, row.last);
        if (!row.last) {
            EXPECT_EQ(range.high, row.high);
        }
    }
}

TEST(LdapValueRanges, AsksForTheRest)
{
    EXPECT_EQ(ldap::RangeFrom("member", 1500), "member;range=1500-*");
}

}  // namespace
