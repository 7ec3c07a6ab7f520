// The menu's twenty commands: one table read by the menu, the help, the
// dispatcher and the tests.
#pragma once

#include <cstddef>

#include "apps/UserServiceCommand/OvCommandSupport.h"

using OvCommandFunction = void (*)(OvCommandContext&);

struct OvCommandRow {
    const char* selection;  // what the user types
    const char* name;
    bool deprecated;  // marked so in the menu, not in the help
    const char* help;
    OvCommandFunction run;
};

constexpr std::size_t kOvCommandCount = 20;
extern const OvCommandRow kOvCommands[kOvCommandCount];

// Listing commands.
void GetUsersCommand(OvCommandContext& context);
void GetGroupsCommand(OvCommandContext& context);
void GetDomainsCommand(OvCommandContext& context);
void GetUserGroupsCommand(OvCommandContext& context);
void GetUsersForGroupCommand(OvCommandContext& context);
void GetWorkstationsCommand(OvCommandContext& context);
void GetServersForDomainCommand(OvCommandContext& context);
void GetTrustedDomainsCommand(OvCommandContext& context);

// Identity and authentication commands.
void GetUserCommand(OvCommandContext& context);
void GetFullUserNameCommand(OvCommandContext& context);
void GetQualifiedNameForUserCommand(OvCommandContext& context);
void TestUserAuthenticationCommand(OvCommandContext& context);
void GetUserLoginAndFullNameCommand(OvCommandContext& context);
void GetUserInfoFromNameCommand(OvCommandContext& context);
void GetUserInfoFromEmailCommand(OvCommandContext& context);
void GetUserEmailAddrCommand(OvCommandContext& context);

// Search commands.
void SearchUsersFromNameCommand(OvCommandContext& context);
void SearchGroupsFromNameCommand(OvCommandContext& context);
void SearchOrgUnitsFromNameCommand(OvCommandContext& context);
void GetDomainsSslCommand(OvCommandContext& context);
