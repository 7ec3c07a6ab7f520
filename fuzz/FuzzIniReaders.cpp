// Fuzz target: the parameter file's text and integer readers, and the
// services' own reader of the same file, on the input written as a file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "config/IniFileSystem.h"
#include "config/IniReaders.h"
#include "config/OvServiceSettingsFile.h"
#include "framework/OvString.h"

namespace {

std::string ScratchFile()
{
    static const std::string path = [] {
        char pattern[] = "/tmp/ovfuzzXXXXXX";
        const int fd = ::mkstemp(pattern);
        if (fd >= 0) ::close(fd);
        return std::string(pattern);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CurrentIniFileSystem().retryWaitMilliseconds = 0;
    const std::string path = ScratchFile();
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        if (size > 0) std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    static const char* const kKeys[][2] = {
        {"PolicyServer", "PolicyServerIP"},
        {"PolicyServer", "PolicyServerPort"},
        {"UserService", "Directory"},
        {"UserService", "BindPassword"},
        {"S", "Key"},
        {"S", "#Key"},
    };
    for (const auto& key : kKeys) {
        std::string text;
        if (ReadIniString(path, key[0], key[1], text) && text != OvTrimLineBlanks(text))
            __builtin_trap();
        int number = 0;
        ReadIniInt(path.c_str(), key[0], key[1], number);
        char value[kIniValueSize] = {};
        if (ReadIniValue(path.c_str(), key[0], key[1], value) == 0 && value[kIniValueSize - 1] != 0)
            __builtin_trap();
        std::string setting;
        ReadServiceSettings(path).FindSetting(key[0], key[1], setting);
    }
    return 0;
}
