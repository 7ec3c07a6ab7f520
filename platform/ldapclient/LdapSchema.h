// What an LDAP server's schema knows, learnt from its subschema entry, and
// filters rewritten so that a server never answers a comparison it cannot
// make with "Undefined": a class or attribute the server does not know is
// one that no entry of it has, so the comparison is false and its negation
// true, as the directory contract has it. Without this, a stock OpenLDAP
// server (no class "computer") answers (&(objectClass=person)(!(objectClass=
// computer))) with no entry at all.
#pragma once

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/directory/Directory.h"

namespace ovdir::ldap {

struct KnownSchema {
    bool known = false;                       // false: nothing was learnt, filters go out unchanged
    std::unordered_set<std::string> classes;  // names and OIDs, lower case
    std::unordered_set<std::string> attributes;  // names and OIDs, lower case
    // The chains of the server's classes, when known.
    std::shared_ptr<const ClassChains> chains;

    // Takes the values of the subschema entry's objectClasses and
    // attributeTypes (RFC 4512 descriptions). Values that do not parse are
    // passed over; known is set when at least one of each was read.
    void Learn(const std::vector<std::string>& objectClasses,
               const std::vector<std::string>& attributeTypes);
};

// Whether the filter's answer can depend on how a server treats what it does
// not know: only a negation turns an Undefined comparison into a different
// answer than a false one.
bool HasNegation(const Filter& filter);

// The filter as LDAP filter text with every comparison the schema cannot
// make replaced by false, and then simplified; a default-constructed filter
// (and an And of nothing) is (objectClass=*), an Or of nothing (and any
// filter found false throughout) is (!(objectClass=*)), which asks the server
// the same question about the base. With an unknown schema only those two
// rewritings apply. False when RenderFilter refuses the filter.
bool RenderFilterFor(const Filter& filter, const KnownSchema& schema, std::string& text);

}  // namespace ovdir::ldap
