// The directory contract (platform/directory/Directory.h), one suite for
// every backend. Which directory it runs against comes from the environment:
//
//   OV_CONTRACT_DIRECTORY     a Directory= value: an LDIF path (embedded
//                             backend) or an ldap:// or ldaps:// URL
//   OV_CONTRACT_BINDDN        the account the ldap backend binds with, and
//   OV_CONTRACT_BINDPASSWORD  that CheckPassword and ExplicitDomains use; an
//                             entry with a password in an LDIF
//   OV_CONTRACT_STARTTLS      yes: plain ldap:// is upgraded with StartTLS
//   OV_CONTRACT_CACERT        CA certificates the server is verified against
//   OV_CONTRACT_BASE          the DN under which tests/contract/contract.ldif
//                             was loaded, with @BASE@ made this DN
//
// The tests assume nothing about entries outside the base except that the
// base's naming context is among NamingContexts. ctest runs them against the
// embedded backend and a stock slapd (write-directory.sh makes the data);
// any other directory holding contract.ldif below some base, an Active
// Directory domain controller among them, runs them with these variables.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/directory/Directory.h"
#include "platform/directory/Names.h"
#include "services/OvUserServiceBase.h"

namespace {

// As the program does where it puts its parts together: a server that goes
// away under a write is an error status, not the end of the test.
const bool kBrokenPipesIgnored = [] {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}();

using ovdir::Entry;
using ovdir::Filter;
using ovdir::Scope;
using ovdir::SearchRequest;
using Names = std::set<std::string>;

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

bool IsLdap(const std::string& directory)
{
    const std::string scheme = ovdir::FoldCase(directory.substr(0, directory.find("://") + 3));
    return scheme == "ldap://" || scheme == "ldaps://";
}

class ContractTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        settings_.directory = Env("OV_CONTRACT_DIRECTORY");
        settings_.bindDn = Env("OV_CONTRACT_BINDDN");
        password_ = Env("OV_CONTRACT_BINDPASSWORD");
        settings_.bindPassword = password_;
        settings_.startTls = ovdir::EqualsIgnoringCase(Env("OV_CONTRACT_STARTTLS"), "yes");
        settings_.caCertFile = Env("OV_CONTRACT_CACERT");
        base_ = Env("OV_CONTRACT_BASE");
        if (settings_.directory.empty()) return;
        directory_ = ovdir::OpenDirectory(settings_).release();
        domains_ = ovdir::OpenDomainSource(settings_, *directory_).release();
    }
    static void TearDownTestSuite()
    {
        delete domains_;
        domains_ = nullptr;
        delete directory_;
        directory_ = nullptr;
    }
    void SetUp() override
    {
        ASSERT_FALSE(settings_.directory.empty()) << "OV_CONTRACT_DIRECTORY is not set";
        ASSERT_FALSE(base_.empty()) << "OV_CONTRACT_BASE is not set";
    }

    // "ou=People" → "ou=People,BASE"; "" → BASE.
    static std::string Under(const std::string& relative)
    {
        return relative.empty() ? base_ : relative + "," + base_;
    }

    // The DNs found, relative to the base and normalised, so that a server
    // that stores "CN=Ann Archer,OU=People,..." answers the same.
    static Names Relative(const std::vector<Entry>& entries)
    {
        const std::string suffix = "," + ovdir::NormalizeDn(base_);
        Names names;
        for (const Entry& entry : entries) {
            const std::string dn = ovdir::NormalizeDn(entry.dn);
            if (dn == ovdir::NormalizeDn(base_))
                names.insert("");
            else if (dn.size() > suffix.size() &&
                     dn.compare(dn.size() - suffix.size(), suffix.size(), suffix) == 0)
                names.insert(dn.substr(0, dn.size() - suffix.size()));
            else
                names.insert("outside:" + dn);
        }
        return names;
    }

    // A search whose output starts out holding an entry of its own: the
    // contract says it is cleared.
    static unsigned Search(const std::string& base, Scope scope, const Filter& filter,
                           std::vector<Entry>& out, const std::vector<std::string>& attributes = {})
    {
        SearchRequest request;
        request.base = base;
        request.scope = scope;
        request.filter = filter;
        request.attributes = attributes;
        out.assign(1, Entry{"cn=left over,dc=nowhere", {}});
        return directory_->Search(request, out);
    }

    // Takes a streamed answer; a restart voids what came before it.
    class Recorder final : public ovdir::EntryVisitor {
    public:
        void Visit(Entry& entry) override { entries.push_back(std::move(entry)); }
        void Restart() override { entries.clear(); }
        std::vector<Entry> entries;
    };

    // The answer of Search, checked to be the one SearchEach hands over.
    static Names Found(const std::string& base, Scope scope, const Filter& filter)
    {
        std::vector<Entry> out;
        const unsigned status = Search(base, scope, filter, out);
        EXPECT_EQ(status, 0u) << "base " << base;
        SearchRequest request;
        request.base = base;
        request.scope = scope;
        request.filter = filter;
        Recorder streamed;
        EXPECT_EQ(directory_->SearchEach(request, streamed), status) << "base " << base;
        EXPECT_EQ(Relative(streamed.entries), Relative(out)) << "base " << base;
        return Relative(out);
    }

    // The naming context that holds the base.
    static std::string BaseContext()
    {
        std::vector<std::string> contexts;
        EXPECT_EQ(directory_->NamingContexts(contexts), 0u);
        ovdir::Dn base;
        EXPECT_TRUE(ovdir::Dn::Parse(base_, base));
        std::string best;
        std::size_t size = 0;
        for (const std::string& text : contexts) {
            ovdir::Dn context;
            if (ovdir::Dn::Parse(text, context) && !context.Empty() && base.IsWithin(context) &&
                context.Size() > size) {
                best = ovdir::NormalizeDn(text);
                size = context.Size();
            }
        }
        return best;
    }

    static Names Normalized(const std::vector<std::string>& dns)
    {
        Names names;
        for (const std::string& dn : dns) names.insert(ovdir::NormalizeDn(dn));
        return names;
    }

    static ovdir::DirectorySettings settings_;
    static std::string password_;
    static std::string base_;
    static ovdir::Directory* directory_;
    static ovdir::ExplicitDomainSource* domains_;
};

ovdir::DirectorySettings ContractTest::settings_;
std::string ContractTest::password_;
std::string ContractTest::base_;
ovdir::Directory* ContractTest::directory_ = nullptr;
ovdir::ExplicitDomainSource* ContractTest::domains_ = nullptr;

const char* const kAnn = "cn=ann archer,ou=people";
const char* const kBen = "cn=ben baker,ou=people";
const char* const kNested = "ou=nested,ou=people";
const char* const kCy = "cn=cy cole,ou=nested,ou=people";
const char* const kPeople = "ou=people";

Filter Class(const char* name) { return Filter::Equals("objectclass", name); }

Filter Everything() { return Filter::Present("objectclass"); }

TEST_F(ContractTest, ScopesAreTheBaseItsChildrenOrItsWholeSubtree)
{
    EXPECT_EQ(Found(Under("ou=People"), Scope::Base, Everything()), (Names{kPeople}));
    EXPECT_EQ(Found(Under("ou=People"), Scope::OneLevel, Everything()),
              (Names{kAnn, kBen, kNested}));
    EXPECT_EQ(Found(Under("ou=People"), Scope::Subtree, Everything()),
              (Names{kPeople, kAnn, kBen, kNested, kCy}));
    // The base itself when the filter does not match it: nothing.
    EXPECT_EQ(Found(Under("ou=People"), Scope::Base, Class("person")), Names{});
    EXPECT_EQ(Found(Under("ou=Empty"), Scope::OneLevel, Everything()), Names{});
    // Case and blanks of the base's text do not matter.
    EXPECT_EQ(Found("OU=PEOPLE , " + base_, Scope::OneLevel, Class("person")), (Names{kAnn, kBen}));
}

TEST_F(ContractTest, MissingBaseIsNoSuchEntryAndLeavesNothing)
{
    for (const std::string& base : {Under("ou=Missing"), Under("cn=Nobody,ou=Missing"),
                                    Under("cn=Nobody,ou=People"), std::string()}) {
        for (Scope scope : {Scope::Base, Scope::OneLevel, Scope::Subtree}) {
            std::vector<Entry> out;
            EXPECT_EQ(Search(base, scope, Everything(), out), ovdir::kStatusNoSuchEntry)
                << "base \"" << base << "\"";
            EXPECT_TRUE(out.empty()) << "base \"" << base << "\"";
        }
    }
    std::vector<Entry> out;
    EXPECT_EQ(Search("no dn at all", Scope::Base, Everything(), out), ovdir::kStatusMalformedName);
    EXPECT_TRUE(out.empty());
}

TEST_F(ContractTest, EveryFilterForm)
{
    const Filter notMail = Filter::Not(Filter::Present("mail"));
    struct Row {
        const char* what;
        Filter filter;
        Names expected;
    };
    const Row rows[] = {
        {"default-constructed", Filter(), Names{kPeople, kAnn, kBen, kNested, kCy}},
        {"and of nothing", Filter::And({}), Names{kPeople, kAnn, kBen, kNested, kCy}},
        {"or of nothing", Filter::Or({}), Names{}},
        {"equality ignores case", Filter::Equals("uid", "AARCHER"), Names{kAnn}},
        {"equality is whole", Filter::Equals("uid", "aarch"), Names{}},
        {"derived classes", Class("person"), Names{kAnn, kBen, kCy}},
        {"class of the middle", Class("organizationalPerson"), Names{kAnn, kBen, kCy}},
        {"substring", Filter::Contains("cn", "RCHE"), Names{kAnn}},
        {"empty substring is presence", Filter::Contains("mail", ""), Names{kAnn, kCy}},
        {"presence", Filter::Present("mail"), Names{kAnn, kCy}},
        {"negation", Filter::And({Class("person"), notMail}), Names{kBen}},
        {"and", Filter::And({Class("person"), Filter::Equals("uid", "bbaker")}), Names{kBen}},
        {"or", Filter::Or({Filter::Equals("uid", "aarcher"), Filter::Equals("uid", "ccole")}),
         Names{kAnn, kCy}},
        {"nested default", Filter::And({Class("person"), Filter()}), Names{kAnn, kBen, kCy}},
        {"filter characters are values", Filter::Equals("description", "star*(paren)\\back"),
         Names{kAnn}},
        {"substring of filter characters", Filter::Contains("description", "*(p"), Names{kAnn}},
        {"a star is no wildcard", Filter::Equals("description", "star*"), Names{}},
        // Two-valued: what the directory does not know is false, its negation
        // true, whatever the server's schema holds.
        {"unknown class negated",
         Filter::And({Class("person"), Filter::Not(Class("ovNoSuchClass"))}),
         Names{kAnn, kBen, kCy}},
        {"unknown class", Class("ovNoSuchClass"), Names{}},
        {"unknown attribute negated",
         Filter::And({Class("person"), Filter::Not(Filter::Equals("ovnosuchattribute", "x"))}),
         Names{kAnn, kBen, kCy}},
        {"unknown attribute in an or",
         Filter::Or({Filter::Equals("ovnosuchattribute", "x"), Filter::Equals("uid", "bbaker")}),
         Names{kBen}},
        {"double negation",
         Filter::And({Class("person"), Filter::Not(Filter::Not(Filter::Present("mail")))}),
         Names{kAnn, kCy}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Found(Under("ou=People"), Scope::Subtree, row.filter), row.expected) << row.what;
}

TEST_F(ContractTest, MemberValuesCompareAsDns)
{
    const std::string ann = "CN=ANN ARCHER,OU=PEOPLE," + base_;
    EXPECT_EQ(Found(Under("ou=Groups"), Scope::OneLevel, Filter::Equals("member", ann)),
              (Names{"cn=team,ou=groups"}));
    EXPECT_EQ(Found(Under("ou=Groups"), Scope::OneLevel,
                    Filter::Equals("member", "cn=Ben Baker,ou=People," + base_)),
              Names{});
}

TEST_F(ContractTest, MalformedFiltersAreRefused)
{
    const Filter rows[] = {
        Filter::Equals("bad name", "x"),
        Filter::Equals("", "x"),
        Filter::And({Class("person"), Filter::Present("(uid")}),
        Filter{Filter::Kind::Not, "", "", {}},
        Filter{Filter::Kind::Not, "", "", {Class("person"), Class("device")}},
    };
    for (const Filter& filter : rows) {
        std::vector<Entry> out;
        EXPECT_EQ(Search(Under("ou=People"), Scope::Subtree, filter, out),
                  ovdir::kStatusMalformedName);
        EXPECT_TRUE(out.empty());
    }
}

TEST_F(ContractTest, AttributesAsAskedLowerCaseAndOnlyThoseTheEntryHas)
{
    std::vector<Entry> out;
    ASSERT_EQ(
        Search(Under("ou=People"), Scope::OneLevel, Class("person"), out, {"cn", "mail", "uid"}),
        0u);
    ASSERT_EQ(out.size(), 2u);
    for (const Entry& entry : out) {
        const bool ann = ovdir::NormalizeDn(entry.dn) == ovdir::NormalizeDn(Under(kAnn));
        ASSERT_NE(entry.Find("cn"), nullptr);
        EXPECT_EQ(entry.First("cn"), ann ? "Ann Archer" : "Ben Baker");
        EXPECT_EQ(entry.First("uid"), ann ? "aarcher" : "bbaker");
        if (ann) {
            ASSERT_NE(entry.Find("mail"), nullptr);
            EXPECT_EQ(*entry.Find("mail"), std::vector<std::string>{"ann.archer@contract.test"});
        } else {
            EXPECT_EQ(entry.Find("mail"), nullptr);
        }
        for (const auto& attribute : entry.attributes) {
            EXPECT_TRUE(attribute.first == "cn" || attribute.first == "mail" ||
                        attribute.first == "uid")
                << attribute.first;
            EXPECT_FALSE(attribute.second.empty()) << attribute.first;
        }
    }
    ASSERT_EQ(Search(Under(kAnn), Scope::Base, Everything(), out), 0u);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out.front().attributes.empty());
}

TEST_F(ContractTest, NamingContextsHoldTheBaseAndAreCleared)
{
    std::vector<std::string> contexts{"dc=left,dc=over"};
    ASSERT_EQ(directory_->NamingContexts(contexts), 0u);
    EXPECT_EQ(std::count(contexts.begin(), contexts.end(), "dc=left,dc=over"), 0);
    EXPECT_FALSE(BaseContext().empty()) << "no naming context holds " << base_;
}

TEST_F(ContractTest, PasswordsOfTheServiceAccount)
{
    ASSERT_FALSE(settings_.bindDn.empty()) << "OV_CONTRACT_BINDDN is not set";
    struct Row {
        std::string password;
        bool accepted;
    };
    const Row rows[] = {{password_, true}, {password_ + "x", false}, {std::string(), false}};
    for (const Row& row : rows) {
        bool accepted = !row.accepted;
        EXPECT_EQ(directory_->CheckPassword(settings_.bindDn, row.password, accepted), 0u);
        EXPECT_EQ(accepted, row.accepted) << "password of length " << row.password.size();
    }
    bool accepted = true;
    EXPECT_EQ(directory_->CheckPassword(Under("cn=Nobody"), password_, accepted), 0u);
    EXPECT_FALSE(accepted);
}

TEST_F(ContractTest, ExplicitDomainsWithAndWithoutALimit)
{
    ASSERT_FALSE(settings_.bindDn.empty()) << "OV_CONTRACT_BINDDN is not set";
    const std::string scheme =
        ovdir::FoldCase(settings_.directory.substr(0, settings_.directory.find("://") + 3));
    if (IsLdap(settings_.directory) && scheme == "ldap://" && settings_.startTls)
        GTEST_SKIP() << "explicit domains speak plain LDAP or ldaps, never StartTLS";
    const bool ssl = scheme == "ldaps://";
    const std::string context = BaseContext();

    struct Row {
        int limit;
        bool capped;  // at most one domain
    };
    std::vector<std::string> all;
    for (const Row& row : {Row{-1, false}, Row{0, false}, Row{1000, false}, Row{1, true}}) {
        std::vector<std::string> domains{"dc=left,dc=over"};
        int searchStatus = -1;
        ASSERT_EQ(domains_->ExplicitDomains("", settings_.bindDn, password_, ssl, row.limit,
                                            domains, searchStatus),
                  0u);
        EXPECT_EQ(searchStatus, kDomainSearchSuccess) << "limit " << row.limit;
        const Names found = Normalized(domains);
        EXPECT_EQ(found.count(ovdir::NormalizeDn("dc=left,dc=over")), 0u);
        if (row.capped) {
            EXPECT_EQ(domains.size(), 1u);
            if (!all.empty() && !found.empty()) {
                EXPECT_EQ(Normalized(all).count(*found.begin()), 1u);
            }
        } else {
            EXPECT_EQ(found.count(context), 1u) << "limit " << row.limit << ": " << context;
            if (all.empty()) {
                all = domains;
            } else {
                EXPECT_EQ(found, Normalized(all)) << "limit " << row.limit;
            }
        }
    }

    std::vector<std::string> domains{"dc=left,dc=over"};
    int searchStatus = -1;
    EXPECT_EQ(domains_->ExplicitDomains("", settings_.bindDn, password_ + "x", ssl, 100, domains,
                                        searchStatus),
              0u);
    EXPECT_EQ(searchStatus, kDomainSearchInvalidCredentials);
    EXPECT_TRUE(domains.empty());
}

}  // namespace
