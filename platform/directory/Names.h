// How the services read and print names: contexts, FQDNs, logins and DNs,
// case-insensitive comparison, and the sorted lists they answer with.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ovdir {

// Text folded for comparisons that ignore case (UTF-8 in, UTF-8 out). ASCII,
// Latin-1, Latin Extended-A, Greek and Cyrillic letters are folded; other
// characters and bytes that are not UTF-8 pass unchanged.
std::string FoldCase(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// A value as a directory's case-ignoring matching rule sees it: folded, blanks
// at both ends dropped and runs of inner blanks made one.
std::string PrepareValue(std::string_view text);
// A server as a context or a directory URL names it: a host name, an IPv4
// address or a bracketed IPv6 address, then optionally ':' and a port of 1 to
// 65535.
bool ValidServer(std::string_view server);
// A member DN without the optional "#'0101'B" unique identifier that
// uniqueMember values may carry.
std::string_view StripUniqueId(std::string_view value);

// One attribute-value assertion of an RDN: the type as written, the value
// with its escapes resolved.
struct Ava {
    std::string type;
    std::string value;
    bool hex = false;  // value is a "#..." BER form, kept as written
};

class Dn {
public:
    // RFC 4514, with blanks around "," "+" and "=" ignored. The empty text is
    // the empty DN.
    static bool Parse(std::string_view text, Dn& out);

    bool Empty() const { return rdns_.empty(); }
    std::size_t Size() const { return rdns_.size(); }
    const std::vector<Ava>& Rdn(std::size_t i) const { return rdns_[i]; }
    // The value of the first AVA of the entry's own RDN.
    const std::string& RdnValue() const;
    Dn Parent() const;
    // Format() of the parent, without making the parent.
    std::string FormatParent() const;
    // Whether this DN is ancestor itself or lies below it.
    bool IsWithin(const Dn& ancestor) const;

    // RFC 4514 text: no blanks between RDNs, types as written.
    std::string Format() const;
    // A key equal for DNs that name the same entry.
    std::string Normalized() const;

private:
    std::vector<std::vector<Ava>> rdns_;
};

// The normalised key of a DN text; the folded text itself when it does not
// parse, so that nothing unparseable ever equals a real DN.
std::string NormalizeDn(std::string_view text);
// The parent's key of a normalised key: what follows its first RDN.
std::string_view NormalizedParent(std::string_view normalized);

// TYPE://SERVER[:PORT] DN
struct Context {
    std::string type;
    std::string server;  // host[:port] as typed
    Dn dn;
};

bool IsSupportedType(std::string_view type);
// 0, kStatusMalformedName or kStatusUnsupportedType.
unsigned ParseContext(std::string_view text, Context& out, bool dnRequired = true);

// The ways an FQDN "CONTEXT/NAME" can be read: the whole text as the entry's
// own context (empty name), then each split at a "/", the last one first.
// A "/" may stand in a DN or in a name, so the caller tries them in order.
struct FqdnReading {
    Context context;
    std::string name;  // empty: the context's DN is the entry itself
};
// 0 with at least one reading; kStatusUnsupportedType or kStatusMalformedName.
unsigned ReadFqdn(std::string_view text, std::vector<FqdnReading>& readings);

struct Login {
    std::string domain;  // empty when none was given
    std::string login;
};
// default://DOMAIN\login
unsigned ParseDomainLogin(std::string_view text, Login& out);
// login, or DOMAIN\login
unsigned ParsePlainLogin(std::string_view text, Login& out);

// The first dc= value of a domain's DN.
std::string DomainShortName(const Dn& dn);

// LDAP://SERVER PARENT-DN/RDN-VALUE
std::string FormatEntryName(const std::string& server, const Dn& dn);

// FormatEntryName for the many entries of a listing, which mostly share a
// few containers: each container is parsed once, and an RDN that is a plain
// type=value (nothing escaped, nothing quoted, no "+") is read without a
// parse. Anything else takes the full parser; the names come out the same.
class EntryNameFormatter {
public:
    explicit EntryNameFormatter(const std::string& server);
    // False when the DN does not parse or is empty.
    bool Format(const std::string& dnText, std::string& out);

private:
    std::string prefix_;
    std::unordered_map<std::string, std::string> parents_;  // text as stored → formatted
};
// LDAP://SERVER DN
std::string FormatContext(const std::string& server, const Dn& dn);

// Sorts by text ignoring case and drops duplicates.
void SortNames(std::vector<std::string>& names);

// A name with its sort key (FoldCase of it), made once as the name comes.
using KeyedName = std::pair<std::string, std::string>;  // key, name

// The names of a listing put in order as they arrive, as SortNames orders
// them. Every kRunLength names are sorted as one run (or only checked,
// when they came in order), and runs of equal length are merged at once, so
// that the work is done while the directory is still reading the next
// entries; what is left for Finish is at most one merge per run length.
// Two runs already in order are not merged at all.
class NameSorter {
public:
    static constexpr std::size_t kRunLength = 4096;

    void Add(std::string name);
    // Forgets every name, when a listing starts over.
    void Clear();
    // The names in order, those whose key an earlier one has dropped; a
    // deque, which gives its storage back block by block as the names are
    // taken from its front. The sorter is empty afterwards.
    std::deque<KeyedName> Finish();

private:
    void CloseRun();
    void MergeLastRuns();

    std::deque<KeyedName> names_;
    std::vector<std::size_t> runs_;  // lengths of the sorted runs, in order
    std::size_t sorted_ = 0;         // names in those runs
};

}  // namespace ovdir
