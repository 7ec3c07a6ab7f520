// The services' proxies and their factories, registered with the proxy-factory
// registry when the library is loaded. Each proxy hands out the services that
// the program installed, kept to process exit, so that handles released by
// static destructors still reach them.
#include "platform/userservices/ServiceFactories.h"

#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/userservices/DirectoryService.h"
#include "platform/userservices/EventLog.h"
#include "platform/userservices/TransIdService.h"
#include "platform/userservices/UserService.h"
#include "services/OvProxyFactories.h"

namespace ovdir {
namespace {

// The directory and the four services built on it.
class Services {
public:
    explicit Services(ServiceConfiguration configuration)
        : limits_{configuration.directory.maxEntries, configuration.directory.maxGroupSearches},
          listing_(ListingSettings(configuration.directory)),
          directory_(OpenDirectory(std::move(configuration.directory))),
          domains_(OpenDomainSource(listing_, *directory_)),
          user(*directory_, limits_, domains_.get()),
          transId(std::move(configuration.sessionsFile)),
          directoryService(*directory_)
    {
    }

private:
    // What the explicit listing is opened with: the directory's transport
    // and limits, not the service account (it binds as the account named).
    static DirectorySettings ListingSettings(const DirectorySettings& settings)
    {
        DirectorySettings listing;
        listing.directory = settings.directory;
        listing.startTls = settings.startTls;
        listing.caCertFile = settings.caCertFile;
        listing.maxEntries = settings.maxEntries;
        listing.timeouts = settings.timeouts;
        return listing;
    }

    ExpansionLimits limits_;
    DirectorySettings listing_;
    std::unique_ptr<Directory> directory_;
    std::unique_ptr<ExplicitDomainSource> domains_;

public:
    UserService user;
    TransIdService transId;
    DirectoryService directoryService;
    EventLog eventLog;
};

// Never destroyed: services answer calls made from static destructors too.
std::mutex& InstalledLock()
{
    static std::mutex* const lock = new std::mutex;
    return *lock;
}

// Every set of services installed, the one in use last. Earlier ones are
// kept: a handle may still hold one of their services.
std::vector<std::unique_ptr<Services>>& InstalledSets()
{
    static auto* const sets = new std::vector<std::unique_ptr<Services>>;
    return *sets;
}

Services& Installed()
{
    std::lock_guard<std::mutex> guard(InstalledLock());
    std::vector<std::unique_ptr<Services>>& sets = InstalledSets();
    if (sets.empty()) sets.push_back(std::make_unique<Services>(ServiceConfiguration()));
    return *sets.back();
}

// The installed service of interface T.
template <class T>
T& Service()
{
    Services& services = Installed();
    if constexpr (std::is_same_v<T, OvUserServiceBase>)
        return services.user;
    else if constexpr (std::is_same_v<T, OvTransIdServiceBase>)
        return services.transId;
    else if constexpr (std::is_same_v<T, OvDirectoryServiceBase>)
        return services.directoryService;
    else
        return services.eventLog;
}

// A proxy of interface T: an object of the handle's own whose interface, and
// every call made on the proxy itself, is the installed service's.
template <class T>
class Proxy : public T {
public:
    using Interface = T;
    explicit Proxy(unsigned) {}
    T* GetInterface() override { return &Service<T>(); }
};

// One operation of the proxy's interface, passed on to the installed service.
#define OV_FORWARD(Name, Parameters, Arguments) \
    unsigned Name Parameters override { return Service<Interface>().Name Arguments; }

class UserServiceProxy final : public Proxy<OvUserServiceBase> {
public:
    using Proxy::Proxy;
    OV_FORWARD(GetUsers, (const OvWString& c, std::vector<OvWString>& u), (c, u))
    OV_FORWARD(GetGroups, (const OvWString& c, std::vector<OvWString>& g), (c, g))
    OV_FORWARD(GetDomains, (const OvWString& t, std::vector<OvWString>& d), (t, d))
    OV_FORWARD(GetTrustedDomains, (const OvWString& d, std::vector<OvWString>& t), (d, t))
    OV_FORWARD(GetUserGroups, (const OvWString& u, std::vector<OvWString>& g), (u, g))
    OV_FORWARD(GetUsersForGroup, (const OvWString& g, std::vector<OvWString>& u), (g, u))
    OV_FORWARD(GetFullUserName, (const OvWString& u, OvWString& f), (u, f))
    OV_FORWARD(GetQualifiedNameForUser, (const OvWString& l, OvWString& f), (l, f))
    OV_FORWARD(TestUserAuthentication,
               (const OvWString& u, const OvWString& p, OvWString& f, bool& a), (u, p, f, a))
    OV_FORWARD(GetDomainsSsl,
               (const OvWString& s, const OvWString& u, OvWIFFLEPassword& p, const OvWString& t,
                int& l, bool& e, std::vector<OvWString>& d, int& st),
               (s, u, p, t, l, e, d, st))
    OV_FORWARD(GetWorkstations, (const OvWString& d, std::vector<OvWString>& w), (d, w))
    OV_FORWARD(GetUserLoginAndFullName, (const OvWString& u, OvWString& f, OvWString& l), (u, f, l))
    OV_FORWARD(GetUserInfoFromName, (const OvWString& l, OvWString& q, OvWString& f, OvWString& n),
               (l, q, f, n))
    OV_FORWARD(GetUserInfoFromEmail, (const OvWString& e, OvWString& q, OvWString& f, OvWString& n),
               (e, q, f, n))
    OV_FORWARD(GetUserEmailAddr, (const OvWString& u, OvWString& e), (u, e))
    OV_FORWARD(SearchGroupsFromName,
               (const OvWString& c, const OvWString& n, bool& x, std::vector<OvWString>& g),
               (c, n, x, g))
    OV_FORWARD(SearchUsersFromName,
               (const OvWString& c, const OvWString& n, bool& x, std::vector<OvWString>& u),
               (c, n, x, u))
    OV_FORWARD(SearchOrgUnitsFromName,
               (const OvWString& c, const OvWString& n, bool& x, std::vector<OvWString>& o),
               (c, n, x, o))
    OV_FORWARD(CompleteContext,
               (const OvWString& t, unsigned l, unsigned m, std::vector<OvWString>& w),
               (t, l, m, w))
    OV_FORWARD(GetEntry, (const OvWString& n, OvWString& d, std::vector<OvEntryAttribute>& a),
               (n, d, a))
};

class TransIdServiceProxy final : public Proxy<OvTransIdServiceBase> {
public:
    using Proxy::Proxy;
    OV_FORWARD(GetUser, (const unsigned int& address, OvWString& user), (address, user))
};

class DirectoryServiceProxy final : public Proxy<OvDirectoryServiceBase> {
public:
    using Proxy::Proxy;
    OV_FORWARD(GetServersForDomain, (const OvWString& domain, std::vector<DomainServer>& servers),
               (domain, servers))
};

class EventLogProxy final : public Proxy<OvEventLogBase> {
public:
    using Proxy::Proxy;
    OV_FORWARD(GetErrorMessage, (const unsigned int& code, OvWString& message), (code, message))
};

#undef OV_FORWARD

// The registry does not own factories and lives to process exit, so the
// factories are never destroyed either.
template <class T, class P>
void RegisterFactory()
{
    OvProxyFactories::Instance()->Register(ProxyKey<T>(), new TypedProxyFactory<T, P>());
}

// The builder of the services from the settings the program read.
void BuildServices(const OvServiceSettings& settings, const OvServiceTimeouts& timeouts)
{
    ServiceConfiguration configuration = ReadServiceConfiguration(settings);
    configuration.directory.timeouts = timeouts;
    InstallServices(std::move(configuration));
}

const bool kRegistered = [] {
    OvRegisterServiceBuilder(BuildServices);
    RegisterFactory<OvUserServiceBase, UserServiceProxy>();
    RegisterFactory<OvTransIdServiceBase, TransIdServiceProxy>();
    RegisterFactory<OvDirectoryServiceBase, DirectoryServiceProxy>();
    RegisterFactory<OvEventLogBase, EventLogProxy>();
    return true;
}();

}  // namespace

void InstallServices(ServiceConfiguration configuration)
{
    // Built before the lock is taken: opening the directory may take a while.
    auto built = std::make_unique<Services>(std::move(configuration));
    std::lock_guard<std::mutex> guard(InstalledLock());
    InstalledSets().push_back(std::move(built));
}

}  // namespace ovdir
