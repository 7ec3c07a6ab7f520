// Shared fixtures of the parameter-file tests: a temporary folder with files,
// a recording application singleton, and a replaceable system-call seam.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "config/IniFileSystem.h"
#include "framework/OvApplication.h"

namespace configtest {

// A fresh folder per test, removed with everything in it afterwards.
class TempFolder {
public:
    TempFolder()
    {
        char pattern[] = "/tmp/ovconfigXXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempFolder()
    {
        const std::string command = "rm -rf '" + path_ + "'";
        if (std::system(command.c_str()) != 0) std::perror("rm");
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string Write(const std::string& name, const std::string& content) const
    {
        const std::string file = path_ + "/" + name;
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes each record as the console does, one line per record.
class RecordingStream : public OvLogStream {
public:
    void WriteRecord() override
    {
        std::ostringstream line;
        line << "Error: Code=" << std::hex << "0x" << GetCode() << " ModuleId=0x" << GetModuleId();
        if (GetSeverity() != -1) line << " Severity=0x" << GetSeverity();
        line << std::dec;
        if (GetLocation() != nullptr && *GetLocation() != '\0') {
            line << " Location=" << GetLocation();
            if (GetLine() > 0) line << ':' << GetLine();
        }
        line << '\n';
        records += line.str();
    }
    std::string records;
};

class RecordingApplication : public OvApplication {
public:
    RecordingApplication() : OvApplication(L"ConfigTest") {}
    int Run() override { return 0; }
    void Shutdown() override {}
    OvLogStream& GetErrorStream(unsigned code, unsigned moduleId, const char* location, int line,
                                int severity) override
    {
        stream_.Reset();
        stream_.SetErrorData(code, moduleId, location, line, severity);
        return stream_;
    }
    const std::string& Records() const { return stream_.records; }

private:
    RecordingStream stream_;
};

// Counts the waits of the readers; the real pause is the shortened one.
struct WaitLog {
    static int& Count()
    {
        static int count = 0;
        return count;
    }
    static void Sleep(unsigned milliseconds)
    {
        ++Count();
        ::usleep(milliseconds * 1000);
    }
};

// Replacement system calls for the seam: a close that counts, a read that fails.
inline int& CloseCount()
{
    static int count = 0;
    return count;
}
inline int CountingClose(int fd)
{
    ++CloseCount();
    return DefaultIniFileSystem().close(fd);
}
inline ssize_t FailingRead(int, void*, std::size_t)
{
    errno = EIO;
    return -1;
}

// Puts the readers' system calls back as they were when the test ends, and
// makes their waits short and counted meanwhile.
class SeamGuard {
public:
    explicit SeamGuard(unsigned waitMilliseconds = 1) : saved_(CurrentIniFileSystem())
    {
        CurrentIniFileSystem().sleep = WaitLog::Sleep;
        CurrentIniFileSystem().retryWaitMilliseconds = waitMilliseconds;
        WaitLog::Count() = 0;
    }
    ~SeamGuard() { CurrentIniFileSystem() = saved_; }
    SeamGuard(const SeamGuard&) = delete;
    SeamGuard& operator=(const SeamGuard&) = delete;

private:
    IniFileSystem saved_;
};

}  // namespace configtest
