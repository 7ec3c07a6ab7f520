// A parameter file that is not a regular file (a FIFO, a device, a symlink to
// one) or that is larger than its limit reads as an empty file, at once: neither
// reader may wait for a writer or read without end. A folder is missing to the
// text reader, empty to the byte reader.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "ConfigTestSupport.h"
#include "config/IniReaders.h"
#include "config/OvIniParameters.h"
#include "framework/OvBoundedFile.h"

namespace {

using configtest::RecordingApplication;
using configtest::SeamGuard;
using configtest::TempFolder;

class SpecialFileTest : public ::testing::Test {
protected:
    SpecialFileTest()
    {
        EXPECT_EQ(::mkfifo(folder_.File("fifo").c_str(), 0600), 0);
        EXPECT_EQ(::mkdir(folder_.File("folder").c_str(), 0700), 0);
        EXPECT_EQ(::symlink("/dev/zero", folder_.File("zero").c_str()), 0);
        EXPECT_EQ(::symlink("/dev/urandom", folder_.File("urandom").c_str()), 0);
        // Valid content, but one byte over the limit.
        std::string big = "[S]\nKey=1\n";
        big.resize(kOvParameterFileLimit + 1, '#');
        folder_.Write("big", big);
    }
    struct Case {
        const char* name;
        unsigned textStatus;
        unsigned objectStatus;
    };
    const Case cases_[5] = {
        {"fifo", kIniSectionMissing, kIniParamNoPolicyServerIP},
        {"folder", kIniFileMissing, kIniParamFileMissing},
        {"zero", kIniSectionMissing, kIniParamNoPolicyServerIP},
        {"urandom", kIniSectionMissing, kIniParamNoPolicyServerIP},
        {"big", kIniSectionMissing, kIniParamNoPolicyServerIP},
    };
    TempFolder folder_;
    SeamGuard seam_;
};

TEST_F(SpecialFileTest, BothReadersReadItAsEmpty)
{
    for (const Case& c : cases_) {
        const char* name = c.name;
        const std::string path = folder_.File(name);
        std::string text;
        EXPECT_FALSE(ReadIniString(path, "S", "Key", text)) << name;
        EXPECT_EQ(GetLastIniReadStatus(), c.textStatus) << name;
        int number = -1;
        EXPECT_EQ(ReadIniInt(path.c_str(), "S", "Key", number),
                  static_cast<int>(kIniSectionMissing))
            << name;
        EXPECT_EQ(number, -1) << name;
    }
    EXPECT_EQ(configtest::WaitLog::Count(), 0) << "no retry waits";
}

TEST_F(SpecialFileTest, TheParameterObjectKeepsItsDefaults)
{
    for (const Case& c : cases_) {
        const char* name = c.name;
        RecordingApplication application;
        OvIniParameters parameters(folder_.File(name));
        std::string ip;
        unsigned short port = 0;
        EXPECT_EQ(parameters.GetPolicyServerIP(ip), c.objectStatus) << name;
        parameters.GetPolicyServerPort(port);
        EXPECT_EQ(ip, "127.0.0.1") << name;
        EXPECT_EQ(port, 55806) << name;
    }
}

}  // namespace
