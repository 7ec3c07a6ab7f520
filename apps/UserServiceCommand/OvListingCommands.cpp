// Commands that list what the directory holds: users, groups, domains,
// memberships, workstations, domain controllers and trusted domains.
#include <ostream>

#include "apps/UserServiceCommand/OvCommands.h"
#include "services/OvDirectoryServiceBase.h"

namespace {

using ListOperation = unsigned (OvUserServiceBase::*)(const OvWString&, std::vector<OvWString>&);

// What a listing command asks, the operation that answers, the heading of
// the list.
struct Listing {
    const char* prompt;
    OvAnswerKind kind;
    ListOperation operation;
    const char* heading;
};

const Listing kUsers = {
    "Context: DSType://<server> <fqdn>\n"
    "Example: LDAP://127.0.0.1 cn=users,dc=example,dc=com\n",
    OvAnswerKind::Context, &OvUserServiceBase::GetUsers, "Users:\n"};
const Listing kGroups = {
    "Context: DSType://<server> <fqdn>\n"
    "Example: LDAP://127.0.0.1 ou=Sales,dc=example,dc=com\n",
    OvAnswerKind::Context, &OvUserServiceBase::GetGroups, "Groups:\n"};
const Listing kDomains = {"Directory Service Type\nExample: LDAP\n", OvAnswerKind::Type,
                          &OvUserServiceBase::GetDomains, "Domains:\n"};
const Listing kUserGroups = {
    "Context: DSType://<server><user fqdn>\n"
    "Example: LDAP://127.0.0.1 ou=Sales,dc=example,dc=com/John Smith\n",
    OvAnswerKind::Context, &OvUserServiceBase::GetUserGroups, "Groups:\n"};
const Listing kGroupUsers = {
    "Context: DSType://<server> <group fqdn>\n"
    "Example: LDAP://127.0.0.1 cn=users,dc=example,dc=com/Sales Team\n",
    OvAnswerKind::Context, &OvUserServiceBase::GetUsersForGroup, "Users:\n"};
const Listing kWorkstations = {"Domain\nExample: EXAMPLE", OvAnswerKind::Domain,
                               &OvUserServiceBase::GetWorkstations, "Workstations:\n"};
const Listing kTrustedDomains = {
    "Domain: DSType://<server><domain>\n"
    "Example: LDAP://127.0.0.1 dc=example,dc=com",
    OvAnswerKind::Context, &OvUserServiceBase::GetTrustedDomains, "Trusted Domains:\n"};

// One answer, echoed, one call, the list under its heading.
void ListCommand(OvCommandContext& context, const Listing& listing)
{
    const std::string answer = LinePrompt(context, listing.prompt, listing.kind);
    std::vector<OvWString> entries;
    EchoCall(context, answer);
    const unsigned status =
        (UserService(context)->*listing.operation)(makeWideString(answer), entries);
    if (status != 0) return ReportError(context, status);
    PrintList(context, listing.heading, entries);
}

}  // namespace

void GetUsersCommand(OvCommandContext& context) { ListCommand(context, kUsers); }
void GetGroupsCommand(OvCommandContext& context) { ListCommand(context, kGroups); }
void GetDomainsCommand(OvCommandContext& context) { ListCommand(context, kDomains); }
void GetUserGroupsCommand(OvCommandContext& context) { ListCommand(context, kUserGroups); }
void GetUsersForGroupCommand(OvCommandContext& context) { ListCommand(context, kGroupUsers); }
void GetWorkstationsCommand(OvCommandContext& context) { ListCommand(context, kWorkstations); }
void GetTrustedDomainsCommand(OvCommandContext& context) { ListCommand(context, kTrustedDomains); }

void GetServersForDomainCommand(OvCommandContext& context)
{
    const std::string answer = LinePrompt(context,
                                          "Domain: DSType://<server> <domain>\n"
                                          "Example: LDAP://127.0.0.1 dc=example,dc=com\n",
                                          OvAnswerKind::Context);
    EchoCall(context, answer);
    // Made for this one call; the handle gives it back when the command ends.
    ProxyHandle<OvDirectoryServiceBase> directoryService(0);
    std::vector<DomainServer> servers;
    const unsigned status =
        directoryService.GetInterface()->GetServersForDomain(makeWideString(answer), servers);
    if (status != 0) return ReportError(context, status);
    std::ostream& out = context.io.Out();
    std::wostream& wideOut = context.io.WideOut();
    out << "servers:\n" << std::flush;
    // Names go through the wide stream, addresses through the narrow one;
    // each part is flushed before the next so the line stays in order. Both
    // come from the directory and are shown as OvPrintable shows them.
    for (DomainServer& server : servers) {
        OvWString name = makeWideString(OvPrintable(server.name.utf8()));
        wideOut << L"\tname:" << name << std::flush;
        out << " ip:" << OvPrintable(server.ip.str()) << "\n" << std::flush;
    }
}
