// The text the ldap backend writes and reads: filters, directory URLs, DNs
// and server names. The backend itself is made with ovdir::MakeLdapDirectory
// (Directory.h).
#pragma once

#include "platform/directory/Directory.h"
#include "platform/directory/Names.h"

#include <string>
#include <string_view>

namespace ovdir::ldap {

// A filter value with RFC 4515 escapes for '*', '(', ')', '\' and NUL.
std::string EscapeFilterValue(std::string_view value);

// The filter as LDAP filter text. Attribute names that are not plain
// descriptors or OIDs give false: nothing but a name may stand there.
bool RenderFilter(const Filter& filter, std::string& text);

// Servers are checked by the same rule as contexts take them.
using ovdir::ValidServer;

// Splits "ldap://HOST[:PORT][/]" or "ldaps://..." (scheme compared ignoring
// case) into the lower-case scheme and host[:port].
bool SplitDirectoryUrl(std::string_view url, std::string& scheme, std::string& server);

// A DN in the library's canonical LDAPv3 form; false when it does not parse.
bool NormaliseDn(const std::string& dn, std::string& normalised);

}  // namespace ovdir::ldap
