// Every operation of the user and directory services over a directory that
// fails on command: whichever call fails, with whatever status, after
// whatever part of its answer, the operation answers that status and hands
// out nothing. A failure from beneath never becomes a short list with status 0.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <tuple>

#include "platform/embedded/EmbeddedDirectory.h"
#include "platform/embedded/SampleData.h"
#include "platform/userservices/DirectoryService.h"
#include "platform/userservices/UserService.h"
#include "tests/platform/FailingDirectory.h"

using namespace ovdir;

namespace {

// An operation's status and every out-parameter, as text.
struct Answer {
    unsigned status;
    std::string text;
};
using Call = std::function<Answer(UserService&, DirectoryService&)>;

std::string Text(const std::vector<OvWString>& list)
{
    std::string text;
    for (const OvWString& item : list) text += makeString(item) + "\n";
    return text;
}

template <class... Out>
std::string Text(const OvWString& first, const Out&... rest)
{
    return (makeString(first) + ... + makeString(rest));
}

// An operation of one text argument; every other argument is an out-parameter.
template <class... Out>
Call With(unsigned (UserService::*operation)(const OvWString&, Out&...), std::string argument)
{
    return [operation, argument](UserService& user, DirectoryService&) {
        std::tuple<Out...> out;
        const unsigned status = std::apply(
            [&](Out&... o) { return (user.*operation)(makeWideString(argument), o...); }, out);
        return Answer{status, std::apply([](const Out&... o) { return Text(o...); }, out)};
    };
}

Call Search(unsigned (UserService::*operation)(const OvWString&, const OvWString&, bool&,
                                               std::vector<OvWString>&),
            std::string name, bool exact)
{
    return [=](UserService& user, DirectoryService&) {
        std::vector<OvWString> out;
        bool exactMatch = exact;
        const unsigned status = (user.*operation)(makeWideString("LDAP://h dc=example,dc=com"),
                                                  makeWideString(name), exactMatch, out);
        return Answer{status, Text(out)};
    };
}

Call Authenticate(std::string login, std::string password)
{
    return [=](UserService& user, DirectoryService&) {
        OvWString name;
        bool accepted = false;
        const unsigned status = user.TestUserAuthentication(
            makeWideString(login), makeWideString(password), name, accepted);
        return Answer{status, makeString(name) + (accepted ? " accepted" : "")};
    };
}

Answer DomainsSsl(UserService& user, DirectoryService&)
{
    OvWIFFLEPassword password(makeWideString("Secret123"), false);
    int limit = 100, searchStatus = -1;
    bool ssl = false;
    std::vector<OvWString> domains;
    const unsigned status = user.GetDomainsSsl(
        makeWideString("LDAP://h"), makeWideString("cn=John Smith,ou=Sales,dc=example,dc=com"),
        password, makeWideString("LDAP"), limit, ssl, domains, searchStatus);
    return Answer{status, Text(domains)};
}

Answer Servers(UserService&, DirectoryService& directory)
{
    std::vector<DomainServer> servers;
    const unsigned status =
        directory.GetServersForDomain(makeWideString("LDAP://h dc=example,dc=com"), servers);
    std::string text;
    for (const DomainServer& server : servers) text += makeString(server.name) + server.ip.str();
    return Answer{status, text};
}

struct Operation {
    const char* name;
    Call call;
};

void PrintTo(const Operation& operation, std::ostream* out) { *out << operation.name; }

const std::string kDomain = "LDAP://h dc=example,dc=com";
const std::string kJohn = "LDAP://h ou=Sales,dc=example,dc=com/John Smith";
const std::string kGroups = "LDAP://h cn=Users,dc=example,dc=com/";

const Operation kOperations[] = {
    {"GetUsers", With(&UserService::GetUsers, "LDAP://h ou=Sales,dc=example,dc=com")},
    {"GetGroups", With(&UserService::GetGroups, kDomain)},
    {"GetDomains", With(&UserService::GetDomains, "LDAP")},
    {"GetTrustedDomains", With(&UserService::GetTrustedDomains, kDomain)},
    {"GetUserGroups", With(&UserService::GetUserGroups, kJohn)},
    {"GetUsersForNestedGroup", With(&UserService::GetUsersForGroup, kGroups + "Sales Team")},
    {"GetUsersForPosixGroup", With(&UserService::GetUsersForGroup, kGroups + "developers")},
    {"GetWorkstationsByShortName", With(&UserService::GetWorkstations, "EXAMPLE")},
    {"GetWorkstationsByContext", With(&UserService::GetWorkstations, kDomain)},
    {"GetFullUserName", With(&UserService::GetFullUserName, kJohn)},
    {"GetQualifiedNameForUser",
     With(&UserService::GetQualifiedNameForUser, "default://EXAMPLE\\jsmith")},
    {"TestUserAuthentication", Authenticate("jsmith", "Secret123")},
    {"TestUserAuthenticationInDomain", Authenticate("EXAMPLE\\administrator", "Admin#2024")},
    {"GetDomainsSsl", DomainsSsl},
    {"GetUserLoginAndFullName", With(&UserService::GetUserLoginAndFullName, kJohn)},
    {"GetUserInfoFromName", With(&UserService::GetUserInfoFromName, "default://EXAMPLE\\jsmith")},
    {"GetUserInfoFromEmail", With(&UserService::GetUserInfoFromEmail, "jsmith@example.com")},
    {"GetUserEmailAddr", With(&UserService::GetUserEmailAddr, kJohn)},
    {"SearchGroupsFromName", Search(&UserService::SearchGroupsFromName, "sales", false)},
    {"SearchUsersFromName", Search(&UserService::SearchUsersFromName, "smith", false)},
    {"SearchOrgUnitsFromName", Search(&UserService::SearchOrgUnitsFromName, "SALES", true)},
    {"GetServersForDomain", Servers},
};

// Every status a directory fails with, and one that no backend knows.
const unsigned kFailures[] = {kStatusMalformedName, kStatusUnreachable, kStatusTimeout,
                              kStatusRefused,       kStatusLoadFailed,  kStatusTlsFailed,
                              kStatusBindFailed,    0x7EADBEEFu};

class ServiceFailureTest : public ::testing::TestWithParam<Operation> {};

TEST_P(ServiceFailureTest, EveryFailingCallGivesItsStatusAndNothingElse)
{
    auto sample = EmbeddedDirectory::FromText(SampleDirectoryLdif(), "sample");
    ovtest::FailingDirectory failing(*sample);
    UserService user(failing);
    DirectoryService directory(failing);
    const Answer whole = GetParam().call(user, directory);
    ASSERT_EQ(whole.status, 0u);
    ASSERT_FALSE(whole.text.empty());
    const int calls = failing.Calls();
    for (int call = 0; call < calls; ++call) {
        for (const unsigned status : kFailures) {
            for (const std::size_t partial : {0, 1, 1000}) {
                failing.FailAt(call, status, partial);
                const Answer answer = GetParam().call(user, directory);
                // A server that calls one reading of a name no DN lets the
                // next reading find the entry.
                if (status == kStatusMalformedName && failing.FailedTentative()) {
                    EXPECT_EQ(answer.text, whole.text) << "call " << call;
                    continue;
                }
                EXPECT_EQ(answer.status, status) << "call " << call << " of " << calls
                                                 << ", partial " << partial << ": " << answer.text;
                EXPECT_EQ(answer.text, "") << "call " << call << ", status " << status;
            }
        }
    }
    failing.FailAt(-1);
    EXPECT_EQ(GetParam().call(user, directory).text, whole.text);
}

INSTANTIATE_TEST_SUITE_P(Operations, ServiceFailureTest, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<Operation>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
