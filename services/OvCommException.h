// The communication framework's exception: a message and a status code.
#pragma once

#include <string>

#include "framework/OvException.h"

// Status codes of proxy acquisition.
constexpr unsigned kOvNoFactoryFound = 0x309701F8u;
constexpr unsigned kOvFactoryFailed = 0x309701F9u;

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
