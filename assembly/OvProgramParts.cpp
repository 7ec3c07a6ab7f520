// The program's parts put together (OvProgramParts.h).
#include "assembly/OvProgramParts.h"

#include <csignal>

#include "config/OvServiceSettingsFile.h"
#include "services/OvServiceSettings.h"

void OvAssembleServices(const std::string& parameterFile, const OvCommParameters& comm)
{
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);

    OvServiceTimeouts timeouts;
    timeouts.connectionMs = comm.connectionTimeout;
    timeouts.methodSeconds = comm.methodTimeout;
    // The settings as read are wiped when dropped here: the directory holds
    // the one copy of the service account's password from then on.
    OvBuildServices(ReadServiceSettings(parameterFile), timeouts);
}
