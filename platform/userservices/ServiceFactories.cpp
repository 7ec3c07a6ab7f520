// The services' proxies and their factories, registered with the proxy-factory
// registry when the library is loaded. Each proxy hands out the one service
// object of the process, made on first use and kept to process exit, so that
// handles released by static destructors still reach it.
#include "platform/directory/Directory.h"
#include "platform/userservices/DirectoryService.h"
#include "platform/userservices/EventLog.h"
#include "platform/userservices/TransIdService.h"
#include "platform/userservices/UserService.h"
#include "services/OvProxyFactories.h"
#include "services/OvServiceSettings.h"

namespace ovdir {
namespace {

OvUserServiceBase& TheUserService()
{
    static UserService* service =
        new UserService(ConfiguredDirectory(), ConfiguredExpansionLimits());
    return *service;
}

OvTransIdServiceBase& TheTransIdService()
{
    static TransIdService* service =
        new TransIdService(TransIdService::ConfiguredSessionsFile(OvProvidedServiceSettings()));
    return *service;
}

OvDirectoryServiceBase& TheDirectoryService()
{
    static DirectoryService* service = new DirectoryService(ConfiguredDirectory());
    return *service;
}

OvEventLogBase& TheEventLog()
{
    static EventLog* service = new EventLog();
    return *service;
}

class UserServiceProxy : public OvUserServiceBase {
public:
    explicit UserServiceProxy(unsigned) {}
    OvUserServiceBase* GetInterface() override { return &TheUserService(); }

    // Calls made on the proxy itself go to the service as well.
    unsigned GetUsers(const OvWString& c, std::vector<OvWString>& u) override
    {
        return TheUserService().GetUsers(c, u);
    }
    unsigned GetGroups(const OvWString& c, std::vector<OvWString>& g) override
    {
        return TheUserService().GetGroups(c, g);
    }
    unsigned GetDomains(const OvWString& t, std::vector<OvWString>& d) override
    {
        return TheUserService().GetDomains(t, d);
    }
    unsigned GetTrustedDomains(const OvWString& d, std::vector<OvWString>& t) override
    {
        return TheUserService().GetTrustedDomains(d, t);
    }
    unsigned GetUserGroups(const OvWString& u, std::vector<OvWString>& g) override
    {
        return TheUserService().GetUserGroups(u, g);
    }
    unsigned GetUsersForGroup(const OvWString& g, std::vector<OvWString>& u) override
    {
        return TheUserService().GetUsersForGroup(g, u);
    }
    unsigned GetFullUserName(const OvWString& u, OvWString& f) override
    {
        return TheUserService().GetFullUserName(u, f);
    }
    unsigned GetQualifiedNameForUser(const OvWString& l, OvWString& f) override
    {
        return TheUserService().GetQualifiedNameForUser(l, f);
    }
    unsigned TestUserAuthentication(const OvWString& u, const OvWString& p, OvWString& f,
                                    bool& a) override
    {
        return TheUserService().TestUserAuthentication(u, p, f, a);
    }
    unsigned GetDomainsSsl(const OvWString& s, const OvWString& u, OvWIFFLEPassword& p,
                           const OvWString& t, int& l, bool& e, std::vector<OvWString>& d,
                           int& st) override
    {
        return TheUserService().GetDomainsSsl(s, u, p, t, l, e, d, st);
    }
    unsigned GetWorkstations(const OvWString& d, std::vector<OvWString>& w) override
    {
        return TheUserService().GetWorkstations(d, w);
    }
    unsigned GetUserLoginAndFullName(const OvWString& u, OvWString& f, OvWString& l) override
    {
        return TheUserService().GetUserLoginAndFullName(u, f, l);
    }
    unsigned GetUserInfoFromName(const OvWString& l, OvWString& q, OvWString& f,
                                 OvWString& n) override
    {
        return TheUserService().GetUserInfoFromName(l, q, f, n);
    }
    unsigned GetUserInfoFromEmail(const OvWString& e, OvWString& q, OvWString& f,
                                  OvWString& n) override
    {
        return TheUserService().GetUserInfoFromEmail(e, q, f, n);
    }
    unsigned GetUserEmailAddr(const OvWString& u, OvWString& e) override
    {
        return TheUserService().GetUserEmailAddr(u, e);
    }
    unsigned SearchGroupsFromName(const OvWString& c, const OvWString& n, bool& x,
                                  std::vector<OvWString>& g) override
    {
        return TheUserService().SearchGroupsFromName(c, n, x, g);
    }
    unsigned SearchUsersFromName(const OvWString& c, const OvWString& n, bool& x,
                                 std::vector<OvWString>& u) override
    {
        return TheUserService().SearchUsersFromName(c, n, x, u);
    }
    unsigned SearchOrgUnitsFromName(const OvWString& c, const OvWString& n, bool& x,
                                    std::vector<OvWString>& o) override
    {
        return TheUserService().SearchOrgUnitsFromName(c, n, x, o);
    }
    unsigned CompleteContext(const OvWString& t, unsigned l, unsigned m,
                             std::vector<OvWString>& w) override
    {
        return TheUserService().CompleteContext(t, l, m, w);
    }
    unsigned GetEntry(const OvWString& n, OvWString& d, std::vector<OvEntryAttribute>& a) override
    {
        return TheUserService().GetEntry(n, d, a);
    }
};

class TransIdServiceProxy : public OvTransIdServiceBase {
public:
    explicit TransIdServiceProxy(unsigned) {}
    OvTransIdServiceBase* GetInterface() override { return &TheTransIdService(); }
    unsigned GetUser(const unsigned int& address, OvWString& user) override
    {
        return TheTransIdService().GetUser(address, user);
    }
};

class DirectoryServiceProxy : public OvDirectoryServiceBase {
public:
    explicit DirectoryServiceProxy(unsigned) {}
    OvDirectoryServiceBase* GetInterface() override { return &TheDirectoryService(); }
    unsigned GetServersForDomain(const OvWString& domain,
                                 std::vector<DomainServer>& servers) override
    {
        return TheDirectoryService().GetServersForDomain(domain, servers);
    }
};

class EventLogProxy : public OvEventLogBase {
public:
    explicit EventLogProxy(unsigned) {}
    OvEventLogBase* GetInterface() override { return &TheEventLog(); }
    unsigned GetErrorMessage(const unsigned int& code, OvWString& message) override
    {
        return TheEventLog().GetErrorMessage(code, message);
    }
};

// The registry does not own factories and lives to process exit, so the
// factories are never destroyed either.
template <class T, class P>
void RegisterFactory()
{
    OvProxyFactories::Instance()->Register(ProxyKey<T>(), new TypedProxyFactory<T, P>());
}

const bool kRegistered = [] {
    RegisterFactory<OvUserServiceBase, UserServiceProxy>();
    RegisterFactory<OvTransIdServiceBase, TransIdServiceProxy>();
    RegisterFactory<OvDirectoryServiceBase, DirectoryServiceProxy>();
    RegisterFactory<OvEventLogBase, EventLogProxy>();
    return true;
}();

}  // namespace
}  // namespace ovdir
