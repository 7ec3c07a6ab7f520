// The service proxies that call the daemon (RemoteAccess.h): one channel to
// it for the process, opened by the framework's Start with the communication
// parameters, and one proxy class per service interface.
#include <grpcpp/grpcpp.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "framework/OvApplication.h"
#include "framework/OvBoundedFile.h"
#include "platform/directory/Directory.h"
#include "platform/remote/LocalAddress.h"
#include "platform/remote/RemoteAccess.h"
#include "platform/remote/services.grpc.pb.h"
#include "services/OvCommException.h"
#include "services/OvCommFramework.h"
#include "services/OvDirectoryServiceBase.h"
#include "services/OvEventLogBase.h"
#include "services/OvProxyFactories.h"
#include "services/OvTransIdServiceBase.h"
#include "services/OvUserServiceBase.h"

namespace ovremote {
namespace {

using Clock = std::chrono::system_clock;

// Largest answer the client takes in one message: an entry with all its
// attributes; a listing comes in pieces far below it.
constexpr int kMaxAnswerBytes = 64 << 20;

// A warning record about the access settings.
void Warn(const std::string& location, const std::string& message)
{
    if (!OvApplication::Exists()) return;
    OvApplication::Itself().GetErrorStream(ovdir::kWarningServicesSetting, ovdir::kServicesModuleId,
                                           location.c_str(), 0, -1)
        << message << ::ends;
}

// The last message of the network library written, so that one repeated by
// every connection attempt is written once.
std::mutex g_networkLock;
std::string g_lastNetworkMessage;

void NetworkMessage(gpr_log_func_args* args)
{
    if (args->severity != GPR_LOG_SEVERITY_ERROR || !OvApplication::Exists()) return;
    const std::string message = OvPrintable(args->message != nullptr ? args->message : "");
    {
        std::lock_guard<std::mutex> guard(g_networkLock);
        if (message == g_lastNetworkMessage) return;
        g_lastNetworkMessage = message;
    }
    std::string file = args->file != nullptr ? args->file : "grpc";
    file = file.substr(file.rfind('/') + 1);
    OvApplication::Itself().GetErrorStream(ovdir::kWarningNetwork, ovdir::kServicesModuleId,
                                           file.c_str(), args->line, -1)
        << message << ::ends;
}

int Milliseconds(unsigned long long value)
{
    return static_cast<int>(std::min<unsigned long long>(value, INT_MAX));
}

// The one channel of the process to the daemon.
class Link {
public:
    static Link& Instance()
    {
        // Never destroyed: proxies given back by static destructors still
        // reach it.
        static Link* const link = new Link;
        return *link;
    }

    void Configure(AccessSettings access)
    {
        std::lock_guard<std::mutex> guard(lock_);
        access_ = std::move(access);
        channel_.reset();
        stub_.reset();
        opened_ = false;
    }

    // The framework's Start: a channel to the location with the parameters.
    // The connection is made in the background; calls wait for it.
    unsigned Open(const std::string& location, const OvCommParameters& parameters)
    {
        std::lock_guard<std::mutex> guard(lock_);
        return OpenLocked(location, parameters);
    }

    // Whether the daemon answers, trying as often and waiting as long as
    // the parameters say. Each attempt is made on a new channel: a channel
    // whose attempt failed reports that failure until it is connected, so
    // it cannot tell a further attempt's outcome.
    bool Connect()
    {
        std::shared_ptr<grpc::Channel> channel;
        OvCommParameters parameters;
        if (!Current(channel, parameters)) return false;
        if (channel->GetState(false) == GRPC_CHANNEL_READY) return true;
        const unsigned attempts = parameters.connectionRetryTimes + 1;
        for (unsigned attempt = 0; attempt < attempts; ++attempt) {
            if (attempt > 0)
                std::this_thread::sleep_for(
                    std::chrono::seconds(parameters.connectionRetrySleepTime));
            if (attempt > 0 || channel->GetState(false) == GRPC_CHANNEL_TRANSIENT_FAILURE)
                channel = Reopen();
            if (channel && ConnectOnce(*channel, parameters.connectionTimeout)) return true;
        }
        return false;
    }

    // A call's context: its deadline the method time-out from now.
    std::shared_ptr<UserServices::Stub> Prepare(grpc::ClientContext& context)
    {
        std::shared_ptr<grpc::Channel> channel;
        OvCommParameters parameters;
        if (!Current(channel, parameters)) return nullptr;
        context.set_deadline(Clock::now() +
                             std::chrono::seconds(std::max(parameters.methodTimeout, 1u)));
        std::lock_guard<std::mutex> guard(lock_);
        return stub_;
    }

private:
    // The channel, opened with what the framework holds when nobody has
    // started it yet.
    bool Current(std::shared_ptr<grpc::Channel>& channel, OvCommParameters& parameters)
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!channel_) OpenLocked(OvConfigServiceProxy::GetLocation(), CurrentCommParameters());
        channel = channel_;
        parameters = parameters_;
        return channel != nullptr;
    }

    std::shared_ptr<grpc::Channel> Reopen()
    {
        std::lock_guard<std::mutex> guard(lock_);
        OpenLocked(location_, parameters_);
        return channel_;
    }

    unsigned OpenLocked(const std::string& location, const OvCommParameters& parameters)
    {
        opened_ = true;
        location_ = location;
        parameters_ = parameters;
        const std::string target = access_.location.empty() ? location : access_.location;
        if (!parameters.secureSocketLayer && !IsLoopbackAddress(target)) {
            // Typed passwords would cross the network in the clear.
            if (!refusedPlain_)
                Warn(access_.location.empty() ? "PolicyServer" : "ServiceAccess",
                     "the services at " + OvPrintable(target) +
                         " are not on this machine's loopback: they are reached only with "
                         "SecureSocketLayer=true");
            refusedPlain_ = true;
            channel_.reset();
            stub_.reset();
            return kOvServiceRefused;
        }
        std::shared_ptr<grpc::ChannelCredentials> credentials;
        if (!Credentials(parameters.secureSocketLayer, credentials)) {
            channel_.reset();
            stub_.reset();
            return kOvServiceRefused;
        }
        grpc::ChannelArguments arguments;
        // The status check: a ping every StatusCheckFrequency, answered
        // within StatusCheckTimeout, or the connection counts as lost.
        arguments.SetInt(GRPC_ARG_KEEPALIVE_TIME_MS,
                         std::max(Milliseconds(parameters.statusCheckFrequency), 1000));
        arguments.SetInt(GRPC_ARG_KEEPALIVE_TIMEOUT_MS,
                         std::max(Milliseconds(parameters.statusCheckTimeout), 100));
        arguments.SetInt(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
        arguments.SetInt(GRPC_ARG_HTTP2_MAX_PINGS_WITHOUT_DATA, 0);
        // A connection unused for ServiceExpirationTime seconds is closed;
        // the next call opens a new one.
        arguments.SetInt(GRPC_ARG_CLIENT_IDLE_TIMEOUT_MS,
                         Milliseconds(1000ull * std::max(parameters.serviceExpirationTime, 1u)));
        // Between attempts to connect: the retry sleep time, in seconds.
        const int pause = Milliseconds(1000ull * parameters.connectionRetrySleepTime);
        arguments.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, std::max(pause, 100));
        arguments.SetInt(GRPC_ARG_MIN_RECONNECT_BACKOFF_MS, std::max(pause, 100));
        arguments.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, std::max(pause, 100));
        arguments.SetInt(GRPC_ARG_ENABLE_RETRIES, 0);
        arguments.SetMaxReceiveMessageSize(kMaxAnswerBytes);
        if (parameters.localAddress != 0)
            arguments.SetSocketMutator(NewLocalAddressMutator(parameters.localAddress));
        channel_ = grpc::CreateCustomChannel(target, credentials, arguments);
        stub_ = std::shared_ptr<UserServices::Stub>(UserServices::NewStub(channel_));
        // Begins connecting now, so that the first command finds it done.
        channel_->GetState(true);
        return 0;
    }

    bool Credentials(bool secure, std::shared_ptr<grpc::ChannelCredentials>& credentials)
    {
        if (!secure) {
            credentials = grpc::InsecureChannelCredentials();
            return true;
        }
        grpc::SslCredentialsOptions options;
        if (!ReadPem(access_.caFile, options.pem_root_certs) ||
            !ReadPem(access_.certificateFile, options.pem_cert_chain) ||
            !ReadPem(access_.keyFile, options.pem_private_key))
            return false;
        credentials = grpc::SslCredentials(options);
        OvWipe(options.pem_private_key);
        return true;
    }

    static bool ReadPem(const std::string& file, std::string& pem)
    {
        if (file.empty()) return true;
        const int error = OvReadBoundedFile(file, kOvCertificateFileLimit, pem);
        if (error == 0) return true;
        Warn(file, "cannot read " + OvPrintable(file) + ": " +
                       OvFileErrorText(error, kOvCertificateFileLimit));
        return false;
    }

    // One attempt: true once the channel is ready; false when the attempt
    // failed or the connection time-out passed.
    static bool ConnectOnce(grpc::Channel& channel, unsigned timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 1u));
        grpc_connectivity_state state = channel.GetState(true);
        bool tried = false;
        while (state != GRPC_CHANNEL_READY) {
            if (state == GRPC_CHANNEL_SHUTDOWN) return false;
            if (state == GRPC_CHANNEL_TRANSIENT_FAILURE && tried) return false;
            if (state == GRPC_CHANNEL_CONNECTING) tried = true;
            if (!channel.WaitForStateChange(state, deadline)) return false;
            state = channel.GetState(true);
        }
        return true;
    }

    std::mutex lock_;
    AccessSettings access_;
    std::string location_;
    OvCommParameters parameters_;
    std::shared_ptr<grpc::Channel> channel_;
    std::shared_ptr<UserServices::Stub> stub_;
    bool refusedPlain_ = false;
    bool opened_ = false;
};

unsigned Translate(const grpc::Status& status)
{
    switch (status.error_code()) {
        case grpc::StatusCode::OK:
            return 0;
        case grpc::StatusCode::UNAVAILABLE:
        case grpc::StatusCode::CANCELLED:
            return kOvServiceUnreachable;
        case grpc::StatusCode::DEADLINE_EXCEEDED:
            return kOvServiceTimeout;
        case grpc::StatusCode::RESOURCE_EXHAUSTED:
            return kOvServiceBusy;
        default:
            return kOvServiceRefused;
    }
}

// One call to the daemon: made once more when the connection turned out to
// be gone before anything was answered (the daemon restarted since the last
// call). call returns the call's status and sets answered once the daemon
// has sent something.
unsigned Invoke(const std::function<grpc::Status(UserServices::Stub&, grpc::ClientContext&,
                                                 bool& answered)>& call)
{
    Link& link = Link::Instance();
    for (int attempt = 0;; ++attempt) {
        if (!link.Connect()) return kOvServiceUnreachable;
        grpc::ClientContext context;
        std::shared_ptr<UserServices::Stub> stub = link.Prepare(context);
        if (!stub) return kOvServiceUnreachable;
        bool answered = false;
        const grpc::Status status = call(*stub, context, answered);
        if (status.error_code() == grpc::StatusCode::UNAVAILABLE && !answered && attempt == 0)
            continue;
        return Translate(status);
    }
}

template <class Request, class Reply>
using UnaryCall = grpc::Status (UserServices::Stub::*)(grpc::ClientContext*, const Request&,
                                                       Reply*);

template <class Request, class Reply>
unsigned Unary(UnaryCall<Request, Reply> method, const Request& request, Reply& reply)
{
    return Invoke([&](UserServices::Stub& stub, grpc::ClientContext& context, bool&) {
        return (stub.*method)(&context, request, &reply);
    });
}

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
        if (!Link::Instance().Connect()) return nullptr;
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
    return Link::Instance().Open(location, parameters);
}

}  // namespace

bool ReadAccessSettings(const OvServiceSettings& settings, AccessSettings& access)
{
    std::string services;
    if (!settings.FindSetting("ServiceAccess", "Services", services)) return false;
    if (OvEqualsIgnoringAsciiCase(services, "local")) return false;
    if (!OvEqualsIgnoringAsciiCase(services, "remote")) {
        Warn(settings.Source(), "Services=" + OvPrintable(services.substr(0, 40)) +
                                    " is neither local nor remote; the services answer in the "
                                    "program");
        return false;
    }
    settings.FindSetting("ServiceAccess", "Location", access.location);
    settings.FindSetting("ServiceAccess", "CAFile", access.caFile);
    settings.FindSetting("ServiceAccess", "CertificateFile", access.certificateFile);
    settings.FindSetting("ServiceAccess", "KeyFile", access.keyFile);
    return true;
}

bool IsLoopbackAddress(const std::string& address)
{
    std::string host = address;
    if (!host.empty() && host.front() == '[') {
        host = host.substr(1, host.find(']') - 1);
    } else if (std::count(host.begin(), host.end(), ':') == 1) {
        host = host.substr(0, host.find(':'));
    }
    return host == "::1" || OvEqualsIgnoringAsciiCase(host, "localhost") ||
           host.rfind("127.", 0) == 0;
}

void RouteNetworkMessages() { gpr_set_log_function(NetworkMessage); }

void UseRemoteServices(AccessSettings access)
{
    RouteNetworkMessages();
    Link::Instance().Configure(std::move(access));
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
