// What start-up hands the communication framework: the parameter file's
// record, with the tool's own method time-out of 600 seconds in place of the
// file's, whatever the file says.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "apps/UserServiceCommand/OvUserServiceCommandApp.h"
#include "config/OvIniParameters.h"
#include "services/OvCommFramework.h"
#include "services/ProxyHandle.h"

namespace {

std::vector<unsigned> Fields(const OvCommParameters& p)
{
    return {p.connectionTimeout,    p.statusCheckTimeout,    p.methodTimeout,
            p.statusCheckFrequency, p.serviceExpirationTime, p.localAddress,
            p.secureSocketLayer,    p.connectionRetryTimes,  p.connectionRetrySleepTime};
}

// Runs the program in a fresh folder holding orvane.ini with the text given
// (none when null), answering the two prompts with Enter and the menu with 0.
// Gives back what the reader of that file holds.
OvCommParameters RunInFolder(const char* ini)
{
    char pattern[] = "/tmp/ovstartupXXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    char* cwd = ::getcwd(nullptr, 0);
    const std::string here = cwd != nullptr ? cwd : ".";
    ::free(cwd);
    if (ini != nullptr) std::ofstream(folder + "/orvane.ini") << ini;
    EXPECT_EQ(::chdir(folder.c_str()), 0);

    std::istringstream typed("\n\n0\n");
    std::ostringstream printed, errors;
    std::streambuf* in = std::cin.rdbuf(typed.rdbuf());
    std::streambuf* out = std::cout.rdbuf(printed.rdbuf());
    std::streambuf* err = std::cerr.rdbuf(errors.rdbuf());
    OvCommParameters fromFile;
    {
        OvUserServiceCommandApp application;
        char name[] = "UserServiceCommand";
        char* argv[] = {name, nullptr};
        application.Init(1, argv);
        EXPECT_EQ(application.Run(), 0);
        fromFile = OvIniParameters("orvane.ini").GetCommParameters();
    }
    std::cin.rdbuf(in);
    std::cout.rdbuf(out);
    std::cerr.rdbuf(err);

    EXPECT_EQ(::chdir(here.c_str()), 0);
    std::remove((folder + "/orvane.ini").c_str());
    ::rmdir(folder.c_str());
    return fromFile;
}

const char* const kFiles[] = {
    nullptr,
    "[PolicyServer]\nPolicyServerIP=127.0.0.1\nPolicyServerPort=6000\n",
    "[PolicyServer]\nMethodTimeout=45\nConnectionTimeout=4500\nStatusCheckTimeout=7\n"
    "StatusCheckFrequency=30\nServiceExpirationTime=99\nLocalServerIP=127.0.0.1\n"
    "SecureSocketLayer=true\nClientConnectionRetryTimes=4\nClientConnectionRetrySleepTime=11\n",
    "[PolicyServer]\nMethodTimeout=600\n",
    "[PolicyServer]\nMethodTimeout=601\n",
    "[PolicyServer]\nMethodTimeout=4294967295\n",
};

TEST(StartupTest, TheFrameworkGetsTheFilesRecordWithAMethodTimeoutOf600)
{
    for (const char* ini : kFiles) {
        // Whatever the framework held before start-up must not survive it.
        OvCommParameters stale;
        stale.SetMethodTimeout(1);
        stale.SetConnectionTimeout(1);
        stale.SetConnectionRetryTimes(1);
        ProxyHandle<OvCommFramework>().GetInterface()->SetCommParameters(stale);

        OvCommParameters expected = RunInFolder(ini);
        expected.methodTimeout = 600;
        const OvCommParameters handed = CurrentCommParameters();
        EXPECT_EQ(handed.methodTimeout, 600u) << (ini ? ini : "no file");
        EXPECT_EQ(Fields(handed), Fields(expected)) << (ini ? ini : "no file");
    }
}

}  // namespace
