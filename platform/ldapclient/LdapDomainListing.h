// The explicit domain listing: the naming contexts of a server that are
// domains, as an account named with its password sees them, over a
// connection of its own that is closed again when the listing is done.
#pragma once

#include "platform/ldapclient/LdapConnection.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ovdir::ldap {

struct DomainListing {
    std::string server;  // host[:port]
    Transport transport;
    std::string bindDn;  // in the library's canonical form
    std::string_view password;
    int limit = 0;  // at most this many domains; 0 or less: all
    std::size_t maxEntries = 0;
};

// Lists the domains into domains; searchStatus receives how it went (a
// DomainSearchStatus). Failures other than wrong credentials write their
// error record.
void ListDomains(const DomainListing& listing, std::vector<std::string>& domains,
                 int& searchStatus);

}  // namespace ovdir::ldap
