// userservice: the user service's operations, one a command line. The
// application object exists before main runs (the framework's singleton);
// its error stream carries the services' records to standard error.
#include <exception>
#include <iostream>
#include <vector>

#include "apps/userservice/UsOutput.h"
#include "apps/userservice/UsSession.h"
#include "console/OvConsoleApplication.h"
#include "services/OvCommException.h"

namespace {

class UsApplication : public OvConsoleApplication {
public:
    UsApplication() : OvConsoleApplication(L"userservice") {}

    int Run() override
    {
        std::vector<std::string> args = GetArgs();
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        try {
            return UsRun(static_cast<int>(argv.size()), argv.data());
        } catch (const OvCommException& error) {
            // No proxy could be made: the services are at a daemon that
            // cannot be reached.
            std::cerr << "userservice: " << UsStatusText(error.GetCode()) << std::endl;
            return UsExitForStatus(error.GetCode());
        } catch (const std::exception& error) {
            std::cerr << "userservice: " << OvPrintable(error.what()) << std::endl;
        }
        return kUsFailure;
    }
    void Shutdown() override {}
};

OvApplication* const theApplication = new UsApplication;

}  // namespace
