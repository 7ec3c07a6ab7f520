// Connect, TLS and bind, and the socket layers beneath every request.
#include "platform/ldapclient/LdapConnection.h"

#include "framework/OvApplication.h"
#include "framework/OvBoundedFile.h"
#include "framework/OvSystem.h"
#include "platform/directory/Directory.h"
#include "platform/ldapclient/LdapCertificate.h"
#include "platform/ldapclient/LdapMemory.h"
#include "platform/ldapclient/LdapSeam.h"
#include "platform/ldapclient/LdapServers.h"
#include "services/OvCommFramework.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace ovdir::ldap {

timeval Milliseconds(unsigned ms)
{
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return tv;
}

Timeouts LimitedTimeouts(const OvServiceTimeouts& given, unsigned timeLimitMs)
{
    // Zero would make every request fail at once; it means the default.
    const OvServiceTimeouts defaults;
    unsigned connectMs = given.connectionMs ? given.connectionMs : defaults.connectionMs;
    unsigned long long methodMs =
        (given.methodSeconds ? given.methodSeconds : defaults.methodSeconds) * 1000ull;
    if (timeLimitMs != 0) {
        connectMs = std::min(connectMs, timeLimitMs);
        methodMs = std::min<unsigned long long>(methodMs, timeLimitMs);
    }
    return {Milliseconds(connectMs), Milliseconds(static_cast<unsigned>(methodMs))};
}

int LastError(LDAP* ld)
{
    int code = LDAP_OTHER;
    if (ld != nullptr) ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
    return code;
}

bool IsConnectionError(int rc) { return rc == LDAP_SERVER_DOWN || rc == LDAP_CONNECT_ERROR; }

namespace {

// The connect callback: socket time-outs, the largest message, and the
// layers of the socket's stack.
int OnConnect(LDAP*, Sockbuf* sb, LDAPURLDesc*, struct sockaddr*, ldap_conncb* context);
void OnClose(LDAP*, Sockbuf*, ldap_conncb*) {}

// A read or write that would wait while connecting, past the deadline,
// fails for good.
void Expire(Sockbuf_IO_Desc* sbiod)
{
    auto* self = static_cast<Connection*>(sbiod->sbiod_pvt);
    if ((errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) && self->connecting &&
        std::chrono::steady_clock::now() >= self->deadline) {
        self->expired = true;
        errno = ETIMEDOUT;
    }
}

int SetupLayer(Sockbuf_IO_Desc* sbiod, void* self)
{
    sbiod->sbiod_pvt = self;
    return 0;
}
int RemoveLayer(Sockbuf_IO_Desc*) { return 0; }
int CloseLayer(Sockbuf_IO_Desc*) { return 0; }
int ControlLayer(Sockbuf_IO_Desc* sbiod, int option, void* argument)
{
    return LBER_SBIOD_CTRL_NEXT(sbiod, option, argument);
}
ber_slen_t ReadLayer(Sockbuf_IO_Desc* sbiod, void* buffer, ber_len_t length)
{
    auto* self = static_cast<Connection*>(sbiod->sbiod_pvt);
    self->WaitForBatch(sbiod);
    const ber_slen_t got = LBER_SBIOD_READ_NEXT(sbiod, buffer, length);
    if (got < 0) Expire(sbiod);
    if (got > 0) self->answerBytes += static_cast<std::size_t>(got);
    return got;
}
ber_slen_t WriteLayer(Sockbuf_IO_Desc* sbiod, void* buffer, ber_len_t length)
{
    const ber_slen_t put = LBER_SBIOD_WRITE_NEXT(sbiod, buffer, length);
    if (put < 0) Expire(sbiod);
    if (put > 0) static_cast<Connection*>(sbiod->sbiod_pvt)->answerBytes = 0;
    return put;
}

Sockbuf_IO& DeadlineLayer()
{
    static Sockbuf_IO layer{&SetupLayer, &RemoveLayer, &ControlLayer,
                            &ReadLayer,  &WriteLayer,  &CloseLayer};
    return layer;
}

int OnConnect(LDAP*, Sockbuf* sb, LDAPURLDesc*, struct sockaddr*, ldap_conncb* context)
{
    auto* self = static_cast<Connection*>(context->lc_arg);
    self->reached = true;
    ber_socket_t fd = -1;
    if (ber_sockbuf_ctrl(sb, LBER_SB_OPT_GET_FD, &fd) == 1 && fd >= 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &self->socketTimeout, sizeof self->socketTimeout);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &self->socketTimeout, sizeof self->socketTimeout);
    }
    ber_len_t largest = kLargestMessage;
    ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_MAX_INCOMING, &largest);
    // Between the socket and TLS.
    ber_sockbuf_add_io(sb, &DeadlineLayer(), LBER_SBIOD_LEVEL_PROVIDER + 5, self);
    // Above it, below TLS: libldap alone reads every message in two
    // system calls and waits in poll before each, and TLS reads every
    // record in two; a large listing is mostly that.
    int readAhead = 64 * 1024;
    ber_sockbuf_add_io(sb, &ber_sockbuf_io_readahead, LBER_SBIOD_LEVEL_PROVIDER + 6, &readAhead);
    // On top of all: what is written (a bind's password) is wiped once sent.
    ber_sockbuf_add_io(sb, &WipeWrittenLayer(), LBER_SBIOD_LEVEL_APPLICATION, nullptr);
    return 0;
}

// The status for a failure of connect, TLS or bind.
unsigned ConnectFailure(const Connection& connection, const Transport& transport, int rc)
{
    if (rc == LDAP_TIMEOUT || connection.expired) return kStatusTimeout;
    if (IsConnectionError(rc)) {
        return transport.UsesTls() && connection.reached ? kStatusTlsFailed : kStatusUnreachable;
    }
    return kStatusRefused;
}

// The status for a bind the server refused: wrong credentials, a server
// that wants TLS or a stronger authentication first, a busy server, or a
// refusal of another kind.
unsigned BindFailure(int code)
{
    switch (code) {
        case LDAP_INVALID_CREDENTIALS:
        case LDAP_INVALID_DN_SYNTAX:
        case LDAP_INAPPROPRIATE_AUTH:
            return kStatusBindFailed;
        case LDAP_CONFIDENTIALITY_REQUIRED:
        case LDAP_STRONG_AUTH_REQUIRED:
            return kStatusProtectionRequired;
        case LDAP_BUSY:
        case LDAP_UNAVAILABLE:
            return kStatusServerBusy;
        default:
            return kStatusRefused;
    }
}

// Makes the handle for server and sets its options: LDAPv3, no referrals,
// the connection time-out, the connection callbacks.
unsigned Connect(const std::string& server, const Transport& transport, const Timeouts& timeouts,
                 Connection& connection)
{
    const ldapseam::Calls& calls = ldapseam::Active();
    connection.socketTimeout = timeouts.connect;
    connection.deadline = std::chrono::steady_clock::now() +
                          std::chrono::seconds(timeouts.connect.tv_sec) +
                          std::chrono::microseconds(timeouts.connect.tv_usec);
    connection.connecting = true;
    const std::string url = transport.scheme + "://" + server;
    if (const int rc = calls.initialize(&connection.ld, url.c_str());
        rc != LDAP_SUCCESS || connection.ld == nullptr) {
        connection.ld = nullptr;
        connection.NoteFailure("connect", rc != LDAP_SUCCESS ? rc : LDAP_OTHER);
        return kStatusUnreachable;
    }
    LDAP* ld = connection.ld;
    const int version = LDAP_VERSION3;
    if (calls.setOption(ld, LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_OPT_SUCCESS ||
        calls.setOption(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF) != LDAP_OPT_SUCCESS ||
        calls.setOption(ld, LDAP_OPT_RESTART, LDAP_OPT_ON) != LDAP_OPT_SUCCESS ||
        calls.setOption(ld, LDAP_OPT_NETWORK_TIMEOUT, &timeouts.connect) != LDAP_OPT_SUCCESS ||
        calls.setOption(ld, LDAP_OPT_TIMEOUT, &timeouts.connect) != LDAP_OPT_SUCCESS ||
        calls.setOption(ld, LDAP_OPT_CONNECT_CB, connection.Callbacks()) != LDAP_OPT_SUCCESS) {
        connection.NoteFailure("connect", LastError(ld));
        connection.Close();
        return kStatusRefused;
    }
    return 0;
}

// TLS options on this handle alone, then a context of its own, so that every
// connection verifies against the CA the settings name.
unsigned SetUpTls(const Transport& transport, Connection& connection)
{
    const ldapseam::Calls& calls = ldapseam::Active();
    LDAP* ld = connection.ld;
    const int demand = LDAP_OPT_X_TLS_DEMAND;
    const int client = 0;
    bool ok = calls.setOption(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand) == LDAP_OPT_SUCCESS;
    if (ok && !transport.caCertFile.empty()) {
        // OpenSSL opens the file blocking and reads it whole: a FIFO or
        // device there would hang or exhaust the process.
        if (const int problem = OvCheckFileAt(transport.caCertFile, kOvCertificateFileLimit)) {
            ReportServiceFault(kStatusTlsFailed, transport.caCertFile, 0,
                               "the CA certificate file cannot be read: " +
                                   OvFileErrorText(problem, kOvCertificateFileLimit));
            connection.Close();
            return kStatusTlsFailed;
        }
        ok = calls.setOption(ld, LDAP_OPT_X_TLS_CACERTFILE, transport.caCertFile.c_str()) ==
             LDAP_OPT_SUCCESS;
    }
    ok = ok && calls.setOption(ld, LDAP_OPT_X_TLS_NEWCTX, &client) == LDAP_OPT_SUCCESS;
    if (!ok) {
        connection.NoteFailure("TLS settings", LastError(ld));
        connection.Close();
        return kStatusTlsFailed;
    }
    return 0;
}

// Upgrades a plain connection with StartTLS.
unsigned StartTls(Connection& connection)
{
    const int rc = ldapseam::Active().startTls(connection.ld, nullptr, nullptr);
    if (rc == LDAP_SUCCESS) return 0;
    connection.NoteFailure("StartTLS", rc);
    connection.Close();
    if (rc == LDAP_TIMEOUT || connection.expired) return kStatusTimeout;
    return connection.reached ? kStatusTlsFailed : kStatusUnreachable;
}

// What is left of the connection time-out, at least a millisecond.
timeval TimeLeft(const Connection& connection)
{
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        connection.deadline - std::chrono::steady_clock::now());
    const long long leftUs = std::max<long long>(left.count(), 1000);
    timeval wait{};
    wait.tv_sec = static_cast<time_t>(leftUs / 1000000);
    wait.tv_usec = static_cast<suseconds_t>(leftUs % 1000000);
    return wait;
}

// A simple bind as dn with password, waiting what is left of the connection
// time-out. bindResult receives the server's answer to a refused bind.
unsigned Bind(const Transport& transport, const std::string& dn, std::string_view password,
              Connection& connection, int& bindResult)
{
    const ldapseam::Calls& calls = ldapseam::Active();
    LDAP* ld = connection.ld;
    berval credentials{};
    credentials.bv_len = password.size();
    credentials.bv_val = const_cast<char*>(password.data());
    int msgid = -1;
    int rc =
        calls.saslBind(ld, dn.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr, &msgid);
    if (rc != LDAP_SUCCESS) {
        const unsigned status = ConnectFailure(connection, transport, rc);
        connection.NoteFailure("bind", rc);
        connection.Close();
        return status;
    }
    timeval wait = TimeLeft(connection);
    LDAPMessage* answer = nullptr;
    rc = calls.result(ld, msgid, LDAP_MSG_ALL, &wait, &answer);
    if (rc <= 0) {
        const unsigned status =
            rc == 0 ? kStatusTimeout : ConnectFailure(connection, transport, LastError(ld));
        connection.NoteFailure("bind", rc == 0 ? LDAP_TIMEOUT : LastError(ld));
        if (answer != nullptr) ldap_msgfree(answer);
        connection.Close();
        return status;
    }
    int code = LDAP_OTHER;
    if (ldap_parse_result(ld, answer, &code, nullptr, nullptr, nullptr, nullptr, 1) !=
        LDAP_SUCCESS) {
        code = LastError(ld);
    }
    if (code == LDAP_SUCCESS) return 0;
    connection.NoteFailure("bind", code);
    connection.Close();
    bindResult = code;
    if (IsConnectionError(code)) return ConnectFailure(connection, transport, code);
    return BindFailure(code);
}

// Why TLS with server failed, found by a second look: a connection of its
// own that checks nothing and sends nothing but the handshake (no bind, so
// nothing secret goes over it) takes the server's certificate, which is then
// checked here. Empty when that finds no more than libldap said.
std::string TlsFailureReason(const std::string& server, const Transport& transport,
                             const Timeouts& timeouts)
{
    const ldapseam::Calls& calls = ldapseam::Active();
    Connection probe;
    if (Connect(server, transport, timeouts, probe) != 0) return std::string();
    const int never = LDAP_OPT_X_TLS_NEVER;
    const int client = 0;
    if (calls.setOption(probe.ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &never) != LDAP_OPT_SUCCESS ||
        calls.setOption(probe.ld, LDAP_OPT_X_TLS_NEWCTX, &client) != LDAP_OPT_SUCCESS)
        return std::string();
    const bool startTls = transport.startTls && transport.scheme == "ldap";
    const int rc = startTls ? calls.startTls(probe.ld, nullptr, nullptr) : ldap_connect(probe.ld);
    if (rc != LDAP_SUCCESS) {
        // An ldaps port that cannot even finish a handshake, or a port that
        // speaks something else.
        if (startTls || !probe.reached || probe.expired || rc == LDAP_TIMEOUT) return std::string();
        return "no TLS handshake even without a check of the certificate: the port may not serve "
               "TLS";
    }
    berval certificate{};
    if (ldap_get_option(probe.ld, LDAP_OPT_X_TLS_PEERCERT, &certificate) != LDAP_OPT_SUCCESS ||
        certificate.bv_val == nullptr)
        return std::string();
    const std::string der(certificate.bv_val, certificate.bv_len);
    ber_memfree(certificate.bv_val);
    return CertificateProblem(der, transport.caCertFile, HostOfServer(server));
}

// Puts the reason TlsFailureReason finds into the failed connection's record,
// in place of the TLS library's "(unknown error code)".
void ExplainTlsFailure(const std::string& server, const Transport& transport,
                       const Timeouts& timeouts, Connection& connection)
{
    const std::string reason = TlsFailureReason(server, transport, timeouts);
    if (reason.empty()) return;
    std::string& said = connection.diagnostic;
    if (said.empty() || said == "(unknown error code)") {
        said = reason;
        return;
    }
    if (said.back() == '.') said.pop_back();
    said += "; " + reason;
}

}  // namespace

Connection::Connection()
{
    callbacks_.lc_add = &OnConnect;
    callbacks_.lc_del = &OnClose;
    callbacks_.lc_arg = this;
}

void Connection::NoteFailure(const char* operation, int code)
{
    failedOperation = operation;
    failedCode = code;
    diagnostic.clear();
    char* text = nullptr;
    if (ld != nullptr &&
        ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &text) == LDAP_OPT_SUCCESS &&
        text != nullptr) {
        // The server's own text: a record is one line, whatever a server sends.
        diagnostic = RecordText(text);
        ldap_memfree(text);
    }
}

void Connection::ClearSocketTimeout()
{
    connecting = false;
    int fd = -1;
    if (ld != nullptr && ldap_get_option(ld, LDAP_OPT_DESC, &fd) == LDAP_OPT_SUCCESS && fd >= 0) {
        const timeval none{};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
    }
}

void Connection::Close()
{
    if (ld != nullptr) {
        ldapseam::Active().unbind(ld, nullptr, nullptr);
        ld = nullptr;
    }
}

// A long answer is read in batches. A server writes each entry on its own;
// read as soon as it arrives, every entry wakes this process and costs the
// server the wake-up, and for a listing of many small entries that is most of
// the time both sides spend. So once an answer has passed kStreamingBytes, a
// read that finds less than kBatchBytes waiting first gives the server
// kBatchWait to write more, at most once every kBatchWait. A short answer is
// never held up; a long one ends at most kBatchWait later, and arrives much
// sooner (against slapd, 100,000 names in less than half the time).
void Connection::WaitForBatch(Sockbuf_IO_Desc* sbiod)
{
    constexpr std::size_t kStreamingBytes = 16 * 1024;
    constexpr int kBatchBytes = 16 * 1024;
    constexpr std::chrono::microseconds kBatchWait{500};
    if (connecting || answerBytes < kStreamingBytes) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastBatchWait < kBatchWait) return;
    ber_socket_t fd = -1;
    int waiting = 0;
    if (ber_sockbuf_ctrl(sbiod->sbiod_sb, LBER_SB_OPT_GET_FD, &fd) != 1 || fd < 0 ||
        OvSystem().bytesWaiting(fd, waiting) != 0 || waiting >= kBatchBytes) {
        return;
    }
    OvSystem().sleepMicroseconds(static_cast<unsigned>(kBatchWait.count()));
    lastBatchWait = std::chrono::steady_clock::now();
}

unsigned Open(const std::string& server, const Transport& transport, const std::string& dn,
              std::string_view password, Connection& connection, int& bindResult,
              unsigned timeLimitMs)
{
    bindResult = LDAP_SUCCESS;
    // An empty password with a DN would be an unauthenticated bind, which
    // servers accept without checking anything.
    if (!dn.empty() && password.empty()) {
        bindResult = LDAP_INVALID_CREDENTIALS;
        return kStatusBindFailed;
    }
    const Timeouts timeouts = LimitedTimeouts(transport.timeouts, timeLimitMs);
    if (const unsigned status = Connect(server, transport, timeouts, connection)) return status;
    unsigned status = transport.UsesTls() ? SetUpTls(transport, connection) : 0u;
    if (status == 0 && transport.startTls && transport.scheme == "ldap")
        status = StartTls(connection);
    if (status == 0) status = Bind(transport, dn, password, connection, bindResult);
    if (status == kStatusTlsFailed && connection.reached && connection.failedOperation != nullptr &&
        timeLimitMs == 0)
        ExplainTlsFailure(server, transport, timeouts, connection);
    if (status != 0) return status;
    connection.ClearSocketTimeout();
    return 0;
}

void ReportFailure(unsigned status, const std::string& url, const Connection& connection)
{
    if (status == 0 || status == kStatusNoSuchEntry || connection.failedOperation == nullptr)
        return;
    if (!OvApplication::Exists()) return;
    const int code = connection.failedCode;
    OvLogStream& record =
        OvApplication::Itself().GetErrorStream(status, kServicesModuleId, url.c_str(), 0, -1);
    record << connection.failedOperation;
    // A request the server answered well, with an answer that cannot be
    // used, has no result code worth naming: its diagnostic says why.
    if (code != LDAP_SUCCESS || connection.diagnostic.empty())
        record << "LDAP result " + std::to_string(code) + " (" + ldap_err2string(code) + ")";
    if (!connection.diagnostic.empty()) record << connection.diagnostic;
    record << ::ends;
}

}  // namespace ovdir::ldap
