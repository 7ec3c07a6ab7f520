// The services of the process: built once from the services' settings where
// the program puts its parts together, and handed out by their proxies.
#pragma once

#include "platform/userservices/ServiceSettings.h"

namespace ovdir {

// Opens the directory that configuration names (with its time-outs and the
// one copy of the service account's password) and builds the user, trans-id
// and directory services and the event log on it. The services' proxies hand
// out these from now on. Until a program installs its services, the proxies
// hand out services built on the built-in sample directory with the default
// settings; no settings are read for them. Services installed before stay to
// process exit, as do these: a handle may still hold one.
void InstallServices(ServiceConfiguration configuration);

}  // namespace ovdir
