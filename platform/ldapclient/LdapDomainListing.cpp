// The explicit domain listing, built on a connection and the paged search.
#include "platform/ldapclient/LdapDomainListing.h"

#include "platform/ldapclient/LdapSearch.h"
#include "platform/ldapclient/LdapText.h"
#include "services/OvUserServiceBase.h"

#include <memory>

namespace ovdir::ldap {

namespace {

// The listing's status for a connection that could not be opened.
int OpenFailure(unsigned status)
{
    switch (status) {
        case kStatusBindFailed:
            return kDomainSearchInvalidCredentials;
        case kStatusTlsFailed:
            return kDomainSearchSslFailed;
        case kStatusUnreachable:
        case kStatusTimeout:
            return kDomainSearchConnectionFailed;
        default:
            return kDomainSearchUnknownFailure;
    }
}

// Notes a failed search on the connection and writes its record.
int SearchFailed(unsigned status, const std::string& url, Connection& connection)
{
    connection.NoteFailure("search", LastError(connection.ld));
    ReportFailure(status, url, connection);
    return kDomainSearchFailed;
}

}  // namespace

void ListDomains(const DomainListing& listing, std::vector<std::string>& domains, int& searchStatus)
{
    domains.clear();
    const std::string url = listing.transport.scheme + "://" + listing.server;
    Connection connection;
    int bindResult = LDAP_SUCCESS;
    const unsigned status = Open(listing.server, listing.transport, listing.bindDn,
                                 listing.password, connection, bindResult);
    if (status != 0) {
        searchStatus = OpenFailure(status);
        // Wrong credentials are the search's answer, said in full by its status.
        if (bindResult != LDAP_INVALID_CREDENTIALS) ReportFailure(status, url, connection);
        return;
    }

    std::vector<Entry> rootDse;
    int pageSize = kLargestPageSize;
    Query contextsQuery = NamingContextsQuery();
    contextsQuery.timeouts = listing.transport.timeouts;
    const Outcome read =
        RunSearch(connection.ld, contextsQuery, rootDse, pageSize, listing.maxEntries);
    if (read || rootDse.empty()) {
        searchStatus = SearchFailed(read ? read.AsStatus() : kStatusNoSuchEntry, url, connection);
        return;
    }
    const std::vector<std::string>* contexts = rootDse.front().Find("namingcontexts");
    std::vector<std::string> found;
    for (std::size_t i = 0; contexts != nullptr && i < contexts->size(); ++i) {
        if (listing.limit > 0 && static_cast<long>(found.size()) >= listing.limit) break;
        Query check;
        check.base = (*contexts)[i];
        check.scope = LDAP_SCOPE_BASE;
        check.timeouts = listing.transport.timeouts;
        RenderFilter(KindFilter(EntryKind::Domain), check.filter);
        std::vector<Entry> entry;
        const Outcome checked =
            RunSearch(connection.ld, check, entry, pageSize, listing.maxEntries);
        if (checked.Is(Outcome::Kind::Lost) || checked.Is(kStatusTimeout) ||
            checked.Is(Outcome::Kind::Undecodable)) {
            searchStatus = SearchFailed(
                checked.Is(kStatusTimeout) ? kStatusTimeout : kStatusUnreachable, url, connection);
            return;
        }
        // A context this account may not read is not listed.
        if (!checked && !entry.empty()) found.push_back((*contexts)[i]);
    }
    domains = std::move(found);
    searchStatus = kDomainSearchSuccess;
}

}  // namespace ovdir::ldap

namespace ovdir {
namespace ldap {
namespace {

// The listing for command 20, with the transport and limits of the
// directory's settings.
class DomainSource final : public ExplicitDomainSource {
public:
    DomainSource(const DirectorySettings& settings, const Directory& directory)
        : startTls_(settings.startTls),
          caCertFile_(settings.caCertFile),
          maxEntries_(settings.maxEntries),
          timeouts_(settings.timeouts),
          directory_(directory)
    {
    }

    unsigned ExplicitDomains(const std::string& server, const std::string& dn,
                             const std::string& password, bool ssl, int limit,
                             std::vector<std::string>& domains, int& searchStatus) override
    {
        domains.clear();
        DomainListing listing;
        listing.server = server.empty() ? directory_.DefaultServer() : server;
        if (!ValidServer(listing.server)) {
            searchStatus = kDomainSearchConnectionFailed;
            return 0;
        }
        if (password.empty() || !NormaliseDn(dn, listing.bindDn)) {
            searchStatus = kDomainSearchInvalidCredentials;
            return 0;
        }
        // SSL off is plain LDAP only where the settings allow plain LDAP:
        // with StartTLS on, the connection is upgraded before the password
        // goes out, or the search fails.
        listing.transport.scheme = ssl ? "ldaps" : "ldap";
        listing.transport.startTls = !ssl && startTls_;
        listing.transport.caCertFile = caCertFile_;
        listing.transport.timeouts = timeouts_;
        listing.password = password;
        listing.limit = limit;
        listing.maxEntries = maxEntries_;
        ListDomains(listing, domains, searchStatus);
        return 0;
    }

private:
    bool startTls_;
    std::string caCertFile_;
    std::size_t maxEntries_;
    OvServiceTimeouts timeouts_;
    const Directory& directory_;
};

}  // namespace
}  // namespace ldap

std::unique_ptr<ExplicitDomainSource> MakeLdapDomainSource(const DirectorySettings& settings,
                                                           const Directory& directory)
{
    return std::make_unique<ldap::DomainSource>(settings, directory);
}

}  // namespace ovdir
