// The console application's printing, life cycle and the process entry's
// handling of what escapes the run.
#include <iostream>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "console/OvConsoleApplication.h"
#include "services/OvCommException.h"

namespace {

// Swaps a standard stream's buffer for a string for the length of a test.
template <class Char>
class Capture {
public:
    explicit Capture(std::basic_ostream<Char>& stream)
        : stream_(stream), previous_(stream.rdbuf(&buffer_))
    {
    }
    ~Capture() { stream_.rdbuf(previous_); }
    std::basic_string<Char> Text() const { return buffer_.str(); }

private:
    std::basic_stringbuf<Char> buffer_;
    std::basic_ostream<Char>& stream_;
    std::basic_streambuf<Char>* previous_;
};

// The process entry with the command line "prog".
int RunMain()
{
    char name[] = "prog";
    char* argv[] = {name, nullptr};
    return OvConsoleMain(1, argv);
}

enum class Outcome { Return, RuntimeError, CommException, OtherException };

class TestApplication : public OvConsoleApplication {
public:
    TestApplication(Outcome outcome, int result, bool* destroyed = nullptr)
        : OvConsoleApplication(L"Test"), outcome_(outcome), result_(result), destroyed_(destroyed)
    {
    }
    ~TestApplication() override
    {
        if (destroyed_ != nullptr) *destroyed_ = true;
    }
    int Run() override
    {
        switch (outcome_) {
            case Outcome::RuntimeError:
                throw std::runtime_error("run failed");
            case Outcome::CommException:
                throw OvCommException("No Factory found for the specified Service", 0x309701F8u);
            case Outcome::OtherException:
                throw std::logic_error("broken");
            case Outcome::Return:
                break;
        }
        return result_;
    }
    void Shutdown() override { ++shutdowns; }
    int shutdowns = 0;

private:
    Outcome outcome_;
    int result_;
    bool* destroyed_;
};

TEST(ConsolePrintTest, NarrowTextWithoutFileIsTextAndNewline)
{
    TestApplication application(Outcome::Return, 0);
    Capture out(std::cout);
    application.Print(std::string("hello"), nullptr, 12);
    EXPECT_EQ(out.Text(), "hello\n");
}

TEST(ConsolePrintTest, FileAndLineZeroFollowTheText)
{
    TestApplication application(Outcome::Return, 0);
    Capture out(std::cout);
    application.Print(std::string("hello"), "file.cpp", 0);
    EXPECT_EQ(out.Text(), "hello file.cpp:0\n");
}

TEST(ConsolePrintTest, EmptyWideTextGivesOnlyTheNarrowNewline)
{
    TestApplication application(Outcome::Return, 0);
    Capture out(std::cout);
    Capture wide(std::wcout);
    application.Print(std::wstring(), nullptr, 0);
    EXPECT_EQ(wide.Text(), L"");
    EXPECT_EQ(out.Text(), "\n");
}

TEST(ConsolePrintTest, WideTextGoesToTheWideStreamLocationToTheNarrow)
{
    TestApplication application(Outcome::Return, 0);
    Capture out(std::cout);
    Capture wide(std::wcout);
    application.Print(std::wstring(L"w\u00fc"), "f", 3);
    EXPECT_EQ(wide.Text(), L"w\u00fc");
    EXPECT_EQ(out.Text(), " f:3\n");
}

TEST(ConsoleApplicationTest, ErrorStreamRecordGoesToStandardError)
{
    TestApplication application(Outcome::Return, 0);
    Capture err(std::cerr);
    application.GetErrorStream(0x30710002, 0x718000, "OvIniParameters", 128, -1) << ends;
    EXPECT_EQ(err.Text(),
              "Error: Code=0x30710002 ModuleId=0x718000 Location=OvIniParameters:128\n");
}

std::string FailingFormat() { throw std::bad_alloc(); }

// An exception while a record's parameters are formatted (here an allocation
// failure) abandons that record but locks nothing: the next print, the next
// record and another thread's output all go through, and the abandoned
// record's parameters never appear.
TEST(ConsoleApplicationTest, AnExceptionInARecordLeavesNothingLocked)
{
    TestApplication application(Outcome::Return, 0);
    Capture err(std::cerr);
    Capture out(std::cout);
    try {
        application.GetErrorStream(0x1, 0x2, nullptr, 0, -1)
            << std::string("lost") << FailingFormat() << ends;
        ADD_FAILURE() << "the format did not throw";
    } catch (const std::bad_alloc&) {
    }
    application.Print(std::string("next"), nullptr, 0);
    std::thread other([&application] {
        application.GetErrorStream(0x5, 0x6, nullptr, 0, -1) << std::string("other") << ends;
        application.Print(std::string("from another thread"), nullptr, 0);
    });
    other.join();
    application.GetErrorStream(0x3, 0x4, nullptr, 0, -1) << ends;
    EXPECT_EQ(out.Text(), "next\nfrom another thread\n");
    EXPECT_EQ(err.Text(),
              "Error: Code=0x5 ModuleId=0x6 Parameters: (other)\n"
              "Error: Code=0x3 ModuleId=0x4\n");
}

TEST(ConsoleExecuteTest, RunResultBecomesTheExitStatus)
{
    bool destroyed = false;
    auto* application = new TestApplication(Outcome::Return, 7, &destroyed);
    EXPECT_EQ(application->Execute(), 7);
    EXPECT_TRUE(destroyed);
}

TEST(ConsoleExecuteTest, RuntimeErrorGivesOneSilently)
{
    bool destroyed = false;
    auto* application = new TestApplication(Outcome::RuntimeError, 0, &destroyed);
    Capture out(std::cout);
    Capture err(std::cerr);
    EXPECT_EQ(application->Execute(), 1);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(err.Text(), "");
}

TEST(ConsoleMainTest, NoApplicationIsReported)
{
    Capture err(std::cerr);
    EXPECT_EQ(RunMain(), 1);
    EXPECT_EQ(err.Text(), "You must create an Application singleton\n");
}

TEST(ConsoleMainTest, CommExceptionBecomesOneRecordAndStatusOne)
{
    auto* application = new TestApplication(Outcome::CommException, 0);
    Capture err(std::cerr);
    EXPECT_EQ(RunMain(), 1);
    EXPECT_EQ(err.Text(),
              "Error: Code=0x309701f8 ModuleId=0x0 "
              "Parameters: (No Factory found for the specified Service)\n");
    delete application;
}

TEST(ConsoleMainTest, OtherExceptionBecomesARecordWithCodeZero)
{
    auto* application = new TestApplication(Outcome::OtherException, 0);
    Capture err(std::cerr);
    EXPECT_EQ(RunMain(), 1);
    EXPECT_EQ(err.Text(), "Error: Code=0x0 ModuleId=0x0 Parameters: (broken)\n");
    delete application;
}

TEST(ConsoleMainTest, SuccessfulRunReturnsItsResult)
{
    new TestApplication(Outcome::Return, 0);
    EXPECT_EQ(RunMain(), 0);
}

}  // namespace
