// Helpers of the ldap backend's tests: test server addresses, time-outs, a
// silent listener and the counting libldap table.
#include "tests/ldap/LdapTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include "services/OvServiceSettings.h"

namespace ldaptest {

std::string ServerFolder(const std::string& name)
{
    return std::string(OV_LDAP_SERVERS) + "/" + name;
}

std::string ServerFile(const std::string& name, const std::string& file)
{
    std::ifstream in(ServerFolder(name) + "/" + file);
    std::string text;
    std::getline(in, text);
    EXPECT_FALSE(text.empty()) << "the test servers are not running: no " << ServerFolder(name)
                               << "/" << file;
    return text;
}

std::string PlainAddress(const std::string& name)
{
    return "127.0.0.1:" + ServerFile(name, "port");
}

std::string LdapsAddress() { return "127.0.0.1:" + ServerFile("main", "ldaps-port"); }

std::string CaFile() { return ServerFolder("main") + "/ca.pem"; }

namespace {

// The time-outs every test's settings get, as start-up would give them.
OvServiceTimeouts g_timeouts;

}  // namespace

ovdir::DirectorySettings Timed(ovdir::DirectorySettings settings)
{
    settings.timeouts = g_timeouts;
    return settings;
}

ovdir::DirectorySettings ReaderSettings()
{
    ovdir::DirectorySettings settings = Timed({});
    settings.directory = "ldap://" + PlainAddress();
    settings.bindDn = "cn=reader,o=ldaptest";
    settings.bindPassword = "reader-secret";
    return settings;
}

ovdir::SearchRequest People()
{
    ovdir::SearchRequest request;
    request.base = "ou=People,o=ldaptest";
    request.scope = ovdir::Scope::OneLevel;
    request.filter = ovdir::Filter::Present("objectclass");
    return request;
}

void SetTimeouts(unsigned connectionMs, unsigned methodSeconds)
{
    g_timeouts.connectionMs = connectionMs;
    g_timeouts.methodSeconds = methodSeconds;
}

namespace {

// As the program does where it puts its parts together: a server that goes
// away under a write is an error status, not the end of the test.
const bool kBrokenPipesIgnored = [] {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}();

int BoundSocket(int& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    sockaddr* raw = reinterpret_cast<sockaddr*>(&address);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, raw, sizeof address) != 0 || getsockname(fd, raw, &length) != 0) {
        ADD_FAILURE() << "could not bind a loopback port";
        if (fd >= 0) close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

std::string ClosedPort()
{
    int port = 0;
    const int fd = BoundSocket(port);
    // Bound but not listening: connections to it are refused.
    if (fd >= 0) close(fd);
    return "127.0.0.1:" + std::to_string(port);
}

SilentListener::SilentListener()
{
    fd_ = BoundSocket(port_);
    if (fd_ >= 0 && listen(fd_, 16) != 0) ADD_FAILURE() << "could not listen";
}

SilentListener::~SilentListener()
{
    if (fd_ >= 0) close(fd_);
}

std::string SilentListener::Address() const { return "127.0.0.1:" + std::to_string(port_); }

int CallCounter::initializes = 0;
int CallCounter::binds = 0;
int CallCounter::searches = 0;
int CallCounter::startTls = 0;
int CallCounter::failSearches = 0;

namespace {

int CountInitialize(LDAP** ld, const char* url)
{
    ++CallCounter::initializes;
    return ovdir::ldapseam::Library().initialize(ld, url);
}

int CountStartTls(LDAP* ld, LDAPControl** server, LDAPControl** client)
{
    ++CallCounter::startTls;
    return ovdir::ldapseam::Library().startTls(ld, server, client);
}

int CountBind(LDAP* ld, const char* dn, const char* mechanism, struct berval* credentials,
              LDAPControl** server, LDAPControl** client, int* msgid)
{
    ++CallCounter::binds;
    return ovdir::ldapseam::Library().saslBind(ld, dn, mechanism, credentials, server, client,
                                               msgid);
}

int CountSearch(LDAP* ld, const char* base, int scope, const char* filter, char** attributes,
                int attributesOnly, LDAPControl** server, LDAPControl** client,
                struct timeval* timeout, int sizeLimit, int* msgid)
{
    ++CallCounter::searches;
    if (CallCounter::failSearches > 0) {
        --CallCounter::failSearches;
        return LDAP_SERVER_DOWN;
    }
    return ovdir::ldapseam::Library().searchExt(ld, base, scope, filter, attributes, attributesOnly,
                                                server, client, timeout, sizeLimit, msgid);
}

}  // namespace

CallCounter::CallCounter()
{
    initializes = binds = searches = startTls = failSearches = 0;
    ovdir::ldapseam::Calls& calls = ovdir::ldapseam::Active();
    calls.initialize = CountInitialize;
    calls.startTls = CountStartTls;
    calls.saslBind = CountBind;
    calls.searchExt = CountSearch;
}

CallCounter::~CallCounter() { ovdir::ldapseam::Active() = ovdir::ldapseam::Library(); }

}  // namespace ldaptest
