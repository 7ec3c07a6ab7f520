// userservice's command line: one subcommand for each operation of the user
// service, parsed by CLI11, answered through the same services as the menu.
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "apps/UserServiceCommand/OvCommandSupport.h"
#include "apps/UserServiceCommand/OvTerminalSession.h"
#include "apps/userservice/UsCheck.h"
#include "apps/userservice/UsSession.h"
#include "framework/OvInetAddress.h"
#include "services/OvDirectoryServiceBase.h"
#include "services/OvTransIdServiceBase.h"

#ifndef OV_VERSION
#define OV_VERSION "unknown"
#endif

namespace {

using ListOperation = unsigned (OvUserServiceBase::*)(const OvWString&, std::vector<OvWString>&);
using SearchOperation = unsigned (OvUserServiceBase::*)(const OvWString&, const OvWString&, bool&,
                                                        std::vector<OvWString>&);
using InfoOperation = unsigned (OvUserServiceBase::*)(const OvWString&, OvWString&, OvWString&,
                                                      OvWString&);

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

int List(UsSession& session, const std::string& command, const std::string& input,
         ListOperation operation)
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

int Info(UsSession& session, const std::string& command, const std::string& input,
         InfoOperation operation)
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

int Search(UsSession& session, const std::string& kind, const std::string& context,
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

int Servers(UsSession& session, const std::string& domain)
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

int LoggedOn(UsSession& session, const std::string& host)
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

int Authenticate(UsSession& session, const std::string& login)
{
    if (const int rc = NoDns(session, "auth")) return rc;
    ovdir::Secret password;
    if (const int rc = session.ReadPassword("Password for " + OvPrintable(login), password))
        return rc;
    OvWString fullName;
    bool authenticated = false;
    unsigned status = 0;
    {
        std::string text;
        text.reserve(OvConsoleIo::kLineRoom + 1);
        text.append(password.View());
        password.clear();
        OvWString widePassword = OvWString::FromUtf8(std::move(text));
        status = session.UserService()->TestUserAuthentication(makeWideString(login), widePassword,
                                                               fullName, authenticated);
        OvWipe(widePassword);
    }
    if (status != 0) return Failed(status);
    session.Printer("auth", login)
        .Fields({{"full_name", fullName.utf8()}, {"authenticated", authenticated ? "yes" : "no"}});
    return authenticated ? kUsSuccess : kUsNothingFound;
}

struct ExplicitDomainArguments {
    std::string server;
    std::string user;
    std::string type = "LDAP";
    bool tls = false;
    int limit = 100;
};

int ExplicitDomains(UsSession& session, ExplicitDomainArguments arguments)
{
    ovdir::Secret typed;
    if (const int rc = session.ReadPassword("Password for " + OvPrintable(arguments.user), typed))
        return rc;
    std::vector<OvWString> domains;
    int searchStatus = kDomainSearchUnknownFailure;
    unsigned status = 0;
    {
        std::string text;
        text.reserve(OvConsoleIo::kLineRoom + 1);
        text.append(typed.View());
        typed.clear();
        OvWString widePassword = OvWString::FromUtf8(std::move(text));
        OvWIFFLEPassword password(widePassword, false);
        OvWipe(widePassword);
        status = session.UserService()->GetDomainsSsl(
            makeWideString(arguments.server), makeWideString(arguments.user), password,
            makeWideString(arguments.type), arguments.limit, arguments.tls, domains, searchStatus);
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

int Show(UsSession& session, const std::string& name)
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
int Complete(UsSession& session, const std::string& typed)
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

// A subcommand of one argument whose answer is a listing.
void AddList(CLI::App& app, int& rc, UsSession& session, const char* name, const char* argument,
             const char* description, ListOperation operation, std::string& value)
{
    CLI::App* command = app.add_subcommand(name, description);
    command->add_option(argument, value, argument)->required();
    command->callback(
        [&rc, &session, name, &value, operation] { rc = List(session, name, value, operation); });
}

}  // namespace

int UsRun(int argc, char** argv)
{
    UsOptions options;
    UsSession session(options);
    int rc = kUsSuccess;

    CLI::App app{
        "Ask the directory user service: users, groups, domains, logins, names, "
        "passwords, searches.\nThe settings come from --config FILE, else ./orvane.ini, "
        "else $XDG_CONFIG_HOME/userservicecommand/orvane.ini, else "
        "/etc/userservicecommand/orvane.ini; without any, the built-in sample "
        "directory answers.",
        "userservice"};
    app.set_version_flag("--version", std::string("userservice " OV_VERSION));
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 success; 1 nothing found or not authenticated; 2 usage error; 3 "
        "directory unreachable, time-out or TLS failure; 4 credentials refused; 5 any other "
        "failure. See userservice(1).");
    app.fallthrough();
    app.add_option("--config", options.config, "The parameter file (orvane.ini) to use")
        ->check(CLI::ExistingFile);
    app.add_option("-f,--format", options.format, "Output: text (one item a line), json, dn")
        ->check(CLI::IsMember({"text", "json", "dn"}));
    app.add_option("--password-file", options.passwordFile,
                   "Read the password from this file (a regular file, the password alone)");
    app.add_flag("--password-stdin", options.passwordStdin,
                 "Read the password from the first line of standard input");

    std::string argument;
    AddList(app, rc, session, "users", "CONTEXT", "The users in a context (TYPE://SERVER DN)",
            &OvUserServiceBase::GetUsers, argument);
    AddList(app, rc, session, "groups", "CONTEXT", "The groups in a context",
            &OvUserServiceBase::GetGroups, argument);
    AddList(app, rc, session, "domains", "TYPE",
            "The domains of the directory (LDAP, ADS, NDS, IPLANET)",
            &OvUserServiceBase::GetDomains, argument);
    AddList(app, rc, session, "user-groups", "USER", "The groups of a user (its FQDN)",
            &OvUserServiceBase::GetUserGroups, argument);
    AddList(app, rc, session, "members", "GROUP", "The user members of a group (its FQDN)",
            &OvUserServiceBase::GetUsersForGroup, argument);
    AddList(app, rc, session, "workstations", "DOMAIN", "The workstations of a domain (EXAMPLE)",
            &OvUserServiceBase::GetWorkstations, argument);
    AddList(app, rc, session, "trusts", "DOMAIN",
            "The trusted domains of a domain (TYPE://SERVER DN)",
            &OvUserServiceBase::GetTrustedDomains, argument);

    CLI::App* servers = app.add_subcommand("servers", "The domain controllers of a domain");
    servers->add_option("DOMAIN", argument, "TYPE://SERVER DN")->required();
    servers->callback([&] { rc = Servers(session, argument); });

    CLI::App* loggedOn = app.add_subcommand("logged-on", "The user logged on at a workstation");
    loggedOn->add_option("ADDRESS", argument, "An IPv4 address or host name")->required();
    loggedOn->callback([&] { rc = LoggedOn(session, argument); });

    CLI::App* fullName = app.add_subcommand("full-name", "The full name of a user (its FQDN)");
    fullName->add_option("USER", argument, "TYPE://SERVER DN/NAME")->required();
    fullName->callback([&] {
        if ((rc = NoDns(session, "full-name")) != kUsSuccess) return;
        OvWString name;
        const unsigned status =
            session.UserService()->GetFullUserName(makeWideString(argument), name);
        rc = status != 0
                 ? Failed(status)
                 : PrintFields(session, "full-name", argument, {{"full_name", name.utf8()}});
    });

    CLI::App* fqdn = app.add_subcommand("fqdn", "The FQDN of a domain login");
    fqdn->add_option("LOGIN", argument, "DOMAIN\\login or default://DOMAIN\\login")->required();
    fqdn->callback([&] {
        OvWString name;
        const unsigned status = session.UserService()->GetQualifiedNameForUser(
            makeWideString(DomainLogin(argument)), name);
        rc = status != 0 ? Failed(status)
                         : PrintFields(session, "fqdn", argument, {{"fqdn", name.utf8()}});
    });

    CLI::App* login = app.add_subcommand("login", "The login and full name of a user (its FQDN)");
    login->add_option("USER", argument, "TYPE://SERVER DN/NAME")->required();
    login->callback([&] {
        if ((rc = NoDns(session, "login")) != kUsSuccess) return;
        OvWString name;
        OvWString loginName;
        const unsigned status = session.UserService()->GetUserLoginAndFullName(
            makeWideString(argument), name, loginName);
        rc = status != 0 ? Failed(status)
                         : PrintFields(session, "login", argument,
                                       {{"full_name", name.utf8()}, {"login", loginName.utf8()}});
    });

    CLI::App* userInfo =
        app.add_subcommand("user-info", "The FQDN, full name and login of a domain login");
    userInfo->add_option("LOGIN", argument, "DOMAIN\\login or default://DOMAIN\\login")->required();
    userInfo->callback([&] {
        rc = Info(session, "user-info", DomainLogin(argument),
                  &OvUserServiceBase::GetUserInfoFromName);
    });

    CLI::App* byEmail =
        app.add_subcommand("user-by-email", "The FQDN, full name and login of an e-mail address");
    byEmail->add_option("EMAIL", argument, "jsmith@example.com")->required();
    byEmail->callback([&] {
        rc = Info(session, "user-by-email", argument, &OvUserServiceBase::GetUserInfoFromEmail);
    });

    CLI::App* email = app.add_subcommand("email", "The e-mail address of a user (its FQDN)");
    email->add_option("USER", argument, "TYPE://SERVER DN/NAME")->required();
    email->callback([&] {
        if ((rc = NoDns(session, "email")) != kUsSuccess) return;
        OvWString address;
        const unsigned status =
            session.UserService()->GetUserEmailAddr(makeWideString(argument), address);
        rc = status != 0 ? Failed(status)
                         : PrintFields(session, "email", argument, {{"email", address.utf8()}});
    });

    CLI::App* auth = app.add_subcommand(
        "auth", "Whether a password is accepted for a login (exit status 1 when not)");
    auth->add_option("LOGIN", argument, "login or DOMAIN\\login")->required();
    auth->callback([&] { rc = Authenticate(session, argument); });

    std::string searchKind;
    std::string searchText;
    bool exact = false;
    CLI::App* search = app.add_subcommand("search", "Users, groups or org. units by name");
    search->add_option("KIND", searchKind, "users, groups or ous")
        ->required()
        ->check(CLI::IsMember({"users", "groups", "ous"}));
    search->add_option("CONTEXT", argument, "TYPE://SERVER DN")->required();
    search->add_option("TEXT", searchText, "What the name holds")->required();
    search->add_flag("--exact", exact, "The whole name, not a part of it");
    search->callback([&] { rc = Search(session, searchKind, argument, searchText, exact); });

    ExplicitDomainArguments explicitArguments;
    CLI::App* explicitDomains = app.add_subcommand(
        "explicit-domains", "The domains of a server, bound with the credentials given");
    explicitDomains->add_option("SERVER", explicitArguments.server, "TYPE://SERVER[:PORT] DN")
        ->required();
    explicitDomains->add_option("BIND-DN", explicitArguments.user, "The DN to bind as")->required();
    explicitDomains->add_option("--type", explicitArguments.type, "NDS, iPlanet or ADS");
    explicitDomains->add_flag("--tls", explicitArguments.tls, "Over TLS");
    explicitDomains->add_option("--limit", explicitArguments.limit, "At most this many domains");
    explicitDomains->callback([&] { rc = ExplicitDomains(session, explicitArguments); });

    CLI::App* show = app.add_subcommand(
        "show", "The whole entry of a user or group: every attribute, secrets left out");
    show->add_option("NAME", argument, "TYPE://SERVER DN/NAME, login or DOMAIN\\login")->required();
    show->callback([&] { rc = Show(session, argument); });

    CLI::App* config = app.add_subcommand("config", "The parameter file in use and its settings");
    config->callback([&] { rc = UsPrintConfig(session.ConfigFile(), std::cout); });

    CLI::App* check =
        app.add_subcommand("check", "Try each configured directory server; one verdict a line");
    check->callback([&] { rc = UsCheck(session, std::cout); });

    CLI::App* complete =
        app.add_subcommand("complete", "Completion of a context from the directory");
    complete->group("");  // for the shell's completion, not in the help
    complete->add_option("TYPED", argument, "The context typed so far")->required();
    complete->callback([&] { rc = Complete(session, argument); });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? kUsSuccess : kUsUsage;
    }
    return rc;
}
