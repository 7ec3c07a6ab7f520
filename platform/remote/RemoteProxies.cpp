// The service proxies that call the daemon (RemoteAccess.h): one proxy
// class per service interface, each call made over the program's one
// connection to the daemon (RemoteLink.h).
#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/remote/RemoteAccess.h"
#include "platform/remote/RemoteLink.h"
#include "services/OvCommException.h"
#include "services/OvCommFramework.h"
#include "services/OvDirectoryServiceBase.h"
#include "services/OvEventLogBase.h"
#include "services/OvProxyFactories.h"
#include "services/OvTransIdServiceBase.h"
#include "services/OvUserServiceBase.h"

namespace ovremote {
namespace {

// A listing, its pieces gathered as they come; out is written only when the
// whole listing came and its status is 0.
unsigned List(const ListRequest& request, std::vector<OvWString>& out, int* searchStatus = nullptr)
{
    std::vector<OvWString> names;
    bool complete = false;
    NamePiece piece;
    const unsigned status =
        Invoke([&](UserServices::Stub& stub, grpc::ClientContext& context, bool& answered) {
            names.clear();
            std::unique_ptr<grpc::ClientReader<NamePiece>> reader = stub.List(&context, request);
            while (!complete && reader->Read(&piece)) {
                answered = true;
                for (std::string& name : *piece.mutable_names())
                    names.push_back(makeWideString(std::move(name)));
                complete = piece.last();
            }
            return reader->Finish();
        });
    if (status != 0) return status;
    // A stream that ended without its last piece was cut short.
    if (!complete) return kOvServiceUnreachable;
    if (searchStatus != nullptr) *searchStatus = piece.search_status();
    if (piece.status() == 0) out = std::move(names);
    return piece.status();
}

ListRequest Listing(ListRequest::Kind kind, const OvWString& subject)
{
    ListRequest request;
    request.set_kind(kind);
    request.set_subject(subject.utf8());
    return request;
}

ListRequest Search(ListRequest::Kind kind, const OvWString& context, const OvWString& name,
                   bool exact)
{
    ListRequest request = Listing(kind, context);
    request.set_name(name.utf8());
    request.set_exact(exact);
    return request;
}

unsigned Names(NameRequest::Kind kind, const OvWString& subject, NameReply& reply)
{
    NameRequest request;
    request.set_kind(kind);
    request.set_subject(subject.utf8());
    return Unary(&UserServices::Stub::Names, request, reply);
}

OvWString Wide(std::string* text) { return makeWideString(std::move(*text)); }

class RemoteUserService final : public OvUserServiceBase {
public:
    explicit RemoteUserService(unsigned) {}
    OvUserServiceBase* GetInterface() override { return this; }

    unsigned GetUsers(const OvWString& c, std::vector<OvWString>& out) override
    {
        return List(Listing(ListRequest::USERS, c), out);
    }
    unsigned GetGroups(const OvWString& c, std::vector<OvWString>& out) override
    {
        return List(Listing(ListRequest::GROUPS, c), out);
    }
    unsigned GetDomains(const OvWString& t, std::vector<OvWString>& out) override
    {
        return List(Listing(ListRequest::DOMAINS, t), out);
    }
    unsigned GetTrustedDomains(const OvWString& d, std::vector<OvWString>& out) override
    {
        return List(Listing(ListRequest::TRUSTED_DOMAINS, d), out);
    }
    unsigned GetUserGroups(const OvWString& u, std::vector<OvWString>& out) override
    {
        return List(Listing(ListRequest::USER_GROUPS, u), out);
    }
    unsigned GetUsersForGroup(const OvWString& g, std::vector<OvWString>& out) override
    {
        return List(Listing(ListRequest::GROUP_USERS, g), out);
    }
    unsigned GetWorkstations(const OvWString& d, std::vector<OvWString>& out) override
    {
        return List(Listing(ListRequest::WORKSTATIONS, d), out);
    }
    unsigned SearchGroupsFromName(const OvWString& c, const OvWString& n, bool& x,
                                  std::vector<OvWString>& out) override
    {
        return List(Search(ListRequest::SEARCH_GROUPS, c, n, x), out);
    }
    unsigned SearchUsersFromName(const OvWString& c, const OvWString& n, bool& x,
                                 std::vector<OvWString>& out) override
    {
        return List(Search(ListRequest::SEARCH_USERS, c, n, x), out);
    }
    unsigned SearchOrgUnitsFromName(const OvWString& c, const OvWString& n, bool& x,
                                    std::vector<OvWString>& out) override
    {
        return List(Search(ListRequest::SEARCH_ORG_UNITS, c, n, x), out);
    }
    unsigned CompleteContext(const OvWString& typed, unsigned limit, unsigned milliseconds,
                             std::vector<OvWString>& out) override
    {
        ListRequest request = Listing(ListRequest::COMPLETE, typed);
        request.set_limit(limit);
        request.set_milliseconds(milliseconds);
        return List(request, out);
    }
    unsigned GetDomainsSsl(const OvWString& server, const OvWString& user,
                           OvWIFFLEPassword& password, const OvWString& type, int& limit, bool& ssl,
                           std::vector<OvWString>& domains, int& searchStatus) override
    {
        ListRequest request = Listing(ListRequest::EXPLICIT_DOMAINS, server);
        request.set_name(user.utf8());
        request.set_password(password.GetPassword().utf8());
        request.set_type(type.utf8());
        request.set_limit(static_cast<unsigned>(std::max(limit, 0)));
        request.set_ssl(ssl);
        const unsigned status = List(request, domains, &searchStatus);
        OvWipe(*request.mutable_password());
        return status;
    }

    unsigned GetFullUserName(const OvWString& u, OvWString& fullName) override
    {
        NameReply reply;
        const unsigned status = Names(NameRequest::FULL_NAME, u, reply);
        return Answer(status, reply, [&] { fullName = Wide(reply.mutable_full_name()); });
    }
    unsigned GetQualifiedNameForUser(const OvWString& login, OvWString& fqdn) override
    {
        NameReply reply;
        const unsigned status = Names(NameRequest::QUALIFIED_NAME, login, reply);
        return Answer(status, reply, [&] { fqdn = Wide(reply.mutable_fqdn()); });
    }
    unsigned GetUserLoginAndFullName(const OvWString& u, OvWString& fullName,
                                     OvWString& login) override
    {
        NameReply reply;
        const unsigned status = Names(NameRequest::LOGIN_AND_FULL_NAME, u, reply);
        return Answer(status, reply, [&] {
            fullName = Wide(reply.mutable_full_name());
            login = Wide(reply.mutable_login());
        });
    }
    unsigned GetUserEmailAddr(const OvWString& u, OvWString& email) override
    {
        NameReply reply;
        const unsigned status = Names(NameRequest::EMAIL, u, reply);
        return Answer(status, reply, [&] { email = Wide(reply.mutable_email()); });
    }
    unsigned GetUserInfoFromName(const OvWString& login, OvWString& fqdn, OvWString& fullName,
                                 OvWString& loginName) override
    {
        return Info(NameRequest::INFO_FROM_NAME, login, fqdn, fullName, loginName);
    }
    unsigned GetUserInfoFromEmail(const OvWString& email, OvWString& fqdn, OvWString& fullName,
                                  OvWString& loginName) override
    {
        return Info(NameRequest::INFO_FROM_EMAIL, email, fqdn, fullName, loginName);
    }

    unsigned TestUserAuthentication(const OvWString& user, const OvWString& password,
                                    OvWString& fullName, bool& authenticated) override
    {
        AuthRequest request;
        request.set_user(user.utf8());
        request.set_password(password.utf8());
        AuthReply reply;
        unsigned status = Unary(&UserServices::Stub::Authenticate, request, reply);
        OvWipe(*request.mutable_password());
        if (status == 0) status = reply.status();
        if (status == 0) {
            fullName = Wide(reply.mutable_full_name());
            authenticated = reply.authenticated();
        }
        return status;
    }

    unsigned GetEntry(const OvWString& name, OvWString& dn,
                      std::vector<OvEntryAttribute>& attributes) override
    {
        EntryRequest request;
        request.set_name(name.utf8());
        EntryReply reply;
        unsigned status = Unary(&UserServices::Stub::Entry, request, reply);
        if (status == 0) status = reply.status();
        if (status != 0) return status;
        dn = Wide(reply.mutable_dn());
        for (Attribute& attribute : *reply.mutable_attributes()) {
            OvEntryAttribute entry;
            entry.name = std::move(*attribute.mutable_name());
            for (std::string& value : *attribute.mutable_values())
                entry.values.push_back(std::move(value));
            attributes.push_back(std::move(entry));
        }
        return 0;
    }

private:
    template <class Fill>
    static unsigned Answer(unsigned status, const NameReply& reply, Fill fill)
    {
        if (status == 0) status = reply.status();
        if (status == 0) fill();
        return status;
    }

    // The three names of a look-up, written whatever the status, as the
    // service does.
    static unsigned Info(NameRequest::Kind kind, const OvWString& subject, OvWString& fqdn,
                         OvWString& fullName, OvWString& loginName)
    {
        NameReply reply;
        const unsigned status = Names(kind, subject, reply);
        fqdn = Wide(reply.mutable_fqdn());
        fullName = Wide(reply.mutable_full_name());
        loginName = Wide(reply.mutable_login());
        return status != 0 ? status : reply.status();
    }
};

class RemoteTransIdService final : public OvTransIdServiceBase {
public:
    explicit RemoteTransIdService(unsigned) {}
    OvTransIdServiceBase* GetInterface() override { return this; }
    unsigned GetUser(const unsigned int& address, OvWString& user) override
    {
        AddressRequest request;
        request.set_address(address);
        TextReply reply;
        unsigned status = Unary(&UserServices::Stub::UserAt, request, reply);
        if (status == 0) status = reply.status();
        if (status == 0) user = Wide(reply.mutable_text());
        return status;
    }
};

class RemoteDirectoryService final : public OvDirectoryServiceBase {
public:
    explicit RemoteDirectoryService(unsigned) {}
    OvDirectoryServiceBase* GetInterface() override { return this; }
    unsigned GetServersForDomain(const OvWString& domain,
                                 std::vector<DomainServer>& servers) override
    {
        DomainRequest request;
        request.set_domain(domain.utf8());
        ServersReply reply;
        unsigned status = Unary(&UserServices::Stub::ServersForDomain, request, reply);
        if (status == 0) status = reply.status();
        if (status != 0) return status;
        for (Server& server : *reply.mutable_servers()) {
            DomainServer found;
            found.name = Wide(server.mutable_name());
            found.ip = OvString(server.ip());
            servers.push_back(std::move(found));
        }
        return 0;
    }
};

// The event log the program had before the daemon's was put in its place.
ProxyFactory* g_localEventLog = nullptr;

// The daemon's text of a status; the program's own event log's when the
// daemon cannot be asked (or the status is the framework's own), so that a
// report about the daemon being away still says what happened.
class RemoteEventLog final : public OvEventLogBase {
public:
    explicit RemoteEventLog(unsigned) {}
    OvEventLogBase* GetInterface() override { return this; }
    unsigned GetErrorMessage(const unsigned int& code, OvWString& message) override
    {
        if (code < kOvNoFactoryFound || code > kOvServiceRefused) {
            CodeRequest request;
            request.set_code(code);
            TextReply reply;
            if (Unary(&UserServices::Stub::ErrorMessage, request, reply) == 0 &&
                reply.status() == 0) {
                message = Wide(reply.mutable_text());
                return 0;
            }
        }
        if (g_localEventLog == nullptr) return kOvNoFactoryFound;
        void* made = g_localEventLog->Create(0);
        if (made == nullptr) return kOvFactoryFailed;
        auto* local = static_cast<OvEventLogBase*>(made);
        local->GetInterface()->GetErrorMessage(code, message);
        g_localEventLog->Release(local);
        return 0;
    }
};

// Makes a proxy only when the daemon can be reached.
template <class T, class P>
class ConnectedFactory final : public ProxyFactory {
public:
    void* Create(unsigned creationArgument) override
    {
        if (!ConnectLink()) return nullptr;
        return static_cast<T*>(new P(creationArgument));
    }
    void Release(void* proxy) override { delete static_cast<T*>(proxy); }
};

// Puts a factory of the daemon's proxies in the place of the program's own,
// which is kept: the registry does not own factories, and proxies it made
// may still be given back to it.
template <class T>
void Register(ProxyFactory* factory)
{
    static std::vector<ProxyFactory*>* const replaced = new std::vector<ProxyFactory*>;
    OvProxyFactories::Pointer registry = OvProxyFactories::Instance();
    if (ProxyFactory* own = registry->Registered(ProxyKey<T>())) replaced->push_back(own);
    registry->Register(ProxyKey<T>(), factory);
}

unsigned StartLink(const std::string& location, const OvCommParameters& parameters)
{
    return OpenLink(location, parameters);
}

}  // namespace

void UseRemoteServices(AccessSettings access)
{
    RouteNetworkMessages();
    ConfigureLink(std::move(access));
    static ProxyFactory* const local =
        OvProxyFactories::Instance()->Registered(ProxyKey<OvEventLogBase>());
    g_localEventLog = local;
    // The registry keeps factories to process exit.
    Register<OvUserServiceBase>(new ConnectedFactory<OvUserServiceBase, RemoteUserService>);
    Register<OvTransIdServiceBase>(
        new ConnectedFactory<OvTransIdServiceBase, RemoteTransIdService>);
    Register<OvDirectoryServiceBase>(
        new ConnectedFactory<OvDirectoryServiceBase, RemoteDirectoryService>);
    Register<OvEventLogBase>(new TypedProxyFactory<OvEventLogBase, RemoteEventLog>);
    OvSetCommStarter(StartLink);
}
}  // namespace ovremote

extern "C" __attribute__((visibility("default"))) void ov_use_remote_services(
    const ovremote::AccessSettings* access)
{
    ovremote::UseRemoteServices(*access);
}
