// The event log: the text of every status the services return.
#pragma once

#include <string>

#include "services/OvEventLogBase.h"

namespace ovdir {

class EventLog : public OvEventLogBase {
public:
    OvEventLogBase* GetInterface() override { return this; }
    unsigned GetErrorMessage(const unsigned int& code, OvWString& message) override;

    // The catalog's text; "Unknown error 0x...." for a code it does not hold.
    static std::string Text(unsigned code);
};

}  // namespace ovdir
