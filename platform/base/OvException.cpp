// The framework's exception base and the communication framework's exception.
#include "framework/OvException.h"

#include "services/OvCommException.h"

OvException::OvException(const std::string& message) : message_(message) {}

OvException::~OvException() = default;

const char* OvException::what() const noexcept { return message_.c_str(); }

OvCommException::OvCommException(const std::string& message, unsigned code)
    : OvException(message), code_(code)
{
}

OvCommException::~OvCommException() = default;
