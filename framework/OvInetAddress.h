// Network library: IPv4 address resolution.
#pragma once

#include <string>

#include "OvException.h"

class OvNetworkException : public OvException {
public:
    explicit OvNetworkException(const std::string& message);
};

class OvInetAddress {
public:
    // host: a dotted IPv4 address or a host name. Throws OvNetworkException
    // when the host cannot be resolved to an IPv4 address. The flag is
    // reserved; callers pass false.
    OvInetAddress(const char* host, unsigned short port, bool flag);
    OvInetAddress(const std::string& host, unsigned short port, bool flag);
    OvInetAddress(const OvInetAddress&) = default;
    OvInetAddress& operator=(const OvInetAddress&) = default;
    virtual ~OvInetAddress();

    // The address in network byte order, as it stands in struct in_addr.
    unsigned GetIpAddress(bool flag) const;
    unsigned short GetPort() const { return port_; }
    // Dotted form of the address.
    std::string ToString() const;
    // Dotted form of an address as GetIpAddress returns it.
    static std::string Format(unsigned address);

private:
    unsigned address_ = 0;
    unsigned short port_ = 0;
};
