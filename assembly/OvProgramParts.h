// Where the program's parts are put together: the services are built from
// their settings, read once from the parameter file, and the process gets the
// signal disposition they rely on. Run calls it before the first service call.
#pragma once

#include <string>

#include "services/OvCommFramework.h"

// Reads the services' sections of parameterFile once, opens the directory they
// name with the network time-outs of comm (connection time-out in ms, method
// time-out in seconds), and builds the services on it; the services' proxies
// hand them out from then on. Ignores SIGPIPE unless a handler is set, so
// that a server going away under a write is an error status of the call
// instead of the end of the process.
// When the file's [ServiceAccess] says Services=remote, nothing is built:
// the proxies call the services at the daemon from then on, and the result
// is true.
bool OvAssembleServices(const std::string& parameterFile, const OvCommParameters& comm);
