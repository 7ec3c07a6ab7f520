// userserviced: the user, trans-id, directory and event-log services served
// over the network to the programs whose parameter file says
// Services=remote. It holds the directory's service account; its clients
// need none. Runs in the foreground until SIGTERM or SIGINT, then finishes
// the calls in flight; writes its records to standard error.
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <malloc.h>
#include <pthread.h>

#include "assembly/OvProgramParts.h"
#include "config/OvServiceSettingsFile.h"
#include "console/OvConsoleApplication.h"
#include "framework/OvBoundedFile.h"
#include "platform/directory/Directory.h"
#include "platform/remote/RemoteAccess.h"
#include "platform/remote/ServiceDaemon.h"

namespace {

constexpr const char* kDefaultConfig = "/etc/userservicecommand/userserviced.ini";
// How long calls in flight may take to finish once asked to stop.
constexpr std::chrono::seconds kGrace{30};

constexpr int kUsageStatus = 2;
constexpr int kSettingsStatus = 2;
constexpr int kListenStatus = 3;

const char kUsage[] =
    "Usage: userserviced [--config FILE]\n"
    "Serves the user, trans-id, directory and event-log services over the network.\n"
    "\n"
    "  --config FILE  parameter file (default /etc/userservicecommand/userserviced.ini):\n"
    "                 [Daemon] where and how to listen, and the services' sections\n"
    "  --help         this text\n"
    "  --version      the version\n"
    "\n"
    "Stops on SIGTERM or SIGINT after the calls in flight (at most 30 s).\n"
    "Exit status: 0 stopped, 2 bad arguments or settings, 3 cannot listen.\n";

void Record(unsigned code, const std::string& message)
{
    ovdir::ReportServiceFault(code, "userserviced", 0, message);
}

class DaemonApplication : public OvConsoleApplication {
public:
    DaemonApplication() : OvConsoleApplication(L"userserviced") {}

    int Run() override
    {
        std::string config = kDefaultConfig;
        const std::vector<std::string>& args = GetArgs();
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--help" || args[i] == "-h") {
                std::cout << kUsage;
                return 0;
            }
            if (args[i] == "--version") {
                std::cout << "userserviced " << OV_VERSION << "\n";
                return 0;
            }
            if (args[i] == "--config" && i + 1 < args.size()) {
                config = args[++i];
            } else if (args[i].rfind("--config=", 0) == 0) {
                config = args[i].substr(9);
            } else {
                std::cerr << "userserviced: unknown argument " << OvPrintable(args[i]) << "\n"
                          << kUsage;
                return kUsageStatus;
            }
        }
        return Serve(config);
    }
    void Shutdown() override {}

private:
    static int Serve(const std::string& config)
    {
        // The signals that stop the daemon are taken by this thread alone:
        // blocked here before any other thread starts, which inherit it.
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGTERM);
        sigaddset(&stop, SIGINT);
        pthread_sigmask(SIG_BLOCK, &stop, nullptr);
        // The calls' threads share two heaps: memory one call gave back is
        // the next one's, whichever thread serves it, so that the daemon's
        // size follows what its calls hold.
        mallopt(M_ARENA_MAX, 2);

        // A daemon without its file would serve the built-in sample: refused.
        std::string content;
        const int error = OvReadBoundedFile(config, kOvParameterFileLimit, content);
        OvWipe(content);
        if (error != 0) {
            Record(ovdir::kWarningParameterFileUnread,
                   "cannot read " + OvPrintable(config) + ": " +
                       OvFileErrorText(error, kOvParameterFileLimit));
            return kSettingsStatus;
        }
        ovremote::DaemonSettings daemon;
        std::string why;
        {
            const OvServiceSettings settings = ReadServiceSettings(config);
            if (!ovremote::ReadDaemonSettings(settings, daemon, why)) {
                Record(ovdir::kWarningServicesSetting, OvPrintable(config) + ": " + why);
                return kSettingsStatus;
            }
        }
        OvAssembleServices(config, OvCommParameters());

        ovremote::RouteNetworkMessages();
        ovremote::ServiceDaemon server(daemon);
        if (!server.Start(why)) {
            Record(ovdir::kWarningServicesSetting, why);
            return kListenStatus;
        }
        const std::size_t colon = daemon.listen.rfind(':');
        Record(ovdir::kNoticeDaemon, "listening on " + OvPrintable(daemon.listen.substr(0, colon)) +
                                         ":" + std::to_string(server.Port()));
        int signal = 0;
        while (sigwait(&stop, &signal) != 0) {
        }
        Record(ovdir::kNoticeDaemon,
               std::string("stopping on ") + strsignal(signal) + ": finishing the calls in flight");
        server.Stop(kGrace);
        Record(ovdir::kNoticeDaemon, "stopped");
        return 0;
    }
};

OvApplication* const theApplication = new DaemonApplication;

}  // namespace
