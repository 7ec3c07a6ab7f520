// The user service over a directory: every naming, sorting and membership
// rule lives here, so every backend answers the same.
#include "platform/userservices/UserService.h"

#include "platform/userservices/EventLog.h"
#include "platform/userservices/GroupExpansion.h"

#include "framework/OvSystem.h"

#include <deque>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

namespace ovdir {

const std::vector<std::string> kUserAttributes = {"objectclass", "uid", "samaccountname",
                                                  "displayname", "cn",  "mail"};

const std::vector<std::string> kGroupAttributes = {"objectclass", "member", "uniquemember",
                                                   "memberuid"};

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

namespace {

Filter UserFilter() { return KindFilter(EntryKind::User); }

Filter GroupFilter() { return KindFilter(EntryKind::Group); }

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

// Each entry's first value of attribute, else of fallback, in the entries'
// order; entries with neither are left out.
void NamesOf(const std::vector<Entry>& found, const char* attribute, const char* fallback,
             std::vector<OvWString>& out)
{
    std::vector<std::string> names;
    for (const Entry& entry : found) {
        std::string name = entry.First(attribute);
        if (name.empty()) name = entry.First(fallback);
        if (!name.empty()) names.push_back(std::move(name));
    }
    ToWide(names, out);
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
    NamesOf(found, "trustpartner", "cn", trusted);
    return 0;
}

unsigned UserService::GetUserGroups(const OvWString& user, std::vector<OvWString>& groups)
{
    Located found;
    if (const unsigned status = Locate(user, Kind::User, kUserAttributes, found)) return status;
    std::vector<Filter> references = {Filter::Equals("member", found.dn.Format()),
                                      Filter::Equals("uniquemember", found.dn.Format())};
    const std::string login = LoginOf(found.entry);
    if (!login.empty()) references.push_back(Filter::Equals("memberuid", login));
    return ListEntries(found.context.server, found.base,
                       Filter::And({GroupFilter(), Filter::Or(std::move(references))}), groups);
}

unsigned UserService::GetUsersForGroup(const OvWString& group, std::vector<OvWString>& users)
{
    Located top;
    if (const unsigned status = Locate(group, Kind::Group, kGroupAttributes, top)) return status;
    const std::string& server = top.context.server;
    // Members are judged by their classes as the server that holds them
    // sees them, along its class chains.
    const std::shared_ptr<const ClassChains> classes = directory_.Classes(server);
    ExpansionBudget budget(limits_);
    std::vector<std::string> printed;
    const unsigned status =
        ExpandGroup(directory_, top.base, std::move(top.entry), server, *classes, budget, printed);
    if (status == kStatusExpansionTooLarge) {
        budget.Report(server.empty() ? directory_.DefaultServer() : server);
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
    // A directory without a listing of its own lists nothing.
    if (domains_ == nullptr) {
        domains.clear();
        return 0;
    }
    if (const unsigned status =
            domains_->ExplicitDomains(context.server, Trimmed(userName), secret.Text(), sslEnable,
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
    NamesOf(found, "cn", "dnshostname", workstations);
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
