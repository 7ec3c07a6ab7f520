// The subcommands' work, one function each: the call to the service, the
// answer printed in the format asked for, and the exit status (UsExit).
#pragma once

#include <string>
#include <vector>

#include "apps/userservice/UsSession.h"

using UsListOperation = unsigned (OvUserServiceBase::*)(const OvWString&, std::vector<OvWString>&);
using UsInfoOperation = unsigned (OvUserServiceBase::*)(const OvWString&, OvWString&, OvWString&,
                                                        OvWString&);

// A listing of names; exit status 1 when it is empty.
int UsList(UsSession& session, const std::string& command, const std::string& input,
           UsListOperation operation);
// kind: users, groups or ous.
int UsSearch(UsSession& session, const std::string& kind, const std::string& context,
             const std::string& text, bool exact);
int UsServers(UsSession& session, const std::string& domain);
int UsLoggedOn(UsSession& session, const std::string& host);
int UsFullName(UsSession& session, const std::string& user);
// login: DOMAIN\login, or default://DOMAIN\login as the console takes it.
int UsFqdn(UsSession& session, const std::string& login);
int UsLogin(UsSession& session, const std::string& user);
int UsUserInfo(UsSession& session, const std::string& login);
// The FQDN, full name and login an operation finds for input.
int UsInfo(UsSession& session, const std::string& command, const std::string& input,
           UsInfoOperation operation);
int UsEmail(UsSession& session, const std::string& user);
// Whether the password read (UsSession::ReadPassword) is accepted; status 1
// when it is not.
int UsAuthenticate(UsSession& session, const std::string& login);

struct UsExplicitDomainArguments {
    std::string server;
    std::string user;
    std::string type = "LDAP";
    bool tls = false;
    int limit = 100;
};
int UsExplicitDomains(UsSession& session, const UsExplicitDomainArguments& arguments);
int UsShow(UsSession& session, const std::string& name);
// What may continue a context typed so far: the whole text of each
// candidate, one a line, as the console's Tab finds them.
int UsComplete(UsSession& session, const std::string& typed);
