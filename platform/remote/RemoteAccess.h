// The services reached over the network: where a program finds them, and the
// switch that makes its service proxies call them there instead of in the
// process.
#pragma once

#include <string>

#include "services/OvServiceSettings.h"

namespace ovremote {

// [ServiceAccess] of the parameter file.
struct AccessSettings {
    // host:port of the service daemon; empty: the policy server's location,
    // as the program gave it to the configuration service.
    std::string location;
    // PEM certificates that verify the daemon's certificate when
    // SecureSocketLayer is on; empty: the system's certificate authorities.
    std::string caFile;
    // The client's own certificate and key (PEM), for a daemon that asks
    // for one.
    std::string certificateFile;
    std::string keyFile;
};

// True, with access filled in, when [ServiceAccess] says Services=remote;
// false for Services=local or none. Any other value is a warning record and
// counts as local.
bool ReadAccessSettings(const OvServiceSettings& settings, AccessSettings& access);

// From now on the process's user, trans-id, directory and event-log proxies
// are those of the services at the daemon: the framework's Start opens the
// connection with the communication parameters it was given, and a proxy is
// made only when the daemon can be reached (the connection is tried again as
// often and as long as those parameters say). The event log's proxy is
// always made: it answers from the program's own texts when the daemon
// cannot.
void UseRemoteServices(AccessSettings access);

// Whether host:port (or a bare host) names this machine's loopback: a host
// of 127.x.x.x, ::1 (bracketed or not) or localhost. Traffic to anything else
// goes over TLS only.
bool IsLoopbackAddress(const std::string& address);

// A warning record (0x20A20048) about the services' access, naming location.
void Warn(const std::string& location, const std::string& message);

// Makes the process's proxies those of the daemon, as UseRemoteServices does,
// from the module that holds them (userservicecommand-remote.so, beside the
// program or in ../lib/userservicecommand/ from it), loaded only now: a
// program whose services are its own never loads the network libraries.
// False, with a warning record, when the module cannot be loaded; the
// services' proxies can then not be made (0x309701F8).
bool LoadRemoteServices(const AccessSettings& access);

// The module's entry point, found by name when it is loaded.
extern "C" void ov_use_remote_services(const AccessSettings* access);

// The network library's own messages (errors only: a failed TLS handshake,
// a socket that could not be opened) written as warning records on the
// program's error stream, the same message not twice in a row.
void RouteNetworkMessages();

}  // namespace ovremote
