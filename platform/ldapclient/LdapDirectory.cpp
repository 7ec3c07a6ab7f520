// The ldap backend: the directory contract answered by real directory
// servers, one kept connection per server, and fail-over from a server that
// went away to the next of the configured directory.
#include "framework/OvApplication.h"
#include "framework/OvString.h"
#include "framework/OvSystem.h"
#include "platform/directory/Directory.h"
#include "platform/ldapclient/LdapConnection.h"
#include "platform/ldapclient/LdapSchema.h"
#include "platform/ldapclient/LdapSearch.h"
#include "platform/ldapclient/LdapServers.h"
#include "platform/ldapclient/LdapText.h"
#include "services/OvCommFramework.h"
#include "services/OvUserServiceBase.h"

#include <ldap.h>

#include <algorithm>
#include <map>
#include <memory>
#include <utility>

namespace ovdir {
namespace ldap {
namespace {

// One server a request goes to, how, and as whom.
struct Target {
    std::string server;  // host[:port] for the URL and the connection's key
    Transport transport;
    bool serviceAccount = false;  // false: anonymous
};

// The answer of a search that a server outside the configured directory
// gives an anonymous client it will not serve.
bool RefusesAnonymous(int code)
{
    switch (code) {
        case LDAP_OPERATIONS_ERROR:  // Active Directory: "a successful bind must be completed"
        case LDAP_STRONG_AUTH_REQUIRED:
        case LDAP_CONFIDENTIALITY_REQUIRED:
        case LDAP_INAPPROPRIATE_AUTH:
        case LDAP_INSUFFICIENT_ACCESS:
        case LDAP_UNWILLING_TO_PERFORM:
            return true;
        default:
            return false;
    }
}

// Whether the server of a failed request was not there to answer, so the
// next server of the directory is asked.
bool ServerGone(unsigned status)
{
    return status == kStatusUnreachable || status == kStatusTimeout;
}
class LdapDirectory final : public Directory {
public:
    explicit LdapDirectory(DirectorySettings settings) : settings_(std::move(settings))
    {
        std::string bad;
        valid_ = ParseServerList(settings_.directory, "", servers_, bad) && !servers_.empty() &&
                 ParseServerList(settings_.replicas, servers_.front().scheme, replicas_, bad);
        if (valid_) {
            transport_.scheme = servers_.front().scheme;
            server_ = servers_.front().server;
        } else {
            // Every request then answers that the directory cannot be reached.
            ReportServiceFault(kStatusMalformedName, settings_.source, 0,
                               "[UserService] Directory or Replicas: not a server: " +
                                   (bad.empty() ? settings_.directory : bad));
        }
        transport_.startTls = settings_.startTls && transport_.scheme == "ldap";
        transport_.caCertFile = settings_.caCertFile;
        transport_.timeouts = settings_.timeouts;
    }

    ~LdapDirectory() override
    {
        connections_.clear();
        settings_.bindPassword.clear();
    }

    unsigned Search(const SearchRequest& request, std::vector<Entry>& out) override
    {
        return GatherEach(request, out);
    }

    unsigned SearchEach(const SearchRequest& request, EntryVisitor& visitor) override
    {
        if (!valid_) return kStatusUnreachable;
        if (!request.server.empty() && !ValidServer(request.server)) return kStatusMalformedName;
        Query query;
        if (!NormaliseDn(request.base, query.base)) return kStatusMalformedName;
        if (!RenderFilterFor(request.filter, KnownSchema(), query.filter))
            return kStatusMalformedName;
        // The root DSE is no entry of the directory.
        if (query.base.empty()) return kStatusNoSuchEntry;
        if (HasNegation(request.filter)) query.tree = &request.filter;
        query.scope = request.scope == Scope::Base       ? LDAP_SCOPE_BASE
                      : request.scope == Scope::OneLevel ? LDAP_SCOPE_ONELEVEL
                                                         : LDAP_SCOPE_SUBTREE;
        query.attributes = request.attributes;
        query.sizeLimit = static_cast<int>(std::min<std::size_t>(request.sizeLimit, 1000000));
        query.matchedDn = request.matchedDn;
        query.tentative = request.tentative;
        query.timeouts = settings_.timeouts;
        if (request.timeLimitMs != 0) StartClock(query, request.timeLimitMs);
        return Run(request.server, query, visitor);
    }

    unsigned NamingContexts(std::vector<std::string>& out) override
    {
        return QuickNamingContexts(out, 0);
    }

    unsigned QuickNamingContexts(std::vector<std::string>& out, unsigned timeLimitMs) override
    {
        out.clear();
        if (!valid_) return kStatusUnreachable;
        std::vector<Entry> found;
        Query query = NamingContextsQuery();
        query.timeouts = settings_.timeouts;
        if (timeLimitMs != 0) StartClock(query, timeLimitMs);
        Collector collector(found);
        const unsigned status = Run(std::string(), query, collector);
        if (status != 0) return status;
        for (const Entry& entry : found) {
            if (const auto* values = entry.Find("namingcontexts")) {
                out.insert(out.end(), values->begin(), values->end());
            }
        }
        return 0;
    }

    unsigned CheckPassword(const std::string& dn, const std::string& password,
                           bool& accepted) override
    {
        accepted = false;
        if (!valid_) return kStatusUnreachable;
        std::string bindDn;
        if (password.empty() || dn.empty() || !NormaliseDn(dn, bindDn)) return 0;
        const std::vector<Target> targets = Targets(std::string());
        unsigned status = kStatusUnreachable;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const Target& target = targets[i];
            Connection connection;
            int bindResult = LDAP_SUCCESS;
            status =
                Open(target.server, target.transport, bindDn, password, connection, bindResult);
            if (status == 0) {
                accepted = true;
                Answered(target);
                return 0;
            }
            // A wrong password is the answer; any other refusal is a failure
            // with its own status, never "not authenticated".
            if (bindResult == LDAP_INVALID_CREDENTIALS) {
                Answered(target);
                return 0;
            }
            if (status == kStatusBindFailed) status = kStatusRefused;
            if (!ServerGone(status) || i + 1 == targets.size()) {
                ReportFailure(status, target.transport.scheme + "://" + target.server, connection);
                return status;
            }
        }
        return status;
    }

    std::string DefaultServer() const override { return server_; }

    // The schema of the server that answers requests naming server, read
    // once per connection; the standard chains when it shows none.
    std::shared_ptr<const ClassChains> Classes(const std::string& server) override
    {
        if (valid_ && (server.empty() || ValidServer(server))) {
            const std::vector<Target> targets = Targets(server);
            const auto it = targets.empty()
                                ? connections_.end()
                                : connections_.find(OvAsciiLower(targets.front().server));
            if (it != connections_.end()) {
                Connection& connection = *it->second;
                if (!connection.schemaRead) {
                    connection.schemaRead = true;
                    Query untimed;
                    untimed.timeouts = settings_.timeouts;
                    ReadSchema(connection, untimed);
                }
                if (connection.schema.known) return connection.schema.chains;
            }
        }
        return ClassChains::Standard();
    }

private:
    // The servers to ask for a request that names server (empty: none), in
    // order. The servers of Directory= come from the one in use onwards, and
    // only they and the replicas receive the service account.
    std::vector<Target> Targets(const std::string& server) const
    {
        std::vector<Target> targets;
        ServerAddress named;
        const bool ofDirectory =
            server.empty() ||
            std::any_of(servers_.begin(), servers_.end(), [&](const ServerAddress& known) {
                return ParseServer(known.scheme, server, named) && named.Same(known);
            });
        if (ofDirectory) {
            for (std::size_t i = 0; i < servers_.size(); ++i) {
                targets.push_back(TargetFor(servers_[(current_ + i) % servers_.size()], true));
            }
            return targets;
        }
        for (const ServerAddress& replica : replicas_) {
            if (ParseServer(replica.scheme, server, named) && named.Same(replica)) {
                targets.push_back(TargetFor(replica, true));
                return targets;
            }
        }
        Target stranger;
        stranger.server = server;
        stranger.transport = transport_;
        targets.push_back(std::move(stranger));
        return targets;
    }

    Target TargetFor(const ServerAddress& address, bool serviceAccount) const
    {
        Target target;
        target.server = address.server;
        target.transport.scheme = address.scheme;
        target.transport.startTls = settings_.startTls && address.scheme == "ldap";
        target.transport.caCertFile = settings_.caCertFile;
        target.transport.timeouts = settings_.timeouts;
        target.serviceAccount = serviceAccount;
        return target;
    }

    // A server of Directory= answered: the next requests start there.
    void Answered(const Target& target)
    {
        for (std::size_t i = 0; i < servers_.size(); ++i) {
            if (servers_[i].server == target.server &&
                servers_[i].scheme == target.transport.scheme) {
                current_ = i;
                server_ = servers_[i].server;
            }
        }
    }

    // Runs the query on the first server of the request's targets that
    // answers; a server that cannot be reached gives way to the next.
    unsigned Run(const std::string& server, const Query& query, EntryVisitor& visitor)
    {
        const std::vector<Target> targets = Targets(server);
        unsigned status = kStatusUnreachable;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            Connection failed;
            // The next server answers from the start.
            if (i > 0) visitor.Restart();
            status = RunOn(targets[i], query, visitor, failed);
            if (status == 0) {
                Answered(targets[i]);
                return 0;
            }
            if (!ServerGone(status) || i + 1 == targets.size()) {
                if (query.timeLimitMs == 0 && !(query.tentative && status == kStatusMalformedName))
                    ReportFailure(status, targets[i].transport.scheme + "://" + targets[i].server,
                                  failed);
                return status;
            }
        }
        return status;
    }

    // Runs the query on the target's kept connection, opening it first when
    // needed; a connection found broken is re-opened once. failed receives
    // what the server said to a request that failed.
    unsigned RunOn(const Target& target, const Query& query, EntryVisitor& visitor,
                   Connection& failed)
    {
        const std::string key = OvAsciiLower(target.server);
        for (int attempt = 0; attempt < 2; ++attempt) {
            auto it = connections_.find(key);
            const bool fresh = it == connections_.end();
            if (fresh) {
                std::unique_ptr<Connection> connection;
                if (const unsigned status = Connect(target, query, connection, failed))
                    return status;
                it = connections_.emplace(key, std::move(connection)).first;
            }
            // A connection re-opened asks again from the start.
            if (attempt > 0) visitor.Restart();
            bool rangesBroken = false;
            const Outcome outcome = SearchOn(*it->second, query, visitor, rangesBroken);
            if (!outcome) return 0;
            if (outcome.Is(Outcome::Kind::StoppedAtLimit)) {
                connections_.erase(it);
                return 0;
            }
            if (outcome.Is(kStatusTooManyEntries)) {
                // The server may still be sending the rest: the connection
                // goes, and the memory of what was read goes back to the
                // system rather than staying in the allocator's free lists.
                visitor.Restart();
                connections_.erase(it);
                OvSystem().trimMemory();
                ReportServiceFault(
                    kStatusTooManyEntries, target.transport.scheme + "://" + target.server, 0,
                    "the answer has more than " + std::to_string(settings_.maxEntries) +
                        " entries (MaxEntries)");
                return kStatusTooManyEntries;
            }
            NoteSearchFailure(*it->second, outcome, rangesBroken, failed);
            if (outcome.Is(Outcome::Kind::Undecodable) || outcome.Is(Outcome::Kind::Lost) ||
                outcome.Is(kStatusTimeout)) {
                // A connection with a request still open, or whose stream
                // did not decode, cannot be trusted with the next one.
                connections_.erase(it);
                if (outcome.Is(Outcome::Kind::Lost) && !fresh) continue;
                return outcome.AsStatus();
            }
            if (!target.serviceAccount && outcome.Is(kStatusRefused) &&
                RefusesAnonymous(failed.failedCode))
                return kStatusAnonymousRefused;
            return outcome.AsStatus();
        }
        return kStatusUnreachable;
    }

    // What the server said to a search that failed on connection, into failed.
    static void NoteSearchFailure(Connection& connection, const Outcome& outcome, bool rangesBroken,
                                  Connection& failed)
    {
        connection.NoteFailure("search", LastError(connection.ld));
        if (outcome.Is(Outcome::Kind::Undecodable))
            connection.diagnostic = "the server's answer could not be decoded";
        else if (rangesBroken)
            connection.diagnostic =
                "the server's ranges of an attribute's values do not go on where they ended";
        Keep(failed, connection);
    }

    // Opens and binds a connection to the target, as the service account or
    // anonymously; failed receives what the server said when that fails.
    unsigned Connect(const Target& target, const Query& query,
                     std::unique_ptr<Connection>& connection, Connection& failed)
    {
        if (target.serviceAccount && settings_.passwordUnreadable)
            return kStatusPasswordFileUnreadable;
        connection = std::make_unique<Connection>();
        int bindResult = LDAP_SUCCESS;
        const std::string& dn = target.serviceAccount ? settings_.bindDn : std::string();
        const std::string_view password =
            target.serviceAccount ? settings_.bindPassword.View() : std::string_view();
        unsigned status = Open(target.server, target.transport, dn, password, *connection,
                               bindResult, query.timeLimitMs);
        if (status == 0) return 0;
        Keep(failed, *connection);
        if (!target.serviceAccount && bindResult != LDAP_SUCCESS) status = kStatusAnonymousRefused;
        return status;
    }

    // The query on an open connection, its filter adapted to the server's
    // schema; entries with values in parts are completed before they are
    // handed over. rangesBroken: the parts did not go on where they ended.
    Outcome SearchOn(Connection& connection, const Query& query, EntryVisitor& visitor,
                     bool& rangesBroken)
    {
        if (query.tree != nullptr && !connection.schemaRead) {
            connection.schemaRead = true;
            ReadSchema(connection, query);
        }
        Query adapted;
        if (query.tree != nullptr && connection.schema.known) {
            adapted = query;
            if (!RenderFilterFor(*query.tree, connection.schema, adapted.filter))
                return kStatusMalformedName;
        }
        RangeHolder holder(visitor);
        Outcome outcome = RunSearch(connection.ld, adapted.tree != nullptr ? adapted : query,
                                    holder, connection.pageSize, settings_.maxEntries);
        // Entries held for the rest of their values are not asked about on
        // a connection the server is still flooding: a quick request goes
        // without them.
        if (outcome || holder.held.empty()) return outcome;
        outcome = ReadRangedValues(connection.ld, holder.held, connection.pageSize,
                                   settings_.maxEntries, query.timeouts);
        rangesBroken = outcome.Is(kStatusRefused);
        if (!outcome)
            for (Entry& entry : holder.held) visitor.Visit(entry);
        return outcome;
    }

    // What the server's schema knows, from the subschema entry its root DSE
    // names. A server that does not show it gets its filters unchanged. Both
    // are base searches of one entry, within the time of the request they
    // are made for: a server that sends more is not read on.
    static void ReadSchema(Connection& connection, const Query& forQuery)
    {
        Query root = EntryQuery(std::string(), {"subschemaSubentry"});
        root.timeLimitMs = forQuery.timeLimitMs;
        root.deadline = forQuery.deadline;
        root.timeouts = forQuery.timeouts;
        std::vector<Entry> found;
        if (RunSearch(connection.ld, root, found, connection.pageSize, 1) || found.empty()) return;
        Query subschema = root;
        subschema.base = found.front().First("subschemasubentry");
        if (subschema.base.empty()) return;
        subschema.scope = LDAP_SCOPE_BASE;
        subschema.filter = "(objectClass=subschema)";
        subschema.attributes = {"objectClasses", "attributeTypes"};
        found.clear();
        if (RunSearch(connection.ld, subschema, found, connection.pageSize, 1) || found.empty())
            return;
        const std::vector<std::string> none;
        const auto* classes = found.front().Find("objectclasses");
        const auto* attributes = found.front().Find("attributetypes");
        connection.schema.Learn(classes ? *classes : none, attributes ? *attributes : none);
    }

    static void Keep(Connection& to, const Connection& from)
    {
        to.failedOperation = from.failedOperation;
        to.failedCode = from.failedCode;
        to.diagnostic = from.diagnostic;
    }

    DirectorySettings settings_;
    bool valid_ = false;
    Transport transport_;  // of the first server: for servers outside the directory
    std::vector<ServerAddress> servers_;
    std::vector<ServerAddress> replicas_;
    std::size_t current_ = 0;
    std::string server_;  // the server in use
    std::map<std::string, std::unique_ptr<Connection>> connections_;
};

}  // namespace
}  // namespace ldap

std::unique_ptr<Directory> MakeLdapDirectory(const DirectorySettings& settings)
{
    return std::make_unique<ldap::LdapDirectory>(settings);
}

std::unique_ptr<Directory> MakeLdapDirectory(DirectorySettings&& settings)
{
    return std::make_unique<ldap::LdapDirectory>(std::move(settings));
}

}  // namespace ovdir
