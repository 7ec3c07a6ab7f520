// Reader of LDIF content records (RFC 2849) into directory entries.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/services/Directory.h"

namespace ovdir {

struct LdifError {
    int line = 0;  // 1-based line where the fault stands
    std::string message;
};

// Reads a whole file: true and the entries, or false and the first fault.
// Change records, "attr:< URL" values and bad base64 are faults; attribute
// names come out lower case, options dropped.
// dnLines, when given, receives the line of each entry's dn:, and
// normalizedDns the normalised key of each entry's DN.
bool ReadLdif(std::string_view text, std::vector<Entry>& entries, LdifError& error,
              std::vector<int>* dnLines = nullptr,
              std::vector<std::string>* normalizedDns = nullptr);

// Standard base64; false for anything that is not.
bool DecodeBase64(std::string_view text, std::string& out);
std::string EncodeBase64(std::string_view bytes);

}  // namespace ovdir
