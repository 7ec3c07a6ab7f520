// The directory that the user and directory services answer from, and the
// contract both backends (embedded LDIF, ldap) keep. The services hold all
// naming, sorting and membership logic; a backend only searches, lists its
// naming contexts and checks passwords, so both give the same answers to the
// same data.
//
// The contract, kept by every backend and checked by one test suite against
// each of them (tests/contract):
//
// Output. Every operation that fills a vector clears it first: on success it
// holds exactly the answer, on failure it is empty. Nothing is appended to
// what the caller left in it.
//
// Search.
// - Entries are handed over one by one as the directory gives them
//   (SearchEach), so that a caller works on each while the next is on its
//   way; Search gathers them into a vector. A backend that has to begin an
//   answer again (another page size, another server of the directory) says
//   so with EntryVisitor::Restart before it hands over the first entry anew:
//   what was handed over before is no part of the answer. An answer whose
//   status is not 0 is no answer at all: the caller drops whatever it was
//   handed, never a silent part.
// - The base must name an entry of the directory; otherwise the answer is
//   kStatusNoSuchEntry. The empty DN (the server's root DSE) is no entry of
//   the directory and is answered the same way. A base that does not parse
//   as a DN is kStatusMalformedName. A base is compared as LDAP compares DNs:
//   ignoring case and blanks around separators.
// - Scope Base: the base entry alone (if the filter matches it). OneLevel:
//   the entries directly below the base, not the base. Subtree: the base and
//   every entry below it.
// - Entries come in any order, each with its DN as the directory stores it
//   and the requested attributes that it has (names in lower case, values as
//   stored); an attribute it lacks is left out, never given as an empty list.
//   No attributes requested: the DN alone.
// - Filters are evaluated with two values, true or false. A comparison with
//   an attribute the entry lacks, or with a class or attribute the directory
//   does not know at all, is false, and its negation therefore true: a
//   directory whose schema has no class "computer" answers
//   (&(objectClass=person)(!(objectClass=computer))) with every person.
// - Filter forms: Equals compares ignoring case (objectClass also matches the
//   classes derived from the one named, along the chains Classes gives;
//   member and uniqueMember compare DNs); Contains is a substring match
//   ignoring case, and with an empty value it is Present; Present asks
//   whether the entry has the attribute; Not has exactly one child; And of
//   no children matches every entry, Or of no children none. A
//   default-constructed Filter (Present with no attribute) matches every
//   entry. An attribute name that is neither a descriptor (a letter, then
//   letters, digits, hyphens) nor a numeric OID makes the request
//   kStatusMalformedName; so does a Not without exactly one child. Values
//   are only ever values: "*", "(" and "\" in them are characters to match.
//
// NamingContexts: the DNs of the directory's top entries (an LDAP server's
// namingContexts). Configuration and schema partitions may be among them;
// every entry lies within one of them. A subschema entry, which an LDIF file
// may hold to declare its classes, is none of them.
//
// CheckPassword: 0 and accepted false for an unknown DN, a wrong password or
// an empty one (never sent to a server); another status only when the
// directory cannot be asked.
//
// ExplicitDomains (ExplicitDomainSource, the listing that goes with each
// backend, below): searchStatus says how it went (a DomainSearchStatus); the
// returned status is not 0 only when the directory cannot be used at all.
// The domains are the naming contexts whose entry is a domain or dcObject,
// at most limit of them; a limit of 0 or below sets no cap, as an LDAP size
// limit of 0 does. Refused credentials: kDomainSearchInvalidCredentials and
// no domains.
#pragma once

#include "platform/directory/ClassChains.h"
#include "platform/directory/Secret.h"
#include "services/OvServiceSettings.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ovdir {

// Status codes of the services. The event log has a text for each.
enum : unsigned {
    kStatusMalformedName = 0x30A20001u,       // a context, FQDN or login that does not parse
    kStatusUnsupportedType = 0x30A20002u,     // a directory type other than LDAP, ADS, NDS, IPLANET
    kStatusNoSuchEntry = 0x30A20003u,         // no entry with that name
    kStatusAmbiguous = 0x30A20004u,           // more than one entry with that name
    kStatusUnreachable = 0x30A20005u,         // the directory server could not be reached
    kStatusTimeout = 0x30A20006u,             // the directory did not answer in time
    kStatusRefused = 0x30A20007u,             // the directory refused the request
    kStatusLoadFailed = 0x30A20008u,          // the directory file could not be loaded
    kStatusNoEmail = 0x30A20009u,             // the user has no e-mail address
    kStatusNoSession = 0x30A2000Au,           // nobody is logged on at the address
    kStatusTlsFailed = 0x30A2000Bu,           // TLS could not be set up or verified
    kStatusBindFailed = 0x30A2000Cu,          // the service account's credentials were refused
    kStatusSessionsLoadFailed = 0x30A2000Du,  // the sessions file could not be read
    kStatusTooManyEntries = 0x30A20010u,      // an answer larger than the entry limit
    kStatusAnonymousRefused = 0x30A20020u,    // a server outside the directory refused anonymity
    kStatusProtectionRequired = 0x30A20021u,  // the server wants TLS or a stronger authentication
    kStatusServerBusy = 0x30A20022u,          // the server is busy or unavailable
    kStatusPasswordFileUnreadable = 0x30A20023u,  // the service account's password file
    // The entry exists but is not of the kind the command works on.
    kStatusNotUser = 0x30A20030u,            // a user was asked for
    kStatusNotGroup = 0x30A20031u,           // a group was asked for
    kStatusNotContainer = 0x30A20032u,       // a context names a user or group, not a container
    kStatusExpansionTooLarge = 0x30A20040u,  // a group's members passed the expansion's limits
    kStatusReferral = 0x30A20041u,           // the server referred the request elsewhere
    // Refusals of the service daemon.
    kStatusTooManyAttempts = 0x30A20046u,  // failed authentications: the next must wait
    kStatusServerNotAllowed = 0x30A20047u  // not one of the directory's or the allowed servers
};

// Warning records of the services: the program goes on as asked.
enum : unsigned {
    kWarningPasswordReadable = 0x20A20024u,  // orvane.ini holds BindPassword and others may read it
    kWarningParameterFileWritable = 0x20A20042u,  // other users may write orvane.ini
    kWarningPasswordFileExposed = 0x20A20043u,    // others may read BindPasswordFile or replace it
    kWarningBadLimit = 0x20A20044u,               // a limit's value is not taken; the default holds
    kWarningParameterFileUnread = 0x20A20045u,    // orvane.ini is there but was not read
    kWarningServicesSetting = 0x20A20048u,  // a setting of [ServiceAccess] or [Daemon] is not taken
    kWarningNetwork = 0x20A20049u           // the network library's own message (TLS, sockets)
};

// Notices of the service daemon: started, stopping, a client refused.
constexpr unsigned kNoticeDaemon = 0x10A20050u;

// Module id of the services' error records.
constexpr unsigned kServicesModuleId = 0x30A200u;

// An error record of the services naming location and line, written when an
// application is there to take it.
void ReportServiceFault(unsigned status, const std::string& location, int line,
                        const std::string& message);
// Text from outside (a server's message, a DN it sent) fit for one line of an
// error record: control characters become blanks, and at most 1024 bytes.
std::string RecordText(std::string_view text);

// One directory entry. Attribute names are lower case; values as stored.
struct Entry {
    std::string dn;
    std::vector<std::pair<std::string, std::vector<std::string>>> attributes;

    const std::vector<std::string>* Find(std::string_view name) const;
    // The first value of the attribute, or the empty text.
    std::string First(std::string_view name) const;
    // Whether the attribute has the value, compared ignoring case.
    bool HasValue(std::string_view name, std::string_view value) const;
};

// A search filter as a tree, never as text typed by a user: the ldap backend
// renders it with RFC 4515 escaping, the embedded backend evaluates it.
// Every comparison ignores case; DN-valued attributes (member, uniqueMember)
// compare normalised DNs.
struct Filter {
    enum class Kind { And, Or, Not, Equals, Contains, Initial, Present };
    Kind kind = Kind::Present;
    std::string attribute;  // lower case
    std::string value;
    std::vector<Filter> children;

    static Filter And(std::vector<Filter> children);
    static Filter Or(std::vector<Filter> children);
    static Filter Not(Filter child);
    static Filter Equals(std::string attribute, std::string value);
    static Filter Contains(std::string attribute, std::string value);
    // A value that begins with the text.
    static Filter Initial(std::string attribute, std::string value);
    static Filter Present(std::string attribute);
};

// An attribute name a filter may hold: a descriptor or a numeric OID.
bool ValidAttributeName(std::string_view name);
// Whether every attribute name of the filter is valid and every Not has one
// child; the empty attribute of a default-constructed filter is allowed.
bool WellFormed(const Filter& filter);
// Whether the filter is the default-constructed one, which matches every
// entry.
bool MatchesEverything(const Filter& filter);

enum class Scope { Base, OneLevel, Subtree };

struct SearchRequest {
    std::string server;  // host[:port] as typed; empty: the configured directory
    std::string base;    // DN
    Scope scope = Scope::Subtree;
    Filter filter;
    // Lower case; empty: the DN alone; "*": every attribute of the entry.
    std::vector<std::string> attributes;
    // A quick request (completion at a console): at most sizeLimit entries,
    // found the first ones the directory happens to give (0: every entry),
    // and at most timeLimitMs for connecting and answering (0: the network
    // time-outs of the communication parameters).
    // A request with a time limit of its own writes no error record when it
    // fails: what is typed at the console must not be interrupted.
    std::size_t sizeLimit = 0;
    unsigned timeLimitMs = 0;
    // When the base does not exist (kStatusNoSuchEntry), receives the DN of
    // the deepest entry above it that does (an LDAP server's matched DN),
    // empty when there is none. Not set by other answers.
    std::string* matchedDn = nullptr;
    // One reading of a name among others: a base that the server says is no
    // DN (invalid DN syntax) still answers kStatusMalformedName, but writes
    // no error record, as the next reading may find the entry.
    bool tentative = false;
};

// Takes a search's entries as they arrive.
class EntryVisitor {
public:
    virtual ~EntryVisitor();
    // One entry of the answer; the visitor may take its contents over.
    virtual void Visit(Entry& entry) = 0;
    // The answer begins again: every entry handed over so far is void.
    virtual void Restart() = 0;
};

class Directory {
public:
    virtual ~Directory();

    // The same answer as Search, each entry handed to visitor as it comes;
    // see the contract above. The default gathers the answer with Search
    // and hands it over afterwards.
    virtual unsigned SearchEach(const SearchRequest& request, EntryVisitor& visitor);

    // 0 and every matching entry, in any order; kStatusNoSuchEntry when the
    // base does not exist; another status when the directory fails. See the
    // contract above.
    virtual unsigned Search(const SearchRequest& request, std::vector<Entry>& out) = 0;

    // The naming contexts of the configured directory (root DSE).
    virtual unsigned NamingContexts(std::vector<std::string>& out) = 0;
    // The same as a quick request, timeLimitMs as in SearchRequest; a backend
    // that answers without waiting need not override it.
    virtual unsigned QuickNamingContexts(std::vector<std::string>& out, unsigned timeLimitMs);

    // Whether the password binds as dn on the configured directory. An
    // empty password is never accepted and never sent.
    virtual unsigned CheckPassword(const std::string& dn, const std::string& password,
                                   bool& accepted) = 0;

    // The class chains by which entries that a request naming server (as
    // SearchRequest::server) found are judged: the schema of the server that
    // answered it. The default is the standard schemas' chains.
    virtual std::shared_ptr<const ClassChains> Classes(const std::string& server);

    // The server part of printed names when the input named none:
    // "localhost" for the embedded backend, host[:port] for ldap.
    virtual std::string DefaultServer() const = 0;

protected:
    // Search by way of SearchEach, for a backend that streams.
    unsigned GatherEach(const SearchRequest& request, std::vector<Entry>& out);
};

// The explicit-credential listing of domains (command 20): an operation of
// its own beside the directory, kept by the embedded backend for its file and
// by the ldap backend's connection for any server, as the contract above says
// under ExplicitDomains.
class ExplicitDomainSource {
public:
    virtual ~ExplicitDomainSource();
    // Binds to server (host[:port]; empty: the directory's server in use)
    // with dn and password, over TLS when ssl is set, and lists at most limit
    // domain DNs of its naming contexts. searchStatus is a
    // DomainSearchStatus. Returns the service status.
    virtual unsigned ExplicitDomains(const std::string& server, const std::string& dn,
                                     const std::string& password, bool ssl, int limit,
                                     std::vector<std::string>& domains, int& searchStatus) = 0;
};

// Room for a directory of a million users with their groups and containers.
constexpr std::size_t kDefaultMaxEntries = 2000000;
// Searches one expansion of a group's members may make: room for a group
// whose members lie in as many containers as the largest directories have.
constexpr std::size_t kDefaultMaxGroupSearches = 100000;

// What one expansion of a group's nested members may cost: the entries it is
// handed together with the member values they carry, and the searches it
// makes. Past either the expansion fails with kStatusExpansionTooLarge.
struct ExpansionLimits {
    std::size_t entries = kDefaultMaxEntries;
    std::size_t searches = kDefaultMaxGroupSearches;
};

// Settings of [UserService] of the parameter file.
struct DirectorySettings {
    // The file they come from, named in messages about them.
    std::string source;
    // An LDIF path; or ldap:// and ldaps:// URLs separated by blanks, the
    // servers of one directory in the order they are tried; or empty: the
    // sample.
    std::string directory;
    // Further servers of the same directory (URLs or HOST[:PORT]) that
    // contexts may name and that receive the service account.
    std::string replicas;
    std::string bindDn;
    // From BindPasswordFile when that is set, else from BindPassword.
    Secret bindPassword;
    // BindPasswordFile is set and could not be read: the service account
    // does not bind at all.
    bool passwordUnreadable = false;
    bool startTls = false;
    std::string caCertFile;
    // Entries one answer of the server may hold (MaxEntries); a larger
    // answer is dropped and its search fails.
    std::size_t maxEntries = kDefaultMaxEntries;
    // Searches one expansion of a group's members may make (MaxGroupSearches).
    std::size_t maxGroupSearches = kDefaultMaxGroupSearches;
    // How long a server is waited for: the program's own, not a key of the
    // section.
    OvServiceTimeouts timeouts;
};

// A directory opened from settings: the sample, an LDIF file or an ldap URL.
// Settings are taken by value: move them in to keep one copy of the password.
std::unique_ptr<Directory> OpenDirectory(DirectorySettings settings);

// The ldap backend (platform/ldapclient/).
std::unique_ptr<Directory> MakeLdapDirectory(const DirectorySettings& settings);
// The same, taking the settings' one copy of the password over.
std::unique_ptr<Directory> MakeLdapDirectory(DirectorySettings&& settings);
// The ldap backend's explicit listing with the transport and limits of the
// settings; a request that names no server goes to directory's server in use.
std::unique_ptr<ExplicitDomainSource> MakeLdapDomainSource(const DirectorySettings& settings,
                                                           const Directory& directory);
// The explicit listing that goes with a directory opened from settings: the
// ldap backend's for ldap URLs, else the directory's own (the embedded
// backend lists the domains of its file), else none.
std::unique_ptr<ExplicitDomainSource> OpenDomainSource(const DirectorySettings& settings,
                                                       Directory& directory);

}  // namespace ovdir
