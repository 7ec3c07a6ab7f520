// The directory service: a domain's servers.
#pragma once

#include <vector>

#include "framework/OvString.h"

struct DomainServer {
    OvWString name;
    OvString ip;
};

class OvDirectoryServiceBase {
public:
    virtual ~OvDirectoryServiceBase();
    virtual OvDirectoryServiceBase* GetInterface() = 0;
    virtual unsigned GetServersForDomain(const OvWString& domain,
                                         std::vector<DomainServer>& servers) = 0;
};
