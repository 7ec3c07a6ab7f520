// Readers of one key of one section of the parameter file, and the blank trimmers they share.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Read statuses of both readers.
constexpr unsigned kIniFileMissing = 0x300;  // missing, or cannot be opened, locked or read
constexpr unsigned kIniSectionMissing = 0x301;
constexpr unsigned kIniKeyMissing = 0x302;

// Room for a value of the byte reader, terminator included; longer values are cut.
constexpr std::size_t kIniValueSize = 512;

// The text reader: true and the value (blanks trimmed, possibly empty) when
// the key is found; false otherwise, with the reason in GetLastIniReadStatus().
// Lines whose first non-blank character is '#' are comments.
bool ReadIniString(const std::string& fileName, const std::string& section, const std::string& key,
                   std::string& value);

// The status of the text reader's last failed read (0 before any failure);
// a successful read leaves it as it was.
unsigned GetLastIniReadStatus();

// The byte reader: the read status; on 0, `value` (at least kIniValueSize
// bytes) holds the value text. Only a '[' in the first column starts a header.
int ReadIniValue(const char* fileName, const char* section, const char* key, char* value);

// The integer reader: the read status; on 0, the leading decimal number of the
// value (0 when there is none; saturated at the limits of int).
int ReadIniInt(const char* fileName, const char* section, const char* key, int& value);

// Without the line blanks " \t\r\n" at both ends (as OvTrimLineBlanks), on a
// zero-terminated text in its own buffer.
void TrimLineBlanksInPlace(char* text);
