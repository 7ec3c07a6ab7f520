// Server lists and the comparison of servers as typed in contexts.
#include "platform/ldapclient/LdapServers.h"

#include "framework/OvString.h"
#include "platform/ldapclient/LdapText.h"

#include <cctype>

namespace ovdir::ldap {

bool ParseServer(std::string_view scheme, std::string_view server, ServerAddress& address)
{
    if (!ValidServer(server)) return false;
    address.scheme = std::string(scheme);
    address.server = std::string(server);
    std::string_view host = server;
    std::string_view port;
    // An IPv6 address keeps its brackets; the port follows the last colon
    // outside them.
    const std::size_t close = server.front() == '[' ? server.find(']') : std::string_view::npos;
    const std::size_t colon = server.find(':', close == std::string_view::npos ? 0 : close);
    if (colon != std::string_view::npos) {
        host = server.substr(0, colon);
        port = server.substr(colon + 1);
    }
    address.host = OvAsciiLower(host);
    // A host name's closing dot names the same host.
    if (address.host.size() > 1 && address.host.back() == '.') address.host.pop_back();
    if (!port.empty())
        address.port = static_cast<unsigned>(std::stoul(std::string(port)));
    else
        address.port = scheme == "ldaps" ? 636 : 389;
    return true;
}

bool ParseServerList(std::string_view text, std::string_view defaultScheme,
                     std::vector<ServerAddress>& servers, std::string& bad)
{
    servers.clear();
    std::size_t at = 0;
    while (at < text.size()) {
        if (std::isspace(static_cast<unsigned char>(text[at]))) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
        const std::string_view word = text.substr(at, end - at);
        at = end;
        std::string scheme;
        std::string server;
        ServerAddress address;
        bool ok = false;
        if (word.find("://") != std::string_view::npos) {
            ok = SplitDirectoryUrl(word, scheme, server) && ParseServer(scheme, server, address);
        } else if (!defaultScheme.empty()) {
            ok = ParseServer(defaultScheme, word, address);
        }
        if (!ok) {
            bad = std::string(word);
            return false;
        }
        servers.push_back(std::move(address));
    }
    return true;
}

}  // namespace ovdir::ldap
