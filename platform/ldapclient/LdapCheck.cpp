// The check of the configured directory's servers (LdapCheck.h).
#include "platform/ldapclient/LdapCheck.h"

#include "platform/directory/Directory.h"
#include "platform/directory/Names.h"
#include "platform/directory/Secret.h"
#include "platform/ldapclient/LdapConnection.h"
#include "platform/ldapclient/LdapSearch.h"
#include "platform/ldapclient/LdapServers.h"
#include "services/OvCommFramework.h"

namespace ovdir::ldap {
namespace {

CheckVerdict CheckOne(const ServerAddress& address, const Transport& transport,
                      const DirectorySettings& account)
{
    CheckVerdict verdict;
    const std::string url = address.Url();
    Connection connection;
    int bindResult = LDAP_SUCCESS;
    verdict.status = Open(address.server, transport, account.bindDn, account.bindPassword.View(),
                          connection, bindResult);
    const std::string tls = !transport.UsesTls() ? "no TLS"
                            : transport.startTls ? "StartTLS verified"
                                                 : "TLS verified";
    if (verdict.status != 0) {
        std::string step = !connection.reached ? "not reached"
                           : verdict.status == kStatusTlsFailed
                               ? "reached, TLS not verified"
                               : "reached, " + tls + ", bind refused";
        verdict.text = url + ": " + step;
        // The record says why: the server's answer, or the certificate's fault.
        ReportFailure(verdict.status, url, connection);
        return verdict;
    }
    const std::string who = account.bindDn.empty()
                                ? "anonymous bind accepted"
                                : "service account " + account.bindDn + " accepted";
    std::vector<Entry> found;
    const Outcome outcome =
        RunSearch(connection.ld, NamingContextsQuery(), found, connection.pageSize, 1);
    std::string contexts;
    if (!outcome && !found.empty()) {
        if (const auto* values = found.front().Find("namingcontexts")) {
            for (const std::string& value : *values)
                contexts += (contexts.empty() ? "" : "; ") + value;
        }
    }
    if (outcome || contexts.empty()) {
        verdict.status = outcome ? outcome.AsStatus() : static_cast<unsigned>(kStatusNoSuchEntry);
        verdict.text = url + ": reached, " + tls + ", " + who + ", no naming contexts read";
        return verdict;
    }
    verdict.text = url + ": reached, " + tls + ", " + who + ", naming contexts " + contexts;
    return verdict;
}

}  // namespace

std::vector<CheckVerdict> CheckServers(const DirectorySettings& settings)
{
    std::vector<ServerAddress> servers;
    std::vector<ServerAddress> replicas;
    std::string bad;
    if (!ParseServerList(settings.directory, "", servers, bad) || servers.empty() ||
        !ParseServerList(settings.replicas, servers.front().scheme, replicas, bad)) {
        return {{kStatusMalformedName, "Directory or Replicas: not a server URL: " + bad}};
    }
    servers.insert(servers.end(), replicas.begin(), replicas.end());
    if (settings.passwordUnreadable)
        return {{kStatusPasswordFileUnreadable, "BindPasswordFile: not read"}};
    std::vector<CheckVerdict> verdicts;
    for (const ServerAddress& address : servers) {
        Transport transport;
        transport.scheme = address.scheme;
        transport.startTls = address.scheme == "ldap" && settings.startTls;
        transport.caCertFile = settings.caCertFile;
        transport.timeouts = settings.timeouts;
        verdicts.push_back(CheckOne(address, transport, settings));
    }
    return verdicts;
}

}  // namespace ovdir::ldap
