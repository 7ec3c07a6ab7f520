// Why a server's certificate was not accepted: checked again here, so that
// a failed TLS connection's error record names the reason (an unknown CA, a
// self-signed certificate, an expired one, another host's) and the setting
// that fixes it, where the TLS library behind libldap says only that the
// handshake failed.
#pragma once

#include <string>

namespace ovdir::ldap {

// What is wrong with the certificate (DER) a server showed, checked as a TLS
// client checks it: against the CA certificates of caFile (the system's
// store when empty), for the host the client asked for (a name or an IP
// address), and for its dates. Empty when nothing is.
std::string CertificateProblem(const std::string& der, const std::string& caFile,
                               const std::string& host);

// The host part of HOST[:PORT] or [IPv6][:PORT].
std::string HostOfServer(const std::string& server);

}  // namespace ovdir::ldap
