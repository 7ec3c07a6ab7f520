// Class chains: the standard schemas' table, what a subschema entry adds to
// it, and the kinds of entry judged along them.
#include "platform/directory/ClassChains.h"

#include "framework/OvString.h"
#include "platform/directory/Directory.h"
#include "platform/directory/SchemaDescription.h"

#include <algorithm>
#include <utility>

namespace ovdir {
namespace {

// Each class with its superclasses, where they are more than top. Aliases
// stand as classes of the same superclasses.
struct Declared {
    const char* name;
    std::vector<const char*> superiors;
};

const Declared kStandard[] = {
    // core
    {"organizationalPerson", {"person"}},
    {"residentialPerson", {"person"}},
    {"dSA", {"applicationEntity"}},
    {"certificationAuthority-V2", {"certificationAuthority"}},
    // cosine
    {"pilotPerson", {"person"}},
    {"newPilotPerson", {"person"}},
    {"RFC822localPart", {"domain"}},
    {"dNSDomain", {"domain"}},
    {"friendlyCountry", {"country"}},
    {"pilotOrganization", {"organization", "organizationalUnit"}},
    {"pilotDSA", {"dSA"}},
    // inetorgperson
    {"inetOrgPerson", {"organizationalPerson"}},
    // OpenLDAP's own
    {"OpenLDAPperson", {"pilotPerson", "inetOrgPerson"}},
    {"OpenLDAPou", {"organizationalUnit"}},
    {"OpenLDAPorg", {"organization"}},
    // Active Directory
    {"user", {"organizationalPerson"}},
    {"computer", {"user"}},
    {"contact", {"organizationalPerson"}},
    {"domainDNS", {"domain"}},
};

Filter ClassIs(const char* name) { return Filter::Equals("objectclass", name); }

Filter AnyClass(std::initializer_list<const char*> names)
{
    std::vector<Filter> classes;
    for (const char* name : names) classes.push_back(ClassIs(name));
    return Filter::Or(std::move(classes));
}

// The filter judged on an entry's classes alone; what it asks of other
// attributes is false.
bool Matches(const Filter& filter, const std::vector<std::string>& classes,
             const ClassChains& chains)
{
    switch (filter.kind) {
        case Filter::Kind::And:
            for (const Filter& child : filter.children)
                if (!Matches(child, classes, chains)) return false;
            return true;
        case Filter::Kind::Or:
            for (const Filter& child : filter.children)
                if (Matches(child, classes, chains)) return true;
            return false;
        case Filter::Kind::Not:
            return filter.children.size() == 1 &&
                   !Matches(filter.children.front(), classes, chains);
        case Filter::Kind::Equals:
            if (!OvEqualsIgnoringAsciiCase(filter.attribute, "objectclass")) return false;
            for (const std::string& stored : classes)
                if (chains.IsA(stored, filter.value)) return true;
            return false;
        case Filter::Kind::Present:
        case Filter::Kind::Contains:
        case Filter::Kind::Initial:
            break;
    }
    return false;
}

}  // namespace

std::shared_ptr<const ClassChains> ClassChains::Standard()
{
    static const std::shared_ptr<const ClassChains> standard = [] {
        auto chains = std::make_shared<ClassChains>();
        for (const Declared& declared : kStandard)
            chains->Declare({declared.name},
                            {declared.superiors.begin(), declared.superiors.end()});
        return chains;
    }();
    return standard;
}

void ClassChains::Declare(const std::vector<std::string>& names, std::vector<std::string> superiors)
{
    if (names.empty()) return;
    const std::string key = OvAsciiLower(names.front());
    for (const std::string& name : names) keys_[OvAsciiLower(name)] = key;
    for (std::string& superior : superiors) superior = OvAsciiLower(superior);
    superiors_[key] = std::move(superiors);
}

std::size_t ClassChains::Learn(const std::vector<std::string>& descriptions)
{
    std::size_t taken = 0;
    for (const std::string& value : descriptions) {
        SchemaDescription parsed;
        if (!ReadSchemaDescription(value, parsed)) continue;
        std::vector<std::string> names{std::move(parsed.oid)};
        for (std::string& name : parsed.names) names.push_back(std::move(name));
        // The class is known by its names first: what the standard table
        // says of a name is replaced, not kept beside it.
        if (names.size() > 1) std::rotate(names.begin(), names.begin() + 1, names.end());
        Declare(names, std::move(parsed.superiors));
        ++taken;
    }
    return taken;
}

std::string ClassChains::Key(std::string_view name) const
{
    std::string lowered = OvAsciiLower(name);
    const auto found = keys_.find(lowered);
    return found == keys_.end() ? lowered : found->second;
}

bool ClassChains::IsA(std::string_view stored, std::string_view wanted) const
{
    // Most stored classes are the wanted one or none of its line: the first
    // is answered without a walk.
    if (OvEqualsIgnoringAsciiCase(stored, wanted)) return true;
    const std::string target = Key(wanted);
    std::vector<std::string> pending{Key(stored)};
    // Every class is looked at once, so a declared cycle ends too; a chain
    // is never near this long.
    std::vector<std::string> seen;
    while (!pending.empty() && seen.size() < 256) {
        std::string current = std::move(pending.back());
        pending.pop_back();
        if (current == target) return true;
        if (std::find(seen.begin(), seen.end(), current) != seen.end()) continue;
        const auto found = superiors_.find(current);
        seen.push_back(std::move(current));
        if (found == superiors_.end()) continue;
        for (const std::string& superior : found->second) pending.push_back(Key(superior));
    }
    return false;
}

Filter KindFilter(EntryKind kind)
{
    switch (kind) {
        case EntryKind::User:
            return Filter::And({ClassIs("person"), Filter::Not(ClassIs("computer"))});
        case EntryKind::Group:
            return AnyClass({"groupOfNames", "groupOfUniqueNames", "posixGroup", "group"});
        case EntryKind::OrgUnit:
            return ClassIs("organizationalUnit");
        case EntryKind::Domain:
            return AnyClass({"domain", "dcObject"});
        case EntryKind::Workstation:
            return AnyClass({"computer", "device"});
    }
    return Filter::Or({});
}

bool IsKind(const Entry& entry, EntryKind kind, const ClassChains& chains)
{
    static const std::vector<std::string> none;
    // The kinds' filters, made once: members of a large group are judged
    // one by one.
    static const Filter filters[] = {KindFilter(EntryKind::User), KindFilter(EntryKind::Group),
                                     KindFilter(EntryKind::OrgUnit), KindFilter(EntryKind::Domain),
                                     KindFilter(EntryKind::Workstation)};
    const std::vector<std::string>* classes = entry.Find("objectclass");
    return Matches(filters[static_cast<int>(kind)], classes != nullptr ? *classes : none, chains);
}

}  // namespace ovdir
