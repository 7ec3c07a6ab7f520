// The user service: users, groups, domains, names, authentication and
// searches, answered from a directory.
#pragma once

#include <string>
#include <vector>

#include "platform/directory/Directory.h"
#include "platform/directory/Names.h"
#include "services/OvUserServiceBase.h"

namespace ovdir {

// Attributes that usually carry an entry's naming value. An entry named by
// another one is still found, by its naming value among its container's
// entries of the kind asked for.
const std::vector<std::string>& NamingAttributes();

// Users (persons that are not computers) and groups (of any group class).
Filter UserOrGroupFilter();
// The attributes a user is read with: its classes, login and names.
extern const std::vector<std::string> kUserAttributes;
// The attributes a group is read with: its classes and members.
extern const std::vector<std::string> kGroupAttributes;
// The attributes that hold a login.
extern const std::vector<std::string> kLoginAttributes;
// A user's login: uid, else sAMAccountName.
std::string LoginOf(const Entry& user);
// A user's full name: displayName, else cn.
std::string FullNameOf(const Entry& user);
// The users that may have the login: the directory is asked for either
// attribute, and HasLogin then keeps those whose login it is.
Filter LoginFilter(const std::string& login);
// Whether login is the user's login: uid, else sAMAccountName. A user with
// uid robert and sAMAccountName bob does not have the login bob.
bool HasLogin(const Entry& user, const std::string& login);

class UserService : public OvUserServiceBase {
public:
    // domains: the explicit listing of command 20; none: the directory's own
    // when it keeps one (the embedded backend does).
    explicit UserService(Directory& directory, ExpansionLimits limits = {},
                         ExplicitDomainSource* domains = nullptr)
        : directory_(directory),
          limits_(limits),
          domains_(domains != nullptr ? domains : dynamic_cast<ExplicitDomainSource*>(&directory))
    {
    }

    OvUserServiceBase* GetInterface() override { return this; }

    unsigned GetUsers(const OvWString& context, std::vector<OvWString>& users) override;
    unsigned GetGroups(const OvWString& context, std::vector<OvWString>& groups) override;
    unsigned GetDomains(const OvWString& type, std::vector<OvWString>& domains) override;
    unsigned GetTrustedDomains(const OvWString& domain, std::vector<OvWString>& trusted) override;
    unsigned GetUserGroups(const OvWString& user, std::vector<OvWString>& groups) override;
    unsigned GetUsersForGroup(const OvWString& group, std::vector<OvWString>& users) override;
    unsigned GetFullUserName(const OvWString& user, OvWString& fullName) override;
    unsigned GetQualifiedNameForUser(const OvWString& login, OvWString& fqdn) override;
    unsigned TestUserAuthentication(const OvWString& user, const OvWString& password,
                                    OvWString& fullName, bool& authenticated) override;
    unsigned GetDomainsSsl(const OvWString& serverContext, const OvWString& userName,
                           OvWIFFLEPassword& password, const OvWString& type, int& limit,
                           bool& sslEnable, std::vector<OvWString>& domains,
                           int& searchStatus) override;
    unsigned GetWorkstations(const OvWString& domain,
                             std::vector<OvWString>& workstations) override;
    unsigned GetUserLoginAndFullName(const OvWString& user, OvWString& fullName,
                                     OvWString& login) override;
    unsigned GetUserInfoFromName(const OvWString& login, OvWString& fqdn, OvWString& fullName,
                                 OvWString& loginName) override;
    unsigned GetUserInfoFromEmail(const OvWString& email, OvWString& fqdn, OvWString& fullName,
                                  OvWString& loginName) override;
    unsigned GetUserEmailAddr(const OvWString& user, OvWString& email) override;
    unsigned SearchGroupsFromName(const OvWString& context, const OvWString& name, bool& exactMatch,
                                  std::vector<OvWString>& groups) override;
    unsigned SearchUsersFromName(const OvWString& context, const OvWString& name, bool& exactMatch,
                                 std::vector<OvWString>& users) override;
    unsigned SearchOrgUnitsFromName(const OvWString& context, const OvWString& name,
                                    bool& exactMatch, std::vector<OvWString>& units) override;
    unsigned CompleteContext(const OvWString& typed, unsigned limit, unsigned milliseconds,
                             std::vector<OvWString>& words) override;
    unsigned GetEntry(const OvWString& name, OvWString& dn,
                      std::vector<OvEntryAttribute>& attributes) override;

private:
    enum class Kind { User, Group, Any };

    // The entry an FQDN names, of the kind asked for, with the attributes.
    unsigned Resolve(const OvWString& fqdn, Kind kind, const std::vector<std::string>& attributes,
                     Entry& entry, Context& context);
    // Resolve, and where the FQDN names an entry of another kind, the status
    // that says so (kStatusNotUser, kStatusNotGroup) instead of
    // kStatusNoSuchEntry.
    unsigned ResolveKind(const OvWString& fqdn, Kind kind,
                         const std::vector<std::string>& attributes, Entry& entry,
                         Context& context);
    // Why a context typed by the user gave status: a text that names a user
    // or group is kStatusNotContainer; a base that does not exist writes an
    // error record naming matched, the deepest entry above it that does.
    unsigned ExplainContext(const OvWString& typed, const Context& parsed, unsigned status,
                            const std::string& matched);
    // The domains of the configured directory.
    unsigned Domains(std::vector<Dn>& domains);
    unsigned DomainByShortName(const std::string& name, Dn& domain);
    // Whether dn is a domain entry on server.
    unsigned CheckDomain(const std::string& server, const Dn& dn);
    // The naming context that holds dn: where to look for what refers to it.
    // A directory that cannot list its naming contexts gives its status: a
    // base guessed in its place could leave out part of the answer.
    unsigned ContainingBase(const Dn& dn, Dn& base);
    // A user or group resolved, with its DN parsed and the naming context
    // that holds it: where to look for what refers to it.
    struct Located {
        Entry entry;
        Context context;
        Dn dn;
        Dn base;
    };
    unsigned Locate(const OvWString& fqdn, Kind kind, const std::vector<std::string>& attributes,
                    Located& located);
    // The one user the filter matches in the domains given; when login is
    // not empty, the one whose login it is.
    unsigned FindUser(const std::vector<Dn>& domains, const Filter& match, const std::string& login,
                      Entry& user);
    unsigned UserFromDomainLogin(const OvWString& text, Entry& user);
    // An error record saying why a lookup whose caller prints its answer
    // whatever the status (the user info lookups) found nothing: what was
    // looked for, as typed, and the status's text. Returns status.
    unsigned ReportUnanswered(const char* what, const OvWString& typed, unsigned status);
    unsigned ListEntries(const std::string& server, const Dn& base, const Filter& filter,
                         std::vector<OvWString>& names, std::string* matchedDn = nullptr);
    // ListEntries within the context the user typed, and ExplainContext when
    // that fails.
    unsigned ListContext(const OvWString& typed, const Filter& filter,
                         std::vector<OvWString>& names);
    unsigned SearchByName(const OvWString& context, const OvWString& name, bool exact,
                          const Filter& kind, const std::vector<std::string>& attributes,
                          std::vector<OvWString>& found);

    Directory& directory_;
    const ExpansionLimits limits_;
    ExplicitDomainSource* const domains_;
};

}  // namespace ovdir
