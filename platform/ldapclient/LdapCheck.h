// A check of the configured directory's servers, one at a time, as an
// administrator runs it after changing the settings: each server reached, its
// TLS verified, the service account accepted, the naming contexts read.
#pragma once

#include <string>
#include <vector>

#include "platform/directory/Directory.h"

namespace ovdir::ldap {

struct CheckVerdict {
    unsigned status = 0;  // 0, or the status of the step that failed
    std::string text;     // one line: the server and what was found
};

// One verdict for each server of the settings' Directory and Replicas, with
// their service account, TLS and time-outs; one failing verdict when the
// lists do not parse or the password file could not be read. A failure also writes the backend's
// error record (the TLS failure's reason among them).
std::vector<CheckVerdict> CheckServers(const DirectorySettings& settings);

}  // namespace ovdir::ldap
