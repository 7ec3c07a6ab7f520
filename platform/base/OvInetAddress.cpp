// IPv4 address resolution of dotted addresses and host names.
#include "framework/OvInetAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

OvNetworkException::OvNetworkException(const std::string& message) : OvException(message) {}

namespace {

unsigned Resolve(const std::string& host)
{
    if (host.empty()) throw OvNetworkException("Empty host name");
    in_addr dotted{};
    if (::inet_pton(AF_INET, host.c_str(), &dotted) == 1) return dotted.s_addr;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || found == nullptr) {
        throw OvNetworkException("Cannot resolve host " + host + ": " +
                                 (rc != 0 ? ::gai_strerror(rc) : "no address"));
    }
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    ::freeaddrinfo(found);
    return address.sin_addr.s_addr;
}

}  // namespace

OvInetAddress::OvInetAddress(const char* host, unsigned short port, bool)
    : address_(Resolve(host != nullptr ? std::string(host) : std::string())), port_(port)
{
}

OvInetAddress::OvInetAddress(const std::string& host, unsigned short port, bool)
    : address_(Resolve(host)), port_(port)
{
}

OvInetAddress::~OvInetAddress() = default;

unsigned OvInetAddress::GetIpAddress(bool) const { return address_; }

std::string OvInetAddress::ToString() const { return Format(address_); }

std::string OvInetAddress::Format(unsigned address)
{
    in_addr raw{};
    raw.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &raw, text, sizeof text) == nullptr) return std::string();
    return text;
}
