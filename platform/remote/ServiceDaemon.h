// The services served over the network: the daemon's settings and its
// server, which answers every call with the services the process built, one
// call inside the services at a time, the answers sent in parallel.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "services/OvServiceSettings.h"

namespace ovremote {

// [Daemon] of the daemon's parameter file.
struct DaemonSettings {
    // host:port the daemon listens on; anything but loopback only with TLS.
    std::string listen = "127.0.0.1:55806";
    // The daemon's certificate chain and key (PEM): TLS.
    std::string certificateFile;
    std::string keyFile;
    // Certificate authorities of client certificates: when set, every
    // client must show a certificate they signed.
    std::string clientCaFile;
    // Servers besides the directory's own that an explicit domain listing
    // may connect to: blank-separated HOST[:PORT] or ldap(s):// URLs.
    std::string allowedServers;
    // The directory's own servers ([UserService] Directory and Replicas);
    // empty when it answers from a file.
    std::string directoryServers;
    // Calls served at once; further ones are refused as busy.
    unsigned maxCalls = 64;
    // A listing whose client takes nothing for this long is ended.
    std::chrono::seconds stallLimit{30};
};

// Reads [Daemon] and the directory's servers. False, with why, when the
// settings cannot be served: a listen address other than loopback without a
// certificate and key.
bool ReadDaemonSettings(const OvServiceSettings& settings, DaemonSettings& daemon,
                        std::string& why);

class ServiceDaemon {
public:
    explicit ServiceDaemon(DaemonSettings settings);
    ~ServiceDaemon();
    ServiceDaemon(const ServiceDaemon&) = delete;
    ServiceDaemon& operator=(const ServiceDaemon&) = delete;

    // Listens and serves from now on; false, with why, when it cannot.
    bool Start(std::string& why);
    // The port listened on (the one chosen when the setting says 0).
    int Port() const;
    // Takes no new calls; those in flight get up to grace to finish, then
    // are cancelled. Returns when the server has stopped.
    void Stop(std::chrono::seconds grace);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ovremote
