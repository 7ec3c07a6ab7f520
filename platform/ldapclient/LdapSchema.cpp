// Learning a server's schema and rewriting filters for it.
#include "platform/ldapclient/LdapSchema.h"

#include "framework/OvString.h"
#include "platform/directory/SchemaDescription.h"
#include "platform/ldapclient/LdapText.h"

#include <algorithm>

namespace ovdir::ldap {
namespace {

// The OID and names of every description among values that parses.
void AddDescribed(const std::vector<std::string>& values, std::unordered_set<std::string>& into)
{
    for (const std::string& value : values) {
        SchemaDescription parsed;
        if (!ReadSchemaDescription(value, parsed)) continue;
        into.insert(OvAsciiLower(parsed.oid));
        for (const std::string& name : parsed.names) into.insert(OvAsciiLower(name));
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
    AddDescribed(objectClasses, classes);
    AddDescribed(attributeTypes, attributes);
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
