// The few settings of the parameter file that the services read themselves.
#pragma once

#include <string>

namespace ovdir {

// The value of key in [section] of the file: blanks around it dropped; section
// and key names ignore case. False when the file, section or key is missing.
bool ReadIniSetting(const std::string& file, const std::string& section, const std::string& key,
                    std::string& value);

// The parameter file of the current directory.
extern const char* const kParameterFile;

}  // namespace ovdir
