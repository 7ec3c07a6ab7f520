// The application singleton: registration, arguments, printing and life cycle.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "framework/OvApplication.h"
#include "framework/OvException.h"

namespace {

class NullStream : public OvLogStream {
public:
    void WriteRecord() override {}
};

class TestApplication : public OvApplication {
public:
    explicit TestApplication(int result = 0) : OvApplication(L"TestApplication"), result_(result) {}
    int Run() override
    {
        calls += "Run ";
        return result_;
    }
    void Shutdown() override { calls += "Shutdown "; }
    OvLogStream& GetErrorStream(unsigned, unsigned, const char*, int, int) override
    {
        return stream_;
    }
    std::string calls;

private:
    int result_;
    NullStream stream_;
};

TEST(Application, NoneExistsBeforeOneIsMade)
{
    EXPECT_FALSE(OvApplication::Exists());
    EXPECT_THROW(OvApplication::Itself(), OvException);
}

TEST(Application, ConstructionMakesTheSingleton)
{
    TestApplication application;
    EXPECT_TRUE(OvApplication::Exists());
    EXPECT_EQ(&OvApplication::Itself(), &application);
}

TEST(Application, DestructionUnregisters)
{
    {
        TestApplication application;
    }
    EXPECT_FALSE(OvApplication::Exists());
}

TEST(Application, InitKeepsTheArguments)
{
    TestApplication application;
    char program[] = "UserServiceCommand";
    char host[] = "10.0.0.5";
    char* argv[] = {program, host, nullptr};
    EXPECT_EQ(application.Init(2, argv), 0);
    EXPECT_EQ(application.GetArgs(), (std::vector<std::string>{"UserServiceCommand", "10.0.0.5"}));
}

TEST(Application, NameIsKept)
{
    TestApplication application;
    EXPECT_EQ(application.GetApplicationName(), L"TestApplication");
}

TEST(Application, ExecuteRunsThenShutsDownAndReturnsTheResult)
{
    TestApplication application(7);
    EXPECT_EQ(application.Execute(), 7);
    EXPECT_EQ(application.calls, "Run Shutdown ");
}

TEST(Application, PrintWithoutLocationWritesTheLine)
{
    TestApplication application;
    ::testing::internal::CaptureStdout();
    application.Print(std::string("text"), nullptr, 12);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "text\n");
}

TEST(Application, PrintWithLocationAppendsFileAndLine)
{
    TestApplication application;
    ::testing::internal::CaptureStdout();
    application.Print(std::string("text"), "file.cpp", 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "text file.cpp:0\n");
}

TEST(Application, WidePrintWritesUtf8)
{
    TestApplication application;
    ::testing::internal::CaptureStdout();
    application.Print(std::wstring(L"J\u00FCrgen"), nullptr, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "J\xC3\xBCrgen\n");
}

}  // namespace
