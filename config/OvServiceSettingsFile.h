// The services' sections of the parameter file, read once for the services.
#pragma once

#include <string>

#include "services/OvServiceSettings.h"

// Every key of every section of the file, in one bounded read of it: lines
// "[Section]" and "key = value", blanks around names and values dropped,
// lines beginning with '#' or ';' ignored, the first value of a key counting.
// A file that is missing or that the readers do not take (not a regular file,
// larger than the parameter file's limit) gives no settings, and the reason in
// unreadReason unless the file is missing or a folder. What was read is
// wiped once parsed: the file may hold a password.
OvServiceSettings ReadServiceSettings(const std::string& file);
