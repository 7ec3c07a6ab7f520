// The servers of the configured directory: the URLs of Directory= (tried in
// order, the first that answers is used) and the further servers of the same
// directory that Replicas= names. Only these receive the service account's
// credentials; a context that names any other server is asked anonymously.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ovdir::ldap {

// One server as the user means it: the host compared ignoring case and the
// port with the scheme's default (389, 636) filled in.
struct ServerAddress {
    std::string scheme;  // "ldap" or "ldaps"
    std::string server;  // host[:port] as written
    std::string host;    // lower case
    unsigned port = 0;

    bool Same(const ServerAddress& other) const { return host == other.host && port == other.port; }
    std::string Url() const { return scheme + "://" + server; }
};

// host[:port] as typed in a context, reached over scheme.
bool ParseServer(std::string_view scheme, std::string_view server, ServerAddress& address);

// Blank-separated "ldap://HOST[:PORT]" or "ldaps://..." URLs; with a
// defaultScheme, bare HOST[:PORT] words are taken over that scheme too.
// False, with the word in bad, when a word is neither. An empty list is
// true with no servers.
bool ParseServerList(std::string_view text, std::string_view defaultScheme,
                     std::vector<ServerAddress>& servers, std::string& bad);

}  // namespace ovdir::ldap
