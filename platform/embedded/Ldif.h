// Reader of LDIF content records (RFC 2849) into directory entries.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/directory/Directory.h"

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

// Each record as it is read: the entry (which the handler may take over),
// the line of its dn: and the normalised key of its DN.
using LdifRecordHandler = std::function<void(Entry& entry, int dnLine, std::string&& key)>;

// Reads a whole file record by record, handing each to take as soon as it is
// complete, so that a caller keeps only the form it wants; true, or false and
// the first fault (the records handed before it are then no directory).
bool ReadLdifEach(std::string_view text, const LdifRecordHandler& take, LdifError& error);

// Standard base64; false for anything that is not.
bool DecodeBase64(std::string_view text, std::string& out);
std::string EncodeBase64(std::string_view bytes);

}  // namespace ovdir
