// The directory that the user and directory services answer from, and the
// contract both backends (embedded LDIF, ldap) keep. The services hold all
// naming, sorting and membership logic; a backend only searches, lists its
// naming contexts and checks passwords, so both give the same answers to the
// same data.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ovdir {

// Status codes of the services. The event log has a text for each.
enum : unsigned {
    kStatusMalformedName = 0x30A20001u,     // a context, FQDN or login that does not parse
    kStatusUnsupportedType = 0x30A20002u,   // a directory type other than LDAP, ADS, NDS, IPLANET
    kStatusNoSuchEntry = 0x30A20003u,       // no entry with that name
    kStatusAmbiguous = 0x30A20004u,         // more than one entry with that name
    kStatusUnreachable = 0x30A20005u,       // the directory server could not be reached
    kStatusTimeout = 0x30A20006u,           // the directory did not answer in time
    kStatusRefused = 0x30A20007u,           // the directory refused the request
    kStatusLoadFailed = 0x30A20008u,        // the directory file could not be loaded
    kStatusNoEmail = 0x30A20009u,           // the user has no e-mail address
    kStatusNoSession = 0x30A2000Au,         // nobody is logged on at the address
    kStatusTlsFailed = 0x30A2000Bu,         // TLS could not be set up or verified
    kStatusBindFailed = 0x30A2000Cu,        // the service account's credentials were refused
    kStatusSessionsLoadFailed = 0x30A2000Du, // the sessions file could not be read
    kStatusTooManyEntries = 0x30A20010u      // an answer larger than the entry limit
};

// Module id of the services' error records.
constexpr unsigned kServicesModuleId = 0x30A200u;

// An error record of the services naming location and line, written when an
// application is there to take it.
void ReportServiceFault(unsigned status, const std::string& location, int line,
                        const std::string& message);

// One directory entry. Attribute names are lower case; values as stored.
struct Entry {
    std::string dn;
    std::vector<std::pair<std::string, std::vector<std::string>>> attributes;

    const std::vector<std::string>* Find(std::string_view name) const;
    // The first value of the attribute, or the empty text.
    std::string First(std::string_view name) const;
    // Whether the attribute has the value, compared ignoring case.
    bool HasValue(std::string_view name, std::string_view value) const;
    // Whether the entry is of the object class or of a class derived from it
    // (ClassIsA), as an LDAP server matches (objectClass=person) against an
    // entry that lists only inetOrgPerson.
    bool IsA(std::string_view objectClass) const;
};

// A search filter as a tree, never as text typed by a user: the ldap backend
// renders it with RFC 4515 escaping, the embedded backend evaluates it.
// Every comparison ignores case; DN-valued attributes (member, uniqueMember)
// compare normalised DNs.
struct Filter {
    enum class Kind { And, Or, Not, Equals, Contains, Present };
    Kind kind = Kind::Present;
    std::string attribute;  // lower case
    std::string value;
    std::vector<Filter> children;

    static Filter And(std::vector<Filter> children);
    static Filter Or(std::vector<Filter> children);
    static Filter Not(Filter child);
    static Filter Equals(std::string attribute, std::string value);
    static Filter Contains(std::string attribute, std::string value);
    static Filter Present(std::string attribute);
};

// Whether a stored object class is the wanted one or derives from it in the
// schemas the directories use (core, cosine, inetorgperson, nis, Active
// Directory). Case is ignored.
bool ClassIsA(std::string_view stored, std::string_view wanted);

// Domain entries: of class domain or dcObject.
Filter DomainFilter();

enum class Scope { Base, OneLevel, Subtree };

struct SearchRequest {
    std::string server;  // host[:port] as typed; empty: the configured directory
    std::string base;    // DN
    Scope scope = Scope::Subtree;
    Filter filter;
    std::vector<std::string> attributes;  // lower case; empty: the DN alone
};

class Directory {
public:
    virtual ~Directory();

    // 0 and every matching entry, in any order; kStatusNoSuchEntry when the
    // base does not exist; another status when the directory fails.
    virtual unsigned Search(const SearchRequest& request, std::vector<Entry>& out) = 0;

    // The naming contexts of the configured directory (root DSE).
    virtual unsigned NamingContexts(std::vector<std::string>& out) = 0;

    // Whether the password binds as dn on the configured directory. An
    // empty password is never accepted and never sent.
    virtual unsigned CheckPassword(const std::string& dn, const std::string& password,
                                   bool& accepted) = 0;

    // Binds to server (host[:port]) with dn and password, over TLS when ssl
    // is set, and lists at most limit domain DNs of its naming contexts.
    // searchStatus is a DomainSearchStatus. Returns the service status.
    virtual unsigned ExplicitDomains(const std::string& server, const std::string& dn,
                                     const std::string& password, bool ssl, int limit,
                                     std::vector<std::string>& domains, int& searchStatus) = 0;

    // The server part of printed names when the input named none:
    // "localhost" for the embedded backend, host[:port] for ldap.
    virtual std::string DefaultServer() const = 0;
};

// Room for a directory of a million users with their groups and containers.
constexpr std::size_t kDefaultMaxEntries = 2000000;

// Settings of [UserService] in orvane.ini of the current directory.
struct DirectorySettings {
    std::string directory;  // LDIF path, ldap:// or ldaps:// URL, or empty: the sample
    std::string bindDn;
    std::string bindPassword;
    bool startTls = false;
    std::string caCertFile;
    // Entries one answer of the server may hold (MaxEntries); a larger
    // answer is dropped and its search fails.
    std::size_t maxEntries = kDefaultMaxEntries;
};

DirectorySettings ReadDirectorySettings();

// The value of MaxEntries: a positive decimal number, else the default.
std::size_t ParseEntryLimit(const std::string& text);

// The process's directory, opened from the settings on first use.
Directory& ConfiguredDirectory();

// The ldap backend (LdapDirectory.cpp).
std::unique_ptr<Directory> MakeLdapDirectory(const DirectorySettings& settings);

}  // namespace ovdir
