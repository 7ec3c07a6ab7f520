// The ldap backend: a real directory server reached through libldap, with a
// connection kept per server, paged searches, and TLS as the settings ask.
#include "platform/ldapclient/LdapDirectory.h"

#include "framework/OvApplication.h"
#include "framework/OvBoundedFile.h"
#include "framework/OvString.h"
#include "platform/directory/Names.h"
#include "platform/ldapclient/LdapCertificate.h"
#include "platform/ldapclient/LdapMemory.h"
#include "platform/ldapclient/LdapRanges.h"
#include "platform/ldapclient/LdapSchema.h"
#include "platform/ldapclient/LdapSeam.h"
#include "platform/ldapclient/LdapServers.h"
#include "services/OvCommFramework.h"
#include "services/OvServiceSettings.h"
#include "services/OvUserServiceBase.h"

#include <lber.h>
#include <ldap.h>
#include <malloc.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <utility>

namespace ovdir {
namespace ldap {

std::string EscapeFilterValue(std::string_view value)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0') {
            const auto byte = static_cast<unsigned char>(c);
            out += '\\';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

bool RenderFilter(const Filter& filter, std::string& text)
{
    switch (filter.kind) {
        case Filter::Kind::And:
        case Filter::Kind::Or:
            text += filter.kind == Filter::Kind::And ? "(&" : "(|";
            for (const Filter& child : filter.children) {
                if (!RenderFilter(child, text)) return false;
            }
            text += ')';
            return true;
        case Filter::Kind::Not:
            if (filter.children.size() != 1) return false;
            text += "(!";
            if (!RenderFilter(filter.children.front(), text)) return false;
            text += ')';
            return true;
        case Filter::Kind::Equals:
        case Filter::Kind::Contains:
        case Filter::Kind::Initial:
        case Filter::Kind::Present:
            break;
    }
    if (!ValidAttributeName(filter.attribute)) return false;
    text += '(';
    text += filter.attribute;
    text += '=';
    if (filter.kind == Filter::Kind::Equals) {
        text += EscapeFilterValue(filter.value);
    } else if (filter.kind == Filter::Kind::Initial) {
        text += EscapeFilterValue(filter.value);
        text += '*';
    } else {
        // Contains with an empty text matches every value, as presence does.
        text += '*';
        if (filter.kind == Filter::Kind::Contains && !filter.value.empty()) {
            text += EscapeFilterValue(filter.value);
            text += '*';
        }
    }
    text += ')';
    return true;
}

bool SplitDirectoryUrl(std::string_view url, std::string& scheme, std::string& server)
{
    const auto sep = url.find("://");
    if (sep == std::string_view::npos) return false;
    const std::string lowered = OvAsciiLower(url.substr(0, sep));
    if (lowered != "ldap" && lowered != "ldaps") return false;
    std::string_view rest = url.substr(sep + 3);
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    if (!ValidServer(rest)) return false;
    scheme = lowered;
    server = std::string(rest);
    return true;
}

bool NormaliseDn(const std::string& dn, std::string& normalised)
{
    if (dn.empty()) {
        normalised.clear();
        return true;
    }
    if (dn.find('\0') != std::string::npos) return false;
    LDAPDN parsed = nullptr;
    if (ldap_str2dn(dn.c_str(), &parsed, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) return false;
    char* text = nullptr;
    // Pretty: UTF-8 stays as it is rather than in hex escapes.
    const int rc = ldap_dn2str(parsed, &text, LDAP_DN_FORMAT_LDAPV3 | LDAP_DN_PRETTY);
    ldap_dnfree(parsed);
    if (rc != LDAP_SUCCESS || text == nullptr) return false;
    normalised = text;
    ldap_memfree(text);
    return true;
}

}  // namespace ldap

namespace {

// Entries a page. Each page costs the server a fresh look at every candidate
// entry, so a large listing is asked for in pages as large as the server
// allows: Active Directory answers at most its MaxPageSize (1000) a page
// whatever is asked; slapd refuses a page larger than its size.pr limit, and
// is then asked again with 1000, then half as many each time; other servers
// that refuse the large page are asked again with 1000. A connection keeps
// the size that last worked.
constexpr int kLargestPageSize = 100000;
constexpr int kPageSize = 1000;
constexpr int kSmallestPageSize = 50;

// Internal outcome: the connection broke under a request; the caller re-opens
// it once and asks again.
constexpr unsigned kLost = 1;
// Internal outcome: an answer did not decode; the connection's stream cannot
// be trusted with another request, and the request counts as refused.
constexpr unsigned kUndecodable = 2;
// Internal outcome: the filter cannot be written for the server's schema; the
// request is malformed, and the server was never asked.
constexpr unsigned kUnrenderable = 3;
// Internal outcome: a quick request has all the entries it asked for and
// stopped reading; the server may still be sending, so the connection goes.
constexpr unsigned kStoppedAtLimit = 4;

// The largest message a server may send: a header that announces more (a
// broken or hostile server's 2 GB) ends the connection before anything is
// allocated for it.
constexpr ber_len_t kLargestMessage = 64u << 20;

timeval Milliseconds(unsigned ms)
{
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return tv;
}

struct Timeouts {
    timeval connect;  // connect, TLS and bind
    timeval method;   // each answer of a search
};

// The network time-outs; a quick request's own limit (timeLimitMs, not 0)
// shortens both.
Timeouts CurrentTimeouts(unsigned timeLimitMs = 0)
{
    // As the program handed them to the services where it put its parts
    // together. Zero would make every request fail at once; it means the
    // default.
    const OvServiceTimeouts given = OvProvidedServiceTimeouts();
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

// How a connection is carried: the scheme of its URL, whether a plain
// connection is upgraded with StartTLS, and the CA certificates TLS checks.
struct Transport {
    std::string scheme;
    bool startTls = false;
    std::string caCertFile;
    bool UsesTls() const { return scheme == "ldaps" || startTls; }
};

// One libldap handle. Its connect callback records that the server was
// reached, which tells a failed TLS handshake from a server that could not be
// reached (libldap reports both as "can't contact"), and puts two layers into
// the socket's stack: a deadline for connecting, and read-ahead.
class Connection {
public:
    Connection()
    {
        callbacks_.lc_add = &Connection::OnConnect;
        callbacks_.lc_del = &Connection::OnClose;
        callbacks_.lc_arg = this;
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { Close(); }

    LDAP* ld = nullptr;
    bool reached = false;
    // What the server (or the library on its behalf) said to the last
    // request that failed: for the error record.
    const char* failedOperation = nullptr;
    int failedCode = LDAP_SUCCESS;
    std::string diagnostic;
    // Notes a failure of operation with the handle's result code and
    // diagnostic message, before the handle is closed.
    void NoteFailure(const char* operation, int code)
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
    int pageSize = kLargestPageSize;
    // The server's schema, read once when a filter first needs it.
    bool schemaRead = false;
    ldap::KnownSchema schema;
    // While connecting, reads and writes of the socket give up after
    // socketTimeout, and past the deadline a read that would wait fails
    // for good: libldap retries a TLS handshake that wants more data
    // without a time limit of its own.
    timeval socketTimeout{};
    std::chrono::steady_clock::time_point deadline;
    bool connecting = false;
    bool expired = false;
    // Bytes of the answer to the last request written, for read batching.
    std::size_t answerBytes = 0;
    std::chrono::steady_clock::time_point lastBatchWait;
    ldap_conncb* Callbacks() { return &callbacks_; }

    // Back to waiting as long as the request's own time-out says.
    void ClearSocketTimeout()
    {
        connecting = false;
        int fd = -1;
        if (ld != nullptr && ldap_get_option(ld, LDAP_OPT_DESC, &fd) == LDAP_OPT_SUCCESS &&
            fd >= 0) {
            const timeval none{};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
        }
    }

    void Close()
    {
        if (ld != nullptr) {
            ldapseam::Active().unbind(ld, nullptr, nullptr);
            ld = nullptr;
        }
    }

private:
    static int OnConnect(LDAP*, Sockbuf* sb, LDAPURLDesc*, struct sockaddr*, ldap_conncb* context)
    {
        auto* self = static_cast<Connection*>(context->lc_arg);
        self->reached = true;
        ber_socket_t fd = -1;
        if (ber_sockbuf_ctrl(sb, LBER_SB_OPT_GET_FD, &fd) == 1 && fd >= 0) {
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &self->socketTimeout,
                       sizeof self->socketTimeout);
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &self->socketTimeout,
                       sizeof self->socketTimeout);
        }
        ber_len_t largest = kLargestMessage;
        ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_MAX_INCOMING, &largest);
        // Between the socket and TLS.
        ber_sockbuf_add_io(sb, &DeadlineLayer(), LBER_SBIOD_LEVEL_PROVIDER + 5, self);
        // Above it, below TLS: libldap alone reads every message in two
        // system calls and waits in poll before each, and TLS reads every
        // record in two; a large listing is mostly that.
        int readAhead = 64 * 1024;
        ber_sockbuf_add_io(sb, &ber_sockbuf_io_readahead, LBER_SBIOD_LEVEL_PROVIDER + 6,
                           &readAhead);
        // On top of all: what is written (a bind's password) is wiped once sent.
        ber_sockbuf_add_io(sb, &ldap::WipeWrittenLayer(), LBER_SBIOD_LEVEL_APPLICATION, nullptr);
        return 0;
    }

    static Sockbuf_IO& DeadlineLayer()
    {
        static Sockbuf_IO layer{&SetupLayer, &RemoveLayer, &ControlLayer,
                                &ReadLayer,  &WriteLayer,  &CloseLayer};
        return layer;
    }
    static int SetupLayer(Sockbuf_IO_Desc* sbiod, void* self)
    {
        sbiod->sbiod_pvt = self;
        return 0;
    }
    static int RemoveLayer(Sockbuf_IO_Desc*) { return 0; }
    static int CloseLayer(Sockbuf_IO_Desc*) { return 0; }
    static int ControlLayer(Sockbuf_IO_Desc* sbiod, int option, void* argument)
    {
        return LBER_SBIOD_CTRL_NEXT(sbiod, option, argument);
    }
    static ber_slen_t ReadLayer(Sockbuf_IO_Desc* sbiod, void* buffer, ber_len_t length)
    {
        auto* self = static_cast<Connection*>(sbiod->sbiod_pvt);
        self->WaitForBatch(sbiod);
        const ber_slen_t got = LBER_SBIOD_READ_NEXT(sbiod, buffer, length);
        if (got < 0) Expire(sbiod);
        if (got > 0) self->answerBytes += static_cast<std::size_t>(got);
        return got;
    }
    static ber_slen_t WriteLayer(Sockbuf_IO_Desc* sbiod, void* buffer, ber_len_t length)
    {
        const ber_slen_t put = LBER_SBIOD_WRITE_NEXT(sbiod, buffer, length);
        if (put < 0) Expire(sbiod);
        if (put > 0) static_cast<Connection*>(sbiod->sbiod_pvt)->answerBytes = 0;
        return put;
    }
    // A long answer is read in batches. A server writes each entry on its
    // own; read as soon as it arrives, every entry wakes this process and
    // costs the server the wake-up, and for a listing of many small entries
    // that is most of the time both sides spend. So once an answer has
    // passed kStreamingBytes, a read that finds less than kBatchBytes
    // waiting first gives the server kBatchWait to write more, at most once
    // every kBatchWait. A short answer is never held up; a long one ends at
    // most kBatchWait later, and arrives much sooner (against slapd, 100,000
    // names in less than half the time).
    void WaitForBatch(Sockbuf_IO_Desc* sbiod)
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
            ioctl(fd, FIONREAD, &waiting) != 0 || waiting >= kBatchBytes) {
            return;
        }
        const timespec pause{0, std::chrono::nanoseconds(kBatchWait).count()};
        nanosleep(&pause, nullptr);
        lastBatchWait = std::chrono::steady_clock::now();
    }
    static void Expire(Sockbuf_IO_Desc* sbiod)
    {
        auto* self = static_cast<Connection*>(sbiod->sbiod_pvt);
        if ((errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) && self->connecting &&
            std::chrono::steady_clock::now() >= self->deadline) {
            self->expired = true;
            errno = ETIMEDOUT;
        }
    }
    static void OnClose(LDAP*, Sockbuf*, ldap_conncb*) {}

    ldap_conncb callbacks_{};
};

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
    return ldap::CertificateProblem(der, transport.caCertFile, ldap::HostOfServer(server));
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

// Opens a connection to server and binds as dn (anonymously when dn is
// empty): connect, TLS, bind. bindResult receives the server's answer to a
// refused bind. A TLS failure's record says why, except in a quick request,
// which has no time for a second look and writes no record.
unsigned Open(const std::string& server, const Transport& transport, const std::string& dn,
              std::string_view password, Connection& connection, int& bindResult,
              unsigned timeLimitMs = 0)
{
    bindResult = LDAP_SUCCESS;
    // An empty password with a DN would be an unauthenticated bind, which
    // servers accept without checking anything.
    if (!dn.empty() && password.empty()) {
        bindResult = LDAP_INVALID_CREDENTIALS;
        return kStatusBindFailed;
    }
    const Timeouts timeouts = CurrentTimeouts(timeLimitMs);
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

unsigned SearchFailure(int rc)
{
    switch (rc) {
        case LDAP_NO_SUCH_OBJECT:
            return kStatusNoSuchEntry;
        case LDAP_REFERRAL:  // the base lives on another server, which is never asked
            return kStatusReferral;
        case LDAP_INVALID_DN_SYNTAX:
            return kStatusMalformedName;
        case LDAP_TIMEOUT:
        case LDAP_TIMELIMIT_EXCEEDED:
            return kStatusTimeout;
        case LDAP_SERVER_DOWN:
        case LDAP_CONNECT_ERROR:
            return kLost;
        default:
            return kStatusRefused;
    }
}

// Reads one entry of a search's answer into entry, reusing its storage.
void ReadEntry(LDAP* ld, LDAPMessage* message, Entry& entry)
{
    entry.dn.clear();
    entry.attributes.clear();
    if (char* dn = ldap_get_dn(ld, message)) {
        entry.dn = dn;
        ldap_memfree(dn);
    }
    BerElement* ber = nullptr;
    for (char* name = ldap_first_attribute(ld, message, &ber); name != nullptr;
         name = ldap_next_attribute(ld, message, ber)) {
        std::vector<std::string> values;
        if (berval** found = ldap_get_values_len(ld, message, name)) {
            for (berval** value = found; *value != nullptr; ++value) {
                values.emplace_back((*value)->bv_val, (*value)->bv_len);
            }
            ldap_value_free_len(found);
        }
        entry.attributes.emplace_back(OvAsciiLower(name), std::move(values));
        ldap_memfree(name);
    }
    if (ber != nullptr) ber_free(ber, 0);
}

struct Query {
    std::string base;
    int scope = LDAP_SCOPE_SUBTREE;
    std::string filter;
    std::vector<std::string> attributes;  // empty: the DN alone
    // The filter as a tree, when its text may have to be made again for the
    // connection's schema.
    const Filter* tree = nullptr;
    int sizeLimit = 0;         // 0: every entry, page by page
    unsigned timeLimitMs = 0;  // 0: the configured time-outs
    // Receives the server's matched DN when the base does not exist.
    std::string* matchedDn = nullptr;
    bool tentative = false;  // as SearchRequest::tentative
    // With a time limit: when the whole request, schema and answer, must be
    // done.
    std::chrono::steady_clock::time_point deadline{};
};

// A quick request's limit in time, from now on.
void StartClock(Query& query, unsigned timeLimitMs)
{
    query.timeLimitMs = timeLimitMs;
    query.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
}

// The attributes of the one entry base names (the root DSE when empty).
Query EntryQuery(std::string base, std::vector<std::string> attributes)
{
    Query query;
    query.base = std::move(base);
    query.scope = LDAP_SCOPE_BASE;
    query.filter = "(objectClass=*)";
    query.attributes = std::move(attributes);
    return query;
}

// The root DSE's list of naming contexts.
Query NamingContextsQuery() { return EntryQuery(std::string(), {"namingContexts"}); }

// Gathers an answer into a vector; a restart drops what came before it.
class Collector final : public EntryVisitor {
public:
    explicit Collector(std::vector<Entry>& out) : out_(out) {}
    void Visit(Entry& entry) override { out_.push_back(std::move(entry)); }
    void Restart() override { std::vector<Entry>().swap(out_); }

private:
    std::vector<Entry>& out_;
};

// One search, page by page, its entries handed to the visitor as they
// arrive, so that the caller's work on them overlaps the server's. Continuation
// references are passed over. An answer of more than maxEntries entries is
// abandoned: kStatusTooManyEntries.
//
// A server that refuses the size of the first page is asked again with a
// smaller one (kPageSize, then half as many each time down to
// kSmallestPageSize); the visitor is told to start again. Once a page has
// been answered the server's cookie belongs to the size it accepted, and a
// refusal is the search's answer.
class PagedSearch {
public:
    PagedSearch(LDAP* ld, const Query& query, EntryVisitor& visitor, int& pageSize,
                std::size_t maxEntries)
        : ld_(ld),
          query_(query),
          visitor_(visitor),
          pageSize_(pageSize),
          maxEntries_(maxEntries),
          timeouts_(CurrentTimeouts(query.timeLimitMs)),
          limited_(query.sizeLimit > 0),
          // A base search answers one entry at most, and a limited one is
          // asked for its few entries at once; every other one is paged.
          paged_(query.scope != LDAP_SCOPE_BASE && !limited_),
          cookieOwner_(nullptr, [](char* p) { ber_memfree(p); })
    {
        static char noAttributes[] = "1.1";
        for (const std::string& name : query.attributes) {
            attributes_.push_back(const_cast<char*>(name.c_str()));
        }
        if (attributes_.empty()) attributes_.push_back(noAttributes);
        attributes_.push_back(nullptr);
    }

    unsigned Run()
    {
        for (;;) {
            int msgid = -1;
            if (const unsigned status = SendPage(msgid)) return status;
            int code = LDAP_OTHER;
            bool more = false;
            if (const unsigned status = ReadPage(msgid, code, more)) return status;
            if (RetryFirstPage(code)) continue;
            // A limited search that reached its limit has what it asked for.
            if (limited_ && code == LDAP_SIZELIMIT_EXCEEDED) return 0;
            if (code != LDAP_SUCCESS) return SearchFailure(code);
            if (!more) return 0;
            stage_ = Stage::LaterPage;
        }
    }

private:
    // Whether the page being read is the search's first: only it may be
    // asked for again with a smaller size.
    enum class Stage { FirstPage, LaterPage };

    // Sends the request for the next page (the whole answer when unpaged).
    unsigned SendPage(int& msgid)
    {
        LDAPControl* pageControl = nullptr;
        if (paged_ &&
            ldap_create_page_control(ld_, pageSize_, &cookie_, 0, &pageControl) != LDAP_SUCCESS) {
            return kStatusRefused;
        }
        LDAPControl* controls[] = {pageControl, nullptr};
        timeval limit = timeouts_.method;
        const int rc = ldapseam::Active().searchExt(
            ld_, query_.base.c_str(), query_.scope, query_.filter.c_str(), attributes_.data(), 0,
            paged_ ? controls : nullptr, nullptr, &limit,
            limited_ ? query_.sizeLimit : LDAP_NO_LIMIT, &msgid);
        if (pageControl != nullptr) ldap_control_free(pageControl);
        return rc == LDAP_SUCCESS ? 0u : SearchFailure(rc);
    }

    // Takes the page's messages one by one as they arrive, so that no page
    // is held whole in memory, until its result; code and more receive
    // the result code and whether another page follows. A quick request's
    // time limit holds for the whole answer, not for each message: a server
    // that keeps sending is stopped when the time is up.
    unsigned ReadPage(int msgid, int& code, bool& more)
    {
        for (bool done = false; !done;) {
            timeval wait = timeouts_.method;
            if (query_.timeLimitMs != 0) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      query_.deadline - std::chrono::steady_clock::now())
                                      .count();
                if (left <= 0) {
                    ldap_abandon_ext(ld_, msgid, nullptr, nullptr);
                    return kStatusTimeout;
                }
                if (left < static_cast<long long>(wait.tv_sec) * 1000 + wait.tv_usec / 1000)
                    wait = Milliseconds(static_cast<unsigned>(left));
            }
            LDAPMessage* answer = nullptr;
            const int rc = ldapseam::Active().result(ld_, msgid, LDAP_MSG_ONE, &wait, &answer);
            if (rc <= 0) {
                const int reason = errno;
                if (answer != nullptr) ldap_msgfree(answer);
                const int error = rc == 0 ? LDAP_TIMEOUT : LastError(ld_);
                // An answer that did not decode leaves libldap's record of
                // the request in use; unbinding with it so aborts the
                // process. Abandoning the request first settles it.
                ldap_abandon_ext(ld_, msgid, nullptr, nullptr);
                NoteBrokenAnswer(error, reason);
                if (rc == 0) return kStatusTimeout;
                return SearchFailure(error) == kLost ? kLost : kUndecodable;
            }
            unsigned status = 0;
            for (LDAPMessage* message = ldap_first_message(ld_, answer);
                 message != nullptr && status == 0; message = ldap_next_message(ld_, message)) {
                status = TakeMessage(message, code, more, done);
            }
            ldap_msgfree(answer);
            if (status != 0) {
                ldap_abandon_ext(ld_, msgid, nullptr, nullptr);
                return status;
            }
        }
        return 0;
    }

    unsigned TakeMessage(LDAPMessage* message, int& code, bool& more, bool& done)
    {
        const int type = ldap_msgtype(message);
        if (type == LDAP_RES_SEARCH_ENTRY) {
            // A limited request has what it asked for, whatever the server
            // goes on sending.
            if (limited_ && handed_ >= static_cast<std::size_t>(query_.sizeLimit))
                return kStoppedAtLimit;
            if (handed_ >= maxEntries_) return kStatusTooManyEntries;
            ReadEntry(ld_, message, entry_);
            ++handed_;
            visitor_.Visit(entry_);
        } else if (type == LDAP_RES_SEARCH_RESULT) {
            done = true;
            LDAPControl** returned = nullptr;
            char* matched = nullptr;
            char** referrals = nullptr;
            if (ldap_parse_result(ld_, message, &code, &matched, nullptr, &referrals, &returned,
                                  0) != LDAP_SUCCESS) {
                code = LastError(ld_);
            }
            if (code == LDAP_NO_SUCH_OBJECT && query_.matchedDn != nullptr)
                *query_.matchedDn = matched != nullptr ? matched : "";
            if (matched != nullptr) ldap_memfree(matched);
            more = paged_ && ReadPageResponse(returned);
            if (returned != nullptr) ldap_controls_free(returned);
            if (code == LDAP_REFERRAL) NoteReferral(referrals);
            if (referrals != nullptr) ber_memvfree(reinterpret_cast<void**>(referrals));
        }
        // LDAP_RES_SEARCH_REFERENCE: passed over, never chased.
        return 0;
    }

    // Abandoning the request resets the handle's result code: what broke the
    // answer is put back, with what happened, for the failure's record.
    // reason: errno as the read left it.
    void NoteBrokenAnswer(int code, int reason)
    {
        ldap_set_option(ld_, LDAP_OPT_RESULT_CODE, &code);
        const char* what = nullptr;
        if (code == LDAP_TIMEOUT)
            what = "the server did not answer in time";
        else if (reason == ERANGE)
            what =
                "the server announced a message larger than the limit of 64 MiB; the "
                "connection was closed";
        else if (IsConnectionError(code))
            what = "the connection ended in the middle of the server's answer";
        if (what != nullptr) ldap_set_option(ld_, LDAP_OPT_DIAGNOSTIC_MESSAGE, what);
    }

    // A result that refers the search to another server names the server
    // in the failure's record; the referral is never followed.
    void NoteReferral(char** urls)
    {
        const std::string text = urls != nullptr && urls[0] != nullptr
                                     ? std::string("referred to ") + urls[0]
                                     : std::string("referred elsewhere, to no URL");
        ldap_set_option(ld_, LDAP_OPT_DIAGNOSTIC_MESSAGE, text.c_str());
    }

    // Keeps the cookie of the page control among returned; whether it asks
    // for another page.
    bool ReadPageResponse(LDAPControl** returned)
    {
        LDAPControl* response =
            returned ? ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, returned, nullptr) : nullptr;
        // A control without a value, or with an empty one, is malformed, and
        // libldap's parser crashes on it: read as no cookie, like any other
        // control that does not parse.
        if (response == nullptr || response->ldctl_value.bv_val == nullptr ||
            response->ldctl_value.bv_len == 0) {
            return false;
        }
        ber_int_t estimate = 0;
        berval next{};
        if (ldap_parse_pageresponse_control(ld_, response, &estimate, &next) != LDAP_SUCCESS)
            return false;
        cookieOwner_.reset(next.bv_val);
        cookie_ = next;
        return cookie_.bv_len > 0;
    }

    // A first page refused for its size is asked for again, smaller, and
    // the visitor starts over.
    bool RetryFirstPage(int code)
    {
        if (!paged_ || stage_ != Stage::FirstPage) return false;
        const bool tooLarge = code == LDAP_ADMINLIMIT_EXCEEDED ||
                              code == LDAP_UNWILLING_TO_PERFORM || code == LDAP_SIZELIMIT_EXCEEDED;
        if (tooLarge && pageSize_ > kPageSize) {
            pageSize_ = kPageSize;
        } else if (code == LDAP_ADMINLIMIT_EXCEEDED && pageSize_ > kSmallestPageSize) {
            pageSize_ /= 2;
        } else {
            return false;
        }
        cookieOwner_.reset();
        cookie_ = berval{};
        handed_ = 0;
        visitor_.Restart();
        return true;
    }

    LDAP* ld_;
    const Query& query_;
    EntryVisitor& visitor_;
    int& pageSize_;
    const std::size_t maxEntries_;
    const Timeouts timeouts_;
    const bool limited_;
    const bool paged_;
    std::vector<char*> attributes_;
    Stage stage_ = Stage::FirstPage;
    berval cookie_{};
    std::unique_ptr<char, void (*)(char*)> cookieOwner_;
    std::size_t handed_ = 0;
    Entry entry_;  // storage reused from entry to entry
};

unsigned RunSearch(LDAP* ld, const Query& query, EntryVisitor& visitor, int& pageSize,
                   std::size_t maxEntries)
{
    return PagedSearch(ld, query, visitor, pageSize, maxEntries).Run();
}

unsigned RunSearch(LDAP* ld, const Query& query, std::vector<Entry>& out, int& pageSize,
                   std::size_t maxEntries)
{
    Collector collector(out);
    return RunSearch(ld, query, collector, pageSize, maxEntries);
}

// Puts together the values that the server answered in parts (LdapRanges.h):
// each part after the first is asked for on the entry itself until a part
// ends in "*". The values are kept under the attribute's plain name.
unsigned ReadRangedValues(LDAP* ld, std::vector<Entry>& entries, int& pageSize,
                          std::size_t maxEntries)
{
    for (Entry& entry : entries) {
        for (std::size_t i = 0; i < entry.attributes.size(); ++i) {
            ldap::ValueRange range;
            if (!ldap::ParseValueRange(entry.attributes[i].first, range)) continue;
            std::vector<std::string> values = std::move(entry.attributes[i].second);
            entry.attributes.erase(entry.attributes.begin() + static_cast<std::ptrdiff_t>(i));
            --i;
            // Every value, and every part even one without values, counts
            // against the entry limit: a server that never ends the parts
            // cannot make the answer grow, or the asking go on, without end.
            std::size_t parts = 0;
            while (!range.last) {
                if (values.size() + ++parts > maxEntries) return kStatusTooManyEntries;
                const Query next =
                    EntryQuery(entry.dn, {ldap::RangeFrom(range.attribute, range.high + 1)});
                std::vector<Entry> answer;
                if (const unsigned status = RunSearch(ld, next, answer, pageSize, maxEntries))
                    return status;
                // No entry or no part: the values past the last part are gone.
                if (answer.empty()) break;
                bool found = false;
                for (auto& [name, part] : answer.front().attributes) {
                    ldap::ValueRange got;
                    if (!ldap::ParseValueRange(name, got) || got.attribute != range.attribute)
                        continue;
                    // A part that does not go on from where the last one
                    // ended would be asked for again and again.
                    if (got.low != range.high + 1) return kStatusRefused;
                    values.insert(values.end(), std::make_move_iterator(part.begin()),
                                  std::make_move_iterator(part.end()));
                    range = std::move(got);
                    found = true;
                    break;
                }
                if (!found) break;
            }
            auto same = std::find_if(entry.attributes.begin(), entry.attributes.end(),
                                     [&](const auto& a) { return a.first == range.attribute; });
            if (same == entry.attributes.end()) {
                entry.attributes.emplace_back(range.attribute, std::move(values));
            } else {
                same->second.insert(same->second.end(), std::make_move_iterator(values.begin()),
                                    std::make_move_iterator(values.end()));
            }
        }
    }
    return 0;
}

// Passes entries on as they come, except those with an attribute whose
// values came in parts (LdapRanges.h): they are held until the rest of their
// values has been read.
class RangeHolder final : public EntryVisitor {
public:
    explicit RangeHolder(EntryVisitor& next) : next_(next) {}
    void Visit(Entry& entry) override
    {
        for (const auto& attribute : entry.attributes) {
            ldap::ValueRange range;
            if (ldap::ParseValueRange(attribute.first, range)) {
                held.push_back(std::move(entry));
                return;
            }
        }
        next_.Visit(entry);
    }
    void Restart() override
    {
        std::vector<Entry>().swap(held);
        next_.Restart();
    }
    std::vector<Entry> held;

private:
    EntryVisitor& next_;
};

// One server a request goes to, how, and as whom.
struct Target {
    std::string server;  // host[:port] for the URL and the connection's key
    Transport transport;
    bool serviceAccount = false;  // false: anonymous
};

// The answer of a search that a server outside the configured directory
// gives an anonymous client it will not serve.
bool RefusesAnonymous(int code)
{
    switch (code) {
        case LDAP_OPERATIONS_ERROR:  // Active Directory: "a successful bind must be completed"
        case LDAP_STRONG_AUTH_REQUIRED:
        case LDAP_CONFIDENTIALITY_REQUIRED:
        case LDAP_INAPPROPRIATE_AUTH:
        case LDAP_INSUFFICIENT_ACCESS:
        case LDAP_UNWILLING_TO_PERFORM:
            return true;
        default:
            return false;
    }
}

// Whether the server of a failed request was not there to answer, so the
// next server of the directory is asked.
bool ServerGone(unsigned status)
{
    return status == kStatusUnreachable || status == kStatusTimeout;
}

// One error record for a failure that came from a server: the LDAP result
// code, the library's text for it and the server's diagnostic message. An
// answer that a status says whole (no such entry) writes none.
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

class LdapDirectory final : public Directory {
public:
    explicit LdapDirectory(DirectorySettings settings) : settings_(std::move(settings))
    {
        std::string bad;
        valid_ = ldap::ParseServerList(settings_.directory, "", servers_, bad) &&
                 !servers_.empty() &&
                 ldap::ParseServerList(settings_.replicas, servers_.front().scheme, replicas_, bad);
        if (valid_) {
            transport_.scheme = servers_.front().scheme;
            server_ = servers_.front().server;
        } else {
            // Every request then answers that the directory cannot be reached.
            ReportServiceFault(kStatusMalformedName, settings_.source, 0,
                               "[UserService] Directory or Replicas: not a server: " +
                                   (bad.empty() ? settings_.directory : bad));
        }
        transport_.startTls = settings_.startTls && transport_.scheme == "ldap";
        transport_.caCertFile = settings_.caCertFile;
    }

    ~LdapDirectory() override
    {
        connections_.clear();
        settings_.bindPassword.clear();
    }

    unsigned Search(const SearchRequest& request, std::vector<Entry>& out) override
    {
        return GatherEach(request, out);
    }

    unsigned SearchEach(const SearchRequest& request, EntryVisitor& visitor) override
    {
        if (!valid_) return kStatusUnreachable;
        if (!request.server.empty() && !ldap::ValidServer(request.server))
            return kStatusMalformedName;
        Query query;
        if (!ldap::NormaliseDn(request.base, query.base)) return kStatusMalformedName;
        if (!ldap::RenderFilterFor(request.filter, ldap::KnownSchema(), query.filter))
            return kStatusMalformedName;
        // The root DSE is no entry of the directory.
        if (query.base.empty()) return kStatusNoSuchEntry;
        if (ldap::HasNegation(request.filter)) query.tree = &request.filter;
        query.scope = request.scope == Scope::Base       ? LDAP_SCOPE_BASE
                      : request.scope == Scope::OneLevel ? LDAP_SCOPE_ONELEVEL
                                                         : LDAP_SCOPE_SUBTREE;
        query.attributes = request.attributes;
        query.sizeLimit = static_cast<int>(std::min<std::size_t>(request.sizeLimit, 1000000));
        query.matchedDn = request.matchedDn;
        query.tentative = request.tentative;
        if (request.timeLimitMs != 0) StartClock(query, request.timeLimitMs);
        return Run(request.server, query, visitor);
    }

    unsigned NamingContexts(std::vector<std::string>& out) override
    {
        return QuickNamingContexts(out, 0);
    }

    unsigned QuickNamingContexts(std::vector<std::string>& out, unsigned timeLimitMs) override
    {
        out.clear();
        if (!valid_) return kStatusUnreachable;
        std::vector<Entry> found;
        Query query = NamingContextsQuery();
        if (timeLimitMs != 0) StartClock(query, timeLimitMs);
        Collector collector(found);
        const unsigned status = Run(std::string(), query, collector);
        if (status != 0) return status;
        for (const Entry& entry : found) {
            if (const auto* values = entry.Find("namingcontexts")) {
                out.insert(out.end(), values->begin(), values->end());
            }
        }
        return 0;
    }

    unsigned CheckPassword(const std::string& dn, const std::string& password,
                           bool& accepted) override
    {
        accepted = false;
        if (!valid_) return kStatusUnreachable;
        std::string bindDn;
        if (password.empty() || dn.empty() || !ldap::NormaliseDn(dn, bindDn)) return 0;
        const std::vector<Target> targets = Targets(std::string());
        unsigned status = kStatusUnreachable;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const Target& target = targets[i];
            Connection connection;
            int bindResult = LDAP_SUCCESS;
            status =
                Open(target.server, target.transport, bindDn, password, connection, bindResult);
            if (status == 0) {
                accepted = true;
                Answered(target);
                return 0;
            }
            // A wrong password is the answer; any other refusal is a failure
            // with its own status, never "not authenticated".
            if (bindResult == LDAP_INVALID_CREDENTIALS) {
                Answered(target);
                return 0;
            }
            if (status == kStatusBindFailed) status = kStatusRefused;
            if (!ServerGone(status) || i + 1 == targets.size()) {
                ReportFailure(status, target.transport.scheme + "://" + target.server, connection);
                return status;
            }
        }
        return status;
    }

    unsigned ExplicitDomains(const std::string& server, const std::string& dn,
                             const std::string& password, bool ssl, int limit,
                             std::vector<std::string>& domains, int& searchStatus) override
    {
        domains.clear();
        const std::string target = server.empty() ? server_ : server;
        if (!ValidServer(target)) {
            searchStatus = kDomainSearchConnectionFailed;
            return 0;
        }
        std::string bindDn;
        if (password.empty() || !ldap::NormaliseDn(dn, bindDn)) {
            searchStatus = kDomainSearchInvalidCredentials;
            return 0;
        }
        // SSL off is plain LDAP only where the settings allow plain LDAP:
        // with StartTLS on, the connection is upgraded before the password
        // goes out, or the search fails.
        Transport transport;
        transport.scheme = ssl ? "ldaps" : "ldap";
        transport.startTls = !ssl && settings_.startTls;
        transport.caCertFile = settings_.caCertFile;
        const std::string url = transport.scheme + "://" + target;
        Connection connection;
        int bindResult = LDAP_SUCCESS;
        const unsigned status = Open(target, transport, bindDn, password, connection, bindResult);
        if (status != 0) {
            switch (status) {
                case kStatusBindFailed:
                    searchStatus = kDomainSearchInvalidCredentials;
                    break;
                case kStatusTlsFailed:
                    searchStatus = kDomainSearchSslFailed;
                    break;
                case kStatusUnreachable:
                case kStatusTimeout:
                    searchStatus = kDomainSearchConnectionFailed;
                    break;
                default:
                    searchStatus = kDomainSearchUnknownFailure;
                    break;
            }
            // Wrong credentials are the search's answer, said in full by its status.
            if (bindResult != LDAP_INVALID_CREDENTIALS) ReportFailure(status, url, connection);
            return 0;
        }

        std::vector<Entry> rootDse;
        int pageSize = kLargestPageSize;
        const unsigned read = RunSearch(connection.ld, NamingContextsQuery(), rootDse, pageSize,
                                        settings_.maxEntries);
        if (read != 0 || rootDse.empty()) {
            connection.NoteFailure("search", LastError(connection.ld));
            ReportFailure(read != 0 ? read : kStatusNoSuchEntry, url, connection);
            searchStatus = kDomainSearchFailed;
            return 0;
        }
        const std::vector<std::string>* contexts = rootDse.front().Find("namingcontexts");
        std::vector<std::string> found;
        for (std::size_t i = 0; contexts != nullptr && i < contexts->size(); ++i) {
            if (limit > 0 && static_cast<long>(found.size()) >= limit) break;
            Query check;
            check.base = (*contexts)[i];
            check.scope = LDAP_SCOPE_BASE;
            ldap::RenderFilter(KindFilter(EntryKind::Domain), check.filter);
            std::vector<Entry> entry;
            const unsigned checked =
                RunSearch(connection.ld, check, entry, pageSize, settings_.maxEntries);
            if (checked == kLost || checked == kStatusTimeout || checked == kUndecodable) {
                connection.NoteFailure("search", LastError(connection.ld));
                ReportFailure(checked == kStatusTimeout ? checked : kStatusUnreachable, url,
                              connection);
                searchStatus = kDomainSearchFailed;
                return 0;
            }
            // A context this account may not read is not listed.
            if (checked == 0 && !entry.empty()) found.push_back((*contexts)[i]);
        }
        domains = std::move(found);
        searchStatus = kDomainSearchSuccess;
        return 0;
    }

    std::string DefaultServer() const override { return server_; }

    // The schema of the server that answers requests naming server, read
    // once per connection; the standard chains when it shows none.
    std::shared_ptr<const ClassChains> Classes(const std::string& server) override
    {
        if (valid_ && (server.empty() || ldap::ValidServer(server))) {
            const std::vector<Target> targets = Targets(server);
            const auto it = targets.empty()
                                ? connections_.end()
                                : connections_.find(OvAsciiLower(targets.front().server));
            if (it != connections_.end()) {
                Connection& connection = *it->second;
                if (!connection.schemaRead) {
                    connection.schemaRead = true;
                    ReadSchema(connection, Query());
                }
                if (connection.schema.known) return connection.schema.chains;
            }
        }
        return ClassChains::Standard();
    }

private:
    // The servers to ask for a request that names server (empty: none), in
    // order. The servers of Directory= come from the one in use onwards, and
    // only they and the replicas receive the service account.
    std::vector<Target> Targets(const std::string& server) const
    {
        std::vector<Target> targets;
        ldap::ServerAddress named;
        const bool ofDirectory =
            server.empty() ||
            std::any_of(servers_.begin(), servers_.end(), [&](const ldap::ServerAddress& known) {
                return ldap::ParseServer(known.scheme, server, named) && named.Same(known);
            });
        if (ofDirectory) {
            for (std::size_t i = 0; i < servers_.size(); ++i) {
                targets.push_back(TargetFor(servers_[(current_ + i) % servers_.size()], true));
            }
            return targets;
        }
        for (const ldap::ServerAddress& replica : replicas_) {
            if (ldap::ParseServer(replica.scheme, server, named) && named.Same(replica)) {
                targets.push_back(TargetFor(replica, true));
                return targets;
            }
        }
        Target stranger;
        stranger.server = server;
        stranger.transport = transport_;
        targets.push_back(std::move(stranger));
        return targets;
    }

    Target TargetFor(const ldap::ServerAddress& address, bool serviceAccount) const
    {
        Target target;
        target.server = address.server;
        target.transport.scheme = address.scheme;
        target.transport.startTls = settings_.startTls && address.scheme == "ldap";
        target.transport.caCertFile = settings_.caCertFile;
        target.serviceAccount = serviceAccount;
        return target;
    }

    // A server of Directory= answered: the next requests start there.
    void Answered(const Target& target)
    {
        for (std::size_t i = 0; i < servers_.size(); ++i) {
            if (servers_[i].server == target.server &&
                servers_[i].scheme == target.transport.scheme) {
                current_ = i;
                server_ = servers_[i].server;
            }
        }
    }

    // Runs the query on the first server of the request's targets that
    // answers; a server that cannot be reached gives way to the next.
    unsigned Run(const std::string& server, const Query& query, EntryVisitor& visitor)
    {
        const std::vector<Target> targets = Targets(server);
        unsigned status = kStatusUnreachable;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            Connection failed;
            // The next server answers from the start.
            if (i > 0) visitor.Restart();
            status = RunOn(targets[i], query, visitor, failed);
            if (status == 0) {
                Answered(targets[i]);
                return 0;
            }
            if (!ServerGone(status) || i + 1 == targets.size()) {
                if (query.timeLimitMs == 0 && !(query.tentative && status == kStatusMalformedName))
                    ReportFailure(status, targets[i].transport.scheme + "://" + targets[i].server,
                                  failed);
                return status;
            }
        }
        return status;
    }

    // Runs the query on the target's kept connection, opening it first when
    // needed; a connection found broken is re-opened once. failed receives
    // what the server said to a request that failed.
    unsigned RunOn(const Target& target, const Query& query, EntryVisitor& visitor,
                   Connection& failed)
    {
        const std::string key = OvAsciiLower(target.server);
        for (int attempt = 0; attempt < 2; ++attempt) {
            auto it = connections_.find(key);
            const bool fresh = it == connections_.end();
            if (fresh) {
                std::unique_ptr<Connection> connection;
                if (const unsigned status = Connect(target, query, connection, failed))
                    return status;
                it = connections_.emplace(key, std::move(connection)).first;
            }
            // A connection re-opened asks again from the start.
            if (attempt > 0) visitor.Restart();
            bool rangesBroken = false;
            unsigned status = SearchOn(*it->second, query, visitor, rangesBroken);
            if (status == 0) return 0;
            if (status == kStoppedAtLimit) {
                connections_.erase(it);
                return 0;
            }
            if (status == kUnrenderable) return kStatusMalformedName;
            if (status == kStatusTooManyEntries) {
                // The server may still be sending the rest: the connection
                // goes, and the memory of what was read goes back to the
                // system rather than staying in the allocator's free lists.
                visitor.Restart();
                connections_.erase(it);
                malloc_trim(0);
                ReportServiceFault(status, target.transport.scheme + "://" + target.server, 0,
                                   "the answer has more than " +
                                       std::to_string(settings_.maxEntries) +
                                       " entries (MaxEntries)");
                return status;
            }
            Connection& connection = *it->second;
            connection.NoteFailure("search", LastError(connection.ld));
            if (status == kUndecodable)
                connection.diagnostic = "the server's answer could not be decoded";
            else if (rangesBroken)
                connection.diagnostic =
                    "the server's ranges of an attribute's values do not go on where they ended";
            Keep(failed, connection);
            if (status == kUndecodable || status == kLost || status == kStatusTimeout) {
                // A connection with a request still open, or whose stream
                // did not decode, cannot be trusted with the next one.
                connections_.erase(it);
                if (status == kLost && !fresh) continue;
                return status == kUndecodable ? kStatusRefused
                       : status == kLost      ? kStatusUnreachable
                                              : status;
            }
            if (!target.serviceAccount && status == kStatusRefused &&
                RefusesAnonymous(failed.failedCode))
                status = kStatusAnonymousRefused;
            return status;
        }
        return kStatusUnreachable;
    }

    // Opens and binds a connection to the target, as the service account or
    // anonymously; failed receives what the server said when that fails.
    unsigned Connect(const Target& target, const Query& query,
                     std::unique_ptr<Connection>& connection, Connection& failed)
    {
        if (target.serviceAccount && settings_.passwordUnreadable)
            return kStatusPasswordFileUnreadable;
        connection = std::make_unique<Connection>();
        int bindResult = LDAP_SUCCESS;
        const std::string& dn = target.serviceAccount ? settings_.bindDn : std::string();
        const std::string_view password =
            target.serviceAccount ? settings_.bindPassword.View() : std::string_view();
        unsigned status = Open(target.server, target.transport, dn, password, *connection,
                               bindResult, query.timeLimitMs);
        if (status == 0) return 0;
        Keep(failed, *connection);
        if (!target.serviceAccount && bindResult != LDAP_SUCCESS) status = kStatusAnonymousRefused;
        return status;
    }

    // The query on an open connection, its filter adapted to the server's
    // schema; entries with values in parts are completed before they are
    // handed over. rangesBroken: the parts did not go on where they ended.
    unsigned SearchOn(Connection& connection, const Query& query, EntryVisitor& visitor,
                      bool& rangesBroken)
    {
        if (query.tree != nullptr && !connection.schemaRead) {
            connection.schemaRead = true;
            ReadSchema(connection, query);
        }
        Query adapted;
        if (query.tree != nullptr && connection.schema.known) {
            adapted = query;
            if (!ldap::RenderFilterFor(*query.tree, connection.schema, adapted.filter))
                return kStatusMalformedName;
        }
        RangeHolder holder(visitor);
        unsigned status = RunSearch(connection.ld, adapted.tree != nullptr ? adapted : query,
                                    holder, connection.pageSize, settings_.maxEntries);
        // Entries held for the rest of their values are not asked about on
        // a connection the server is still flooding: a quick request goes
        // without them.
        if (status != 0 || holder.held.empty()) return status;
        status =
            ReadRangedValues(connection.ld, holder.held, connection.pageSize, settings_.maxEntries);
        rangesBroken = status == kStatusRefused;
        if (status == 0)
            for (Entry& entry : holder.held) visitor.Visit(entry);
        return status;
    }

    // What the server's schema knows, from the subschema entry its root DSE
    // names. A server that does not show it gets its filters unchanged. Both
    // are base searches of one entry, within the time of the request they
    // are made for: a server that sends more is not read on.
    static void ReadSchema(Connection& connection, const Query& forQuery)
    {
        Query root = EntryQuery(std::string(), {"subschemaSubentry"});
        root.timeLimitMs = forQuery.timeLimitMs;
        root.deadline = forQuery.deadline;
        std::vector<Entry> found;
        if (RunSearch(connection.ld, root, found, connection.pageSize, 1) != 0 || found.empty())
            return;
        Query subschema = root;
        subschema.base = found.front().First("subschemasubentry");
        if (subschema.base.empty()) return;
        subschema.scope = LDAP_SCOPE_BASE;
        subschema.filter = "(objectClass=subschema)";
        subschema.attributes = {"objectClasses", "attributeTypes"};
        found.clear();
        if (RunSearch(connection.ld, subschema, found, connection.pageSize, 1) != 0 ||
            found.empty())
            return;
        const std::vector<std::string> none;
        const auto* classes = found.front().Find("objectclasses");
        const auto* attributes = found.front().Find("attributetypes");
        connection.schema.Learn(classes ? *classes : none, attributes ? *attributes : none);
    }

    static void Keep(Connection& to, const Connection& from)
    {
        to.failedOperation = from.failedOperation;
        to.failedCode = from.failedCode;
        to.diagnostic = from.diagnostic;
    }

    DirectorySettings settings_;
    bool valid_ = false;
    Transport transport_;  // of the first server: for servers outside the directory
    std::vector<ldap::ServerAddress> servers_;
    std::vector<ldap::ServerAddress> replicas_;
    std::size_t current_ = 0;
    std::string server_;  // the server in use
    std::map<std::string, std::unique_ptr<Connection>> connections_;
};

}  // namespace

std::unique_ptr<Directory> MakeLdapDirectory(const DirectorySettings& settings)
{
    return std::make_unique<LdapDirectory>(settings);
}

std::unique_ptr<Directory> MakeLdapDirectory(DirectorySettings&& settings)
{
    return std::make_unique<LdapDirectory>(std::move(settings));
}

}  // namespace ovdir
