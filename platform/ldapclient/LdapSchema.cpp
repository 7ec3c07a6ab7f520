// Learning a server's schema and rewriting filters for it.
#include "platform/ldapclient/LdapSchema.h"

#include "framework/OvString.h"
#include "platform/ldapclient/LdapText.h"

#include <ldap_schema.h>

#include <algorithm>

namespace ovdir::ldap {
namespace {

void AddNames(const char* oid, char** names, std::unordered_set<std::string>& into)
{
    if (oid != nullptr) into.insert(OvAsciiLower(oid));
    for (char** name = names; name != nullptr && *name != nullptr; ++name)
        into.insert(OvAsciiLower(*name));
}

// The OID and names of every description among values that parses with
// libldap's reader of its kind (parse, then release).
template <typename Description>
void AddDescribed(const std::vector<std::string>& values,
                  Description* (*parse)(const char*, int*, const char**, unsigned),
                  void (*release)(Description*), char* Description::*oid,
                  char** Description::*names, std::unordered_set<std::string>& into)
{
    for (const std::string& value : values) {
        int code = 0;
        const char* error = nullptr;
        if (Description* parsed = parse(value.c_str(), &code, &error, LDAP_SCHEMA_ALLOW_ALL)) {
            AddNames(parsed->*oid, parsed->*names, into);
            release(parsed);
        }
    }
}

enum class Truth { Always, Never, Depends };

// The filter with what the schema cannot compare taken out; out is set when
// the answer is Depends.
Truth Simplify(const Filter& filter, const KnownSchema& schema, Filter& out)
{
    switch (filter.kind) {
        case Filter::Kind::Not: {
            if (filter.children.size() != 1) {
                out = filter;  // refused when rendered
                return Truth::Depends;
            }
            Filter child;
            const Truth truth = Simplify(filter.children.front(), schema, child);
            if (truth == Truth::Always) return Truth::Never;
            if (truth == Truth::Never) return Truth::Always;
            out = Filter::Not(std::move(child));
            return Truth::Depends;
        }
        case Filter::Kind::And:
        case Filter::Kind::Or: {
            const bool isAnd = filter.kind == Filter::Kind::And;
            // What decides an And (a false part) or an Or (a true part).
            const Truth decisive = isAnd ? Truth::Never : Truth::Always;
            std::vector<Filter> kept;
            for (const Filter& child : filter.children) {
                Filter simplified;
                const Truth truth = Simplify(child, schema, simplified);
                if (truth == decisive) return decisive;
                if (truth == Truth::Depends) kept.push_back(std::move(simplified));
            }
            if (kept.empty()) return isAnd ? Truth::Always : Truth::Never;
            if (kept.size() == 1) {
                out = std::move(kept.front());
            } else {
                out = isAnd ? Filter::And(std::move(kept)) : Filter::Or(std::move(kept));
            }
            return Truth::Depends;
        }
        case Filter::Kind::Present:
            if (filter.attribute.empty()) return Truth::Always;
            [[fallthrough]];
        case Filter::Kind::Equals:
        case Filter::Kind::Contains:
        case Filter::Kind::Initial:
            break;
    }
    const std::string attribute = OvAsciiLower(filter.attribute);
    if (schema.known && attribute != "objectclass" && schema.attributes.count(attribute) == 0)
        return Truth::Never;
    if (schema.known && attribute == "objectclass" && filter.kind == Filter::Kind::Equals &&
        schema.classes.count(OvAsciiLower(filter.value)) == 0)
        return Truth::Never;
    out = filter;
    return Truth::Depends;
}

}  // namespace

void KnownSchema::Learn(const std::vector<std::string>& objectClasses,
                        const std::vector<std::string>& attributeTypes)
{
    AddDescribed(objectClasses, ldap_str2objectclass, ldap_objectclass_free,
                 &LDAPObjectClass::oc_oid, &LDAPObjectClass::oc_names, classes);
    AddDescribed(attributeTypes, ldap_str2attributetype, ldap_attributetype_free,
                 &LDAPAttributeType::at_oid, &LDAPAttributeType::at_names, attributes);
    known = !classes.empty() && !attributes.empty();
    auto learnt = std::make_shared<ClassChains>();
    learnt->Learn(objectClasses);
    chains = std::move(learnt);
}

bool HasNegation(const Filter& filter)
{
    if (filter.kind == Filter::Kind::Not) return true;
    return std::any_of(filter.children.begin(), filter.children.end(), HasNegation);
}

bool RenderFilterFor(const Filter& filter, const KnownSchema& schema, std::string& text)
{
    Filter simplified;
    switch (Simplify(filter, schema, simplified)) {
        case Truth::Always:
            text = "(objectClass=*)";
            return true;
        case Truth::Never:
            text = "(!(objectClass=*))";
            return true;
        case Truth::Depends:
            break;
    }
    text.clear();
    return RenderFilter(simplified, text);
}

}  // namespace ovdir::ldap
