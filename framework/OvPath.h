// Paths and file existence.
#pragma once

#include <string>

class OvPath {
public:
    // The text is taken as it is: a relative path stays relative to the
    // process's current directory.
    explicit OvPath(const char* path);
    explicit OvPath(const std::string& path);
    OvPath(const OvPath&) = default;
    OvPath& operator=(const OvPath&) = default;
    virtual ~OvPath();

    const std::string& str() const { return path_; }

private:
    std::string path_;
};

class OvFileSystem {
public:
    static bool Exists(const OvPath& path);
};
