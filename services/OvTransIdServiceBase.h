// The trans-id service: the user logged on at a workstation address.
#pragma once

#include "framework/OvString.h"

class OvTransIdServiceBase {
public:
    virtual ~OvTransIdServiceBase();
    virtual OvTransIdServiceBase* GetInterface() = 0;
    // address: as OvInetAddress::GetIpAddress gives it.
    virtual unsigned GetUser(const unsigned int& address, OvWString& user) = 0;
};
