// The services' settings, read from the services' sections of the parameter
// file through one table of keys: each key's section, how its value is
// parsed, and where it goes.
#pragma once

#include <string>

#include "platform/directory/Directory.h"
#include "services/OvServiceSettings.h"

namespace ovdir {

struct ServiceConfiguration {
    // [UserService]: the directory the user and directory services answer
    // from, and its limits.
    DirectorySettings directory;
    // [TransIdService] Sessions: the sessions file; empty: the built-in sample.
    std::string sessionsFile;
};

// Every key of the table that the settings hold. Settings that are taken but
// unsafe, values that are not taken, and a parameter file that other users
// may write or that was not read each write one warning record. The
// service account's password is copied into the directory's settings alone.
ServiceConfiguration ReadServiceConfiguration(const OvServiceSettings& ini);

// A limit's value (MaxEntries, MaxGroupSearches): a decimal number from 1 to
// 999,999,999,999. False for anything else, limit untouched.
bool ParseLimit(const std::string& text, std::size_t& limit);

}  // namespace ovdir
