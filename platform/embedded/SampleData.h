// The sample directory and sample sessions compiled into the program, so the
// services answer out of the box from any working directory.
#pragma once

#include <string>

namespace ovdir {

std::string SampleDirectoryLdif();
std::string SampleSessions();

}  // namespace ovdir
