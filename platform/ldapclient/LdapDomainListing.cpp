// The explicit domain listing, built on a connection and the paged search.
#include "platform/ldapclient/LdapDomainListing.h"

#include "platform/ldapclient/LdapSearch.h"
#include "platform/ldapclient/LdapText.h"
#include "services/OvUserServiceBase.h"

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
