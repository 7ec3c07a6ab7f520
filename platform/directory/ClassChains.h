// Object classes and the chains of their superclasses, and the one rule by
// which an entry is a user, group, org. unit, domain or workstation. A
// directory may store only an entry's most specific class (a site's own
// class below inetOrgPerson, say): every judgement of an entry's kind
// follows the chain up from what is stored, as a server does when it
// matches (objectClass=person).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ovdir {

struct Entry;
struct Filter;

class ClassChains {
public:
    // The chains of the standard schemas: core, cosine, inetorgperson, nis,
    // OpenLDAP's own classes and Active Directory's.
    static std::shared_ptr<const ClassChains> Standard();

    // Takes the chains that RFC 4512 object class descriptions (a subschema
    // entry's objectClasses values) declare; a class declared again has its
    // superclasses replaced. Values that do not parse are passed over.
    // Returns how many were taken.
    std::size_t Learn(const std::vector<std::string>& descriptions);

    // Whether the stored class is the wanted one or derives from it, by name
    // or OID, ignoring case. A class nobody declared is only itself.
    bool IsA(std::string_view stored, std::string_view wanted) const;

private:
    // One class by its key: its OID as declared, else its first name, lower case.
    std::string Key(std::string_view name) const;
    void Declare(const std::vector<std::string>& names, std::vector<std::string> superiors);

    std::unordered_map<std::string, std::string> keys_;  // every name and OID → key
    std::unordered_map<std::string, std::vector<std::string>> superiors_;  // key → names
};

// The kinds of entry the services tell apart.
// (IsKind keeps a filter for each, in this order.)
enum class EntryKind { User, Group, OrgUnit, Domain, Workstation };

// What a directory is asked for to find entries of the kind: comparisons of
// objectClass only, which a directory matches along its class chains.
Filter KindFilter(EntryKind kind);

// Whether an entry given with its objectclass values is of the kind: the
// same filter, judged along the chains.
bool IsKind(const Entry& entry, EntryKind kind, const ClassChains& chains);

}  // namespace ovdir
