// The check of a server's certificate behind a failed TLS connection's record.
#include "platform/ldapclient/LdapCertificate.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace ovdir::ldap {

std::string HostOfServer(const std::string& server)
{
    if (!server.empty() && server.front() == '[') {
        const auto close = server.find(']');
        return close == std::string::npos ? server : server.substr(1, close - 1);
    }
    const auto colon = server.find(':');
    return colon == std::string::npos ? server : server.substr(0, colon);
}

std::string CertificateProblem(const std::string& der, const std::string& caFile,
                               const std::string& host)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<X509, void (*)(X509*)> certificate(
        d2i_X509(nullptr, &bytes, static_cast<long>(der.size())), X509_free);
    if (certificate == nullptr) return "the server's certificate could not be read";
    std::unique_ptr<X509_STORE, void (*)(X509_STORE*)> store(X509_STORE_new(), X509_STORE_free);
    std::unique_ptr<X509_STORE_CTX, void (*)(X509_STORE_CTX*)> context(X509_STORE_CTX_new(),
                                                                       X509_STORE_CTX_free);
    if (store == nullptr || context == nullptr) return std::string();
    // The file was checked to be a bounded regular file before TLS read it.
    const int loaded = caFile.empty() ? X509_STORE_set_default_paths(store.get())
                                      : X509_STORE_load_file(store.get(), caFile.c_str());
    if (loaded != 1 ||
        X509_STORE_CTX_init(context.get(), store.get(), certificate.get(), nullptr) != 1)
        return std::string();
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
    if (!host.empty() && X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1)
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    if (X509_verify_cert(context.get()) == 1) return std::string();
    const int error = X509_STORE_CTX_get_error(context.get());
    const std::string why = std::string(" (") + X509_verify_cert_error_string(error) + ")";
    const std::string where = caFile.empty() ? "the system's CA certificates" : caFile;
    switch (error) {
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            return "the server's certificate is self-signed" + why +
                   ": to trust it, name it in TLSCACertFile";
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return "the server's certificate is signed by a CA not among " + where + why +
                   ": name the CA's certificate in TLSCACertFile";
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "the server's certificate is not for " + host + why +
                   ": name the server as its certificate does";
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "the server's certificate has expired" + why;
        default:
            return "the server's certificate does not verify" + why;
    }
}

}  // namespace ovdir::ldap
