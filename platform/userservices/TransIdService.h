// The trans-id service: who is logged on at a workstation address, from the
// sessions file or the built-in sample sessions.
#pragma once

#include <string>
#include <utility>

#include "services/OvTransIdServiceBase.h"

namespace ovdir {

class TransIdService : public OvTransIdServiceBase {
public:
    // sessionsFile empty: the built-in sample sessions.
    explicit TransIdService(std::string sessionsFile) : sessionsFile_(std::move(sessionsFile)) {}

    OvTransIdServiceBase* GetInterface() override { return this; }
    unsigned GetUser(const unsigned int& address, OvWString& user) override;

    // The user of the first line for the address (in network byte order) in
    // sessions text: 0 and the user, or kStatusNoSession.
    static unsigned FindSession(const std::string& sessions, unsigned address, std::string& user);

private:
    std::string sessionsFile_;
};

}  // namespace ovdir
