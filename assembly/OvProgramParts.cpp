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

    OvServiceSettings settings = ReadServiceSettings(parameterFile);
    settings.timeouts.connectionMs = comm.connectionTimeout;
    settings.timeouts.methodSeconds = comm.methodTimeout;
    OvProvideServiceSettings(settings);
}
