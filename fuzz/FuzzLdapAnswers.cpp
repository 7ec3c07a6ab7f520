// Fuzz target: what the ldap backend makes of a server's answers. The input
// is the byte stream a server sends on each connection (bind answer, then
// search answers); the backend's connection is one end of a socket pair put
// behind the libldap call table, so the whole of libldap's decoding and the
// backend's reading of entries, controls and results run on it.
#include <fcntl.h>
#include <ldap.h>
#include <openldap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/directory/Directory.h"
#include "platform/ldapclient/LdapSeam.h"

namespace {

const std::uint8_t* g_data = nullptr;
std::size_t g_size = 0;
std::vector<int> g_peers;  // the server ends, closed after each input

// As the program does where it puts its parts together: a server end closed
// under a write is an error status, not the end of the run.
const bool kBrokenPipesIgnored = [] {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}();

int FromInput(LDAP** ld, const char* url)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return LDAP_LOCAL_ERROR;
    const int server = pair[1];
    g_peers.push_back(server);
    // What does not fit the socket's buffer is cut: the answer then simply ends.
    ::fcntl(server, F_SETFL, O_NONBLOCK);
    std::size_t sent = 0;
    while (sent < g_size) {
        const ssize_t put = ::write(server, g_data + sent, g_size - sent);
        if (put <= 0) break;
        sent += static_cast<std::size_t>(put);
    }
    // The server says no more; it keeps reading, so requests can still be sent.
    ::shutdown(server, SHUT_WR);
    const int rc = ldap_init_fd(pair[0], LDAP_PROTO_TCP, url, ld);
    if (rc != LDAP_SUCCESS) {
        ::close(pair[0]);
        return rc;
    }
    // The backend's connect callback, which a connection made here bypasses,
    // caps the size of one message at 64 MiB; the same cap here.
    Sockbuf* sb = nullptr;
    ber_len_t largest = 64u << 20;
    if (ldap_get_option(*ld, LDAP_OPT_SOCKBUF, &sb) == LDAP_OPT_SUCCESS && sb != nullptr)
        ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_MAX_INCOMING, &largest);
    return rc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    g_data = data;
    g_size = size;
    ovdir::ldapseam::Active().initialize = FromInput;
    {
        ovdir::DirectorySettings settings;
        settings.directory = "ldap://fuzz.invalid";
        settings.bindDn = "cn=reader,o=fuzz";
        settings.bindPassword = "secret";
        settings.maxEntries = 1000;
        auto directory = ovdir::MakeLdapDirectory(settings);
        ovdir::SearchRequest request;
        request.base = "o=fuzz";
        request.filter = ovdir::Filter::Present("objectclass");
        request.attributes = {"cn", "member"};
        std::vector<ovdir::Entry> found;
        directory->Search(request, found);
        std::vector<std::string> contexts;
        directory->NamingContexts(contexts);
        std::vector<std::string> domains;
        int searchStatus = 0;
        ovdir::MakeLdapDomainSource(settings, *directory)
            ->ExplicitDomains("fuzz.invalid", "cn=reader,o=fuzz", "secret", false, 10, domains,
                              searchStatus);
    }
    for (int fd : g_peers) ::close(fd);
    g_peers.clear();
    return 0;
}
