// userservice's command line, parsed by CLI11: the options every subcommand
// takes and one subcommand for each operation of the user service. Each
// subcommand's callback hands its arguments to its function (UsCommands.h).
#include <string>

#include <CLI/CLI.hpp>

#include "apps/userservice/UsCheck.h"
#include "apps/userservice/UsCommands.h"

#ifndef OV_VERSION
#define OV_VERSION "unknown"
#endif

namespace {

constexpr const char* kDescription =
    "Ask the directory user service: users, groups, domains, logins, names, passwords, "
    "searches.\nThe settings come from --config FILE, else ./orvane.ini, else "
    "$XDG_CONFIG_HOME/userservicecommand/orvane.ini, else /etc/userservicecommand/orvane.ini; "
    "without any, the built-in sample directory answers.";
constexpr const char* kExitStatuses =
    "Exit status: 0 success; 1 nothing found or not authenticated; 2 usage error; 3 directory "
    "unreachable, time-out or TLS failure; 4 credentials refused; 5 any other failure. See "
    "userservice(1).";
constexpr const char* kFqdn = "TYPE://SERVER DN/NAME";
constexpr const char* kContext = "TYPE://SERVER DN";
constexpr const char* kDomainLogin = "DOMAIN\\login or default://DOMAIN\\login";

class UsCommandLine {
public:
    UsCommandLine() : app_(kDescription, "userservice"), session_(options_) {}

    int Run(int argc, char** argv)
    {
        AddOptions();
        AddListings();
        AddLookups();
        AddSearches();
        AddSettings();
        try {
            app_.parse(argc, argv);
        } catch (const CLI::ParseError& error) {
            return app_.exit(error) == 0 ? kUsSuccess : kUsUsage;
        }
        return rc_;
    }

private:
    // A subcommand of one argument, whose function run takes the session
    // and that argument.
    template <class Run>
    CLI::App* One(const char* name, const char* description, const char* argument, const char* form,
                  Run run)
    {
        CLI::App* command = app_.add_subcommand(name, description);
        command->add_option(argument, argument_, form)->required();
        command->callback([this, run] { rc_ = run(session_, argument_); });
        return command;
    }

    void List(const char* name, const char* argument, const char* form, const char* description,
              UsListOperation operation)
    {
        One(name, description, argument, form,
            [name, operation](UsSession& session, const std::string& value) {
                return UsList(session, name, value, operation);
            });
    }

    void AddOptions()
    {
        app_.set_version_flag("--version", std::string("userservice " OV_VERSION));
        app_.require_subcommand(1);
        app_.footer(kExitStatuses);
        app_.fallthrough();
        app_.add_option("--config", options_.config, "The parameter file (orvane.ini) to use")
            ->check(CLI::ExistingFile);
        app_.add_option("-f,--format", options_.format, "Output: text (one item a line), json, dn")
            ->check(CLI::IsMember({"text", "json", "dn"}));
        app_.add_option("--password-file", options_.passwordFile,
                        "Read the password from this file (a regular file, the password alone)");
        app_.add_flag("--password-stdin", options_.passwordStdin,
                      "Read the password from the first line of standard input");
    }

    void AddListings()
    {
        List("users", "CONTEXT", kContext, "The users in a context and below it",
             &OvUserServiceBase::GetUsers);
        List("groups", "CONTEXT", kContext, "The groups in a context and below it",
             &OvUserServiceBase::GetGroups);
        List("domains", "TYPE", "LDAP, ADS, NDS or IPLANET", "The domains of the directory",
             &OvUserServiceBase::GetDomains);
        List("user-groups", "USER", kFqdn, "The groups of a user",
             &OvUserServiceBase::GetUserGroups);
        List("members", "GROUP", kFqdn, "The user members of a group",
             &OvUserServiceBase::GetUsersForGroup);
        List("workstations", "DOMAIN", "EXAMPLE", "The workstations of a domain",
             &OvUserServiceBase::GetWorkstations);
        List("trusts", "DOMAIN", kContext, "The trusted domains of a domain",
             &OvUserServiceBase::GetTrustedDomains);
        One("servers", "The domain controllers of a domain", "DOMAIN", kContext, UsServers);
    }

    void AddLookups()
    {
        One("logged-on", "The user logged on at a workstation", "ADDRESS",
            "An IPv4 address or host name", UsLoggedOn);
        One("full-name", "The full name of a user", "USER", kFqdn, UsFullName);
        One("fqdn", "The FQDN of a domain login", "LOGIN", kDomainLogin, UsFqdn);
        One("login", "The login and full name of a user", "USER", kFqdn, UsLogin);
        One("user-info", "The FQDN, full name and login of a domain login", "LOGIN", kDomainLogin,
            UsUserInfo);
        One("user-by-email", "The FQDN, full name and login of an e-mail address", "EMAIL",
            "jsmith@example.com", [](UsSession& session, const std::string& email) {
                return UsInfo(session, "user-by-email", email,
                              &OvUserServiceBase::GetUserInfoFromEmail);
            });
        One("email", "The e-mail address of a user", "USER", kFqdn, UsEmail);
        One("auth", "Whether a password is accepted for a login (exit status 1 when not)", "LOGIN",
            "login or DOMAIN\\login", UsAuthenticate);
        One("show", "The whole entry of a user or group: every attribute, secrets left out", "NAME",
            "TYPE://SERVER DN/NAME, login or DOMAIN\\login", UsShow);
    }

    void AddSearches()
    {
        CLI::App* search = app_.add_subcommand("search", "Users, groups or org. units by name");
        search->add_option("KIND", searchKind_, "users, groups or ous")
            ->required()
            ->check(CLI::IsMember({"users", "groups", "ous"}));
        search->add_option("CONTEXT", argument_, kContext)->required();
        search->add_option("TEXT", searchText_, "What the name holds")->required();
        search->add_flag("--exact", exact_, "The whole name, not a part of it");
        search->callback(
            [this] { rc_ = UsSearch(session_, searchKind_, argument_, searchText_, exact_); });

        CLI::App* domains = app_.add_subcommand(
            "explicit-domains", "The domains of a server, bound with the credentials given");
        domains->add_option("SERVER", explicit_.server, "TYPE://SERVER[:PORT] DN")->required();
        domains->add_option("BIND-DN", explicit_.user, "The DN to bind as")->required();
        domains->add_option("--type", explicit_.type, "NDS, iPlanet or ADS");
        domains->add_flag("--tls", explicit_.tls, "Over TLS");
        domains->add_option("--limit", explicit_.limit, "At most this many domains");
        domains->callback([this] { rc_ = UsExplicitDomains(session_, explicit_); });
    }

    void AddSettings()
    {
        app_.add_subcommand("config", "The parameter file in use and its settings")
            ->callback([this] { rc_ = UsPrintConfig(session_.ConfigFile(), std::cout); });
        app_.add_subcommand("check", "Try each configured directory server; one verdict a line")
            ->callback([this] { rc_ = UsCheck(session_, std::cout); });
        // For the shell's completion, not in the help.
        One("complete", "Completion of a context from the directory", "TYPED",
            "The context typed so far", UsComplete)
            ->group("");
    }

    CLI::App app_;
    UsOptions options_;
    UsSession session_;
    int rc_ = kUsSuccess;
    // Only one subcommand runs: they share their arguments' places.
    std::string argument_;
    std::string searchKind_;
    std::string searchText_;
    bool exact_ = false;
    UsExplicitDomainArguments explicit_;
};

}  // namespace

int UsRun(int argc, char** argv)
{
    UsCommandLine commandLine;
    return commandLine.Run(argc, argv);
}
