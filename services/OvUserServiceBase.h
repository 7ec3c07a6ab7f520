// The user service: users, groups, domains, names, authentication, searches.
#pragma once

#include <string>
#include <vector>

#include "framework/OvString.h"
#include "services/OvCommFramework.h"

// Outcome of GetDomainsSsl besides its status.
enum DomainSearchStatus : int {
    kDomainSearchSuccess = 0,
    kDomainSearchUnknownFailure = 1,
    kDomainSearchConnectionFailed = 2,
    kDomainSearchFailed = 3,
    kDomainSearchInvalidCredentials = 5,
    kDomainSearchSslFailed = 6,
};

// One attribute of a directory entry as GetEntry answers it: the name in
// lower case, the values as the directory holds them (binary ones too).
struct OvEntryAttribute {
    std::string name;
    std::vector<std::string> values;
};

class OvUserServiceBase {
public:
    virtual ~OvUserServiceBase();
    virtual OvUserServiceBase* GetInterface() = 0;

    virtual unsigned GetUsers(const OvWString& context, std::vector<OvWString>& users) = 0;
    virtual unsigned GetGroups(const OvWString& context, std::vector<OvWString>& groups) = 0;
    virtual unsigned GetDomains(const OvWString& type, std::vector<OvWString>& domains) = 0;
    virtual unsigned GetTrustedDomains(const OvWString& domain,
                                       std::vector<OvWString>& trusted) = 0;
    virtual unsigned GetUserGroups(const OvWString& user, std::vector<OvWString>& groups) = 0;
    virtual unsigned GetUsersForGroup(const OvWString& group, std::vector<OvWString>& users) = 0;
    virtual unsigned GetFullUserName(const OvWString& user, OvWString& fullName) = 0;
    virtual unsigned GetQualifiedNameForUser(const OvWString& login, OvWString& fqdn) = 0;
    virtual unsigned TestUserAuthentication(const OvWString& user, const OvWString& password,
                                            OvWString& fullName, bool& authenticated) = 0;
    virtual unsigned GetDomainsSsl(const OvWString& serverContext, const OvWString& userName,
                                   OvWIFFLEPassword& password, const OvWString& type, int& limit,
                                   bool& sslEnable, std::vector<OvWString>& domains,
                                   int& searchStatus) = 0;
    virtual unsigned GetWorkstations(const OvWString& domain,
                                     std::vector<OvWString>& workstations) = 0;
    virtual unsigned GetUserLoginAndFullName(const OvWString& user, OvWString& fullName,
                                             OvWString& login) = 0;
    virtual unsigned GetUserInfoFromName(const OvWString& login, OvWString& fqdn,
                                         OvWString& fullName, OvWString& loginName) = 0;
    virtual unsigned GetUserInfoFromEmail(const OvWString& email, OvWString& fqdn,
                                          OvWString& fullName, OvWString& loginName) = 0;
    virtual unsigned GetUserEmailAddr(const OvWString& user, OvWString& email) = 0;
    virtual unsigned SearchGroupsFromName(const OvWString& context, const OvWString& name,
                                          bool& exactMatch, std::vector<OvWString>& groups) = 0;
    virtual unsigned SearchUsersFromName(const OvWString& context, const OvWString& name,
                                         bool& exactMatch, std::vector<OvWString>& users) = 0;
    virtual unsigned SearchOrgUnitsFromName(const OvWString& context, const OvWString& name,
                                            bool& exactMatch, std::vector<OvWString>& units) = 0;

    // What may continue a context typed so far ("TYPE://SERVER " and the
    // start of a DN), for completion at a console: the DNs of the containers
    // on that server that begin with the text after the server, or, when that
    // text holds a "/", the names of the users and groups directly in the
    // container before the last "/" that begin with the text after it.
    // At most `limit` words, sorted; the directory is given at most
    // `milliseconds` in all. A service that offers no completion answers a
    // non-zero status, as does one whose directory failed or took too long.
    virtual unsigned CompleteContext(const OvWString& typed, unsigned limit, unsigned milliseconds,
                                     std::vector<OvWString>& words);

    // The whole entry of a user or group: its DN and every attribute the
    // directory lets the service account read, secrets (passwords and their
    // hashes) left out. name is an FQDN as the listings print it, a login,
    // DOMAIN\login or default://DOMAIN\login. A service that offers no such
    // look-up answers a non-zero status.
    virtual unsigned GetEntry(const OvWString& name, OvWString& dn,
                              std::vector<OvEntryAttribute>& attributes);
};
