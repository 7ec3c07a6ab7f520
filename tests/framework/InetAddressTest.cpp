// IPv4 resolution of dotted addresses and host names.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "framework/OvInetAddress.h"

namespace {

TEST(InetAddress, DottedAddressInNetworkOrder)
{
    const OvInetAddress address("192.168.1.20", 0, false);
    EXPECT_EQ(address.GetIpAddress(false), htonl(0xC0A80114u));
    EXPECT_EQ(address.ToString(), "192.168.1.20");
}

TEST(InetAddress, HostNameResolves)
{
    const OvInetAddress address(std::string("localhost"), 0, false);
    EXPECT_EQ(address.GetIpAddress(false), htonl(0x7F000001u));
}

TEST(InetAddress, UnresolvableNameThrows)
{
    EXPECT_THROW(OvInetAddress("no-such-host.invalid", 0, false), OvNetworkException);
}

TEST(InetAddress, EmptyOrNullNameThrows)
{
    EXPECT_THROW(OvInetAddress("", 0, false), OvNetworkException);
    EXPECT_THROW(OvInetAddress(static_cast<const char*>(nullptr), 0, false), OvNetworkException);
}

TEST(InetAddress, AnyAddressResolvesToZero)
{
    EXPECT_EQ(OvInetAddress("0.0.0.0", 0, false).GetIpAddress(false), 0u);
}

TEST(InetAddress, PortIsKept) { EXPECT_EQ(OvInetAddress("10.0.0.1", 389, false).GetPort(), 389); }

TEST(InetAddress, FormatGivesDottedText)
{
    EXPECT_EQ(OvInetAddress::Format(htonl(0x7F000001u)), "127.0.0.1");
    EXPECT_EQ(OvInetAddress::Format(0), "0.0.0.0");
}

TEST(InetAddress, NetworkExceptionIsAFrameworkException)
{
    try {
        OvInetAddress("no-such-host.invalid", 0, false);
        FAIL() << "no exception";
    } catch (const OvException& error) {
        EXPECT_NE(std::string(error.what()).find("no-such-host.invalid"), std::string::npos);
    }
}

}  // namespace
