// The communication framework's exception: a message and a status code.
#pragma once

#include <string>

#include "framework/OvException.h"

// Status codes of proxy acquisition.
constexpr unsigned kOvNoFactoryFound = 0x309701F8u;
constexpr unsigned kOvFactoryFailed = 0x309701F9u;
// Status codes of calls that the framework carries to a service elsewhere.
constexpr unsigned kOvServiceUnreachable = 0x309701FAu;  // no connection, or it was lost
constexpr unsigned kOvServiceTimeout = 0x309701FBu;      // no answer within the method time-out
constexpr unsigned kOvServiceBusy = 0x309701FCu;         // the service refused for lack of room
constexpr unsigned kOvServiceRefused = 0x309701FDu;      // any other failure of the call

class OvCommException : public OvException {
public:
    OvCommException(const std::string& message, unsigned code);
    OvCommException(const OvCommException&) = default;
    OvCommException& operator=(const OvCommException&) = default;
    ~OvCommException() override;

    unsigned GetCode() const { return code_; }

private:
    unsigned code_;
};
