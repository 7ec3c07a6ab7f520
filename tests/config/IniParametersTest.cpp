// The parameter object: defaults, range checks, status codes and error records.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cerrno>
#include <climits>
#include <map>
#include <string>

#include "ConfigTestSupport.h"
#include "config/IniReaders.h"
#include "config/OvIniParameters.h"

namespace {

using configtest::RecordingApplication;
using configtest::SeamGuard;
using configtest::TempFolder;

const char kRecord128[] = "Error: Code=0x30710002 ModuleId=0x718000 Location=OvIniParameters:128\n";
const char kRecord237[] = "Error: Code=0x30710002 ModuleId=0x718000 Location=OvIniParameters:237\n";
const char kRecord246[] = "Error: Code=0x20710003 ModuleId=0x718000 Location=OvIniParameters:246\n";
const char kRecord268[] = "Error: Code=0x20710004 ModuleId=0x718000 Location=OvIniParameters:268\n";

// A policy server section with every value that the checks accept.
std::string PolicyServer(const std::string& extra = "", const std::string& port = "6000",
                         const std::string& waitTime = "30")
{
    return "[PolicyServer]\nPolicyServerIP=10.0.0.9\nPolicyServerPort=" + port +
           "\nPolicyServerWaitTime=" + waitTime + "\n" + extra;
}

class IniParameters : public ::testing::Test {
protected:
    std::string Write(const std::string& content) { return folder_.Write("orvane.ini", content); }
    TempFolder folder_;
    SeamGuard seam_;
    RecordingApplication application_;
};

TEST_F(IniParameters, MissingFileKeepsDefaultsWithOneRecord)
{
    OvIniParameters parameters(folder_.File("orvane.ini"));
    std::string ip;
    unsigned short port = 0;
    EXPECT_EQ(parameters.GetPolicyServerIP(ip), kIniParamFileMissing);
    EXPECT_EQ(parameters.GetPolicyServerPort(port), kIniParamFileMissing);
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_EQ(port, 55806);
    EXPECT_EQ(application_.Records(), kRecord128);
}

TEST_F(IniParameters, MissingFileKeepsEveryDefault)
{
    OvIniParameters parameters(folder_.File("orvane.ini"));
    EXPECT_EQ(parameters.GetPolicyServerWaitTime(), 5u);
    EXPECT_EQ(parameters.GetUidBroadcastResponseTimeout(), 10u);
    EXPECT_EQ(parameters.GetStatusReportFrequency(), 5);
    EXPECT_EQ(parameters.GetCommParameters().connectionTimeout, 3000u);
    EXPECT_EQ(parameters.GetCommParameters().methodTimeout, 120u);
    EXPECT_EQ(parameters.GetComponentId(0), "");
}

TEST_F(IniParameters, EmptyPolicyServerSection)
{
    OvIniParameters parameters(Write("[PolicyServer]\n"));
    std::string ip;
    unsigned short port = 0;
    EXPECT_EQ(parameters.GetPolicyServerIP(ip), kIniParamNoPolicyServerIP);
    parameters.GetPolicyServerPort(port);
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_EQ(port, 55806);
    EXPECT_EQ(application_.Records(), std::string(kRecord246) + kRecord268);
}

TEST_F(IniParameters, CompleteFileGivesNoRecord)
{
    OvIniParameters parameters(Write(PolicyServer()));
    std::string ip;
    unsigned short port = 0;
    EXPECT_EQ(parameters.GetPolicyServerIP(ip), 0u);
    EXPECT_EQ(parameters.GetPolicyServerPort(port), 0u);
    EXPECT_EQ(ip, "10.0.0.9");
    EXPECT_EQ(port, 6000);
    EXPECT_EQ(parameters.GetPolicyServerWaitTime(), 30u);
    EXPECT_EQ(application_.Records(), "");
}

TEST_F(IniParameters, PortZeroIsRejected)
{
    OvIniParameters parameters(Write(PolicyServer("", "0")));
    unsigned short port = 0;
    EXPECT_EQ(parameters.GetPolicyServerPort(port), kIniParamBadPolicyServerPort);
    EXPECT_EQ(port, 55806);
    EXPECT_EQ(application_.Records(), kRecord268);
}

TEST_F(IniParameters, PortAboveRangeIsRejected)
{
    OvIniParameters parameters(Write(PolicyServer("", "70000")));
    unsigned short port = 0;
    EXPECT_EQ(parameters.GetPolicyServerPort(port), kIniParamBadPolicyServerPort);
    EXPECT_EQ(port, 55806);
    EXPECT_EQ(application_.Records(), kRecord268);
}

TEST_F(IniParameters, NonNumericPortIsReportedLikeAMissingOne)
{
    OvIniParameters parameters(Write(PolicyServer("", "abc")));
    EXPECT_EQ(parameters.GetStatus(), kIniParamBadPolicyServerPort);
    EXPECT_EQ(application_.Records(), kRecord268);
}

TEST_F(IniParameters, PortLimitsAreAccepted)
{
    OvIniParameters low(Write(PolicyServer("", "1")));
    OvIniParameters high(Write(PolicyServer("", "65535")));
    unsigned short port = 0;
    EXPECT_EQ(low.GetPolicyServerPort(port), 0u);
    EXPECT_EQ(port, 1);
    EXPECT_EQ(high.GetPolicyServerPort(port), 0u);
    EXPECT_EQ(port, 65535);
}

TEST_F(IniParameters, BadPortKeepsAnEarlierStatus)
{
    OvIniParameters parameters(
        Write("[PolicyServer]\nPolicyServerPort=0\nPolicyServerWaitTime=1\n"));
    EXPECT_EQ(parameters.GetStatus(), kIniParamNoPolicyServerIP);
    EXPECT_EQ(application_.Records(), std::string(kRecord246) + kRecord268);
}

TEST_F(IniParameters, MissingWaitTimeSetsItsStatusWithoutRecord)
{
    OvIniParameters parameters(Write("[PolicyServer]\nPolicyServerIP=h\nPolicyServerPort=9\n"));
    EXPECT_EQ(parameters.GetStatus(), kIniParamBadPolicyServerWaitTime);
    EXPECT_EQ(parameters.GetPolicyServerWaitTime(), 5u);
    EXPECT_EQ(application_.Records(), "");
}

TEST_F(IniParameters, WaitTimeAboveRangeKeepsTheDefault)
{
    OvIniParameters parameters(Write(PolicyServer("", "6000", "1440")));
    EXPECT_EQ(parameters.GetStatus(), kIniParamBadPolicyServerWaitTime);
    EXPECT_EQ(parameters.GetPolicyServerWaitTime(), 5u);
}

TEST_F(IniParameters, WaitTimeLimitsAreAccepted)
{
    OvIniParameters zero(Write(PolicyServer("", "6000", "0")));
    EXPECT_EQ(zero.GetStatus(), 0u);
    EXPECT_EQ(zero.GetPolicyServerWaitTime(), 0u);
    OvIniParameters top(Write(PolicyServer("", "6000", "1439")));
    EXPECT_EQ(top.GetPolicyServerWaitTime(), 1439u);
}

TEST_F(IniParameters, BadPortStatusWinsOverBadWaitTime)
{
    OvIniParameters parameters(Write(PolicyServer("", "0", "2000")));
    EXPECT_EQ(parameters.GetStatus(), kIniParamBadPolicyServerPort);
}

TEST_F(IniParameters, EmptyPolicyServerIPIsMissing)
{
    OvIniParameters parameters(
        Write("[PolicyServer]\nPolicyServerIP=  \nPolicyServerPort=9\n"
              "PolicyServerWaitTime=1\n"));
    std::string ip;
    EXPECT_EQ(parameters.GetPolicyServerIP(ip), kIniParamNoPolicyServerIP);
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_EQ(application_.Records(), kRecord246);
}

TEST_F(IniParameters, ConnectionTimeoutAtOrBelowTheFloorIsIgnored)
{
    OvIniParameters low(Write(PolicyServer("ConnectionTimeout=2500\n")));
    EXPECT_EQ(low.GetCommParameters().connectionTimeout, 3000u);
    OvIniParameters floor(Write(PolicyServer("ConnectionTimeout=3000\n")));
    EXPECT_EQ(floor.GetCommParameters().connectionTimeout, 3000u);
}

TEST_F(IniParameters, ConnectionTimeoutAboveTheFloorIsTaken)
{
    OvIniParameters parameters(Write(PolicyServer("ConnectionTimeout=5000\n")));
    EXPECT_EQ(parameters.GetCommParameters().connectionTimeout, 5000u);
}

TEST_F(IniParameters, StatusCheckFrequencyIsInSeconds)
{
    OvIniParameters parameters(Write(PolicyServer("StatusCheckFrequency=30\n")));
    EXPECT_EQ(parameters.GetCommParameters().statusCheckFrequency, 30000u);
}

TEST_F(IniParameters, HugeStatusCheckFrequencyDoesNotWrap)
{
    OvIniParameters parameters(Write(PolicyServer("StatusCheckFrequency=5000000\n")));
    EXPECT_EQ(parameters.GetCommParameters().statusCheckFrequency, UINT_MAX);
}

TEST_F(IniParameters, PositiveTimingValuesAreTaken)
{
    OvIniParameters parameters(
        Write(PolicyServer("MethodTimeout=45\nStatusCheckTimeout=7\nClientConnectionRetryTimes=4\n"
                           "ClientConnectionRetrySleepTime=11\nServiceExpirationTime=99\n")));
    const OvCommParameters& comm = parameters.GetCommParameters();
    EXPECT_EQ(comm.methodTimeout, 45u);
    EXPECT_EQ(comm.statusCheckTimeout, 7u);
    EXPECT_EQ(comm.connectionRetryTimes, 4u);
    EXPECT_EQ(comm.connectionRetrySleepTime, 11u);
    EXPECT_EQ(comm.serviceExpirationTime, 99u);
}

TEST_F(IniParameters, ZeroAndNegativeTimingValuesKeepDefaults)
{
    OvIniParameters parameters(
        Write(PolicyServer("MethodTimeout=0\nStatusCheckTimeout=-3\nClientConnectionRetryTimes=0\n"
                           "StatusCheckFrequency=-1\nServiceExpirationTime=x\n")));
    const OvCommParameters& comm = parameters.GetCommParameters();
    EXPECT_EQ(comm.methodTimeout, 120u);
    EXPECT_EQ(comm.statusCheckTimeout, 1000u);
    EXPECT_EQ(comm.connectionRetryTimes, 3u);
    EXPECT_EQ(comm.statusCheckFrequency, 60000u);
    EXPECT_EQ(comm.serviceExpirationTime, 3600u);
}

TEST_F(IniParameters, SecureSocketLayerTrueInAnyCase)
{
    OvIniParameters upper(Write(PolicyServer("SecureSocketLayer=TRUE\n")));
    EXPECT_TRUE(upper.GetCommParameters().secureSocketLayer);
    OvIniParameters mixed(Write(PolicyServer("SecureSocketLayer= tRuE \n")));
    EXPECT_TRUE(mixed.GetCommParameters().secureSocketLayer);
}

TEST_F(IniParameters, SecureSocketLayerYesIsNotTrue)
{
    OvIniParameters parameters(Write(PolicyServer("SecureSocketLayer=yes\n")));
    EXPECT_FALSE(parameters.GetCommParameters().secureSocketLayer);
}

TEST_F(IniParameters, LocalServerIPIsResolved)
{
    OvIniParameters parameters(Write(PolicyServer("LocalServerIP=192.168.7.1\n")));
    EXPECT_EQ(parameters.GetCommParameters().localAddress, htonl(0xC0A80701u));
    EXPECT_EQ(parameters.GetLocalServerIP(), "192.168.7.1");
    EXPECT_EQ(parameters.GetStatus(), 0u);
}

TEST_F(IniParameters, UnresolvableLocalServerIPReplacesTheStatus)
{
    OvIniParameters parameters(Write(PolicyServer("LocalServerIP=no-such-host.invalid\n", "0")));
    EXPECT_EQ(parameters.GetStatus(), kIniParamBadLocalServerIP);
    EXPECT_EQ(parameters.GetCommParameters().localAddress, 0u);
    EXPECT_EQ(parameters.GetLocalServerIP(), "no-such-host.invalid");
}

TEST_F(IniParameters, BroadcastSettingsInRange)
{
    OvIniParameters parameters(Write(
        PolicyServer("PolicyServerUIDBroadcastPort=65535\nUIDBroadcastResponseTimeout=60\n")));
    EXPECT_EQ(parameters.GetUidBroadcastPort(), 65535);
    EXPECT_EQ(parameters.GetUidBroadcastResponseTimeout(), 60u);
}

TEST_F(IniParameters, BroadcastSettingsOutOfRangeGiveZero)
{
    OvIniParameters parameters(Write(
        PolicyServer("PolicyServerUIDBroadcastPort=65536\nUIDBroadcastResponseTimeout=61\n")));
    EXPECT_EQ(parameters.GetUidBroadcastPort(), 0);
    EXPECT_EQ(parameters.GetUidBroadcastResponseTimeout(), 0u);
}

TEST_F(IniParameters, OtherSectionsAreRead)
{
    OvIniParameters parameters(Write(PolicyServer() +
                                     "[Orvane]\nInstallPath=/opt/orvane\nStatusReportFrequency=9\n"
                                     "[WebService]\nWebServiceIP=10.0.0.2\nWebServicePort=8443\n"
                                     "[WebConsole]\nWebServerPort=8080\n"));
    EXPECT_EQ(parameters.GetInstallPath(), "/opt/orvane");
    EXPECT_EQ(parameters.GetStatusReportFrequency(), 9);
    EXPECT_EQ(parameters.GetWebServiceIP(), "10.0.0.2");
    EXPECT_EQ(parameters.GetWebServicePort(), 8443);
    EXPECT_EQ(parameters.GetWebServerPort(), "8080");
}

TEST_F(IniParameters, WebServicePortOutOfRangeGivesZero)
{
    OvIniParameters parameters(Write(PolicyServer() + "[WebService]\nWebServicePort=0\n"));
    EXPECT_EQ(parameters.GetWebServicePort(), 0);
}

TEST_F(IniParameters, ComponentIdentifiersAreReadFromTheirSections)
{
    // One header per section: the text reader stops at a repeated header.
    const auto& keys = OvIniParameters::ComponentKeys();
    std::map<std::string, std::string> sections;
    sections["PolicyServer"] = PolicyServer().substr(15);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        sections[keys[i].section] += std::string(keys[i].key) + "=id" + std::to_string(i) + "\n";
    }
    std::string content;
    for (const auto& section : sections) content += "[" + section.first + "]\n" + section.second;
    OvIniParameters parameters(Write(content));
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(parameters.GetComponentId(i), "id" + std::to_string(i)) << keys[i].key;
    }
}

TEST_F(IniParameters, ComponentTableStartsWithThePolicyServer)
{
    const auto& keys = OvIniParameters::ComponentKeys();
    EXPECT_STREQ(keys[0].section, "PolicyServer");
    EXPECT_STREQ(keys[0].key, "PolicyServerUID");
    int shared = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        for (std::size_t j = i + 1; j < keys.size(); ++j) {
            if (std::string(keys[i].section) == keys[j].section) ++shared;
        }
    }
    EXPECT_EQ(shared, 1);
}

TEST_F(IniParameters, EmptyIdentifierAfterAnEarlierMissingFileIsNoMissingFile)
{
    // The readers' last status still says "file missing" from this read.
    std::string ignored;
    ReadIniString(folder_.File("absent.ini"), "S", "K", ignored);
    OvIniParameters parameters(
        Write("[PolicyServer]\nPolicyServerUID=\n" + PolicyServer().substr(15)));
    std::string ip;
    EXPECT_EQ(parameters.GetPolicyServerIP(ip), 0u);
    EXPECT_EQ(ip, "10.0.0.9");
    EXPECT_EQ(application_.Records(), "");
}

TEST_F(IniParameters, EmptyPolicyServerIPAfterAnEarlierMissingFileIsMissingIP)
{
    std::string ignored;
    ReadIniString(folder_.File("absent.ini"), "S", "K", ignored);
    OvIniParameters parameters(
        Write("[PolicyServer]\nPolicyServerIP=\nPolicyServerPort=9\n"
              "PolicyServerWaitTime=1\n"));
    EXPECT_EQ(parameters.GetStatus(), kIniParamNoPolicyServerIP);
    EXPECT_EQ(application_.Records(), kRecord246);
}

int g_opens = 0;
int g_opensAllowed = 0;

int OpenUntilItVanishes(const char* path)
{
    if (++g_opens > g_opensAllowed) {
        errno = ENOENT;
        return -1;
    }
    return DefaultIniFileSystem().open(path);
}

TEST_F(IniParameters, FileVanishingAtPolicyServerIPStopsReading)
{
    // Fifteen identifier reads and two numbers, then the file can no longer be opened.
    g_opens = 0;
    g_opensAllowed = 17;
    CurrentIniFileSystem().open = OpenUntilItVanishes;
    OvIniParameters parameters(Write(PolicyServer("ConnectionTimeout=9000\n")));
    std::string ip;
    unsigned short port = 0;
    EXPECT_EQ(parameters.GetPolicyServerIP(ip), kIniParamFileMissing);
    parameters.GetPolicyServerPort(port);
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_EQ(port, 55806);
    EXPECT_EQ(parameters.GetCommParameters().connectionTimeout, 3000u);
    EXPECT_EQ(application_.Records(), kRecord237);
}

TEST(IniParametersWithoutApplication, WritesNothingAndKeepsDefaults)
{
    TempFolder folder;
    OvIniParameters parameters(folder.File("orvane.ini"));
    std::string ip;
    EXPECT_EQ(parameters.GetPolicyServerIP(ip), kIniParamFileMissing);
    EXPECT_EQ(ip, "127.0.0.1");
}

}  // namespace
