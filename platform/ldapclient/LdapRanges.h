// Attribute values in parts: Active Directory answers an attribute with more
// values than it gives at once (1,500 members of a group) under a range
// option, "member;range=0-1499", and the rest only when asked for by range,
// "member;range=1500-*", until the part whose range ends in "*".
#pragma once

#include <string>
#include <string_view>

namespace ovdir::ldap {

struct ValueRange {
    std::string attribute;  // the description without its range option
    unsigned long low = 0;
    unsigned long high = 0;  // when not last
    bool last = false;       // the range ends in "*": no values follow
};

// Whether description ("member;range=0-1499", options and case as the
// server sent them) carries a range option; range receives its parts. A
// malformed range (no digits, high below low) is no range.
bool ParseValueRange(std::string_view description, ValueRange& range);

// The description that asks for the values from low on: "member;range=1500-*".
std::string RangeFrom(const std::string& attribute, unsigned long low);

}  // namespace ovdir::ldap
