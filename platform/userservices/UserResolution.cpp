// Finding what a typed name means: the domains of the directory, the entry an
// FQDN names (each of its readings in turn), and the user a login names.
#include <set>
#include <utility>

#include "platform/userservices/UserService.h"

namespace ovdir {
namespace {

// The request for the entry one reading of an FQDN names: the container
// itself, or the entry of the kind in it that a naming attribute names.
SearchRequest ReadingRequest(const FqdnReading& reading, const Filter& kindFilter,
                             const std::vector<std::string>& attributes, bool tentative)
{
    SearchRequest request;
    request.tentative = tentative;
    request.server = reading.context.server;
    request.base = reading.context.dn.Format();
    request.attributes = attributes;
    if (reading.name.empty()) {
        request.scope = Scope::Base;
        request.filter = kindFilter;
        return request;
    }
    std::vector<Filter> naming;
    for (const std::string& attribute : NamingAttributes())
        naming.push_back(Filter::Equals(attribute, reading.name));
    request.scope = Scope::OneLevel;
    request.filter = Filter::And({kindFilter, Filter::Or(std::move(naming))});
    return request;
}

// Moves into named the entries of found whose own naming value is name (any
// entry when name is empty): not any value of the naming attributes.
void KeepNamed(std::vector<Entry>& found, const std::string& name, std::vector<Entry>& named)
{
    const std::string wanted = PrepareValue(name);
    for (Entry& candidate : found) {
        Dn dn;
        if (!Dn::Parse(candidate.dn, dn) || dn.Empty()) continue;
        if (name.empty() || PrepareValue(dn.RdnValue()) == wanted)
            named.push_back(std::move(candidate));
    }
}

}  // namespace

unsigned UserService::Domains(std::vector<Dn>& domains)
{
    domains.clear();
    std::vector<std::string> contexts;
    if (const unsigned status = directory_.NamingContexts(contexts)) return status;
    for (const std::string& text : contexts) {
        Dn dn;
        if (!Dn::Parse(text, dn) || dn.Empty()) continue;
        const unsigned status = CheckDomain(std::string(), dn);
        if (status == kStatusNoSuchEntry) continue;
        if (status != 0) return status;
        domains.push_back(std::move(dn));
    }
    return 0;
}

unsigned UserService::DomainByShortName(const std::string& name, Dn& domain)
{
    std::vector<Dn> domains;
    if (const unsigned status = Domains(domains)) return status;
    unsigned matches = 0;
    for (Dn& dn : domains) {
        if (!EqualsIgnoringCase(DomainShortName(dn), name)) continue;
        if (++matches == 1) domain = dn;
    }
    if (matches == 0) return kStatusNoSuchEntry;
    return matches == 1 ? 0u : static_cast<unsigned>(kStatusAmbiguous);
}

unsigned UserService::CheckDomain(const std::string& server, const Dn& dn)
{
    SearchRequest request;
    request.server = server;
    request.base = dn.Format();
    request.scope = Scope::Base;
    request.filter = KindFilter(EntryKind::Domain);
    std::vector<Entry> found;
    if (const unsigned status = directory_.Search(request, found)) return status;
    return found.empty() ? static_cast<unsigned>(kStatusNoSuchEntry) : 0u;
}

unsigned UserService::Locate(const OvWString& fqdn, Kind kind,
                             const std::vector<std::string>& attributes, Located& located)
{
    if (const unsigned status = ResolveKind(fqdn, kind, attributes, located.entry, located.context))
        return status;
    Dn::Parse(located.entry.dn, located.dn);
    return ContainingBase(located.dn, located.base);
}

unsigned UserService::ContainingBase(const Dn& dn, Dn& base)
{
    std::vector<std::string> contexts;
    if (const unsigned status = directory_.NamingContexts(contexts)) return status;
    Dn best;
    for (const std::string& text : contexts) {
        Dn context;
        if (Dn::Parse(text, context) && !context.Empty() && dn.IsWithin(context) &&
            context.Size() > best.Size())
            best = std::move(context);
    }
    if (!best.Empty()) {
        base = std::move(best);
        return 0;
    }
    // Not under a naming context the directory names: the domain components
    // at the DN's end, or at least its topmost RDN.
    std::size_t first = dn.Size();
    while (first > 0 && dn.Rdn(first - 1).size() == 1 &&
           EqualsIgnoringCase(dn.Rdn(first - 1).front().type, "dc"))
        --first;
    if (first == dn.Size() && first > 0) --first;
    base = dn;
    for (std::size_t i = 0; i < first; ++i) base = base.Parent();
    return 0;
}

unsigned UserService::Resolve(const OvWString& fqdn, Kind kind,
                              const std::vector<std::string>& attributes, Entry& entry,
                              Context& context)
{
    std::vector<FqdnReading> readings;
    if (const unsigned status = ReadFqdn(fqdn.utf8(), readings)) return status;
    const Filter kindFilter = kind == Kind::User    ? KindFilter(EntryKind::User)
                              : kind == Kind::Group ? KindFilter(EntryKind::Group)
                                                    : Filter::Present("objectclass");
    for (std::size_t r = 0; r < readings.size(); ++r) {
        FqdnReading& reading = readings[r];
        // A server may call one reading no DN at all (a DN value that its
        // syntax refuses, such as "dc=com/Jürgen"): the next reading is
        // tried. Only the last one's refusal ends the look-up.
        const bool last = r + 1 == readings.size();
        SearchRequest request = ReadingRequest(reading, kindFilter, attributes, !last);
        std::vector<Entry> found;
        unsigned status = directory_.Search(request, found);
        if (status == kStatusNoSuchEntry || (status == kStatusMalformedName && !last)) continue;
        if (status != 0) return status;
        std::vector<Entry> named;
        KeepNamed(found, reading.name, named);
        if (named.empty() && !reading.name.empty()) {
            // Named by an attribute outside the usual ones: the container's
            // entries of the kind are read, and their naming values compared.
            request.filter = kindFilter;
            status = directory_.Search(request, found);
            if (status != 0 && status != kStatusNoSuchEntry) return status;
            KeepNamed(found, reading.name, named);
        }
        if (named.empty()) continue;
        if (named.size() > 1) return kStatusAmbiguous;
        entry = std::move(named.front());
        context = std::move(reading.context);
        return 0;
    }
    return kStatusNoSuchEntry;
}

unsigned UserService::ResolveKind(const OvWString& fqdn, Kind kind,
                                  const std::vector<std::string>& attributes, Entry& entry,
                                  Context& context)
{
    const unsigned status = Resolve(fqdn, kind, attributes, entry, context);
    if (status != kStatusNoSuchEntry || kind == Kind::Any) return status;
    Entry other;
    Context where;
    if (Resolve(fqdn, Kind::Any, {}, other, where) != 0) return status;
    return kind == Kind::User ? kStatusNotUser : kStatusNotGroup;
}

unsigned UserService::ExplainContext(const OvWString& typed, const Context& parsed, unsigned status,
                                     const std::string& matched)
{
    if (status != kStatusNoSuchEntry && status != kStatusMalformedName) return status;
    // "LDAP://server ou=Sales,dc=example,dc=com/John Smith" reads as a
    // context too, of a container that does not exist.
    Entry entry;
    Context where;
    if (Resolve(typed, Kind::Any, {"objectclass"}, entry, where) == 0) {
        const std::shared_ptr<const ClassChains> classes = directory_.Classes(where.server);
        if (IsKind(entry, EntryKind::User, *classes) || IsKind(entry, EntryKind::Group, *classes))
            return kStatusNotContainer;
    }
    if (status == kStatusNoSuchEntry) {
        std::string message = "no such entry: " + parsed.dn.Format() + "; matched DN: ";
        message += matched.empty() ? "none" : matched;
        ReportServiceFault(status,
                           parsed.server.empty() ? directory_.DefaultServer() : parsed.server, 0,
                           RecordText(message));
    }
    return status;
}

unsigned UserService::FindUser(const std::vector<Dn>& domains, const Filter& match,
                               const std::string& login, Entry& user)
{
    std::vector<Entry> users;
    std::set<std::string> seen;
    for (const Dn& domain : domains) {
        SearchRequest request;
        request.base = domain.Format();
        request.filter = Filter::And({KindFilter(EntryKind::User), match});
        request.attributes = kUserAttributes;
        std::vector<Entry> found;
        const unsigned status = directory_.Search(request, found);
        if (status == kStatusNoSuchEntry) continue;
        if (status != 0) return status;
        for (Entry& entry : found) {
            if (!login.empty() && !HasLogin(entry, login)) continue;
            if (seen.insert(NormalizeDn(entry.dn)).second) users.push_back(std::move(entry));
        }
    }
    if (users.empty()) return kStatusNoSuchEntry;
    if (users.size() > 1) return kStatusAmbiguous;
    user = std::move(users.front());
    return 0;
}

unsigned UserService::UserFromDomainLogin(const OvWString& text, Entry& user)
{
    Login login;
    if (const unsigned status = ParseDomainLogin(text.utf8(), login)) return status;
    Dn domain;
    if (const unsigned status = DomainByShortName(login.domain, domain)) return status;
    return FindUser({domain}, LoginFilter(login.login), login.login, user);
}

}  // namespace ovdir
