// Searches for users, groups and org. units by name, and the domain search
// with explicit credentials.
#include "apps/UserServiceCommand/OvCommands.h"

namespace {

using SearchOperation = unsigned (OvUserServiceBase::*)(const OvWString&, const OvWString&, bool&,
                                                        std::vector<OvWString>&);

void SearchCommand(OvCommandContext& context, const char* contextPrompt, const char* namePrompt,
                   SearchOperation operation, const char* heading)
{
    const std::string searchContext = LinePrompt(context, contextPrompt, OvAnswerKind::Context);
    const std::string name = LinePrompt(context, namePrompt, OvAnswerKind::Name);
    bool exactMatch = FlagPrompt(context, "exactMatch(0|1)");
    std::vector<OvWString> entries;
    EchoCall(context,
             searchContext + " and " + name + " exactMatch " + (exactMatch ? " true " : " false "));
    const unsigned status = (UserService(context)->*operation)(
        makeWideString(searchContext), makeWideString(name), exactMatch, entries);
    if (status != 0) return ReportError(context, status);
    PrintList(context, heading, entries);
}

}  // namespace

void SearchUsersFromNameCommand(OvCommandContext& context)
{
    SearchCommand(context,
                  "Context: DSType://<server><user context>\n"
                  "Example: LDAP://127.0.0.1 ou=Sales,dc=example,dc=com\n",
                  "Username", &OvUserServiceBase::SearchUsersFromName, "Users:\n");
}

void SearchGroupsFromNameCommand(OvCommandContext& context)
{
    SearchCommand(context,
                  "Context: DSType://<server><group context>\n"
                  "Example: LDAP://127.0.0.1 CN=Users,DC=example,DC=com\n",
                  "Group name", &OvUserServiceBase::SearchGroupsFromName, "Groups:\n");
}

void SearchOrgUnitsFromNameCommand(OvCommandContext& context)
{
    SearchCommand(context,
                  "Context: DSType://<server><OU context>\n"
                  "Example: LDAP://127.0.0.1 dc=example,dc=com\n",
                  "Org. Unit", &OvUserServiceBase::SearchOrgUnitsFromName, "Org. Units:\n");
}

void GetDomainsSslCommand(OvCommandContext& context)
{
    const std::string server = LinePrompt(context,
                                          "DSType://<Server:port><domain>\n"
                                          " Example LDAP://127.0.0.1:3268 dc=example,dc=com",
                                          OvAnswerKind::Context);
    const std::string user =
        LinePrompt(context, "Username(Example: cn=Administrator,cn=Users,dc=example,dc=com)",
                   OvAnswerKind::User);
    std::string typedPassword = HiddenPrompt(context, "Password <domain password -hidden>");
    const std::string type = LinePrompt(context, "Type [NDS,iPlanet,ADS]", OvAnswerKind::Type);
    bool sslEnable = FlagPrompt(context, "sslEnable(0|1)");
    std::vector<OvWString> domains;
    EchoCall(context, server);
    int limit = 100;
    int searchStatus = kDomainSearchUnknownFailure;
    unsigned status = 0;
    {
        // The password lives for the call alone.
        OvWString widePassword = makeWideString(typedPassword);
        OvWipe(typedPassword);
        OvWIFFLEPassword password(widePassword, false);
        OvWipe(widePassword);
        status = UserService(context)->GetDomainsSsl(makeWideString(server), makeWideString(user),
                                                     password, makeWideString(type), limit,
                                                     sslEnable, domains, searchStatus);
    }
    if (status != 0) return ReportError(context, status);
    context.io.Out() << "Status:\t" << DomainSearchStatusText(searchStatus);
    PrintList(context, "\n\nDomains:\n", domains);
}
