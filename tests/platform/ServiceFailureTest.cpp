// Every operation of the user and directory services over a directory that
// fails on command: whichever call fails, with whatever status, after
// whatever part of its answer, the operation answers that status and hands
// out nothing. A failure from beneath never turns into a short list with
// status 0.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/services/DirectoryService.h"
#include "platform/services/EmbeddedDirectory.h"
#include "platform/services/SampleData.h"
#include "platform/services/UserService.h"
#include "tests/platform/FailingDirectory.h"

using namespace ovdir;

namespace {

struct Services {
    UserService& user;
    DirectoryService& directory;
};

// What an operation handed out: its status and every out-parameter as text.
struct Answer {
    unsigned status;
    std::string text;
};

std::string Joined(const std::vector<OvWString>& list)
{
    std::string text;
    for (const OvWString& item : list) text += makeString(item) + "\n";
    return text;
}

OvWString W(const std::string& text)
{
    return makeWideString(text);
}

using ListCall = unsigned (UserService::*)(const OvWString&, std::vector<OvWString>&);
using SearchCall = unsigned (UserService::*)(const OvWString&, const OvWString&, bool&,
                                             std::vector<OvWString>&);

std::function<Answer(Services&)> List(ListCall call, std::string argument)
{
    return [call, argument](Services& s) {
        std::vector<OvWString> out;
        const unsigned status = (s.user.*call)(W(argument), out);
        return Answer{status, Joined(out)};
    };
}

std::function<Answer(Services&)> Search(SearchCall call, std::string name, bool exact)
{
    return [call, name, exact](Services& s) {
        std::vector<OvWString> out;
        bool exactMatch = exact;
        const unsigned status =
            (s.user.*call)(W("LDAP://h dc=example,dc=com"), W(name), exactMatch, out);
        return Answer{status, Joined(out)};
    };
}

struct Operation {
    const char* name;
    std::function<Answer(Services&)> call;
};

void PrintTo(const Operation& operation, std::ostream* out)
{
    *out << operation.name;
}

const std::string kSales = "LDAP://h ou=Sales,dc=example,dc=com/";
const std::string kUsers = "LDAP://h cn=Users,dc=example,dc=com/";

const Operation kOperations[] = {
    {"GetUsers", List(&UserService::GetUsers, "LDAP://h ou=Sales,dc=example,dc=com")},
    {"GetGroups", List(&UserService::GetGroups, "LDAP://h dc=example,dc=com")},
    {"GetDomains", List(&UserService::GetDomains, "LDAP")},
    {"GetTrustedDomains", List(&UserService::GetTrustedDomains, "LDAP://h dc=example,dc=com")},
    {"GetUserGroups", List(&UserService::GetUserGroups, kSales + "Mary Jones")},
    {"GetUsersForNestedGroup", List(&UserService::GetUsersForGroup, kUsers + "Sales Team")},
    {"GetUsersForPosixGroup", List(&UserService::GetUsersForGroup, kUsers + "developers")},
    {"GetWorkstationsByShortName", List(&UserService::GetWorkstations, "EXAMPLE")},
    {"GetWorkstationsByContext",
     List(&UserService::GetWorkstations, "LDAP://h dc=example,dc=com")},
    {"GetFullUserName",
     [](Services& s) {
         OvWString name;
         const unsigned status = s.user.GetFullUserName(W(kSales + "John Smith"), name);
         return Answer{status, makeString(name)};
     }},
    {"GetQualifiedNameForUser",
     [](Services& s) {
         OvWString fqdn;
         const unsigned status =
             s.user.GetQualifiedNameForUser(W("default://EXAMPLE\\jsmith"), fqdn);
         return Answer{status, makeString(fqdn)};
     }},
    {"TestUserAuthentication",
     [](Services& s) {
         OvWString name;
         bool authenticated = false;
         const unsigned status =
             s.user.TestUserAuthentication(W("jsmith"), W("Secret123"), name, authenticated);
         return Answer{status, makeString(name) + (authenticated ? " accepted" : "")};
     }},
    {"TestUserAuthenticationInDomain",
     [](Services& s) {
         OvWString name;
         bool authenticated = false;
         const unsigned status = s.user.TestUserAuthentication(
             W("EXAMPLE\\administrator"), W("Admin#2024"), name, authenticated);
         return Answer{status, makeString(name) + (authenticated ? " accepted" : "")};
     }},
    {"GetDomainsSsl",
     [](Services& s) {
         OvWIFFLEPassword password(W("Secret123"), false);
         int limit = 100;
         bool ssl = false;
         int searchStatus = -1;
         std::vector<OvWString> domains;
         const unsigned status = s.user.GetDomainsSsl(
             W("LDAP://h"), W("cn=John Smith,ou=Sales,dc=example,dc=com"), password, W("LDAP"),
             limit, ssl, domains, searchStatus);
         return Answer{status, Joined(domains)};
     }},
    {"GetUserLoginAndFullName",
     [](Services& s) {
         OvWString name, login;
         const unsigned status =
             s.user.GetUserLoginAndFullName(W(kSales + "John Smith"), name, login);
         return Answer{status, makeString(name) + makeString(login)};
     }},
    {"GetUserInfoFromName",
     [](Services& s) {
         OvWString fqdn, name, login;
         const unsigned status =
             s.user.GetUserInfoFromName(W("default://EXAMPLE\\jsmith"), fqdn, name, login);
         return Answer{status, makeString(fqdn) + makeString(name) + makeString(login)};
     }},
    {"GetUserInfoFromEmail",
     [](Services& s) {
         OvWString fqdn, name, login;
         const unsigned status =
             s.user.GetUserInfoFromEmail(W("jsmith@example.com"), fqdn, name, login);
         return Answer{status, makeString(fqdn) + makeString(name) + makeString(login)};
     }},
    {"GetUserEmailAddr",
     [](Services& s) {
         OvWString mail;
         const unsigned status = s.user.GetUserEmailAddr(W(kSales + "John Smith"), mail);
         return Answer{status, makeString(mail)};
     }},
    {"SearchGroupsFromName", Search(&UserService::SearchGroupsFromName, "sales", false)},
    {"SearchUsersFromName", Search(&UserService::SearchUsersFromName, "smith", false)},
    {"SearchOrgUnitsFromName", Search(&UserService::SearchOrgUnitsFromName, "SALES", true)},
    {"GetServersForDomain",
     [](Services& s) {
         std::vector<DomainServer> servers;
         const unsigned status =
             s.directory.GetServersForDomain(W("LDAP://h dc=example,dc=com"), servers);
         std::string text;
         for (const DomainServer& server : servers)
             text += makeString(server.name) + " " + server.ip.str() + "\n";
         return Answer{status, text};
     }},
};

// Every status a directory fails with, and one that no backend knows.
const unsigned kFailures[] = {kStatusMalformedName, kStatusUnreachable, kStatusTimeout,
                              kStatusRefused,       kStatusLoadFailed,  kStatusTlsFailed,
                              kStatusBindFailed,    0x7EADBEEFu};

// How much of its answer the failing call hands over first.
const std::size_t kPartials[] = {0, 1, static_cast<std::size_t>(-1)};

class ServiceFailureTest : public ::testing::TestWithParam<Operation> {
protected:
    ServiceFailureTest()
        : sample_(EmbeddedDirectory::FromText(SampleDirectoryLdif(), "sample")),
          failing_(*sample_), user_(failing_), directory_(failing_)
    {
    }

    Answer Call()
    {
        Services services{user_, directory_};
        return GetParam().call(services);
    }

    std::unique_ptr<EmbeddedDirectory> sample_;
    ovtest::FailingDirectory failing_;
    UserService user_;
    DirectoryService directory_;
};

TEST_P(ServiceFailureTest, EveryFailingCallGivesItsStatusAndNothingElse)
{
    const Answer whole = Call();
    ASSERT_EQ(whole.status, 0u);
    ASSERT_FALSE(whole.text.empty());
    const int calls = failing_.Calls();
    ASSERT_GT(calls, 0);
    for (int call = 0; call < calls; ++call) {
        for (const unsigned status : kFailures) {
            for (const std::size_t partial : kPartials) {
                for (const bool sticky : {false, true}) {
                    failing_.Reset();
                    failing_.FailAt(call, status, partial, sticky);
                    const Answer answer = Call();
                    EXPECT_EQ(answer.status, status)
                        << "call " << call << " of " << calls << ", partial " << partial
                        << (sticky ? ", sticky" : "") << ": answered " << answer.text;
                    EXPECT_EQ(answer.text, "") << "call " << call << ", status " << status;
                }
            }
        }
    }
    // And with nothing failing the answer is whole again.
    failing_.Reset();
    const Answer again = Call();
    EXPECT_EQ(again.status, 0u);
    EXPECT_EQ(again.text, whole.text);
}

INSTANTIATE_TEST_SUITE_P(Operations, ServiceFailureTest, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<Operation>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
