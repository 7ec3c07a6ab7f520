// The directory service: a domain's controllers, name and address.
#pragma once

#include "platform/directory/Directory.h"
#include "services/OvDirectoryServiceBase.h"

namespace ovdir {

class DirectoryService : public OvDirectoryServiceBase {
public:
    explicit DirectoryService(Directory& directory) : directory_(directory) {}

    OvDirectoryServiceBase* GetInterface() override { return this; }
    unsigned GetServersForDomain(const OvWString& domain,
                                 std::vector<DomainServer>& servers) override;

private:
    Directory& directory_;
};

}  // namespace ovdir
