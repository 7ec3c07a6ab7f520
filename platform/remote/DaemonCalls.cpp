// The calls the service daemon answers (DaemonCalls.h).
#include "platform/remote/DaemonCalls.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "framework/OvString.h"
#include "platform/directory/Directory.h"
#include "platform/ldapclient/LdapServers.h"
#include "platform/remote/AuthThrottle.h"
#include "platform/remote/services.grpc.pb.h"
#include "services/OvCommException.h"
#include "services/OvDirectoryServiceBase.h"
#include "services/OvEventLogBase.h"
#include "services/OvTransIdServiceBase.h"
#include "services/OvUserServiceBase.h"
#include "services/ProxyHandle.h"

namespace ovremote {
namespace {

using ovdir::ldap::ServerAddress;

// A listing is sent in pieces of at most so many names or bytes.
constexpr std::size_t kPieceNames = 1024;
constexpr std::size_t kPieceBytes = 64 << 10;
// The listings being sent hold at most so much memory together; a listing
// that would pass it while others are sent is answered "busy". (A listing
// is gathered whole first: the services sort it, and take one call at a
// time.)
constexpr std::size_t kAnswerBudget = std::size_t{256} << 20;
// The address of a client without its port: "ipv4:127.0.0.1:40000" gives
// "ipv4:127.0.0.1".
std::string ClientOf(const std::string& peer)
{
    const std::size_t colon = peer.rfind(':');
    return colon == std::string::npos ? peer : peer.substr(0, colon);
}

// The calls running now whose client may stop taking answers: a watchdog
// ends those that have not moved on for the stall limit.
class StallWatch {
public:
    explicit StallWatch(std::chrono::seconds limit) : limit_(limit), thread_([this] { Watch(); }) {}
    ~StallWatch()
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    void Moved(grpc::ServerContext* call)
    {
        std::lock_guard<std::mutex> guard(lock_);
        calls_[call] = Clock::now();
    }
    void Done(grpc::ServerContext* call)
    {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.erase(call);
    }

private:
    using Clock = std::chrono::steady_clock;

    void Watch()
    {
        std::unique_lock<std::mutex> guard(lock_);
        while (!stopping_) {
            wake_.wait_for(guard, std::chrono::seconds(1));
            const Clock::time_point now = Clock::now();
            for (auto& [call, moved] : calls_) {
                if (now - moved < limit_) continue;
                call->TryCancel();
                moved = now;  // cancelled once; the call ends on its own
            }
        }
    }

    std::chrono::seconds limit_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::map<grpc::ServerContext*, Clock::time_point> calls_;
    bool stopping_ = false;
    std::thread thread_;
};

// The memory of the listings being sent.
class AnswerBudget {
public:
    bool Take(std::size_t bytes)
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (used_ > 0 && used_ + bytes > kAnswerBudget) return false;
        used_ += bytes;
        return true;
    }
    void Give(std::size_t bytes)
    {
        std::lock_guard<std::mutex> guard(lock_);
        used_ -= bytes;
    }

private:
    std::mutex lock_;
    std::size_t used_ = 0;
};

class Handler final : public UserServices::Service {
public:
    explicit Handler(const DaemonSettings& settings) : watch_(settings.stallLimit)
    {
        std::string bad;
        ovdir::ldap::ParseServerList(settings.directoryServers, "ldap", ownServers_, bad);
        fromFile_ = ownServers_.empty();
        ovdir::ldap::ParseServerList(settings.allowedServers, "ldap", allowed_, bad);
    }

    grpc::Status List(grpc::ServerContext* context, const ListRequest* request,
                      grpc::ServerWriter<NamePiece>* writer) override
    {
        std::vector<OvWString> names;
        int searchStatus = 0;
        const unsigned status = Listing(*request, names, searchStatus);
        ListRequest& typed = const_cast<ListRequest&>(*request);
        OvWipe(*typed.mutable_password());
        std::size_t held = 0;
        for (const OvWString& name : names) held += name.utf8().size() + sizeof name;
        if (!budget_.Take(held)) {
            DaemonNotice("a listing of " + std::to_string(names.size()) +
                   " names answered busy: the listings being sent hold the memory they may");
            NamePiece busy;
            busy.set_last(true);
            busy.set_status(kOvServiceBusy);
            writer->Write(busy);
            return grpc::Status::OK;
        }

        watch_.Moved(context);
        NamePiece piece;
        std::size_t bytes = 0;
        bool sent = true;
        for (OvWString& name : names) {
            bytes += name.utf8().size();
            piece.add_names(std::move(name.utf8()));
            if (piece.names_size() < static_cast<int>(kPieceNames) && bytes < kPieceBytes) continue;
            sent = writer->Write(piece);
            watch_.Moved(context);
            piece.Clear();
            bytes = 0;
            if (!sent) break;
        }
        if (sent) {
            piece.set_last(true);
            piece.set_status(status);
            piece.set_search_status(searchStatus);
            writer->Write(piece);
        }
        watch_.Done(context);
        budget_.Give(held);
        return grpc::Status::OK;
    }

    grpc::Status Names(grpc::ServerContext*, const NameRequest* request, NameReply* reply) override
    {
        const OvWString subject = makeWideString(request->subject());
        OvWString fqdn, fullName, login, email;
        unsigned status = 0;
        {
            std::lock_guard<std::mutex> guard(services_);
            ProxyHandle<OvUserServiceBase> service(0);
            switch (request->kind()) {
                case NameRequest::FULL_NAME:
                    status = service.GetInterface()->GetFullUserName(subject, fullName);
                    break;
                case NameRequest::QUALIFIED_NAME:
                    status = service.GetInterface()->GetQualifiedNameForUser(subject, fqdn);
                    break;
                case NameRequest::LOGIN_AND_FULL_NAME:
                    status =
                        service.GetInterface()->GetUserLoginAndFullName(subject, fullName, login);
                    break;
                case NameRequest::INFO_FROM_NAME:
                    status =
                        service.GetInterface()->GetUserInfoFromName(subject, fqdn, fullName, login);
                    break;
                case NameRequest::INFO_FROM_EMAIL:
                    status = service.GetInterface()->GetUserInfoFromEmail(subject, fqdn, fullName,
                                                                          login);
                    break;
                case NameRequest::EMAIL:
                    status = service.GetInterface()->GetUserEmailAddr(subject, email);
                    break;
                default:
                    return grpc::Status(grpc::StatusCode::INVALID_ARGUMENT, "unknown look-up");
            }
        }
        reply->set_status(status);
        reply->set_fqdn(std::move(fqdn.utf8()));
        reply->set_full_name(std::move(fullName.utf8()));
        reply->set_login(std::move(login.utf8()));
        reply->set_email(std::move(email.utf8()));
        return grpc::Status::OK;
    }

    grpc::Status Authenticate(grpc::ServerContext* context, const AuthRequest* request,
                              AuthReply* reply) override
    {
        AuthRequest& typed = const_cast<AuthRequest&>(*request);
        const std::string client = ClientOf(context->peer());
        std::string login = request->user().substr(0, 1024);
        for (char& c : login)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        const auto wait = throttle_.Wait(client, login, AuthThrottle::Clock::now());
        if (wait.count() > 0) {
            OvWipe(*typed.mutable_password());
            DaemonNotice("authentication of " + ovdir::RecordText(request->user().substr(0, 256)) +
                   " from " + ovdir::RecordText(client) + " refused for " +
                   std::to_string(wait.count()) + " s after repeated failures");
            reply->set_status(ovdir::kStatusTooManyAttempts);
            return grpc::Status::OK;
        }
        OvWString password = makeWideString(std::move(*typed.mutable_password()));
        OvWipe(*typed.mutable_password());
        OvWString fullName;
        bool authenticated = false;
        unsigned status;
        {
            std::lock_guard<std::mutex> guard(services_);
            ProxyHandle<OvUserServiceBase> service(0);
            status = service.GetInterface()->TestUserAuthentication(
                makeWideString(request->user()), password, fullName, authenticated);
        }
        OvWipe(password);
        if (status == 0) throttle_.Record(client, login, authenticated, AuthThrottle::Clock::now());
        reply->set_status(status);
        reply->set_full_name(std::move(fullName.utf8()));
        reply->set_authenticated(authenticated);
        return grpc::Status::OK;
    }

    grpc::Status Entry(grpc::ServerContext*, const EntryRequest* request,
                       EntryReply* reply) override
    {
        OvWString dn;
        std::vector<OvEntryAttribute> attributes;
        unsigned status;
        {
            std::lock_guard<std::mutex> guard(services_);
            ProxyHandle<OvUserServiceBase> service(0);
            status =
                service.GetInterface()->GetEntry(makeWideString(request->name()), dn, attributes);
        }
        reply->set_status(status);
        reply->set_dn(std::move(dn.utf8()));
        for (OvEntryAttribute& attribute : attributes) {
            Attribute* out = reply->add_attributes();
            out->set_name(std::move(attribute.name));
            for (std::string& value : attribute.values) out->add_values(std::move(value));
        }
        return grpc::Status::OK;
    }

    grpc::Status UserAt(grpc::ServerContext*, const AddressRequest* request,
                        TextReply* reply) override
    {
        OvWString user;
        unsigned status;
        {
            std::lock_guard<std::mutex> guard(services_);
            ProxyHandle<OvTransIdServiceBase> service(0);
            const unsigned address = request->address();
            status = service.GetInterface()->GetUser(address, user);
        }
        reply->set_status(status);
        reply->set_text(std::move(user.utf8()));
        return grpc::Status::OK;
    }

    grpc::Status ServersForDomain(grpc::ServerContext*, const DomainRequest* request,
                                  ServersReply* reply) override
    {
        std::vector<DomainServer> servers;
        unsigned status;
        {
            std::lock_guard<std::mutex> guard(services_);
            ProxyHandle<OvDirectoryServiceBase> service(0);
            status = service.GetInterface()->GetServersForDomain(makeWideString(request->domain()),
                                                                 servers);
        }
        reply->set_status(status);
        for (DomainServer& server : servers) {
            Server* out = reply->add_servers();
            out->set_name(std::move(server.name.utf8()));
            out->set_ip(server.ip.str());
        }
        return grpc::Status::OK;
    }

    grpc::Status ErrorMessage(grpc::ServerContext*, const CodeRequest* request,
                              TextReply* reply) override
    {
        OvWString message;
        {
            std::lock_guard<std::mutex> guard(services_);
            ProxyHandle<OvEventLogBase> service(0);
            const unsigned code = request->code();
            service.GetInterface()->GetErrorMessage(code, message);
        }
        reply->set_text(std::move(message.utf8()));
        return grpc::Status::OK;
    }

private:
    unsigned Listing(const ListRequest& request, std::vector<OvWString>& names, int& searchStatus)
    {
        const OvWString subject = makeWideString(request.subject());
        const OvWString name = makeWideString(request.name());
        bool exact = request.exact();
        if (request.kind() == ListRequest::EXPLICIT_DOMAINS) {
            if (!Allowed(request)) {
                searchStatus = 2;  // as a connection that failed
                return ovdir::kStatusServerNotAllowed;
            }
        }
        std::lock_guard<std::mutex> guard(services_);
        ProxyHandle<OvUserServiceBase> handle(0);
        OvUserServiceBase* service = handle.GetInterface();
        switch (request.kind()) {
            case ListRequest::USERS:
                return service->GetUsers(subject, names);
            case ListRequest::GROUPS:
                return service->GetGroups(subject, names);
            case ListRequest::DOMAINS:
                return service->GetDomains(subject, names);
            case ListRequest::TRUSTED_DOMAINS:
                return service->GetTrustedDomains(subject, names);
            case ListRequest::USER_GROUPS:
                return service->GetUserGroups(subject, names);
            case ListRequest::GROUP_USERS:
                return service->GetUsersForGroup(subject, names);
            case ListRequest::WORKSTATIONS:
                return service->GetWorkstations(subject, names);
            case ListRequest::SEARCH_USERS:
                return service->SearchUsersFromName(subject, name, exact, names);
            case ListRequest::SEARCH_GROUPS:
                return service->SearchGroupsFromName(subject, name, exact, names);
            case ListRequest::SEARCH_ORG_UNITS:
                return service->SearchOrgUnitsFromName(subject, name, exact, names);
            case ListRequest::COMPLETE:
                return service->CompleteContext(subject, request.limit(),
                                                std::min(request.milliseconds(), 10000u), names);
            case ListRequest::EXPLICIT_DOMAINS: {
                OvWIFFLEPassword password(makeWideString(request.password()), false);
                int limit = static_cast<int>(std::min(request.limit(), 1000000u));
                bool ssl = request.ssl();
                return service->GetDomainsSsl(subject, name, password,
                                              makeWideString(request.type()), limit, ssl, names,
                                              searchStatus);
            }
            default:
                return ovdir::kStatusMalformedName;
        }
    }

    // An explicit listing connects to the server its context names: only to
    // the directory's own servers and the allowed ones. A directory read
    // from a file answers it from the file, connecting nowhere.
    bool Allowed(const ListRequest& request) const
    {
        if (fromFile_) return true;
        const std::string& context = request.subject();
        const std::size_t scheme = context.find("://");
        if (scheme == std::string::npos) return true;  // malformed: the service says so
        const std::size_t start = scheme + 3;
        const std::size_t end = context.find(' ', start);
        ServerAddress address;
        if (!ovdir::ldap::ParseServer(request.ssl() ? "ldaps" : "ldap",
                                      context.substr(start, end - start), address))
            return true;  // not a server at all: the service says so
        for (const std::vector<ServerAddress>* list : {&ownServers_, &allowed_})
            for (const ServerAddress& server : *list)
                if (server.host == address.host) return true;
        DaemonNotice("explicit domain listing at " + ovdir::RecordText(address.server) +
               " refused: not one of the directory's servers nor allowed");
        return false;
    }

    StallWatch watch_;
    AnswerBudget budget_;
    AuthThrottle throttle_;
    std::vector<ServerAddress> ownServers_;
    std::vector<ServerAddress> allowed_;
    bool fromFile_ = true;
    // The services were made for one caller: one call inside them at a time.
    std::mutex services_;
};
}  // namespace

void DaemonNotice(const std::string& message)
{
    ovdir::ReportServiceFault(ovdir::kNoticeDaemon, "userserviced", 0, message);
}

std::unique_ptr<grpc::Service> NewDaemonCalls(const DaemonSettings& settings)
{
    return std::make_unique<Handler>(settings);
}

}  // namespace ovremote
