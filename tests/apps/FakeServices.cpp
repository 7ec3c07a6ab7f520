// Stand-in services for the command tests.
#include "FakeServices.h"

#include <iomanip>

unsigned FakeUserService::List(std::initializer_list<OvWString> received,
                               std::vector<OvWString>& out)
{
    ++calls;
    arguments.assign(received);
    if (status == 0) out = list;
    return status;
}

unsigned FakeUserService::Text(std::initializer_list<OvWString> received, OvWString& out)
{
    ++calls;
    arguments.assign(received);
    if (status == 0) out = text;
    return status;
}

unsigned FakeUserService::GetUsers(const OvWString& c, std::vector<OvWString>& out)
{
    return List({c}, out);
}
unsigned FakeUserService::GetGroups(const OvWString& c, std::vector<OvWString>& out)
{
    return List({c}, out);
}
unsigned FakeUserService::GetDomains(const OvWString& c, std::vector<OvWString>& out)
{
    return List({c}, out);
}
unsigned FakeUserService::GetTrustedDomains(const OvWString& c, std::vector<OvWString>& out)
{
    return List({c}, out);
}
unsigned FakeUserService::GetUserGroups(const OvWString& c, std::vector<OvWString>& out)
{
    return List({c}, out);
}
unsigned FakeUserService::GetUsersForGroup(const OvWString& c, std::vector<OvWString>& out)
{
    return List({c}, out);
}
unsigned FakeUserService::GetWorkstations(const OvWString& c, std::vector<OvWString>& out)
{
    return List({c}, out);
}

unsigned FakeUserService::GetFullUserName(const OvWString& user, OvWString& fullName)
{
    return Text({user}, fullName);
}

unsigned FakeUserService::GetQualifiedNameForUser(const OvWString& login, OvWString& fqdn)
{
    return Text({login}, fqdn);
}

unsigned FakeUserService::TestUserAuthentication(const OvWString& user, const OvWString& password,
                                                 OvWString& fullName, bool& isAuthenticated)
{
    ++calls;
    arguments = {user, password};
    if (status == 0) {
        fullName = text;
        isAuthenticated = authenticated;
    }
    return status;
}

unsigned FakeUserService::GetDomainsSsl(const OvWString& serverContext, const OvWString& userName,
                                        OvWIFFLEPassword& password, const OvWString& type,
                                        int& limitArgument, bool& sslEnable,
                                        std::vector<OvWString>& domains, int& outStatus)
{
    ++calls;
    arguments = {serverContext, userName, password.GetPassword(), type};
    flag = sslEnable;
    limit = limitArgument;
    if (status == 0) {
        domains = list;
        outStatus = searchStatus;
    }
    return status;
}

unsigned FakeUserService::GetUserLoginAndFullName(const OvWString& user, OvWString& fullName,
                                                  OvWString& login)
{
    ++calls;
    arguments = {user};
    if (status == 0) {
        fullName = text;
        login = secondText;
    }
    return status;
}

unsigned FakeUserService::GetUserInfoFromName(const OvWString& login, OvWString& fqdn,
                                              OvWString& fullName, OvWString& loginName)
{
    ++calls;
    arguments = {login};
    // Fills what it has even when it fails, as a partial answer would.
    fqdn = text;
    fullName = secondText;
    loginName = L"";
    return status;
}

unsigned FakeUserService::GetUserInfoFromEmail(const OvWString& email, OvWString& fqdn,
                                               OvWString& fullName, OvWString& loginName)
{
    return GetUserInfoFromName(email, fqdn, fullName, loginName);
}

unsigned FakeUserService::GetUserEmailAddr(const OvWString& user, OvWString& email)
{
    return Text({user}, email);
}

unsigned FakeUserService::SearchGroupsFromName(const OvWString& context, const OvWString& name,
                                               bool& exactMatch, std::vector<OvWString>& out)
{
    flag = exactMatch;
    return List({context, name}, out);
}

unsigned FakeUserService::SearchUsersFromName(const OvWString& context, const OvWString& name,
                                              bool& exactMatch, std::vector<OvWString>& out)
{
    flag = exactMatch;
    return List({context, name}, out);
}

unsigned FakeUserService::SearchOrgUnitsFromName(const OvWString& context, const OvWString& name,
                                                 bool& exactMatch, std::vector<OvWString>& out)
{
    flag = exactMatch;
    return List({context, name}, out);
}

unsigned FakeEventLog::GetErrorMessage(const unsigned int& code, OvWString& message)
{
    std::wostringstream text;
    text << L"text of " << std::hex << code;
    message = text.str();
    return 0;
}

unsigned FakeTransIdService::GetUser(const unsigned int& address, OvWString& user)
{
    ++calls;
    lastAddress = address;
    if (status == 0) user = L"EXAMPLE\\jsmith";
    return status;
}

unsigned FakeDirectoryService::GetServersForDomain(const OvWString&, std::vector<DomainServer>& out)
{
    if (status == 0) out = servers;
    return status;
}

FakeServices& FakeServices::Get()
{
    // Never destroyed: the error report's event-log handle gives its proxy
    // back at process exit and must still find the factory.
    static FakeServices* services = [] {
        auto* made = new FakeServices;
        OvProxyFactories::Pointer registry = OvProxyFactories::Instance();
        registry->Register(ProxyKey<OvUserServiceBase>(), &made->userFactory);
        registry->Register(ProxyKey<OvEventLogBase>(), &made->eventLogFactory);
        registry->Register(ProxyKey<OvTransIdServiceBase>(), &made->transIdFactory);
        registry->Register(ProxyKey<OvDirectoryServiceBase>(), &made->directoryFactory);
        return made;
    }();
    return *services;
}

void FakeServices::Reset()
{
    user.status = 0;
    user.list.clear();
    user.text.clear();
    user.secondText.clear();
    user.authenticated = false;
    user.searchStatus = 0;
    user.arguments.clear();
    user.flag = false;
    user.limit = 0;
    user.calls = 0;
    transId.status = 0;
    transId.calls = 0;
    transId.lastAddress = 0;
    directory.status = 0;
    directory.servers.clear();
}

ScriptedConsole::ScriptedConsole(const std::string& typed) : in(typed), io(in, out, wideOut) {}
