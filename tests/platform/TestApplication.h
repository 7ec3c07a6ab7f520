// An application singleton for tests whose error stream keeps each record as
// one line of text, "CODE MODULE LOCATION:LINE message".
#pragma once

#include <string>
#include <vector>

#include "framework/OvApplication.h"

class RecordingLogStream : public OvLogStream {
public:
    void WriteRecord() override;
    std::vector<std::string> records;
};

class TestApplication : public OvApplication {
public:
    TestApplication() : OvApplication(L"platform_tests") {}
    int Run() override { return 0; }
    void Shutdown() override {}
    OvLogStream& GetErrorStream(unsigned code, unsigned moduleId, const char* location, int line,
                                int severity) override;

    const std::vector<std::string>& Records() const { return stream_.records; }

private:
    RecordingLogStream stream_;
};
