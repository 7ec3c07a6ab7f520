// Checks a password against a stored userPassword value.
#pragma once

#include <string>
#include <string_view>

namespace ovdir {

// Stored forms: {SSHA}, {SHA}, {SSHA256}, {SHA256}, {SSHA512}, {SHA512},
// {CRYPT}, or clear text. The scheme name ignores case; an unknown scheme and
// an empty password never match.
bool PasswordMatches(std::string_view stored, const std::string& password);

}  // namespace ovdir
