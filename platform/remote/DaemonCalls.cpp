// The calls the service daemon answers (DaemonCalls.h).
#include "platform/remote/DaemonCalls.h"

#include <malloc.h>

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
#include "platform/directory/Names.h"
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
    // Ends the calls that have not moved on for idle.
    void EndIdle(std::chrono::seconds idle)
    {
        std::lock_guard<std::mutex> guard(lock_);
        EndStalled(idle, Clock::now());
    }

private:
    using Clock = std::chrono::steady_clock;

    void Watch()
    {
        std::unique_lock<std::mutex> guard(lock_);
        while (!stopping_) {
            wake_.wait_for(guard, std::chrono::seconds(1));
            EndStalled(limit_, Clock::now());
        }
    }

    void EndStalled(Clock::duration idle, Clock::time_point now)
    {
        for (auto& [call, moved] : calls_) {
            if (now - moved < idle) continue;
            call->TryCancel();
            moved = now;  // cancelled once; the call ends on its own
        }
    }

    std::chrono::seconds limit_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::map<grpc::ServerContext*, Clock::time_point> calls_;
    bool stopping_ = false;
    std::thread thread_;
};

// The memory of the listings being sent. A listing that does not fit ends
// the listings whose client has taken nothing for a second, and waits for
// the memory they give back: a client that never reads costs the others
// nothing but that wait.
class AnswerBudget {
public:
    // False (busy) when the listing still does not fit after the wait.
    bool Take(std::size_t bytes, StallWatch& watch)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        std::unique_lock<std::mutex> guard(lock_);
        while (used_ > 0 && used_ + bytes > kAnswerBudget) {
            guard.unlock();
            watch.EndIdle(std::chrono::seconds(1));
            guard.lock();
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) return false;
            given_.wait_until(guard, std::min(now + std::chrono::seconds(1), deadline));
        }
        used_ += bytes;
        return true;
    }
    void Give(std::size_t bytes)
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            used_ -= bytes;
        }
        given_.notify_all();
    }

private:
    std::mutex lock_;
    std::condition_variable given_;
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
        unsigned status;
        std::size_t held = 0;
        bool room;
        {
            // The listing gets its room before the services take the next
            // call: one gathered listing at most is outside the budget.
            std::lock_guard<std::mutex> guard(services_);
            status = Listing(*request, names, searchStatus);
            // Each name: its object, its text and what the allocator keeps
            // beside it.
            for (const OvWString& name : names) held += name.utf8().size() + sizeof name + 32;
            room = budget_.Take(held, watch_);
        }
        ListRequest& typed = const_cast<ListRequest&>(*request);
        OvWipe(*typed.mutable_password());
        if (!room) {
            DaemonNotice("a listing of " + std::to_string(names.size()) +
                         " names answered busy: the listings being sent hold the memory they may");
            names.clear();
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
            // Complete only once in the socket: a client that does not
            // read holds its listing here, counted by the budget, never in
            // the transport's buffers.
            sent = writer->Write(piece, grpc::WriteOptions().set_write_through());
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
        // The names were many small blocks: what is free again goes back to
        // the system rather than staying with the daemon.
        if (held > kPieceBytes * 16) malloc_trim(0);
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
        // The login as the service finds it, whatever domain was typed
        // before it.
        std::string login = request->user().substr(0, 1024);
        login = login.substr(login.rfind('\\') + 1);
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
        // The context read as the service reads it: one that does not parse
        // reaches no server, the service says it is malformed.
        ovdir::Context context;
        if (ovdir::ParseContext(request.subject(), context, false) != 0) return true;
        ServerAddress address;
        if (!ovdir::ldap::ParseServer(request.ssl() ? "ldaps" : "ldap", context.server, address))
            address.server = context.server;  // never one of the allowed
        else
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
