// The program's parts put together (OvProgramParts.h).
#include "assembly/OvProgramParts.h"

#include <csignal>

#include "config/OvServiceSettingsFile.h"
#include "platform/remote/RemoteAccess.h"
#include "services/OvServiceSettings.h"

bool OvAssembleServices(const std::string& parameterFile, const OvCommParameters& comm)
{
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);

    // The settings as read are wiped when dropped here: the directory holds
    // the one copy of the service account's password from then on.
    const OvServiceSettings settings = ReadServiceSettings(parameterFile);
    ovremote::AccessSettings access;
    if (ovremote::ReadAccessSettings(settings, access)) {
        // The services are the daemon's: nothing of theirs is built here.
        ovremote::LoadRemoteServices(access);
        return true;
    }
    OvServiceTimeouts timeouts;
    timeouts.connectionMs = comm.connectionTimeout;
    timeouts.methodSeconds = comm.methodTimeout;
    OvBuildServices(settings, timeouts);
    return false;
}
