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

std::string Setting(const OvServiceSettings& settings, const char* key)
{
    std::string value;
    settings.FindSetting("UserService", key, value);
    return value;
}

struct Account {
    std::string dn;
    Secret password;
};

// The service account as the backend binds: BindPassword, else the file
// BindPasswordFile names. False with the reason when the file is unreadable.
bool ReadAccount(const OvServiceSettings& settings, Account& account, std::string& reason)
{
    account.dn = Setting(settings, "BindDN");
    std::string value;
    if (settings.FindSetting("UserService", "BindPassword", value) && !value.empty()) {
        account.password = value;
        OvWipe(value);
        return true;
    }
    const std::string file = Setting(settings, "BindPasswordFile");
    if (file.empty()) return true;
    return ReadSecretFile(file, account.password, reason);
}

CheckVerdict CheckOne(const ServerAddress& address, const Transport& transport,
                      const Account& account)
{
    CheckVerdict verdict;
    const std::string url = address.Url();
    Connection connection;
    int bindResult = LDAP_SUCCESS;
    verdict.status = Open(address.server, transport, account.dn, account.password.View(),
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
    const std::string who = account.dn.empty() ? "anonymous bind accepted"
                                               : "service account " + account.dn + " accepted";
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

std::vector<CheckVerdict> CheckServers(const OvServiceSettings& settings)
{
    std::vector<ServerAddress> servers;
    std::vector<ServerAddress> replicas;
    std::string bad;
    if (!ParseServerList(Setting(settings, "Directory"), "", servers, bad) || servers.empty() ||
        !ParseServerList(Setting(settings, "Replicas"), servers.front().scheme, replicas, bad)) {
        return {{kStatusMalformedName, "Directory or Replicas: not a server URL: " + bad}};
    }
    servers.insert(servers.end(), replicas.begin(), replicas.end());
    Account account;
    std::string reason;
    if (!ReadAccount(settings, account, reason))
        return {{kStatusPasswordFileUnreadable, "BindPasswordFile: not read: " + reason}};
    const std::string startTls = Setting(settings, "StartTLS");
    std::vector<CheckVerdict> verdicts;
    for (const ServerAddress& address : servers) {
        Transport transport;
        transport.scheme = address.scheme;
        transport.startTls =
            address.scheme == "ldap" && (EqualsIgnoringCase(startTls, "yes") ||
                                         EqualsIgnoringCase(startTls, "true") || startTls == "1");
        transport.caCertFile = Setting(settings, "TLSCACertFile");
        verdicts.push_back(CheckOne(address, transport, account));
    }
    return verdicts;
}

}  // namespace ovdir::ldap
