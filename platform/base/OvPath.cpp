// Paths, taken as typed, and whether something exists at one.
#include "framework/OvPath.h"

#include <sys/stat.h>

OvPath::OvPath(const char* path) : path_(path != nullptr ? path : "") {}
OvPath::OvPath(const std::string& path) : path_(path) {}
OvPath::~OvPath() = default;

bool OvFileSystem::Exists(const OvPath& path)
{
    if (path.str().empty()) return false;
    struct stat info {};
    return ::stat(path.str().c_str(), &info) == 0;
}
