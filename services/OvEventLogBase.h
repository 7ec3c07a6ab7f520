// The event log: the text of a status code.
#pragma once

#include "framework/OvString.h"

class OvEventLogBase {
public:
    virtual ~OvEventLogBase();
    virtual OvEventLogBase* GetInterface() = 0;
    virtual unsigned GetErrorMessage(const unsigned int& code, OvWString& message) = 0;
};
