// The LDIF reader: folding, base64, comments, several values, and faults with
// the line they stand on.
#include <gtest/gtest.h>

#include "platform/embedded/Ldif.h"

using namespace ovdir;

namespace {

std::vector<Entry> Read(const std::string& text)
{
    std::vector<Entry> entries;
    LdifError error;
    EXPECT_TRUE(ReadLdif(text, entries, error)) << error.line << ": " << error.message;
    return entries;
}

LdifError Fault(const std::string& text)
{
    std::vector<Entry> entries;
    LdifError error;
    EXPECT_FALSE(ReadLdif(text, entries, error));
    return error;
}

}  // namespace

TEST(LdifTest, RecordsWithSeveralValues)
{
    const auto entries = Read(
        "version: 1\n\ndn: dc=x\nobjectClass: top\nobjectClass: domain\ndc: x\n\n"
        "dn: cn=a,dc=x\nCN: a\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].dn, "dc=x");
    ASSERT_NE(entries[0].Find("objectclass"), nullptr);
    EXPECT_EQ(*entries[0].Find("objectclass"), (std::vector<std::string>{"top", "domain"}));
    EXPECT_EQ(entries[1].First("cn"), "a");
}

// A record of many attributes, some of them repeated far apart: each keeps
// its values in file order, the attributes in the order they first appear.
TEST(LdifTest, ManyAttributesAreGroupedByName)
{
    std::string text = "dn: cn=wide,dc=x\n";
    for (int i = 0; i < 40; ++i)
        text += "attr" + std::to_string(i) + ": v" + std::to_string(i) + "\n";
    text += "attr3: again\nATTR0: last\n";
    // A second record of the same names the other way round: grouped afresh.
    std::string back = "\ndn: cn=back,dc=x\n";
    for (int i = 39; i >= 0; --i)
        back += "attr" + std::to_string(i) + ": v" + std::to_string(i) + "\n";
    const auto entries = Read(text + back);
    ASSERT_EQ(entries.size(), 2u);
    ASSERT_EQ(entries[1].attributes.size(), 40u);
    EXPECT_EQ(entries[1].attributes[39].first + "=" + entries[1].attributes[39].second.at(0),
              "attr0=v0");
    ASSERT_EQ(entries[0].attributes.size(), 40u);
    EXPECT_EQ(entries[0].attributes[0].first, "attr0");
    EXPECT_EQ(entries[0].attributes[39].first, "attr39");
    EXPECT_EQ(*entries[0].Find("attr0"), (std::vector<std::string>{"v0", "last"}));
    EXPECT_EQ(*entries[0].Find("attr3"), (std::vector<std::string>{"v3", "again"}));
    EXPECT_EQ(*entries[0].Find("attr17"), (std::vector<std::string>{"v17"}));
}

// Records handed over one by one, with the line of their dn: and their key;
// a handler that copies rather than takes leaves nothing behind for the next.
TEST(LdifTest, RecordsAreHandedOverAsRead)
{
    std::vector<std::string> seen;
    const auto take = [&](Entry& entry, int dnLine, std::string&& key) {
        std::string line = std::to_string(dnLine) + " " + key;
        for (const auto& attribute : entry.attributes)
            for (const std::string& value : attribute.second)
                line += " " + attribute.first + "=" + value;
        seen.push_back(line);
    };
    LdifError error;
    ASSERT_TRUE(
        ReadLdifEach("version: 1\n\ndn: CN=A, dc=X\ncn: a\nsn: b\n\n# note\n\n"
                     "dn: cn=b,dc=x\ncn: b\n",
                     take, error));
    EXPECT_EQ(seen, (std::vector<std::string>{"3 cn=a,dc=x cn=a sn=b", "9 cn=b,dc=x cn=b"}));
    EXPECT_FALSE(ReadLdifEach("dn: cn=c,dc=x\ncn: c\n\nbad line\n", take, error));
    EXPECT_EQ(error.line, 4);
}

TEST(LdifTest, FoldedLinesAreJoined)
{
    const auto entries =
        Read("dn: cn=John Sm\n ith,dc=x\ndescription: a long\n  text\n\ndn: dc=x\ndc: x\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].dn, "dc=x");  // not the line the first record folded there
    EXPECT_EQ(entries[0].dn, "cn=John Smith,dc=x");
    EXPECT_EQ(entries[0].First("description"), "a long text");
}

TEST(LdifTest, Base64ValuesAreDecoded)
{
    const auto entries = Read("dn:: Y249SsO8cmdlbixkYz14\ncn:: SsO8cmdlbg==\nsn:: IGxlYWRpbmc=\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].dn, "cn=J\xC3\xBCrgen,dc=x");
    EXPECT_EQ(entries[0].First("cn"), "J\xC3\xBCrgen");
    EXPECT_EQ(entries[0].First("sn"), " leading");
}

TEST(LdifTest, CommentsAndTheirFoldsAreSkipped)
{
    const auto entries =
        Read("# a comment\n#  folded\n  on\ndn: dc=x\n# inside\ndc: x\n\n\n# end\n");
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_EQ(entries[0].attributes.size(), 1u);
    EXPECT_EQ(entries[0].First("dc"), "x");
}

TEST(LdifTest, OptionsAreDroppedAndCarriageReturnsIgnored)
{
    const auto entries = Read("dn: dc=x\r\ncn;lang-de: a\r\ncn: b\r\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(*entries[0].Find("cn"), (std::vector<std::string>{"a", "b"}));
}

TEST(LdifTest, EmptyTextHasNoEntries) { EXPECT_TRUE(Read("").empty()); }

TEST(LdifFaultTest, BadBase64NamesItsLine)
{
    const LdifError error = Fault("dn: dc=x\ndc: x\n\ndn: cn=a,dc=x\ncn:: ab$c\n");
    EXPECT_EQ(error.line, 5);
    EXPECT_EQ(error.message, "bad base64 value");
}

TEST(LdifFaultTest, LineWithoutColon)
{
    const LdifError error = Fault("dn: dc=x\ndc x\n");
    EXPECT_EQ(error.line, 2);
    EXPECT_EQ(error.message, "line without a colon");
}

TEST(LdifFaultTest, ChangeRecordsAreRefused)
{
    const LdifError error = Fault("dn: dc=x\nchangetype: modify\nreplace: dc\ndc: y\n-\n");
    EXPECT_EQ(error.line, 2);
    EXPECT_EQ(error.message, "change records are not supported");
}

TEST(LdifFaultTest, FoldedLineCountsFromWhereItStarts)
{
    const LdifError error = Fault("dn: dc=x\n\ndn: cn=a,dc=x\ncn:: YW\n Jj$\n");
    EXPECT_EQ(error.line, 4);
}

TEST(LdifFaultTest, OtherFaults)
{
    EXPECT_EQ(Fault("cn: a\n").message, "record does not start with dn:");
    EXPECT_EQ(Fault("dn: cn=a,\n").message, "malformed DN");
    EXPECT_EQ(Fault("dn: dc=x\njpegPhoto:< file:///etc/passwd\n").message,
              "values read from a URL are not supported");
    EXPECT_EQ(Fault(" dn: dc=x\n").line, 1);
    EXPECT_EQ(Fault("version: 2\n").message, "unsupported LDIF version");
    EXPECT_EQ(Fault("dn: dc=x\n\nversion: 1\ndn: cn=a,dc=x\n").message,
              "record does not start with dn:");
    EXPECT_EQ(Fault("dn: dc=x\n# c\n\n on\n").line, 4);  // no comment goes on past a record
    EXPECT_EQ(Fault("dn: dc=x\ndn: dc=y\n").message, "second dn: in one record");
}

TEST(Base64Test, RoundTripAndRefusals)
{
    std::string out;
    for (const std::string& text :
         std::vector<std::string>{"", "a", "ab", "abc", "abcd", std::string("\0\xFF", 2)}) {
        ASSERT_TRUE(DecodeBase64(EncodeBase64(text), out)) << text;
        EXPECT_EQ(out, text);
    }
    for (const char* bad : {"abc", "ab=c", "a===", "=abc", "ab!d", "YQ==YQ=="})
        EXPECT_FALSE(DecodeBase64(bad, out)) << bad;
}
