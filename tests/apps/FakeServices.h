// Stand-in services for the command tests: canned answers, recorded calls,
// and factories that count how often a proxy is made and given back.
#pragma once

#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "apps/UserServiceCommand/OvCommandSupport.h"
#include "services/OvDirectoryServiceBase.h"
#include "services/OvEventLogBase.h"
#include "services/OvProxyFactories.h"
#include "services/OvTransIdServiceBase.h"
#include "services/OvUserServiceBase.h"

// Hands out one shared object and counts creations and releases.
template <class T>
class CountingFactory : public ProxyFactory {
public:
    explicit CountingFactory(T* object) : object_(object) {}
    void* Create(unsigned) override
    {
        ++creates;
        return object_;
    }
    void Release(void*) override { ++releases; }
    int creates = 0;
    int releases = 0;

private:
    T* object_;
};

class FakeUserService : public OvUserServiceBase {
public:
    OvUserServiceBase* GetInterface() override { return this; }
    unsigned GetUsers(const OvWString& context, std::vector<OvWString>& users) override;
    unsigned GetGroups(const OvWString& context, std::vector<OvWString>& groups) override;
    unsigned GetDomains(const OvWString& type, std::vector<OvWString>& domains) override;
    unsigned GetTrustedDomains(const OvWString& domain, std::vector<OvWString>& trusted) override;
    unsigned GetUserGroups(const OvWString& user, std::vector<OvWString>& groups) override;
    unsigned GetUsersForGroup(const OvWString& group, std::vector<OvWString>& users) override;
    unsigned GetFullUserName(const OvWString& user, OvWString& fullName) override;
    unsigned GetQualifiedNameForUser(const OvWString& login, OvWString& fqdn) override;
    unsigned TestUserAuthentication(const OvWString& user, const OvWString& password,
                                    OvWString& fullName, bool& authenticated) override;
    unsigned GetDomainsSsl(const OvWString& serverContext, const OvWString& userName,
                           OvWIFFLEPassword& password, const OvWString& type, int& limit,
                           bool& sslEnable, std::vector<OvWString>& domains,
                           int& searchStatus) override;
    unsigned GetWorkstations(const OvWString& domain,
                             std::vector<OvWString>& workstations) override;
    unsigned GetUserLoginAndFullName(const OvWString& user, OvWString& fullName,
                                     OvWString& login) override;
    unsigned GetUserInfoFromName(const OvWString& login, OvWString& fqdn, OvWString& fullName,
                                 OvWString& loginName) override;
    unsigned GetUserInfoFromEmail(const OvWString& email, OvWString& fqdn, OvWString& fullName,
                                  OvWString& loginName) override;
    unsigned GetUserEmailAddr(const OvWString& user, OvWString& email) override;
    unsigned SearchGroupsFromName(const OvWString& context, const OvWString& name, bool& exactMatch,
                                  std::vector<OvWString>& groups) override;
    unsigned SearchUsersFromName(const OvWString& context, const OvWString& name, bool& exactMatch,
                                 std::vector<OvWString>& users) override;
    unsigned SearchOrgUnitsFromName(const OvWString& context, const OvWString& name,
                                    bool& exactMatch, std::vector<OvWString>& units) override;

    // What the next call answers.
    unsigned status = 0;
    std::vector<OvWString> list;
    OvWString text;        // the one text output (full name, FQDN, e-mail ...)
    OvWString secondText;  // login of the two- and three-output calls
    bool authenticated = false;
    int searchStatus = 0;
    // What the last call received.
    std::vector<OvWString> arguments;
    bool flag = false;
    int limit = 0;
    int calls = 0;

private:
    // Record the call, then answer with `list` or `text` unless failing.
    unsigned List(std::initializer_list<OvWString> received, std::vector<OvWString>& out);
    unsigned Text(std::initializer_list<OvWString> received, OvWString& out);
};

class FakeEventLog : public OvEventLogBase {
public:
    OvEventLogBase* GetInterface() override { return this; }
    unsigned GetErrorMessage(const unsigned int& code, OvWString& message) override;
};

class FakeTransIdService : public OvTransIdServiceBase {
public:
    OvTransIdServiceBase* GetInterface() override { return this; }
    unsigned GetUser(const unsigned int& address, OvWString& user) override;
    unsigned status = 0;
    unsigned lastAddress = 0;
    int calls = 0;
};

class FakeDirectoryService : public OvDirectoryServiceBase {
public:
    OvDirectoryServiceBase* GetInterface() override { return this; }
    unsigned GetServersForDomain(const OvWString& domain,
                                 std::vector<DomainServer>& servers) override;
    unsigned status = 0;
    std::vector<DomainServer> servers;
};

// The fakes, registered under the real interfaces for the whole test run.
struct FakeServices {
    static FakeServices& Get();
    FakeUserService user;
    FakeEventLog eventLog;
    FakeTransIdService transId;
    FakeDirectoryService directory;
    CountingFactory<OvUserServiceBase> userFactory{&user};
    CountingFactory<OvEventLogBase> eventLogFactory{&eventLog};
    CountingFactory<OvTransIdServiceBase> transIdFactory{&transId};
    CountingFactory<OvDirectoryServiceBase> directoryFactory{&directory};
    // Makes every fake answer success with nothing, and forgets calls.
    void Reset();
};

// A scripted console and the context the commands run in.
class ScriptedConsole {
public:
    explicit ScriptedConsole(const std::string& typed);
    std::string Output() const { return out.str(); }
    std::wstring WideOutput() const { return wideOut.str(); }

    std::istringstream in;
    std::ostringstream out;
    std::wostringstream wideOut;
    OvConsoleIo io;
    ProxyHandle<OvUserServiceBase> userService{0};
    OvCommandContext context{io, userService};
};
