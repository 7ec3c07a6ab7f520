// The ldap backend against a server whose limits cut a listing: a size limit
// below it, pages smaller than the backend asks for, a total for paged
// searches. Each answer is the whole listing or an error, never a part of it
// with status 0; the user service passes the error on.
#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <utility>

#include "platform/directory/Directory.h"
#include "platform/userservices/UserService.h"
#include "services/OvUserServiceBase.h"
#include "tests/ldap/LdapTestSupport.h"

namespace {

using namespace ldaptest;

// How many people ou=Many,o=limits holds.
constexpr std::size_t kPeople = 120;

struct LimitCase {
    const char* account;  // limits.conf says what it may read
    const char* base;
    ovdir::Scope scope;
    unsigned status;
    std::size_t entries;  // with status 0
};

void PrintTo(const LimitCase& row, std::ostream* out) { *out << row.account << " " << row.base; }

const LimitCase kCases[] = {
    {"size-120", "ou=Many,o=limits", ovdir::Scope::OneLevel, 0, kPeople},
    {"size-119", "ou=Many,o=limits", ovdir::Scope::OneLevel, ovdir::kStatusRefused, 0},
    {"size-1", "ou=Many,o=limits", ovdir::Scope::OneLevel, ovdir::kStatusRefused, 0},
    {"size-1", "uid=many001,ou=Many,o=limits", ovdir::Scope::Base, 0, 1},
    // Pages may go past the size limit: the backend pages as small as the
    // server wants, down to its smallest page.
    {"pages-of-40", "ou=Many,o=limits", ovdir::Scope::OneLevel, 0, kPeople},
    {"pages-of-10", "ou=Many,o=limits", ovdir::Scope::OneLevel, ovdir::kStatusRefused, 0},
    // Pages without a total of their own stop at the size limit.
    {"pages-within-size", "ou=Many,o=limits", ovdir::Scope::OneLevel, ovdir::kStatusRefused, 0},
    {"total-120", "ou=Many,o=limits", ovdir::Scope::OneLevel, 0, kPeople},
    {"total-119", "ou=Many,o=limits", ovdir::Scope::OneLevel, ovdir::kStatusRefused, 0},
};

ovdir::DirectorySettings Account(const std::string& account)
{
    ovdir::DirectorySettings settings;
    settings.directory = "ldap://" + PlainAddress("limits");
    settings.bindDn = "cn=" + account + ",o=limits";
    settings.bindPassword = "secret";
    return settings;
}

class LdapLimitsTest : public ::testing::TestWithParam<LimitCase> {
protected:
    void SetUp() override { SetTimeouts(3000, 120); }
};

TEST_P(LdapLimitsTest, TheWholeListingOrAnError)
{
    const LimitCase& row = GetParam();
    auto directory = ovdir::MakeLdapDirectory(Account(row.account));
    ovdir::SearchRequest request;
    request.base = row.base;
    request.scope = row.scope;
    request.filter = ovdir::Filter::Equals("objectclass", "person");
    std::vector<ovdir::Entry> found;
    EXPECT_EQ(directory->Search(request, found), row.status);
    std::set<std::string> dns;
    for (const ovdir::Entry& entry : found) dns.insert(entry.dn);
    EXPECT_EQ(found.size(), row.entries);
    EXPECT_EQ(dns.size(), row.entries);
}

// A listing through GetUsers; a single entry named by its own DN through
// GetFullUserName.
TEST_P(LdapLimitsTest, TheUserServiceAnswersAllOrFails)
{
    const LimitCase& row = GetParam();
    auto directory = ovdir::MakeLdapDirectory(Account(row.account));
    ovdir::UserService service(*directory);
    const OvWString context = makeWideString("LDAP://" + PlainAddress("limits") + " " + row.base);
    std::vector<OvWString> users;
    if (row.scope == ovdir::Scope::Base) {
        users.emplace_back();
        EXPECT_EQ(service.GetFullUserName(context, users.back()), row.status);
    } else {
        EXPECT_EQ(service.GetUsers(context, users), row.status);
    }
    EXPECT_EQ(users.size(), row.entries);
}

// The cap of an explicit domain search: at most that many of the server's
// three domains; 0 or below sets no cap.
TEST(LdapDomainLimitTest, ZeroOneAndN)
{
    SetTimeouts(3000, 120);
    const std::pair<int, std::size_t> rows[] = {{-1, 3}, {0, 3}, {1, 1}, {2, 2}, {3, 3}, {4, 3}};
    for (const auto& [limit, expected] : rows) {
        auto directory = ovdir::MakeLdapDirectory(Account("size-120"));
        std::vector<std::string> domains;
        int searchStatus = -1;
        ASSERT_EQ(ovdir::MakeLdapDomainSource(Account("size-120"), *directory)
                      ->ExplicitDomains(PlainAddress("limits"), "cn=size-120,o=limits", "secret",
                                        false, limit, domains, searchStatus),
                  0u);
        EXPECT_EQ(searchStatus, kDomainSearchSuccess);
        EXPECT_EQ(domains.size(), expected) << "limit " << limit;
    }
}

INSTANTIATE_TEST_SUITE_P(Accounts, LdapLimitsTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<LimitCase>& param) {
                             std::string name = std::string(param.param.account) + "_" +
                                                std::to_string(param.index);
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

}  // namespace
