// The subcommands' work: each calls one operation of a service and prints
// its answer, or its failure, with the exit status that says which.
#include <iostream>
#include <string>
#include <vector>

#include "apps/UserServiceCommand/OvCommandSupport.h"
#include "apps/UserServiceCommand/OvTerminalSession.h"
#include "apps/userservice/UsCommands.h"
#include "framework/OvInetAddress.h"
#include "services/OvDirectoryServiceBase.h"
#include "services/OvTransIdServiceBase.h"

namespace {

using SearchOperation = unsigned (OvUserServiceBase::*)(const OvWString&, const OvWString&, bool&,
                                                        std::vector<OvWString>&);

int Failed(unsigned status)
{
    UsReportStatus(std::cerr, status);
    return UsExitForStatus(status);
}

// A domain login as the prompts take it: default://DOMAIN\login, or the
// same without the type.
std::string DomainLogin(const std::string& typed)
{
    return typed.find("://") == std::string::npos ? "default://" + typed : typed;
}

// The DN of each name, looked up one by one (format dn).
int DnsOf(UsSession& session, const std::vector<OvWString>& names, std::vector<std::string>& dns)
{
    if (session.Format() != UsFormat::Dn) return kUsSuccess;
    for (const OvWString& name : names) {
        OvWString dn;
        std::vector<OvEntryAttribute> attributes;
        const unsigned status = session.UserService()->GetEntry(name, dn, attributes);
        if (status != 0) return Failed(status);
        dns.push_back(dn.utf8());
    }
    return kUsSuccess;
}

int PrintNames(UsSession& session, const std::string& command, const std::string& input,
               const std::vector<OvWString>& names)
{
    std::vector<std::string> dns;
    if (const int rc = DnsOf(session, names, dns)) return rc;
    session.Printer(command, input).Names(names, dns);
    return names.empty() ? kUsNothingFound : kUsSuccess;
}

// An answer without names: format dn has nothing to print.
int NoDns(UsSession& session, const std::string& command)
{
    if (session.Format() != UsFormat::Dn) return kUsSuccess;
    std::cerr << "userservice: " << command << " answers no names: --format dn does not apply"
              << std::endl;
    return kUsUsage;
}

// Fields of an answer; with format dn, the DN of the user or entry that the
// field labelled fqdn or user names.
int PrintFields(UsSession& session, const std::string& command, const std::string& input,
                const std::vector<UsField>& fields)
{
    if (session.Format() == UsFormat::Dn) {
        for (const UsField& field : fields) {
            if (field.first != "fqdn" && field.first != "user") continue;
            return PrintNames(session, command, input, {makeWideString(field.second)});
        }
        return NoDns(session, command);
    }
    session.Printer(command, input).Fields(fields);
    return kUsSuccess;
}

// The password as the service takes it, wide; the secret is wiped. The
// text is made in room enough that it never moves, and moved whole.
OvWString TakeWide(ovdir::Secret& secret)
{
    std::string text;
    text.reserve(OvConsoleIo::kLineRoom + 1);
    text.append(secret.View());
    secret.clear();
    return OvWString::FromUtf8(std::move(text));
}

}  // namespace

int UsList(UsSession& session, const std::string& command, const std::string& input,
           UsListOperation operation)
{
    std::vector<OvWString> names;
    const unsigned status = (session.UserService()->*operation)(makeWideString(input), names);
    if (status != 0) return Failed(status);
    for (const OvWString& name : names) {
        if (session.Format() != UsFormat::Dn || name.utf8().find("://") != std::string::npos)
            continue;
        // A workstation's or trusted domain's name: no entry of the service's.
        std::cerr << "userservice: the answer holds names that are no FQDN: --format dn does not "
                     "apply"
                  << std::endl;
        return kUsUsage;
    }
    return PrintNames(session, command, input, names);
}

int UsInfo(UsSession& session, const std::string& command, const std::string& input,
           UsInfoOperation operation)
{
    OvWString fqdn;
    OvWString fullName;
    OvWString login;
    const unsigned status =
        (session.UserService()->*operation)(makeWideString(input), fqdn, fullName, login);
    if (status != 0) return Failed(status);
    return PrintFields(
        session, command, input,
        {{"fqdn", fqdn.utf8()}, {"full_name", fullName.utf8()}, {"login", login.utf8()}});
}

int UsSearch(UsSession& session, const std::string& kind, const std::string& context,
             const std::string& text, bool exact)
{
    const SearchOperation operation = kind == "users" ? &OvUserServiceBase::SearchUsersFromName
                                      : kind == "groups"
                                          ? &OvUserServiceBase::SearchGroupsFromName
                                          : &OvUserServiceBase::SearchOrgUnitsFromName;
    std::vector<OvWString> names;
    const unsigned status = (session.UserService()->*operation)(makeWideString(context),
                                                                makeWideString(text), exact, names);
    if (status != 0) return Failed(status);
    return PrintNames(session, "search " + kind, context, names);
}

int UsServers(UsSession& session, const std::string& domain)
{
    if (const int rc = NoDns(session, "servers")) return rc;
    session.Start();
    ProxyHandle<OvDirectoryServiceBase> directoryService(0);
    std::vector<DomainServer> servers;
    const unsigned status =
        directoryService.GetInterface()->GetServersForDomain(makeWideString(domain), servers);
    if (status != 0) return Failed(status);
    std::vector<std::vector<UsField>> rows;
    for (const DomainServer& server : servers)
        rows.push_back({{"name", server.name.utf8()}, {"ip", server.ip.str()}});
    session.Printer("servers", domain).Rows(rows);
    return servers.empty() ? kUsNothingFound : kUsSuccess;
}

int UsLoggedOn(UsSession& session, const std::string& host)
{
    unsigned address = 0;
    try {
        address = OvInetAddress(host, 0, false).GetIpAddress(false);
    } catch (const OvNetworkException&) {
    }
    if (address == 0) {
        std::cerr << "userservice: " << OvPrintable(host)
                  << " is no address or host name that resolves" << std::endl;
        return kUsUsage;
    }
    session.Start();
    ProxyHandle<OvTransIdServiceBase> transIdService(0);
    OvWString user;
    const unsigned status = transIdService.GetInterface()->GetUser(address, user);
    if (status != 0) return Failed(status);
    return PrintFields(session, "logged-on", host, {{"user", user.utf8()}});
}

int UsAuthenticate(UsSession& session, const std::string& login)
{
    if (const int rc = NoDns(session, "auth")) return rc;
    ovdir::Secret password;
    if (const int rc = session.ReadPassword("Password for " + OvPrintable(login), password))
        return rc;
    OvWString fullName;
    bool authenticated = false;
    unsigned status = 0;
    {
        OvWString widePassword = TakeWide(password);
        status = session.UserService()->TestUserAuthentication(makeWideString(login), widePassword,
                                                               fullName, authenticated);
        OvWipe(widePassword);
    }
    if (status != 0) return Failed(status);
    session.Printer("auth", login)
        .Fields({{"full_name", fullName.utf8()}, {"authenticated", authenticated ? "yes" : "no"}});
    return authenticated ? kUsSuccess : kUsNothingFound;
}

int UsExplicitDomains(UsSession& session, const UsExplicitDomainArguments& arguments)
{
    ovdir::Secret typed;
    if (const int rc = session.ReadPassword("Password for " + OvPrintable(arguments.user), typed))
        return rc;
    std::vector<OvWString> domains;
    int searchStatus = kDomainSearchUnknownFailure;
    unsigned status = 0;
    {
        OvWString widePassword = TakeWide(typed);
        OvWIFFLEPassword password(widePassword, false);
        OvWipe(widePassword);
        int limit = arguments.limit;
        bool tls = arguments.tls;
        status = session.UserService()->GetDomainsSsl(
            makeWideString(arguments.server), makeWideString(arguments.user), password,
            makeWideString(arguments.type), limit, tls, domains, searchStatus);
    }
    if (status != 0) return Failed(status);
    if (searchStatus != kDomainSearchSuccess) {
        std::cerr << "userservice: " << DomainSearchStatusText(searchStatus) << std::endl;
        switch (searchStatus) {
            case kDomainSearchInvalidCredentials:
                return kUsCredentials;
            case kDomainSearchConnectionFailed:
            case kDomainSearchSslFailed:
                return kUsUnreachable;
            default:
                return kUsFailure;
        }
    }
    return PrintNames(session, "explicit-domains", arguments.server, domains);
}

int UsShow(UsSession& session, const std::string& name)
{
    OvWString dn;
    std::vector<OvEntryAttribute> attributes;
    const unsigned status = session.UserService()->GetEntry(makeWideString(name), dn, attributes);
    if (status != 0) return Failed(status);
    session.Printer("show", name).Entry(dn.utf8(), attributes);
    return kUsSuccess;
}

// What may continue a context typed so far, for the shell's completion: the
// whole text of each candidate, one a line, as the console's Tab finds them.
int UsComplete(UsSession& session, const std::string& typed)
{
    session.Start();
    OvConsoleIo io(std::cin, std::cout, std::wcout);
    OvCommandContext context{io, session.UserServiceHandle()};
    OvContextCompleter completer(context);
    std::size_t at = 0;
    std::vector<std::string> words;
    if (!completer.Complete(OvAnswerKind::Context, typed, at, words)) return kUsNothingFound;
    const std::string kept = typed.substr(0, at);
    for (const std::string& word : words) std::cout << kept << word << '\n';
    return kUsSuccess;
}

namespace {

using UserTextOperation = unsigned (OvUserServiceBase::*)(const OvWString&, OvWString&);

// A user's one text (full name, e-mail address) as the field named.
int UserText(UsSession& session, const char* command, const std::string& user,
             UserTextOperation operation, const char* field)
{
    if (const int rc = NoDns(session, command)) return rc;
    OvWString text;
    const unsigned status = (session.UserService()->*operation)(makeWideString(user), text);
    if (status != 0) return Failed(status);
    return PrintFields(session, command, user, {{field, text.utf8()}});
}

}  // namespace

int UsFullName(UsSession& session, const std::string& user)
{
    return UserText(session, "full-name", user, &OvUserServiceBase::GetFullUserName, "full_name");
}

int UsFqdn(UsSession& session, const std::string& login)
{
    OvWString name;
    const unsigned status =
        session.UserService()->GetQualifiedNameForUser(makeWideString(DomainLogin(login)), name);
    if (status != 0) return Failed(status);
    return PrintFields(session, "fqdn", login, {{"fqdn", name.utf8()}});
}

int UsLogin(UsSession& session, const std::string& user)
{
    if (const int rc = NoDns(session, "login")) return rc;
    OvWString name;
    OvWString login;
    const unsigned status =
        session.UserService()->GetUserLoginAndFullName(makeWideString(user), name, login);
    if (status != 0) return Failed(status);
    return PrintFields(session, "login", user,
                       {{"full_name", name.utf8()}, {"login", login.utf8()}});
}

int UsUserInfo(UsSession& session, const std::string& login)
{
    return UsInfo(session, "user-info", DomainLogin(login),
                  &OvUserServiceBase::GetUserInfoFromName);
}

int UsEmail(UsSession& session, const std::string& user)
{
    return UserText(session, "email", user, &OvUserServiceBase::GetUserEmailAddr, "email");
}
