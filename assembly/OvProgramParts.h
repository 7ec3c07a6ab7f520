// Where the program's parts are put together: the services get their
// settings, read once from the parameter file, and the process the signal
// disposition they rely on. Run calls it before the first service call.
#pragma once

#include <string>

#include "services/OvCommFramework.h"

// Reads the services' sections of parameterFile once and hands them to the
// services with the network time-outs of comm (connection time-out in ms,
// method time-out in seconds); ignores SIGPIPE unless a handler is set, so
// that a server going away under a write is an error status of the call
// instead of the end of the process.
void OvAssembleServices(const std::string& parameterFile, const OvCommParameters& comm);
