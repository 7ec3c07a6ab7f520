// One connection to an LDAP server through libldap: connect with a deadline,
// TLS as the transport asks, a simple bind, and the socket layers that bound
// what is read and batch a long answer's reads.
#pragma once

#include "platform/ldapclient/LdapSchema.h"
#include "services/OvServiceSettings.h"

#include <lber.h>
#include <ldap.h>
#include <sys/time.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace ovdir::ldap {

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

// The largest message a server may send: a header that announces more (a
// broken or hostile server's 2 GB) ends the connection before anything is
// allocated for it.
constexpr ber_len_t kLargestMessage = 64u << 20;
struct Timeouts {
    timeval connect;  // connect, TLS and bind
    timeval method;   // each answer of a search
};
// How a connection is carried: the scheme of its URL, whether a plain
// connection is upgraded with StartTLS, the CA certificates TLS checks, and
// how long it waits for the server (the directory's settings).
struct Transport {
    std::string scheme;
    bool startTls = false;
    std::string caCertFile;
    OvServiceTimeouts timeouts;
    bool UsesTls() const { return scheme == "ldaps" || startTls; }
};

// Milliseconds as a timeval.
timeval Milliseconds(unsigned ms);

// The network time-outs as configured; a quick request's own limit
// (timeLimitMs, not 0) shortens both.
Timeouts LimitedTimeouts(const OvServiceTimeouts& configured, unsigned timeLimitMs = 0);

// The handle's last result code; LDAP_OTHER without a handle.
int LastError(LDAP* ld);

bool IsConnectionError(int rc);

// One libldap handle. Its connect callback records that the server was
// reached, which tells a failed TLS handshake from a server that could not be
// reached (libldap reports both as "can't contact"), and puts two layers into
// the socket's stack: a deadline for connecting, and read-ahead.
class Connection {
public:
    Connection();
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
    void NoteFailure(const char* operation, int code);
    int pageSize = kLargestPageSize;
    // The server's schema, read once when a filter first needs it.
    bool schemaRead = false;
    KnownSchema schema;
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
    void ClearSocketTimeout();
    void Close();
    // Before a read of a long answer: gives the server time to write more.
    void WaitForBatch(Sockbuf_IO_Desc* sbiod);

private:
    ldap_conncb callbacks_{};
};

// Opens a connection to server and binds as dn (anonymously when dn is
// empty): connect, TLS, bind. bindResult receives the server's answer to a
// refused bind. A TLS failure's record says why, except in a quick request,
// which has no time for a second look and writes no record.
unsigned Open(const std::string& server, const Transport& transport, const std::string& dn,
              std::string_view password, Connection& connection, int& bindResult,
              unsigned timeLimitMs = 0);

// One error record for a failure that came from a server: the LDAP result
// code, the library's text for it and the server's diagnostic message. An
// answer that a status says whole (no such entry) writes none.
void ReportFailure(unsigned status, const std::string& url, const Connection& connection);

}  // namespace ovdir::ldap
