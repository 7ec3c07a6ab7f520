// Shared helpers of the ldap backend's tests: where the test servers listen,
// settings for them, a listener that never answers, and a counting wrapper
// around the libldap call table.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/directory/Directory.h"
#include "platform/ldapclient/LdapSeam.h"

namespace ldaptest {

// A folder of test-servers.sh: "main", "notls" or "shared".
std::string ServerFolder(const std::string& name);

// The text of a file in a server's folder, e.g. "port"; fails the test when
// the servers are not running.
std::string ServerFile(const std::string& name, const std::string& file);

// "127.0.0.1:PORT" of a server's plain or ldaps listener.
std::string PlainAddress(const std::string& name = "main");
std::string LdapsAddress();
std::string CaFile();

// Settings for the main server: plain ldap, bound as the test reader.
ovdir::DirectorySettings ReaderSettings();

// The three people of ou=People,o=ldaptest, one level down, their DNs alone.
ovdir::SearchRequest People();

// Sets the time-outs that ReaderSettings and Timed give from now on, as
// start-up gives the communication parameters' time-outs to the directory.
void SetTimeouts(unsigned connectionMs, unsigned methodSeconds);
// The settings with those time-outs.
ovdir::DirectorySettings Timed(ovdir::DirectorySettings settings);

// A loopback port that nothing listens on.
std::string ClosedPort();

// A TCP listener on loopback that accepts connections (its backlog does) and
// never answers; closed when destroyed.
class SilentListener {
public:
    SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    ~SilentListener();
    std::string Address() const;

private:
    int fd_ = -1;
    int port_ = 0;
};

// Counts the calls through the libldap table and can make some fail; the
// library's own table is back when destroyed.
class CallCounter {
public:
    CallCounter();
    CallCounter(const CallCounter&) = delete;
    CallCounter& operator=(const CallCounter&) = delete;
    ~CallCounter();

    static int initializes;
    static int binds;
    static int searches;
    static int startTls;
    // Searches that still fail with "server down" before the library answers.
    static int failSearches;
};

}  // namespace ldaptest
