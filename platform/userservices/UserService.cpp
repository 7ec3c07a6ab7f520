// The user service over a directory: every naming, sorting and membership
// rule lives here, so every backend answers the same.
#include "platform/userservices/UserService.h"

#include "platform/userservices/EventLog.h"

#include "framework/OvSystem.h"

#include <deque>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

namespace ovdir {
namespace {

const std::vector<std::string> kUserAttributes = {"objectclass", "uid", "samaccountname",
                                                  "displayname", "cn",  "mail"};
const std::vector<std::string> kGroupAttributes = {"objectclass", "member", "uniquemember",
                                                   "memberuid"};

Filter UserFilter() { return KindFilter(EntryKind::User); }

Filter GroupFilter() { return KindFilter(EntryKind::Group); }

std::string LoginOf(const Entry& user)
{
    std::string login = user.First("uid");
    return login.empty() ? user.First("samaccountname") : login;
}

std::string FullNameOf(const Entry& user)
{
    std::string name = user.First("displayname");
    return name.empty() ? user.First("cn") : name;
}

// The users that may have the login: the directory is asked for either
// attribute, and HasLogin then keeps those whose login it is.
Filter LoginFilter(const std::string& login)
{
    return Filter::Or({Filter::Equals("uid", login), Filter::Equals("samaccountname", login)});
}

// Whether login is the user's login: uid, else sAMAccountName. A user with
// uid robert and sAMAccountName bob does not have the login bob.
bool HasLogin(const Entry& user, const std::string& login)
{
    return PrepareValue(LoginOf(user)) == PrepareValue(login);
}

const std::vector<std::string> kLoginAttributes = {"uid", "samaccountname"};

// The UTF-8 a wide string keeps, read in place.
const std::string& Narrow(const OvWString& text) { return text.utf8(); }

std::string Trimmed(const OvWString& text) { return std::string(OvTrimNameBlanks(text.utf8())); }

// The names of a listing, in order, handed over: each name's text moves into
// its wide string, and the deque's blocks go as they are emptied, so that the
// answer is never held twice.
void ToWide(std::deque<KeyedName> names, std::vector<OvWString>& out)
{
    out.clear();
    out.reserve(names.size());
    while (!names.empty()) {
        out.push_back(makeWideString(std::move(names.front().second)));
        names.pop_front();
    }
}

void ToWide(std::vector<std::string>& names, std::vector<OvWString>& out)
{
    SortNames(names);
    out.clear();
    out.reserve(names.size());
    for (std::string& name : names) out.push_back(makeWideString(std::move(name)));
}

// How a name typed by the user is matched against one attribute: anything
// at all when a partial match has nothing to match, else equal or containing.
Filter NameMatch(const std::string& attribute, const std::string& text, bool exact)
{
    if (exact) return Filter::Equals(attribute, text);
    if (PrepareValue(text).empty()) return Filter::Present(attribute);
    return Filter::Contains(attribute, text);
}

// The name an entry found by a lookup is printed with, on the given server.
OvWString PrintedName(const std::string& server, const Entry& entry)
{
    Dn dn;
    Dn::Parse(entry.dn, dn);
    return makeWideString(FormatEntryName(server, dn));
}

// Makes each entry's printed name as the entry arrives, while the directory
// is still reading the next ones.
class NamePrinter final : public EntryVisitor {
public:
    explicit NamePrinter(const std::string& server) : formatter_(server) {}
    void Visit(Entry& entry) override
    {
        if (formatter_.Format(entry.dn, name_)) printed.Add(std::move(name_));
    }
    void Restart() override { printed.Clear(); }

    NameSorter printed;

private:
    EntryNameFormatter formatter_;
    std::string name_;
};

// Members of one container are read with one search of the container, not
// one by one, from this many on.
constexpr std::size_t kMembersReadTogether = 64;

// Entries of any class at or below base in scope, with kGroupAttributes.
SearchRequest MemberRequest(const std::string& server, const Dn& base, Scope scope)
{
    SearchRequest request;
    request.server = server;
    request.base = base.Format();
    request.scope = scope;
    request.filter = Filter::Present("objectclass");
    request.attributes = kGroupAttributes;
    return request;
}

// What one expansion of a group's members has cost: every search it makes,
// every entry it is handed and every member value those carry count against
// its limits, so that a directory whose groups name ever more groups, or one
// group of millions of members, cannot make it grow or go on without end.
class ExpansionBudget {
public:
    explicit ExpansionBudget(const ExpansionLimits& limits) : limits_(limits) {}
    // Before each search: whether it may be made.
    bool Search() { return ++searches_ <= limits_.searches; }
    // An entry handed over, with its member values: whether they fit.
    bool Take(const Entry& entry)
    {
        entries_ += 1;
        for (const char* attribute : {"member", "uniquemember", "memberuid"})
            if (const auto* values = entry.Find(attribute)) entries_ += values->size();
        return entries_ <= limits_.entries;
    }
    // The record of an expansion stopped at its limits.
    void Report(const std::string& location) const
    {
        ReportServiceFault(
            kStatusExpansionTooLarge, location, 0,
            searches_ > limits_.searches
                ? "the members of the group needed more than " + std::to_string(limits_.searches) +
                      " searches (MaxGroupSearches)"
                : "the members of the group came to more than " + std::to_string(limits_.entries) +
                      " entries and member values (MaxEntries)");
    }

private:
    const ExpansionLimits limits_;
    std::size_t searches_ = 0;
    std::size_t entries_ = 0;
};

// The entries of the members (their DNs parsed and not empty) that exist, with
// kGroupAttributes. Where many members share a container, the container's
// entries are read in one search, at most a few times as many as the members
// there; a member that search does not show (a larger container, a server's
// size limit) is looked up on its own, so the answer is the same as with a
// lookup for each. A failed read fails the listing, as a failed lookup does,
// and so does a read past the budget's limits.
unsigned ReadMembers(Directory& directory, const std::string& server,
                     const std::vector<Dn>& members, ExpansionBudget& budget,
                     std::vector<Entry>& found)
{
    std::map<std::string, std::vector<std::size_t>> byParent;
    for (std::size_t i = 0; i < members.size(); ++i)
        byParent[members[i].Parent().Normalized()].push_back(i);
    std::vector<bool> done(members.size(), false);
    for (const auto& [parent, indices] : byParent) {
        if (indices.size() < kMembersReadTogether) continue;
        std::unordered_map<std::string, std::size_t> wanted;
        for (std::size_t index : indices) wanted.emplace(members[index].Normalized(), index);
        SearchRequest request =
            MemberRequest(server, members[indices.front()].Parent(), Scope::OneLevel);
        request.sizeLimit = indices.size() * 4 + 16;
        std::vector<Entry> listed;
        if (!budget.Search()) return kStatusExpansionTooLarge;
        const unsigned status = directory.Search(request, listed);
        if (status == kStatusNoSuchEntry) continue;
        if (status != 0) return status;
        for (Entry& entry : listed) {
            const auto member = wanted.find(NormalizeDn(entry.dn));
            if (member == wanted.end() || done[member->second]) continue;
            done[member->second] = true;
            if (!budget.Take(entry)) return kStatusExpansionTooLarge;
            found.push_back(std::move(entry));
        }
    }
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (done[i]) continue;
        std::vector<Entry> entry;
        if (!budget.Search()) return kStatusExpansionTooLarge;
        const unsigned status =
            directory.Search(MemberRequest(server, members[i], Scope::Base), entry);
        // A member since deleted, or one that lives on a server that is
        // never asked (the referral has its record).
        if (status == kStatusNoSuchEntry || status == kStatusReferral) continue;
        if (status != 0) return status;
        for (Entry& one : entry) {
            if (!budget.Take(one)) return kStatusExpansionTooLarge;
            found.push_back(std::move(one));
        }
    }
    return 0;
}

// The users among the nested members of top, whose naming context is base,
// as printed names on server: each group is read once, whatever cycles the
// groups make, and within the budget.
unsigned ExpandGroup(Directory& directory, const Dn& base, Entry top, const std::string& server,
                     const ClassChains& classes, ExpansionBudget& budget,
                     std::vector<std::string>& printed)
{
    EntryNameFormatter formatter(server);
    std::string name;
    std::set<std::string> seen{NormalizeDn(top.dn)};  // every DN looked at once
    std::deque<Entry> pending;
    if (!budget.Take(top)) return kStatusExpansionTooLarge;
    pending.push_back(std::move(top));
    while (!pending.empty()) {
        const Entry current = std::move(pending.front());
        pending.pop_front();
        std::vector<std::string> members;
        for (const char* attribute : {"member", "uniquemember"})
            if (const auto* values = current.Find(attribute))
                for (const std::string& value : *values) members.emplace_back(StripUniqueId(value));
        std::vector<Dn> unseen;
        for (const std::string& member : members) {
            Dn memberDn;
            if (!Dn::Parse(member, memberDn) || memberDn.Empty()) continue;
            if (seen.insert(memberDn.Normalized()).second) unseen.push_back(std::move(memberDn));
        }
        std::vector<Entry> memberEntries;
        if (const unsigned status = ReadMembers(directory, server, unseen, budget, memberEntries))
            return status;
        for (Entry& entry : memberEntries) {
            Dn dn;
            if (!Dn::Parse(entry.dn, dn) || dn.Empty()) continue;
            if (IsKind(entry, EntryKind::User, classes))
                printed.push_back(FormatEntryName(server, dn));
            else if (IsKind(entry, EntryKind::Group, classes))
                pending.push_back(std::move(entry));
        }
        if (const auto* logins = current.Find("memberuid")) {
            for (const std::string& login : *logins) {
                SearchRequest request;
                request.server = server;
                request.base = base.Format();
                request.filter = Filter::And({UserFilter(), LoginFilter(login)});
                request.attributes = kLoginAttributes;
                std::vector<Entry> found;
                if (!budget.Search()) return kStatusExpansionTooLarge;
                const unsigned status = directory.Search(request, found);
                if (status == kStatusNoSuchEntry) continue;
                if (status != 0) return status;
                for (const Entry& entry : found) {
                    if (!budget.Take(entry)) return kStatusExpansionTooLarge;
                    if (HasLogin(entry, login) && formatter.Format(entry.dn, name))
                        printed.push_back(std::move(name));
                }
            }
        }
    }
    return 0;
}

// A secret's UTF-8, read where its caller keeps (and wipes) it: no copy of
// it is made here. From now on the process is kept from dumping its memory.
class SecretText {
public:
    explicit SecretText(const OvWString& secret) : text_(secret.utf8()) { ProtectProcessMemory(); }
    explicit SecretText(OvWString&&) = delete;
    const std::string& Text() const { return text_; }

private:
    const std::string& text_;
};

}  // namespace

Filter UserOrGroupFilter()
{
    Filter filter = GroupFilter();
    filter.children.insert(filter.children.begin(), UserFilter());
    return filter;
}

const std::vector<std::string>& NamingAttributes()
{
    static const std::vector<std::string> attributes = {"cn", "uid", "ou", "o", "dc", "l", "mail"};
    return attributes;
}

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
    if (const unsigned status = ReadFqdn(Narrow(fqdn), readings)) return status;
    const Filter kindFilter = kind == Kind::User    ? UserFilter()
                              : kind == Kind::Group ? GroupFilter()
                                                    : Filter::Present("objectclass");
    for (std::size_t r = 0; r < readings.size(); ++r) {
        FqdnReading& reading = readings[r];
        SearchRequest request;
        // A server may call one reading no DN at all (a DN value that its
        // syntax refuses, such as "dc=com/Jürgen"): the next reading is
        // tried. Only the last one's refusal ends the look-up.
        const bool last = r + 1 == readings.size();
        request.tentative = !last;
        request.server = reading.context.server;
        request.base = reading.context.dn.Format();
        request.attributes = attributes;
        if (reading.name.empty()) {
            request.scope = Scope::Base;
            request.filter = kindFilter;
        } else {
            std::vector<Filter> naming;
            for (const std::string& attribute : NamingAttributes())
                naming.push_back(Filter::Equals(attribute, reading.name));
            request.scope = Scope::OneLevel;
            request.filter = Filter::And({kindFilter, Filter::Or(std::move(naming))});
        }
        std::vector<Entry> found;
        unsigned status = directory_.Search(request, found);
        if (status == kStatusNoSuchEntry || (status == kStatusMalformedName && !last)) continue;
        if (status != 0) return status;
        // The name must be the entry's own naming value, not any value of
        // the naming attributes.
        const std::string wanted = PrepareValue(reading.name);
        std::vector<Entry> named;
        const auto keepNamed = [&] {
            for (Entry& candidate : found) {
                Dn dn;
                if (!Dn::Parse(candidate.dn, dn) || dn.Empty()) continue;
                if (reading.name.empty() || PrepareValue(dn.RdnValue()) == wanted)
                    named.push_back(std::move(candidate));
            }
        };
        keepNamed();
        if (named.empty() && !reading.name.empty()) {
            // Named by an attribute outside the usual ones: the container's
            // entries of the kind are read, and their naming values compared.
            request.filter = kindFilter;
            status = directory_.Search(request, found);
            if (status != 0 && status != kStatusNoSuchEntry) return status;
            keepNamed();
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
        request.filter = Filter::And({UserFilter(), match});
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
    if (const unsigned status = ParseDomainLogin(Narrow(text), login)) return status;
    Dn domain;
    if (const unsigned status = DomainByShortName(login.domain, domain)) return status;
    return FindUser({domain}, LoginFilter(login.login), login.login, user);
}

unsigned UserService::ListEntries(const std::string& server, const Dn& base, const Filter& filter,
                                  std::vector<OvWString>& names, std::string* matchedDn)
{
    SearchRequest request;
    request.server = server;
    request.base = base.Format();
    request.filter = filter;
    request.matchedDn = matchedDn;
    NamePrinter printer(server);
    if (const unsigned status = directory_.SearchEach(request, printer)) return status;
    ToWide(printer.printed.Finish(), names);
    return 0;
}

unsigned UserService::ListContext(const OvWString& typed, const Filter& filter,
                                  std::vector<OvWString>& names)
{
    Context parsed;
    std::string matched;
    unsigned status = ParseContext(Narrow(typed), parsed);
    if (status == 0) status = ListEntries(parsed.server, parsed.dn, filter, names, &matched);
    return status == 0 ? 0u : ExplainContext(typed, parsed, status, matched);
}

unsigned UserService::GetUsers(const OvWString& context, std::vector<OvWString>& users)
{
    return ListContext(context, UserFilter(), users);
}

unsigned UserService::GetGroups(const OvWString& context, std::vector<OvWString>& groups)
{
    return ListContext(context, GroupFilter(), groups);
}

unsigned UserService::GetDomains(const OvWString& type, std::vector<OvWString>& domains)
{
    if (!IsSupportedType(Trimmed(type))) return kStatusUnsupportedType;
    std::vector<Dn> found;
    if (const unsigned status = Domains(found)) return status;
    std::vector<std::string> printed;
    const std::string server = directory_.DefaultServer();
    for (const Dn& dn : found) printed.push_back(FormatContext(server, dn));
    ToWide(printed, domains);
    return 0;
}

unsigned UserService::GetTrustedDomains(const OvWString& domain, std::vector<OvWString>& trusted)
{
    Context parsed;
    if (const unsigned status = ParseContext(Narrow(domain), parsed)) return status;
    if (const unsigned status = CheckDomain(parsed.server, parsed.dn)) return status;
    SearchRequest request;
    request.server = parsed.server;
    request.base = "cn=System," + parsed.dn.Format();
    request.filter = Filter::Equals("objectclass", "trustedDomain");
    request.attributes = {"trustpartner", "cn"};
    std::vector<Entry> found;
    const unsigned status = directory_.Search(request, found);
    if (status != 0 && status != kStatusNoSuchEntry) return status;
    std::vector<std::string> names;
    for (const Entry& entry : found) {
        std::string name = entry.First("trustpartner");
        if (name.empty()) name = entry.First("cn");
        if (!name.empty()) names.push_back(std::move(name));
    }
    ToWide(names, trusted);
    return 0;
}

unsigned UserService::GetUserGroups(const OvWString& user, std::vector<OvWString>& groups)
{
    Entry entry;
    Context context;
    if (const unsigned status = ResolveKind(user, Kind::User, kUserAttributes, entry, context))
        return status;
    Dn dn;
    Dn::Parse(entry.dn, dn);
    std::vector<Filter> references = {Filter::Equals("member", dn.Format()),
                                      Filter::Equals("uniquemember", dn.Format())};
    const std::string login = LoginOf(entry);
    if (!login.empty()) references.push_back(Filter::Equals("memberuid", login));
    Dn base;
    if (const unsigned status = ContainingBase(dn, base)) return status;
    return ListEntries(context.server, base,
                       Filter::And({GroupFilter(), Filter::Or(std::move(references))}), groups);
}

unsigned UserService::GetUsersForGroup(const OvWString& group, std::vector<OvWString>& users)
{
    Entry top;
    Context context;
    if (const unsigned status = ResolveKind(group, Kind::Group, kGroupAttributes, top, context))
        return status;
    Dn topDn;
    Dn::Parse(top.dn, topDn);
    Dn base;
    if (const unsigned status = ContainingBase(topDn, base)) return status;
    // Members are judged by their classes as the server that holds them
    // sees them, along its class chains.
    const std::shared_ptr<const ClassChains> classes = directory_.Classes(context.server);
    ExpansionBudget budget(limits_);
    std::vector<std::string> printed;
    const unsigned status =
        ExpandGroup(directory_, base, std::move(top), context.server, *classes, budget, printed);
    if (status == kStatusExpansionTooLarge) {
        budget.Report(context.server.empty() ? directory_.DefaultServer() : context.server);
        // What the walk held is gone now; give it back to the system rather
        // than keep it in the allocator's free lists.
        std::vector<std::string>().swap(printed);
        OvSystem().trimMemory();
    }
    if (status != 0) return status;
    ToWide(printed, users);
    return 0;
}

unsigned UserService::GetFullUserName(const OvWString& user, OvWString& fullName)
{
    Entry entry;
    Context context;
    if (const unsigned status = ResolveKind(user, Kind::User, kUserAttributes, entry, context))
        return status;
    fullName = makeWideString(FullNameOf(entry));
    return 0;
}

unsigned UserService::GetQualifiedNameForUser(const OvWString& login, OvWString& fqdn)
{
    Entry user;
    if (const unsigned status = UserFromDomainLogin(login, user)) return status;
    fqdn = PrintedName(directory_.DefaultServer(), user);
    return 0;
}

unsigned UserService::TestUserAuthentication(const OvWString& user, const OvWString& password,
                                             OvWString& fullName, bool& authenticated)
{
    authenticated = false;
    const SecretText secret(password);
    Login login;
    if (const unsigned status = ParsePlainLogin(Narrow(user), login)) return status;
    std::vector<Dn> domains;
    if (login.domain.empty()) {
        if (const unsigned status = Domains(domains)) return status;
    } else {
        domains.emplace_back();
        if (const unsigned status = DomainByShortName(login.domain, domains.back())) return status;
    }
    Entry entry;
    if (const unsigned status = FindUser(domains, LoginFilter(login.login), login.login, entry))
        return status;
    bool accepted = false;
    if (!secret.Text().empty()) {
        if (const unsigned status = directory_.CheckPassword(entry.dn, secret.Text(), accepted))
            return status;
    }
    fullName = makeWideString(FullNameOf(entry));
    authenticated = accepted;
    return 0;
}

unsigned UserService::GetDomainsSsl(const OvWString& serverContext, const OvWString& userName,
                                    OvWIFFLEPassword& password, const OvWString& type, int& limit,
                                    bool& sslEnable, std::vector<OvWString>& domains,
                                    int& searchStatus)
{
    searchStatus = kDomainSearchUnknownFailure;
    const SecretText secret(password.GetPassword());
    Context context;
    if (const unsigned status = ParseContext(Narrow(serverContext), context, false)) return status;
    if (!IsSupportedType(Trimmed(type))) return kStatusUnsupportedType;
    std::vector<std::string> found;
    if (secret.Text().empty()) {
        searchStatus = kDomainSearchInvalidCredentials;
        domains.clear();
        return 0;
    }
    if (const unsigned status =
            directory_.ExplicitDomains(context.server, Trimmed(userName), secret.Text(), sslEnable,
                                       limit, found, searchStatus))
        return status;
    std::vector<std::string> printed;
    for (const std::string& text : found) {
        Dn dn;
        if (Dn::Parse(text, dn) && !dn.Empty())
            printed.push_back(FormatContext(context.server, dn));
    }
    SortNames(printed);
    // At most limit domains whatever the backend gave; 0 or below sets no cap.
    if (limit > 0 && printed.size() > static_cast<std::size_t>(limit))
        printed.resize(static_cast<std::size_t>(limit));
    domains.clear();
    for (std::string& name : printed) domains.push_back(makeWideString(std::move(name)));
    return 0;
}

unsigned UserService::GetWorkstations(const OvWString& domain, std::vector<OvWString>& workstations)
{
    const std::string text = Trimmed(domain);
    Dn base;
    std::string server;
    if (text.find("://") != std::string::npos) {
        Context context;
        if (const unsigned status = ParseContext(text, context)) return status;
        if (const unsigned status = CheckDomain(context.server, context.dn)) return status;
        base = context.dn;
        server = context.server;
    } else {
        if (text.empty()) return kStatusMalformedName;
        if (const unsigned status = DomainByShortName(text, base)) return status;
    }
    SearchRequest request;
    request.server = server;
    request.base = base.Format();
    request.filter = KindFilter(EntryKind::Workstation);
    request.attributes = {"cn", "dnshostname"};
    std::vector<Entry> found;
    if (const unsigned status = directory_.Search(request, found)) return status;
    std::vector<std::string> names;
    for (const Entry& entry : found) {
        std::string name = entry.First("cn");
        if (name.empty()) name = entry.First("dnshostname");
        if (!name.empty()) names.push_back(std::move(name));
    }
    ToWide(names, workstations);
    return 0;
}

unsigned UserService::GetUserLoginAndFullName(const OvWString& user, OvWString& fullName,
                                              OvWString& login)
{
    Entry entry;
    Context context;
    if (const unsigned status = ResolveKind(user, Kind::User, kUserAttributes, entry, context))
        return status;
    fullName = makeWideString(FullNameOf(entry));
    login = makeWideString(LoginOf(entry));
    return 0;
}

unsigned UserService::GetUserInfoFromName(const OvWString& login, OvWString& fqdn,
                                          OvWString& fullName, OvWString& loginName)
{
    Entry user;
    if (const unsigned status = UserFromDomainLogin(login, user))
        return ReportUnanswered("user info for the login", login, status);
    fqdn = PrintedName(directory_.DefaultServer(), user);
    fullName = makeWideString(FullNameOf(user));
    loginName = makeWideString(LoginOf(user));
    return 0;
}

unsigned UserService::GetUserInfoFromEmail(const OvWString& email, OvWString& fqdn,
                                           OvWString& fullName, OvWString& loginName)
{
    const std::string address = Trimmed(email);
    std::vector<Dn> domains;
    Entry user;
    unsigned status =
        address.empty() ? static_cast<unsigned>(kStatusNoSuchEntry) : Domains(domains);
    if (status == 0)
        status = FindUser(domains, Filter::Equals("mail", address), std::string(), user);
    if (status != 0) return ReportUnanswered("user info for the address", email, status);
    fqdn = PrintedName(directory_.DefaultServer(), user);
    fullName = makeWideString(FullNameOf(user));
    loginName = makeWideString(LoginOf(user));
    return 0;
}

unsigned UserService::ReportUnanswered(const char* what, const OvWString& typed, unsigned status)
{
    ReportServiceFault(
        status, directory_.DefaultServer(), 0,
        RecordText(std::string(what) + " \"" + Narrow(typed) + "\": " + EventLog::Text(status)));
    return status;
}

unsigned UserService::GetUserEmailAddr(const OvWString& user, OvWString& email)
{
    Entry entry;
    Context context;
    if (const unsigned status = ResolveKind(user, Kind::User, kUserAttributes, entry, context))
        return status;
    const std::string address = entry.First("mail");
    if (address.empty()) return kStatusNoEmail;
    email = makeWideString(address);
    return 0;
}

unsigned UserService::SearchByName(const OvWString& context, const OvWString& name, bool exact,
                                   const Filter& kind, const std::vector<std::string>& attributes,
                                   std::vector<OvWString>& found)
{
    // The typed text is only ever a value in the filter tree: "*" and
    // parentheses are characters to match, never filter syntax.
    const std::string text = Narrow(name);
    std::vector<Filter> alternatives;
    for (const std::string& attribute : attributes)
        alternatives.push_back(NameMatch(attribute, text, exact));
    return ListContext(context, Filter::And({kind, Filter::Or(std::move(alternatives))}), found);
}

unsigned UserService::SearchGroupsFromName(const OvWString& context, const OvWString& name,
                                           bool& exactMatch, std::vector<OvWString>& groups)
{
    return SearchByName(context, name, exactMatch, GroupFilter(),
                        {"cn", "uid", "samaccountname", "displayname"}, groups);
}

unsigned UserService::SearchUsersFromName(const OvWString& context, const OvWString& name,
                                          bool& exactMatch, std::vector<OvWString>& users)
{
    return SearchByName(context, name, exactMatch, UserFilter(),
                        {"cn", "uid", "samaccountname", "displayname"}, users);
}

unsigned UserService::SearchOrgUnitsFromName(const OvWString& context, const OvWString& name,
                                             bool& exactMatch, std::vector<OvWString>& units)
{
    Context parsed;
    if (const unsigned status = ParseContext(Narrow(context), parsed))
        return ExplainContext(context, parsed, status, std::string());
    SearchRequest request;
    request.server = parsed.server;
    request.base = parsed.dn.Format();
    request.filter =
        Filter::And({KindFilter(EntryKind::OrgUnit), NameMatch("ou", Narrow(name), exactMatch)});
    std::string matched;
    request.matchedDn = &matched;
    std::vector<Entry> found;
    if (const unsigned status = directory_.Search(request, found))
        return ExplainContext(context, parsed, status, matched);
    std::vector<std::string> printed;
    for (const Entry& entry : found) {
        Dn dn;
        if (Dn::Parse(entry.dn, dn) && !dn.Empty())
            printed.push_back(FormatContext(parsed.server, dn));
    }
    ToWide(printed, units);
    return 0;
}

}  // namespace ovdir
