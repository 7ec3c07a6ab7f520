// The connection to the service daemon (RemoteLink.h), and the access
// settings that say where it is (RemoteAccess.h).
#include "platform/remote/RemoteLink.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include <arpa/inet.h>

#include "framework/OvApplication.h"
#include "framework/OvBoundedFile.h"
#include "platform/directory/Directory.h"
#include "platform/remote/LocalAddress.h"
#include "services/OvCommException.h"

namespace ovremote {
namespace {

using Clock = std::chrono::system_clock;

// Largest answer the client takes in one message: an entry with all its
// attributes; a listing comes in pieces far below it.
constexpr int kMaxAnswerBytes = 64 << 20;

// The last message of the network library written, so that one repeated by
// every connection attempt is written once.
std::mutex g_networkLock;
std::string g_lastNetworkMessage;

void NetworkMessage(gpr_log_func_args* args)
{
    if (args->severity != GPR_LOG_SEVERITY_ERROR || !OvApplication::Exists()) return;
    const std::string message = OvPrintable(args->message != nullptr ? args->message : "");
    {
        std::lock_guard<std::mutex> guard(g_networkLock);
        if (message == g_lastNetworkMessage) return;
        g_lastNetworkMessage = message;
    }
    std::string file = args->file != nullptr ? args->file : "grpc";
    file = file.substr(file.rfind('/') + 1);
    OvApplication::Itself().GetErrorStream(ovdir::kWarningNetwork, ovdir::kServicesModuleId,
                                           file.c_str(), args->line, -1)
        << message << ::ends;
}

int Milliseconds(unsigned long long value)
{
    return static_cast<int>(std::min<unsigned long long>(value, INT_MAX));
}

// The one channel of the process to the daemon.
class Link {
public:
    static Link& Instance()
    {
        // Never destroyed: proxies given back by static destructors still
        // reach it.
        static Link* const link = new Link;
        return *link;
    }

    void Configure(AccessSettings access)
    {
        std::lock_guard<std::mutex> guard(lock_);
        access_ = std::move(access);
        channel_.reset();
        stub_.reset();
        opened_ = false;
    }

    // The framework's Start: a channel to the location with the parameters.
    // The connection is made in the background; calls wait for it.
    unsigned Open(const std::string& location, const OvCommParameters& parameters)
    {
        std::lock_guard<std::mutex> guard(lock_);
        return OpenLocked(location, parameters);
    }

    // Whether the daemon answers, trying as often and waiting as long as
    // the parameters say. Each attempt is made on a new channel: a channel
    // whose attempt failed reports that failure until it is connected, so
    // it cannot tell a further attempt's outcome.
    bool Connect()
    {
        std::shared_ptr<grpc::Channel> channel;
        OvCommParameters parameters;
        if (!Current(channel, parameters)) return false;
        if (channel->GetState(false) == GRPC_CHANNEL_READY) return true;
        const unsigned attempts = parameters.connectionRetryTimes + 1;
        for (unsigned attempt = 0; attempt < attempts; ++attempt) {
            if (attempt > 0)
                std::this_thread::sleep_for(
                    std::chrono::seconds(parameters.connectionRetrySleepTime));
            if (attempt > 0 || channel->GetState(false) == GRPC_CHANNEL_TRANSIENT_FAILURE)
                channel = Reopen();
            if (channel && ConnectOnce(*channel, parameters.connectionTimeout)) return true;
        }
        return false;
    }

    // A call's context: its deadline the method time-out from now.
    std::shared_ptr<UserServices::Stub> Prepare(grpc::ClientContext& context)
    {
        std::shared_ptr<grpc::Channel> channel;
        OvCommParameters parameters;
        if (!Current(channel, parameters)) return nullptr;
        context.set_deadline(Clock::now() +
                             std::chrono::seconds(std::max(parameters.methodTimeout, 1u)));
        std::lock_guard<std::mutex> guard(lock_);
        return stub_;
    }

private:
    // The channel, opened with what the framework holds when nobody has
    // started it yet.
    bool Current(std::shared_ptr<grpc::Channel>& channel, OvCommParameters& parameters)
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!channel_) OpenLocked(OvConfigServiceProxy::GetLocation(), CurrentCommParameters());
        channel = channel_;
        parameters = parameters_;
        return channel != nullptr;
    }

    std::shared_ptr<grpc::Channel> Reopen()
    {
        std::lock_guard<std::mutex> guard(lock_);
        OpenLocked(location_, parameters_);
        return channel_;
    }

    unsigned OpenLocked(const std::string& location, const OvCommParameters& parameters)
    {
        opened_ = true;
        location_ = location;
        parameters_ = parameters;
        const std::string target = access_.location.empty() ? location : access_.location;
        if (!parameters.secureSocketLayer && !IsLoopbackAddress(target)) {
            // Typed passwords would cross the network in the clear.
            if (!refusedPlain_)
                Warn(access_.location.empty() ? "PolicyServer" : "ServiceAccess",
                     "the services at " + OvPrintable(target) +
                         " are not on this machine's loopback: they are reached only with "
                         "SecureSocketLayer=true");
            refusedPlain_ = true;
            channel_.reset();
            stub_.reset();
            return kOvServiceRefused;
        }
        std::shared_ptr<grpc::ChannelCredentials> credentials;
        if (!Credentials(parameters.secureSocketLayer, credentials)) {
            channel_.reset();
            stub_.reset();
            return kOvServiceRefused;
        }
        grpc::ChannelArguments arguments;
        // The status check: a ping every StatusCheckFrequency, answered
        // within StatusCheckTimeout, or the connection counts as lost.
        arguments.SetInt(GRPC_ARG_KEEPALIVE_TIME_MS,
                         std::max(Milliseconds(parameters.statusCheckFrequency), 1000));
        arguments.SetInt(GRPC_ARG_KEEPALIVE_TIMEOUT_MS,
                         std::max(Milliseconds(parameters.statusCheckTimeout), 100));
        arguments.SetInt(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
        arguments.SetInt(GRPC_ARG_HTTP2_MAX_PINGS_WITHOUT_DATA, 0);
        // A connection unused for ServiceExpirationTime seconds is closed;
        // the next call opens a new one.
        arguments.SetInt(GRPC_ARG_CLIENT_IDLE_TIMEOUT_MS,
                         Milliseconds(1000ull * std::max(parameters.serviceExpirationTime, 1u)));
        // Between attempts to connect: the retry sleep time, in seconds.
        const int pause = Milliseconds(1000ull * parameters.connectionRetrySleepTime);
        arguments.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, std::max(pause, 100));
        arguments.SetInt(GRPC_ARG_MIN_RECONNECT_BACKOFF_MS, std::max(pause, 100));
        arguments.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, std::max(pause, 100));
        arguments.SetInt(GRPC_ARG_ENABLE_RETRIES, 0);
        arguments.SetMaxReceiveMessageSize(kMaxAnswerBytes);
        if (parameters.localAddress != 0)
            arguments.SetSocketMutator(NewLocalAddressMutator(parameters.localAddress));
        channel_ = grpc::CreateCustomChannel(target, credentials, arguments);
        stub_ = std::shared_ptr<UserServices::Stub>(UserServices::NewStub(channel_));
        // Begins connecting now, so that the first command finds it done.
        channel_->GetState(true);
        return 0;
    }

    bool Credentials(bool secure, std::shared_ptr<grpc::ChannelCredentials>& credentials)
    {
        if (!secure) {
            credentials = grpc::InsecureChannelCredentials();
            return true;
        }
        grpc::SslCredentialsOptions options;
        if (!ReadPem(access_.caFile, options.pem_root_certs) ||
            !ReadPem(access_.certificateFile, options.pem_cert_chain) ||
            !ReadPem(access_.keyFile, options.pem_private_key))
            return false;
        credentials = grpc::SslCredentials(options);
        OvWipe(options.pem_private_key);
        return true;
    }

    static bool ReadPem(const std::string& file, std::string& pem)
    {
        if (file.empty()) return true;
        const int error = OvReadBoundedFile(file, kOvCertificateFileLimit, pem);
        if (error == 0) return true;
        Warn(file, "cannot read " + OvPrintable(file) + ": " +
                       OvFileErrorText(error, kOvCertificateFileLimit));
        return false;
    }

    // One attempt: true once the channel is ready; false when the attempt
    // failed or the connection time-out passed.
    static bool ConnectOnce(grpc::Channel& channel, unsigned timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 1u));
        grpc_connectivity_state state = channel.GetState(true);
        bool tried = false;
        while (state != GRPC_CHANNEL_READY) {
            if (state == GRPC_CHANNEL_SHUTDOWN) return false;
            if (state == GRPC_CHANNEL_TRANSIENT_FAILURE && tried) return false;
            if (state == GRPC_CHANNEL_CONNECTING) tried = true;
            if (!channel.WaitForStateChange(state, deadline)) return false;
            state = channel.GetState(true);
        }
        return true;
    }

    std::mutex lock_;
    AccessSettings access_;
    std::string location_;
    OvCommParameters parameters_;
    std::shared_ptr<grpc::Channel> channel_;
    std::shared_ptr<UserServices::Stub> stub_;
    bool refusedPlain_ = false;
    bool opened_ = false;
};

}  // namespace

void ConfigureLink(AccessSettings access) { Link::Instance().Configure(std::move(access)); }

unsigned OpenLink(const std::string& location, const OvCommParameters& parameters)
{
    return Link::Instance().Open(location, parameters);
}

bool ConnectLink() { return Link::Instance().Connect(); }

namespace {

unsigned Translate(const grpc::Status& status)
{
    switch (status.error_code()) {
        case grpc::StatusCode::OK:
            return 0;
        case grpc::StatusCode::UNAVAILABLE:
        case grpc::StatusCode::CANCELLED:
            return kOvServiceUnreachable;
        case grpc::StatusCode::DEADLINE_EXCEEDED:
            return kOvServiceTimeout;
        case grpc::StatusCode::RESOURCE_EXHAUSTED:
            return kOvServiceBusy;
        default:
            return kOvServiceRefused;
    }
}

}  // namespace

// One call to the daemon: made once more when the connection turned out to
// be gone before anything was answered (the daemon restarted since the last
// call). call returns the call's status and sets answered once the daemon
// has sent something.
unsigned Invoke(const LinkCall& call)
{
    Link& link = Link::Instance();
    for (int attempt = 0;; ++attempt) {
        if (!link.Connect()) return kOvServiceUnreachable;
        grpc::ClientContext context;
        std::shared_ptr<UserServices::Stub> stub = link.Prepare(context);
        if (!stub) return kOvServiceUnreachable;
        bool answered = false;
        const grpc::Status status = call(*stub, context, answered);
        if (status.error_code() == grpc::StatusCode::UNAVAILABLE && !answered && attempt == 0)
            continue;
        return Translate(status);
    }
}

void RouteNetworkMessages() { gpr_set_log_function(NetworkMessage); }

}  // namespace ovremote
