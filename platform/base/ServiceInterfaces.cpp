// Out-of-line destructors of the service interfaces, so each has one home for its vtable.
#include "services/OvDirectoryServiceBase.h"
#include "services/OvEventLogBase.h"
#include "services/OvTransIdServiceBase.h"
#include "services/OvUserServiceBase.h"

OvUserServiceBase::~OvUserServiceBase() = default;
OvTransIdServiceBase::~OvTransIdServiceBase() = default;
OvDirectoryServiceBase::~OvDirectoryServiceBase() = default;
OvEventLogBase::~OvEventLogBase() = default;

// A service without completion: nothing to offer, and it says so.
unsigned OvUserServiceBase::CompleteContext(const OvWString&, unsigned, unsigned,
                                            std::vector<OvWString>& words)
{
    words.clear();
    return 0x30A20007u;
}

// A service without whole entries: it says so as well.
unsigned OvUserServiceBase::GetEntry(const OvWString&, OvWString& dn,
                                     std::vector<OvEntryAttribute>& attributes)
{
    dn.clear();
    attributes.clear();
    return 0x30A20007u;
}
