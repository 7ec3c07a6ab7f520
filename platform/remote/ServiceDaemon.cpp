// The service daemon's server and settings (ServiceDaemon.h).
#include "platform/remote/ServiceDaemon.h"

#include <grpcpp/grpcpp.h>
#include <grpcpp/resource_quota.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "framework/OvBoundedFile.h"
#include "framework/OvString.h"
#include "platform/directory/Directory.h"
#include "platform/ldapclient/LdapServers.h"
#include "platform/remote/DaemonCalls.h"
#include "platform/remote/RemoteAccess.h"
#include "services/OvCommFramework.h"

namespace ovremote {
namespace {

using ovdir::ldap::ServerAddress;

// Requests are a few typed lines: anything larger is refused unread.
constexpr int kMaxRequestBytes = 64 << 10;

bool ReadPem(const std::string& file, std::string& pem, std::string& why)
{
    const int error = OvReadBoundedFile(file, kOvCertificateFileLimit, pem);
    if (error == 0) return true;
    why = "cannot read " + ovdir::RecordText(file) + ": " +
          OvFileErrorText(error, kOvCertificateFileLimit);
    return false;
}
}  // namespace

bool ReadDaemonSettings(const OvServiceSettings& settings, DaemonSettings& daemon, std::string& why)
{
    settings.FindSetting("Daemon", "Listen", daemon.listen);
    settings.FindSetting("Daemon", "CertificateFile", daemon.certificateFile);
    settings.FindSetting("Daemon", "KeyFile", daemon.keyFile);
    settings.FindSetting("Daemon", "ClientCAFile", daemon.clientCaFile);
    settings.FindSetting("Daemon", "AllowedServers", daemon.allowedServers);
    std::string text;
    if (settings.FindSetting("Daemon", "MaxCalls", text)) {
        std::size_t calls = 0;
        if (text.find_first_not_of("0123456789") == std::string::npos && text.size() < 6 &&
            (calls = std::stoul(text)) >= 1 && calls <= 10000)
            daemon.maxCalls = static_cast<unsigned>(calls);
        else
            ovdir::ReportServiceFault(ovdir::kWarningServicesSetting, settings.Source(), 0,
                                      "MaxCalls=" + ovdir::RecordText(text.substr(0, 40)) +
                                          " is not a number from 1 to 10000; the default " +
                                          std::to_string(daemon.maxCalls) + " holds");
    }
    std::string directory, replicas;
    settings.FindSetting("UserService", "Directory", directory);
    settings.FindSetting("UserService", "Replicas", replicas);
    const bool ldap = directory.rfind("ldap://", 0) == 0 || directory.rfind("ldaps://", 0) == 0;
    if (ldap) daemon.directoryServers = directory + " " + replicas;
    std::vector<ServerAddress> servers;
    std::string bad;
    if (!ovdir::ldap::ParseServerList(daemon.allowedServers, "ldap", servers, bad)) {
        why = "AllowedServers names " + ovdir::RecordText(bad) + ", which is no server";
        return false;
    }
    std::string value;
    if (settings.FindSetting("ServiceAccess", "Services", value) &&
        OvEqualsIgnoringAsciiCase(value, "remote")) {
        why =
            "[ServiceAccess] Services=remote: the daemon serves the services, it cannot reach "
            "them elsewhere";
        return false;
    }
    if (daemon.listen.empty()) {
        why = "Listen is empty";
        return false;
    }
    if (!IsLoopbackAddress(daemon.listen) &&
        (daemon.certificateFile.empty() || daemon.keyFile.empty())) {
        why = "Listen=" + ovdir::RecordText(daemon.listen) +
              " is not a loopback address: CertificateFile and KeyFile are needed (TLS)";
        return false;
    }
    return true;
}

class ServiceDaemon::Impl {
public:
    explicit Impl(DaemonSettings settings)
        : settings_(std::move(settings)), calls_(NewDaemonCalls(settings_))
    {
    }

    bool Start(std::string& why)
    {
        std::shared_ptr<grpc::ServerCredentials> credentials;
        if (!Credentials(credentials, why)) return false;
        grpc::ServerBuilder builder;
        builder.AddListeningPort(settings_.listen, credentials, &port_);
        builder.RegisterService(calls_.get());
        builder.SetMaxReceiveMessageSize(kMaxRequestBytes);
        // Bounded cost per client: threads, memory, streams per connection,
        // time to finish the handshake, idle connections closed.
        grpc::ResourceQuota quota("userserviced");
        quota.SetMaxThreads(static_cast<int>(settings_.maxCalls) + 4);
        quota.Resize(256u << 20);
        builder.SetResourceQuota(quota);
        builder.SetSyncServerOption(grpc::ServerBuilder::MAX_POLLERS,
                                    static_cast<int>(std::min(settings_.maxCalls, 4u)));
        builder.AddChannelArgument(GRPC_ARG_MAX_CONCURRENT_STREAMS, 16);
        builder.AddChannelArgument(GRPC_ARG_SERVER_HANDSHAKE_TIMEOUT_MS, 10000);
        builder.AddChannelArgument(GRPC_ARG_MAX_CONNECTION_IDLE_MS, 30 * 60 * 1000);
        // Clients check the connection with pings; ours find dead clients.
        builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIME_MS, 60000);
        builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, 20000);
        builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
        builder.AddChannelArgument(GRPC_ARG_HTTP2_MIN_RECV_PING_INTERVAL_WITHOUT_DATA_MS, 900);
        builder.AddChannelArgument(GRPC_ARG_HTTP2_MAX_PING_STRIKES, 0);
        server_ = builder.BuildAndStart();
        if (!server_ || port_ == 0) {
            why = "cannot listen on " + ovdir::RecordText(settings_.listen);
            server_.reset();
            return false;
        }
        return true;
    }

    void Stop(std::chrono::seconds grace)
    {
        if (!server_) return;
        server_->Shutdown(std::chrono::system_clock::now() + grace);
        server_->Wait();
    }

    int port_ = 0;

private:
    bool Credentials(std::shared_ptr<grpc::ServerCredentials>& credentials, std::string& why)
    {
        if (settings_.certificateFile.empty() && settings_.keyFile.empty()) {
            credentials = grpc::InsecureServerCredentials();
            return true;
        }
        grpc::SslServerCredentialsOptions options;
        grpc::SslServerCredentialsOptions::PemKeyCertPair pair;
        if (!ReadPem(settings_.certificateFile, pair.cert_chain, why) ||
            !ReadPem(settings_.keyFile, pair.private_key, why))
            return false;
        options.pem_key_cert_pairs.push_back(pair);
        OvWipe(pair.private_key);
        if (!settings_.clientCaFile.empty()) {
            if (!ReadPem(settings_.clientCaFile, options.pem_root_certs, why)) return false;
            options.client_certificate_request =
                GRPC_SSL_REQUEST_AND_REQUIRE_CLIENT_CERTIFICATE_AND_VERIFY;
        }
        credentials = grpc::SslServerCredentials(options);
        OvWipe(options.pem_key_cert_pairs.front().private_key);
        return true;
    }

    DaemonSettings settings_;
    std::unique_ptr<grpc::Service> calls_;
    std::unique_ptr<grpc::Server> server_;
};

ServiceDaemon::ServiceDaemon(DaemonSettings settings)
    : impl_(std::make_unique<Impl>(std::move(settings)))
{
}

ServiceDaemon::~ServiceDaemon() = default;

bool ServiceDaemon::Start(std::string& why) { return impl_->Start(why); }

int ServiceDaemon::Port() const { return impl_->port_; }

void ServiceDaemon::Stop(std::chrono::seconds grace) { impl_->Stop(grace); }

}  // namespace ovremote