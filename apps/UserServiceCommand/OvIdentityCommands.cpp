// Commands that translate between the ways a user is named (workstation
// address, FQDN, domain login, e-mail address, full name) and that test a
// user's credentials.
#include "apps/UserServiceCommand/OvCommands.h"
#include "services/OvTransIdServiceBase.h"

namespace {

constexpr const char* kUserFqdnPrompt =
    "User: DSType://<server><user fqdn>\n"
    "Example: LDAP://127.0.0.1 ou=Sales,dc=example,dc=com/John Smith";
constexpr const char* kDomainLoginExample = "Example: default://EXAMPLE\\jsmith\n";

using InfoOperation = unsigned (OvUserServiceBase::*)(const OvWString&, OvWString&, OvWString&,
                                                      OvWString&);

// Commands 14 and 15 print their three labels whatever the call returned.
void UserInfoCommand(OvCommandContext& context, const std::string& prompt, InfoOperation operation)
{
    const std::string answer = LinePrompt(context, prompt, OvAnswerKind::User);
    EchoCall(context, answer);
    OvWString fqdn;
    OvWString fullName;
    OvWString login;
    (UserService(context)->*operation)(makeWideString(answer), fqdn, fullName, login);
    PrintLine(context, "FQDN:\t\t" + OvPrintable(fqdn.utf8()));
    PrintLine(context, "Full Name:\t" + OvPrintable(fullName.utf8()));
    PrintLine(context, "Login Name:\t" + OvPrintable(login.utf8()));
}

}  // namespace

void GetUserCommand(OvCommandContext& context)
{
    PrintLine(context, "Enter the IP address of the client machine. ");
    const unsigned address = AddressPrompt(context);
    if (address == 0) return;
    // Made for this one call; the handle gives it back when the command ends.
    ProxyHandle<OvTransIdServiceBase> transIdService(0);
    OvWString user;
    const unsigned status = transIdService.GetInterface()->GetUser(address, user);
    if (status != 0) return ReportError(context, status);
    PrintLine(context, "User: " + OvPrintable(user.utf8()));
}

void GetFullUserNameCommand(OvCommandContext& context)
{
    const std::string answer = LinePrompt(context, kUserFqdnPrompt, OvAnswerKind::Context);
    OvWString fullName;
    const unsigned status = UserService(context)->GetFullUserName(makeWideString(answer), fullName);
    if (status != 0) return ReportError(context, status);
    PrintLine(context, "Full Username: " + OvPrintable(fullName.utf8()));
}

void GetQualifiedNameForUserCommand(OvCommandContext& context)
{
    const std::string answer =
        LinePrompt(context, std::string("User: default://<domain>\\<user>\n") + kDomainLoginExample,
                   OvAnswerKind::User);
    OvWString fqdn;
    const unsigned status =
        UserService(context)->GetQualifiedNameForUser(makeWideString(answer), fqdn);
    if (status != 0) return ReportError(context, status);
    PrintLine(context, "Qualified Name: " + OvPrintable(fqdn.utf8()));
}

void TestUserAuthenticationCommand(OvCommandContext& context)
{
    const std::string user =
        LinePrompt(context, "Username <username or domain\\username>", OvAnswerKind::User);
    std::string password = HiddenPrompt(context, "Password <domain password -hidden>");
    OvWString widePassword = makeWideString(password);
    OvWipe(password);
    OvWString fullName;
    bool authenticated = false;
    const unsigned status = UserService(context)->TestUserAuthentication(
        makeWideString(user), widePassword, fullName, authenticated);
    OvWipe(widePassword);
    if (status != 0) return ReportError(context, status);
    PrintLine(context, "Full Name: " + OvPrintable(fullName.utf8()));
    PrintLine(context, std::string("Was ") + (authenticated ? "" : "not ") + "authenticated.");
}

void GetUserLoginAndFullNameCommand(OvCommandContext& context)
{
    const std::string answer = LinePrompt(context,
                                          "User (DSType://<server><user fqdn\n"
                                          "Example: LDAP://127.0.0.1 ou=Sales,dc=example,dc=com/"
                                          "john smith\n"
                                          ")",
                                          OvAnswerKind::Context);
    OvWString fullName;
    OvWString login;
    const unsigned status =
        UserService(context)->GetUserLoginAndFullName(makeWideString(answer), fullName, login);
    if (status != 0) return ReportError(context, status);
    PrintLine(context, "Full Username: " + OvPrintable(fullName.utf8()));
    PrintLine(context, "Login Name: " + OvPrintable(login.utf8()));
}

void GetUserInfoFromNameCommand(OvCommandContext& context)
{
    UserInfoCommand(context, std::string("User default://<domain>\\<user>\n") + kDomainLoginExample,
                    &OvUserServiceBase::GetUserInfoFromName);
}

void GetUserInfoFromEmailCommand(OvCommandContext& context)
{
    UserInfoCommand(context, "User (jsmith@example.com)", &OvUserServiceBase::GetUserInfoFromEmail);
}

void GetUserEmailAddrCommand(OvCommandContext& context)
{
    const std::string answer = LinePrompt(context, kUserFqdnPrompt, OvAnswerKind::Context);
    EchoCall(context, answer);
    OvWString email;
    const unsigned status = UserService(context)->GetUserEmailAddr(makeWideString(answer), email);
    if (status != 0) return ReportError(context, status);
    PrintLine(context, "Email:\t\t" + OvPrintable(email.utf8()));
}
