// The recording application singleton of the platform tests.
#include "TestApplication.h"

#include <cstdio>

#include "framework/OvString.h"

void RecordingLogStream::WriteRecord()
{
    char head[64];
    std::snprintf(head, sizeof head, "0x%08X 0x%X ", GetCode(), GetModuleId());
    std::string record = head;
    record += GetLocation() ? GetLocation() : "";
    record += ":" + std::to_string(GetLine());
    std::vector<std::wstring> parameters;
    FormatParameters(parameters);
    for (const std::wstring& parameter : parameters) record += " " + makeString(parameter);
    records.push_back(record);
    Reset();
}

OvLogStream& TestApplication::GetErrorStream(unsigned code, unsigned moduleId, const char* location,
                                             int line, int severity)
{
    stream_.SetErrorData(code, moduleId, location, line, severity);
    return stream_;
}
