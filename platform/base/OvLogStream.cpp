// The log stream base: one record's data and parameters, completed by `ends`.
#include <string>
#include <vector>

#include "framework/OvApplication.h"
#include "framework/OvString.h"

OvLogStream::OvLogStream() = default;

OvLogStream::~OvLogStream() = default;

void OvLogStream::AddValue(ELogStreamTypes type, const std::string& value)
{
    values_.emplace_back(type, value);
}

void OvLogStream::SetErrorData(unsigned code, unsigned moduleId, const char* location, int line,
                               int severity)
{
    code_ = code;
    moduleId_ = moduleId;
    location_ = location;
    line_ = line;
    severity_ = severity;
}

void OvLogStream::Reset()
{
    code_ = 0;
    moduleId_ = 0;
    location_ = nullptr;
    line_ = 0;
    severity_ = -1;
    values_.clear();
}

void OvLogStream::FormatParameters(std::vector<std::wstring>& out, const char* format)
{
    for (const auto& value : values_) {
        std::wstring text;
        switch (value.first) {
            case eLogDateTime:
                FormatDateTime(value.second, text, format);
                break;
            case eLogDate:
                FormatDate(value.second, text, format);
                break;
            case eLogTime:
                FormatTime(value.second, text, format);
                break;
            case eLogString:
            case eLogWideString:
            case eLogNumber:
                // Every value is kept as UTF-8 text, wide ones included.
                text = OvWideFromUtf8(value.second);
                break;
        }
        out.push_back(text);
    }
}

void OvLogStream::FormatParameters(std::vector<std::wstring>& out)
{
    FormatParameters(out, nullptr);
}

OvLogStream& OvLogStream::operator<<(OvLogStream& (*manipulator)(OvLogStream&))
{
    return manipulator(*this);
}

OvLogStream& OvLogStream::operator<<(const std::string& value)
{
    AddValue(eLogString, value);
    return *this;
}

// Dates and times are recorded already formatted; the format is not applied.
void OvLogStream::FormatDateTime(const std::string& value, std::wstring& out, const char*)
{
    out = OvWideFromUtf8(value);
}

void OvLogStream::FormatDate(const std::string& value, std::wstring& out, const char*)
{
    out = OvWideFromUtf8(value);
}

void OvLogStream::FormatTime(const std::string& value, std::wstring& out, const char*)
{
    out = OvWideFromUtf8(value);
}

OvLogStream& ends(OvLogStream& stream)
{
    stream.WriteRecord();
    return stream;
}
